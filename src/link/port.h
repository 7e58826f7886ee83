#pragma once

#include <cstdint>
#include <functional>
#include <span>

// What the link needs of a serial port, nothing more.
class Port {
public:
    virtual ~Port() = default;
    virtual void Discard() = 0;  // both queues, input first
    virtual void Transmit(std::span<const std::uint8_t> bytes) = 0;
    std::function<void(std::span<const std::uint8_t>)> OnData;  // called once per arrival, in order
};
