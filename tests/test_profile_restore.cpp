// Writing a saved profile back into the simulated DC: blocks, the record-wise retry, the header check, and
// the clock set in every outcome.
#include <QtTest>
#include <numeric>

#include "fakes/update_fixture.h"
#include "profile/backup.h"
#include "profile/restore.h"

namespace {

using Frame = std::vector<std::uint8_t>;

enum Fault { None, FileGone, Refuse3072, Refuse3080, Refuse3088, HeaderRefused, ReadBackSilent };

std::vector<std::uint8_t> Units(const std::vector<std::uint8_t>& memory, int first, int count) {
    return {memory.begin() + first * 16, memory.begin() + (first + count) * 16};
}

// The DC's profile range; the saved profile holds other dives of the same range, loaded from its file.
struct Restore {
    explicit Restore(DcConfig dc) : f(dc) {
        DcConfig earlier = dc;
        earlier.seed = 7;
        earlier.faults = {};
        saved = DcModel(earlier).Memory();
        file = ExpectedBackupFile(saved, 512);
        f.PlaceBackup(file);
        if (GetBackupProfile(*f.context) != BackupLookup::Usable)
            qFatal("the saved profile was not loaded");
    }
    // The units the records were sent to, in order.
    QList<int> RecordUnits() const {
        QList<int> units;
        for (const auto& frame : f.sim.Sent())
            if (frame.size() == 4 && frame[0] == 0xB2)
                units << frame[1] * 256 + frame[2];
        return units;
    }
    UpdateFixture f;
    std::vector<std::uint8_t> saved;
    QByteArray file;
};

DcConfig Profile(int start, int end) {
    DcConfig dc;
    dc.profileStart = start;
    dc.profileEnd = end;
    return dc;
}

QList<int> Range(int from, int to) {
    QList<int> r;
    for (int u = from; u <= to; ++u)
        r << u;
    return r;
}

// The clock is the last thing set, after any ResetStage.
void ClockSetLast(UpdateFixture& f) {
    const auto& sent = f.sim.Sent();
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent[sent.size() - 2], (Frame{0x97, 0x00}));
    QCOMPARE(sent.back().size(), std::size_t(10));
    QVERIFY(f.sim.Device().DeviceClock().has_value());
    QCOMPARE(int(f.sim.Device().DeviceClock()->value), 233);
    if (f.resets > 0)
        QVERIFY(f.resetAt.back() <= sent.size() - 2);
}

}  // namespace

