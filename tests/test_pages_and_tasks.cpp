// Instruction pages, the task list and the progress figures.
#include <QtTest>

#include "fakes/recording_view.h"
#include "run/task_list.h"
#include "support/clock.h"
#include "support/progress.h"
#include "support/transfer_rate.h"
#include "wizard/instruction_pages.h"

class PagesAndTasksTest : public QObject {
    Q_OBJECT

private slots:
    void connectionPageExactly() {
        const QString expected = QStringLiteral(
            "1. Plug the USB interface cable into an USB port on the PC.\r\n\r\n"
            "2. Dive Computer (DC) needs to be in the Watch Main Time Mode.\r\n\r\n"
            "3. Clip the interface cable on the DC data port.\r\n\r\n"
            "4. A PC will appear with a 120 second countdown (you have 2 minutes to initiate the connection "
            "PC-DC).\r\n"
            "   a) If the  PC screen does not appear, unclip the interface cable from the DC for 5 second "
            "then "
            "repeat\r\n"
            "   steps 2, 3, 4.\r\n\r\n"
            ">>> Click on Next button to continue... >>>");
        QCOMPARE(InstructionPageText(1), expected);
        QCOMPARE(InstructionPagePicture(1), PictureOnPage::Hidden);
    }

    void deepSleepPageExactly() {
        const QString expected =
            QStringLiteral("\r\n").repeated(10) +
            QStringLiteral(
                "5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC.\r\n\r\n"
                "6. Activate the DC by depressing and holding both the Advance (A) and Select (S) buttons "
                "until "
                "the PC screen appears with a 120 second countdown (about 8 seconds).\r\n"
                "   a) If the PC screen does not appear, unclip the interface cable from the DC for 5 "
                "seconds, "
                "then clip it \r\n"
                "   back on.\r\n\r\n"
                ">>> Click on Next button to continue...>>>");
        QCOMPARE(InstructionPageText(2), expected);
        QCOMPARE(InstructionPagePicture(2), PictureOnPage::Shown);
    }

    void rowTimeIsTwentyFourHourClock() {
        RecordingView view;
        VirtualClock clock;
        TaskList tasks(view, clock);
        QStringList shown;
        for (const QTime wall : {QTime(9, 5, 7), QTime(14, 0, 59), QTime(0, 0, 0), QTime(23, 59, 59)}) {
            clock.SetWallClock(QDateTime(QDate(2026, 7, 23), wall));
            tasks.InsertTaskList(IconStarted, "Reading", "...");
            shown << tasks.Rows().back().Text() + '|' + view.rows.back().time;
        }
        QCOMPARE(shown,
                 (QStringList{"\t09:05:07\tReading\t...|09:05:07", "\t14:00:59\tReading\t...|14:00:59",
                              "\t00:00:00\tReading\t...|00:00:00", "\t23:59:59\tReading\t...|23:59:59"}));
    }

    void statusReplacesOnlyTheNewestRow() {
        RecordingView view;
        VirtualClock clock;
        TaskList tasks(view, clock);
        tasks.SetTaskStatus("nothing to change");  // an empty list is left alone
        QVERIFY(tasks.Rows().empty());
        tasks.InsertTaskList(IconStarted, "first", "...");
        clock.Advance(61);
        tasks.InsertTaskList(IconInformation, "second", "");
        tasks.InsertTaskList(IconFailure, "third", "...");
        for (int i = 1; i <= 10; ++i)
            tasks.SetTaskStatus(QString::number(i * 10) + '%');
        QStringList rows;
        for (const auto& r : tasks.Rows())
            rows << QString::number(r.icon) + r.Text();
        QCOMPARE(rows, (QStringList{"0\t09:00:00\tfirst\t...", "1\t09:01:01\tsecond\t",
                                    "2\t09:01:01\tthird\t100%"}));
        QCOMPARE(view.rows.size(), size_t(3));
        QCOMPARE(view.rows[2].status, QStringLiteral("100%"));
        tasks.Clear();
        QVERIFY(tasks.Rows().empty() && view.rows.empty());
    }

    void progressRoundsHalvesToEven_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("8 items") << 8 << QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"};
        QTest::newRow("4 items") << 4 << QStringList{"25%", "50%", "75%", "100%"};
        QTest::newRow("3 items") << 3 << QStringList{"33%", "67%", "100%"};
        QTest::newRow("1 item") << 1 << QStringList{"100%"};
        QTest::newRow("200 items, 1.5% goes to 2") << 200 << QStringList{"0%", "1%", "2%"};
    }
    void progressRoundsHalvesToEven() {
        QFETCH(int, count);
        QFETCH(QStringList, shown);
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(ProgressText(i + 1, count), shown[i]);
    }

    void progressOfNothing() { QCOMPARE(ProgressPercent(0, 0), 0); }

    // 128-byte items: the rate over the time since the start, the time left rounded up.
    void transferRate_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("done");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<QString>("timeLeft");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nothing through yet") << 10 << 0 << 5.0 << "%1 left"
                                             << "45%";
        QTest::newRow("no time gone") << 10 << 1 << 0.0 << "%1 left"
                                      << "45%";
        QTest::newRow("seconds") << 100 << 29 << 1.0 << "%1 left"
                                 << "45% · 3.7 kB/s · 0:03 left";
        QTest::newRow("minutes") << 2048 << 1 << 128 / 3800.0 << "%1 left"
                                 << "45% · 3.8 kB/s · 1:09 left";
        QTest::newRow("all through") << 8 << 8 << 2.0 << "%1 left"
                                     << "45% · 0.5 kB/s · 0:00 left";
        QTest::newRow("German") << 100 << 29 << 1.0 << "noch %1"
                                << "45% · 3.7 kB/s · noch 0:03";
    }
    void transferRate() {
        QFETCH(int, count);
        QFETCH(int, done);
        QFETCH(double, elapsed);
        QFETCH(QString, timeLeft);
        TransferRate rate(10.0, count, 128.0);
        rate.Record(10.0 + elapsed, done);
        QTEST(RateText("45%", rate, timeLeft), "shown");
    }

    // The task list keeps the percentage; the view also shows the rate, measured from the row's first block.
    void progressKeepsThePercentage() {
        RecordingView view;
        VirtualClock clock;
        TaskList tasks(view, clock);
        tasks.InsertTaskList(IconStarted, "Writing", "");
        tasks.SetTaskProgress(1, 4);
        QCOMPARE(view.shown, QStringLiteral("25%"));
        clock.Advance(1.0);
        tasks.SetTaskProgress(2, 4);
        QCOMPARE(tasks.Rows().back().status, QStringLiteral("50%"));
        QCOMPARE(view.rows.back().status, QStringLiteral("50%"));
        QCOMPARE(view.shown, QStringLiteral("50% · 0.1 kB/s · 0:03 left"));
    }
};

QTEST_GUILESS_MAIN(PagesAndTasksTest)
#include "test_pages_and_tasks.moc"
