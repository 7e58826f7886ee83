#include "app/replay_command.h"

#include <QDir>
#include <limits>

#include "app/wizard_assembly.h"

namespace {

ReplayPlan::WirePoint WireBefore(const RecordedRun& run, double ms) {
    ReplayPlan::WirePoint point;
    for (const RecordedRun::WireLine& line : run.wire) {
        if (line.ms >= ms)
            break;
        line.sent ? ++point.frames : point.bytes += line.bytes.size();
    }
    return point;
}

// The decisions as the terminal reads them; a Close made while the DC was busy is kept apart, at the point of
// the wire where the stop it asked for came (its question's answer stays in the input, read when it is
// asked).
void ScriptDecisions(ReplayPlan& plan) {
    const RecordedRun& run = plan.recorded;
    const auto& decisions = run.decisions;
    for (std::size_t i = 0; i < decisions.size(); ++i) {
        const RecordedRun::Decision& d = decisions[i];
        if (d.kind == RecordedRun::Decision::Page || d.kind == RecordedRun::Decision::Answer) {
            plan.input += (d.word == QLatin1String("next") ? QString() : d.word).toStdString() + '\n';
            continue;
        }
        const bool signal = d.kind == RecordedRun::Decision::CloseSignal;
        const std::size_t after = i + (signal ? 1 : 2);  // a click's question is answered first
        const double limit =
            after < decisions.size() ? decisions[after].ms : std::numeric_limits<double>::infinity();
        double at = d.ms;
        for (const double stop : run.stops)
            if (stop >= d.ms && stop < limit) {
                at = stop;
                break;
            }
        plan.closes.push_back({WireBefore(run, at), signal});
    }
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

}  // namespace

std::optional<ReplayPlan> PlanReplay(const CommandLine& cl, const QString& scratchDir, QString* error) {
    const auto fail = [error](const QString& why) {
        *error = why;
        return std::nullopt;
    };
    QString why;
    std::optional<RecordedRun> recorded = ReadRunLog(cl.Replay, &why);
    if (!recorded)
        return fail(why);
    if (recorded->wire.empty())
        return fail(
            QStringLiteral("the log holds no wire: only the log of an update that did not succeed, or "
                           "one written with --trace, can be replayed"));
    if (!recorded->wireGap.isEmpty())
        return fail(recorded->wireGap);
    if (recorded->firmwareSha256.isEmpty())
        return fail(QStringLiteral("the log names no firmware file"));
    const QString firmware =
        cl.Firmware.isEmpty() ? recorded->firmwarePath : QDir::current().absoluteFilePath(cl.Firmware);
    const QString sha = FileSha256(firmware);
    if (sha.isEmpty())
        return fail(QStringLiteral("the firmware file %1 (sha256 %2) is not at hand: name it with --firmware")
                        .arg(Native(firmware), QString::fromLatin1(recorded->firmwareSha256)));
    if (sha.toLatin1() != recorded->firmwareSha256)
        return fail(QStringLiteral("%1 is not the firmware file of the log: its sha256 is %2, the log's %3")
                        .arg(Native(firmware), sha, QString::fromLatin1(recorded->firmwareSha256)));

    ReplayPlan plan;
    CommandLine& r = plan.commandLine;
    r = cl;
    r.Cli = true;
    r.Firmware = firmware;
    r.Simulate = r.Port.isEmpty();  // a given port: kav-dc-sim --replay started by hand answers there
#ifdef Q_OS_WIN
    r.Simulate = true;
#endif
    r.SimArgs = QStringLiteral("--replay \"%1\"").arg(QDir::current().absoluteFilePath(cl.Replay)) +
                (cl.Lenient ? QStringLiteral(" --lenient") : QString());
    if (r.AppDir.isEmpty())
        r.AppDir = scratchDir;
    if (r.Log.isEmpty())
        r.Log = QDir(scratchDir).filePath(QStringLiteral("replay.log"));
    // The language the rows were told in.
    if (!r.LanguageCode)
        if (const ParsedCommandLine then = ParseCommandLine(recorded->commandLine); then.options)
            r.LanguageCode = then.options->LanguageCode;
    plan.recorded = std::move(*recorded);
    ScriptDecisions(plan);
    return plan;
}

QString ReplayDifference(const RecordedRun& recorded, const RecordedRun& again, const QString& logRowPrefix,
                         std::optional<int> dcVerdict) {
    if (dcVerdict && *dcVerdict != 0)
        return QStringLiteral("the DC heard other frames than the log's (above)");
    // The paths of the firmware file, the backup folder and the log are this machine's: each run's own are
    // named alike, the file first, as it may lie in the folder.
    const auto neutral = [](QString row, const RecordedRun& run) {
        if (!run.firmwarePath.isEmpty())
            row.replace(Native(run.firmwarePath), QStringLiteral("<firmware file>"));
        if (!run.backupFolder.isEmpty())
            row.replace(Native(run.backupFolder), QStringLiteral("<backup folder>"));
        return row;
    };
    const auto same = [&](const QString& was, const QString& is) {
        const QString a = neutral(was, recorded), b = neutral(is, again);
        return a == b ||
               (!logRowPrefix.isEmpty() && a.startsWith(logRowPrefix) && b.startsWith(logRowPrefix));
    };
    for (qsizetype i = 0; i < std::max(recorded.rows.size(), again.rows.size()); ++i) {
        const QString was = recorded.rows.value(i), is = again.rows.value(i);
        if (!same(was, is))
            return QStringLiteral("row %1: the log's \"%2\", now \"%3\"")
                .arg(i + 1)
                .arg(was.isEmpty() ? QStringLiteral("(none)") : was,
                     is.isEmpty() ? QStringLiteral("(none)") : is);
    }
    if (recorded.exitStatus != again.exitStatus)
        return QStringLiteral("exit status: the log's %1, now %2")
            .arg(recorded.exitStatus.value_or(-1))
            .arg(again.exitStatus.value_or(-1));
    return QString();
}
