#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/recorded_run.h"

// The DC's side of a recorded run: each frame the program sent, in order, with what came back after it (its
// pieces and their delays; nothing for a silence). A frame heard is matched with the next recorded one: the
// same bytes (a clock record only by its form: its time is today's), and where the recording shows a wait
// that only the program's own time-out explains, about the same wait.
class ReplayScript {
public:
    // How far a time-out's wait may stray from the recorded one: a timer never fires early, but a loaded
    // machine may be late.
    static constexpr double kEarlySeconds = 0.030, kEarlyShare = 0.10;
    static constexpr double kLateSeconds = 0.150, kLateShare = 0.25;

    struct Piece {
        double after = 0.0;  // seconds after the frame was heard
        std::vector<std::uint8_t> bytes;
    };
    struct Exchange {
        std::vector<std::uint8_t> frame;
        double at = 0.0;  // seconds into the recorded run
        std::vector<Piece> answer;
        bool timedWait = false;  // nothing came back and nobody decided since the frame before
        std::string step;        // the row that was open
    };
    struct Heard {
        const std::vector<Piece>* answer = nullptr;  // null: the frame differs from the recorded one
        std::string difference;                      // where and how, for a person
    };

    // False with *error set when the log holds no wire, or not the whole of it.
    static std::optional<ReplayScript> From(const RecordedRun& run, std::string* error);

    std::size_t NextLength() const;  // of the frame expected next; 0 when every recorded frame was heard
    Heard Take(std::span<const std::uint8_t> frame, double now);
    std::string Unheard() const;  // at the end: the first recorded frame never heard, said; or empty
    std::size_t Frames() const { return exchanges_.size(); }
    std::size_t HeardFrames() const { return next_; }
    const std::string& RecordedIdentification() const { return identification_; }

private:
    std::string Where(std::size_t index) const;

    std::vector<Exchange> exchanges_;
    std::size_t next_ = 0;
    double lastHeard_ = 0.0;
    std::string identification_;  // of the DC that answered, for the simulated DC that may take over
};
