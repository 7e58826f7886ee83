// The firmware file: its decoding, the loader's rows, boxes and values, and the kav-fwr tool.
#include <QProcess>
#include <QtTest>

#include "fakes/recording_view.h"
#include "firmware/firmware_loader.h"
#include "firmware/fwr_format.h"
#include "support/clock.h"

namespace {

const QString kResource = QStringLiteral("HOLM|KAV|512|6865|1A");
constexpr std::array<std::uint8_t, 8> kKey = {0x11, 0x23, 0x35, 0x47, 0x59, 0x6B, 0x7D, 0x8F};

std::vector<std::uint8_t> Pattern(std::size_t size, int salt) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 37 + static_cast<std::size_t>(salt)) & 0xFF);
    return bytes;
}

// One image of `blocks` blocks, every record keyed with `recordKey`: its sum is blocks x recordKey.
fwr::EncodeInput Input(int blocks, std::uint8_t recordKey = 0x21) {
    fwr::EncodeInput in;
    in.modelNumber = 513;
    in.version = "1B";
    in.subVersion = 5;
    in.memorySize = 512;
    in.modelName = "KAV 1F";
    in.modelId = "KAV1F";
    in.image1 = Pattern(static_cast<std::size_t>(blocks) * 128, 1);
    in.key = kKey;
    in.recordKeyRule = fwr::RecordKeyRule::Fixed;
    in.recordKey = recordKey;
    return in;
}

std::vector<std::uint8_t> FileOf(const fwr::EncodeInput& in) {
    const fwr::Encoded e = fwr::Encode(in);
    if (!e.ok)
        qWarning("encode: %s", e.error.c_str());
    return e.file;
}

struct Loader {
    Loader() {
        texts.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1);
        session.wizard.FirmwareFilePath = dir.filePath(QStringLiteral("KAV.1F.FWR"));
        session.link.ReceiveBuffer.assign(130, 0xAA);
        session.link.ReadBuffer.assign(130, 0xAA);
    }
    void Write(const std::vector<std::uint8_t>& bytes) {
        QFile file(session.wizard.FirmwareFilePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    bool Run(const QString& resource = kResource) {
        return GetCode(
            session, tasks, texts, view, [this] { ++resets; }, resource);
    }
    QString T(Txt id) const { return texts.GetText(id); }
    // Start-up left nothing of the file behind.
    void VerifyNothingWritten() const {
        QVERIFY(session.firmware.FwrModelName.isEmpty());
        QVERIFY(session.firmware.CodeBlocks.empty() && session.firmware.Code2Blocks.empty());
        QVERIFY(!session.firmware.CodeOnly && !session.firmware.Code2Only && !session.firmware.CodeAndCode2);
        QCOMPARE(session.link.ReceiveBuffer, std::vector<std::uint8_t>(130, 0xAA));
        QCOMPARE(session.link.ReadBuffer, std::vector<std::uint8_t>(130, 0xAA));
    }

    QTemporaryDir dir;
    Session session;
    RecordingView view;
    VirtualClock clock;
    TaskList tasks{view, clock};
    TextDatabase texts;
    int resets = 0;
};

enum Mutation {
    HeaderCut,
    LastByteCut,
    NameRunsOn,
    IdRunsOn,
    IdRunsOnAfterEmptyName,
    Block1025,
    HighBlockWord,
    HighBlockWordAfterEmptyName,
    EmptyName,
    EmptyId,
    EmptyNameAndId,
    MemoryZero,
    FourFieldResource,
};

}  // namespace

