#include "profile/backup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <numeric>

#include "profile/backup_file.h"
#include "profile/profile_range.h"
#include "support/file_exists.h"

namespace {

int Bcd(std::uint8_t b) {
    return (b >> 4) * 10 + (b & 15);
}

void TakeSerialDigits(ProfileState& p, const QString& serial) {
    for (int i = 0; i < 6; ++i)
        p.SerialDigits[std::size_t(i)] = std::uint8_t(serial[i].digitValue());
}

void RememberBackupFile(ProfileState& p) {
    if (!p.BackupFilesOfThisRun.contains(p.BackupFilePath))
        p.BackupFilesOfThisRun << p.BackupFilePath;
}

void ReportDamaged(UpdateContext& c, const QString& why, QString* damage) {
    const QString text = c.Text(Txt::BackupFileDamaged).arg(c.session.profile.BackupFilePath, why);
    c.tasks.AddRow(IconFailure, text, QString());
    if (damage)
        *damage = text;
}

// Block 0's header and serial number, then every block of the range, read again: on a noisy line only two
// readings that agree make a backup.
bool SecondReadingAgrees(UpdateContext& c, const ProfileRange& range) {
    const ProfileState& p = c.session.profile;
    const auto zero = c.link.ReadBlock(0);
    if (!zero || !std::equal(p.ProfileHeader.begin(), p.ProfileHeader.begin() + 16, zero->begin() + 64) ||
        SerialNumberOf(*zero) != p.DeviceSerialNumber)
        return false;
    int unit = range.FirstUnit();
    for (int j = 1; j <= range.blockCount; ++j, unit += 8) {
        const auto block = c.link.ReadBlock(unit);
        const auto& row = p.ProfileBlocks[std::size_t(j - 1)];
        if (!block || !std::equal(row.begin() + 1, row.begin() + 129, block->begin()))
            return false;
    }
    return true;
}

}  // namespace

qint64 SerialNumberOf(const DeviceLink::Block& zero) {
    return qint64(Bcd(zero[10])) * 10000 + Bcd(zero[11]) * 100 + Bcd(zero[12]);
}

BackupFileLoad LoadBackupFile(const QString& path, int FwrMemorySize, ProfileState& into, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return BackupFileLoad::Damaged;
    }
    ProfileState loaded = into;
    if (!DecodeBackup(file.readAll(), loaded, why))
        return BackupFileLoad::Damaged;
    const int start = DecodeProfilePointer(loaded.ProfileHeader[8], loaded.ProfileHeader[9], FwrMemorySize);
    const int end = DecodeProfilePointer(loaded.ProfileHeader[10], loaded.ProfileHeader[11], FwrMemorySize);
    if (end == start) {
        into = std::move(loaded);
        into.ProfileStart = start;
        into.ProfileEnd = end;
        into.ProfileBlockCount = 0;
        return BackupFileLoad::Empty;
    }
    const ProfileRange range = NormaliseProfileRange(start, end, FwrMemorySize);
    if (range.blockCount > kMaxProfileBlocks) {
        *why = QStringLiteral("%1 blocks").arg(range.blockCount);
        return BackupFileLoad::Damaged;
    }
    into = std::move(loaded);
    into.ProfileStart = range.start;
    into.ProfileEnd = range.end;
    into.ProfileBlockCount = std::int16_t(range.blockCount);
    return BackupFileLoad::Loaded;
}

namespace {

BackupLookup LookUpBackup(UpdateContext& c, const std::optional<DeviceLink::Block>& zero, QString* damage) {
    ProfileState& p = c.session.profile;
    if (!zero)
        return BackupLookup::ReadFailed;
    p.SerialDigits.fill(0);
    p.DeviceSerialNumber = SerialNumberOf(*zero);
    const QString serial = QString::number(p.DeviceSerialNumber).rightJustified(6, QLatin1Char('0'));
    p.BackupFilePath =
        BackupFileName(c.session.BackupFolder(), c.session.firmware.FwrModelNumber, p.DeviceSerialNumber);
    p.ArchivedAs.clear();

    if (!FileExists(p.BackupFilePath)) {
        TakeSerialDigits(p, serial);
        return BackupLookup::NotUsable;
    }
    ProfileState loaded = p;
    QString why;
    switch (LoadBackupFile(p.BackupFilePath, c.session.firmware.FwrMemorySize, loaded, &why)) {
        case BackupFileLoad::Damaged:
            ReportDamaged(c, why, damage);
            return BackupLookup::Damaged;
        case BackupFileLoad::Empty:
            p = std::move(loaded);
            // A fresh backup made now must carry this DC's digits, or the recovery would take it for another
            // DC's.
            TakeSerialDigits(p, serial);
            return BackupLookup::NotUsable;
        case BackupFileLoad::Loaded:
            break;
    }
    p = std::move(loaded);
    for (int i = 0; i < 6; ++i) {
        if (serial[i].digitValue() != p.SerialDigits[std::size_t(i)]) {
            TakeSerialDigits(p, serial);  // a fresh backup carries the connected DC's digits
            return BackupLookup::NotUsable;
        }
    }
    RememberBackupFile(p);
    return BackupLookup::Usable;
}

}  // namespace

BackupLookup GetBackupProfile(UpdateContext& c, QString* damage) {
    return LookUpBackup(c, c.link.ReadBlock(0), damage);
}

