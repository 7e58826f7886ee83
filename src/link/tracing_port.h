#pragma once

#include "link/port.h"
#include "support/run_log.h"

// A port that writes every transmission and every arrival into the run log on its way through. Only put in
// between when the user asks for a trace: without it the link talks to the port directly.
class TracingPort final : public Port {
public:
    TracingPort(Port& inner, RunLog& log) : inner_(inner), log_(log) {
        inner_.OnData = [this](std::span<const std::uint8_t> bytes) {
            log_.Bytes('<', bytes);
            if (OnData)
                OnData(bytes);
        };
    }
    ~TracingPort() override { inner_.OnData = nullptr; }

    void Discard() override { inner_.Discard(); }
    void Transmit(std::span<const std::uint8_t> bytes) override {
        log_.Bytes('>', bytes);
        inner_.Transmit(bytes);
    }

private:
    Port& inner_;
    RunLog& log_;
};
