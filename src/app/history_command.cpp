#include "app/history_command.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <ostream>

#include "run/update_history.h"

namespace {

QString Cell(const QString& text, int width) {
    return text.leftJustified(width) + QStringLiteral("  ");
}

QString Serial(qint64 serial) {
    return serial < 0 ? QStringLiteral("-") : QString::number(serial).rightJustified(6, QLatin1Char('0'));
}

QString Outcome(const UpdateAttempt& a) {
    const QString name = OutcomeName(a.outcome);
    return a.failedStep.isEmpty() ? name : name + QStringLiteral(" (") + a.failedStep + u')';
}

QString Versions(const UpdateAttempt& a) {
    const auto shown = [](const QString& v) { return v.isEmpty() ? QStringLiteral("?") : v; };
    return shown(VersionText(a.versionBefore, a.subVersionBefore)) + QStringLiteral(" -> ") +
           shown(VersionText(a.versionAfter, a.subVersionAfter));
}

void PrintTable(const std::vector<UpdateAttempt>& attempts, std::ostream& out) {
    const auto line = [&out](const QStringList& cells) {
        static constexpr int kWidths[] = {25, 8, 8, 15, 32, 17};
        QString text;
        for (qsizetype i = 0; i < cells.size(); ++i)
            text += i < qsizetype(std::size(kWidths)) ? Cell(cells[i], kWidths[i]) : cells[i];
        out << text.trimmed().toStdString() << '\n';
    };
    line({QStringLiteral("time"), QStringLiteral("serial"), QStringLiteral("model"),
          QStringLiteral("version"), QStringLiteral("outcome"), QStringLiteral("backup"),
          QStringLiteral("firmware file")});
    for (const UpdateAttempt& a : attempts) {
        const QDateTime time = a.time.toOffsetFromUtc(a.time.offsetFromUtc());
        line({time.toString(Qt::ISODate), Serial(a.serial), a.model, Versions(a), Outcome(a),
              BackupFateName(a.backup), a.firmwareName});
    }
}

}  // namespace

int PrintHistory(const QString& path, const QString& serial, bool json, std::ostream& out,
                 std::ostream& err) {
    std::vector<UpdateAttempt> attempts = ReadHistory(path);
    std::reverse(attempts.begin(), attempts.end());
    if (!serial.isEmpty()) {
        bool ok = false;
        const qint64 wanted = serial.toLongLong(&ok);
        std::erase_if(attempts, [&](const UpdateAttempt& a) { return !ok || a.serial != wanted; });
    }
    if (json) {
        QJsonArray array;
        for (const UpdateAttempt& a : attempts)
            array.append(a.ToJson());
        out << QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
    } else if (!attempts.empty()) {
        PrintTable(attempts, out);
    }
    if (attempts.empty()) {
        // On the error stream with --json, whose output stays an array a script can read.
        (json ? err : out) << QStringLiteral("No update%1 in the history %2")
                                  .arg(serial.isEmpty() ? QString() : QStringLiteral(" of the DC ") + serial,
                                       QDir::toNativeSeparators(path))
                                  .toStdString()
                           << '\n';
    }
    return 0;
}
