#include "support/process_priority.h"

// OsPriorityControl: process_priority_linux.cpp, process_priority_windows.cpp.

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
