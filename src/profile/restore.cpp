#include "profile/restore.h"

#include <QFile>
#include <algorithm>
#include <numeric>

#include "profile/profile_range.h"

namespace {

// Blocks stored at these addresses are retried as 16-byte records when their block write fails.
bool RetriedRecordWise(int storedAddress) {
    return storedAddress == 3072 || storedAddress == 3080;
}

// failing: the block whose write failed. unsure: the first block written while something sent again, here or
// before, was not settled: a late acknowledgement of it may have passed for this block's or a later one's.
void WriteBlocks(UpdateContext& c, int& failing, int& unsure) {
    ProfileState& p = c.session.profile;
    const int count = p.ProfileBlockCount;
    auto& buffer = c.session.link.BlockBuffer;
    for (int j = 1; j <= count; ++j) {
        c.comm.WhileWaiting([&c, j, count] { c.tasks.SetTaskProgress(j, count); });
        const auto& row = p.ProfileBlocks[std::size_t(j - 1)];
        for (int i = 1; i <= 129; ++i)
            buffer[std::size_t(i - 1)] = std::uint8_t(row[std::size_t(i)]);
        c.comm.WriteBlock(row[0], CommModule::kWriteBlock);
        if (unsure == 0 && c.comm.MayBeBehind())
            unsure = j;
        if (c.session.UpdateAborted) {
            failing = j;
            return;
        }
    }
}

// False when any record was not taken: its address was refused or never acknowledged, so it was skipped.
bool WriteRecords(UpdateContext& c, int from) {
    ProfileState& p = c.session.profile;
    const int count = p.ProfileBlockCount;
    auto& buffer = c.session.link.BlockBuffer;
    bool allTaken = true;
    for (int v = from; v <= count; ++v) {
        c.tasks.SetTaskProgress(v, count);
        const auto& row = p.ProfileBlocks[std::size_t(v - 1)];
        int address = row[0];
        for (int g = 1; g <= 129; ++g) {
            const int n = (g - 1) % 16;
            buffer[std::size_t(n)] = std::uint8_t(row[std::size_t(g)]);
            if (n == 15) {
                buffer[16] = std::uint8_t(std::accumulate(buffer.begin(), buffer.begin() + 16, 0) % 256);
                if (!c.comm.WriteRecord(address))  // a skipped record does not stop the others
                    allTaken = false;
                ++address;
            }
        }
    }
    return allTaken;
}

// Reads the blocks from `from` on back at their own units. Records name the block's stored address, which a
// DC may read as the block's own unit or 256 units lower, and a block written after a late acknowledgement
// may not have been taken: only reading it back shows that it is in place. A failed read or any difference
// sets UpdateAborted.
void ReadBackBlocks(UpdateContext& c, int from) {
    Session& s = c.session;
    const ProfileState& p = s.profile;
    const std::vector<std::uint8_t>& rb = s.link.ReceiveBuffer;
    // A late reply may have put every later reply one behind its command.
    c.comm.Settle(kReadBackSettleSeconds);
    for (int v = from; v <= p.ProfileBlockCount; ++v) {
        const auto& row = p.ProfileBlocks[std::size_t(v - 1)];
        const int unit = row[0] + kRingStart;
        c.comm.ReadBlocks(unit, unit);
        bool same = !s.UpdateAborted;
        for (int k = 1; same && k <= 128; ++k)
            same = rb[std::size_t(k)] == row[std::size_t(k)];
        if (!same) {
            s.UpdateAborted = true;
            return;
        }
    }
}

void Failed(UpdateContext& c, Txt why) {
    c.session.wizard.ProfileRestored = false;
    c.tasks.SetTaskStatus(c.Text(Txt::Error));
    c.tasks.InsertTaskList(IconFailure, c.FailureText(why), QString());
    c.ResetStage();
}

}  // namespace

void RestoreProfile(UpdateContext& c) {
    Session& s = c.session;
    ProfileState& p = s.profile;
    c.tasks.InsertTaskList(IconStarted, c.Text(Txt::RestoringProfile), QString());
    s.UpdateAborted = false;

    int failing = 0, unsure = 0;
    WriteBlocks(c, failing, unsure);
    if (failing > 0 && RetriedRecordWise(p.ProfileBlocks[std::size_t(failing - 1)][0]) && !c.comm.Stopped()) {
        s.UpdateAborted = false;
        if (!WriteRecords(c, failing))
            s.UpdateAborted = true;
        unsure = unsure > 0 ? std::min(unsure, failing) : failing;
    }
    if (!s.UpdateAborted && unsure > 0)
        ReadBackBlocks(c, unsure);  // before the header: a header confirms nothing of them

    if (s.UpdateAborted) {
        Failed(c, Txt::WriteFailed);
        c.comm.Settle(CommModule::kSettleSeconds);  // before the clock
    } else {
        std::copy(p.ProfileHeader.begin(), p.ProfileHeader.end(), s.link.BlockBuffer.begin());
        c.comm.WriteRecord(4);
        c.comm.WaitSeconds(2.0);
        // Judge the header by a read that came, never by what an earlier read left in the buffer.
        const bool before = s.UpdateAborted;
        s.UpdateAborted = false;
        c.comm.ReadBlocks(0, 0);
        const bool readFailed = s.UpdateAborted;
        s.UpdateAborted = before || readFailed;
        c.comm.WaitSeconds(1.0);
        bool same = !readFailed;
        for (int k = 0; same && k < 16; ++k)
            same = p.ProfileHeader[std::size_t(k)] == s.link.ReceiveBuffer[std::size_t(65 + k)];
        if (!same) {
            Failed(c, Txt::RestoreNotConfirmed);
        } else {
            c.tasks.SetTaskStatus(c.Text(Txt::Done));
            s.wizard.ProfileRestored = true;
            QFile::remove(p.BackupFilePath);  // already gone is no failure
        }
    }
    c.SetDeviceClockNow();
}