class FirmwareLoaderTest : public QObject {
    Q_OBJECT

private slots:
    void loadsAFirstImageFile() {
        Loader l;
        fwr::EncodeInput in = Input(3);
        in.recordKeyRule = fwr::RecordKeyRule::DataSum;
        l.Write(FileOf(in));
        QVERIFY(l.Run());

        const FirmwareImage& fw = l.session.firmware;
        QVERIFY(fw.CodeOnly && !fw.Code2Only && !fw.CodeAndCode2);
        QCOMPARE(fw.CodeBlockCount, 3);
        QCOMPARE(fw.Code2BlockCount, 0);
        QCOMPARE(fw.FwrModelNumber, 513);
        QCOMPARE(fw.FwrVersion, "1B");
        QCOMPARE(fw.FwrSubVersion, 5);
        QCOMPARE(fw.FwrMemorySize, 512);
        QCOMPARE(fw.FwrModelName, "KAV 1F");
        QCOMPARE(fw.FwrModelId, "KAV1F");
        QCOMPARE(fw.MinDeviceVersion, "1A");
        QCOMPARE(fw.VersionSuffix, 0);
        QCOMPARE(fw.CodeBlocks.size(), std::size_t{3});
        int sum = 0;
        for (int b = 0; b < 3; ++b) {
            int dataSum = 0;
            for (int c = 1; c <= 128; ++c) {
                const int expected = (*in.image1)[static_cast<std::size_t>(b * 128 + c - 1)];
                QCOMPARE(fw.CodeBlocks[std::size_t(b)][std::size_t(c)], expected);
                dataSum += expected;
            }
            QCOMPARE(fw.CodeBlocks[std::size_t(b)][0], 8 * b);
            QCOMPARE(fw.CodeBlocks[std::size_t(b)][129], dataSum % 256);  // what the DC checks
            sum += dataSum % 256;
        }
        QCOMPARE(fw.CodeChecksum, sum);

        QCOMPARE(l.view.rows.size(), std::size_t{3});
        QCOMPARE(l.view.rows[0].event, l.T(Txt::ReadingFirmwareFile));
        QCOMPARE(l.view.rows[0].status, l.T(Txt::Done));
        QCOMPARE(l.view.rows[1].event, l.T(Txt::CheckingFirmwareFile));
        QCOMPARE(l.view.rows[1].status, l.T(Txt::Done));
        QCOMPARE(l.view.rows[2].icon, int(IconInformation));
        QCOMPARE(l.view.rows[2].event, "KAV 1F, " + l.T(Txt::FirmwareVersion) + ": 1B.05");
        QCOMPARE(l.view.rows[2].status, QString());
        QVERIFY(l.view.boxes.empty());
        QCOMPARE(l.resets, 0);
        QVERIFY(!l.session.UpdateAborted);
        QCOMPARE(l.session.link.ReceiveBuffer, std::vector<std::uint8_t>(512 * 136 + 2, 0));
        QCOMPARE(l.session.link.ReadBuffer, std::vector<std::uint8_t>(69634, 0));
    }

    // Written byte by byte from the format rules, so that a fault shared by encoder and decoder shows.
    void decodesAHandBuiltFile() {
        const std::array<std::uint8_t, 8> key = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x17, 0x28};
        std::vector<std::uint8_t> file(2 * 131, 0);
        const std::uint8_t plain[8] = {0x02, 0x01, '1',  'C',
                                       0x00, 0x42, 0x04, 0x00};  // 513, "1C", 0x42, 1024
        for (int k = 0; k < 8; ++k) {
            file[std::size_t(k)] = plain[k] ^ key[std::size_t(k)];
            file[std::size_t(8 + k)] = key[std::size_t(k)];
        }
        file[17] = 1;  // one block
        file[24] = 7;
        file[31] = 1;  // selector = first count
        const std::string name = "ABCDEFGHIJ", id = "XY";
        std::size_t p = 32;
        for (std::size_t i = 0; i < name.size(); ++i)
            file[p++] =
                static_cast<std::uint8_t>(name[i]) ^ key[i % 8];  // the ninth character takes key byte 8
        p++;
        for (std::size_t i = 0; i < id.size(); ++i)
            file[p++] = static_cast<std::uint8_t>(id[i]) ^ key[i];
        file[131] = 0x00;
        file[132] = 0x10;
        for (std::size_t c = 0; c < 128; ++c)
            file[133 + c] = static_cast<std::uint8_t>(c ^ 0x42);
        file[261] = 0x42;

