// Terminal mode: the lines it prints, the answers it reads, and the exit statuses of whole runs.
#include <QtTest>
#include <sstream>

#include "fakes/wizard_fixture.h"
#include "wizard/front/terminal_view.h"

namespace {

QStringList Lines(const std::ostringstream& out) {
    return QString::fromStdString(out.str()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TerminalTest : public QObject {
    Q_OBJECT

private slots:
    void rowLineFormat_data() {
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("started") << 0 << "..."
                                 << "09:05:07 > Reading the firmware file : ...";
        QTest::newRow("information, no status") << 1 << ""
                                                << "09:05:07 + Reading the firmware file";
        QTest::newRow("failure") << 2 << "Error"
                                 << "09:05:07 ! Reading the firmware file : Error";
    }
    void rowLineFormat() {
        QFETCH(int, icon);
        QFETCH(QString, status);
        QFETCH(QString, line);
        QCOMPARE(TerminalView::RowLine(icon, "09:05:07", "Reading the firmware file", status), line);
    }

    void commands_data() {
        QTest::addColumn<bool>("onPage");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("command");
        using C = TerminalView::Command;
        QTest::newRow("page: empty line") << true << "\n" << int(C::Next);
        QTest::newRow("page: next") << true << "next\n" << int(C::Next);
        QTest::newRow("page: NEXT, blanks") << true << "  NEXT \n" << int(C::Next);
        QTest::newRow("page: back") << true << "back\n" << int(C::Back);
        QTest::newRow("page: close") << true << "close\n" << int(C::Close);
        QTest::newRow("page: q") << true << "q\n" << int(C::Close);
        QTest::newRow("page: end of input") << true << "" << int(C::Close);
        QTest::newRow("page: unknown, then back") << true << "maybe\nback\n" << int(C::Back);
        QTest::newRow("after: empty line") << false << "\n" << int(C::Close);
        QTest::newRow("after: back") << false << "back\n" << int(C::Back);
        QTest::newRow("after: q") << false << "q\n" << int(C::Close);
        QTest::newRow("after: end of input") << false << "" << int(C::Close);
        QTest::newRow("after: next is not an answer") << false << "next\nback\n" << int(C::Back);
    }
    void commands() {
        QFETCH(bool, onPage);
        QFETCH(QString, input);
        QFETCH(int, command);
        std::istringstream in(input.toStdString());
        std::ostringstream out;
        TerminalView view(in, out, false);
        view.SetFrameVisible(onPage);
        QCOMPARE(int(view.ReadCommand()), command);
    }

    void boxes_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("left");  // what a later read still finds
        QTest::newRow("OK only reads nothing") << int(MbOkCritical) << "back\n" << int(IdOk) << "back";
        QTest::newRow("warning reads nothing") << int(MbOkExclamation) << "" << int(IdOk) << "";
        QTest::newRow("OK/Cancel: empty line") << int(MbOkCancelCritical) << "\nx\n" << int(IdOk) << "x";
        QTest::newRow("OK/Cancel: ok") << int(MbOkCancelInformation) << "OK\n" << int(IdOk) << "";
        QTest::newRow("OK/Cancel: cancel") << int(MbOkCancelCritical) << "cancel\n" << int(IdCancel) << "";
        QTest::newRow("OK/Cancel: end of input") << int(MbOkCancelInformation) << "" << int(IdCancel) << "";
        QTest::newRow("OK/Cancel: asks again") << int(MbOkCancelCritical) << "what\ncancel\n"
                                               << int(IdCancel) << "";
        QTest::newRow("Yes/No: y") << int(MbYesNoWarning) << "y\n" << int(IdYes) << "";
        QTest::newRow("Yes/No: Yes") << int(MbYesNoWarning) << "Yes\n" << int(IdYes) << "";
        QTest::newRow("Yes/No: empty is No") << int(MbYesNoWarning) << "\n" << int(IdNo) << "";
        QTest::newRow("Yes/No: anything else") << int(MbYesNoWarning) << "yeah\n" << int(IdNo) << "";
        QTest::newRow("Yes/No: end of input") << int(MbYesNoWarning) << "" << int(IdNo) << "";
    }
    void boxes() {
        QFETCH(int, style);
        QFETCH(QString, input);
        QFETCH(int, answer);
        QFETCH(QString, left);
        std::istringstream in(input.toStdString());
        std::ostringstream out;
        TerminalView view(in, out, false);
        QCOMPARE(view.ShowMessageBox("Line one\r\nline two", "Title", style), answer);
        QCOMPARE(Lines(out).first(), QStringLiteral("[Title] Line one line two"));
        std::string rest;
        std::getline(in, rest);
        QCOMPARE(QString::fromStdString(rest), left);
    }

    void rowsArePrintedOnceFinal() {
        std::istringstream in;
        std::ostringstream out;
        TerminalView view(in, out, false);
        view.AppendTaskRow(0, "10:00:00", "Writing", "...");
        for (int p = 10; p <= 100; p += 10)
            view.SetNewestTaskStatus(QString::number(p) + '%');
        QCOMPARE(out.str(), std::string());
        view.SetNewestTaskStatus("Done");
        view.AppendTaskRow(1, "10:00:05", "Confirmed", "");
        QCOMPARE(Lines(out), QStringList{"10:00:00 > Writing : Done"});
        view.Finish();
        QCOMPARE(Lines(out), (QStringList{"10:00:00 > Writing : Done", "10:00:05 + Confirmed"}));
    }

    void wholeRuns_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("dcAnswers");
        QTest::addColumn<bool>("updateOk");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("updates");
        QTest::newRow("update succeeds") << "\n\n\n" << true << true << int(ExitUpdateSucceeded) << 1;
        QTest::newRow("update fails") << "next\nnext\nclose\n" << true << false << int(ExitUpdateFailed) << 1;
        QTest::newRow("fails, back, succeeds") << "\n\nback\n\n\n"
                                               << true << true << int(ExitUpdateSucceeded) << 2;
        QTest::newRow("closed on page 1") << "close\n" << true << true << int(ExitClosedBeforeUpdate) << 0;
        QTest::newRow("no input at all") << "" << true << true << int(ExitClosedBeforeUpdate) << 0;
        QTest::newRow("no DC") << "\n\n" << false << true << int(ExitClosedBeforeUpdate) << 0;
        QTest::newRow("back from page 2") << "\nback\nq\n"
                                          << true << true << int(ExitClosedBeforeUpdate) << 0;
    }
    void wholeRuns() {
        QFETCH(QString, input);
        QFETCH(bool, dcAnswers);
        QFETCH(bool, updateOk);
        QFETCH(int, status);
        QFETCH(int, updates);
        WizardFixture f;
        std::istringstream in(input.toStdString());
        std::ostringstream out;
        TerminalView view(in, out, false);
        StageMachine machine(f.session, view, f.tasks, f.texts, f.device, f.priority, f.options);
        f.device.dcAnswers = dcAnswers;
        // The first attempt of "fails, back, succeeds" fails.
        int calls = 0;
        f.device.duringUpdate = [&] { f.device.updateOk = updateOk && (updates < 2 || ++calls > 1); };
        QCOMPARE(RunTerminalWizard(machine, view), status);
        QCOMPARE(f.device.updateCalls, updates);
        const QStringList lines = Lines(out);
        QCOMPARE(lines.first(), QStringLiteral("== INSTRUCTIONS =="));
        QVERIFY(lines.contains("1. Plug the USB interface cable into an USB port on the PC."));
        QCOMPARE(
            lines.contains("5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC."),
            updates > 0 || input.startsWith("\nback"));
    }

    void unusableTextDatabaseEndsWithStatus2() {
        WizardFixture f;
        f.options.ExeDir = f.appDir.path();
        std::istringstream in("\n\n\n");
        std::ostringstream out;
        TerminalView view(in, out, false);
        StageMachine machine(f.session, view, f.tasks, f.texts, f.device, f.priority, f.options);
        QCOMPARE(RunTerminalWizard(machine, view), int(ExitStartupEnded));
        QCOMPARE(Lines(out),
                 QStringList{"[Firmware Update] The text database FirmwareUpdate.lng could not be "
                             "opened (0001)."});
    }
};

QTEST_GUILESS_MAIN(TerminalTest)
#include "test_terminal.moc"
