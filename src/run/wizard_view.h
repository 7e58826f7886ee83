#pragma once

#include <QString>
#include <QtGlobal>

// Message-box styles (buttons + icon) and the buttons a box reports.
enum MessageBoxStyle : int {
    MbOkCritical = 16,
    MbOkCancelCritical = 17,
    MbOkExclamation = 48,
    MbYesNoWarning = 52,
    MbOkInformation = 64,
    MbOkCancelInformation = 65,
    MbDefaultSecond = 0x100,  // added to a style: the second button (No, Cancel) is the default
};
// IdNoAnswer: a box with a choice was closed, escaped or met the end of input without a button chosen.
enum MessageBoxAnswer : int { IdNoAnswer = 0, IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };

enum class WizardButton { Next, Back, Close, Print };

// Task-list icons.
enum TaskIcon : int { IconStarted = 0, IconInformation = 1, IconFailure = 2 };

// The window as the stage machine, the update and the recovery see it. WizardWindow draws it; the terminal
// front end prints it; tests record it.
class WizardView {
public:
    virtual ~WizardView() = default;

    virtual void SetWindowCaption(const QString& caption) = 0;
    virtual void SetFrameCaption(const QString& caption) = 0;
    virtual void SetFrameVisible(bool visible) = 0;
    virtual void SetInstructionText(const QString& text) = 0;  // lines separated by "\r\n"
    virtual void SetPictureVisible(bool visible) = 0;

    virtual void SetTaskListVisible(bool visible) = 0;
    virtual void SetColumnHeaders(const QString& time, const QString& event, const QString& status) = 0;
    virtual void AppendTaskRow(int icon, const QString& time, const QString& event,
                               const QString& status) = 0;
    virtual void SetNewestTaskStatus(const QString& status) = 0;
    // `shown` is what someone watching sees now (a rate and the time left, seconds counting); `status` is
    // what the row keeps. A view that shows nothing live keeps to the status.
    virtual void SetNewestTaskProgress(const QString& status, const QString& shown) {
        Q_UNUSED(shown);
        SetNewestTaskStatus(status);
    }
    virtual void ClearTaskRows() = 0;

    virtual void SetButtonCaption(WizardButton button, const QString& caption) = 0;
    virtual void SetButtonEnabled(WizardButton button, bool enabled) = 0;
    virtual void SetButtonVisible(WizardButton button, bool visible) = 0;

    // Modal; returns IdOk, IdCancel, IdYes, IdNo or, for a box with a choice, IdNoAnswer.
    virtual int ShowMessageBox(const QString& text, const QString& title, int style) = 0;
    // A problem that ends start-up: a critical box in the window; the terminal writes it to standard error.
    virtual void ShowStartupError(const QString& text, const QString& title) {
        ShowMessageBox(text, title, MbOkCritical);
    }

    virtual void SetOnTop(bool onTop) = 0;
    virtual void ShowTrayIcon(const QString& caption) = 0;
    virtual void RemoveTrayIcon() = 0;
};
