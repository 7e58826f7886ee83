#include "wizard/front/terminal_view.h"

#include <istream>
#include <ostream>
#include <string>

#include "run/task_list.h"
#include "support/console.h"
#include "wizard/stage_machine.h"

namespace {

QString OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString Answer(const std::optional<QString>& line) {
    return line ? line->trimmed().toLower() : QString();
}

}  // namespace

TerminalView::TerminalView(std::istream& in, std::ostream& out, TerminalSetup setup)
    : in_(in), out_(out), setup_(std::move(setup)) {}

void TerminalView::Print(const QString& line) {
    if (liveLineOpen_) {
        out_ << "\r\033[K";
        liveLineOpen_ = false;
    }
    out_ << line.toStdString() << '\n';
    out_.flush();
}

QString TerminalView::RowLine(int icon, const QString& time, const QString& event, const QString& status) {
    return TaskRowLine(icon, time, event, status);
}

void TerminalView::FlushRow() {
    if (!pending_)
        return;
    const PendingRow row = *pending_;
    pending_.reset();
    Print(RowLine(row.icon, row.time, row.event, row.status));
}

void TerminalView::SetWindowCaption(const QString&) {}

void TerminalView::SetFrameCaption(const QString& caption) {
    frameCaption_ = caption;
}

void TerminalView::SetFrameVisible(bool visible) {
    frameVisible_ = visible;
    if (visible)
        pagePrinted_ = false;
}

void TerminalView::SetInstructionText(const QString& text) {
    pageText_ = text;
    pagePrinted_ = false;
}

void TerminalView::SetTaskListVisible(bool visible) {
    if (!visible)
        FlushRow();
}

void TerminalView::AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) {
    FlushRow();
    pending_ = PendingRow{icon, time, event, status};
    PrintLive(status);
}

void TerminalView::SetNewestTaskStatus(const QString& status) {
    if (!pending_)
        return;
    pending_->status = status;
    PrintLive(status);
}

void TerminalView::SetNewestTaskProgress(const TransferProgress& progress) {
    if (!pending_)
        return;
    pending_->status = progress.PercentText();
    PrintLive(progress.Text(timeLeftFormat_));
}

void TerminalView::ShowNewestTaskLive(const QString& shown) {
    PrintLive(shown);
}

void TerminalView::PrintLive(const QString& shown) {
    if (!setup_.live || !pending_)
        return;
    QString line = RowLine(pending_->icon, pending_->time, pending_->event, shown);
    // Cut one short of the width: a line that fills it would wrap, and the next "\r" would clear only the
    // wrapped part.
    const int columns = setup_.columns ? setup_.columns() : 0;
    if (columns > 1 && line.size() > columns - 1)
        line.truncate(columns - 1);
    out_ << "\r\033[K" << line.toStdString();
    out_.flush();
    liveLineOpen_ = true;
}

void TerminalView::ClearTaskRows() {
    FlushRow();
}

void TerminalView::SetButtonCaption(WizardButton button, const QString& caption) {
    if (caption.isEmpty())
        return;
    if (button == WizardButton::Next)
        nextCaption_ = caption;
    if (button == WizardButton::Back)
        backCaption_ = caption;
    if (button == WizardButton::Close)
        closeCaption_ = caption;
    if (button == WizardButton::Again)
        againCaption_ = caption;
}

void TerminalView::PrintPageIfChanged() {
    if (pagePrinted_ || !frameVisible_)
        return;
    pagePrinted_ = true;
    if (!frameCaption_.isEmpty())
        Print(QStringLiteral("== ") + frameCaption_ + QStringLiteral(" =="));
    QString page = pageText_;
    page.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Print(page);
}

std::optional<QString> TerminalView::ReadLine(const QString& prompt) {
    // An anxious Enter during a long upload must not answer the question that follows it.
    if (setup_.terminalInput >= 0)
        DiscardTypedAhead(setup_.terminalInput);
    if (setup_.prompts != nullptr) {
        *setup_.prompts << prompt.toStdString();
        setup_.prompts->flush();
    }
    std::string line;
    if ((AwaitInput && !AwaitInput()) || !std::getline(in_, line))
        return std::nullopt;
    return QString::fromStdString(line);
}

