// The profile backup on the simulated DC: the file's bytes, the range read, and every way the backup can fail
// without a firmware byte reaching the DC.
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QtTest>
#include <csignal>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/backup_file.h"
#include "update/update_driver.h"

enum Trouble { Damaged, FolderInTheWay, ReadOnlyFolder, FullDisk, Block0Silent, Block8Silent, LateRead };

// For its lifetime: the folder read-only (for root too, whose file-system identity becomes nobody's), or a
// full disk (files limited to 64 KiB).
struct DiskTrouble {
    DiskTrouble(int kind, const QString& path) : folder(path) {
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit small{64 * 1024, saved.rlim_max};
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        if (kind == ReadOnlyFolder && QFile::setPermissions(folder, readOnly))
            setfsuid(geteuid() == 0 ? 65534 : geteuid());
        if (kind == FullDisk && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR)
            setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskTrouble() {
        setfsuid(geteuid());
        setrlimit(RLIMIT_FSIZE, &saved);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString folder;
    rlimit saved{};
};

class ProfileBackupTest : public QObject {
    Q_OBJECT

private slots:
    void fileHoldsTheRange_data() {
        QTest::addColumn<int>("memory");     // of the DC and in the firmware file
        QTest::addColumn<bool>("pointers");  // header bytes 8..11 set to 0x1234, 0x5678; else the DC's range
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("blocks");  // -1: refused, more than the table holds
        QTest::newRow("wrapped ring, 512") << 512 << false << 2000 << 1000 << 476;
        QTest::newRow("wrapped ring, 1024") << 1024 << false << 2000 << 1000 << 988;
        QTest::newRow("units 100..200: one block at 256") << 512 << false << 100 << 200 << 1;
        QTest::newRow("empty range: no backup") << 512 << false << 700 << 700 << 0;
        QTest::newRow("512: byte addresses") << 512 << true << 0x123 << 0x567 << 137;
        QTest::newRow("2048 decodes like 512") << 2048 << true << 0x123 << 0x567 << 137;
        QTest::newRow("1024: unit numbers, 2186 blocks") << 1024 << true << 0x1234 << 0x5678 << -1;
    }
    void fileHoldsTheRange() {
        QFETCH(int, memory);
        QFETCH(bool, pointers);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, blocks);
        DcConfig dc = pointers ? DcConfig{} : ProfileDc(start, end);
        dc.memoryCode = memory;
        UpdateFixture f(dc, TestFirmware{.memory = std::uint16_t(memory)});
        const auto& m = f.sim.Device().Memory();
        if (pointers) {  // written into the DC's block 0 the way a record reaches it
            DeviceLink::RecordFrame record{};
            std::copy(m.begin() + 64, m.begin() + 80, record.begin());
            std::ranges::copy(std::array<std::uint8_t, 4>{0x34, 0x12, 0x78, 0x56}, record.begin() + 8);
            record[16] = std::uint8_t(std::accumulate(record.begin(), record.begin() + 16, 0) % 256);
            f.link.WriteRecord(4, record);
            f.sim.Serial().ClearRecord();
        }

        QCOMPARE(BackupProfile(*f.context), blocks >= 0);
        if (pointers) {
            QCOMPARE(f.session.profile.ProfileStart, start);
            QCOMPARE(f.session.profile.ProfileEnd, end);
        }
        QCOMPARE(f.session.profile.ProfileBackupActive, blocks != 0);  // a refusal leaves it to the update
        QCOMPARE(f.Count(0xB4, 4), 1 + std::max(blocks, 0));
        QCOMPARE(f.resets, blocks < 0 ? 1 : 0);
        if (blocks > 0)
            QVERIFY(FileBytes(f.BackupPath()) == ExpectedBackupFile(m, memory));
        else
            QVERIFY(QDir(f.appDir.path()).entryList({"*.bin"}).isEmpty());
    }

    void existingFile_data() {
        QTest::addColumn<int>("serial");  // of the DC the file was taken from
        QTest::addColumn<bool>("emptyRange");
        QTest::addColumn<bool>("kept");
        QTest::newRow("this DC's backup: kept, DC not read") << 210417 << false << true;
        QTest::newRow("other serial digits: replaced") << 123456 << false << false;
        QTest::newRow("empty range: replaced") << 210417 << true << false;
    }
    void existingFile() {
        QFETCH(int, serial);
        QFETCH(bool, emptyRange);
        QFETCH(bool, kept);
        UpdateFixture f;
        const QByteArray placed =
            ExpectedBackupFile(DcModel(ProfileDc(256, emptyRange ? 256 : 1279, 7, serial)).Memory(), 512);
        f.PlaceFile(placed);
        QVERIFY(BackupProfile(*f.context));
        QCOMPARE(f.Count(0xB4, 4), kept ? 1 : 129);
        const QByteArray expected = kept ? placed : ExpectedBackupFile(f.sim.Device().Memory(), 512);
        QVERIFY(FileBytes(f.BackupPath()) == expected);
        QCOMPARE(int(f.session.profile.ProfileBlockCount), 128);
        QVERIFY(EncodeBackup(f.session.profile) == expected);  // the tables the restore will write
    }

    // A damaged or unwritable file, a read-only folder, a full disk or a read that gets no answer: the update
    // stops, the file stays as it was.
    void failedBackupWritesNothing_data() {
        QTest::addColumn<QByteArray>("placed");  // the file before and after
        QTest::addColumn<int>("trouble");
        QTest::addColumn<int>("reads");  // B4 frames until it stops; negative: more than that many
        const QByteArray own = ExpectedBackupFile(DcModel(DcConfig{}).Memory(), 512),
                         other = ExpectedBackupFile(DcModel(ProfileDc(256, 1279, 1, 123456)).Memory(), 512),
                         emptyRange = ExpectedBackupFile(DcModel(ProfileDc(256, 256)).Memory(), 512);
        QByteArray cell = own;
        cell[35 + 2 * (1024 * 5 + 3)] = 1;  // row 3, column 5: above 255, no byte
        QTest::newRow("too short") << own.left(1000) << int(Damaged) << 1;
        QTest::newRow("a byte cell above 255") << cell << int(Damaged) << 1;
        QTest::newRow("a folder where the file belongs") << QByteArray() << int(FolderInTheWay) << 129;
        // An earlier backup of this DC that a fresh one would replace.
        QTest::newRow("a read-only folder") << emptyRange << int(ReadOnlyFolder) << 129;
        QTest::newRow("a full disk") << emptyRange << int(FullDisk) << 129;
        // Five tries of the read that goes unanswered, after block 0 and the blocks before it.
        QTest::newRow("block 0 unread, another DC's file stays") << other << int(Block0Silent) << 5;
        QTest::newRow("the eighth block unread") << QByteArray() << int(Block8Silent) << 1 + 7 + 5;
        // Every later read one behind its request: the second reading, after the line settled, disagrees.
        QTest::newRow("the third block answered late") << QByteArray() << int(LateRead) << -(1 + 128 + 1 + 1);
    }
    void failedBackupWritesNothing() {
        QFETCH(QByteArray, placed);
        QFETCH(int, trouble);
        QFETCH(int, reads);
        UpdateFixture f(WithFaults([&](DcFaults& x) {
            if (trouble == Block0Silent || trouble == Block8Silent)  // frames after the identification
                x.silenceStartFrame = trouble == Block8Silent ? 10 : 2, x.silenceFrameCount = 5;
            if (trouble == LateRead)
                x.lateFrame = 5, x.lateBy = 0.3;
        }));
        if (!placed.isEmpty())
            f.PlaceFile(placed);
        if (trouble == FolderInTheWay)
            QVERIFY(QDir().mkdir(f.BackupPath()));

        {
            DiskTrouble disk(trouble, f.appDir.path());
            QVERIFY(!UpdateFirmware(*f.context));
        }
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB7, 4) + f.Count(0xB2, 4) + f.sim.Device().Installs(), 0);
        QVERIFY2(reads < 0 ? f.Count(0xB4, 4) > -reads : f.Count(0xB4, 4) == reads,
                 qPrintable(QString::number(f.Count(0xB4, 4))));
        QCOMPARE(FileBytes(f.BackupPath()), placed);
        QVERIFY(f.session.profile.Restored);  // nothing was written: nothing to recover
        QStringList failures, events;
        for (const auto& r : f.view.rows)
            failures << (r.icon == 2 ? r.event : QString()), events << r.event;
        QVERIFY(failures.contains(f.Text(Txt::BackupFailed)));
        if (trouble <= FullDisk) {  // the user is told which file, and which folder needs what
            const Txt told = trouble == Damaged ? Txt::BackupFileDamaged : Txt::BackupFileNotWritten;
            QVERIFY(!failures.filter(f.Text(told).section("%1", 0, 0) + f.BackupPath()).isEmpty());
            QCOMPARE(events.contains(f.Text(Txt::BackupFolderHint).arg(f.appDir.path()).arg(kBackupFileSize)),
                     trouble != Damaged);
            QCOMPARE(QDir(f.appDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(),
                     placed.isEmpty() && trouble == Damaged ? 1 : 2);  // no half-written file left behind
        }
    }

    void progressOfEightBlocks() {
        UpdateFixture f(ProfileDc(256, 319));
        BackupProfile(*f.context);
        QCOMPARE(f.StatusesAt(0xB4, 4),
                 (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
    }
};

QTEST_GUILESS_MAIN(ProfileBackupTest)
#include "test_profile_backup.moc"