        Loader l;
        l.Write(file);
        QVERIFY(l.Run());
        const FirmwareImage& fw = l.session.firmware;
        QCOMPARE(fw.FwrModelName, "ABCDEFGHIJ");
        QCOMPARE(fw.FwrModelId, "XY");
        QCOMPARE(fw.FwrModelNumber, 513);
        QCOMPARE(fw.FwrMemorySize, 1024);
        QCOMPARE(fw.CodeChecksum, 0x42);
        QCOMPARE(fw.CodeBlocks[0][0], 0x10);
        for (int c = 1; c <= 128; ++c)
            QCOMPARE(fw.CodeBlocks[0][std::size_t(c)], c - 1);
        QCOMPARE(fw.CodeBlocks[0][129], 0x42);
        QCOMPARE(l.view.rows.back().event, "ABCDEFGHIJ, " + l.T(Txt::FirmwareVersion) + ": 1C.07");
        QCOMPARE(l.session.link.ReceiveBuffer.size(), std::size_t{1024 * 136 + 2});
    }

    void rejectionsShowTheFirmwareFileBox_data() {
        QTest::addColumn<int>("mutation");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("reason");
        using E = fwr::DecodeError;
        QTest::newRow("header cut") << int(HeaderCut) << "" << int(E::HeaderTruncated);
        QTest::newRow("last record cut") << int(LastByteCut) << "" << int(E::Truncated);
        QTest::newRow("name without zero") << int(NameRunsOn) << "" << int(E::UnterminatedModelName);
        QTest::newRow("id without zero") << int(IdRunsOn) << "" << int(E::UnterminatedModelId);
        QTest::newRow("empty name, id without zero")
            << int(IdRunsOnAfterEmptyName) << "4" << int(E::UnterminatedModelId);
        QTest::newRow("1025 blocks") << int(Block1025) << "" << int(E::TooManyBlocks);
        QTest::newRow("block word 0x80xx") << int(HighBlockWord) << "" << int(E::BadBlockWord);
        QTest::newRow("empty name, block word 0x80xx")
            << int(HighBlockWordAfterEmptyName) << "4" << int(E::BadBlockWord);
        QTest::newRow("empty name") << int(EmptyName) << "4" << int(E::None);
        QTest::newRow("empty id") << int(EmptyId) << "5" << int(E::None);
        QTest::newRow("empty name and id") << int(EmptyNameAndId) << "5" << int(E::None);
        QTest::newRow("memory size 0") << int(MemoryZero) << "" << int(E::ZeroMemorySize);
        QTest::newRow("resource with four fields") << int(FourFieldResource) << "" << int(E::None);
    }
    void rejectionsShowTheFirmwareFileBox() {
        QFETCH(int, mutation);
        QFETCH(QString, code);
        QFETCH(int, reason);
        fwr::EncodeInput in = Input(3);
        if (mutation == EmptyName || mutation == EmptyNameAndId || mutation == IdRunsOnAfterEmptyName ||
            mutation == HighBlockWordAfterEmptyName)
            in.modelName.clear();
        if (mutation == EmptyId || mutation == EmptyNameAndId)
            in.modelId.clear();
        if (mutation == MemoryZero)
            in.memorySize = 0;
        std::vector<std::uint8_t> file = FileOf(in);
        QCOMPARE(file.size(), std::size_t{4 * 131});
        const std::size_t idStart = 32 + in.modelName.size() + 1;
        switch (mutation) {
            case HeaderCut:
                file.resize(130);
                break;
            case LastByteCut:
                file.pop_back();
                break;
            case NameRunsOn:
                std::fill(file.begin() + 32, file.begin() + 131, 0x41);
                break;
            case IdRunsOn:
            case IdRunsOnAfterEmptyName:
                std::fill(file.begin() + static_cast<std::ptrdiff_t>(idStart), file.begin() + 131, 0x41);
                break;
            case Block1025:  // plain fields: count and selector
                file[16] = file[30] = 0x04;
                file[17] = file[31] = 0x01;
                break;
            case HighBlockWord:
            case HighBlockWordAfterEmptyName:
                file[2 * 131] = 0x80;  // block 2
                break;
            default:
                break;
        }
        QCOMPARE(int(fwr::Decode(file).error), reason);

        Loader l;
        l.Write(file);
        QVERIFY(!l.Run(mutation == FourFieldResource ? QStringLiteral("HOLM|KAV|512|6865") : kResource));
        QCOMPARE(l.view.boxes.size(), std::size_t{1});
        QCOMPARE(l.view.boxes[0].text, l.T(Txt::FirmwareFileError) + " " + code + "!");
        QCOMPARE(l.view.boxes[0].title, l.T(Txt::Error));
        QCOMPARE(l.view.boxes[0].style, 16);
        QCOMPARE(l.view.rows.size(), std::size_t{2});
        QCOMPARE(l.view.rows[0].status, l.T(Txt::Done));
        QCOMPARE(l.view.rows[1].event, l.T(Txt::CheckingFirmwareFile));
        QCOMPARE(l.view.rows[1].icon, int(IconStarted));
        QCOMPARE(l.view.rows[1].status, "...");
        QVERIFY(l.session.UpdateAborted);
        QCOMPARE(l.resets, 1);
        l.VerifyNothingWritten();
    }

    void missingFileEndsWithoutABox() {
        Loader l;
        QVERIFY(!l.Run());
        QVERIFY(l.view.boxes.empty());
        QCOMPARE(l.view.rows.size(), std::size_t{1});
        QCOMPARE(l.view.rows[0].event, l.T(Txt::ReadingFirmwareFile));
        QCOMPARE(l.view.rows[0].status, "...");
        QVERIFY(l.session.UpdateAborted);
        QCOMPARE(l.resets, 1);
    }

    void unreadableFileShowsTheBox() {
        Loader l;
        l.Write(FileOf(Input(1)));
        QFile::setPermissions(l.session.wizard.FirmwareFilePath, QFileDevice::Permissions());
        if (QFile(l.session.wizard.FirmwareFilePath).open(QIODevice::ReadOnly))
            QSKIP("permissions do not keep this user out");
        QVERIFY(!l.Run());
        QCOMPARE(l.view.boxes.size(), std::size_t{1});
        QCOMPARE(l.view.boxes[0].text, l.T(Txt::FirmwareFileError) + " !");
        QCOMPARE(l.resets, 1);
    }

    void checksumFailures_data() {
        QTest::addColumn<int>("n1");  // -1: no first image
        QTest::addColumn<int>("n2");
        QTest::addColumn<int>("checksum1");
        QTest::addColumn<int>("checksum2");
        QTest::addColumn<int>("failure");  // 0: loads
        // Records keyed 0x21 (first) and 0x07 (second): sums 0x21 x n1 and 7 x n2.
        QTest::newRow("first only, right") << 3 << -1 << 0x63 << 0 << 0;
        QTest::newRow("first only, wrong") << 3 << -1 << 0x64 << 0 << 1;
        QTest::newRow("second only, right") << -1 << 2 << 0 << 14 << 0;
        QTest::newRow("second only, wrong") << -1 << 2 << 0 << 15 << 1;
        QTest::newRow("both, right") << 3 << 2 << 0x63 << 14 << 0;
        QTest::newRow("both, first wrong") << 3 << 2 << 0x62 << 14 << 2;
        QTest::newRow("both, second wrong") << 3 << 2 << 0x63 << 13 << 3;
        QTest::newRow("both, both wrong") << 3 << 2 << 0 << 0 << 2;
        QTest::newRow("zero blocks, sum 0") << 0 << -1 << 0 << 0 << 0;
        QTest::newRow("zero blocks, checksum 1") << 0 << -1 << 1 << 0 << 1;
    }
    void checksumFailures() {
        QFETCH(int, n1);
        QFETCH(int, n2);
        QFETCH(int, checksum1);
        QFETCH(int, checksum2);
        QFETCH(int, failure);
        fwr::EncodeInput in = Input(std::max(n1, 0));
        if (n1 < 0)
            in.image1.reset();
        if (n2 >= 0)
            in.image2 = Pattern(std::size_t(n2) * 128, 2);
        in.recordKeyRule = fwr::RecordKeyRule::Given;
        in.recordKeys1.assign(std::size_t(std::max(n1, 0)), 0x21);
        in.recordKeys2.assign(std::size_t(std::max(n2, 0)), 0x07);
        in.checksum1 = static_cast<std::uint16_t>(checksum1);
        in.checksum2 = static_cast<std::uint16_t>(checksum2);
        Loader l;
        l.Write(FileOf(in));
        QCOMPARE(l.Run(), failure == 0);
        if (failure == 0) {
            QVERIFY(l.view.boxes.empty());
            QCOMPARE(l.view.rows.size(), std::size_t{3});
            return;
        }
        QCOMPARE(l.view.boxes.size(), std::size_t{1});
        QCOMPARE(l.view.boxes[0].text, QStringLiteral("Check sum error %1!").arg(failure));
        QCOMPARE(l.view.boxes[0].title, l.T(Txt::Error));
        QCOMPARE(l.view.boxes[0].style, 16);
        QCOMPARE(l.view.rows.size(), std::size_t{2});
        QCOMPARE(l.view.rows[1].status, "...");
        QCOMPARE(l.resets, 0);
        l.VerifyNothingWritten();
    }

    void kindChoice_data() {
        QTest::addColumn<int>("n1");
        QTest::addColumn<int>("n2");
        QTest::addColumn<int>("count2Field");  // -1: as the encoder writes it
        QTest::addColumn<int>("kind");
        QTest::newRow("selector = first count") << 2 << -1 << -1 << int(fwr::Kind::CodeOnly);
        QTest::newRow("selector = both counts") << 2 << -1 << 2 << int(fwr::Kind::CodeOnly);
        QTest::newRow("selector = second count") << -1 << 3 << -1 << int(fwr::Kind::Code2Only);
        QTest::newRow("selector = neither") << 2 << 3 << -1 << int(fwr::Kind::CodeAndCode2);
    }
    void kindChoice() {
        QFETCH(int, n1);
        QFETCH(int, n2);
        QFETCH(int, count2Field);
        QFETCH(int, kind);
        fwr::EncodeInput in = Input(std::max(n1, 0), 0x21);
        if (n1 < 0)
            in.image1.reset();
        if (n2 >= 0)
            in.image2 = Pattern(std::size_t(n2) * 128, 2);
        if (count2Field >= 0)
            in.count2Field = static_cast<std::uint16_t>(count2Field);
        in.code2Parameter = 0x0B0C;
        in.firstWord1 = 0x100;
        in.firstWord2 = 0x400;
        std::vector<std::uint8_t> file = FileOf(in);
        if (kind == int(fwr::Kind::CodeAndCode2)) {
            // The unused record looks like a good block: taking it would shift the second image.
            const auto skipped = file.begin() + (n1 + 1) * 131;
            std::fill(skipped, skipped + 131, 0);
            skipped[1] = 0x40;
        }
        Loader l;
        l.Write(file);
        QVERIFY(l.Run());
        const FirmwareImage& fw = l.session.firmware;
        QCOMPARE(fw.CodeOnly, kind == int(fwr::Kind::CodeOnly));
        QCOMPARE(fw.Code2Only, kind == int(fwr::Kind::Code2Only));
        QCOMPARE(fw.CodeAndCode2, kind == int(fwr::Kind::CodeAndCode2));
        const bool first = kind != int(fwr::Kind::Code2Only), second = kind != int(fwr::Kind::CodeOnly);
        QCOMPARE(fw.CodeBlockCount, first ? n1 : 0);
        QCOMPARE(fw.Code2BlockCount, second ? n2 : 0);
        QCOMPARE(fw.CodeChecksum, first ? n1 * 0x21 : 0);
        QCOMPARE(fw.Code2Checksum, second ? n2 * 0x21 : 0);
        QCOMPARE(fw.Code2Parameter, second ? 0x0B0C : 0);
        QCOMPARE(fw.Code2Sum, kind == int(fwr::Kind::CodeAndCode2) ? n2 * 0x21 : 0);
        QCOMPARE(fw.CodeBlocks.size(), std::size_t(fw.CodeBlockCount));
        QCOMPARE(fw.Code2Blocks.size(), std::size_t(fw.Code2BlockCount));
        for (std::size_t b = 0; b < fw.Code2Blocks.size(); ++b) {
            QCOMPARE(fw.Code2Blocks[b][0], int(0x400 + 8 * b));
            QCOMPARE(fw.Code2Blocks[b][1], int((*in.image2)[b * 128]));
            QCOMPARE(fw.Code2Blocks[b][128], int((*in.image2)[b * 128 + 127]));
        }
        if (first)
            QCOMPARE(fw.CodeBlocks[0][0], 0x100);
    }

    void sumWrapsAt65536() {
        // 300 x 255 = 76,500 = 65,536 + 10,964.
        fwr::EncodeInput in = Input(300, 255);
        in.checksum1 = 10964;
        Loader l;
        l.Write(FileOf(in));
        QVERIFY(l.Run());
        QCOMPARE(l.session.firmware.CodeChecksum, 10964);
        QCOMPARE(fwr::Decode(FileOf(in)).codeSum, 10964);
    }

    void versionRow_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("sub");
        QTest::addColumn<QString>("shown");
        const int only1 = int(fwr::Kind::CodeOnly), only2 = int(fwr::Kind::Code2Only);
        const int both = int(fwr::Kind::CodeAndCode2);
        QTest::newRow("first only, 5") << only1 << 5 << "1B.05";
        QTest::newRow("first only, 1") << only1 << 1 << "1B.01";
        QTest::newRow("first only, 99") << only1 << 99 << "1B.99";
        QTest::newRow("first only, 0") << only1 << 0 << "1B";
        QTest::newRow("first only, 100") << only1 << 100 << "1B";
        QTest::newRow("first only, 123") << only1 << 123 << "1B";
        QTest::newRow("second only, 0") << only2 << 0 << "1B.00";
        QTest::newRow("second only, 123") << only2 << 123 << "1B.123";
        QTest::newRow("both, 7") << both << 7 << "1B.07";
        QTest::newRow("both, 255") << both << 255 << "1B.255";
    }
    void versionRow() {
        QFETCH(int, kind);
        QFETCH(int, sub);
        QFETCH(QString, shown);
        fwr::EncodeInput in = Input(1);
        in.subVersion = static_cast<std::uint8_t>(sub);
        if (kind != int(fwr::Kind::CodeOnly))
            in.image2 = Pattern(128, 3);
        if (kind == int(fwr::Kind::Code2Only))
            in.image1.reset();
        Loader l;
        l.Write(FileOf(in));
        QVERIFY(l.Run());
        QCOMPARE(l.view.rows.back().event, "KAV 1F, " + l.T(Txt::FirmwareVersion) + ": " + shown);
        QCOMPARE(l.view.rows.back().icon, int(IconInformation));
    }

    void lowestDeviceVersion_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QString>("minVersion");
        QTest::addColumn<int>("suffix");
        QTest::newRow("as shipped") << kResource << "1A" << 0;
        QTest::newRow("suffix 05") << "a|b|c|d|1A05"
                                   << "1A" << 5;
        QTest::newRow("suffix 17") << "a|b|c|d|2B17"
                                   << "2B" << 17;
        QTest::newRow("digit, letter") << "a|b|c|d|1A7x"
                                       << "1A" << 7;
        QTest::newRow("letter, digit") << "a|b|c|d|1Ax7"
                                       << "1A" << 0;
        QTest::newRow("three characters") << "a|b|c|d|1A3"
                                          << "1A" << 0;
        QTest::newRow("six fields") << "a|b|c|d|1C|e"
                                    << "1C" << 0;
    }
    void lowestDeviceVersion() {
        QFETCH(QString, resource);
        QFETCH(QString, minVersion);
        QFETCH(int, suffix);
        Loader l;
        l.Write(FileOf(Input(1)));
        QVERIFY(l.Run(resource));
        QCOMPARE(l.session.firmware.MinDeviceVersion, minVersion);
        QCOMPARE(int(l.session.firmware.VersionSuffix), suffix);
    }

    void receiveBuffersFollowTheMemorySize_data() {
        QTest::addColumn<int>("memory");
        QTest::addColumn<int>("bytes");
        QTest::newRow("1") << 1 << 138;
        QTest::newRow("512") << 512 << 69634;
        QTest::newRow("1024") << 1024 << 139266;
    }
    void receiveBuffersFollowTheMemorySize() {
        QFETCH(int, memory);
        QFETCH(int, bytes);
        fwr::EncodeInput in = Input(1);
        in.memorySize = static_cast<std::uint16_t>(memory);
        Loader l;
        l.Write(FileOf(in));
        QVERIFY(l.Run());
        QCOMPARE(l.session.link.ReceiveBuffer, std::vector<std::uint8_t>(std::size_t(bytes), 0));
        QCOMPARE(l.session.link.ReadBuffer, std::vector<std::uint8_t>(std::size_t(bytes), 0));
    }

    void encoderPadsAndNumbersBlocks() {
        fwr::EncodeInput in = Input(0);
        in.image1 = Pattern(300, 4);  // 3 blocks, the last one 44 bytes and 84 of padding
        in.image2 = Pattern(129, 5);  // 2 blocks
        in.words1 = {0x10, 0x7FFF, 0x0};
        in.recordKeyRule = fwr::RecordKeyRule::Random;
        in.key.reset();
        in.seed = 99;
        const fwr::Decoded d = fwr::Decode(FileOf(in));
        QVERIFY(d.Ok());
        QCOMPARE(fwr::ChecksumFailure(d), 0);
        QCOMPARE(d.kind, fwr::Kind::CodeAndCode2);
        QCOMPARE(d.codeBlocks[1][0], 0x7FFF);
        QCOMPARE(d.code2Blocks[0][0], 0x0 + 3 * 8);  // continues after the first image's first word
        QCOMPARE(d.code2Blocks[1][0], 0x0 + 4 * 8);
        QCOMPARE(d.codeBlocks[2][44], int((*in.image1)[299]));
        QCOMPARE(d.codeBlocks[2][45], 0xFF);
        QCOMPARE(d.codeBlocks[2][128], 0xFF);
        QCOMPARE(d.code2Blocks[1][1], int((*in.image2)[128]));
        QCOMPARE(d.code2Blocks[1][2], 0xFF);
        QCOMPARE(d.header.modelName, "KAV 1F");
        QCOMPARE(fwr::Encode(in).file, FileOf(in));  // one seed, one file
    }

    void encoderRefuses_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("key byte equals a name character") << 0;
        QTest::newRow("strings too long for the header") << 1;
        QTest::newRow("block word above 0x7FFF") << 2;
        QTest::newRow("1025 blocks") << 3;
        QTest::newRow("three-character version") << 4;
        QTest::newRow("no image") << 5;
    }
    void encoderRefuses() {
        QFETCH(int, fault);
        fwr::EncodeInput in = Input(2);
        switch (fault) {
            case 0:
                in.modelName = "Kx";
                in.key->at(1) = 'x';
                break;
            case 1:
                in.modelName = std::string(60, 'n');
                in.modelId = std::string(38, 'i');
                break;
            case 2:
                in.words1 = {0, 0x8000};
                break;
            case 3:
                in.image1 = std::vector<std::uint8_t>(1024 * 128 + 1);
                break;
            case 4:
                in.version = "1B1";
                break;
            default:
                in.image1.reset();
        }
        const fwr::Encoded e = fwr::Encode(in);
        QVERIFY(!e.ok);
        QVERIFY(e.file.empty());
        QVERIFY(!e.error.empty());
    }

    // pack -> inspect -> load -> unpack through the command line.
    void toolRoundTrip() {
        QTemporaryDir dir;
        const auto path = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
        const QByteArray image1 = QByteArray(200, 'a') + QByteArray(60, 'b');
        const QByteArray image2 = QByteArray(128, '\x7f');
        for (const auto& [name, bytes] : {std::pair{"a.bin", image1}, {"b.bin", image2}}) {
            QFile f(path(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        auto run = [](const QStringList& args) {
            QProcess p;
            p.start(QStringLiteral(KAV_FWR_PATH), args);
            p.waitForFinished(20000);
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QStringList pack = {"pack",
                                  "--out",
                                  path("t.fwr"),
                                  "--model-number",
                                  "600",
                                  "--version",
                                  "2C",
                                  "--name",
                                  "Model Ü",
                                  "--id",
                                  "M1",
                                  "--image",
                                  path("a.bin"),
                                  "--image2",
                                  path("b.bin"),
                                  "--key",
                                  "0102030405060708",
                                  "--record-key",
                                  "9",
                                  "--code2-parameter",
                                  "4660",
                                  "--first-word",
                                  "0x20"};
        QCOMPARE(run(pack), 0);
        QCOMPARE(run({"inspect", path("t.fwr")}), 0);
        QCOMPARE(run({"unpack", path("t.fwr"), "--out", path("out")}), 0);
        QFile u1(path("out/image1.bin")), u2(path("out/image2.bin")), words(path("out/words.txt"));
        QVERIFY(u1.open(QIODevice::ReadOnly) && u2.open(QIODevice::ReadOnly) &&
                words.open(QIODevice::ReadOnly));
        QCOMPARE(u1.readAll(), image1 + QByteArray(3 * 128 - 260, '\xff'));
        QCOMPARE(u2.readAll(), image2);
        QCOMPARE(QString::fromUtf8(words.readAll()).split('\n', Qt::SkipEmptyParts),
                 QStringList({"0x0020", "0x0028", "0x0030", "0x0038"}));

        Loader l;
        QVERIFY(QFile::copy(path("t.fwr"), l.session.wizard.FirmwareFilePath));
        QVERIFY(l.Run());
        const FirmwareImage& fw = l.session.firmware;
        QVERIFY(fw.CodeAndCode2);
        QCOMPARE(fw.FwrModelName, QStringLiteral("Model Ü"));
        QCOMPARE(fw.FwrModelNumber, 600);
        QCOMPARE(fw.CodeChecksum, 3 * 9);
        QCOMPARE(fw.Code2Checksum, 9);
        QCOMPARE(fw.Code2Parameter, 4660);
        QCOMPARE(l.view.rows.back().event, "Model Ü, " + l.T(Txt::FirmwareVersion) + ": 2C.05");

        QCOMPARE(run(QStringList(pack) << "--bad-checksum"), 0);
        QCOMPARE(run({"inspect", path("t.fwr")}), 1);
        QCOMPARE(run({"pack", "--out", path("x.fwr")}), 2);  // no image
    }
};

QTEST_GUILESS_MAIN(FirmwareLoaderTest)
#include "test_firmware_loader.moc"
