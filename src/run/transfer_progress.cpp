#include "run/transfer_progress.h"

#include <cmath>

#include "support/progress.h"

int TransferProgress::Percent() const {
    return ProgressPercent(item, count);
}

QString TransferProgress::PercentText() const {
    return ProgressText(item, count);
}

QString TransferProgress::RateText(const QString& timeLeft) const {
    if (!secondsLeft)
        return QString();
    const auto seconds = static_cast<long long>(std::ceil(*secondsLeft));
    const QString clock = QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1 kB/s · %2")
        .arg(QString::number(bytesPerSecond / 1000.0, 'f', 1), timeLeft.arg(clock));
}

QString TransferProgress::Text(const QString& timeLeft) const {
    const QString rate = RateText(timeLeft);
    return rate.isEmpty() ? PercentText() : PercentText() + QStringLiteral(" · ") + rate;
}
