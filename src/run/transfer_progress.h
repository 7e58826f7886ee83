#pragma once

#include <QLatin1String>
#include <QString>
#include <optional>

// How the time left reads until the user's language is known.
inline constexpr QLatin1String kEnglishTimeLeft("%1 left");

// A transfer's row as it goes: block `item` of `count` is about to go; the rate and the time left are
// measured over the blocks before it. The row keeps the percentage; what else a view shows is its own choice.
struct TransferProgress {
    int item = 0;
    int count = 0;
    double bytesPerSecond = 0.0;                       // 0 until a block has gone through
    std::optional<double> secondsLeft = std::nullopt;  // none until the rate is known

    int Percent() const;
    QString PercentText() const;  // "45%": the row's status
    // "3.7 kB/s · 0:21 left", nothing while the rate is unknown. timeLeft words the time left in the user's
    // language ("%1 left").
    QString RateText(const QString& timeLeft) const;
    // "45% · 3.7 kB/s · 0:21 left"
    QString Text(const QString& timeLeft) const;
};
