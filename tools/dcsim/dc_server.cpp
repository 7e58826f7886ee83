#include "tools/dcsim/dc_server.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <utility>

namespace {

// How long before a reply is due the timer wakes the simulator: more than the kernel's usual wake-up delay.
constexpr double kWakeEarly = 0.0002;

// Pieces of one cut reply must not run together in the reader's buffer; the next reply owes them nothing.
constexpr double kPieceGap = 0.010;

void Log(const char* direction, const std::vector<std::uint8_t>& bytes, double t) {
    std::fprintf(stderr, "%9.3f %s", t, direction);
    for (std::size_t i = 0; i < bytes.size() && i < 24; ++i)
        std::fprintf(stderr, " %02X", bytes[i]);
    std::fprintf(stderr, bytes.size() > 24 ? " ... (%zu bytes)\n" : "\n", bytes.size());
}

timespec ToTimespec(double seconds) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    return t;
}

}  // namespace

double DcServer::Now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

DcServer::DcServer(DcConfig config, int fd, Options options)
    : model_(std::move(config)),
      fd_(fd),
      options_(options),
      timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      started_(Now()),
      chatterState_(model_.Config().seed),
      replaying_(options.replay != nullptr) {
    const DcFaults& f = model_.Config().faults;
    if (f.chatter)
        nextChatter_ = started_ + std::max(0.001, f.chatterInterval);
}

DcServer::~DcServer() {
    if (timer_ >= 0)
        ::close(timer_);
}

void DcServer::Run(int stopFd, int inputFd) {
    pollfd fds[] = {{fd_, POLLIN, 0}, {timer_, POLLIN, 0}, {stopFd, POLLIN, 0}, {inputFd, POLLIN, 0}};
    const nfds_t count = inputFd >= 0 ? 4 : 3;
    for (;;) {
        Arm();
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const double now = Now();  // first: the arrival time of what is waiting
        if ((fds[0].revents & POLLIN) != 0)
            ReadAvailable(now);
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const ssize_t n = ::read(timer_, &expirations, sizeof expirations);
            armed_ = kNever;
        }
        RunDue(Now());
        if (fds[2].revents != 0 || (differed_ && !options_.lenient))
            return;
        if (count == 4 && fds[3].revents != 0) {
            char buffer[256];
            if (::read(inputFd, buffer, sizeof buffer) <= 0)
                return;
        }
    }
}

// One timer for every deadline: the earliest reply piece (a little early, see RunDue), the end of a frame's
// pause, the next chatter byte.
void DcServer::Arm() {
    double next = std::min(gapEnds_, nextChatter_);
    if (!outgoing_.empty())
        next = std::min(next, outgoing_.begin()->first - kWakeEarly);
    if (next == armed_)
        return;
    itimerspec spec{};
    if (next != kNever)
        spec.it_value = ToTimespec(std::max(next, 1e-6));
    ::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &spec, nullptr);
    armed_ = next;
}

void DcServer::ReadAvailable(double now) {
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        pending_.insert(pending_.end(), buffer, buffer + n);
    }
    TakeCompleteFrames(now);
    gapEnds_ = pending_.empty() ? kNever : now + kGap;
}

void DcServer::TakeCompleteFrames(double now) {
    while (!pending_.empty()) {
        const std::size_t length =
            replaying_ ? options_.replay->NextLength() : model_.ExpectedFrameLength(pending_);
        if (length == 0 || pending_.size() < length)
            return;
        std::vector<std::uint8_t> frame(pending_.begin(),
                                        pending_.begin() + static_cast<std::ptrdiff_t>(length));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
        Process(std::move(frame), now);
    }
}

// The recorded answer to a frame that matches the recording, its pieces at their recorded delays.
bool DcServer::Replayed(const std::vector<std::uint8_t>& frame, double now) {
    const ReplayScript::Heard heard = options_.replay->Take(frame, now);
    if (heard.answer == nullptr) {
        std::fprintf(stderr, "kav-dc-sim: the replay differs at %s%s\n", heard.difference.c_str(),
                     options_.lenient ? "; the simulated DC answers from here on" : "");
        differed_ = true;
        replaying_ = false;
        return false;
    }
    model_.Receive(frame, now);  // its state follows, should it have to take over
    double t = now;
    for (const ReplayScript::Piece& piece : *heard.answer) {
        t = std::max(now + piece.after, t);  // in the recorded order
        outgoing_.emplace(t, piece.bytes);
    }
    return true;
}

void DcServer::Process(std::vector<std::uint8_t> frame, double now) {
    if (replaying_ && Replayed(frame, now)) {
        if (options_.verbose)
            Log("<-", frame, now - started_);
        return;
    }
    if (differed_ && !options_.lenient)
        return;
    const DcConfig& config = model_.Config();
    const auto reply = model_.Receive(frame, now);
    if (!reply.empty()) {
        const std::uint8_t command = model_.LastCommand();
        double t = ReplyStart(config, command, model_.FrameCount(), now);
        if (config.throttle)
            t += static_cast<double>(frame.size()) * kWireSecondsPerByte;
        bool first = true;
        for (auto& piece : ReplyPieces(reply, command, config.faults)) {
            const double wire =
                config.throttle ? static_cast<double>(piece.size()) * kWireSecondsPerByte : 0.0;
            t = std::max(first ? t : t + kPieceGap, lineFree_) + wire;
            lineFree_ = t;
            first = false;
            outgoing_.emplace(t, std::move(piece));
        }
    }
    // After the reply is scheduled: the log is not on the reply's way.
    if (options_.wireLog != nullptr)
        std::fprintf(options_.wireLog, "I %.7f %zu %02X\n", now, frame.size(), frame.empty() ? 0 : frame[0]);
    if (options_.verbose)
        Log("<-", frame, now - started_);
}

void DcServer::RunDue(double now) {
    while (!outgoing_.empty() && outgoing_.begin()->first <= now + kWakeEarly) {
        // A woken process runs some tens of microseconds after its timer; the rest of the way is waited out
        // here, so the reply leaves on the model's time.
        while (Now() < outgoing_.begin()->first) {
        }
        auto node = outgoing_.extract(outgoing_.begin());
        Write(node.mapped(), node.key());
        now = Now();
    }
    if (gapEnds_ <= now) {
        gapEnds_ = kNever;
        if (!pending_.empty())
            Process(std::exchange(pending_, {}), now);
    }
    const double interval = std::max(0.001, model_.Config().faults.chatterInterval);
    for (; nextChatter_ <= now; nextChatter_ += interval) {
        chatterState_ = chatterState_ * 1664525u + 1013904223u;
        Write({static_cast<std::uint8_t>(chatterState_ >> 24)}, nextChatter_);
    }
}

void DcServer::Write(const std::vector<std::uint8_t>& bytes, double due) {
    const double start = Now();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // nobody reads and the line is full: the bytes are lost, as on a real cable
        done += static_cast<std::size_t>(n);
    }
    const double now = Now();
    if (options_.wireLog != nullptr)
        std::fprintf(options_.wireLog, "O %.7f %zu %.7f %.7f\n", now, bytes.size(), due, start);
    if (options_.verbose)
        Log("->", bytes, now - started_);
}
