// Writing a saved profile back into the simulated DC: blocks, the record-wise retry, the header check, and
// the clock set in every outcome.
#include <QtTest>
#include <numeric>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/restore.h"

namespace {

using Frame = std::vector<std::uint8_t>;

enum Fault { None, FileGone, HeaderRefused, ReadBackSilent, NoBlocks };

// Saves a profile of other dives in the DC's range and loads it; returns that memory.
std::vector<std::uint8_t> LoadSaved(UpdateFixture& f, const DcConfig& dc) {
    auto saved = DcModel(ProfileDc(dc.profileStart, dc.profileEnd, 7)).Memory();
    f.PlaceFile(ExpectedBackupFile(saved, 512));
    if (GetBackupProfile(*f.context) != BackupLookup::Usable)
        qFatal("the saved profile was not loaded");
    return saved;
}

// The units the 4-byte frames of this command named, in order.
QList<int> Addresses(const UpdateFixture& f, std::uint8_t command) {
    QList<int> units;
    for (const auto& frame : f.sim.Sent())
        if (frame.size() == 4 && frame[0] == command)
            units << frame[1] * 256 + frame[2];
    return units;
}

QList<int> Range(int from, int to) {
    QList<int> r(to - from + 1);
    std::iota(r.begin(), r.end(), from);
    return r;
}

// The clock is the last thing set, after any ResetStage.
void ClockSetLast(UpdateFixture& f) {
    const auto& sent = f.sim.Sent();
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent[sent.size() - 2], (Frame{0x97, 0x00}));
    QCOMPARE(sent.back().size(), std::size_t(10));
    QCOMPARE(int(f.sim.Device().DeviceClock().value_or(DcClockRecord{}).value), 233);
    QVERIFY(f.resetAt.empty() || f.resetAt.back() <= sent.size() - 2);
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
        QTest::addColumn<QStringList>("recordStatuses");
        const QList<int> header{4};
        const QStringList all{"100%"};
        QTest::newRow("confirmed") << int(None) << -1 << 256 << 0 << header << all;
        QTest::newRow("file already gone") << int(FileGone) << -1 << 256 << 0 << header << all;
        // Stored addresses 3056, 3064, 3072, 3080: the third block fails and goes out as records with the
        // fourth.
        QTest::newRow("block at 3072 retried as records")
            << int(None) << 3072 << 3312 << 0 << Range(3072, 3087) + header << QStringList{"75%", "100%"};
        QTest::newRow("block at 3080 retried as records")
            << int(None) << 3080 << 3312 << 0 << Range(3080, 3087) + header << all;
        QTest::newRow("block at 3088 not retried")
            << int(None) << 3088 << 3320 << 790 << QList<int>{} << QStringList{};
        QTest::newRow("header differs after its write was refused")
            << int(HeaderRefused) << -1 << 256 << 816 << header << all;
        QTest::newRow("header read-back gets no answer")
            << int(ReadBackSilent) << -1 << 256 << 816 << header << all;
        QTest::newRow("no blocks: the header still checked")
            << int(NoBlocks) << -1 << 256 << 0 << header << QStringList{""};
    }
    void outcomes() {
        QFETCH(int, fault);
        QFETCH(int, refused);
        QFETCH(int, start);
        QFETCH(int, failure);
        QFETCH(QList<int>, records);
        QFETCH(QStringList, recordStatuses);
        DcConfig dc = ProfileDc(start, start + 31);
        if (refused >= 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4, refused});
        if (fault == HeaderRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Data, 100, 4});
        // Block 0 for the file, four blocks of two frames, the header's two; then all five reads are lost.
        if (fault == ReadBackSilent) {
            dc.faults.silenceStartFrame = 1 + 8 + 2 + 1;
            dc.faults.silenceFrameCount = 5;
        }
        UpdateFixture f(dc);
        const auto saved = LoadSaved(f, dc);
        auto& header = f.session.profile.ProfileHeader;
        if (fault == FileGone)
            QVERIFY(QFile::remove(f.BackupPath()));
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
        if (fault == ReadBackSilent)
            QCOMPARE(f.sim.Sent()[11], (Frame{0xB4, 0x00, 0x00, 0x00}));
        const auto& rows = f.view.rows;
        QCOMPARE(rows.size(), std::size_t(failure ? 2 : 1));
        QCOMPARE(rows.front().event, f.Text(Txt::RestoringProfile));
        QCOMPARE(rows.front().status, f.Text(failure ? Txt::Error : Txt::Done));
        QCOMPARE(rows.back().icon, failure ? 2 : 0);
        QCOMPARE(rows.back().event, f.Text(failure ? Txt(failure) : Txt::RestoringProfile));
        QCOMPARE(f.session.wizard.ProfileRestored, failure == 0);
        QCOMPARE(QFile::exists(f.BackupPath()), failure != 0);
        QCOMPARE(f.resets, failure ? 1 : 0);
        QCOMPARE(Addresses(f, 0xB2), records);
        QCOMPARE(f.StatusesAt(0xB2, 4), recordStatuses);
        ClockSetLast(f);
        const auto& sent = f.sim.Sent();
        const auto at = std::find(sent.begin(), sent.end(), Frame{0xB2, 0x00, 0x04, 0x00});
        if (records.contains(4)) {  // the header record, judged by a read of block 0 after it
            QVERIFY(at + 1 < sent.end());
            QCOMPARE(*(at + 1), record);
            QVERIFY(std::find(at, sent.end(), Frame{0xB4, 0x00, 0x00, 0x00}) != sent.end());
        }
        if (start == 256) {  // the blocks go from address 0, with progress
            const bool none = fault == NoBlocks;
            QCOMPARE(Addresses(f, 0xB5), (none ? QList<int>{} : QList<int>{0, 8, 16, 24}));
            QCOMPARE(f.StatusesAt(0xB5, 4),
                     (none ? QStringList{} : QStringList{"25%", "50%", "75%", "100%"}));
        }

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
