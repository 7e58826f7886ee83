#include "tools/dcsim/dc_model.h"

#include <algorithm>
#include <numeric>
#include <random>

#include "link/command_set.h"

namespace {

constexpr int kUnit = 16;
constexpr int kBlock = 128;
constexpr int kRingStart = 256;

std::uint8_t Sum8(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u) & 0xFF);
}

std::uint8_t Bcd(int v) {
    return static_cast<std::uint8_t>((v / 10) * 16 + v % 10);
}

int FromBcd(std::uint8_t b) {
    return (b >> 4) * 10 + (b & 0x0F);
}

int Word(std::span<const std::uint8_t> frame) {
    return frame[1] * 256 + frame[2];
}

}  // namespace

std::string ReplaceVersion(std::string idText, std::string_view version) {
    const auto first = idText.find(' ');
    if (first == std::string::npos || version.size() != 2)
        return idText;
    const auto second = idText.find_first_not_of(' ', first);
    auto end = idText.find(' ', second);
    if (end == std::string::npos)
        end = idText.size();
    if (second == std::string::npos || end - second < 2)
        return idText;
    idText.replace(end - 2, 2, version);
    return idText;
}

std::vector<std::vector<std::uint8_t>> ReplyPieces(const std::vector<std::uint8_t>& reply,
                                                   std::uint8_t command, const DcFaults& faults) {
    std::vector<std::vector<std::uint8_t>> pieces;
    if (reply.empty())
        return pieces;
    if (faults.strayByte && (faults.strayBefore == 0 || faults.strayBefore == command))
        pieces.push_back({*faults.strayByte});
    std::size_t at = 0;
    for (int size : faults.splitSizes) {
        if (at >= reply.size() || size <= 0)
            break;
        const auto n = std::min(reply.size() - at, static_cast<std::size_t>(size));
        pieces.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(at),
                            reply.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    if (at < reply.size())
        pieces.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(at), reply.end());
    return pieces;
}

DcModel::DcModel(DcConfig config)
    : config_(std::move(config)),
      idText_(config_.idText),
      subVersion_(config_.subVersion),
      deepSleep_(config_.deepSleep) {
    idText_.resize(16, ' ');
    Fill();
}

// Block 0 with the serial number and the profile header, the ring holding dives between the two pointers,
// and seeded bytes everywhere else, so that a restore that writes the wrong thing shows.
void DcModel::Fill() {
    const int units = config_.memoryCode * 8;
    const int ringEnd = units - 33;
    memory_.assign(static_cast<std::size_t>(units * kUnit), 0xFF);
    std::mt19937 rng(config_.seed);
    auto next = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); };
    auto at = [this](int unit, int offset) -> std::uint8_t& {
        return memory_[static_cast<std::size_t>(unit * kUnit + offset)];
    };
    for (int unit = 0; unit < units; ++unit) {
        if (unit >= kRingStart && unit <= ringEnd)
            continue;
        for (int i = 0; i < kUnit; ++i)
            at(unit, i) = static_cast<std::uint8_t>(next(256));
    }

    const int serial = config_.serialNumber % 1000000;
    at(0, 10) = Bcd(serial / 10000);
    at(0, 11) = Bcd(serial / 100 % 100);
    at(0, 12) = Bcd(serial % 100);
    const bool byteAddresses = config_.memoryCode != 1024;
    const auto start =
        static_cast<std::uint16_t>(byteAddresses ? config_.profileStart << 4 : config_.profileStart);
    const auto end = static_cast<std::uint16_t>(byteAddresses ? config_.profileEnd << 4 : config_.profileEnd);
    at(4, 8) = static_cast<std::uint8_t>(start & 0xFF);
    at(4, 9) = static_cast<std::uint8_t>(start >> 8);
    at(4, 10) = static_cast<std::uint8_t>(end & 0xFF);
    at(4, 11) = static_cast<std::uint8_t>(end >> 8);

    // Dives: a 16-byte header, then two-byte depth samples (0.1 m) down, along the bottom and back up.
    const int first = std::clamp(config_.profileStart, kRingStart, ringEnd);
    const int last = std::clamp(config_.profileEnd, kRingStart, ringEnd);
    const int ringBytes = (ringEnd - kRingStart + 1) * kUnit;
    const int length = ((last - first + (last < first ? ringEnd - kRingStart + 1 : 0)) + 1) * kUnit;
    std::vector<std::uint8_t> log;
    for (int dive = 1; static_cast<int>(log.size()) < length; ++dive) {
        const int maxDepth = 80 + next(320);
        const int bottom = 10 + next(60);
        const std::uint8_t header[kUnit] = {0xD1,
                                            static_cast<std::uint8_t>(dive & 0xFF),
                                            static_cast<std::uint8_t>(dive >> 8),
                                            Bcd(10 + next(15)),
                                            Bcd(1 + next(12)),
                                            Bcd(1 + next(28)),
                                            Bcd(7 + next(12)),
                                            Bcd(next(60)),
                                            static_cast<std::uint8_t>(maxDepth & 0xFF),
                                            static_cast<std::uint8_t>(maxDepth >> 8),
                                            static_cast<std::uint8_t>(bottom + 20),
                                            static_cast<std::uint8_t>(20),
                                            static_cast<std::uint8_t>(14 + next(16)),
                                            0x00,
                                            0x00,
                                            0xFE};
        log.insert(log.end(), std::begin(header), std::end(header));
        std::vector<int> depths;
        for (int d = 0; d < maxDepth; d += 60)
            depths.push_back(d);
        for (int i = 0; i < bottom; ++i)
            depths.push_back(std::max(10, maxDepth - next(40)));
        for (int d = maxDepth; d > 0; d -= 30)
            depths.push_back(d);
        for (int d : depths) {
            log.push_back(static_cast<std::uint8_t>(d & 0xFF));
            log.push_back(static_cast<std::uint8_t>(d >> 8));
        }
        while (log.size() % kUnit != 0)
            log.push_back(0xFF);
    }
    for (int i = 0; i < length; ++i)
        memory_[static_cast<std::size_t>(kRingStart * kUnit +
                                         ((first - kRingStart) * kUnit + i) % ringBytes)] =
            log[static_cast<std::size_t>(i)];
}

