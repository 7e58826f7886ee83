// libFuzzer target: the backup-file reader as the update and the recovery use it, on the simulated DC, and
// the restore of whatever it accepts. Input: byte 0 picks the memory size of the firmware file (512, 1024,
// the next two bytes, or 1) and, with bit 2, a new file length from the next three bytes; then patches of
// (offset: 3 bytes, length: 1 byte, bytes) onto a sound backup of the DC.
#include <QCoreApplication>
#include <cstdlib>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/profile_range.h"
#include "profile/restore.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

struct Input {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    int Next(int bytes) {
        int v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v * 256 + (at < size ? data[at++] : 0);
        return v;
    }
};

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
    UpdateFixture& f = *fixture;
    Input in{data, size};
    const int mode = in.Next(1);
    const int memories[] = {512, 1024, 0, 1};
    int memory = memories[mode & 3];
    if (memory == 0)
        memory = std::max(1, in.Next(2));
    QByteArray file = sound;
    if (mode & 4)
        file.resize(in.Next(3) % (sound.size() + 2));
    while (in.at + 4 <= size && !file.isEmpty()) {
        const int offset = in.Next(3) % int(file.size()), length = in.Next(1);
        for (int i = 0; i < length && in.at < size && offset + i < file.size(); ++i)
            file[offset + i] = char(in.Next(1));
    }
    f.PlaceFile(file);
    f.session.firmware.FwrMemorySize = std::uint16_t(memory);
    f.session.profile = ProfileState{};
    f.session.UpdateAborted = false;
    f.session.link.LinkStop = f.session.link.LinkError = false;
    f.sim.Serial().ClearRecord();
    f.seen.clear();
    f.tasks.Clear();

    const BackupLookup found = GetBackupProfile(*f.context);
    const ProfileState& p = f.session.profile;
    Require(found != BackupLookup::Usable ||
            (p.ProfileBlockCount >= 1 && p.ProfileBlockCount <= 1024 && p.ProfileStart >= kRingStart &&
             p.ProfileEnd >= p.ProfileStart));
    if (found != BackupLookup::Usable)
        return 0;
    RestoreProfile(*f.context);
    // A confirmed restore deletes the file; any other outcome keeps it.
    Require(f.session.wizard.ProfileRestored != QFile::exists(f.BackupPath()));
    return 0;
}
