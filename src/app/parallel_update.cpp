#include "app/parallel_update.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "app/command_line.h"
#include "app/signal_relay.h"
#include "link/port_discovery.h"
#include "link/port_system.h"
#include "run/update_history.h"

namespace {

struct Child {
    QString port;
    QString attemptFile;
    QProcess process;
    QByteArray out, err;  // the part of a line not yet passed on
    int status = -1;      // -1: ended by a signal
};

QStringList ChildArguments(const CommandLine& cl, const Child& child, int index) {
    const QDir here = QDir::current();
    QStringList args{QStringLiteral("--cli"),          QStringLiteral("--yes"),
                     QStringLiteral("--port"),         child.port,
                     QStringLiteral("--attempt-file"), child.attemptFile};
    if (!cl.Firmware.isEmpty())
        args << QStringLiteral("--firmware") << here.absoluteFilePath(cl.Firmware);
    if (!cl.AppDir.isEmpty())
        args << QStringLiteral("--app-dir") << here.absoluteFilePath(cl.AppDir);
    if (cl.LanguageCode)
        args << QStringLiteral("--lang") << QString::number(*cl.LanguageCode);
    if (cl.Trace)
        args << QStringLiteral("--trace");
    if (!cl.Log.isEmpty())  // one log a DC: FILE.1, FILE.2 ...
        args << QStringLiteral("--log")
             << here.absoluteFilePath(cl.Log) + QStringLiteral(".%1").arg(index + 1);
    return args;
}

// Whole lines only, each behind its port, so that two DCs' lines never mix inside one.
void PassLines(QByteArray& pending, const QByteArray& more, const QString& port, std::ostream& to,
               bool last) {
    pending += more;
    if (last && !pending.isEmpty() && !pending.endsWith('\n'))
        pending += '\n';
    const std::string prefix = port.toStdString() + ": ";
    qsizetype end = 0;
    while ((end = pending.indexOf('\n')) >= 0) {
        to << prefix;
        to.write(pending.constData(), end + 1);
        pending.remove(0, end + 1);
    }
    to.flush();
}

QStringList PortsToUpdate(const CommandLine& cl) {
    if (!cl.AllCables)
        return cl.Ports;
    QStringList ports;
    for (const FoundCable& cable : FindInterfaceCables(OsPortSystem()))
        ports << cable.port.InterfacePortName;
    return ports;
}

std::optional<UpdateAttempt> AttemptOf(const Child& child) {
    QFile file(child.attemptFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return UpdateAttempt::FromJson(QJsonDocument::fromJson(file.readAll()).object());
}

bool Succeeded(const std::optional<UpdateAttempt>& attempt) {
    return attempt && (attempt->outcome == UpdateAttempt::Outcome::Succeeded ||
                       attempt->outcome == UpdateAttempt::Outcome::AlreadyCurrent);
}

QStringList SummaryRow(const Child& child, const std::optional<UpdateAttempt>& a) {
    if (!a) {
        const QString ended = child.status < 0 ? QStringLiteral("ended by a signal")
                                               : QStringLiteral("exit status %1").arg(child.status);
        return {child.port, QStringLiteral("-"), QStringLiteral("-"),
                ended,      QStringLiteral("-"), QStringLiteral("-")};
    }
    const auto known = [](const QString& text) { return text.isEmpty() ? QStringLiteral("?") : text; };
    // Restored, the backup file is gone; archived or kept, it is where the attempt says.
    const bool fileStays = a->backup == UpdateAttempt::BackupFate::KeptForRecovery ||
                           a->backup == UpdateAttempt::BackupFate::Archived;
    return {child.port,
            a->serial < 0 ? QStringLiteral("-") : QString::number(a->serial),
            known(VersionText(a->versionBefore, a->subVersionBefore)) + QStringLiteral(" -> ") +
                known(VersionText(a->versionAfter, a->subVersionAfter)),
            OutcomeName(a->outcome),
            QString::number(a->seconds, 'f', 1),
            fileStays ? QDir::toNativeSeparators(a->backupFile) : QStringLiteral("-")};
}

void PrintTable(const std::vector<QStringList>& rows, std::ostream& out) {
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out << line.toStdString() << '\n';
    }
    out.flush();
}

void StartChild(Child& child, const CommandLine& cl, int index, const SignalRelay& relay, std::ostream& out,
                std::ostream& err, int& running, QEventLoop& loop) {
    QProcess& p = child.process;
    relay.Prepare(p);
    QObject::connect(&p, &QProcess::readyReadStandardOutput,
                     [&] { PassLines(child.out, p.readAllStandardOutput(), child.port, out, false); });
    QObject::connect(&p, &QProcess::readyReadStandardError,
                     [&] { PassLines(child.err, p.readAllStandardError(), child.port, err, false); });
    QObject::connect(&p, &QProcess::finished, [&](int code, QProcess::ExitStatus how) {
        PassLines(child.out, p.readAllStandardOutput(), child.port, out, true);
        PassLines(child.err, p.readAllStandardError(), child.port, err, true);
        child.status = how == QProcess::NormalExit ? code : -1;
        if (--running == 0)
            loop.quit();
    });
    QObject::connect(&p, &QProcess::errorOccurred, [&](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        err << child.port.toStdString() << ": kav-update did not start\n";
        if (--running == 0)
            loop.quit();
    });
    ++running;
    p.start(QCoreApplication::applicationFilePath(), ChildArguments(cl, child, index));
    p.closeWriteChannel();
}

}  // namespace

int RunParallelUpdate(const CommandLine& cl, std::ostream& out, std::ostream& err) {
    const QStringList ports = PortsToUpdate(cl);
    QTemporaryDir attempts;
    if (ports.isEmpty() || !attempts.isValid()) {
        err << (ports.isEmpty() ? "kav-update: no interface cable found\n"
                                : "kav-update: no folder for the children's reports\n");
        return 2;
    }
    std::vector<std::unique_ptr<Child>> children;
    for (const QString& port : ports) {
        children.push_back(std::make_unique<Child>());
        children.back()->port = port;
        children.back()->attemptFile = attempts.filePath(QStringLiteral("%1.json").arg(children.size()));
    }
    QEventLoop loop;
    int running = 0;
    {
        const SignalRelay relay([&children] {
            for (const auto& child : children)
                SignalRelay::Interrupt(child->process);
        });
        for (std::size_t i = 0; i < children.size(); ++i)
            StartChild(*children[i], cl, int(i), relay, out, err, running, loop);
        if (running > 0)
            loop.exec();
    }
    std::vector<QStringList> rows{{QStringLiteral("port"), QStringLiteral("serial"),
                                   QStringLiteral("version"), QStringLiteral("outcome"),
                                   QStringLiteral("seconds"), QStringLiteral("backup file")}};
    bool allSucceeded = true;
    for (const auto& child : children) {
        const std::optional<UpdateAttempt> attempt = AttemptOf(*child);
        allSucceeded = allSucceeded && Succeeded(attempt);
        rows.push_back(SummaryRow(*child, attempt));
    }
    out << '\n';
    PrintTable(rows, out);
    return allSucceeded ? 0 : 1;
}
