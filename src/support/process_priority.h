#pragma once

#include <QtGlobal>

#include <optional>

// Priority classes, with the values Windows gives them.
constexpr int PriorityNormal = 32;
constexpr int PriorityHigh = 128;
constexpr int PriorityRealtime = 256;

class PriorityControl {
public:
    virtual ~PriorityControl() = default;
    // processId 0: the process owning `window`, or the current process when window is 0 too. Returns the
    // class in force afterwards, 0 when it cannot be read. A refused change is not an error: it shows in the
    // result.
    virtual int SetProcessPriority(qint64 processId, qintptr window, int priorityClass) = 0;
};

class OsPriorityControl final : public PriorityControl {
public:
    int SetProcessPriority(qint64 processId, qintptr window, int priorityClass) override;
};

// Linux has no priority classes; the nice value stands in for them.
std::optional<int> NiceForPriorityClass(int priorityClass);
int PriorityClassForNice(int niceValue);
