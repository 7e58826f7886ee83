// kav-dc-sim: a simulated DC on a pseudo-terminal, for demos and end-to-end tests of the wizard.
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "tools/dcsim/dc_server.h"
#include "tools/dcsim/pty.h"

namespace {

bool ParseByte(const QString& text, std::uint8_t& byte) {
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    byte = static_cast<std::uint8_t>(v);
    return ok && v <= 0xFF;
}

bool ParsePair(const QString& text, QChar separator, int& a, int& b) {
    const auto parts = text.split(separator);
    bool okA = false;
    bool okB = false;
    if (parts.size() == 2) {
        a = parts[0].toInt(&okA);
        b = parts[1].toInt(&okB);
    }
    return okA && okB;
}

// "B5:3" refuses the address command 3 times, "B5/data:3" its data phase.
// CMD[/data]:COUNT[@UNIT]: the command in hex, the count and the unit in decimal.
bool ParseRefusal(const QString& text, DcRefusal& refusal) {
    const auto parts = text.split(':');
    if (parts.size() != 2)
        return false;
    const auto counted = parts[1].split('@');
    bool unitOk = counted.size() == 1;
    if (counted.size() == 2)
        refusal.unit = counted[1].toInt(&unitOk);
    QString command = parts[0];
    refusal.phase = DcPhase::Command;
    if (command.endsWith(QStringLiteral("/data"), Qt::CaseInsensitive)) {
        refusal.phase = DcPhase::Data;
        command.chop(5);
    }
    bool ok = false;
    refusal.count = counted[0].toInt(&ok);
    return ok && unitOk && ParseByte(command, refusal.command);
}

struct Parsed {
    DcConfig config;
    bool verbose = false;
    bool watchStdin = true;
    QString wireLog;
    QString dumpPath;
    QString error;
};

Parsed ParseOptions(const QCoreApplication& app) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated KAV 1F dive computer on a pseudo-terminal. The first line of output is the device path."));
    p.addHelpOption();
    const QCommandLineOption id("id", "Identification text (16 characters).", "text");
    const QCommandLineOption sub("sub-version", "Status byte (sub-version).", "n");
    const QCommandLineOption memory("memory", "Memory size code: 512 or 1024.", "code");
    const QCommandLineOption serial("serial", "Serial number, six digits.", "n");
    const QCommandLineOption profile("profile", "Profile range in units.", "start:end");
    const QCommandLineOption seed("seed", "Seed of the filler data.", "n");
    const QCommandLineOption newVersion("new-version", "Version after a first image (two characters).", "vv");
    const QCommandLineOption newId("new-id", "The whole identification text after a first image.", "text");
    const QCommandLineOption newSub("new-sub-version", "Sub-version after a second image.", "n");
    const QCommandLineOption restart("restart-seconds", "Silence after an image is closed.", "s");
    const QCommandLineOption latency("latency-ms", "Reply latency.", "ms");
    const QCommandLineOption throttle("throttle", "Keep to the wire rate of 38400 baud.");
    const QCommandLineOption asleep("asleep", "Start in Deep Sleep (image writes are refused outside it).");
    const QCommandLineOption relative(
        "relative-records", "Read the unit of a B2 record as B5 does, relative to the profile ring.");
    const QCommandLineOption silentFrom("silent-from", "Power loss: hear nothing from frame n on.", "n");
    const QCommandLineOption silence("silence", "Lose k frames starting at frame n.", "n:k");
    const QCommandLineOption refuse(
        "refuse", "Answer A5 count times: CMD:COUNT or CMD/data:COUNT (hex), @UNIT for one unit only.",
        "cmd:count");
    const QCommandLineOption split("split", "Cut every reply into pieces of these sizes.", "5,5,8");
    const QCommandLineOption stray("stray",
                                   "Send a stray byte before each reply to the --stray-before command.");
    const QCommandLineOption strayBefore("stray-before", "Command (hex) or 'any' for --stray.", "cmd", "A8");
    const QCommandLineOption chatter("chatter", "Keep sending bytes unasked.");
    const QCommandLineOption verbose("verbose", "Log the frames on standard error.");
    const QCommandLineOption wireLog(
        "wire-log", "Log every frame and reply piece with its time, for benchmarks.", "file");
    const QCommandLineOption noStdin("no-stdin", "Do not end when standard input closes.");
    const QCommandLineOption dump("dump", "At the end, write the DC's memory into this file.", "file");
    p.addOptions({id,      sub,         memory,   serial,  profile,  seed,       newVersion, newId,  newSub,
                  restart, latency,     throttle, asleep,  relative, silentFrom, silence,    refuse, split,
                  stray,   strayBefore, chatter,  verbose, noStdin,  wireLog,    dump});
    p.process(app);

