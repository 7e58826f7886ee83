#pragma once

#include <QDateTime>

// Time as the wizard needs it: a monotonic reading for time-outs and waits, and the local wall clock for the
// task list and the DC's clock. Tests use VirtualClock so that long waits cost nothing.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double Now() const = 0;  // seconds on a monotonic clock; never jumps at midnight
    virtual QDateTime LocalNow() const = 0;
};

class SystemClock final : public Clock {
public:
    double Now() const override;
    QDateTime LocalNow() const override;
};

// Time moves only when told to; the wall clock moves with it.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(QDateTime wallAtZero = QDateTime(QDate(2026, 1, 1), QTime(9, 0, 0)))
        : wallAtZero_(std::move(wallAtZero)) {}
    double Now() const override { return now_; }
    QDateTime LocalNow() const override { return wallAtZero_.addMSecs(static_cast<qint64>(now_ * 1000.0)); }
    void Advance(double seconds) { now_ += seconds; }
    void AdvanceTo(double t) {
        if (t > now_)
            now_ = t;
    }
    void SetWallClock(const QDateTime& wall) {
        wallAtZero_ = wall.addMSecs(-static_cast<qint64>(now_ * 1000.0));
    }

private:
    double now_ = 0.0;
    QDateTime wallAtZero_;
};
