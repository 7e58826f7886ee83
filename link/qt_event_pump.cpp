#include "link/qt_event_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Longer waits are cut into pieces of this size; the loop goes on until the deadline anyway.
constexpr double kLongestTimerSeconds = 3600.0;

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

}  // namespace

QtEventPump::QtEventPump(Clock& clock) : clock_(clock) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

QtEventPump::~QtEventPump() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

void QtEventPump::YieldUntil(double deadline) {
    const quint64 wakesAtStart = wakes_;
    double remaining = deadline - clock_.Now();
    if (remaining <= 0.0) {
        // Past the deadline: still deliver what is ready, as one pass of the message loop does.
        QCoreApplication::processEvents();
        return;
    }

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    loops_.push_back(&loop);
    while (remaining > 0.0 && wakes_ == wakesAtStart) {
        // Rounded up, so that the deadline has passed when the timer fires.
        const double milliseconds = std::ceil(std::min(remaining, kLongestTimerSeconds) * 1000.0);
        timer.start(static_cast<int>(milliseconds));
        loop.exec();
        remaining = deadline - clock_.Now();
    }
    timer.stop();
    loops_.pop_back();
}

void QtEventPump::SleepUntil(double deadline) {
    for (double remaining = deadline - clock_.Now(); remaining > 0.0; remaining = deadline - clock_.Now())
        std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
}

void QtEventPump::Wake() {
    ++wakes_;
    // A yield nested in another (a click handler that waits itself) ends the outer one as well.
    for (QEventLoop* loop : loops_)
        loop->quit();
}

bool QtEventPump::eventFilter(QObject* watched, QEvent* event) {
    // The click has not been handled yet: wake once it has, so the waiting code sees its effect.
    if (!loops_.empty() && IsUserInput(event->type()))
        QMetaObject::invokeMethod(this, &QtEventPump::Wake, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}
