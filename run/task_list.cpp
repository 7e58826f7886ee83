#include "run/task_list.h"

QString TaskList::Row::Text() const {
    return '\t' + time + '\t' + event + '\t' + status;
}

void TaskList::InsertTaskList(int IconInd, const QString& S1, const QString& S2) {
    Row row{IconInd, clock_.LocalNow().time().toString(QStringLiteral("HH:mm:ss")), S1, S2};
    view_.AppendTaskRow(row.icon, row.time, row.event, row.status);
    rows_.push_back(std::move(row));
}

void TaskList::SetTaskStatus(const QString& S) {
    if (rows_.empty())
        return;
    rows_.back().status = S;
    view_.SetNewestTaskStatus(S);
}

void TaskList::Clear() {
    rows_.clear();
    view_.ClearTaskRows();
}
