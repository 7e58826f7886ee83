#include "support/process_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

int OsPriorityControl::SetProcessPriority(qint64 processId, qintptr /*window*/, int priorityClass) {
    // Nice is per thread on Linux; the process id names the main thread, which is where the wizard works.
    const auto pid = static_cast<id_t>(processId == 0 ? getpid() : processId);
    // A real-time scheduler could starve the desktop if the link wait spins; nice is enough.
    if (const auto target = NiceForPriorityClass(priorityClass)) {
        setpriority(PRIO_PROCESS, pid, *target);  // refused without the right: the read-back tells
    }
    errno = 0;
    const int niceValue = getpriority(PRIO_PROCESS, pid);
    if (niceValue == -1 && errno != 0)
        return 0;
    return PriorityClassForNice(niceValue);
}
