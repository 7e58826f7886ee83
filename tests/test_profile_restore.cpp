// Writing a saved profile back into the simulated DC: blocks, the record-wise retry, the header check, and
// the clock set in every outcome.
#include <QtTest>
#include <numeric>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/restore.h"

namespace {

using Frame = std::vector<std::uint8_t>;

enum Fault { None, HeaderRefused, ReadBackSilent, NoBlocks };

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
        QList<int> retried(16);  // stored addresses 3056, 3064, 3072, 3080: the third and fourth as records
        std::iota(retried.begin(), retried.end(), 3072);
        QTest::newRow("confirmed") << int(None) << -1 << 256 << 0 << QList<int>{4};
        QTest::newRow("block at 3072 retried as records")
            << int(None) << 3072 << 3312 << 0 << retried + QList<int>{4};
        QTest::newRow("block at 3088 not retried") << int(None) << 3088 << 3320 << 790 << QList<int>{};
        QTest::newRow("header differs after its write was refused")
            << int(HeaderRefused) << -1 << 256 << 816 << QList<int>{4};
        QTest::newRow("stale header read-back") << int(ReadBackSilent) << -1 << 256 << 816 << QList<int>{4};
        QTest::newRow("no blocks: the header still checked")
            << int(NoBlocks) << -1 << 256 << 0 << QList<int>{4};
    }
    void outcomes() {
        QFETCH(int, fault);
        QFETCH(int, refused);
        QFETCH(int, start);
        QFETCH(int, failure);
        QFETCH(QList<int>, records);
        DcConfig dc = ProfileDc(start, start + 31);
        if (refused >= 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4, refused});
        if (fault == HeaderRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Data, 100, 4});
        // Block 0 for the file, four blocks of two frames, the header's two; then all five reads are lost.
        if (fault == ReadBackSilent)
            dc.faults.silenceStartFrame = 1 + 8 + 2 + 1, dc.faults.silenceFrameCount = 5;
        UpdateFixture f(dc);
        const auto saved = DcModel(ProfileDc(start, start + 31, 7)).Memory();  // other dives
        f.PlaceFile(ExpectedBackupFile(saved, 512));
        QCOMPARE(GetBackupProfile(*f.context), BackupLookup::Usable);
        auto& header = f.session.profile.ProfileHeader;
        // The buffer still holds the DC's block 0: it must not pass for the answer to the read-back.
        if (fault == ReadBackSilent) {
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
        const auto& sent = f.sim.Sent();  // the clock is set last, after any ResetStage
        QCOMPARE(sent[sent.size() - 2], (Frame{0x97, 0x00}));
        QCOMPARE(int(f.sim.Device().DeviceClock().value_or(DcClockRecord{}).value), 233);
        QVERIFY(f.resetAt.empty() || f.resetAt.back() <= sent.size() - 2);
        const auto at = std::find(sent.begin(), sent.end(), Frame{0xB2, 0x00, 0x04, 0x00});
        if (records.contains(4)) {  // the header record, judged by a read of block 0 after it
            QCOMPARE(*(at + 1), record);
            QVERIFY(std::find(at, sent.end(), Frame{0xB4, 0x00, 0x00, 0x00}) != sent.end());
        }
        if (start == 256)  // the blocks go from address 0
            QCOMPARE(Addresses(f, 0xB5), (fault == NoBlocks ? QList<int>{} : QList<int>{0, 8, 16, 24}));

        // Blocks go back where they were read; the retried ones went to the addresses the records named.
        const auto& memory = f.sim.Device().Memory();
        const int first = start / 8 * 8;
        const int written = fault == NoBlocks ? 0 : refused >= 0 ? (refused + 256 - first) / 8 : 4;
        QVERIFY(Units(memory, first, first + written * 8 - 1) ==
                Units(saved, first, first + written * 8 - 1));
        if (refused >= 0 && failure == 0) {
            const int last = refused + (4 - written) * 8 - 1;
            QVERIFY(Units(memory, refused, last) == Units(saved, refused + 256, last + 256));
        }
    }
};

QTEST_GUILESS_MAIN(ProfileRestoreTest)
#include "test_profile_restore.moc"
