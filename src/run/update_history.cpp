#include "run/update_history.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <array>

#include "support/durable_file.h"

namespace {

constexpr std::array kOutcomeNames{"succeeded", "already current", "failed", "closed by the user"};
constexpr std::array kFateNames{"none", "restored", "kept for recovery", "archived"};
constexpr int kLockWaitMs = 10000;

template <typename Enum, std::size_t N>
std::optional<Enum> ByName(const std::array<const char*, N>& names, const QString& name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name == QLatin1String(names[i]))
            return Enum(i);
    }
    return std::nullopt;
}

QJsonValue OrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue OrNull(qint64 number) {
    return number < 0 ? QJsonValue() : QJsonValue(number);
}

}  // namespace

QString OutcomeName(UpdateAttempt::Outcome outcome) {
    return QLatin1String(kOutcomeNames[std::size_t(outcome)]);
}

QString BackupFateName(UpdateAttempt::BackupFate fate) {
    return QLatin1String(kFateNames[std::size_t(fate)]);
}

QString VersionText(const QString& version, int subVersion) {
    if (version.isEmpty() || subVersion < 0)
        return version;
    return version + QLatin1Char('.') + QString::number(subVersion).rightJustified(2, QLatin1Char('0'));
}

QJsonObject UpdateAttempt::ToJson() const {
    // The offset travels with the time, so a shop's history reads the same after a change of time zone.
    const QDateTime withOffset = time.toOffsetFromUtc(time.offsetFromUtc());
    return QJsonObject{
        {QStringLiteral("time"), withOffset.toString(Qt::ISODate)},
        {QStringLiteral("port"), port},
        {QStringLiteral("model"), model},
        {QStringLiteral("serial"),
         serial < 0 ? QJsonValue() : QJsonValue(QString::number(serial).rightJustified(6, QLatin1Char('0')))},
        {QStringLiteral("version_before"), OrNull(versionBefore)},
        {QStringLiteral("sub_version_before"), OrNull(subVersionBefore)},
        {QStringLiteral("version_after"), OrNull(versionAfter)},
        {QStringLiteral("sub_version_after"), OrNull(subVersionAfter)},
        {QStringLiteral("firmware"), firmwareName},
        {QStringLiteral("firmware_sha256"), firmwareSha256},
        {QStringLiteral("outcome"), OutcomeName(outcome)},
        {QStringLiteral("failed_step"), OrNull(failedStep)},
        {QStringLiteral("backup"), BackupFateName(backup)},
        {QStringLiteral("backup_file"), OrNull(backupFile)},
        {QStringLiteral("log"), OrNull(logFile)},
        {QStringLiteral("seconds"), qRound(seconds * 10.0) / 10.0},
    };
}

std::optional<UpdateAttempt> UpdateAttempt::FromJson(const QJsonObject& json) {
    const auto text = [&json](const char* key) { return json.value(QLatin1String(key)).toString(); };
    const auto number = [&json](const char* key) { return json.value(QLatin1String(key)).toInt(-1); };
    UpdateAttempt a;
    a.time = QDateTime::fromString(text("time"), Qt::ISODate);
    const auto outcome = ByName<Outcome>(kOutcomeNames, text("outcome"));
    const auto fate = ByName<BackupFate>(kFateNames, text("backup"));
    if (!a.time.isValid() || !outcome || !fate)
        return std::nullopt;
    a.outcome = *outcome;
    a.backup = *fate;
    a.port = text("port");
    a.model = text("model");
    bool ok = false;
    const qint64 serial = text("serial").toLongLong(&ok);
    a.serial = ok ? serial : -1;
    a.versionBefore = text("version_before");
    a.subVersionBefore = number("sub_version_before");
    a.versionAfter = text("version_after");
    a.subVersionAfter = number("sub_version_after");
    a.firmwareName = text("firmware");
    a.firmwareSha256 = text("firmware_sha256");
    a.failedStep = text("failed_step");
    a.backupFile = text("backup_file");
    a.logFile = text("log");
    a.seconds = json.value(QLatin1String("seconds")).toDouble();
    return a;
}

QString HistoryFileIn(const QString& folder) {
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QLatin1String(kHistoryFileName));
}

bool AppendToHistory(const QString& path, const UpdateAttempt& attempt, QString* why) {
    QDir().mkpath(QFileInfo(path).absolutePath());  // a failure shows as the file's
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        *why = QStringLiteral("the lock file %1 is held").arg(lock.fileName());
        return false;
    }
    const QByteArray line = QJsonDocument(attempt.ToJson()).toJson(QJsonDocument::Compact) + '\n';
    // Unbuffered: the whole line goes to the file in one write, after whatever any other writer appended.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *why = file.errorString();
        return false;
    }
    if (file.write(line) != line.size()) {
        *why = file.errorString();
        return false;
    }
    return SyncFileData(file.handle(), why);
}

std::vector<UpdateAttempt> ReadHistory(const QString& path) {
    QFile file(path);
    std::vector<UpdateAttempt> history;
    if (!file.open(QIODevice::ReadOnly))
        return history;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (const auto attempt = UpdateAttempt::FromJson(document.object()); document.isObject() && attempt)
            history.push_back(*attempt);
    }
    return history;
}

std::optional<UpdateAttempt> LastSuccessOf(const std::vector<UpdateAttempt>& history, const QString& model,
                                           qint64 serial) {
    for (auto a = history.rbegin(); a != history.rend(); ++a) {
        if (a->outcome == UpdateAttempt::Outcome::Succeeded && a->model == model && a->serial == serial)
            return *a;
    }
    return std::nullopt;
}
