#include "link/device_link.h"

#include <algorithm>

DeviceLink::DeviceLink(Port& port, const Clock& clock, EventPump& pump, const StopRequest& stop)
    : port_(port), clock_(clock), pump_(pump), stop_(stop) {
    port_.OnData = [this](std::span<const std::uint8_t> data) { Receive(data); };
}

void DeviceLink::Expect(dc::Reply reply) {
    expected_ = reply;
    received_ = 0;
    complete_ = false;
    refused_ = false;
}

void DeviceLink::Receive(std::span<const std::uint8_t> data) {
    if (!expected_) {
        // Nothing asked: a late reply, while one may still come, else a noisy line. Taken for nothing.
        if (!lateReplyMayCome_ && !data.empty())
            ++noise_;
        return;
    }
    const dc::Reply reply = *expected_;
    // A reply that must open with an acknowledgement or a refusal and opens with anything else.
    const bool opens = reply == dc::Reply::Acknowledgement || received_ == 0;
    if (opens && !data.empty() && reply != dc::Reply::StatusByte && reply != dc::Reply::Identification &&
        data[0] != dc::kAck && data[0] != dc::kRefusal)
        ++noise_;
    // An acknowledgement is read from the start of each delivery; every other reply is appended, and bytes
    // past the end are dropped.
    std::size_t position = reply == dc::Reply::Acknowledgement ? 0 : static_cast<std::size_t>(received_);
    for (std::uint8_t byte : data) {
        if (position >= reply_.size())
            break;
        reply_[position++] = byte;
        ++received_;
    }
    const std::uint8_t first = reply_[0];
    const auto whole = [&](int length) { return received_ >= length; };
    switch (reply) {
        case dc::Reply::Acknowledgement:
            complete_ = first == dc::kAck && whole(1);
            break;
        case dc::Reply::StatusByte:
            complete_ = whole(2);
            break;
        case dc::Reply::Identification:
            complete_ = whole(18);
            break;
        case dc::Reply::Block:
            complete_ = first == dc::kAck && whole(1 + dc::kBlockBytes);
            break;
        case dc::Reply::WriteAcknowledgement:
            // Stays expected: more bytes change nothing, and the answer is judged by its first byte.
            complete_ = complete_ || first == dc::kAck || first == dc::kRefusal;
            refused_ = refused_ || first == dc::kRefusal;
            return;
    }
    refused_ = refused_ || first == dc::kRefusal;
    if (complete_)
        expected_.reset();
}

void DeviceLink::GaveUpOn(double sentAt) {
    lateReplyMayCome_ = true;
    quietAt_ = std::max(quietAt_, sentAt + kLateReplySeconds);
}

// A wait that already lasted as long (a page, the restart wait) costs nothing more here; what came meanwhile
// without being taken is thrown away all the same.
void DeviceLink::SettleIfAnswerMayCome() {
    if (!lateReplyMayCome_)
        return;
    expected_.reset();
    while (clock_.Now() <= quietAt_)
        pump_.YieldUntil(quietAt_ + 0.0005);
    port_.Discard();
    lateReplyMayCome_ = false;
}

DeviceLink::Result DeviceLink::Run(const dc::Transaction& t, std::span<const std::uint8_t> frame) {
    if (t.stoppable && stop_.Asked())
        return {Outcome::Stopped, {}};
    SettleIfAnswerMayCome();
    int sends = 0;
    const auto send = [&] {
        if (t.discards == dc::Discards::BeforeEachSend ||
            (t.discards == dc::Discards::BeforeFirstSend && sends == 0))
            port_.Discard();
        Expect(t.reply);
        started_ = clock_.Now();
        ++sends;
        port_.Transmit(frame);
    };
    send();
    bool holding = false;
    while (true) {
        RunWhileWaiting();
        pump_.YieldUntil(started_ + t.timeout);
        holding = t.stoppable && stop_.Asked();
        const bool timedOut = Elapsed() > t.timeout;
        const bool unanswered = timedOut && !complete_ && !refused_;
        if (sends < t.sends && !holding &&
            ((timedOut && (t.resendsAnsweredLate || !complete_)) || (refused_ && t.refusalResends))) {
            if (unanswered)
                GaveUpOn(started_);
            send();
        }
        // The last send is waited for as well: an answer left on its way would pass for the next command's.
        const bool spent = (sends == t.sends || holding) && (refused_ || Elapsed() > t.timeout);
        if (complete_ || spent)
            break;
    }
    const std::span<const std::uint8_t> reply(reply_.data(), static_cast<std::size_t>(received_));
    if (complete_) {
        // A whole reply that opens with a refusal is one, on the last send as on every other.
        const bool judgedWhole = t.reply != dc::Reply::Acknowledgement && t.reply != dc::Reply::Block;
        return {judgedWhole && refused_ ? Outcome::Refused : Outcome::Acknowledged, reply};
    }
    if (!refused_)
        GaveUpOn(started_);
    return {holding ? Outcome::Stopped : refused_ ? Outcome::Refused : Outcome::TimedOut, reply};
}

void DeviceLink::WaitSeconds(double seconds) {
    const double start = clock_.Now();
    while (clock_.Now() - start <= seconds)
        pump_.SleepUntil(start + seconds + 0.0005);
}
