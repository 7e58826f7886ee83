#include "support/recorded_run.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "support/run_log.h"

namespace {

bool ParseHexBytes(const QByteArray& text, std::vector<std::uint8_t>& bytes) {
    for (const QByteArray& pair : text.split(' ')) {
        bool ok = false;
        const uint v = pair.toUInt(&ok, 16);
        if (!ok || pair.size() != 2)
            return false;
        bytes.push_back(std::uint8_t(v));
    }
    return !bytes.empty();
}

// A box's answer as the log names it, as a terminal would type it.
QString AnswerWord(const QString& logged) {
    if (logged == QLatin1String("0"))
        return QStringLiteral("none");
    return logged.toLower();
}

}  // namespace

QString RecordedRun::StepAt(double ms) const {
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rowTimes[std::size_t(i)] >= ms && rows[i].startsWith(u'>'))
            return rows[i].mid(2).section(QStringLiteral(" : "), 0, 0);
    return QStringLiteral("the end of the run");
}

std::optional<RecordedRun> ParseRunLog(const QByteArray& text, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error != nullptr)
            *error = why;
        return std::nullopt;
    };
    const QList<QByteArray> lines = text.split('\n');
    static const QRegularExpression head(QStringLiteral("^kav-update run log, format (\\d+)$"));
    const auto first = head.match(QString::fromUtf8(lines.value(0)));
    if (!first.hasMatch())
        return fail(QStringLiteral("it is not a kav-update run log (its first line names no format)"));
    RecordedRun run;
    run.format = first.captured(1).toInt();
    if (run.format > RunLog::kFormat)
        return fail(QStringLiteral("its format %1 is newer than this program reads (%2)")
                        .arg(run.format)
                        .arg(RunLog::kFormat));
    static const QRegularExpression firmware(
        QStringLiteral("^firmware file: (.*) \\(\\d+ bytes, sha256 ([0-9a-f]{64})\\):"));
    static const QRegularExpression row(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d ([>+!] .*)$"));
    static const QRegularExpression signal(
        QStringLiteral("^decision: close by signal \\d+, while the DC is busy$"));
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        if (line.isEmpty() && n == lines.size() - 1)
            break;
        if (line.startsWith("... ") && line.endsWith(" lines left out ...")) {
            run.wireGap = QStringLiteral("the log keeps only the first and last parts of the wire");
            continue;
        }
        const qsizetype space = line.indexOf(' ');
        bool stamped = false;
        const double ms = space > 1 && line.startsWith('+') ? line.mid(1, space - 1).toDouble(&stamped) : 0.0;
        if (!stamped)
            return fail(QStringLiteral("line %1 is damaged").arg(n + 1));
        const QByteArray rest = line.mid(space + 1);
        if (rest.startsWith("> ") || rest.startsWith("< ")) {
            RecordedRun::WireLine wire{ms, rest[0] == '>', {}};
            if (!ParseHexBytes(rest.mid(2), wire.bytes))
                return fail(QStringLiteral("line %1 is damaged").arg(n + 1));
            run.wire.push_back(std::move(wire));
            continue;
        }
        const QString said = QString::fromUtf8(rest);
        if (const auto m = firmware.match(said); m.hasMatch()) {
            run.firmwarePath = m.captured(1);
            run.firmwareSha256 = m.captured(2).toLatin1();
        } else if (const auto r = row.match(said); r.hasMatch()) {
            run.rows << r.captured(1);
            run.rowTimes.push_back(ms);
        } else if (said.startsWith(QLatin1String("backup folder: "))) {
            run.backupFolder = said.mid(15);
        } else if (said.startsWith(QLatin1String("command line: "))) {
            run.commandLine = said.mid(14).split(u' ');
        } else if (said == QLatin1String("decision: close, while the DC is busy")) {
            run.decisions.push_back({ms, RecordedRun::Decision::CloseClick, QStringLiteral("close")});
        } else if (signal.match(said).hasMatch()) {
            run.decisions.push_back({ms, RecordedRun::Decision::CloseSignal, QStringLiteral("close")});
        } else if (said.startsWith(QLatin1String("decision: "))) {
            run.decisions.push_back({ms, RecordedRun::Decision::Page, said.mid(10)});
        } else if (said.startsWith(QLatin1String("answer: ")) &&
                   !said.endsWith(QLatin1String(", the only button"))) {
            run.decisions.push_back({ms, RecordedRun::Decision::Answer, AnswerWord(said.mid(8))});
        } else if (said == QLatin1String("stop asked")) {
            run.stops.push_back(ms);
        } else if (said.startsWith(QLatin1String("exit status "))) {
            run.exitStatus = said.mid(12).toInt();
        } else if (said.startsWith(QLatin1String("wire of a successful update left out"))) {
            run.wireGap =
                QStringLiteral("the wire of an earlier, successful update in the same run is not in it");
        }
    }
    // The held wire is written after the lines it happened among: in time order, each direction keeps its
    // own.
    std::stable_sort(
        run.wire.begin(), run.wire.end(),
        [](const RecordedRun::WireLine& a, const RecordedRun::WireLine& b) { return a.ms < b.ms; });
    return run;
}

std::optional<RecordedRun> ReadRunLog(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr)
            *error = file.errorString();
        return std::nullopt;
    }
    return ParseRunLog(file.readAll(), error);
}
