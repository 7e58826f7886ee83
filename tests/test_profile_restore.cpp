// Writing a saved profile back into the simulated DC: blocks, the record-wise retry, the header check, and
// the clock set in every outcome.
#include <QtTest>
#include <numeric>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/restore.h"

namespace {

using Frame = std::vector<std::uint8_t>;

// Relative: the DC reads a record's unit as 0xB5 does (+ 256); RecordRefused: so, but one record address is
// refused; Awake: the DC has left Deep Sleep.
enum Fault { None, HeaderRefused, ReadBackSilent, NoBlocks, Relative, RecordRefused, WrongCheck, Awake };

// The units the 4-byte frames of this command named, in order.
QList<int> Addresses(const UpdateFixture& f, std::uint8_t command) {
    QList<int> units;
    for (const auto& frame : f.sim.Sent())
        if (frame.size() == 4 && frame[0] == command)
            units << frame[1] * 256 + frame[2];
    return units;
}

}  // namespace

class ProfileRestoreTest : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("refused");  // the unit whose block write is refused, -1 for none
        QTest::addColumn<int>("start");    // of a range of four blocks
        QTest::addColumn<int>("failure");  // the text of the failure row, 0 for a confirmed restore
        QTest::addColumn<QList<int>>("records");
        QTest::addColumn<QList<int>>("reads");  // units read after the backup's block 0
        QTest::addColumn<int>("placed");        // blocks back at their own units, from the first
        QList<int> retried(16);  // stored addresses 3056, 3064, 3072, 3080: the third and fourth as records
        std::iota(retried.begin(), retried.end(), 3072);
        using L = QList<int>;
        QTest::newRow("confirmed") << int(None) << -1 << 256 << 0 << L{4} << L{0} << 4;
        QTest::newRow("records read as absolute units: read back differs")
            << int(None) << 3072 << 3312 << 790 << retried << L{3328} << 2;
        QTest::newRow("records read as relative units: read back, confirmed")
            << int(Relative) << 3072 << 3312 << 0 << retried + L{4} << L{3328, 3336, 0} << 4;
        QTest::newRow("a record refused: the rest still sent, then failed")
            << int(RecordRefused) << 3072 << 3312 << 790 << retried << L{} << 2;
        QTest::newRow("block at 3088 not retried") << int(None) << 3088 << 3320 << 790 << L{} << L{} << 3;
        QTest::newRow("header differs after its write was refused")
            << int(HeaderRefused) << -1 << 256 << 816 << L{4} << L{0} << 4;
        QTest::newRow("stale header read-back")
            << int(ReadBackSilent) << -1 << 256 << 816 << L{4} << L{0, 0, 0, 0, 0} << 4;
        QTest::newRow("no blocks: the header still checked")
            << int(NoBlocks) << -1 << 256 << 0 << L{4} << L{0} << 0;
        QTest::newRow("wrong check byte: block refused")
            << int(WrongCheck) << -1 << 256 << 790 << L{} << L{} << 1;
        QTest::newRow("DC out of Deep Sleep: writes refused")
            << int(Awake) << -1 << 256 << 790 << L{} << L{} << 0;
    }
    void outcomes() {
        QFETCH(int, fault);
        QFETCH(int, refused);
        QFETCH(int, start);
        QFETCH(int, failure);
        QFETCH(QList<int>, records);
        QFETCH(QList<int>, reads);
        QFETCH(int, placed);
        DcConfig dc = ProfileDc(start, start + 31);
        dc.relativeRecords = fault == Relative || fault == RecordRefused;
        if (refused >= 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4, refused});
        if (fault == HeaderRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Data, 100, 4});
        if (fault == RecordRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Command, 1, 3077});
        // Block 0 for the file, four blocks of two frames, the header's two; then all five reads are lost.
        if (fault == ReadBackSilent)
            dc.faults.silenceStartFrame = 1 + 8 + 2 + 1, dc.faults.silenceFrameCount = 5;
        UpdateFixture f(dc);
        const auto saved = DcModel(ProfileDc(start, start + 31, 7)).Memory();  // other dives
        f.PlaceFile(ExpectedBackupFile(saved, 512));
        QCOMPARE(GetBackupProfile(*f.context), BackupLookup::Usable);
        auto& header = f.session.profile.ProfileHeader;
        // The buffer still holds the DC's block 0: it must not pass for the answer to the read-back. A DC
        // that reads records as relative units puts the header record at unit 260: block 0 keeps the DC's
        // header.
        if (fault == ReadBackSilent || fault == Relative) {
            const auto& m = f.sim.Device().Memory();
            std::copy(m.begin() + 64, m.begin() + 80, header.begin());
            header[16] = std::uint8_t(std::accumulate(m.begin() + 64, m.begin() + 80, 0));
        }
        if (fault == HeaderRefused) {  // a saved header other than the DC's, with its sum
            header[10] = std::uint8_t(header[10] + 16);
            header[16] = std::uint8_t(header[16] + 16);
        }
        if (fault == NoBlocks)
            f.session.profile.ProfileBlockCount = 0;
        if (fault == WrongCheck)
            f.session.profile.ProfileBlocks[1][129] ^= 1;
        if (fault == Awake) {
            f.session.EnterDeepSleep = false;
            QVERIFY(f.comm->SetDeepSleep());
        }
        Frame record(header.begin(), header.end());
        record.push_back(0x00);

        RestoreProfile(*f.context);
        const auto& rows = f.view.rows;
        QCOMPARE(rows.size(), std::size_t(failure ? 2 : 1));
        QCOMPARE(rows.front().event + rows.front().status,
                 f.Text(Txt::RestoringProfile) + f.Text(failure ? Txt::Error : Txt::Done));
        QCOMPARE(rows.back().event, f.Text(failure ? Txt(failure) : Txt::RestoringProfile));
        QCOMPARE(f.session.wizard.ProfileRestored, failure == 0);
        QCOMPARE(QFile::exists(f.BackupPath()), failure != 0);
        QCOMPARE(f.resets, failure ? 1 : 0);
        QCOMPARE(Addresses(f, 0xB2), records);
        QCOMPARE(Addresses(f, 0xB4).mid(1), reads);
        const auto& sent = f.sim.Sent();  // the clock is set last, after any ResetStage
        QCOMPARE(sent[sent.size() - 2], (Frame{0x97, 0x00}));
        QCOMPARE(int(f.sim.Device().DeviceClock().value_or(DcClockRecord{}).value), fault == Awake ? 0 : 233);
        QVERIFY(f.resetAt.empty() || f.resetAt.back() <= sent.size() - 2);
        const auto at = std::find(sent.begin(), sent.end(), Frame{0xB2, 0x00, 0x04, 0x00});
        if (records.contains(4)) {  // the header record, judged by a read of block 0 after it
            QCOMPARE(*(at + 1), record);
            QVERIFY(std::find(at, sent.end(), Frame{0xB4, 0x00, 0x00, 0x00}) != sent.end());
        }
        if (fault == Relative)  // the read-back goes between the last record and the header record
            QVERIFY(std::find(sent.begin(), sent.end(), Frame{0xB2, 0x0C, 0x0F, 0x00}) <
                        std::find(sent.begin(), sent.end(), Frame{0xB4, 0x0D, 0x00, 0x00}) &&
                    std::find(sent.begin(), sent.end(), Frame{0xB4, 0x0D, 0x08, 0x00}) < at);
        if (start == 256 && failure != 790)  // the blocks go from address 0
            QCOMPARE(Addresses(f, 0xB5), (fault == NoBlocks ? QList<int>{} : QList<int>{0, 8, 16, 24}));

        // Blocks go back where they were read.
        const int first = start / 8 * 8;
        QVERIFY(Units(f.sim.Device().Memory(), first, first + placed * 8 - 1) ==
                Units(saved, first, first + placed * 8 - 1));
        QVERIFY(failure == 816 || f.session.UpdateAborted == (failure == 790));  // 816: as the link left it
    }
};

QTEST_GUILESS_MAIN(ProfileRestoreTest)
#include "test_profile_restore.moc"
