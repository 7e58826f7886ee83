#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

// One pass through the update road: what the update history keeps of it, one JSON line each, and what a
// summary of several updates shows.
struct UpdateAttempt {
    enum class Outcome { Succeeded, AlreadyCurrent, Failed, Closed };
    enum class BackupFate { None, Restored, KeptForRecovery, Archived };

    QDateTime time;  // when the attempt began, with the local offset
    QString port;
    QString model;
    qint64 serial = -1;                               // -1: block 0 was never read
    QString versionBefore, versionAfter;              // empty: not known
    int subVersionBefore = -1, subVersionAfter = -1;  // -1: not known, or not in use
    QString firmwareName, firmwareSha256;
    Outcome outcome = Outcome::Failed;
    QString failedStep;  // where a failed or closed attempt stopped
    BackupFate backup = BackupFate::None;
    QString backupFile;
    QString logFile;
    double seconds = 0;

    QJsonObject ToJson() const;
    static std::optional<UpdateAttempt> FromJson(const QJsonObject& json);
};

QString OutcomeName(UpdateAttempt::Outcome outcome);
QString BackupFateName(UpdateAttempt::BackupFate fate);
// "1B", or with a sub-version "1B.05"; empty when the version is not known.
QString VersionText(const QString& version, int subVersion);

inline constexpr const char* kHistoryFileName = "history.jsonl";
// The history in this folder; empty when there is no folder.
QString HistoryFileIn(const QString& folder);

// One line at the end of the file, in one write, synced; a lock file keeps writers of other processes out
// of the line. False: *why says what failed.
bool AppendToHistory(const QString& path, const UpdateAttempt& attempt, QString* why);
// The attempts in the order they were written. A line that does not parse (a torn one, say) is skipped.
std::vector<UpdateAttempt> ReadHistory(const QString& path);
// The latest successful update of this DC.
std::optional<UpdateAttempt> LastSuccessOf(const std::vector<UpdateAttempt>& history, const QString& model,
                                           qint64 serial);
