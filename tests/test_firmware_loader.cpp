// The firmware file: its decoding, the loader's rows, boxes and values, and the kav-fwr tool.
#include <QProcess>
#include <QtTest>

#include "fakes/recording_view.h"
#include "fakes/rows.h"
#include "firmware/firmware_loader.h"
#include "support/clock.h"
#include "tools/fwr/fwr_encoder.h"

using Bytes = std::vector<std::uint8_t>;
using In = fwr::EncodeInput;

namespace {

const QString kResource = QStringLiteral("HOLM|KAV|512|6865|1A");

// Images of n1 and n2 blocks (none when negative), every record keyed with `recordKey`: their sums are
// n x recordKey.
In Input(int n1, int n2 = -1, std::uint8_t recordKey = 0x21) {
    In in;
    in.version = "1B";
    in.modelName = "KAV 1F";
    in.modelId = "KAV1F";
    if (n1 >= 0)
        in.image1 = Bytes(std::size_t(n1) * 128, 0x5A);
    if (n2 >= 0)
        in.image2 = Bytes(std::size_t(n2) * 128, 0xA5);
    in.recordKeyRule = fwr::RecordKeyRule::Fixed;
    in.recordKey = recordKey;
    return in;
}

struct Edits {
    void (*input)(In&) = nullptr;
    void (*file)(Bytes&) = nullptr;
};

struct Loader {
    Loader() {
        texts.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1);
        path = dir.filePath(QStringLiteral("KAV.1F.FWR"));
    }
    bool Run(const QString& resource = kResource) {
        return LoadFirmwareFile(path, firmware, tasks, texts, view, resource);
    }
    // The file first written with these bytes.
    bool Run(const Bytes& bytes, const QString& resource = kResource) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) &&
               file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) &&
               (file.close(), Run(resource));
    }
    QString T(Txt id) const { return texts.GetText(id); }
    static QString Row(int icon, const QString& event, const QString& status) {
        return QStringLiteral("%1 %2 | %3").arg(icon).arg(event, status);
    }
    QStringList Rows() const {
        QStringList rows;
        for (const auto& r : view.rows)
            rows << Row(r.icon, r.event, r.status);
        return rows;
    }

    QTemporaryDir dir;
    FirmwareImage firmware;
    RecordingView view;
    VirtualClock clock;
    TaskList tasks{view, clock};
    TextDatabase texts;
    QString path;
};

}  // namespace

// goodFiles: n1, n2, count2Field (-1: as the encoder writes it), sub, kind, shown, key, demo (encoded with
// the demo mark).
using GoodFileCases = Rows<int, int, int, int, int, QString, int, bool>;

// rejectionsShowABox: edits, box (a number: the firmware file box with that code, if any; or the file's name,
// not there or hidden), reason, resource.
using RejectionCases = Rows<Edits, QString, int, QString>;
using LowestVersionCases = Rows<QString, QString, int>;

class FirmwareLoaderTest : public QObject {
    Q_OBJECT

private slots:
    // Written byte by byte from the format rules, so that a fault shared by encoder and decoder shows.
    void loadsAHandBuiltFile() {
        const std::array<std::uint8_t, 8> key = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x17, 0x28};
        const std::uint8_t plain[8] = {0x02, 0x01, '1',  'C',
                                       0x00, 0x42, 0x04, 0x00};  // 513, "1C", 0x42, 1024
        Bytes file(2 * 131, 0);
        for (std::size_t k = 0; k < 8; ++k) {
            file[k] = plain[k] ^ key[k];
            file[8 + k] = key[k];
        }
        file[17] = 1;  // one block
        file[24] = 7;
        file[31] = 1;  // selector = first count
        const std::string name = "ABCDEFGHIJ", id = "XY";
        std::size_t p = 32;
        for (std::size_t i = 0; i < name.size(); ++i)
            file[p++] = std::uint8_t(name[i]) ^ key[i % 8];  // the ninth takes key byte 8
        p++;
        for (std::size_t i = 0; i < id.size(); ++i)
            file[p++] = std::uint8_t(id[i]) ^ key[i];
        file[132] = 0x10;
        for (std::size_t c = 0; c < 128; ++c)
            file[133 + c] = std::uint8_t(c ^ 0x42);
        file[261] = 0x42;