std::vector<std::uint8_t> DcModel::Block(int unit) const {
    std::vector<std::uint8_t> block(kBlock, 0xFF);
    for (int i = 0; i < kBlock; ++i) {
        const auto at = static_cast<std::size_t>(unit * kUnit + i);
        if (unit >= 0 && at < memory_.size())
            block[static_cast<std::size_t>(i)] = memory_[at];
    }
    return block;
}

std::size_t DcModel::ExpectedFrameLength(std::span<const std::uint8_t> head) const {
    switch (phase_) {
        case Phase::Block:
            return kBlock + 2;
        case Phase::Record:
            return kUnit + 2;
        case Phase::Clock:
            return 10;
        case Phase::Idle:
            break;
    }
    return head.empty() ? 0 : static_cast<std::size_t>(dc::FrameLength(head[0]));
}

bool DcModel::Lost() const {
    const DcFaults& f = config_.faults;
    if (f.silentFromFrame > 0 && frames_ >= f.silentFromFrame)
        return true;
    return f.silenceFrameCount > 0 && frames_ >= f.silenceStartFrame &&
           frames_ < f.silenceStartFrame + f.silenceFrameCount;
}

bool DcModel::Refused(std::uint8_t command, DcPhase phase, int unit) {
    for (DcRefusal& r : config_.faults.refusals) {
        if (r.command == command && r.phase == phase && r.count > 0 && (r.unit < 0 || r.unit == unit)) {
            --r.count;
            return true;
        }
    }
    return false;
}

std::vector<std::uint8_t> DcModel::Receive(std::span<const std::uint8_t> frame, double now) {
    ++frames_;
    if (Restarting(now) || Lost() || frame.empty() || frame.back() != 0x00)
        return {};
    const bool data = phase_ != Phase::Idle && frame.size() == ExpectedFrameLength(frame);
    const std::uint8_t command = data ? phaseCommand_ : frame[0];
    if (!data) {
        if (phase_ != Phase::Idle && !dataHeard_ && command != phaseCommand_)  // the same again: a resend
            ++dataPhasesCut_;
        phase_ = Phase::Idle;
    }
    auto reply = data ? Data(frame) : Command(frame, now);
    if (!reply.empty())
        lastCommand_ = command;
    return reply;
}

