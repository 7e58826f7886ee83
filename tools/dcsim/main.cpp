// kav-dc-sim: a simulated DC on a pseudo-terminal, for demos and end-to-end tests of the wizard.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/command_usage.h"
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
    int count = 1;  // simulated DCs, each on its own pseudo-terminal
    bool verbose = false;
    bool watchStdin = true;
    QString wireLog;
    QString dumpPath;
    QString replayLog;  // a run log to answer from
    bool lenient = false;
    QString error;  // a usage error
    QString help;   // --help: nothing else to do
    bool version = false;
};

struct SimOptions {
    QCommandLineOption id{"id", "Identification text (16 characters).", "text"};
    QCommandLineOption sub{"sub-version", "Status byte (sub-version).", "n"};
    QCommandLineOption memory{"memory", "Memory size code: 512 or 1024.", "code"};
    QCommandLineOption serial{"serial", "Serial number, six digits.", "n"};
    QCommandLineOption profile{"profile", "Profile range in units.", "start:end"};
    QCommandLineOption seed{"seed", "Seed of the filler data.", "n"};
    QCommandLineOption newVersion{"new-version", "Version after a first image (two characters).", "vv"};
    QCommandLineOption newId{"new-id", "The whole identification text after a first image.", "text"};
    QCommandLineOption newSub{"new-sub-version", "Sub-version after a second image.", "n"};
    QCommandLineOption restart{"restart-seconds", "Silence after an image is closed.", "s"};
    QCommandLineOption latency{"latency-ms", "Reply latency.", "ms"};
    QCommandLineOption throttle{"throttle", "Keep to the wire rate of 38400 baud."};
    QCommandLineOption asleep{"asleep", "Start in Deep Sleep (image writes are refused outside it)."};
    QCommandLineOption relative{"relative-records",
                                "Read the unit of a B2 record as B5 does, relative to the profile ring."};
    QCommandLineOption silentFrom{"silent-from", "Power loss: hear nothing from frame n on.", "n"};
    QCommandLineOption silence{"silence", "Lose k frames starting at frame n.", "n:k"};
    QCommandLineOption refuse{
        "refuse", "Answer A5 count times: CMD:COUNT or CMD/data:COUNT (hex), @UNIT for one unit only.",
        "cmd:count"};
    QCommandLineOption split{"split", "Cut every reply into pieces of these sizes.", "5,5,8"};
    QCommandLineOption stray{"stray", "Send a stray byte before each reply to the --stray-before command."};
    QCommandLineOption strayBefore{"stray-before", "Command (hex) or 'any' for --stray.", "cmd", "A8"};
    QCommandLineOption chatter{"chatter", "Keep sending bytes unasked."};
    QCommandLineOption verbose{"verbose", "Log the frames on standard error."};
    QCommandLineOption wireLog{"wire-log", "Log every frame and reply piece with its time, for benchmarks.",
                               "file"};
    QCommandLineOption noStdin{"no-stdin", "Do not end when standard input closes."};
    QCommandLineOption dump{"dump", "At the end, write the DC's memory into this file.", "file"};
    QCommandLineOption count{"count",
                             "Simulate n DCs, serial numbers --serial, +1, +2...; one device path a line, "
                             "and --dump and --wire-log files get the suffix .1, .2...",
                             "n"};
    QCommandLineOption replay{
        "replay",
        "Answer as the DC in this run log did (a failed update's log, or one written with "
        "--trace); end with status 1 at the first frame that differs from the recorded "
        "one, 2 when the log cannot be replayed.",
        "log"};
    QCommandLineOption lenient{"lenient",
                               "With --replay: where a frame differs, answer as the simulated DC "
                               "from there on."};
    QCommandLineOption help = HelpOption();
    QCommandLineOption version = VersionOption();
};

// The DC's own values; false when one of them is not a number.
bool ReadDevice(const QCommandLineParser& p, const SimOptions& o, Parsed& r) {
    DcConfig& c = r.config;
    bool ok = true;
    auto number = [&p, &ok](const QCommandLineOption& option, auto& target) {
        if (!p.isSet(option))
            return;
        bool good = false;
        const double v = p.value(option).toDouble(&good);
        ok = ok && good;
        target = static_cast<std::remove_reference_t<decltype(target)>>(v);
    };
    if (p.isSet(o.id))
        c.idText = p.value(o.id).toStdString();
    number(o.sub, c.subVersion);
    number(o.memory, c.memoryCode);
    number(o.serial, c.serialNumber);
    number(o.seed, c.seed);
    number(o.newSub, c.subVersionAfterUpdate);
    number(o.restart, c.restartSeconds);
    number(o.silentFrom, c.faults.silentFromFrame);
    if (p.isSet(o.newVersion))
        c.versionAfterUpdate = p.value(o.newVersion).toStdString();
    if (p.isSet(o.newId))
        c.idTextAfterUpdate = p.value(o.newId).toStdString();
    if (p.isSet(o.latency)) {
        bool good = false;
        c.latency = p.value(o.latency).toDouble(&good) / 1000.0;
        ok = ok && good;
    }
    if (p.isSet(o.profile) && !ParsePair(p.value(o.profile), ':', c.profileStart, c.profileEnd))
        r.error = QStringLiteral("--profile wants START:END");
    c.throttle = p.isSet(o.throttle);
    c.deepSleep = p.isSet(o.asleep);
    c.relativeRecords = p.isSet(o.relative);
    return ok;
}

