// The recovery at Close after an interrupted update, driven by the answers to its boxes.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "profile/recovery.h"

Q_DECLARE_METATYPE(DcConfig)

namespace {

using Frame = std::vector<std::uint8_t>;

// As Close finds things after an update that failed once the profile of DC 210417 was saved; returns the
// memory saved.
std::vector<std::uint8_t> Interrupt(UpdateFixture& f, const QList<int>& answers) {
    const auto saved = DcModel(ProfileDc(256, 287, 7)).Memory();
    f.PlaceFile(ExpectedBackupFile(saved, 512));
    f.session.profile.BackupFilePath = f.BackupPath();
    f.session.wizard.ProfileRestored = false;
    f.view.answers.assign(answers.begin(), answers.end());
    return saved;
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
    QVERIFY(clock != sent.end());
    QVERIFY(clock < std::find(sent.begin(), sent.end(), Frame{0xA8, 0x99, 0x00}));
    QCOMPARE(sent.back(), (Frame{0xA8, 0x99, 0x00}));
}

}  // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<DcConfig>("dc");
        QTest::addColumn<QList<int>>("answers");  // one for each box
        QTest::addColumn<QStringList>("rows");    // event text id:status text id
        QTest::addColumn<bool>("otherFile");      // the DC connected has a file of its own, empty range
        QTest::addColumn<std::vector<int>>("priorities");
        const DcConfig dc = ProfileDc(256, 287), other = ProfileDc(256, 287, 1, 123456);
        DcConfig silent = dc, refusing = dc, unreadable = dc;
        silent.faults.silentFromFrame = 1;
        refusing.faults.refusals = {{0xB5, DcPhase::Data, 4}};
        unreadable.faults.silenceStartFrame = 2;  // the DC answers, then its block 0 read goes unanswered
        unreadable.faults.silenceFrameCount = 5;
        const std::vector<int> none, high{PriorityHigh}, retried{PriorityHigh, PriorityNormal, PriorityHigh};
        QTest::newRow("No: file deleted, DC not addressed")
            << dc << QList<int>{IdNo} << QStringList{} << false << none;
        QTest::newRow("Yes, then Cancel")
            << silent << QList<int>{IdYes, IdCancel} << QStringList{} << false << none;
        QTest::newRow("Yes, OK with no DC, then Cancel")
            << silent << QList<int>{IdYes, IdOk, IdCancel} << QStringList{} << false
            << std::vector<int>{PriorityHigh, PriorityNormal};
        QTest::newRow("Yes, OK, OK with no DC, then Cancel")
            << silent << QList<int>{IdYes, IdOk, IdOk, IdCancel} << QStringList{} << false
            << std::vector<int>{PriorityHigh, PriorityNormal, PriorityHigh, PriorityNormal};
        QTest::newRow("OK with another DC")
            << other << QList<int>{IdYes, IdOk} << QStringList{} << false << high;
        QTest::newRow("OK with another DC that has a file")
            << other << QList<int>{IdYes, IdOk} << QStringList{} << true << high;
        QTest::newRow("restored at once")
            << dc << QList<int>{IdYes, IdOk} << QStringList{"796:777"} << false << high;
        QTest::newRow("restore fails once, then succeeds")
            << refusing << QList<int>{IdYes, IdOk, IdOk} << QStringList{"796:280", "790:0", "796:777"}
            << false << retried;
        QTest::newRow("block 0 unreadable at first")
            << unreadable << QList<int>{IdYes, IdOk, IdOk} << QStringList{"796:777"} << false << retried;
    }
    void answers() {
        QFETCH(DcConfig, dc);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, rows);
        QFETCH(bool, otherFile);
        QFETCH(std::vector<int>, priorities);
        UpdateFixture f(dc);
        const auto saved = Interrupt(f, answers);
        const QString otherPath = f.appDir.filePath("513.123456.bin");
        if (otherFile)
            f.PlaceFile(ExpectedBackupFile(DcModel(ProfileDc(256, 256, 1, 123456)).Memory(), 512), otherPath);
        const auto before = f.sim.Device().Memory();

        ProfileRecovering(*f.context);
        QCOMPARE(f.view.boxes.size(), std::size_t(answers.size()));  // every answer used, no box more
        for (std::size_t i = 0; i < f.view.boxes.size(); ++i) {
            QCOMPARE(f.view.boxes[i].text, i ? Instructions(f) : f.Text(Txt::RecoveryQuestion));
            QCOMPARE(f.view.boxes[i].title, f.Text(Txt::ProfileRecovery));
            QCOMPARE(f.view.boxes[i].style, i ? 65 : 52);
        }
        QStringList want, shown;
        for (const QString& row : rows) {
            const int status = row.section(':', 1).toInt();
            want << f.Text(Txt(row.section(':', 0, 0).toInt())) + '|' +
                        (status ? f.Text(Txt(status)) : QString());
        }
        for (const auto& row : f.view.rows)
            shown << row.event + '|' + row.status;
        QCOMPARE(shown, want);
        QCOMPARE(f.session.wizard.ProfileRestored, answers.front() != IdNo);
        QCOMPARE(QFile::exists(f.BackupPath()), dc.serialNumber != 210417);  // kept for DC 210417's next time
        QVERIFY(!QFile::exists(otherPath));
        const auto& now = f.sim.Device().Memory();
        if (rows.endsWith("796:777"))
            QVERIFY(Units(now, 256, 287) == Units(saved, 256, 287));
        else
            QVERIFY(now == before);
        QCOMPARE(f.priority.classes, priorities);
        if (answers.front() == IdNo)
            QVERIFY(f.sim.Sent().empty());
        else
            Finished(f);
    }

    void damagedFileStays() {
        UpdateFixture f(ProfileDc(256, 287));
        Interrupt(f, {IdYes, IdOk});
        f.PlaceFile(QByteArray(1000, '\0'));
        ProfileRecovering(*f.context);
        QCOMPARE(QFileInfo(f.BackupPath()).size(), 1000);
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB2, 4), 0);
        QCOMPARE(f.view.rows.size(), std::size_t(1));
        QCOMPARE(f.view.rows[0].icon, 2);
        QVERIFY(f.view.rows[0].event.contains(f.BackupPath()));
        Finished(f);
    }
};

QTEST_GUILESS_MAIN(RecoveryTest)
#include "test_recovery.moc"