std::vector<std::uint8_t> DcModel::Data(std::span<const std::uint8_t> frame) {
    const std::uint8_t command = phaseCommand_;
    dataHeard_ = true;
    const auto payload = frame.first(frame.size() - 2);
    const std::uint8_t check = frame[frame.size() - 2];
    if (Refused(command, DcPhase::Data, phaseUnit_))
        return {dc::kRefusal};
    if (phase_ == Phase::Block) {
        if (command == dc::WriteBlock && !imagePending_ && Sum8(payload) != check)
            return {dc::kRefusal};
        if (command == dc::WriteBlock) {
            const auto base = static_cast<std::size_t>((phaseUnit_ + kRingStart) * kUnit);
            for (std::size_t i = 0; i < payload.size() && base + i < memory_.size(); ++i)
                memory_[base + i] = payload[i];
            firstChecks_[phaseUnit_] = check;
        } else {
            std::copy(payload.begin(), payload.end(), secondImage_[phaseUnit_].begin());
            secondChecks_[phaseUnit_] = check;
        }
    } else if (Sum8(payload) != check) {
        return {dc::kRefusal};
    } else if (phase_ == Phase::Record) {
        const int unit = phaseUnit_ + (config_.relativeRecords ? kRingStart : 0);
        const auto base = static_cast<std::size_t>(unit * kUnit);
        for (std::size_t i = 0; i < payload.size() && base + i < memory_.size(); ++i)
            memory_[base + i] = payload[i];
    } else {
        DcClockRecord c;
        c.year = FromBcd(payload[0]);
        c.day = FromBcd(payload[1]);
        c.month = FromBcd(payload[2]);
        c.second = FromBcd(payload[3]);
        c.minute = FromBcd(payload[4]);
        c.hourByte = payload[5];
        const int hour12 = FromBcd(payload[5] & 0x7F);
        c.hour = (payload[5] & 0x80) ? (hour12 == 12 ? 12 : hour12 + 12) : hour12;
        c.value = payload[6];
        clock_ = c;
    }
    phase_ = Phase::Idle;
    return {dc::kAck};
}

std::vector<std::uint8_t> DcModel::Command(std::span<const std::uint8_t> frame, double now) {
    const std::uint8_t command = frame[0];
    if (static_cast<int>(frame.size()) != dc::FrameLength(command))
        return {};
    if (Refused(command, DcPhase::Command, frame.size() == 4 ? Word(frame) : -1))
        return {dc::kRefusal};
    // This model's rule, not a real DC's known behaviour: the image commands want Deep Sleep; the profile
    // and the clock are taken on the PC screen as well, where the recovery at Close brings the DC.
    const bool image = command == dc::WriteBlock2 || command == dc::CloseImage ||
                       command == dc::Image2Parameter || command == dc::CloseImage2;
    if (image && !deepSleep_)
        return {dc::kRefusal};
    switch (command) {
        case dc::Identify: {
            std::vector<std::uint8_t> reply{dc::kAck};
            reply.insert(reply.end(), idText_.begin(), idText_.end());
            reply.push_back(Sum8(std::span(reply).subspan(1)));
            return reply;
        }
        case dc::DeepSleep:
            if (frame[1] != dc::kEnter && frame[1] != dc::kLeave)
                return {};
            deepSleep_ = frame[1] == dc::kEnter;
            imagePending_ = deepSleep_;
            return {dc::kAck};
        case dc::Status:
            return {dc::kAck, subVersion_};
        case dc::ReadBlock: {
            std::vector<std::uint8_t> reply{dc::kAck};
            const auto block = Block(Word(frame));
            reply.insert(reply.end(), block.begin(), block.end());
            return reply;
        }
        case dc::WriteBlock:
        case dc::WriteBlock2:
            phase_ = Phase::Block;
            break;
        case dc::RecordAddress:
            phase_ = Phase::Record;
            break;
        case dc::SetClock:
            phase_ = Phase::Clock;
            break;
        case dc::CloseImage:
            Close(firstChecks_, static_cast<std::uint16_t>(Word(frame)), true, now);
            break;
        case dc::Image2Parameter:
            code2Parameter_ = static_cast<std::uint16_t>(Word(frame));
            break;
        case dc::CloseImage2:
            Close(secondChecks_, static_cast<std::uint16_t>(Word(frame)), false, now);
            break;
        default:
            return {};
    }
    phaseCommand_ = command;
    phaseUnit_ = frame.size() == 4 ? Word(frame) : 0;
    dataHeard_ = false;
    return {dc::kAck};
}

void DcModel::Close(std::map<int, std::uint8_t>& checks, std::uint16_t value, bool firstImage, double now) {
    imagePending_ = false;
    unsigned sum = 0;
    for (const auto& [unit, check] : checks)
        sum += check;
    checks.clear();
    if ((sum & 0xFFFF) == value) {
        ++installs_;
        if (firstImage && !config_.idTextAfterUpdate.empty()) {
            idText_ = config_.idTextAfterUpdate;
            idText_.resize(16, ' ');
        } else if (firstImage) {
            idText_ = ReplaceVersion(idText_, config_.versionAfterUpdate);
        } else {
            subVersion_ = config_.subVersionAfterUpdate;
        }
    } else {
        ++rejected_;
    }
    restartUntil_ = now + config_.restartSeconds;
}