BoxAnswer TerminalView::ShowMessageBox(const QString& text, const QString& title, BoxStyle style) {
    FlushRow();
    Print(QLatin1Char('[') + title + QStringLiteral("] ") + OneLine(text));
    if (setup_.decideAlone && style.buttons != BoxButtons::Ok)
        return BoxAnswer::None;
    switch (style.buttons) {
        case BoxButtons::YesNo:  // only a plain yes or no is an answer
            while (true) {
                const std::optional<QString> line = ReadLine(QStringLiteral("(yes/no) > "));
                const QString answer = Answer(line);
                if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
                    return BoxAnswer::Yes;
                if (answer == QLatin1String("n") || answer == QLatin1String("no"))
                    return BoxAnswer::No;
                if (!line || setup_.terminalInput < 0)
                    return BoxAnswer::None;
                Print(QStringLiteral("Please answer yes or no."));
            }
        case BoxButtons::OkCancel:
            while (true) {
                const std::optional<QString> line = ReadLine(QStringLiteral("(Enter = OK, cancel) > "));
                const QString answer = Answer(line);
                if (!line)
                    return BoxAnswer::None;
                if (answer == QLatin1String("cancel"))
                    return BoxAnswer::Cancel;
                if (answer.isEmpty() || answer == QLatin1String("ok"))
                    return BoxAnswer::Ok;
                Print(QStringLiteral("Please answer ok or cancel."));
            }
        case BoxButtons::Ok:
            break;
    }
    return BoxAnswer::Ok;
}

void TerminalView::PrintError(const QString& line) {
    if (setup_.errors == nullptr) {
        Print(line);
        return;
    }
    *setup_.errors << line.toStdString() << '\n';
    setup_.errors->flush();
}

void TerminalView::ShowStartupError(const QString& text, const QString& title) {
    FlushRow();
    PrintError(QLatin1Char('[') + title + QStringLiteral("] ") + OneLine(text));
}

std::optional<int> TerminalView::ChooseCable(const CableChoice& choice) {
    FlushRow();
    PrintError(QLatin1Char('[') + choice.title + QStringLiteral("] ") + OneLine(choice.refusal));
    for (const QString& cable : choice.cables)  // one a line, ready to be copied into the command line
        PrintError(QStringLiteral("  ") + cable);
    return std::nullopt;
}

TerminalView::Command TerminalView::ReadCommand() {
    FlushRow();
    if (frameVisible_)
        PrintPageIfChanged();
    if (setup_.decideAlone) {
        // Two pages lead to the update; a third Next would only loop on a page that cannot go on.
        if (frameVisible_ && nextsDecided_ < 2) {
            ++nextsDecided_;
            return Command::Next;
        }
        return Command::Close;
    }
    if (frameVisible_) {
        const QString prompt = QStringLiteral("(Enter = %1, back = %2, close = %3) > ")
                                   .arg(nextCaption_, backCaption_, closeCaption_);
        while (true) {
            const std::optional<QString> line = ReadLine(prompt);
            const QString answer = Answer(line);
            if (!line || answer == QLatin1String("close") || answer == QLatin1String("q"))
                return Command::Close;
            if (answer.isEmpty() || answer == QLatin1String("next"))
                return Command::Next;
            if (answer == QLatin1String("back"))
                return Command::Back;
            Print(QStringLiteral("Please answer next, back or close."));
        }
    }
    const QString prompt = QStringLiteral("(back = %1, again = %2, Enter = %3) > ")
                               .arg(backCaption_, againCaption_, closeCaption_);
    while (true) {
        const std::optional<QString> line = ReadLine(prompt);
        const QString answer = Answer(line);
        if (!line || answer.isEmpty() || answer == QLatin1String("close") || answer == QLatin1String("q"))
            return Command::Close;
        if (answer == QLatin1String("back"))
            return Command::Back;
        if (answer == QLatin1String("again"))
            return Command::Again;
        Print(QStringLiteral("Please answer back, again or close."));
    }
}

void TerminalView::Finish() {
    FlushRow();
}

int RunTerminalWizard(StageMachine& machine, TerminalView& view) {
    const bool loaded = machine.Load();
    return RunTerminalWizard(machine, view, loaded);
}

int RunTerminalWizard(StageMachine& machine, TerminalView& view, bool loaded,
                      const std::function<void(const char*)>& decided) {
    const auto decide = [&decided](const char* word, StageMachine& m, void (StageMachine::*click)()) {
        if (decided)
            decided(word);
        (m.*click)();
    };
    if (loaded) {
        while (!machine.Ended()) {
            switch (view.ReadCommand()) {
                case TerminalView::Command::Next:
                    decide("next", machine, &StageMachine::NextClick);
                    break;
                case TerminalView::Command::Back:
                    decide("back", machine, &StageMachine::BackClick);
                    break;
                case TerminalView::Command::Close:
                    decide("close", machine, &StageMachine::CloseClick);
                    break;
                case TerminalView::Command::Again:
                    decide("again", machine, &StageMachine::AgainClick);
                    break;
            }
        }
    }
    view.Finish();
    return machine.ExitCode();
}