        Loader l;
        QVERIFY(l.Run(file));
        const FirmwareImage& fw = l.firmware;
        QCOMPARE(QList<int>({fw.CodeOnly, fw.Code2Only, fw.CodeAndCode2, fw.FwrModelNumber, fw.FwrMemorySize,
                             fw.CodeChecksum, fw.CodeBlocks[0][0], fw.CodeBlocks[0][129], fw.VersionSuffix}),
                 QList<int>({true, false, false, 513, 1024, 0x42, 0x10, 0x42, 0}));
        QCOMPARE(QStringList({fw.FwrVersion, fw.FwrModelName, fw.FwrModelId, fw.MinDeviceVersion}),
                 QStringList({"1C", "ABCDEFGHIJ", "XY", "1A"}));
        for (int c = 1; c <= 128; ++c)
            QCOMPARE(fw.CodeBlocks[0][std::size_t(c)], c - 1);
        QCOMPARE(
            l.Rows(),
            QStringList({l.Row(IconStarted, l.T(Txt::ReadingFirmwareFile), l.T(Txt::Done)),
                         l.Row(IconStarted, l.T(Txt::CheckingFirmwareFile), l.T(Txt::Done)),
                         l.Row(IconInformation, "ABCDEFGHIJ, " + l.T(Txt::FirmwareVersion) + ": 1C.07", ""),
                         l.Row(IconInformation, "Firmware file: " + l.path, ""),
                         l.Row(IconInformation, "Images in the file: 1", "")}));
        QVERIFY(l.view.boxes.empty());
    }

    // The check stops with a box, and nothing of the file is kept. A missing or hidden file (named in the
    // box), damage and empty strings end the update at once (a ResetStage); a checksum that does not hold
    // only refuses the file.
    void rejectionsShowABox_data() {
        RejectionCases rows;
        using E = fwr::DecodeError;
        const auto row = [&rows](const char* tag, const char* box, E reason, void (*input)(In&),
                                 void (*file)(Bytes&) = nullptr, const QString& resource = kResource) {
            rows.Add(tag, Edits{input, file}, QString::fromLatin1(box), int(reason), resource);
        };
        const auto noName = [](In& in) { in.modelName.clear(); };
        // Input(3) is four records; with an empty name the id starts at 33.
        row("missing", "KAV.1F.FWR", E::None, nullptr);
        row("hidden", ".KAV.1F.FWR", E::None, nullptr);
        row("last record cut", "", E::Truncated, nullptr, [](Bytes& f) { f.pop_back(); });
        row("empty name, id without zero", "4", E::UnterminatedModelId, noName,
            [](Bytes& f) { std::fill(f.begin() + 33, f.begin() + 131, 0x41); });
        row("1025 blocks", "", E::TooManyBlocks, [](In& in) { in.count1Field = in.kindSelector = 1025; });
        row("block word 0x80xx", "", E::BadBlockWord, nullptr, [](Bytes& f) { f[2 * 131] = 0x80; });
        row("empty name", "4", E::None, noName);
        row("empty id", "5", E::None, [](In& in) { in.modelId.clear(); });
        row("empty name and id", "5", E::None, [](In& in) { in.modelName = in.modelId = ""; });
        row("resource with four fields", "", E::None, nullptr, nullptr, QStringLiteral("HOLM|KAV|512|6865"));
        // Sums 0x21 x n: 0x63 for three blocks, 0x42 for two.
        row("first only, sum wrong", "Check sum error 1!", E::None, [](In& in) { in.checksum1 = 0x64; });
        row("second only, sum wrong", "Check sum error 1!", E::None,
            [](In& in) { in = Input(-1, 2), in.checksum2 = 0x43; });
        row("both, first wrong", "Check sum error 2!", E::None,
            [](In& in) { in = Input(3, 2), in.checksum1 = 0x62, in.checksum2 = 0x42; });
        row("both, second wrong", "Check sum error 3!", E::None,
            [](In& in) { in = Input(3, 2), in.checksum1 = 0x63, in.checksum2 = 0x41; });
        row("both, both wrong", "Check sum error 2!", E::None,
            [](In& in) { in = Input(3, 2), in.checksum1 = in.checksum2 = 0; });
    }
    void rejectionsShowABox() {
        const auto& [edits, box, reason, resource] = RejectionCases::Fetch();
        In in = Input(3);
        if (edits.input)
            edits.input(in);
        Bytes bytes = fwr::Encode(in).file;
        if (edits.file)
            edits.file(bytes);
        QCOMPARE(int(fwr::Decode(bytes).error), reason);
        Loader l;
        const bool absent = box.contains(".FWR");
        if (absent)
            l.path = l.dir.filePath(box);
        QVERIFY(box == "KAV.1F.FWR" ? !l.Run(resource) : !l.Run(bytes, resource));
        QCOMPARE(l.view.boxes.size(), std::size_t{1});
        QCOMPARE(l.view.boxes[0].text, absent           ? l.T(Txt::FirmwareFileMissing).arg(l.path)
                                       : box.size() < 2 ? l.T(Txt::FirmwareFileError) + " " + box + "!"
                                                        : box);
        QVERIFY(l.view.boxes[0].title == l.T(Txt::Error) && l.view.boxes[0].style == kBoxOkCritical);
        QStringList rows{l.Row(IconStarted, l.T(Txt::ReadingFirmwareFile), absent ? "..." : l.T(Txt::Done))};
        if (!absent)
            rows << l.Row(IconStarted, l.T(Txt::CheckingFirmwareFile), "...");
        QCOMPARE(l.Rows(), rows);
        QVERIFY(l.firmware.FwrModelName.isEmpty() && l.firmware.CodeBlocks.empty());
    }

    // The kind, the values it takes and the rows that name the file: the sub-version shows unless a
    // first-image-only file has one outside 1..99. The sum wraps at 65536.
    void goodFiles_data() {
        GoodFileCases rows;
        const int only1 = int(fwr::Kind::CodeOnly), only2 = int(fwr::Kind::Code2Only);
        rows.Add("selector = first count, 1", 2, -1, -1, 1, only1, "1B.01", 0x21, false);
        rows.Add("selector = both counts, 99", 2, -1, 2, 99, only1, "1B.99", 0x21, false);
        rows.Add("zero blocks, 0", 0, -1, -1, 0, only1, "1B", 0x21, false);
        rows.Add("first only, 100, demo", 1, -1, -1, 100, only1, "1B", 0x21, true);
        rows.Add("300 x 255 = 65536 + 10964", 300, -1, -1, 0, only1, "1B", 255, false);
        rows.Add("selector = second count, 0", -1, 3, -1, 0, only2, "1B.00", 0x21, false);
        rows.Add("selector = neither, 255, demo", 2, 3, -1, 255, int(fwr::Kind::CodeAndCode2), "1B.255", 0x21,
                 true);
    }
    void goodFiles() {
        const auto& [n1, n2, count2Field, sub, kind, shown, key, demo] = GoodFileCases::Fetch();
        In in = Input(n1, n2, std::uint8_t(key));
        if (count2Field >= 0)
            in.count2Field = std::uint16_t(count2Field);
        in.subVersion = std::uint8_t(sub);
        in.code2Parameter = 0x0B0C;
        Bytes file = fwr::Encode(in).file;
        if (demo) {  // "DEMO" and a zero at bytes 25..29, and nothing else of the file changes
            std::copy_n("DEMO", 5, file.begin() + 25);
            in.demoMark = true;
            QCOMPARE(fwr::Encode(in).file, file);
        }
        if (kind == int(fwr::Kind::CodeAndCode2)) {
            // The unused record looks like a good block: taking it would shift the second image.
            const auto skipped = file.begin() + (n1 + 1) * 131;
            std::fill(skipped, skipped + 131, 0);
            skipped[1] = 0x40;
        }
        Loader l;
        QVERIFY(l.Run(file));
        const FirmwareImage& fw = l.firmware;
        const bool first = kind != int(fwr::Kind::Code2Only), second = kind != int(fwr::Kind::CodeOnly);
        QCOMPARE(
            QList<int>({fw.CodeOnly, fw.Code2Only, fw.CodeAndCode2, fw.CodeBlockCount, fw.Code2BlockCount,
                        fw.CodeChecksum, fw.Code2Checksum, fw.Code2Parameter, fw.Demo}),
            QList<int>({!second, !first, first && second, first ? n1 : 0, second ? n2 : 0,
                        first ? n1 * key % 65536 : 0, second ? n2 * key : 0, second ? 0x0B0C : 0, demo}));
        QCOMPARE(
            l.Rows().mid(2),
            (QStringList{l.Row(IconInformation, "KAV 1F, " + l.T(Txt::FirmwareVersion) + ": " + shown, ""),
                         l.Row(IconInformation, "Firmware file: " + l.path, ""),
                         l.Row(IconInformation,
                               "Images in the file: " + QString(!second  ? "1"
                                                                : !first ? "2"
                                                                         : "1 and 2"),
                               "")}));
    }

    void lowestDeviceVersion_data() {
        LowestVersionCases rows;
        rows.Add("six fields, suffix 17", QStringLiteral("a|b|c|d|2B17|e"), "2B", 17);
        rows.Add("digit, letter", QStringLiteral("a|b|c|d|1A7x"), "1A", 7);
        rows.Add("letter, digit", QStringLiteral("a|b|c|d|1Ax7"), "1A", 0);
    }
    void lowestDeviceVersion() {
        const auto& [resource, minVersion, suffix] = LowestVersionCases::Fetch();
        Loader l;
        QVERIFY(l.Run(fwr::Encode(Input(1)).file, resource));
        QCOMPARE(l.firmware.MinDeviceVersion, minVersion);
        QCOMPARE(int(l.firmware.VersionSuffix), suffix);
    }

    // pack -> inspect -> load -> unpack through the command line.
    void toolRoundTrip() {
        QTemporaryDir dir;
        const auto path = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
        const QByteArray image1 = QByteArray(200, 'a') + QByteArray(60, 'b'), image2(128, '\x7f');
        for (const auto& [name, bytes] : {std::pair{"a.bin", image1}, {"b.bin", image2}}) {
            QFile f(path(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        QString said;  // what the last command printed
        auto run = [&said](const QStringList& args) {
            QProcess p;
            p.start(QStringLiteral(KAV_FWR_PATH), args);
            p.waitForFinished(20000);
            said = QString::fromUtf8(p.readAllStandardOutput());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QStringList pack = QProcess::splitCommand(
            QStringLiteral(
                "pack --out %1 --model-number 600 --fw-version 2C --name \"Model Ü\" --id M1 --image %2 "
                "--image2 %3 --key 0102030405060708 --record-key 9 --code2-parameter 4660 "
                "--first-word 0x20")
                .arg(path("t.fwr"), path("a.bin"), path("b.bin")));
        QCOMPARE(run(pack), 0);
        QCOMPARE(run({"inspect", path("t.fwr")}), 0);
        QVERIFY2(!said.contains("demo:"), qPrintable(said));
        QCOMPARE(run({"unpack", path("t.fwr"), "--out", path("out")}), 0);
        const auto read = [&](const char* name) {
            QFile f(path(name));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QCOMPARE(read("out/image1.bin"), image1 + QByteArray(3 * 128 - 260, '\xff'));
        QCOMPARE(read("out/image2.bin"), image2);
        QCOMPARE(read("out/words.txt"), "0x0020\n0x0028\n0x0030\n0x0038\n");

        Loader l;  // the values given reach the file
        QVERIFY(QFile::copy(path("t.fwr"), l.path) && l.Run());
        const FirmwareImage& fw = l.firmware;
        QCOMPARE(QList<int>({fw.FwrModelNumber, fw.CodeChecksum, fw.Code2Checksum, fw.Code2Parameter}),
                 QList<int>({600, 3 * 9, 9, 4660}));
        QCOMPARE(l.view.rows[2].event, "Model Ü, " + l.T(Txt::FirmwareVersion) + ": 2C.05");
        QCOMPARE(run(QStringList(pack) << "--bad-checksum"), 0);
        QCOMPARE(run({"inspect", path("t.fwr")}), 1);
        QCOMPARE(run({"pack", "--out", path("x.fwr")}), 2);                       // no image
        QCOMPARE(run({"pack", "--out", path("d.fwr"), "--demo-image", "2"}), 0);  // marked as the demo
        QCOMPARE(run({"inspect", path("d.fwr")}), 0);
        QVERIFY2(said.contains("demo:") && said.contains("for the simulated DC"), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(FirmwareLoaderTest)
#include "test_firmware_loader.moc"
