#pragma once

#include <optional>

#include "run/wizard_view.h"
#include "support/run_log.h"

// A view that passes everything on to the front end's view and writes the run's story into the log: every
// task row once its status is final (with the plain percentages, never the rate), every box with the answer
// given.
class LoggedView final : public WizardView {
public:
    LoggedView(WizardView& inner, RunLog& log) : inner_(inner), log_(log) {}

    void SetWindowCaption(const QString& caption) override { inner_.SetWindowCaption(caption); }
    void SetFrameCaption(const QString& caption) override { inner_.SetFrameCaption(caption); }
    void SetFrameVisible(bool visible) override { inner_.SetFrameVisible(visible); }
    void SetInstructionText(const QString& text) override { inner_.SetInstructionText(text); }
    void SetPictureVisible(bool visible) override { inner_.SetPictureVisible(visible); }

    void SetTaskListVisible(bool visible) override { inner_.SetTaskListVisible(visible); }
    void SetColumnHeaders(const QString& time, const QString& event, const QString& status) override {
        inner_.SetColumnHeaders(time, event, status);
    }
    void AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) override;
    void SetNewestTaskStatus(const QString& status) override;
    void SetNewestTaskProgress(const TransferProgress& progress) override;
    void ShowNewestTaskLive(const QString& shown) override { inner_.ShowNewestTaskLive(shown); }
    void SetTimeLeftFormat(const QString& format) override { inner_.SetTimeLeftFormat(format); }
    void ClearTaskRows() override;

    void SetButtonCaption(WizardButton button, const QString& caption) override {
        inner_.SetButtonCaption(button, caption);
    }
    void SetButtonEnabled(WizardButton button, bool enabled) override {
        inner_.SetButtonEnabled(button, enabled);
    }
    void SetButtonVisible(WizardButton button, bool visible) override {
        inner_.SetButtonVisible(button, visible);
    }

    BoxAnswer ShowMessageBox(const QString& text, const QString& title, BoxStyle style) override;
    void ShowStartupError(const QString& text, const QString& title) override;
    std::optional<QString> ChooseFirmwareFile(const FirmwareFileChoice& choice) override;
    std::optional<int> ChooseCable(const CableChoice& choice) override;

    void SetOnTop(bool onTop) override { inner_.SetOnTop(onTop); }
    void ShowTrayIcon(const QString& caption) override { inner_.ShowTrayIcon(caption); }
    void RemoveTrayIcon() override { inner_.RemoveTrayIcon(); }

    // Writes the row that is still open and everything pending.
    void Finish();

private:
    struct OpenRow {
        int icon;
        QString time, event, status;
    };
    void WriteOpenRow();

    WizardView& inner_;
    RunLog& log_;
    std::optional<OpenRow> open_;
};
