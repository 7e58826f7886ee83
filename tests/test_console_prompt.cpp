// A prompt's read of a console that a stop signal cuts short, as Windows' Ctrl-C does.
#include <QtTest>

#include "app/console_prompt.h"
#include "fakes/rows.h"

// readPromptLine: the console's answers (a line; "^C" a read cut short; "" the end), what taking the signals
// says before each read, whether the handler's signal comes; the line (null: none) and the reads made.
using PromptCases = Rows<QStringList, QList<bool>, bool, QString, int>;

class ConsolePromptTest : public QObject {
    Q_OBJECT

private slots:
    void readPromptLine_data() {
        PromptCases rows;
        rows.Add("a line", {"yes"}, {false, false}, true, "yes", 1);
        rows.Add("Ctrl-C while it was typed, at rest: Close", {"yes"}, {false, true}, true, QString(), 1);
        rows.Add("Ctrl-C while the DC is busy: reads on", {"^C", "no"}, {false, false}, true, "no", 2);
        rows.Add("Ctrl-C at rest: Close", {"^C", "no"}, {false, true}, true, QString(), 1);
        rows.Add("cut with no signal: the end", {"^C", "no"}, {false, false}, false, QString(), 1);
        rows.Add("a signal before the read", {"yes"}, {true}, true, QString(), 0);
    }
    void readPromptLine() {
        const auto& [answers, takes, signalCame, expected, reads] = PromptCases::Fetch();
        int taken = 0, read = 0;
        const ConsolePrompt console{
            [&taken, takes = takes] { return taken < takes.size() && takes[taken++]; },
            [&read, answers = answers](std::string& line) {
                const QString answer = answers.value(read++);
                line = answer.toStdString();
                return answer.isEmpty() ? ConsolePrompt::Read::End
                       : answer == "^C" ? ConsolePrompt::Read::Cut
                                        : ConsolePrompt::Read::Line;
            },
            [came = signalCame] { return came; }};
        const std::optional<std::string> line = ReadPromptLine(console);
        QCOMPARE(line.has_value(), !expected.isNull());
        QCOMPARE(QString::fromStdString(line.value_or("")), expected);
        QCOMPARE(read, reads);
    }
};

QTEST_GUILESS_MAIN(ConsolePromptTest)
#include "test_console_prompt.moc"
