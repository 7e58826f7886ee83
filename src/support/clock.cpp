#include "support/clock.h"

#include <chrono>

double SystemClock::Now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QDateTime SystemClock::LocalNow() const {
    return QDateTime::currentDateTime();
}
