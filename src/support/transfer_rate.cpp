#include "support/transfer_rate.h"

#include <cmath>

void TransferRate::Record(double now, int done) {
    now_ = now;
    done_ = done;
}

double TransferRate::BytesPerSecond() const {
    const double elapsed = now_ - start_;
    if (done_ <= 0 || elapsed <= 0.0)
        return 0.0;
    return done_ * bytesPerItem_ / elapsed;
}

std::optional<double> TransferRate::SecondsLeft() const {
    const double rate = BytesPerSecond();
    if (rate <= 0.0)
        return std::nullopt;
    return (count_ - done_) * bytesPerItem_ / rate;
}

QString RateText(const QString& percent, const TransferRate& rate, const QString& timeLeft) {
    const std::optional<double> secondsLeft = rate.SecondsLeft();
    if (!secondsLeft)
        return percent;
    const auto seconds = static_cast<long long>(std::ceil(*secondsLeft));
    const QString clock = QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1 · %2 kB/s · %3")
        .arg(percent, QString::number(rate.BytesPerSecond() / 1000.0, 'f', 1), timeLeft.arg(clock));
}