class ProfileRestoreTest : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("failure");  // the text of the failure row, 0 for a confirmed restore
        QTest::addColumn<QList<int>>("records");
        QTest::addColumn<QStringList>("recordStatuses");
        const QList<int> header{4};
        QTest::newRow("confirmed") << int(None) << 256 << 287 << 0 << header << QStringList{"100%"};
        QTest::newRow("file already gone")
            << int(FileGone) << 256 << 287 << 0 << header << QStringList{"100%"};
        // Stored addresses 3056, 3064, 3072, 3080: the third block fails and goes out as records with the
        // fourth.
        QTest::newRow("block at 3072 retried as records")
            << int(Refuse3072) << 3312 << 3343 << 0 << Range(3072, 3087) + header
            << QStringList{"75%", "100%"};
        QTest::newRow("block at 3080 retried as records")
            << int(Refuse3080) << 3312 << 3343 << 0 << Range(3080, 3087) + header << QStringList{"100%"};
        QTest::newRow("block at 3088 not retried")
            << int(Refuse3088) << 3320 << 3351 << 790 << QList<int>{} << QStringList{};
        QTest::newRow("header differs after its write was refused")
            << int(HeaderRefused) << 256 << 287 << 816 << header << QStringList{"100%"};
        QTest::newRow("header read-back gets no answer")
            << int(ReadBackSilent) << 256 << 287 << 816 << header << QStringList{"100%"};
    }
    void outcomes() {
        QFETCH(int, fault);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, failure);
        QFETCH(QList<int>, records);
        QFETCH(QStringList, recordStatuses);
        DcConfig dc = Profile(start, end);
        const int refused = fault == Refuse3072   ? 3072
                            : fault == Refuse3080 ? 3080
                            : fault == Refuse3088 ? 3088
                                                  : -1;
        if (refused >= 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4, refused});
        if (fault == HeaderRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Data, 100, 4});
        if (fault == ReadBackSilent) {
            // Block 0 for the file, four blocks of two frames, the header's two, then all five reads are
            // lost.
            dc.faults.silenceStartFrame = 1 + 8 + 2 + 1;
            dc.faults.silenceFrameCount = 5;
        }
        Restore r(dc);
        UpdateFixture& f = r.f;
        if (fault == FileGone)
            QVERIFY(QFile::remove(f.BackupPath()));
        if (fault ==
            ReadBackSilent) {  // the buffer still holds the DC's block 0: it must not pass for the answer
            const auto& m = f.sim.Device().Memory();
            std::copy(m.begin() + 64, m.begin() + 80, f.session.profile.ProfileHeader.begin());
            f.session.profile.ProfileHeader[16] =
                std::uint8_t(std::accumulate(m.begin() + 64, m.begin() + 80, 0));
        }
        if (fault == HeaderRefused) {  // a saved header other than the DC's, with its sum
            f.session.profile.ProfileHeader[10] = std::uint8_t(f.session.profile.ProfileHeader[10] + 16);
            f.session.profile.ProfileHeader[16] = std::uint8_t(f.session.profile.ProfileHeader[16] + 16);
        }

        RestoreProfile(*f.context);
        if (fault == ReadBackSilent)
            QCOMPARE(f.sim.Sent()[11], (Frame{0xB4, 0x00, 0x00, 0x00}));
        QCOMPARE(f.view.rows.front().event, f.Text(Txt::RestoringProfile));
        QCOMPARE(f.view.rows.front().status, f.Text(failure ? Txt::Error : Txt::Done));
        QCOMPARE(f.view.rows.size(), std::size_t(failure ? 2 : 1));
        if (failure) {
            QCOMPARE(f.view.rows.back().icon, 2);
            QCOMPARE(f.view.rows.back().event, f.Text(Txt(failure)));
        }
        QCOMPARE(f.session.wizard.ProfileRestored, failure == 0);
        QCOMPARE(QFile::exists(f.BackupPath()), failure != 0);
        QCOMPARE(f.resets, failure ? 1 : 0);
        QCOMPARE(r.RecordUnits(), records);
        QCOMPARE(f.StatusesAt(0xB2, 4), recordStatuses);
        ClockSetLast(f);

        const auto& memory = f.sim.Device().Memory();
        const int blocks = (end / 8 - start / 8 + 1);
        const int written = refused >= 0 ? (refused - (start / 8 * 8 - 256)) / 8 : blocks;
        // Blocks go back where they were read; the retried ones went to the addresses the records named.
        QVERIFY(Units(memory, start / 8 * 8, written * 8) == Units(r.saved, start / 8 * 8, written * 8));
        if (fault == Refuse3072 || fault == Refuse3080) {
            const int retried = blocks - written;
            QVERIFY(Units(memory, refused, retried * 8) == Units(r.saved, refused + 256, retried * 8));
        }
    }

    void blocksFromAddressZeroWithProgress() {
        Restore r(Profile(256, 287));
        RestoreProfile(*r.f.context);
        QList<int> addresses;
        for (const auto& frame : r.f.sim.Sent())
            if (frame.size() == 4 && frame[0] == 0xB5)
                addresses << frame[1] * 256 + frame[2];
        QCOMPARE(addresses, (QList<int>{0, 8, 16, 24}));
        QCOMPARE(r.f.StatusesAt(0xB5, 4), (QStringList{"25%", "50%", "75%", "100%"}));
    }

    void noBlocksStillChecksTheHeader() {
        Restore r(Profile(256, 287));
        UpdateFixture& f = r.f;
        f.session.profile.ProfileBlockCount = 0;
        RestoreProfile(*f.context);
        QCOMPARE(f.Count(0xB5, 4), 0);
        Frame record(r.file.begin(), r.file.begin() + 17);  // the saved header and its sum
        record.push_back(0x00);
        const auto& sent = f.sim.Sent();
        QCOMPARE(sent[1], (Frame{0xB2, 0x00, 0x04, 0x00}));
        QCOMPARE(sent[2], record);
        QCOMPARE(sent[3], (Frame{0xB4, 0x00, 0x00, 0x00}));
        QVERIFY(f.session.wizard.ProfileRestored);
        ClockSetLast(f);
    }
};

QTEST_GUILESS_MAIN(ProfileRestoreTest)
#include "test_profile_restore.moc"
