#include "run/task_list.h"

QString TaskList::Row::Text() const {
    return '\t' + time + '\t' + event + '\t' + status;
}

void TaskList::AddRow(int icon, const QString& event, const QString& status) {
    Row row{icon, clock_.LocalNow().time().toString(QStringLiteral("HH:mm:ss")), event, status};
    rate_.reset();
    view_.AppendTaskRow(row.icon, row.time, row.event, row.status);
    rows_.push_back(std::move(row));
}

void TaskList::SetLastRowStatus(const QString& status) {
    if (rows_.empty())
        return;
    rows_.back().status = status;
    view_.SetNewestTaskStatus(status);
}

void TaskList::SetLastRowProgress(int item, int count) {
    if (rows_.empty())
        return;
    if (!rate_ || rate_->Count() != count || item <= 1)
        rate_.emplace(clock_.Now(), count, kBytesPerBlock);
    rate_->Record(clock_.Now(), item - 1);  // the blocks before this one have gone through
    const TransferProgress progress{item, count, rate_->BytesPerSecond(), rate_->SecondsLeft()};
    rows_.back().status = progress.PercentText();
    view_.SetNewestTaskProgress(progress);
}

void TaskList::ShowLive(const QString& shown) {
    if (!rows_.empty())
        view_.ShowNewestTaskLive(shown);
}

void TaskList::Clear() {
    rows_.clear();
    rate_.reset();
    view_.ClearTaskRows();
}

QString TaskRowLine(int icon, const QString& time, const QString& event, const QString& status) {
    const char mark = icon == IconFailure ? '!' : icon == IconInformation ? '+' : '>';
    QString line = time + ' ' + QLatin1Char(mark) + ' ' + event;
    if (!status.isEmpty())
        line += QStringLiteral(" : ") + status;
    return line;
}