namespace {

// Reads the range's blocks into the table, each row with its sum. False when a read went unanswered, or when
// the line was noisy since `noise` and a second reading differs.
bool ReadProfileBlocks(UpdateContext& c, const ProfileRange& range, int noise) {
    ProfileState& p = c.session.profile;
    int unit = range.FirstUnit();
    for (int j = 1; j <= range.blockCount; ++j, unit += 8) {
        c.link.WhileWaiting([&c, j, count = range.blockCount] { c.tasks.SetLastRowProgress(j, count); });
        auto& row = p.ProfileBlocks[std::size_t(j - 1)];
        row[0] = std::int16_t(unit - kRingStart);
        const auto block = c.link.ReadBlock(unit);
        if (!block)
            return false;
        std::copy(block->begin(), block->end(), row.begin() + 1);
        row[129] = std::int16_t(std::accumulate(block->begin(), block->end(), 0) % 256);
    }
    return c.link.LineNoise() == noise || SecondReadingAgrees(c, range);
}

// The step's end: its status, and on failure the row that says so.
bool EndStep(UpdateContext& c, bool ok) {
    if (ok) {
        c.tasks.SetLastRowStatus(c.Text(Txt::Done));
        return true;
    }
    c.tasks.SetLastRowStatus(c.Text(Txt::Error));
    c.tasks.AddRow(IconFailure, c.FailureText(Txt::BackupFailed), QString());
    c.NormalPriority();
    return false;
}

// Writes the backup file; a failure gets its rows, with where the file should have gone. A file that waits
// for its DC is remembered for Close.
bool WriteFile(UpdateContext& c, const QString& path, bool waits) {
    ProfileState& p = c.session.profile;
    p.BackupFilePath = path;
    QString error;
    if (WriteBackupFile(p.BackupFilePath, p, &error)) {
        if (waits)
            RememberBackupFile(p);
        return true;
    }
    EndStep(c, false);
    c.tasks.AddRow(IconFailure,
                   c.Text(Txt::BackupFileNotWritten)
                       .arg(p.BackupFilePath, error.isEmpty() ? QStringLiteral("?") : error),
                   QString());
    c.tasks.AddRow(
        IconInformation,
        c.Text(Txt::BackupFolderHint)
            .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), QString::number(kBackupFileSize)),
        QString());
    return false;
}

// The profile that block 0 points to, read into the tables and written to `path`. noise: the line's noise
// before block 0 was read.
bool ReadAndSave(UpdateContext& c, const DeviceLink::Block& header, const QString& path, bool waits,
                 int noise) {
    ProfileState& p = c.session.profile;
    std::copy(header.begin() + 64, header.begin() + 80, p.ProfileHeader.begin());
    p.ProfileHeader[16] = std::uint8_t(std::accumulate(header.begin() + 64, header.begin() + 80, 0) % 256);
    const int memory = c.session.firmware.FwrMemorySize;
    p.ProfileStart = DecodeProfilePointer(header[72], header[73], memory);
    p.ProfileEnd = DecodeProfilePointer(header[74], header[75], memory);
    p.ProfileBackupActive = p.ProfileEnd != p.ProfileStart;
    if (!p.ProfileBackupActive)
        return true;
    const ProfileRange range = NormaliseProfileRange(p.ProfileStart, p.ProfileEnd, memory);
    if (range.blockCount > kMaxProfileBlocks)  // cannot be held: refuse rather than overrun the table
        return EndStep(c, false);
    p.ProfileStart = range.start;
    p.ProfileEnd = range.end;
    p.ProfileBlockCount = std::int16_t(range.blockCount);

    c.tasks.AddRow(IconStarted, c.texts.Localised(Txt::BackupTask, QString::fromLatin1(kBackupTaskText)),
                   QString());
    if (!ReadProfileBlocks(c, range, noise))
        return EndStep(c, false);
    return WriteFile(c, path, waits) && EndStep(c, true);
}

}  // namespace

bool BackupProfile(UpdateContext& c) {
    const int noise = c.link.LineNoise();
    const auto zero = c.link.ReadBlock(0);
    switch (LookUpBackup(c, zero, nullptr)) {
        case BackupLookup::Usable:  // the backup of an earlier, interrupted update stays in force
            return EndStep(c, true);
        case BackupLookup::ReadFailed:
        case BackupLookup::Damaged:  // never overwrite what may be the only copy of a profile
            return EndStep(c, false);
        case BackupLookup::NotUsable:
            break;
    }
    const Session& s = c.session;
    return ReadAndSave(
        c, *zero, BackupFileName(s.BackupFolder(), s.firmware.FwrModelNumber, s.profile.DeviceSerialNumber),
        true, noise);
}

bool BackupProfileInto(UpdateContext& c, const QString& path) {
    ProfileState& p = c.session.profile;
    const int noise = c.link.LineNoise();
    const auto zero = c.link.ReadBlock(0);
    if (!zero)
        return EndStep(c, false);
    p.DeviceSerialNumber = SerialNumberOf(*zero);
    p.SerialDigits.fill(0);
    TakeSerialDigits(p, QString::number(p.DeviceSerialNumber).rightJustified(6, QLatin1Char('0')));
    return ReadAndSave(c, *zero, path, false, noise);
}
