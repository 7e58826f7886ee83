#pragma once

#include <functional>
#include <iosfwd>
#include <optional>

#include "run/wizard_view.h"

class StageMachine;

// Where a terminal view's lines go besides its output.
struct TerminalSetup {
    std::ostream* prompts = nullptr;  // questions; none when input does not come from a person
    std::ostream* errors = nullptr;   // problems that end start-up; none: the output
    bool live = false;                // output is a terminal: running rows and their progress shown at once
    std::function<int()> columns;     // the terminal's width, so a live line never wraps; 0: unknown
    // The input's descriptor when it is a terminal, else -1. Lines typed there while the DC was busy are
    // discarded before each question, and a Yes/No box asks again until it gets an answer.
    int terminalInput = -1;
    // --yes: nothing is read. The first two pages get Next, everything after them Close, and a box that asks
    // gets no answer, as at the end of input.
    bool decideAlone = false;
};

// Terminal mode: the wizard's window as lines of text. Pages are printed when a decision is asked for, task
// rows once their status is final, boxes as one line "[title] text". Decisions are read one line at a time.
class TerminalView final : public WizardView {
public:
    TerminalView(std::istream& in, std::ostream& out, TerminalSetup setup = {});

    void SetWindowCaption(const QString& caption) override;
    void SetFrameCaption(const QString& caption) override;
    void SetFrameVisible(bool visible) override;
    void SetInstructionText(const QString& text) override;
    void SetPictureVisible(bool) override {}
    void SetTaskListVisible(bool visible) override;
    void SetColumnHeaders(const QString&, const QString&, const QString&) override {}
    void AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) override;
    void SetNewestTaskStatus(const QString& status) override;
    void SetNewestTaskProgress(const TransferProgress& progress) override;
    void ShowNewestTaskLive(const QString& shown) override;
    void SetTimeLeftFormat(const QString& format) override { timeLeftFormat_ = format; }
    void ClearTaskRows() override;
    void SetButtonCaption(WizardButton button, const QString& caption) override;
    void SetButtonEnabled(WizardButton, bool) override {}
    void SetButtonVisible(WizardButton, bool) override {}
    BoxAnswer ShowMessageBox(const QString& text, const QString& title, BoxStyle style) override;
    void ShowStartupError(const QString& text, const QString& title) override;
    // No list to pick from here: says how to name one with --port, and gives up.
    std::optional<int> ChooseCable(const CableChoice& choice) override;
    void SetOnTop(bool) override {}
    void ShowTrayIcon(const QString&) override {}
    void RemoveTrayIcon() override {}

    enum class Command { Next, Back, Close, Again };
    // Reads the next decision: on a page (frame shown) or after an update (task list shown).
    Command ReadCommand();
    // Prints what is still pending (the newest row) before the program ends.
    void Finish();

    static QString RowLine(int icon, const QString& time, const QString& event, const QString& status);

    // Called before each line is read: false when a signal asks to stop reading (taken as end of input).
    std::function<bool()> AwaitInput;

private:
    struct PendingRow {
        int icon;
        QString time, event, status;
    };
    void FlushRow();
    void PrintPageIfChanged();
    void PrintLive(const QString& shown);
    void Print(const QString& line);
    void PrintError(const QString& line);  // on the error stream when there is one
    std::optional<QString> ReadLine(const QString& prompt);

    std::istream& in_;
    std::ostream& out_;
    TerminalSetup setup_;
    bool frameVisible_ = true;
    bool pagePrinted_ = true;
    bool liveLineOpen_ = false;
    int nextsDecided_ = 0;  // with decideAlone
    QString frameCaption_;
    QString pageText_;
    QString nextCaption_ = QStringLiteral("Next"), backCaption_ = QStringLiteral("Back"),
            closeCaption_ = QStringLiteral("Close"), againCaption_ = QStringLiteral("Update another DC");
    std::optional<PendingRow> pending_;
    QString timeLeftFormat_ = kEnglishTimeLeft;
};

// Runs the wizard in the terminal until it ends; returns the exit status. `loaded`: the result of the stage
// machine's Load, when the caller ran it.
// decided: told each decision read ("next", "back", "close", "again") before it is carried out.
int RunTerminalWizard(StageMachine& machine, TerminalView& view, bool loaded,
                      const std::function<void(const char*)>& decided = {});
int RunTerminalWizard(StageMachine& machine, TerminalView& view);
