#include "tools/dcsim/replay_script.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "link/command_set.h"

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < 12; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    if (bytes.size() > 12)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// The clock record carries the time it was sent: only its form must be the recorded one.
bool SameClockRecord(std::span<const std::uint8_t> recorded, std::span<const std::uint8_t> heard) {
    if (heard.size() != recorded.size() || heard.size() != 10 || heard[6] != recorded[6] || heard[9] != 0)
        return false;
    return std::accumulate(heard.begin(), heard.begin() + 8, 0u) % 256 == heard[8];
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

}  // namespace

std::optional<ReplayScript> ReplayScript::From(const RecordedRun& run, std::string* error) {
    const auto fail = [error](const std::string& why) {
        *error = why;
        return std::nullopt;
    };
    if (!run.wireGap.isEmpty())
        return fail(run.wireGap.toStdString());
    ReplayScript script;
    std::size_t decision = 0;
    for (const RecordedRun::WireLine& line : run.wire) {
        if (line.sent) {
            Exchange e{line.bytes, line.ms / 1000.0, {}, !script.exchanges_.empty(), {}};
            e.step = run.StepAt(line.ms).toStdString();
            for (; decision < run.decisions.size() && run.decisions[decision].ms < line.ms; ++decision)
                e.timedWait = false;
            if (!script.exchanges_.empty() && !script.exchanges_.back().answer.empty())
                e.timedWait = false;
            script.exchanges_.push_back(std::move(e));
        } else if (!script.exchanges_.empty()) {  // bytes before the first frame are cleared by it
            Exchange& e = script.exchanges_.back();
            e.answer.push_back({std::max(0.0, line.ms / 1000.0 - e.at), line.bytes});
            if (script.identification_.empty() && e.frame.size() == 2 && e.frame[0] == dc::Identify &&
                line.bytes.size() == 18)
                script.identification_.assign(line.bytes.begin() + 1, line.bytes.begin() + 17);
        }
    }
    if (script.exchanges_.empty())
        return fail(
            "the log holds no wire: only the log of an update that did not succeed, or one written "
            "with --trace, can be replayed");
    return script;
}

std::size_t ReplayScript::NextLength() const {
    return next_ < exchanges_.size() ? exchanges_[next_].frame.size() : 0;
}

std::string ReplayScript::Where(std::size_t index) const {
    const std::string step =
        index < exchanges_.size() ? exchanges_[index].step : "after the last recorded frame";
    return "frame " + std::to_string(index + 1) + " (" + step + ")";
}

ReplayScript::Heard ReplayScript::Take(std::span<const std::uint8_t> frame, double now) {
    if (next_ >= exchanges_.size())
        return {nullptr, Where(next_) + ": recorded nothing more, heard " + Hex(frame)};
    const Exchange& e = exchanges_[next_];
    const bool clock = next_ > 0 && exchanges_[next_ - 1].frame == std::vector<std::uint8_t>{dc::SetClock, 0};
    if (!std::ranges::equal(frame, e.frame) && !(clock && SameClockRecord(e.frame, frame)))
        return {nullptr, Where(next_) + ": recorded " + Hex(e.frame) + ", heard " + Hex(frame)};
    if (e.timedWait) {
        const double recorded = e.at - exchanges_[next_ - 1].at, heard = now - lastHeard_;
        const bool resend = e.frame == exchanges_[next_ - 1].frame;
        if (heard < recorded - kEarlySeconds - kEarlyShare * recorded ||
            (resend && heard > recorded + kLateSeconds + kLateShare * recorded))
            return {nullptr, Where(next_) + ": recorded " + Seconds(recorded) +
                                 " after the frame before, heard " + Seconds(heard) + " after it"};
    }
    lastHeard_ = now;
    return {&exchanges_[next_++].answer, {}};
}

std::string ReplayScript::Unheard() const {
    if (next_ >= exchanges_.size())
        return {};
    return Where(next_) + ": recorded " + Hex(exchanges_[next_].frame) + ", heard nothing more";
}