// The faults asked for; false when a size is not a number.
bool ReadFaults(const QCommandLineParser& p, const SimOptions& o, Parsed& r) {
    DcFaults& f = r.config.faults;
    bool ok = true;
    if (p.isSet(o.silence) && !ParsePair(p.value(o.silence), ':', f.silenceStartFrame, f.silenceFrameCount))
        r.error = QStringLiteral("--silence wants N:K");
    for (const QString& text : p.values(o.refuse)) {
        DcRefusal refusal;
        if (!ParseRefusal(text, refusal))
            r.error = QStringLiteral("--refuse wants CMD:COUNT or CMD/data:COUNT, then @UNIT or nothing");
        f.refusals.push_back(refusal);
    }
    if (p.isSet(o.split)) {
        for (const QString& size : p.value(o.split).split(',')) {
            bool good = false;
            f.splitSizes.push_back(size.toInt(&good));
            ok = ok && good;
        }
    }
    if (p.isSet(o.stray)) {
        f.strayByte = 0x3F;
        const QString before = p.value(o.strayBefore);
        if (before.compare(QStringLiteral("any"), Qt::CaseInsensitive) != 0 &&
            !ParseByte(before, f.strayBefore))
            r.error = QStringLiteral("--stray-before wants a command byte in hex or 'any'");
    }
    f.chatter = p.isSet(o.chatter);
    return ok;
}

Parsed ParseOptions(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated KAV 1F dive computer on a pseudo-terminal. The first line of output is the device path."));
    const SimOptions o;
    p.addOptions({o.id,         o.sub,         o.memory,     o.serial,  o.profile, o.seed,
                  o.newVersion, o.newId,       o.newSub,     o.restart, o.latency, o.throttle,
                  o.asleep,     o.relative,    o.silentFrom, o.silence, o.refuse,  o.split,
                  o.stray,      o.strayBefore, o.chatter,    o.verbose, o.noStdin, o.wireLog,
                  o.dump,       o.count,       o.replay,     o.lenient, o.help,    o.version});
    Parsed r;
    if (!p.parse(arguments)) {
        r.error = ParserProblem(p);
        return r;
    }
    if (p.isSet(o.help))
        r.help = HelpText(p, QStringLiteral("kav-dc-sim"));
    r.version = p.isSet(o.version);
    if (!p.positionalArguments().isEmpty())
        r.error = QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments().first());
    const bool deviceNumbers = ReadDevice(p, o, r);
    const bool faultNumbers = ReadFaults(p, o, r);
    r.verbose = p.isSet(o.verbose);
    r.wireLog = p.value(o.wireLog);
    r.watchStdin = !p.isSet(o.noStdin);
    r.dumpPath = p.value(o.dump);
    r.replayLog = p.value(o.replay);
    r.lenient = p.isSet(o.lenient);
    if (r.lenient && r.replayLog.isEmpty() && r.error.isEmpty())
        r.error = QStringLiteral("--lenient goes with --replay");
    if (p.isSet(o.count)) {
        bool good = false;
        r.count = p.value(o.count).toInt(&good);
        if ((!good || r.count < 1 || r.count > 64) && r.error.isEmpty())
            r.error = QStringLiteral("--count wants a number from 1 to 64");
    }
    const DcConfig& c = r.config;
    if (!(deviceNumbers && faultNumbers) && r.error.isEmpty())
        r.error = QStringLiteral("a numeric option has a value that is not a number");
    if (!r.replayLog.isEmpty() && r.count != 1 && r.error.isEmpty())
        r.error = QStringLiteral("--replay plays one DC: no --count");
    if (c.idText.size() != 16 && r.error.isEmpty())
        r.error = QStringLiteral("--id wants exactly 16 characters");
    if (c.memoryCode != 512 && c.memoryCode != 1024 && r.error.isEmpty())
        r.error = QStringLiteral("--memory wants 512 or 1024");
    return r;
}

// A file of one DC among several: FILE.1, FILE.2 ...; FILE itself when there is one DC.
QString FileOf(const QString& path, int index, int count) {
    return path.isEmpty() || count == 1 ? path : path + QStringLiteral(".%1").arg(index + 1);
}

// One simulated DC: its pseudo-terminal, its wire log, its server thread.
struct SimulatedDc {
    PseudoTerminal pty;
    std::vector<char> logBuffer =
        std::vector<char>(std::size_t{1} << 16);  // read once the simulator has ended
    std::FILE* wireLog = nullptr;
    QString dumpPath;
    std::unique_ptr<DcServer> server;
    std::thread thread;

