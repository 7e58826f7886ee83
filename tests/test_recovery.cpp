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

// The DC was given the time and told to leave Deep Sleep, in that order, as the last things sent.
void Finished(UpdateFixture& f) {
    const auto& sent = f.sim.Sent();
    QCOMPARE(sent.back(), (Frame{0xA8, 0x99, 0x00}));
    QVERIFY(std::find(sent.begin(), sent.end(), Frame{0x97, 0x00}) <
            std::find(sent.begin(), sent.end(), Frame{0xA8, 0x99, 0x00}));
}

}  // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<DcConfig>("dc");         // another DC has a file of its own, with an empty range
        QTest::addColumn<QList<int>>("answers");  // one for each box
        QTest::addColumn<QStringList>("rows");    // event text id:status text id
        QTest::addColumn<std::vector<int>>("priorities");
        const DcConfig dc = ProfileDc(256, 287), other = ProfileDc(256, 287, 1, 123456);
        DcConfig silent = dc, refusing = dc, unreadable = dc;
        silent.faults.silentFromFrame = 1;
        refusing.faults.refusals = {{0xB5, DcPhase::Data, 4}};
        // The DC answers, then its block 0 read goes unanswered.
        unreadable.faults.silenceStartFrame = 2, unreadable.faults.silenceFrameCount = 5;
        using A = QList<int>;
        using P = std::vector<int>;
        const int high = PriorityHigh, normal = PriorityNormal;
        const QStringList none;
        QTest::newRow("No: file deleted, DC not addressed") << dc << A{IdNo} << none << P{};
        QTest::newRow("question closed: file kept, said so")
            << dc << A{IdNoAnswer} << QStringList{"910:0"} << P{};
        QTest::newRow("instructions closed: file kept, said so")
            << dc << A{IdYes, IdNoAnswer} << QStringList{"910:0"} << P{};
        QTest::newRow("Yes, OK, OK with no DC, then Cancel")
            << silent << A{IdYes, IdOk, IdOk, IdCancel} << none << P{high, normal, high, normal};
        QTest::newRow("OK with another DC that has a file") << other << A{IdYes, IdOk} << none << P{high};
        QTest::newRow("restored at once") << dc << A{IdYes, IdOk} << QStringList{"796:777"} << P{high};
        QTest::newRow("restore fails once, then succeeds")
            << refusing << A{IdYes, IdOk, IdOk} << QStringList{"796:280", "790:0", "796:777"}
            << P{high, normal, high};
        QTest::newRow("block 0 unreadable at first")
            << unreadable << A{IdYes, IdOk, IdOk} << QStringList{"796:777"} << P{high, normal, high};
    }
    void answers() {
        QFETCH(DcConfig, dc);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, rows);
        QFETCH(std::vector<int>, priorities);
        UpdateFixture f(dc);
        const auto saved = Interrupt(f, answers);
        const QString otherPath = f.appDir.filePath("513.123456.bin");
        if (dc.serialNumber != 210417)
            f.PlaceFile(ExpectedBackupFile(DcModel(ProfileDc(256, 256, 1, 123456)).Memory(), 512), otherPath);
        const auto before = f.sim.Device().Memory();

        ProfileRecovering(*f.context);
        QCOMPARE(f.view.boxes.size(), std::size_t(answers.size()));  // every answer used, no box more
        QCOMPARE(f.view.boxes[0].text, f.Text(Txt::RecoveryQuestion));
        const auto t = [&](Txt id) { return f.Text(id); };
        const QString instructions = QStringList{"1. " + t(Txt::RecoverStepPlugCable),
                                                 "2. " + t(Txt::RecoverStepWatchMode),
                                                 "3. " + t(Txt::RecoverStepClipCable),
                                                 t(Txt::RecoverLinePcScreen),
                                                 t(Txt::RecoverLineNoPcScreen),
                                                 t(Txt::RecoverLineClipAgain),
                                                 "",
                                                 "4. " + t(Txt::RecoverStepKeepClipped),
                                                 "5. " + t(Txt::RecoverStepOk),
                                                 "6. " + t(Txt::RecoverStepCancel),
                                                 ""}
                                         .join("\r\n");
        for (std::size_t i = 0; i < f.view.boxes.size(); ++i) {
            QCOMPARE(f.view.boxes[i].style, i ? 65 : 52);  // Yes/No, then OK/Cancel over the instructions
            QCOMPARE(f.view.boxes[i].title, t(Txt::ProfileRecovery));
            if (i > 0)
                QCOMPARE(f.view.boxes[i].text, instructions);  // the same steps 1 to 6 on every pass
        }
        QStringList want, shown;
        for (const QString& row : rows)
            want << f.Text(Txt(row.left(3).toInt())) + '|' + f.Text(Txt(row.mid(4).toInt()));
        for (const auto& row : f.view.rows)
            shown << QString(row.event).replace(f.BackupPath(), "%1") + '|' + row.status;
        QCOMPARE(shown, want);
        const bool noAnswer = answers.back() == IdNoAnswer;
        QCOMPARE(f.session.wizard.ProfileRestored, answers.front() == IdYes && !noAnswer);
        // Kept for DC 210417's next time, as it was.
        QCOMPARE(FileBytes(f.BackupPath()),
                 dc.serialNumber != 210417 || noAnswer ? ExpectedBackupFile(saved, 512) : QByteArray());
        QVERIFY(!QFile::exists(otherPath));
        const auto& now = f.sim.Device().Memory();
        QVERIFY(rows.endsWith("796:777") ? Units(now, 256, 287) == Units(saved, 256, 287) : now == before);
        QCOMPARE(f.priority.classes, priorities);
        if (answers.front() != IdYes)
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
        QVERIFY(f.view.rows[0].icon == 2 && f.view.rows[0].event.contains(f.BackupPath()));
        QCOMPARE(f.view.boxes.size(), std::size_t(3));  // and a box says it: the task list may be hidden
        QCOMPARE(f.view.boxes[2].text, f.view.rows[0].event);
        Finished(f);
    }
};

QTEST_GUILESS_MAIN(RecoveryTest)
#include "test_recovery.moc"
