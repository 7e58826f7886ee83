// libFuzzer target: the backup-file reader as the update and the recovery use it, on the simulated DC, and
// the restore of whatever it accepts. Input: byte 0 picks the memory size of the firmware file (512, 1024,
// the next two bytes, or 1) and, with bit 2, a file length from the next three bytes; then patches (offset: 3
// bytes, length: 1 byte, the bytes) onto a sound backup of the DC.
#include <QCoreApplication>
#include <cstdlib>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/profile_range.h"
#include "profile/restore.h"

namespace {
UpdateFixture* fixture = nullptr;
QByteArray sound;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    new QCoreApplication(*argc, *argv);
    fixture = new UpdateFixture(ProfileDc(300, 700, 3));
    sound = ExpectedBackupFile(fixture->sim.Device().Memory(), 512);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    const auto next = [&](int bytes) {
        int v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v * 256 + (at < size ? data[at++] : 0);
        return v;
    };
    const int mode = next(1);
    const int memory = std::array{512, 1024, std::max(1, next(2)), 1}[std::size_t(mode & 3)];
    QByteArray file = sound;
    if (mode & 4)
        file.resize(next(3) % (sound.size() + 2));
    while (at + 4 <= size && !file.isEmpty()) {
        const int offset = next(3) % int(file.size()), length = next(1);
        for (int i = 0; i < length && at < size && offset + i < file.size(); ++i)
            file[offset + i] = char(next(1));
    }
    UpdateFixture& f = *fixture;
    f.PlaceFile(file);
    f.session.profile = ProfileState{};
    f.session.firmware.FwrMemorySize = std::uint16_t(memory);
    f.sim.Serial().ClearRecord();
    f.seen.clear();
    f.tasks.Clear();

    if (GetBackupProfile(*f.context) != BackupLookup::Usable)
        return 0;
    const ProfileState& p = f.session.profile;
    if (p.ProfileBlockCount < 1 || p.ProfileBlockCount > 1024 || p.ProfileStart < kRingStart ||
        p.ProfileEnd < p.ProfileStart)
        std::abort();
    RestoreProfile(*f.context);
    if (f.session.profile.Restored == QFile::exists(f.BackupPath()))  // deleted exactly when confirmed
        std::abort();
    return 0;
}
