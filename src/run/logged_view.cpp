#include "run/logged_view.h"

#include "run/task_list.h"

namespace {

QString OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString AnswerName(BoxAnswer answer) {
    switch (answer) {
        case BoxAnswer::None:
            return QStringLiteral("0");  // no button chosen
        case BoxAnswer::Ok:
            return QStringLiteral("OK");
        case BoxAnswer::Cancel:
            return QStringLiteral("Cancel");
        case BoxAnswer::Yes:
            return QStringLiteral("Yes");
        case BoxAnswer::No:
            return QStringLiteral("No");
    }
    return QString();
}

}  // namespace

void LoggedView::WriteOpenRow() {
    if (!open_)
        return;
    const OpenRow row = *open_;
    open_.reset();
    log_.Write(TaskRowLine(row.icon, row.time, row.event, row.status));
    if (row.icon == IconFailure)
        log_.Flush();
}

void LoggedView::AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) {
    WriteOpenRow();
    open_ = OpenRow{icon, time, event, status};
    inner_.AppendTaskRow(icon, time, event, status);
}

void LoggedView::SetNewestTaskStatus(const QString& status) {
    if (open_)
        open_->status = status;
    inner_.SetNewestTaskStatus(status);
}

void LoggedView::SetNewestTaskProgress(const TransferProgress& progress) {
    if (open_)
        open_->status = progress.PercentText();
    inner_.SetNewestTaskProgress(progress);
}

void LoggedView::ClearTaskRows() {
    WriteOpenRow();
    inner_.ClearTaskRows();
}

BoxAnswer LoggedView::ShowMessageBox(const QString& text, const QString& title, BoxStyle style) {
    WriteOpenRow();
    const QString box = QLatin1Char('[') + title + QStringLiteral("] ") + OneLine(text);
    log_.Write(box);
    log_.Flush();  // a box may wait for a long time, or be the last thing the program does
    const BoxAnswer answer = inner_.ShowMessageBox(text, title, style);
    // A box with one button asks nothing: a replay of the log has nothing to answer there.
    log_.Write(QStringLiteral("answer: ") + AnswerName(answer) +
               (style.buttons == BoxButtons::Ok ? QStringLiteral(", the only button") : QString()));
    return answer;
}

void LoggedView::ShowStartupError(const QString& text, const QString& title) {
    WriteOpenRow();
    log_.Write(QLatin1Char('[') + title + QStringLiteral("] ") + OneLine(text));
    log_.Flush();
    inner_.ShowStartupError(text, title);
}

std::optional<QString> LoggedView::ChooseFirmwareFile(const FirmwareFileChoice& choice) {
    WriteOpenRow();
    log_.Write(QLatin1Char('[') + choice.errorTitle + QStringLiteral("] ") + OneLine(choice.errorText));
    log_.Flush();
    const std::optional<QString> chosen = inner_.ChooseFirmwareFile(choice);
    log_.Write(QStringLiteral("firmware file chosen: ") + (chosen ? *chosen : QStringLiteral("none")));
    return chosen;
}

void LoggedView::Finish() {
    WriteOpenRow();
    log_.Flush();
}

std::optional<int> LoggedView::ChooseCable(const CableChoice& choice) {
    WriteOpenRow();
    log_.Write(QLatin1Char('[') + choice.title + QStringLiteral("] ") + OneLine(choice.question) +
               QLatin1Char(' ') + choice.cables.join(QStringLiteral(" | ")));
    log_.Flush();
    const std::optional<int> chosen = inner_.ChooseCable(choice);
    log_.Write(QStringLiteral("answer: ") + (chosen ? choice.cables.value(*chosen) : QStringLiteral("0")));
    return chosen;
}
