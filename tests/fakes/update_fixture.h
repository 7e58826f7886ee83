#pragma once

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
#include <numeric>

#include "fakes/link_fixture.h"
#include "fakes/recording_view.h"
#include "fakes/wizard_fixture.h"
#include "firmware/firmware_loader.h"
#include "firmware/fwr_format.h"
#include "link/device_link.h"
#include "run/update_context.h"
#include "tools/dcsim/simulated_link.h"
#include "tools/fwr/fwr_encoder.h"
#include "wizard/run_wiring.h"

// Which images a test firmware file holds.
enum class TestKind { CodeOnly, Code2Only, Both };

struct TestFirmware {
    TestKind kind = TestKind::CodeOnly;
    int blocks = 8;  // per image
    std::uint16_t memory = 512;
    std::string minVersion = "1A";  // the fifth field of the device-versions resource
    std::string modelId = "KAV1F";  // Windows ANSI bytes
    std::uint16_t firstWord = 0;    // of the first block: written at this unit + 256
};

// A DC with its profile in units start .. end, its data drawn from seed.
inline DcConfig ProfileDc(int start, int end, std::uint32_t seed = 1, int serialNumber = 210417) {
    DcConfig dc;
    dc.profileStart = start, dc.profileEnd = end, dc.seed = seed, dc.serialNumber = serialNumber;
    return dc;
}

// The whole update on one virtual clock: the wizard's parts wired as in the program, the simulated DC as the
// device, a recording view as the window. The firmware is loaded by the real loader from a file the encoder
// wrote.
struct UpdateFixture {
    explicit UpdateFixture(DcConfig dc = {}, TestFirmware fw = {}) : sim(clock, Asleep(std::move(dc))) {
        session.AppDir = appDir.path();
        if (texts.Open(BuiltTextDatabase(), 1) != TextDatabase::OpenResult::Ok)
            qFatal("no text database");
        priority.OnNormal = [this] {
            ++resets;
            resetAt.push_back(sim.Sent().size());
        };
        // Each reply reaches the link while the status of the step that asked for it is showing.
        sim.Serial().OnData = [this, handle = sim.Serial().OnData](std::span<const std::uint8_t> data) {
            if (!sim.Sent().empty() && !view.rows.empty())
                seen.push_back({sim.Sent().back(), view.rows.back().status});
            handle(data);
        };
        std::vector<std::uint8_t> image(std::size_t(fw.blocks) * 128);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = std::uint8_t(i * 7 + 3);
        fwr::EncodeInput in;
        in.modelNumber = 513, in.version = "1B", in.subVersion = 5, in.memorySize = fw.memory;
        in.code2Parameter = 0x0102, in.modelName = "KAV 1F", in.modelId = fw.modelId,
        in.firstWord1 = fw.firstWord;
        if (fw.kind != TestKind::Code2Only)
            in.image1 = image;
        if (fw.kind != TestKind::CodeOnly)
            in.image2 = image;
        const std::vector<std::uint8_t> file = fwr::Encode(in).file;
        firmwarePath = appDir.filePath("KAV.1F.FWR");
        PlaceFile(QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())),
                  firmwarePath);
        const QString versions = "HOLM|KAV|512|6865|" + QString::fromStdString(fw.minVersion);
        if (!LoadFirmwareFile(firmwarePath, session.firmware, tasks, texts, view, versions))
            qFatal("cannot load the firmware file");
        tasks.Clear();
        view.rows.clear();
        // As the stage machine leaves things when the update starts.
        session.profile.ProfileBackupActive = true;
        session.profile.Restored = true;
    }

    QString Text(Txt id) const { return texts.GetText(id); }
    QString BackupPath() const { return appDir.filePath("513.210417.bin"); }
    // At the backup file's place unless another path is given.
    void PlaceFile(const QByteArray& bytes, const QString& path = {}) const {
        QFile out(path.isEmpty() ? BackupPath() : path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(out.fileName()));
    }
    // Transmissions of this length that begin with this byte.
    int Count(std::uint8_t command, std::size_t length) const {
        return int(std::ranges::count_if(
            sim.Sent(), [&](const auto& s) { return s.size() == length && s[0] == command; }));
    }
    // The statuses the view showed when the replies to frames of this kind came, repeats left out.
    QStringList StatusesAt(std::uint8_t command, std::size_t length) const {
        QStringList s;
        for (const auto& [frame, status] : seen) {
            if (frame.size() == length && frame[0] == command && (s.isEmpty() || s.back() != status))
                s << status;
        }
        return s;
    }

    QTemporaryDir appDir;
    VirtualClock clock;
    SimulatedLink sim;
    RecordingView view;
    RecordingPriority priority;
    RunWiring run{view, sim.Serial(), clock, sim.Pump(), priority};
    Session& session = run.session;
    TaskList& tasks = run.tasks;
    TextDatabase& texts = run.texts;
    DeviceLink& link = run.link;
    StopRequest& stop = run.stop;
    UpdateContext* context = &run.context;
    QString firmwarePath;
    int resets = 0;
    std::vector<std::size_t> resetAt;  // frames sent before each return to normal priority
    std::vector<std::pair<std::vector<std::uint8_t>, QString>> seen;  // frame answered, status showing
};

inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Memory units first .. last, 16 bytes each.
inline std::vector<std::uint8_t> Units(const std::vector<std::uint8_t>& memory, int first, int last) {
    return {memory.begin() + first * 16, memory.begin() + (last + 1) * 16};
}

// The backup file a DC with this memory must leave, worked out from the file layout alone: block 0's header
// record and serial number, then the blocks of the profile range, column by column.
inline QByteArray ExpectedBackupFile(const std::vector<std::uint8_t>& m, int memorySize) {
    QByteArray f(266274, '\0');
    const auto put = [&f](int row, int column, int value) {
        const int at = 34 + 2 * (1024 * column + row);
        f[at] = char(value & 0xFF);
        f[at + 1] = char((value >> 8) & 0xFF);
    };
    for (int i = 0; i < 16; ++i)
        f[i] = char(m[64 + i]);
    f[16] = char(std::accumulate(m.begin() + 64, m.begin() + 80, 0) % 256);
    for (int i = 0; i < 6; ++i)  // the serial number's three bytes, a nibble each
        f[17 + i] = char(i % 2 ? m[10 + i / 2] & 15 : m[10 + i / 2] >> 4);
    const auto pointer = [&](std::size_t at) {
        const int p = m[at] + 256 * m[at + 1];
        return memorySize == 1024 ? p : p / 16;
    };
    int start = pointer(72), end = pointer(74);
    if (start == end)
        return f;
    if (end < start) {
        start = 256;
        end = memorySize * 8 - 33;
    }
    start = std::max(start, 256);
    end = std::max(end, 256);
    for (int row = 0, unit = start / 8 * 8; unit <= end; ++row, unit += 8) {
        put(row, 0, unit - 256);
        for (int k = 0; k < 128; ++k)
            put(row, k + 1, m[unit * 16 + k]);
        put(row, 129, std::accumulate(m.begin() + unit * 16, m.begin() + unit * 16 + 128, 0) % 256);
    }
    return f;
}
