// The profile backup on the simulated DC: the file's bytes, the range read, and every way the backup can fail
// without a firmware byte reaching the DC.
#include <QtTest>
#include <numeric>

#include "fakes/update_fixture.h"
#include "firmware/update_driver.h"
#include "profile/backup.h"
#include "profile/backup_file.h"

namespace {

using Frame = std::vector<std::uint8_t>;

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Frame ReadOf(int unit) {
    return {0xB4, std::uint8_t(unit >> 8), std::uint8_t(unit & 0xFF), 0x00};
}

// Header bytes 8..11 written into the DC's block 0 the way a record reaches it.
void SetPointerBytes(UpdateFixture& f, std::array<std::uint8_t, 4> bytes) {
    auto& record = f.session.link.BlockBuffer;
    const auto& memory = f.sim.Device().Memory();
    std::copy(memory.begin() + 64, memory.begin() + 80, record.begin());
    std::copy(bytes.begin(), bytes.end(), record.begin() + 8);
    record[16] = std::uint8_t(std::accumulate(record.begin(), record.begin() + 16, 0) % 256);
    f.comm->WriteRecord(4);
    QVERIFY(!f.session.UpdateAborted);
    f.sim.Serial().ClearRecord();
}

// Rows after the identification and the version row of an update whose backup failed: nothing written.
void UpdateStoppedBeforeWriting(UpdateFixture& f) {
    QVERIFY(!UpdateFirmware(*f.context));
    QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB7, 4) + f.Count(0xB2, 4), 0);
    QCOMPARE(f.sim.Device().Installs(), 0);
    const auto& rows = f.view.rows;
    QCOMPARE(rows[rows.size() - 2].event, f.Text(Txt::UpdateNotCompleted));
    QCOMPARE(rows.back().event, f.Text(Txt::UpdateRetryHint));
    QVERIFY(f.session.wizard.ProfileRestored);  // nothing was written: nothing to recover
    const auto failed = std::find_if(rows.begin(), rows.end(),
                                     [&](const auto& r) { return r.event == f.Text(Txt::BackupFailed); });
    QVERIFY(failed != rows.end());
    QCOMPARE(failed->icon, 2);
    QCOMPARE((failed - 1)->status, f.Text(Txt::Error));
}

}  // namespace

