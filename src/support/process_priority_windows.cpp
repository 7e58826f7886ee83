#include "support/process_priority.h"

#include <windows.h>

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
