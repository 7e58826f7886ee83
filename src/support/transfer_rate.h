#pragma once

#include <optional>

// Rate and time left of a transfer of equal items (blocks), measured from the moment it started. The wizard
// shows it beside the percentage; the benchmarks print the same figures.
class TransferRate {
public:
    TransferRate(double start, int count, double bytesPerItem)
        : start_(start), count_(count), bytesPerItem_(bytesPerItem) {}

    void Record(double now, int done);  // `done` items of `count` have gone through by `now`

    double BytesPerSecond() const;              // 0 until an item has gone through
    std::optional<double> SecondsLeft() const;  // none until the rate is known
    int Done() const { return done_; }
    int Count() const { return count_; }

private:
    double start_;
    int count_;
    double bytesPerItem_;
    double now_ = 0.0;
    int done_ = 0;
};