class ProfileBackupTest : public QObject {
    Q_OBJECT

private slots:
    void fileHoldsTheRange_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("memory");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("firstUnit");
        QTest::addColumn<int>("lastUnit");
        QTest::newRow("wrapped ring, 512") << 2000 << 1000 << 512 << 476 << 256 << 4056;
        QTest::newRow("wrapped ring, 1024") << 2000 << 1000 << 1024 << 988 << 256 << 8152;
        QTest::newRow("units 300..310: two blocks") << 300 << 310 << 512 << 2 << 296 << 304;
        QTest::newRow("units 100..200: raised to one block at 256") << 100 << 200 << 512 << 1 << 256 << 256;
    }
    void fileHoldsTheRange() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, memory);
        QFETCH(int, blocks);
        QFETCH(int, firstUnit);
        QFETCH(int, lastUnit);
        DcConfig dc;
        dc.profileStart = start;
        dc.profileEnd = end;
        dc.memoryCode = memory;
        TestFirmware fw;
        fw.memory = std::uint16_t(memory);
        UpdateFixture f(dc, fw);

        BackupProfile(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QVERIFY(f.session.profile.ProfileBackupActive);
        QCOMPARE(int(f.session.profile.ProfileBlockCount), blocks);
        QCOMPARE(f.Count(0xB4, 4), 1 + blocks);
        QCOMPARE(f.sim.Sent()[1], ReadOf(firstUnit));
        QCOMPARE(f.sim.Sent().back(), ReadOf(lastUnit));
        const QByteArray file = FileBytes(f.BackupPath());
        QCOMPARE(file.size(), 266274);
        QVERIFY(file == ExpectedBackupFile(f.sim.Device().Memory(), memory));
        QCOMPARE(f.view.rows.back().event, QStringLiteral("Backup dive computer profile"));
        QCOMPARE(f.view.rows.back().status, f.Text(Txt::Done));
    }

    void pointerDecoding_data() {
        QTest::addColumn<int>("memory");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("refused");  // more blocks than the table holds
        QTest::newRow("512: byte addresses") << 512 << 0x123 << 0x567 << false;
        QTest::newRow("2048 decodes like 512") << 2048 << 0x123 << 0x567 << false;
        QTest::newRow("1024: unit numbers, 2186 blocks") << 1024 << 0x1234 << 0x5678 << true;
    }
    void pointerDecoding() {
        QFETCH(int, memory);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(bool, refused);
        TestFirmware fw;
        fw.memory = std::uint16_t(memory);
        UpdateFixture f({}, fw);
        SetPointerBytes(f, {0x34, 0x12, 0x78, 0x56});

        BackupProfile(*f.context);
        QCOMPARE(f.session.profile.ProfileStart, start);
        QCOMPARE(f.session.profile.ProfileEnd, end);
        QCOMPARE(f.session.UpdateAborted, refused);
        if (refused) {
            QCOMPARE(f.sim.Sent().size(), std::size_t(1));
            QVERIFY(!QFile::exists(f.BackupPath()));
            QCOMPARE(f.view.rows.back().event, f.Text(Txt::BackupFailed));
            QCOMPARE(f.resets, 1);
        } else {
            QCOMPARE(f.sim.Sent()[1], ReadOf(start / 8 * 8));
            QCOMPARE(f.sim.Sent().back(), ReadOf(end / 8 * 8));
            QVERIFY(FileBytes(f.BackupPath()) == ExpectedBackupFile(f.sim.Device().Memory(), 512));
        }
    }

    void emptyRangeIsNoBackup() {
        DcConfig dc;
        dc.profileStart = dc.profileEnd = 700;
        UpdateFixture f(dc);
        BackupProfile(*f.context);
        QVERIFY(!f.session.profile.ProfileBackupActive);
        QVERIFY(!f.session.UpdateAborted);
        QVERIFY(f.view.rows.empty());
        QCOMPARE(f.sim.Sent().size(), std::size_t(1));
        QVERIFY(QDir(f.appDir.path()).entryList({"*.bin"}).isEmpty());
    }

    void existingFile_data() {
        QTest::addColumn<int>("serial");  // of the DC the file was taken from
        QTest::addColumn<bool>("emptyRange");
        QTest::addColumn<bool>("kept");
        QTest::newRow("this DC's backup: kept, DC not read") << 210417 << false << true;
        QTest::newRow("other serial digits: replaced") << 123456 << false << false;
        QTest::newRow("other serial digits, empty range: replaced") << 123456 << true << false;
        QTest::newRow("empty range: replaced") << 210417 << true << false;
    }
    void existingFile() {
        QFETCH(int, serial);
        QFETCH(bool, emptyRange);
        QFETCH(bool, kept);
        UpdateFixture f;
        DcConfig earlier;
        earlier.seed = 7;
        earlier.serialNumber = serial;
        if (emptyRange)
            earlier.profileEnd = earlier.profileStart;
        const QByteArray placed = ExpectedBackupFile(DcModel(earlier).Memory(), 512);
        f.PlaceBackup(placed);
        f.tasks.InsertTaskList(1, QStringLiteral("version row"), QString());

        BackupProfile(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(f.Count(0xB4, 4), kept ? 1 : 129);
        const QByteArray expected = kept ? placed : ExpectedBackupFile(f.sim.Device().Memory(), 512);
        QVERIFY(FileBytes(f.BackupPath()) == expected);
        QCOMPARE(f.view.rows.size(), std::size_t(kept ? 1 : 2));
        QCOMPARE(f.view.rows.back().status, f.Text(Txt::Done));
        QCOMPARE(int(f.session.profile.ProfileBlockCount), 128);
        QVERIFY(EncodeBackup(f.session.profile) == expected);  // the tables the restore will write
    }

    void damagedFileIsLeftAlone_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("cell");  // 16-bit value put at row 3, column 5
        QTest::newRow("too short") << 1000 << 0;
        QTest::newRow("one byte too long") << 266275 << 0;
        QTest::newRow("a byte cell of 300") << 266274 << 300;
        QTest::newRow("a byte cell of -1") << 266274 << -1;
    }
    void damagedFileIsLeftAlone() {
        QFETCH(int, length);
        QFETCH(int, cell);
        UpdateFixture f;
        QByteArray placed = ExpectedBackupFile(f.sim.Device().Memory(), 512);
        placed.resize(length, '\x01');
        if (cell) {
            const int at = 34 + 2 * (1024 * 5 + 3);
            placed[at] = char(cell & 0xFF);
            placed[at + 1] = char((cell >> 8) & 0xFF);
        }
        f.PlaceBackup(placed);

        UpdateStoppedBeforeWriting(f);
        QCOMPARE(f.Count(0xB4, 4), 1);
        QVERIFY(FileBytes(f.BackupPath()) == placed);
        const auto& rows = f.view.rows;
        const QString told =
            f.Text(Txt::BackupFileDamaged).section(QStringLiteral("%1"), 0, 0) + f.BackupPath();
        QVERIFY(std::any_of(rows.begin(), rows.end(),
                            [&](const auto& r) { return r.icon == 2 && r.event.startsWith(told); }));
    }

    void unwritableFileFailsTheBackup_data() {
        QTest::addColumn<bool>("folderInTheWay");
        QTest::newRow("a folder where the file belongs") << true;
        QTest::newRow("no application folder") << false;
    }
    void unwritableFileFailsTheBackup() {
        QFETCH(bool, folderInTheWay);
        UpdateFixture f;
        if (folderInTheWay) {
            QVERIFY(QDir().mkdir(f.BackupPath()));
        } else {
            f.session.AppDir = f.appDir.filePath(QStringLiteral("gone"));
        }
        const QString path = QDir(f.session.AppDir).filePath(QStringLiteral("513.210417.bin"));

        UpdateStoppedBeforeWriting(f);
        QCOMPARE(f.Count(0xB4, 4), 129);
        QVERIFY(!QFileInfo(path).isFile());
        const QString told = f.Text(Txt::BackupFileNotWritten).section(QStringLiteral("%1"), 0, 0) + path;
        QCOMPARE(f.view.rows[f.view.rows.size() - 3].icon, 2);
        QVERIFY(f.view.rows[f.view.rows.size() - 3].event.startsWith(told));
    }

    void failedReadTakesNoBackup_data() {
        QTest::addColumn<int>("blocksRead");    // before the one that goes unanswered; block 0 not counted
        QTest::addColumn<bool>("earlierFile");  // another DC's file under this DC's name
        QTest::newRow("block 0, no file") << -1 << false;
        QTest::newRow("block 0, a file that must stay") << -1 << true;
        QTest::newRow("the eighth block") << 7 << false;
    }
    void failedReadTakesNoBackup() {
        QFETCH(int, blocksRead);
        QFETCH(bool, earlierFile);
        DcConfig dc;
        dc.faults.silenceStartFrame = 3 + blocksRead;  // after the identification and the blocks read
        dc.faults.silenceFrameCount = 5;
        UpdateFixture f(dc);
        DcConfig other;
        other.serialNumber = 123456;
        const QByteArray placed = ExpectedBackupFile(DcModel(other).Memory(), 512);
        if (earlierFile)
            f.PlaceBackup(placed);

        UpdateStoppedBeforeWriting(f);
        QCOMPARE(f.Count(0xB4, 4), 1 + blocksRead + 5);  // block 0, the blocks read, 5 tries: then it stops
        QCOMPARE(FileBytes(f.BackupPath()), earlierFile ? placed : QByteArray());
    }

    void progressOfEightBlocks() {
        DcConfig dc;
        dc.profileEnd = 319;
        UpdateFixture f(dc);
        BackupProfile(*f.context);
        QCOMPARE(f.StatusesAt(0xB4, 4),
                 (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
        QCOMPARE(f.view.rows.back().status, f.Text(Txt::Done));
    }
};

QTEST_GUILESS_MAIN(ProfileBackupTest)
#include "test_profile_backup.moc"
