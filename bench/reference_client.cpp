// The least a client can do against the simulated DC: plain blocking reads and writes on the port, no event
// loop, no discarding, no retries. It sends the frames a full update sends in its three transfers (the
// profile read, the image written, the profile written back), so its times are the floor the simulator sets.
//
// usage: kav-reference-client DEVICE CODE_BLOCKS PROFILE_BLOCKS RESTART_SECONDS
// Prints "overhead <median> <p99>": per transaction, milliseconds beyond the modelled wire time and latency.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr double kSecondsPerByte = 10.0 / 38400.0;
constexpr double kLatency = 0.001;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Client {
    int fd = -1;
    std::vector<double> overhead;

    // One transaction: the frame with its trailing 0x00 out, `replyBytes` back. False on silence.
    bool Transact(Bytes frame, std::size_t replyBytes, Bytes* reply = nullptr) {
        frame.push_back(0x00);
        const double start = Now();
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            return false;
        std::uint8_t buffer[256];
        std::size_t got = 0;
        while (got < replyBytes) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) != 1)
                return false;
            const ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
        }
        const double model = static_cast<double>(frame.size() + replyBytes) * kSecondsPerByte + kLatency;
        overhead.push_back(Now() - start - model);
        if (reply != nullptr)
            reply->assign(buffer, buffer + got);
        return buffer[0] == 0x5A;
    }
    bool Command(std::uint8_t command, int word, std::size_t replyBytes, Bytes* reply = nullptr) {
        return Transact({command, std::uint8_t(word >> 8), std::uint8_t(word & 0xFF)}, replyBytes, reply);
    }
    bool WriteBlock(int unit, Bytes data) {  // 128 bytes and their check byte
        return Command(0xB5, unit, 1) && Transact(std::move(data), 1);
    }
};

bool OpenRaw(const char* path, int& fd) {
    fd = ::open(path, O_RDWR | O_NOCTTY);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B38400);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: kav-reference-client DEVICE CODE_BLOCKS PROFILE_BLOCKS RESTART_SECONDS\n");
        return 2;
    }
    const int codeBlocks = std::atoi(argv[2]);
    const int profileBlocks = std::atoi(argv[3]);
    const double restart = std::atof(argv[4]);
    Client c;
    if (!OpenRaw(argv[1], c.fd)) {
        std::perror(argv[1]);
        return 1;
    }
    // The same priority as the wizard in each transfer: raised for the profile read and the image, normal
    // again once the new firmware has been checked.
    ::setpriority(PRIO_PROCESS, 0, -20);

    // Deep Sleep first, as the wizard's page 1 does: the DC takes no writes outside it.
    std::vector<Bytes> profile;
    Bytes blockZero;
    bool ok = c.Transact({0xA8, 0x55}, 1) && c.Command(0xB4, 0, 129, &blockZero);
    for (int i = 0; ok && i < profileBlocks; ++i) {
        Bytes reply;
        ok = c.Command(0xB4, 256 + 8 * i, 129, &reply);
        unsigned sum = 0;
        for (std::size_t k = 1; k < reply.size(); ++k)
            sum += reply[k];
        reply.erase(reply.begin());
        reply.push_back(std::uint8_t(sum));
        profile.push_back(std::move(reply));
    }
    unsigned checksum = 0;
    for (int i = 0; ok && i < codeBlocks; ++i) {
        Bytes block(129);
        for (std::size_t k = 0; k < 128; ++k)
            block[k] = std::uint8_t(i * 7 + k);
        for (std::size_t k = 0; k < 128; ++k)
            block[128] = std::uint8_t(block[128] + block[k]);
        checksum += block[128];
        ok = c.WriteBlock(8 * i, std::move(block));
    }
    ok = ok && c.Command(0xB6, int(checksum & 0xFFFF), 1);
    std::this_thread::sleep_for(std::chrono::duration<double>(restart + 0.5));  // the DC restarts

    ::setpriority(PRIO_PROCESS, 0, 0);
    for (int i = 0; ok && i < profileBlocks; ++i)
        ok = c.WriteBlock(8 * i, profile[std::size_t(i)]);
    blockZero.resize(129);
    Bytes header(blockZero.begin() + 65, blockZero.begin() + 81);  // the header record, block 0 bytes 64..79
    unsigned sum = 0;
    for (std::uint8_t b : header)
        sum += b;
    header.push_back(std::uint8_t(sum));
    ok = ok && c.Command(0xB2, 4, 1) && c.Transact(header, 1);

    std::printf("overhead %.4f %.4f\n", Percentile(c.overhead, 0.5) * 1e3,
                Percentile(c.overhead, 0.99) * 1e3);
    ::close(c.fd);
    return ok ? 0 : 1;
}
