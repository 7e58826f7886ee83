#include "support/process_priority.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

std::optional<int> NiceForPriorityClass(int priorityClass) {
    switch (priorityClass) {
        case PriorityNormal:
            return 0;
        case PriorityHigh:
            return -10;
        case PriorityRealtime:
            return -20;
        default:
            return std::nullopt;
    }
}

int PriorityClassForNice(int niceValue) {
    if (niceValue <= -20)
        return PriorityRealtime;
    if (niceValue <= -10)
        return PriorityHigh;
    return PriorityNormal;
}

#ifdef Q_OS_WIN

int OsPriorityControl::SetProcessPriority(qint64 processId, qintptr window, int priorityClass) {
    auto pid = static_cast<DWORD>(processId);
    if (pid == 0) {
        if (window != 0) {
            GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &pid);
        } else {
            pid = GetCurrentProcessId();
        }
    }
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process != nullptr) {
        SetPriorityClass(process, static_cast<DWORD>(priorityClass));
    } else {
        process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    }
    if (process == nullptr)
        return 0;
    const DWORD inForce = GetPriorityClass(process);
    CloseHandle(process);
    return static_cast<int>(inForce);
}

#else

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

#endif
