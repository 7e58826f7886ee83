#include "link/qt_event_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimerEvent>
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
    // Each round of the event loop that delivers something returns here to look at the wakes; the timer
    // bounds the wait (its event alone ends a round). No loop of its own: ending one would cost a wake-up of
    // the event loop per reply.
    ++yields_;
    while (remaining > 0.0 && wakes_ == wakesAtStart) {
        ArmTimer(deadline);
        WaitForEvents();
        remaining = deadline - clock_.Now();
    }
    --yields_;
}

void QtEventPump::WaitForEvents() {
#ifdef Q_OS_WIN
    // Qt's Windows event dispatcher, called through processEvents() from outside a running loop, may return
    // for an event posted from another thread without delivering it: the round ends at the timer. Inside a
    // loop of its own it delivers at once; a wake or the timer ends that loop.
    QEventLoop loop;
    loops_.push_back(&loop);
    loop.exec();
    loops_.pop_back();
#else
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
#endif
}

void QtEventPump::EndLoops() {
    for (QEventLoop* loop : loops_)
        loop->quit();
}

void QtEventPump::ArmTimer(double deadline) {
    // One timer serves the yields that follow while it fires no later than their deadline (it then only makes
    // the loop look again): a reply on time costs no timer to register or remove.
    if (timerId_ != 0 && timerDue_ <= deadline)
        return;
    if (timerId_ != 0)
        killTimer(timerId_);
    // Rounded up, so that the deadline has passed when it fires.
    const double now = clock_.Now();
    const int milliseconds =
        static_cast<int>(std::ceil(std::min(deadline - now, kLongestTimerSeconds) * 1000.0));
    timerId_ = startTimer(std::max(milliseconds, 0), Qt::PreciseTimer);
    timerDue_ = now + milliseconds / 1000.0;
}

void QtEventPump::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_) {
        killTimer(timerId_);
        timerId_ = 0;
        EndLoops();
    }
}

void QtEventPump::SleepUntil(double deadline) {
    for (double remaining = deadline - clock_.Now(); remaining > 0.0; remaining = deadline - clock_.Now())
        std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
}

void QtEventPump::Wake() {
    // A yield nested in another (a click handler that waits itself) ends the outer one as well.
    ++wakes_;
    EndLoops();
}

bool QtEventPump::eventFilter(QObject* watched, QEvent* event) {
    // The click has not been handled yet: wake once it has, so the waiting code sees its effect.
    if (yields_ > 0 && IsUserInput(event->type()))
        QMetaObject::invokeMethod(this, &QtEventPump::Wake, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}
