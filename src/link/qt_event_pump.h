#pragma once

#include <QObject>
#include <vector>

#include "link/event_pump.h"
#include "support/clock.h"

class QEventLoop;

// The event pump of the window's thread. YieldUntil runs the Qt event loop, so received bytes and button
// clicks are delivered, and comes back as soon as one of them has been, or at the deadline. The clock must
// move with real time (SystemClock): the deadline is measured on it.
class QtEventPump final : public QObject, public EventPump {
    Q_OBJECT

public:
    explicit QtEventPump(Clock& clock);
    ~QtEventPump() override;

    void YieldUntil(double deadline) override;
    void SleepUntil(double deadline) override;

public slots:
    // Something the waiting code may want to look at has been delivered: end the running yields.
    void Wake();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void ArmTimer(double deadline);
    void WaitForEvents();  // one round of the event loop, until something has been delivered
    void EndLoops();

    std::vector<QEventLoop*> loops_;  // the rounds now waiting in a loop of their own

    Clock& clock_;
    int timerId_ = 0;
    double timerDue_ = 0.0;  // when it fires, on the clock
    int yields_ = 0;         // the yields now running
    quint64 wakes_ = 0;
};
