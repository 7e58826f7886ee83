// The recovery at Close after an interrupted update, driven by the answers to its boxes.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "profile/recovery.h"

namespace {

using Frame = std::vector<std::uint8_t>;

// As Close finds things after an update that failed once the profile of DC 210417 was saved.
struct Interrupted {
    explicit Interrupted(DcConfig dc = {}, std::deque<int> answers = {}) : f(dc) {
        DcConfig updated;
        updated.profileEnd = dc.profileEnd;
        updated.seed = 7;
        saved = DcModel(updated).Memory();
        f.PlaceBackup(ExpectedBackupFile(saved, 512));
        f.session.profile.BackupFilePath = f.BackupPath();
        f.session.wizard.ProfileRestored = false;
        f.view.answers = std::move(answers);
    }
    bool SavedProfileWrittenBack() {
        const auto& m = f.sim.Device().Memory();
        return std::equal(m.begin() + 256 * 16, m.begin() + 288 * 16, saved.begin() + 256 * 16);
    }
    UpdateFixture f;
    std::vector<std::uint8_t> saved;
};

DcConfig SmallProfile() {
    DcConfig dc;
    dc.profileEnd = 287;
    return dc;
}

QString Instructions(const UpdateFixture& f) {
    const auto t = [&](int id) { return f.Text(Txt(id)); };
    const QString br = QStringLiteral("\r\n");
    return "1. " + t(640) + br + "2. " + t(654) + br + "3. " + t(804) + br + t(805) + br + t(806) + br +
           t(807) + br + br + "4. " + t(808) + br + "5. " + t(809) + br + "6. " + t(819) + br;
}

// The DC was given the time and told to leave Deep Sleep, in that order, as the last things sent.
void Finished(UpdateFixture& f) {
    const auto& sent = f.sim.Sent();
    const auto clock = std::find(sent.begin(), sent.end(), Frame{0x97, 0x00});
    const auto sleep = std::find(sent.begin(), sent.end(), Frame{0xA8, 0x99, 0x00});
    QVERIFY(clock != sent.end());
    QVERIFY(clock < sleep);
    QCOMPARE(sent.back(), (Frame{0xA8, 0x99, 0x00}));
}

}  // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

