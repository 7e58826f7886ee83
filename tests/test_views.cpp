// The two views of the wizard. The window: message boxes, closing, the task list's rows, texts that fit, a
// whole update by the keyboard alone, and the printed agreement. Terminal mode: the lines it prints and the
// answers it reads.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <sstream>

#include "fakes/rows.h"
#include "fakes/wizard_fixture.h"
#include "profile/backup.h"
#include "support/transfer_rate.h"
#include "tools/screenshot/simulated_wizard.h"
#include "wizard/front/agreement_printer.h"
#include "wizard/front/task_row_delegate.h"
#include "wizard/front/terminal_view.h"
#include "wizard/front/wizard_window.h"
#include "wizard/instruction_pages.h"

using namespace Qt::StringLiterals;

namespace {

QTreeWidget* List(const WizardWindow& w) {
    return w.findChild<QTreeWidget*>(u"TaskList"_s);
}

bool Shown(WizardWindow& w) {
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// Each row as "icon|time|event|status".
QStringList ListedRows(const WizardWindow& w) {
    QStringList rows;
    for (int i = 0; i < List(w)->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = List(w)->topLevelItem(i);
        rows << item->data(0, WizardWindow::kTaskIconRole).toString() + '|' + item->text(1) + '|' +
                    item->text(2) + '|' + item->text(3);
    }
    return rows;
}

// Pixels in r that are clearly green (the progress bar's fill).
int GreenPixels(const QImage& image, const QRect& r) {
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.green() > c.red() + 40 && c.green() > c.blue() + 20;
        }
    }
    return count;
}

// A key as a person types it: to the widget that has the focus.
void Press(QWidget& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : &window, Qt::Key(key), modifiers);
}

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

// boxes: style, input, atTerminal (a "y" typed ahead there must be discarded, never taken), answer, left
// (what a later read still finds).
using TerminalBoxCases = Rows<BoxStyle, QString, bool, BoxAnswer, QString>;
using CommandCases = Rows<bool, QString, int>;
using BoxKeyCases = Rows<BoxStyle, BoxAnswer, BoxAnswer>;
using DropCases = Rows<QStringList, int, bool, QString, QString>;

