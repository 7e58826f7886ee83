#include "tools/dcsim/dc_server.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace {

// Pieces of a cut reply must not run together in the reader's buffer.
constexpr double kPieceGap = 0.010;

void Log(const char* direction, const std::vector<std::uint8_t>& bytes, double t) {
    std::fprintf(stderr, "%9.3f %s", t, direction);
    for (std::size_t i = 0; i < bytes.size() && i < 24; ++i)
        std::fprintf(stderr, " %02X", bytes[i]);
    std::fprintf(stderr, bytes.size() > 24 ? " ... (%zu bytes)\n" : "\n", bytes.size());
}

}  // namespace

DcServer::DcServer(DcConfig config, int fd, bool verbose, QObject* parent)
    : QObject(parent),
      model_(std::move(config)),
      fd_(fd),
      verbose_(verbose),
      notifier_(fd, QSocketNotifier::Read),
      chatterState_(model_.Config().seed) {
    elapsed_.start();
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { ReadAvailable(); });
    gap_.setSingleShot(true);
    gap_.setInterval(kGapMs);
    connect(&gap_, &QTimer::timeout, this, [this] {
        if (!pending_.empty())
            Process(std::exchange(pending_, {}));
    });
    const DcFaults& f = model_.Config().faults;
    if (f.chatter) {
        chatter_.setTimerType(Qt::PreciseTimer);
        chatter_.setInterval(std::max(1, static_cast<int>(std::lround(f.chatterInterval * 1000.0))));
        connect(&chatter_, &QTimer::timeout, this, [this] { Chatter(); });
        chatter_.start();
    }
}

void DcServer::ReadAvailable() {
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        pending_.insert(pending_.end(), buffer, buffer + n);
    }
    TakeCompleteFrames();
    if (pending_.empty())
        gap_.stop();
    else
        gap_.start();
}

void DcServer::TakeCompleteFrames() {
    while (!pending_.empty()) {
        const std::size_t length = model_.ExpectedFrameLength(pending_);
        if (length == 0 || pending_.size() < length)
            return;
        std::vector<std::uint8_t> frame(pending_.begin(),
                                        pending_.begin() + static_cast<std::ptrdiff_t>(length));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
        Process(std::move(frame));
    }
}

void DcServer::Process(std::vector<std::uint8_t> frame) {
    const DcConfig& config = model_.Config();
    const double now = Now();
    if (verbose_)
        Log("<-", frame, now);
    const auto reply = model_.Receive(frame, now);
    if (reply.empty())
        return;
    const DcFaults& f = config.faults;
    const std::uint8_t command = model_.LastCommand();
    double t = ReplyStart(config, command, now);
    if (config.throttle)
        t += static_cast<double>(frame.size()) * kWireSecondsPerByte;
    for (auto& piece : ReplyPieces(reply, command, f)) {
        const double wire = config.throttle ? static_cast<double>(piece.size()) * kWireSecondsPerByte : 0.0;
        t = std::max(t, lineFree_) + wire;
        lineFree_ = t + kPieceGap;
        WriteAt(t, std::move(piece));
    }
}

void DcServer::WriteAt(double due, std::vector<std::uint8_t> bytes) {
    const int ms = std::max(0, static_cast<int>(std::lround((due - Now()) * 1000.0)));
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, bytes = std::move(bytes)] { Write(bytes); });
}

void DcServer::Write(const std::vector<std::uint8_t>& bytes) {
    if (verbose_)
        Log("->", bytes, Now());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nobody reads and the line is full: the bytes are lost, as on a real cable
        done += static_cast<std::size_t>(n);
    }
}

void DcServer::Chatter() {
    chatterState_ = chatterState_ * 1664525u + 1013904223u;
    Write({static_cast<std::uint8_t>(chatterState_ >> 24)});
}
