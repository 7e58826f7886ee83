#pragma once

#include <functional>

#include "link/port.h"
#include "support/run_log.h"

// A port that hands every transmission and every arrival to the run log on its way through, which writes it
// at once for a trace, or holds it until an update's end says whether it is needed.
class TracingPort final : public Port {
public:
    TracingPort(Port& inner, RunLog& log) : inner_(inner), log_(log) {
        inner_.OnData = [this](std::span<const std::uint8_t> bytes) {
            log_.Bytes('<', bytes);
            if (OnData)
                OnData(bytes);
            if (Passed)
                Passed(false, bytes.size());
        };
    }
    ~TracingPort() override { inner_.OnData = nullptr; }

    void Discard() override { inner_.Discard(); }
    void Transmit(std::span<const std::uint8_t> bytes) override {
        log_.Bytes('>', bytes);
        inner_.Transmit(bytes);
        if (Passed)
            Passed(true, bytes.size());
    }

    // After each transmission (sent) and each arrival has gone on its way: a replay's point of reference.
    std::function<void(bool sent, std::size_t bytes)> Passed;

private:
    Port& inner_;
    RunLog& log_;
};