class TestViews : public QObject {
    Q_OBJECT

private slots:
    // A box in the window answered from the keyboard: Escape chooses nothing where there is a choice (the
    // recovery's Cancel gives the profile's backup up, as No does), Enter the default button.
    void boxKeys_data() {
        BoxKeyCases rows;
        rows.Add("OK", kBoxOkCritical, BoxAnswer::Ok, BoxAnswer::Ok);
        rows.Add("OK/Cancel, the recovery's", kBoxOkCancelInformation, BoxAnswer::None, BoxAnswer::Ok);
        rows.Add("Yes/No", kBoxYesNoWarning, BoxAnswer::None, BoxAnswer::Yes);
        rows.Add("Yes/No, No the default", kBoxYesNoWarning.WithSecondDefault(), BoxAnswer::None,
                 BoxAnswer::No);
    }
    void boxKeys() {
        const auto& [style, escape, enter] = BoxKeyCases::Fetch();
        WizardWindow w;
        for (const auto& [key, pressed] : {std::pair{Qt::Key_Escape, escape}, {Qt::Key_Return, enter}}) {
            QString shown;
            QTimer poll;
            connect(&poll, &QTimer::timeout, this, [&, k = key] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    poll.stop();
                    shown = box->windowTitle() + '|' + box->text();
                    QTest::keyClick(box, k);
                }
            });
            poll.start(10);
            QCOMPARE(w.ShowMessageBox(u"First line\r\nSecond line"_s, u"Firmware Update"_s, style), pressed);
            QCOMPARE(shown, u"Firmware Update|First line\nSecond line"_s);
        }
    }

    // Rows appended, the newest one's status replaced, cleared; a transfer shows a filled bar, until its row
    // has a word status.
    void taskRows() {
        WizardWindow w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.AppendTaskRow(IconInformation, u"09:05:07"_s, u"Firmware file checked"_s, u"OK"_s);
        w.AppendTaskRow(IconFailure, u"09:05:09"_s, u"Wrong model"_s, u"..."_s);
        w.SetNewestTaskProgress({.item = 1, .count = 2});
        w.SetNewestTaskStatus(u"Error"_s);
        w.AppendTaskRow(IconStarted, u"09:05:12"_s, u"Upload"_s, u"..."_s);
        QVERIFY(Shown(w));
        QTreeWidget* list = List(w);
        const QHeaderView* header = list->header();
        const auto status = [&](int row) {
            return list->visualItemRect(list->topLevelItem(row))
                .intersected(QRect(header->sectionViewportPosition(3), 0, header->sectionSize(3), 10000));
        };
        for (const int item : {1, 2, 8})
            w.SetNewestTaskProgress({.item = item, .count = 10});
        QCOMPARE(ListedRows(w),
                 (QStringList{QString::number(IconInformation) + "|09:05:07|Firmware file checked|OK",
                              QString::number(IconFailure) + "|09:05:09|Wrong model|Error",
                              QString::number(IconStarted) + "|09:05:12|Upload|80%"}));
        QVERIFY(!list->topLevelItem(2)->icon(0).isNull());
        const QImage shot = list->viewport()->grab().toImage();
        QVERIFY(GreenPixels(shot, status(2)) > status(2).width() * 4);
        QCOMPARE(GreenPixels(shot, status(0)) + GreenPixels(shot, status(1)), 0);

        w.ClearTaskRows();
        w.SetNewestTaskStatus(u"Done"_s);  // nothing to change, must not add a row
        QVERIFY(ListedRows(w).isEmpty());
    }

    // No firmware file: the box's button opens a dialog in the folder used last that lists firmware files in
    // any case; the folder of the file chosen is remembered. The dialog cancelled leads back to the box,
    // whose Cancel chooses nothing.
    void firmwareFileChoice() {
        QStandardPaths::setTestModeEnabled(true);  // the remembered folder goes to a test's own settings
        QTemporaryDir dir;
        for (const char* name : {"a.fwr", "B.FWR", "c.txt"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        WizardWindow w;
        QStringList steps;  // per box: "choose" or "cancel"; per dialog: a file to choose or "" to cancel
        QStringList seen;   // the files listed by each dialog that started in that folder
        const auto next = [&steps] { return steps.isEmpty() ? QString() : steps.takeFirst(); };
        int waits = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                const bool choose = next() == u"choose"_s;
                for (QAbstractButton* b : box->buttons())
                    if ((b->text() == u"Choose firmware file..."_s) == choose)
                        return b->click();
            }
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr)
                return;
            if (dialog->directory() == QDir(dir.path())) {
                auto* list = dialog->findChild<QListView*>(u"listView"_s);
                const int rows = list->model()->rowCount(list->rootIndex());
                if (rows < 2 && ++waits < 300)
                    return;  // the folder is still being read
                QStringList listed;
                for (int row = 0; row < rows; ++row)
                    listed << list->model()->index(row, 0, list->rootIndex()).data().toString();
                listed.sort(Qt::CaseInsensitive);
                seen << listed.join(u' ');
            }
            const QString file = next();
            if (file.isEmpty())
                return dialog->reject();
            dialog->selectFile(dir.filePath(file));
            static_cast<QDialog*>(dialog)->accept();
        });
        poll.start(10);
        FirmwareFileChoice choice;
        choice.choose = u"Choose firmware file..."_s;
        steps = QStringList{"choose", "a.fwr"};
        QCOMPARE(w.ChooseFirmwareFile(choice), std::optional(dir.filePath("a.fwr")));
        steps = QStringList{"choose", "", "cancel"};
        QCOMPARE(w.ChooseFirmwareFile(choice), std::nullopt);
        QCOMPARE(seen, QStringList{u"a.fwr B.FWR"_s});
        QVERIFY(steps.isEmpty());
    }

    // A firmware file dropped on page 1 is chosen as in the dialog; any other drag is refused as it enters.
    void firmwareFileDropped_data() {
        DropCases rows;
        rows.Add("firmware file", {"new.FWR"}, 1, true, "new.FWR", "");
        rows.Add("damaged", {"bad.fwr"}, 1, true, "old.fwr", "Firmware file error !");
        rows.Add("on page 2", {"new.FWR"}, 2, false, "old.fwr", "");
        rows.Add("two files", {"new.FWR", "new.FWR"}, 1, false, "old.fwr", "");
        rows.Add("not a local file", {"https://example.org/new.FWR"}, 1, false, "old.fwr", "");
        rows.Add("another extension", {"new.bin"}, 1, false, "old.fwr", "");
    }
    void firmwareFileDropped() {
        const auto& [dropped, page, taken, inForce, box] = DropCases::Fetch();
        QTemporaryDir dir;
        for (const char* name : {"old.fwr", "new.FWR", "new.bin", "bad.fwr"})
            QVERIFY(QFile::copy(KAV_DEMO_FIRMWARE, dir.filePath(name)));
        QVERIFY(QFile::resize(dir.filePath("bad.fwr"), 1000));  // cut short
        RecordingView view;                                     // the wizard's: boxes answered at once
        SimulatedWizard sim(view, dir.filePath("old.fwr"), QFileInfo(BuiltTextDatabase()).path(), dir.path(),
                            5000);
        WizardWindow w;
        w.DroppableFile = [&](const QList<QUrl>& urls) { return sim.machine.DroppableFirmwareFile(urls); };
        w.OnFileDropped = [&](const QString& path) { sim.machine.FirmwareFileDropped(path); };
        QVERIFY(sim.machine.Load());
        if (page == 2)
            sim.machine.NextClick();
        QMimeData data;
        for (const QString& name : dropped)
            data.setUrls(data.urls() << QUrl::fromUserInput(name, dir.path()));
        QDragEnterEvent enter({9, 9}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop({9, 9}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        qApp->sendEvent(&w, &enter), qApp->sendEvent(&w, &drop), qApp->sendPostedEvents();  // then the choice
        QVERIFY(enter.isAccepted() == taken && sim.session.firmware.Loaded());
        QCOMPARE(view.boxes.empty() ? QString() : view.boxes[0].text, box);
        QCOMPARE(sim.machine.FirmwareFilePath(), dir.filePath(inForce));
        QCOMPARE(view.rows.at(3).event, "Firmware file: " + dir.filePath(inForce));
    }

    // Closing the window goes through OnClose; it closes only once allowed, by the handler or later.
    void closeEvent() {
        for (const bool handlerAllows : {false, true}) {
            WizardWindow w;
            int closes = 0;
            w.OnClose = [&] {
                if (++closes, handlerAllows)
                    w.AllowClose(), w.close();
            };
            QVERIFY(Shown(w));
            QCOMPARE(w.close(), handlerAllows);
            QVERIFY(closes == 1 && w.isVisible() == !handlerAllows);
            w.AllowClose();
            QVERIFY(w.close() && !w.isVisible() && closes == 1);
        }
    }

    void rowsFit_data() {
        QTest::addColumn<int>("column");
        int column = 0;
        for (const char* language : {"en", "de", "fr", "it", "es"})
            QTest::newRow(language) << ++column;
    }
    void rowsFit() {
        QFETCH(int, column);
        TextDatabase texts;
        QCOMPARE(texts.Open(BuiltTextDatabase(), column), TextDatabase::OpenResult::Ok);
        const auto T = [&](Txt id) { return texts.GetText(id); };
        // The widest rate a transfer at the wire's speed shows.
        TransferRate rate(0.0, 2048, 128.0);
        rate.Record(128.0 / 3800.0, 1);
        const TransferProgress transfer{2048, 2048, rate.BytesPerSecond(), rate.SecondsLeft()};
        const QString progress = transfer.Text(T(Txt::TimeLeft));
        const QStringList done = {T(Txt::Done), T(Txt::Error), QStringLiteral("...")};
        // Each event with every status it can carry. Rows that carry a file path are cut, their whole text in
        // their tooltip.
        std::vector<std::pair<QString, QStringList>> rows = {
            {"KAV 1F, " + T(Txt::FirmwareVersion) + ": 1B.05", {}},
            {T(Txt::UpdateOnlyFor) + " KAV 1F!", {}},
            {T(Txt::UpdateOnlyFor) + " KAV 1F, " + T(Txt::FirmwareVersion) + " 1A " + T(Txt::AndLater), {}},
            {texts.Localised(Txt::BackupTask, kBackupTaskText), done + QStringList{progress}},
            {T(Txt::WaitingForRestart), done + QStringList{T(Txt::WaitSeconds).arg(55).arg(55)}},
            {T(Txt::LastUpdatedHere).arg(QStringLiteral("2026-12-08"), QStringLiteral("1B.05")), {}}};
        for (const Txt id :
             {Txt::AlreadyCurrent, Txt::BackupFailed, Txt::WriteFailed, Txt::DeviceNotAnswering,
              Txt::DcNotRecognised, Txt::VersionConfirmed, Txt::RestoreNotConfirmed, Txt::UpdateSucceeded,
              Txt::UpdateNotCompleted, Txt::UpdateRetryHint, Txt::FirmwareImages1, Txt::FirmwareImages2,
              Txt::FirmwareImages1And2})
            rows.push_back({T(id), {}});
        for (const Txt id : {Txt::ReadingFirmwareFile, Txt::CheckingFirmwareFile, Txt::IdentifyingDc,
                             Txt::CheckingNewFirmware})
            rows.push_back({T(id), done});
        for (const Txt id : {Txt::WritingFirmware, Txt::WritingFirmwarePart1, Txt::WritingFirmwarePart2,
                             Txt::RestoringProfile})
            rows.push_back({T(id), done + QStringList{progress}});
        WizardWindow w;
        w.SetFrameVisible(false);
        w.SetTaskListVisible(true);
        w.SetColumnHeaders(T(Txt::ColumnTime), T(Txt::ColumnEvent), T(Txt::ColumnStatus));
        w.SetTimeLeftFormat(T(Txt::TimeLeft));
        QVERIFY(Shown(w));
        QTreeWidget* list = List(w);
        const auto* delegate = qobject_cast<const TaskRowDelegate*>(list->itemDelegate());
        QStringList cut;
        for (const auto& [event, statuses] : rows) {
            for (const QString& status : statuses.isEmpty() ? QStringList{QString()} : statuses) {
                w.AppendTaskRow(IconStarted, QStringLiteral("23:59:59"), event, QString());
                status == progress ? w.SetNewestTaskProgress(transfer) : w.SetNewestTaskStatus(status);
                const int row = list->topLevelItemCount() - 1;
                for (const int c : {1, 2, 3}) {
                    const QModelIndex index = list->model()->index(row, c);
                    const QString full = index.data().toString();
                    if (!full.isEmpty() && delegate->ShownText(index) != full)
                        cut << delegate->ShownText(index) + QStringLiteral(" (with \"") + status + '"' + ')';
                }
            }
        }
        w.SetAccessibleTexts(texts);  // also for the rows listed before
        QCOMPARE(list->topLevelItem(0)->data(0, Qt::AccessibleTextRole).toString(), T(Txt::IconStarted));
        const QFontMetrics header(list->header()->font());
        for (int c = 1; c <= 3; ++c) {
            const QString caption = list->headerItem()->text(c);
            if (header.horizontalAdvance(caption) + 8 > list->header()->sectionSize(c))
                cut << caption;
        }
        // The instruction pages fit their label.
        auto* label = w.findChild<QLabel*>("PageText");
        for (const int page : {1, 2}) {
            w.SetInstructionText(InstructionPageText(page, texts));
            if (label->heightForWidth(label->width()) > label->height())
                cut << QStringLiteral("page %1").arg(page);
        }
        // The buttons' captions fit their buttons.
        for (const auto& [button, id] :
             {std::pair{WizardButton::Back, Txt::Back}, std::pair{WizardButton::Next, Txt::Next},
              std::pair{WizardButton::Close, Txt::Close},
              std::pair{WizardButton::Again, Txt::UpdateAnotherDc}})
            w.SetButtonCaption(button, T(id));
        // Each button its own Alt and letter in each language (the accessibility test reads their names).
        QStringList keys;
        for (const QPushButton* button : w.findChildren<QPushButton*>()) {
            keys << QKeySequence::mnemonic(button->text()).toString();
            if (button->sizeHint().width() > button->width())
                cut << button->text() +
                           QString(" %1 > %2").arg(button->sizeHint().width()).arg(button->width());
        }
        if (keys.contains(QString()) || keys.removeDuplicates() > 0)
            cut << "mnemonics: " + keys.join(' ');
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("\n"))));
    }

    void wholeUpdateByKeys() {
        QTemporaryDir appDir;
        WizardWindow w;
        SimulatedWizard wizard(w, KAV_DEMO_FIRMWARE, QFileInfo(BuiltTextDatabase()).absolutePath(),
                               appDir.path(), 6000);
        StageMachine& machine = wizard.machine;
        w.OnNext = [&] { machine.NextClick(); };
        w.OnBack = [&] { machine.BackClick(); };
        w.OnClose = [&] { machine.CloseClick(); };
        QVERIFY(machine.Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        Press(w, Qt::Key_Return);  // Next: page 2
        QCOMPARE(machine.CurrentStage(), 2);
        // Focus runs along the buttons: Back, Next, Close, and round.
        for (const char* next : {"CloseButton", "BackButton", "NextButton"}) {
            Press(w, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }

        const QKeyCombination back =
            QKeySequence::mnemonic(w.findChild<QPushButton*>("BackButton")->text())[0];
        Press(w, back.key(), back.keyboardModifiers());  // Back by its mnemonic
        QTRY_COMPARE(machine.CurrentStage(), 1);
        Press(w, Qt::Key_Return);
        QCOMPARE(machine.CurrentStage(), 2);
        Press(w, Qt::Key_Enter);  // the update, to its end on the virtual clock
        QVERIFY(machine.UpdateHasRun());
        // Next greyed under the focus did not pass it to Close, where a stray Enter would stop an upload.
        QVERIFY(QApplication::focusWidget() != w.findChild<QWidget*>("CloseButton"));
        QCOMPARE(wizard.run.tasks.Rows().back().event, wizard.run.texts.GetText(Txt::UpdateSucceeded));
        QVERIFY(QDir(appDir.path()).entryList({"*.bin"}).isEmpty());

        QSignalSpy hidden(w.windowHandle(), &QWindow::visibleChanged);  // off the top without a flicker
        Press(w, Qt::Key_Escape);                                       // Close
        QVERIFY(machine.Ended());
        QCOMPARE(hidden.count(), 0);
        QCOMPARE(machine.ExitCode(), int(ExitUpdateSucceeded));
    }

    // The agreement file read, laid out (an empty line first, then a line every h inches from half an inch
    // down: 49 lines on the first page, 50 on the next ones) and printed into a PDF file.
    void agreement() {
        QTemporaryDir dir;
        QStringList lines;
        QVERIFY(!ReadAgreement(dir.filePath("missing.prn"), &lines) && lines.isEmpty());
        QFile file(dir.filePath(kAgreementFileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 100; ++i)
            file.write("Clause " + QByteArray::number(i) + "\r\n");
        file.close();
        QVERIFY(ReadAgreement(file.fileName(), &lines));
        const double h = 0.2;
        const auto placed = LayoutAgreement(lines, h);
        QCOMPARE(placed.size(), size_t(100));
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const std::size_t row = (i + 1) % 50, page = (i + 1) / 50;
            QCOMPARE(placed[i].text, QStringLiteral("Clause %1").arg(i));
            QCOMPARE(placed[i].page, int(page));
            QCOMPARE(placed[i].x, 0.5);
            QVERIFY(std::abs(placed[i].y - (0.5 + h * double(row))) < 1e-9);
            QVERIFY(placed[i].y + h <= kPageHeightInches - 0.5 + 1e-9);
        }

        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("out.pdf"));
        QVERIFY(PrintAgreementOn(printer, lines.mid(0, 80), "DejaVu Sans"));
        QFile pdf(dir.filePath("out.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.contains("/Count 2"));  // 80 lines of 10 points need a second letter page
        QVERIFY(bytes.contains("/MediaBox [0 0 612.000000 792.000000]"));  // letter, portrait, in points
    }

    void commands_data() {
        CommandCases rows;
        using C = TerminalView::Command;
        rows.Add("page: empty line", true, "\n", int(C::Next));
        rows.Add("page: NEXT, blanks", true, "  NEXT \n", int(C::Next));
        rows.Add("page: back", true, "back\n", int(C::Back));
        rows.Add("page: end of input", true, "", int(C::Close));
        rows.Add("page: unknown, then back", true, "maybe\nback\n", int(C::Back));
        rows.Add("after: empty line", false, "\n", int(C::Close));
        rows.Add("after: q", false, "q\n", int(C::Close));
        rows.Add("after: next is not an answer", false, "next\nback\n", int(C::Back));
    }
    void commands() {
        const auto& [onPage, input, command] = CommandCases::Fetch();
        Terminal t(input);
        t.view.SetFrameVisible(onPage);
        QCOMPARE(int(t.view.ReadCommand()), command);
    }

    void boxes_data() {
        TerminalBoxCases rows;
        const BoxStyle yesNo = kBoxYesNoWarning, okCancel = kBoxOkCancelCritical;
        const auto row = [&rows](const char* tag, BoxStyle style, const char* input, BoxAnswer answer,
                                 const char* left = "", bool atTerminal = false) {
            rows.Add(tag, style, input, atTerminal, answer, left);
        };
        row("OK only reads nothing", kBoxOkCritical, "back\n", BoxAnswer::Ok, "back");
        row("OK/Cancel: empty line", okCancel, "\nx\n", BoxAnswer::Ok, "x");
        row("OK/Cancel: cancel", okCancel, "cancel\n", BoxAnswer::Cancel);
        row("OK/Cancel: end of input is no answer", okCancel, "", BoxAnswer::None);
        row("OK/Cancel: asks again", okCancel, "what\nOK\n", BoxAnswer::Ok);
        row("Yes/No: y", yesNo, "y\n", BoxAnswer::Yes);
        row("Yes/No: n", yesNo, "n\n", BoxAnswer::No);
        row("Yes/No: empty or unknown is no answer", yesNo, "\nno\n", BoxAnswer::None, "no");
        row("Yes/No: end of input", yesNo.WithSecondDefault(), "", BoxAnswer::None);
        row("terminal: asks until yes or no", yesNo, "\nnein\nNo\nx\n", BoxAnswer::No, "x", true);
        row("terminal: OK/Cancel", okCancel, "cancel\n", BoxAnswer::Cancel, "", true);
    }
    void boxes() {
        const auto& [style, input, atTerminal, answer, left] = TerminalBoxCases::Fetch();
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
        view.SetNewestTaskProgress({9, 20, 3700.0, 21.0});
        QCOMPARE(live(), "10:00:00 > Writing : 45% · 3.");
        view.SetFrameVisible(true);
        QCOMPARE(int(view.ReadCommand()), int(TerminalView::Command::Next));
        QVERIFY(out.str().find("\r\033[K10:00:00 > Writing : 45%\n") != std::string::npos);
        QVERIFY(prompts.str().starts_with("(Enter = Next"));
    }
};

QTEST_MAIN(TestViews)
#include "test_views.moc"
