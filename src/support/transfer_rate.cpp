#include "support/transfer_rate.h"

void TransferRate::Record(double now, int done) {
    now_ = now;
    done_ = done;
}

double TransferRate::BytesPerSecond() const {
    const double elapsed = now_ - start_;
    if (done_ <= 0 || elapsed <= 0.0)
        return 0.0;
    return done_ * bytesPerItem_ / elapsed;
}

std::optional<double> TransferRate::SecondsLeft() const {
    const double rate = BytesPerSecond();
    if (rate <= 0.0)
        return std::nullopt;
    return (count_ - done_) * bytesPerItem_ / rate;
}
