// Terminal mode: the lines it prints, the answers it reads, and the exit statuses of whole runs.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QtTest>
#include <sstream>

#include "fakes/wizard_fixture.h"
#include "wizard/front/terminal_view.h"

namespace {

// A terminal view reading this input; terminalInput stands for the descriptor of a terminal it reads from.
struct Terminal {
    explicit Terminal(const QString& input = {}, int terminalInput = -1)
        : in(input.toStdString()), view(in, out, TerminalSetup{nullptr, nullptr, false, {}, terminalInput}) {}
    QStringList Lines() const { return QString::fromStdString(out.str()).split('\n', Qt::SkipEmptyParts); }
    std::istringstream in;
    std::ostringstream out;
    TerminalView view;
};

// A pseudo-terminal on which "y" was typed before anything asked for it.
struct TypedAhead {
    TypedAhead() {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || ::write(master, "y\n", 2) != 2)
            qFatal("no pseudo-terminal");
    }
    ~TypedAhead() { ::close(slave), ::close(master); }
    bool StillPending() const {
        pollfd p{slave, POLLIN, 0};
        return ::poll(&p, 1, 100) == 1;
    }
    int master = -1, slave = -1;
};

}  // namespace

class TerminalTest : public QObject {
    Q_OBJECT

private slots:
    void commands_data() {
        QTest::addColumn<bool>("onPage");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("command");
        using C = TerminalView::Command;
        QTest::newRow("page: empty line") << true << "\n" << int(C::Next);
        QTest::newRow("page: NEXT, blanks") << true << "  NEXT \n" << int(C::Next);
        QTest::newRow("page: back") << true << "back\n" << int(C::Back);
        QTest::newRow("page: end of input") << true << "" << int(C::Close);
        QTest::newRow("page: unknown, then back") << true << "maybe\nback\n" << int(C::Back);
        QTest::newRow("after: empty line") << false << "\n" << int(C::Close);
        QTest::newRow("after: q") << false << "q\n" << int(C::Close);
        QTest::newRow("after: next is not an answer") << false << "next\nback\n" << int(C::Back);
    }
    void commands() {
        QFETCH(bool, onPage);
        QFETCH(QString, input);
        QFETCH(int, command);
        Terminal t(input);
        t.view.SetFrameVisible(onPage);
        QCOMPARE(int(t.view.ReadCommand()), command);
    }

