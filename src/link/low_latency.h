#pragma once

#include <QString>
#include <optional>

// What the serial driver offers against reply latency. A USB-serial adapter holds a short reply back until
// its latency timer runs out (16 ms by default on FTDI chips), which nearly doubles the time of a block
// transfer; the driver's low-latency flag asks it to pass bytes on at once.
class SerialDriver {
public:
    virtual ~SerialDriver() = default;
    virtual std::optional<int> Flags(
        int fd) = 0;  // none: the device has no serial settings (a pseudo-terminal)
    virtual bool SetFlags(int fd, int flags) = 0;  // false: refused
    // The text of a sysfs file, or of a registry value on Windows; none when missing.
    virtual std::optional<QString> ReadAttribute(const QString& path) = 0;
};

// Linux: TIOCGSERIAL / TIOCSSERIAL and /sys/class/tty. Windows: no flag, the timer from the driver's registry
// key.
class SystemSerialDriver final : public SerialDriver {
public:
    std::optional<int> Flags(int fd) override;
    bool SetFlags(int fd, int flags) override;
    std::optional<QString> ReadAttribute(const QString& path) override;
};

extern const int kLowLatencyFlag;  // ASYNC_LOW_LATENCY where it exists

struct LowLatency {
    QString device;                   // the port as it was opened
    bool offered = false;             // the driver has serial settings at all
    bool granted = false;             // the flag is on after the request
    std::optional<int> restoreFlags;  // what to put back at close, when the request changed the flags
    std::optional<int> timerMs;       // the adapter's latency timer, where it has one
    QString timerPath;                // where it was read

    bool TimerTooSlow() const { return timerMs && *timerMs > 1; }
    QString Summary() const;  // one line for the run log and the terminal
};

// Where the adapter's latency timer is kept: a sysfs file on Linux, "<registry key>\\<value>" on Windows.
QString LatencyTimerPath(const QString& devicePath);
// How the user shortens a slow timer.
QString SlowTimerAdvice(const LowLatency& state);

// Asks for low latency on an open port and reads the latency timer back.
LowLatency RequestLowLatency(SerialDriver& driver, int fd, const QString& devicePath);
// Puts the flags back as they were before the request (before the port is closed).
void RestoreLowLatency(SerialDriver& driver, int fd, const LowLatency& state);
