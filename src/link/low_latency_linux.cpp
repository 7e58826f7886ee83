#include "link/low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

const int kLowLatencyFlag = ASYNC_LOW_LATENCY;

std::optional<int> SystemSerialDriver::Flags(int fd) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return std::nullopt;
    return settings.flags;
}

bool SystemSerialDriver::SetFlags(int fd, int flags) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return false;
    settings.flags = flags;
    return ::ioctl(fd, TIOCSSERIAL, &settings) == 0;
}
