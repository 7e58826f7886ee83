#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "run/wizard_view.h"
#include "support/clock.h"
#include "support/transfer_rate.h"

// The run log of an update: rows are only appended, the newest row's status is replaced as its step goes on.
class TaskList {
public:
    struct Row {
        int icon = 0;
        QString time;  // "hh:mm:ss", 24-hour clock
        QString event;
        QString status;
        // The row as one text of four tab-separated fields: empty, time, event, status.
        QString Text() const;
    };

    TaskList(WizardView& view, const Clock& clock) : view_(view), clock_(clock) {}

    void AddRow(int icon, const QString& event, const QString& status);
    void SetLastRowStatus(const QString& status);  // ignored while the list is empty
    void Clear();

    // Block `item` of `count` is about to go: the status is its percentage; the view is also given the rate
    // and the time left, measured from the row's first block.
    void SetLastRowProgress(int item, int count);
    // Something to watch beside the unchanged status, such as the seconds of a wait.
    void ShowLive(const QString& shown);
    // How the time left reads in the user's language ("%1 left").
    void SetTimeLeftFormat(const QString& format) {
        if (format.contains(QLatin1String("%1")))
            view_.SetTimeLeftFormat(format);
    }

    const std::vector<Row>& Rows() const { return rows_; }

    static constexpr double kBytesPerBlock = 128.0;

private:
    WizardView& view_;
    const Clock& clock_;
    std::vector<Row> rows_;
    std::optional<TransferRate> rate_;  // of the newest row
};

// A row as one line of text: "HH:MM:SS <mark> <event>", then " : <status>" when there is one; the mark is '>'
// for a step that started, '+' for information or success, '!' for a failure.
QString TaskRowLine(int icon, const QString& time, const QString& event, const QString& status);