    Parsed r;
    DcConfig& c = r.config;
    DcFaults& f = c.faults;
    bool ok = true;
    auto number = [&p, &ok](const QCommandLineOption& o, auto& target) {
        if (!p.isSet(o))
            return;
        bool good = false;
        const double v = p.value(o).toDouble(&good);
        ok = ok && good;
        target = static_cast<std::remove_reference_t<decltype(target)>>(v);
    };
    if (p.isSet(id))
        c.idText = p.value(id).toStdString();
    number(sub, c.subVersion);
    number(memory, c.memoryCode);
    number(serial, c.serialNumber);
    number(seed, c.seed);
    number(newSub, c.subVersionAfterUpdate);
    number(restart, c.restartSeconds);
    number(silentFrom, f.silentFromFrame);
    if (p.isSet(newVersion))
        c.versionAfterUpdate = p.value(newVersion).toStdString();
    if (p.isSet(newId))
        c.idTextAfterUpdate = p.value(newId).toStdString();
    if (p.isSet(latency))
        c.latency = p.value(latency).toDouble(&ok) / 1000.0;
    if (p.isSet(profile) && !ParsePair(p.value(profile), ':', c.profileStart, c.profileEnd))
        r.error = QStringLiteral("--profile wants START:END");
    if (p.isSet(silence) && !ParsePair(p.value(silence), ':', f.silenceStartFrame, f.silenceFrameCount))
        r.error = QStringLiteral("--silence wants N:K");
    for (const QString& text : p.values(refuse)) {
        DcRefusal refusal;
        if (!ParseRefusal(text, refusal))
            r.error = QStringLiteral("--refuse wants CMD:COUNT or CMD/data:COUNT, then @UNIT or nothing");
        f.refusals.push_back(refusal);
    }
    if (p.isSet(split)) {
        for (const QString& size : p.value(split).split(',')) {
            bool good = false;
            f.splitSizes.push_back(size.toInt(&good));
            ok = ok && good;
        }
    }
    if (p.isSet(stray)) {
        f.strayByte = 0x3F;
        const QString before = p.value(strayBefore);
        if (before.compare(QStringLiteral("any"), Qt::CaseInsensitive) != 0 &&
            !ParseByte(before, f.strayBefore))
            r.error = QStringLiteral("--stray-before wants a command byte in hex or 'any'");
    }
    c.throttle = p.isSet(throttle);
    c.deepSleep = p.isSet(asleep);
    c.relativeRecords = p.isSet(relative);
    f.chatter = p.isSet(chatter);
    r.verbose = p.isSet(verbose);
    r.wireLog = p.value(wireLog);
    r.watchStdin = !p.isSet(noStdin);
    r.dumpPath = p.value(dump);
    if (!ok && r.error.isEmpty())
        r.error = QStringLiteral("a numeric option has a value that is not a number");
    if (c.idText.size() != 16 && r.error.isEmpty())
        r.error = QStringLiteral("--id wants exactly 16 characters");
    if (c.memoryCode != 512 && c.memoryCode != 1024 && r.error.isEmpty())
        r.error = QStringLiteral("--memory wants 512 or 1024");
    return r;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Termination arrives as a readable descriptor, so the serving loop ends in order and the pty is
    // released.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kav-dc-sim"));
    const Parsed options = ParseOptions(app);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kav-dc-sim: %s\n", qPrintable(options.error));
        return 2;
    }
    PseudoTerminal pty;
    std::string error;
    if (!pty.Open(error)) {
        std::fprintf(stderr, "kav-dc-sim: %s\n", error.c_str());
        return 1;
    }
    std::vector<char> logBuffer(std::size_t{1} << 16);  // the log is read once the simulator has ended
    std::FILE* wireLog = nullptr;
    if (!options.wireLog.isEmpty()) {
        wireLog = std::fopen(QFile::encodeName(options.wireLog).constData(), "w");
        if (wireLog == nullptr) {
            std::fprintf(stderr, "kav-dc-sim: cannot write %s\n", qPrintable(options.wireLog));
            return 1;
        }
        std::setvbuf(wireLog, logBuffer.data(), _IOFBF, logBuffer.size());
    }
    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);

    {
        DcServer server(options.config, pty.MasterFd(), {options.verbose, wireLog});
        server.Run(signalFd, options.watchStdin ? STDIN_FILENO : -1);
        QFile dump(options.dumpPath);
        const auto& memory = server.Model().Memory();
        if (!options.dumpPath.isEmpty() &&
            (!dump.open(QIODevice::WriteOnly) || dump.write(reinterpret_cast<const char*>(memory.data()),
                                                            qint64(memory.size())) != qint64(memory.size())))
            std::fprintf(stderr, "kav-dc-sim: cannot write %s\n", qPrintable(options.dumpPath));
    }
    if (wireLog != nullptr)
        std::fclose(wireLog);
    ::close(signalFd);
    return 0;
}
