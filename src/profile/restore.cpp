#include "profile/restore.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <numeric>

#include "profile/backup_file.h"
#include "profile/profile_range.h"
#include "support/file_exists.h"

namespace {

// Blocks stored at these addresses are retried as 16-byte records when their block write fails.
bool RetriedRecordWise(int storedAddress) {
    return storedAddress == 3072 || storedAddress == 3080;
}

// failing: the block whose write failed. unsure: the block before the first one written on a noisy line,
// where a stray 5A may have passed for an acknowledgement.
void WriteBlocks(UpdateContext& c, int& failing, int& unsure) {
    const ProfileState& p = c.session.profile;
    const int count = p.ProfileBlockCount, noise = c.link.LineNoise();
    for (int j = 1; j <= count; ++j) {
        c.link.WhileWaiting([&c, j, count] { c.tasks.SetLastRowProgress(j, count); });
        const auto& row = p.ProfileBlocks[std::size_t(j - 1)];
        DeviceLink::BlockFrame data{};
        for (int i = 1; i <= 129; ++i)
            data[std::size_t(i - 1)] = std::uint8_t(row[std::size_t(i)]);
        const bool written = c.link.WriteBlock(row[0], dc::WriteBlock, data);
        if (unsure == 0 && c.link.LineNoise() != noise)
            unsure = std::max(1, j - 1);
        if (!written) {
            failing = j;
            return;
        }
    }
}

// False when any record was not taken: its address was refused or never acknowledged, so it was skipped.
bool WriteRecords(UpdateContext& c, int from) {
    const ProfileState& p = c.session.profile;
    const int count = p.ProfileBlockCount;
    bool allTaken = true;
    for (int v = from; v <= count; ++v) {
        c.tasks.SetLastRowProgress(v, count);
        const auto& row = p.ProfileBlocks[std::size_t(v - 1)];
        int address = row[0];
        DeviceLink::RecordFrame record{};
        for (int g = 1; g <= 129; ++g) {
            const int n = (g - 1) % 16;
            record[std::size_t(n)] = std::uint8_t(row[std::size_t(g)]);
            if (n == 15) {
                record[16] = std::uint8_t(std::accumulate(record.begin(), record.begin() + 16, 0) % 256);
                // a skipped record does not stop the others
                if (c.link.WriteRecord(address, record) != DeviceLink::RecordWrite::Taken)
                    allTaken = false;
                ++address;
            }
        }
    }
    return allTaken;
}

// Reads the blocks from `from` on back at their own units. Records name the block's stored address, which a
// DC may read as the block's own unit or 256 units lower, and on a noisy line a block's acknowledgement may
// have been a stray byte: only reading it back shows that it is in place. False: a read failed or differed.
bool ReadBackBlocks(UpdateContext& c, int from) {
    const ProfileState& p = c.session.profile;
    for (int v = from; v <= p.ProfileBlockCount; ++v) {
        const auto& row = p.ProfileBlocks[std::size_t(v - 1)];
        const auto block = c.link.ReadBlock(row[0] + kRingStart);
        if (!block || !std::equal(block->begin(), block->end(), row.begin() + 1,
                                  [](std::uint8_t byte, std::int16_t cell) { return byte == cell; }))
            return false;
    }
    return true;
}

void Failed(UpdateContext& c, Txt why) {
    c.session.profile.Restored = false;
    c.tasks.SetLastRowStatus(c.Text(Txt::Error));
    c.tasks.AddRow(IconFailure, c.FailureText(why), QString());
    c.NormalPriority();
}

// Writes the header record, then reads block 0 back: true when it holds the header.
bool HeaderConfirmed(UpdateContext& c) {
    const ProfileState& p = c.session.profile;
    DeviceLink::RecordFrame header{};
    std::copy(p.ProfileHeader.begin(), p.ProfileHeader.end(), header.begin());
    c.link.WriteRecord(4, header);
    c.link.WaitSeconds(2.0);
    // Judge the header by a read that came, never by what an earlier read left behind.
    const auto zero = c.link.ReadBlock(0);
    c.link.WaitSeconds(1.0);
    return zero && std::equal(p.ProfileHeader.begin(), p.ProfileHeader.begin() + 16, zero->begin() + 64);
}

// The profile is in the DC, so its file is given up only when the archive cannot take it, and the task list
// and the log say so.
void ArchiveBackup(UpdateContext& c) {
    ProfileState& p = c.session.profile;
    const QString& path = p.BackupFilePath;
    QString why;
    if (!FileExists(path) || ArchiveRestoredBackup(path, c.clock.LocalNow(), &why, &p.ArchivedAs))
        return;
    QFile::remove(path);
    c.tasks.AddRow(IconInformation,
                   c.Text(Txt::ArchiveFailed)
                       .arg(path, ArchiveFolder(QFileInfo(path).absolutePath()),
                            why.isEmpty() ? QStringLiteral("?") : why),
                   QString());
}

}  // namespace

bool RestoreProfile(UpdateContext& c, RestoredFile file) {
    ProfileState& p = c.session.profile;
    c.tasks.AddRow(IconStarted, c.Text(Txt::RestoringProfile), QString());
    int failing = 0, unsure = 0;
    WriteBlocks(c, failing, unsure);
    bool written = failing == 0;
    if (failing > 0 && RetriedRecordWise(p.ProfileBlocks[std::size_t(failing - 1)][0]) && !c.stop.Asked()) {
        // A skipped record leaves a hole that the header cannot show: the restore is not confirmed.
        written = WriteRecords(c, failing);
        unsure = unsure > 0 ? std::min(unsure, failing) : failing;
    }
    if (written && unsure > 0)
        written = ReadBackBlocks(c, unsure);  // before the header: a header confirms nothing of them
    bool confirmed = false;
    if (!written) {
        Failed(c, Txt::WriteFailed);
    } else if (!HeaderConfirmed(c)) {
        Failed(c, Txt::RestoreNotConfirmed);
    } else {
        confirmed = true;
        c.tasks.SetLastRowStatus(c.Text(Txt::Done));
        p.Restored = true;
        if (file == RestoredFile::Archive)
            ArchiveBackup(c);  // already gone is no failure
    }
    c.SetDeviceClockNow();  // in every outcome
    return confirmed;
}
