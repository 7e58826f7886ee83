#pragma once

#include <iosfwd>
#include <optional>

#include "run/wizard_view.h"

class StageMachine;

// Terminal mode: the wizard's window as lines of text. Pages are printed when a decision is asked for, task
// rows once their status is final, boxes as one line "[title] text". Decisions are read one line at a time.
class TerminalView final : public WizardView {
public:
    // `interactive`: output goes to a terminal, so prompts and a live progress line are shown.
    TerminalView(std::istream& in, std::ostream& out, bool interactive);

    void SetWindowCaption(const QString& caption) override;
    void SetFrameCaption(const QString& caption) override;
    void SetFrameVisible(bool visible) override;
    void SetInstructionText(const QString& text) override;
    void SetPictureVisible(bool) override {}
    void SetTaskListVisible(bool visible) override;
    void SetColumnHeaders(const QString&, const QString&, const QString&) override {}
    void AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) override;
    void SetNewestTaskStatus(const QString& status) override;
    void ClearTaskRows() override;
    void SetButtonCaption(WizardButton button, const QString& caption) override;
    void SetButtonEnabled(WizardButton, bool) override {}
    void SetButtonVisible(WizardButton, bool) override {}
    int ShowMessageBox(const QString& text, const QString& title, int style) override;
    void SetOnTop(bool) override {}
    void ShowTrayIcon(const QString&) override {}
    void RemoveTrayIcon() override {}

    enum class Command { Next, Back, Close };
    // Reads the next decision: on a page (frame shown) or after an update (task list shown).
    Command ReadCommand();
    // Prints what is still pending (the newest row) before the program ends.
    void Finish();

    static QString RowLine(int icon, const QString& time, const QString& event, const QString& status);

private:
    struct PendingRow {
        int icon;
        QString time, event, status;
    };
    void FlushRow();
    void PrintPageIfChanged();
    void Print(const QString& line);
    std::optional<QString> ReadLine(const QString& prompt);

    std::istream& in_;
    std::ostream& out_;
    bool interactive_;
    bool frameVisible_ = true;
    bool pagePrinted_ = true;
    bool liveLineOpen_ = false;
    QString frameCaption_;
    QString pageText_;
    QString nextCaption_ = QStringLiteral("Next"), backCaption_ = QStringLiteral("Back"),
            closeCaption_ = QStringLiteral("Close");
    std::optional<PendingRow> pending_;
};

// Runs the wizard in the terminal until it ends; returns the exit status.
int RunTerminalWizard(StageMachine& machine, TerminalView& view);