    ~SimulatedDc() {
        if (wireLog != nullptr)
            std::fclose(wireLog);
    }

    bool Open(const Parsed& options, int index, ReplayScript* replay, std::string& error) {
        if (!pty.Open(error))
            return false;
        const QString logPath = FileOf(options.wireLog, index, options.count);
        if (!logPath.isEmpty()) {
            wireLog = std::fopen(QFile::encodeName(logPath).constData(), "w");
            if (wireLog == nullptr) {
                error = "cannot write " + logPath.toStdString();
                return false;
            }
            std::setvbuf(wireLog, logBuffer.data(), _IOFBF, logBuffer.size());
        }
        dumpPath = FileOf(options.dumpPath, index, options.count);
        DcConfig config = options.config;
        config.serialNumber += index;
        if (replay != nullptr && replay->RecordedIdentification().size() == 16) {
            config.idText = replay->RecordedIdentification();  // should the simulated DC take over
            config.memoryCode = config.idText.ends_with("1024KB") ? 1024 : 512;
        }
        server = std::make_unique<DcServer>(
            config, pty.MasterFd(), DcServer::Options{options.verbose, wireLog, replay, options.lenient});
        return true;
    }

    void WriteDump() const {
        QFile dump(dumpPath);
        const auto& memory = server->Model().Memory();
        if (!dumpPath.isEmpty() &&
            (!dump.open(QIODevice::WriteOnly) || dump.write(reinterpret_cast<const char*>(memory.data()),
                                                            qint64(memory.size())) != qint64(memory.size())))
            std::fprintf(stderr, "kav-dc-sim: cannot write %s\n", qPrintable(dumpPath));
    }
};

// Until a signal, a server that ended by itself (a replay that differs), or the end of standard input when it
// is watched.
void AwaitStop(int signalFd, int endedFd, bool watchStdin) {
    pollfd fds[] = {{signalFd, POLLIN, 0}, {endedFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    char buffer[256];
    while (true) {
        if (::poll(fds, watchStdin ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0 || fds[1].revents != 0 ||
            (fds[2].revents != 0 && ::read(STDIN_FILENO, buffer, sizeof buffer) <= 0))
            return;
    }
}

// Each DC is served on a thread of its own; the stop is one event that every server sees.
int Serve(const Parsed& options, int signalFd) {
    std::optional<ReplayScript> replay;
    if (!options.replayLog.isEmpty()) {
        QString why;
        std::string error;
        const std::optional<RecordedRun> run = ReadRunLog(options.replayLog, &why);
        if (run)
            replay = ReplayScript::From(*run, &error);
        if (!replay) {
            std::fprintf(stderr, "kav-dc-sim: cannot replay %s: %s\n", qPrintable(options.replayLog),
                         run ? error.c_str() : qPrintable(why));
            return 2;
        }
    }
    std::vector<std::unique_ptr<SimulatedDc>> dcs;
    for (int i = 0; i < options.count; ++i) {
        auto dc = std::make_unique<SimulatedDc>();
        std::string error;
        if (!dc->Open(options, i, replay ? &*replay : nullptr, error)) {
            std::fprintf(stderr, "kav-dc-sim: %s\n", error.c_str());
            return 1;
        }
        dcs.push_back(std::move(dc));
    }
    for (const auto& dc : dcs)
        std::printf("%s\n", dc->pty.SlavePath().c_str());
    std::fflush(stdout);
    const int stopFd = ::eventfd(0, EFD_CLOEXEC), endedFd = ::eventfd(0, EFD_CLOEXEC);
    for (const auto& dc : dcs)
        dc->thread = std::thread([&dc, stopFd, endedFd] {
            dc->server->Run(stopFd, -1);
            const std::uint64_t ended = 1;
            [[maybe_unused]] const ssize_t written = ::write(endedFd, &ended, sizeof ended);
        });
    AwaitStop(signalFd, endedFd, options.watchStdin);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd, &one, sizeof one);
    for (const auto& dc : dcs) {
        dc->thread.join();
        dc->WriteDump();
    }
    ::close(stopFd);
    ::close(endedFd);
    if (!replay)
        return 0;
    if (dcs.front()->server->Differed())
        return 1;
    if (const std::string unheard = replay->Unheard(); !unheard.empty()) {
        std::fprintf(stderr, "kav-dc-sim: the replay differs at %s\n", unheard.c_str());
        return 1;
    }
    std::fprintf(stderr, "kav-dc-sim: the replay heard the %zu recorded frames\n", replay->Frames());
    return 0;
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
    const Parsed options = ParseOptions(QCoreApplication::arguments());
    if (!options.error.isEmpty())
        return ReportUsageError(QStringLiteral("kav-dc-sim"), options.error);
    if (!options.help.isEmpty()) {
        std::fputs(qPrintable(options.help), stdout);
        return 0;
    }
    if (options.version)
        return ReportVersion(QStringLiteral("kav-dc-sim"));
    const int status = Serve(options, signalFd);
    ::close(signalFd);
    return status;
}