    void boxes_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("atTerminal");  // a "y" typed ahead there must be discarded, never taken
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("left");  // what a later read still finds
        const int yesNo = MbYesNoWarning, okCancel = MbOkCancelCritical;
        QTest::newRow("OK only reads nothing") << int(MbOkCritical) << "back\n"
                                               << false << int(IdOk) << "back";
        QTest::newRow("OK/Cancel: empty line") << okCancel << "\nx\n" << false << int(IdOk) << "x";
        QTest::newRow("OK/Cancel: cancel") << okCancel << "cancel\n" << false << int(IdCancel) << "";
        QTest::newRow("OK/Cancel: end of input is no answer")
            << okCancel << "" << false << int(IdNoAnswer) << "";
        QTest::newRow("OK/Cancel: asks again") << okCancel << "what\nOK\n" << false << int(IdOk) << "";
        QTest::newRow("Yes/No: y") << yesNo << "y\n" << false << int(IdYes) << "";
        QTest::newRow("Yes/No: n") << yesNo << "n\n" << false << int(IdNo) << "";
        QTest::newRow("Yes/No: empty or unknown is no answer") << yesNo << "\nno\n"
                                                               << false << int(IdNoAnswer) << "no";
        QTest::newRow("Yes/No: end of input")
            << yesNo + MbDefaultSecond << "" << false << int(IdNoAnswer) << "";
        QTest::newRow("terminal: asks until yes or no") << yesNo << "\nnein\nNo\nx\n"
                                                        << true << int(IdNo) << "x";
        QTest::newRow("terminal: OK/Cancel") << okCancel << "cancel\n" << true << int(IdCancel) << "";
    }
    void boxes() {
        QFETCH(int, style);
        QFETCH(QString, input);
        QFETCH(bool, atTerminal);
        QFETCH(int, answer);
        QFETCH(QString, left);
        TypedAhead typed;
        Terminal t(input, atTerminal ? typed.slave : -1);
        QCOMPARE(t.view.ShowMessageBox("Line one\r\nline two", "Title", style), answer);
        QCOMPARE(typed.StillPending(), !atTerminal);
        QCOMPARE(t.Lines().first(), QStringLiteral("[Title] Line one line two"));
        std::string rest;
        std::getline(t.in, rest);
        QCOMPARE(QString::fromStdString(rest), left);
    }

    // A row is printed once, with its final status, when the next one comes.
    void rowsArePrintedOnceFinal() {
        Terminal t;
        t.view.AppendTaskRow(0, "10:00:00", "Writing", "...");
        for (int p = 10; p <= 100; p += 10)
            t.view.SetNewestTaskStatus(QString::number(p) + '%');
        QCOMPARE(t.out.str(), std::string());
        t.view.SetNewestTaskStatus("Done");
        t.view.AppendTaskRow(1, "10:00:05", "Confirmed", "");
        QCOMPARE(t.Lines(), QStringList{"10:00:00 > Writing : Done"});
        t.view.AppendTaskRow(2, "10:00:06", "Failed", "Error");
        t.view.Finish();
        QCOMPARE(t.Lines(), (QStringList{"10:00:00 > Writing : Done", "10:00:05 + Confirmed",
                                         "10:00:06 ! Failed : Error"}));
    }

    // On a terminal: a running row shows at once and as it goes on, cut to the width; its printed line keeps
    // the plain status. Questions go to their own stream.
    void liveRowsAndPrompts() {
        std::istringstream in("\n");
        std::ostringstream out, prompts;
        TerminalView view(in, out, {&prompts, nullptr, true, [] { return 30; }});
        const auto live = [&] { return QString::fromStdString(out.str()).split("\r\033[K").last(); };
        view.AppendTaskRow(0, "10:00:00", "Writing", "...");
        QCOMPARE(live(), "10:00:00 > Writing : ...");
        view.SetNewestTaskProgress("45%", "45% · 3.7 kB/s · 0:21 left");
        QCOMPARE(live(), "10:00:00 > Writing : 45% · 3.");
        view.SetFrameVisible(true);
        QCOMPARE(int(view.ReadCommand()), int(TerminalView::Command::Next));
        QVERIFY(out.str().find("\r\033[K10:00:00 > Writing : 45%\n") != std::string::npos);
        QVERIFY(prompts.str().starts_with("(Enter = Next"));
    }

    // The exit statuses themselves are the stage machine's; here, that the loop feeds it the answers read.
    void wholeRuns_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("database");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("updates");  // the first one fails, the next one succeeds
        QTest::newRow("fails, back, succeeds") << "\n\nback\n\n\n" << true << int(ExitUpdateSucceeded) << 2;
        QTest::newRow("fails, then close") << "next\nnext\nclose\n" << true << int(ExitUpdateFailed) << 1;
        QTest::newRow("no text database") << "\n\n\n" << false << int(ExitStartupEnded) << 0;
    }
    void wholeRuns() {
        QFETCH(QString, input);
        QFETCH(bool, database);
        QFETCH(int, updates);
        WizardFixture f;
        if (!database)
            f.options.ExeDir = f.appDir.path();
        Terminal t(input);
        StageMachine machine(f.session, t.view, f.tasks, f.texts, f.device, f.priority, f.options);
        f.device.duringUpdate = [&] { f.device.updateOk = f.device.updateCalls > 1; };
        QTEST(RunTerminalWizard(machine, t.view), "status");
        QCOMPARE(f.device.updateCalls, updates);
        const QStringList lines = t.Lines();
        QCOMPARE(lines.first(), database
                                    ? QStringLiteral("== INSTRUCTIONS ==")
                                    : "[Firmware Update] The text database FirmwareUpdate.lng could not be "
                                      "opened (0001).");
        QCOMPARE(
            lines.contains("5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC."),
            updates > 0);
    }
};

QTEST_GUILESS_MAIN(TerminalTest)
#include "test_terminal.moc"
