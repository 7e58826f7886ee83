#pragma once

#include <QString>
#include <vector>

#include "run/wizard_view.h"
#include "support/clock.h"

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

    void InsertTaskList(int IconInd, const QString& S1, const QString& S2);
    void SetTaskStatus(const QString& S);  // ignored while the list is empty
    void Clear();

    const std::vector<Row>& Rows() const { return rows_; }

private:
    WizardView& view_;
    const Clock& clock_;
    std::vector<Row> rows_;
};
