#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

#include "run/transfer_progress.h"

enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxIcon { Critical, Warning, Information };

// What a message box offers and how it looks.
struct BoxStyle {
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::Information;
    bool secondIsDefault = false;  // Enter presses No or Cancel, not Yes or OK

    constexpr BoxStyle WithSecondDefault() const { return {buttons, icon, true}; }
    friend bool operator==(const BoxStyle&, const BoxStyle&) = default;
};

inline constexpr BoxStyle kBoxOkCritical{BoxButtons::Ok, BoxIcon::Critical};
inline constexpr BoxStyle kBoxOkCancelCritical{BoxButtons::OkCancel, BoxIcon::Critical};
inline constexpr BoxStyle kBoxOkWarning{BoxButtons::Ok, BoxIcon::Warning};
inline constexpr BoxStyle kBoxYesNoWarning{BoxButtons::YesNo, BoxIcon::Warning};
inline constexpr BoxStyle kBoxOkInformation{BoxButtons::Ok, BoxIcon::Information};
inline constexpr BoxStyle kBoxOkCancelInformation{BoxButtons::OkCancel, BoxIcon::Information};

// None: a box with a choice was closed, escaped or met the end of input without a button chosen.
enum class BoxAnswer { None, Ok, Cancel, Yes, No };

// Again: after an update, "Update another DC" in the place of Next.
enum class WizardButton { Next, Back, Close, Print, Again };

// Several interface cables are plugged in: which one to use.
struct CableChoice {
    QString title;
    QString question;    // asked above the list
    QString refusal;     // said instead by a view that cannot ask (the terminal): how to name one with --port
    QStringList cables;  // one line each
};

// Task-list icons.
enum TaskIcon : int { IconStarted = 0, IconInformation = 1, IconFailure = 2 };

// Start-up found no firmware file where it looked: what a view offers instead, in the user's language.
struct FirmwareFileChoice {
    QString title, text;  // the box: what is missing, where it was looked for, what to do
    QString choose;       // its button that opens the file dialog
    QString dialogTitle, filterName;
    QString errorTitle, errorText;  // what a view that cannot offer the choice says as start-up ends
};

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
    // The row keeps the percentage as its status; a view that shows things live also shows the rest.
    virtual void SetNewestTaskProgress(const TransferProgress& progress) {
        SetNewestTaskStatus(progress.PercentText());
    }
    // Something to watch beside the row's unchanged status, such as the seconds of a wait.
    virtual void ShowNewestTaskLive(const QString& shown) { Q_UNUSED(shown); }
    // How a transfer's time left reads in the user's language ("%1 left").
    virtual void SetTimeLeftFormat(const QString& format) { Q_UNUSED(format); }
    virtual void ClearTaskRows() = 0;

    virtual void SetButtonCaption(WizardButton button, const QString& caption) = 0;
    virtual void SetButtonEnabled(WizardButton button, bool enabled) = 0;
    virtual void SetButtonVisible(WizardButton button, bool visible) = 0;

    // Modal; the button chosen, or for a box with a choice possibly none.
    virtual BoxAnswer ShowMessageBox(const QString& text, const QString& title, BoxStyle style) = 0;
    // A problem that ends start-up: a critical box in the window; the terminal writes it to standard error.
    virtual void ShowStartupError(const QString& text, const QString& title) {
        ShowMessageBox(text, title, kBoxOkCritical);
    }
    // Modal; the firmware file the user chose, or nothing (start-up ends). Asked again after a file that
    // was refused.
    virtual std::optional<QString> ChooseFirmwareFile(const FirmwareFileChoice& choice) {
        ShowStartupError(choice.errorText, choice.errorTitle);
        return std::nullopt;
    }

    // The index of the cable chosen; nothing when the user gave up, or the view cannot ask.
    virtual std::optional<int> ChooseCable(const CableChoice& choice) {
        Q_UNUSED(choice);
        return std::nullopt;
    }

    virtual void SetOnTop(bool onTop) = 0;
    virtual void ShowTrayIcon(const QString& caption) = 0;
    virtual void RemoveTrayIcon() = 0;
};