private slots:
    void noDeletesWithoutAddressingTheDc() {
        Interrupted r(SmallProfile(), {IdNo});
        ProfileRecovering(*r.f.context);
        QVERIFY(r.f.sim.Sent().empty());
        QVERIFY(!QFile::exists(r.f.BackupPath()));
        QVERIFY(!r.f.session.wizard.ProfileRestored);
        QCOMPARE(r.f.view.boxes.size(), std::size_t(1));
        QCOMPARE(r.f.view.boxes[0].text, r.f.Text(Txt::RecoveryQuestion));
        QCOMPARE(r.f.view.boxes[0].title, r.f.Text(Txt::ProfileRecovery));
        QCOMPARE(r.f.view.boxes[0].style, 52);
    }

    void givingUpWithoutADc_data() {
        QTest::addColumn<int>("silentPasses");  // OK pressed while no DC answers
        QTest::newRow("Yes, then Cancel") << 0;
        QTest::newRow("Yes, OK, then Cancel") << 1;
        QTest::newRow("Yes, OK, OK, then Cancel") << 2;
    }
    void givingUpWithoutADc() {
        QFETCH(int, silentPasses);
        DcConfig dc = SmallProfile();
        dc.faults.silentFromFrame = 1;
        std::deque<int> answers{IdYes};
        answers.insert(answers.end(), std::size_t(silentPasses), IdOk);
        answers.push_back(IdCancel);
        Interrupted r(dc, answers);
        UpdateFixture& f = r.f;

        ProfileRecovering(*f.context);
        QVERIFY(!QFile::exists(f.BackupPath()));
        QVERIFY(f.session.wizard.ProfileRestored);
        QCOMPARE(f.view.boxes.size(), std::size_t(2 + silentPasses));
        for (std::size_t i = 1; i < f.view.boxes.size(); ++i) {
            QCOMPARE(f.view.boxes[i].text, Instructions(f));
            QCOMPARE(f.view.boxes[i].title, f.Text(Txt::ProfileRecovery));
            QCOMPARE(f.view.boxes[i].style, 65);
        }
        QCOMPARE(f.Count(0x84, 2), 12 * silentPasses);  // each OK: one identification, given up
        std::vector<int> priorities;
        for (int i = 0; i < silentPasses; ++i)
            priorities.insert(priorities.end(), {PriorityHigh, PriorityNormal});
        QCOMPARE(f.priority.classes, priorities);
        Finished(f);
    }

    void anotherDcConnected_data() {
        QTest::addColumn<bool>("ownFile");  // that DC has a backup file with an empty range
        QTest::newRow("without a file of its own") << false;
        QTest::newRow("with a file of its own") << true;
    }
    void anotherDcConnected() {
        QFETCH(bool, ownFile);
        DcConfig other = SmallProfile();
        other.serialNumber = 123456;
        Interrupted r(other, {IdYes, IdOk});
        UpdateFixture& f = r.f;
        const QString otherPath = f.appDir.filePath(QStringLiteral("513.123456.bin"));
        if (ownFile) {
            DcConfig empty = other;
            empty.profileEnd = empty.profileStart;
            f.PlaceBackup(ExpectedBackupFile(DcModel(empty).Memory(), 512), otherPath);
        }
        const auto before = f.sim.Device().Memory();

        ProfileRecovering(*f.context);
        QVERIFY(f.session.wizard.ProfileRestored);
        QVERIFY(QFile::exists(f.BackupPath()));  // kept for DC 210417's next connection
        QVERIFY(!QFile::exists(otherPath));
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB2, 4), 0);
        QVERIFY(f.sim.Device().Memory() == before);
        QVERIFY(f.view.rows.empty());
        QCOMPARE(f.priority.classes, std::vector<int>{PriorityHigh});
        Finished(f);
    }

    void damagedFileStays() {
        Interrupted r(SmallProfile(), {IdYes, IdOk});
        UpdateFixture& f = r.f;
        f.PlaceBackup(QByteArray(1000, '\0'));
        ProfileRecovering(*f.context);
        QCOMPARE(QFileInfo(f.BackupPath()).size(), 1000);
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB2, 4), 0);
        QCOMPARE(f.view.rows.size(), std::size_t(1));
        QCOMPARE(f.view.rows[0].icon, 2);
        QVERIFY(f.view.rows[0].event.contains(f.BackupPath()));
        Finished(f);
    }

    void secondAttempt_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("rows");  // event text id:status text id
        QTest::addColumn<std::vector<int>>("priorities");
        const std::vector<int> retried{PriorityHigh, PriorityNormal, PriorityHigh};
        QTest::newRow("first restore fails") << 0 << QStringList{"796:280", "790:0", "796:777"} << retried;
        QTest::newRow("block 0 unreadable at first") << 1 << QStringList{"796:777"} << retried;
        QTest::newRow("first attempt succeeds")
            << 2 << QStringList{"796:777"} << std::vector<int>{PriorityHigh};
    }
    void secondAttempt() {
        QFETCH(int, fault);
        QFETCH(QStringList, rows);
        QFETCH(std::vector<int>, priorities);
        DcConfig dc = SmallProfile();
        if (fault == 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4});
        if (fault == 1) {  // the DC answers, then its block 0 read goes unanswered
            dc.faults.silenceStartFrame = 2;
            dc.faults.silenceFrameCount = 5;
        }
        Interrupted r(dc, {IdYes, IdOk, IdOk});
        UpdateFixture& f = r.f;

        ProfileRecovering(*f.context);
        QStringList expected, actual;
        for (const QString& row : rows) {
            const int status = row.section(':', 1).toInt();
            expected << f.Text(Txt(row.section(':', 0, 0).toInt())) + '|' +
                            (status ? f.Text(Txt(status)) : QString());
        }
        for (const auto& row : f.view.rows)
            actual << row.event + '|' + row.status;
        QCOMPARE(actual, expected);
        QCOMPARE(f.view.boxes.size(), std::size_t(fault == 2 ? 2 : 3));
        QVERIFY(f.session.wizard.ProfileRestored);
        QVERIFY(r.SavedProfileWrittenBack());
        QVERIFY(!QFile::exists(f.BackupPath()));
        QCOMPARE(f.priority.classes, priorities);
        Finished(f);
    }
};

QTEST_GUILESS_MAIN(RecoveryTest)
#include "test_recovery.moc"
