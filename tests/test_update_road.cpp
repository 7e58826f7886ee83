// The update on the simulated DC: every road, what it writes and shows; the profile backup and each way it
// can fail; writing the profile back; and the recovery at Close after an interrupted update.
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <numeric>

#include "fakes/rows.h"
#include "fakes/update_fixture.h"
#include "fakes/wired_wizard.h"
#include "firmware/reset_verify.h"
#include "firmware/upload.h"
#include "profile/backup.h"
#include "profile/backup_file.h"
#include "profile/recovery.h"
#include "profile/restore.h"
#include "update/update_driver.h"

// What happens to the DC's profile on the road: refused before a backup; already current with no earlier
// backup; already current, an earlier backup written back; already current, an earlier backup that stays;
// backed up and written back, file deleted; backed up, not written back, the file left for the recovery.
enum Profile { Untouched, NoBackup, Earlier, Waiting, Restored, Left };

namespace {

// Task rows from "icon|event|status;..." with {N} for text N.
QStringList Expand(const UpdateFixture& f, QString rows) {
    static const QRegularExpression id(QStringLiteral("\\{(\\d+)\\}"));
    for (auto m = id.match(rows); m.hasMatch(); m = id.match(rows))
        rows.replace(m.captured(0), f.Text(Txt(m.captured(1).toInt())));
    return rows.split(';', Qt::SkipEmptyParts);
}

// The task rows shown, as Expand gives them, the backup file's path as %1.
QStringList Shown(const UpdateFixture& f) {
    QStringList shown;
    for (const auto& r : f.view.rows)
        shown << QStringLiteral("%1|%2|%3")
                     .arg(r.icon)
                     .arg(QString(r.event).replace(f.BackupPath(), "%1"), r.status);
    return shown;
}

// A DC answering with this identification; with a second image it reports sub-version 5 after the update.
DcConfig Dc(const char* idText, std::uint8_t subVersion = 3) {
    DcConfig dc;
    dc.idText = idText, dc.subVersion = subVersion, dc.subVersionAfterUpdate = 5;
    return dc;
}

using Frame = std::vector<std::uint8_t>;

// Relative: the DC reads a record's unit as 0xB5 does (+ 256); RecordRefused: so, but one record address is
// refused; Awake: the DC has left Deep Sleep.
enum Fault { None, HeaderRefused, ReadBackSilent, NoBlocks, Relative, RecordRefused, WrongCheck, Awake };

// The units the 4-byte frames of this command named, in order.
QList<int> Addresses(const UpdateFixture& f, std::uint8_t command) {
    QList<int> units;
    for (const auto& frame : f.sim.Sent())
        if (frame.size() == 4 && frame[0] == command)
            units << frame[1] * 256 + frame[2];
    return units;
}

// As Close finds things after an update that failed once the profile of DC 210417 was saved; returns the
// memory saved.
std::vector<std::uint8_t> Interrupt(UpdateFixture& f, const QList<BoxAnswer>& answers) {
    const auto saved = DcModel(ProfileDc(256, 287, 7)).Memory();
    f.PlaceFile(ExpectedBackupFile(saved, 512));
    f.session.profile.BackupFilePath = f.BackupPath();
    f.session.profile.Restored = false;
    f.view.answers.assign(answers.begin(), answers.end());
    return saved;
}

// The DC was given the time and told to leave Deep Sleep, in that order, as the last things sent.
void Finished(UpdateFixture& f) {
    const auto& sent = f.sim.Sent();
    QCOMPARE(sent.back(), (Frame{0xA8, 0x99, 0x00}));
    QVERIFY(std::find(sent.begin(), sent.end(), Frame{0x97, 0x00}) <
            std::find(sent.begin(), sent.end(), Frame{0xA8, 0x99, 0x00}));
}

// Where the DC's range comes from, and what lies at its backup file's place before the backup: the range as
// given, no file; header bytes 8..11 set to 0x1234, 0x5678; an earlier backup of this DC, of another serial,
// or of this DC with an empty range.
enum Before { Range, Pointers, OwnFile, OtherFile, EmptyFile };

enum Trouble { Damaged, FolderInTheWay, ReadOnlyFolder, FullDisk, Block0Silent, Block8Silent };

// For its lifetime: the folder read-only (for root too, whose file-system identity becomes nobody's), or a
// full disk (files limited to 64 KiB).
struct DiskTrouble {
    DiskTrouble(int kind, const QString& path) : folder(path) {
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit small{64 * 1024, saved.rlim_max};
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        if (kind == ReadOnlyFolder && QFile::setPermissions(folder, readOnly))
            setfsuid(geteuid() == 0 ? 65534 : geteuid());
        if (kind == FullDisk && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR)
            setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskTrouble() {
        setfsuid(geteuid());
        setrlimit(RLIMIT_FSIZE, &saved);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString folder;
    rlimit saved{};
};

}  // namespace

// outcomes: fault, refused (the unit whose block write is refused, -1 for none), start (of a range of four
// blocks), failure (the text of the failure row, 0 for a confirmed restore), records, reads (units read after
// the backup's block 0), placed (blocks back at their own units, from the first).
using RestoreCases = Rows<int, int, int, int, QList<int>, QList<int>, int>;

// roads: dc, fw, profile, rows ("icon|event|status;..." with {N} for text N), frames (B4, B5, B7, B2 sent,
// then installs).
using RoadCases = Rows<DcConfig, TestFirmware, Profile, QString, QList<int>>;

// fileHoldsTheRange: memory (of the DC and in the firmware file), before (see Before), start, end, blocks (in
// the backup; -1: refused, more than the table holds).
using RangeCases = Rows<int, int, int, int, int>;

// restartWaitSendsNothing: seconds, closeAt (negative: never), ends, lastShown (the seconds, counted as they
// go by).
using RestartWaitCases = Rows<double, double, double, QString>;

// recoveryAnswers: dc (another DC has a file of its own, with an empty range), answers (one for each box),
// rows (as in roads), priorities.
using RecoveryCases = Rows<DcConfig, QList<BoxAnswer>, QString, std::vector<int>>;

// oneOutcomeEverywhere: dc, otherWaits, succeeds, history (outcome, failed step, backup).
using OutcomeCases = Rows<DcConfig, bool, bool, QString>;

// failedBackupWritesNothing: placed (the file before and after), trouble, reads (B4 frames until it stops).
using BackupTroubleCases = Rows<QByteArray, int, int>;

class TestUpdateRoad : public QObject {
    Q_OBJECT

private slots:
    void roads_data() {
        RoadCases rows;
        const TestFirmware fw, code2{.kind = TestKind::Code2Only, .minVersion = "1A05"},
            both{.kind = TestKind::Both, .minVersion = "1A05"};
        const DcConfig v1a = Dc("KAV1F V1A 0512KB"), v1b = Dc("KAV1F V1B 0512KB");
        DcConfig lost = v1a, refusing = v1a, older = v1a, otherModel = v1a, unreadable = v1b;
        unreadable.faults.silenceStartFrame = 2, unreadable.faults.silenceFrameCount = 5;  // block 0
        // Frames: identify, block 0, 128 profile blocks, 8 x (address, data), close; then the 12 requests of
        // the identification after the restart wait go unanswered.
        lost.faults.silenceStartFrame = 1 + 1 + 128 + 16 + 1 + 1, lost.faults.silenceFrameCount = 12;
        refusing.faults.refusals = {{0xB5, DcPhase::Data, 100}};
        older.versionAfterUpdate = "19";
        otherModel.idTextAfterUpdate = "XYZ12 V1B 0512KB";
        const QString id = "0|{782}|{777};", saving = "0|Backup dive computer profile|{777};";
        const QString version = id + "1|KAV 1F, firmware version: ", backup = version + "1A|;" + saving;
        const QString code1 = backup + "0|{787}|{777};";
        const QString restart = "0|{803}|{777};0|{792}|{777};", failed = "2|{814}|;1|{815}|";
        const QString verified = restart + "1|{794}|;0|{796}|{777};1|{786}|";
        const QString current = id + "1|{785}|";
        using N = QList<int>;
        const N none{0, 0, 0, 0, 0};

        rows.Add("first image", v1a, fw, Restored, code1 + verified, N{130, 136, 0, 1, 1});
        rows.Add("an empty image, still closed", v1a, TestFirmware{.blocks = 0}, Restored, code1 + verified,
                 N{130, 128, 0, 1, 1});
        // The DC hears the frames of a clean road and the resends alone: a refusal or a settled time-out adds
        // no second reading and no read-back.
        const auto faulty = [&](auto set) { return WithFaults(set, v1a); };
        rows.Add("identification unanswered once",
                 faulty([](DcFaults& x) { x.silenceStartFrame = 1, x.silenceFrameCount = 1; }), fw, Restored,
                 code1 + verified, N{130, 136, 0, 1, 1});
        rows.Add("a profile read unanswered once",
                 faulty([](DcFaults& x) { x.silenceStartFrame = 9, x.silenceFrameCount = 1; }), fw, Restored,
                 code1 + verified, N{131, 136, 0, 1, 1});
        rows.Add("a firmware block address refused once", faulty([](DcFaults& x) {
                     x.refusals = {{0xB5, DcPhase::Command, 1, 24}};
                 }),
                 fw, Restored, code1 + verified, N{130, 137, 0, 1, 1});
        rows.Add("model id beyond ASCII, read alike from DC and file", Dc("KAV\x8A\x80 V1A 0512KB"),
                 TestFirmware{.modelId = "KAV\x8A\x80"}, Restored, code1 + verified, N{130, 136, 0, 1, 1});
        rows.Add("already current, earlier backup", v1b, fw, Earlier, current + ";0|{796}|{777};1|{786}|",
                 N{2, 128, 0, 1, 0});
        rows.Add("already current, no backup", v1b, fw, NoBackup, current, N{1, 0, 0, 0, 0});
        rows.Add("already current, block 0 unread: the waiting backup named", unreadable, fw, Waiting,
                 current + ";2|{150}|;1|{912}|", N{5, 0, 0, 0, 0});
        rows.Add("version 19 sorts before 1A", Dc("KAV1F V19 0512KB"), fw, Untouched,
                 id + "2|{783} KAV 1F, {781} 1A {784}|", none);
        rows.Add("second image, DC sub-version higher", Dc("KAV1F V1A 0512KB", 6), code2, Untouched, current,
                 none);
        rows.Add("second image, equal sub-versions: written again", Dc("KAV1F V1A 0512KB", 5), code2,
                 Restored, version + "1A.05|;" + saving + "0|{787}|{777};" + verified, N{130, 128, 8, 1, 1});
        rows.Add("both images, DC 1C.03", Dc("KAV1F V1C 0512KB"), both, Restored,
                 version + "1C.03|;" + saving + "0|{788}|{777};0|{803}|{777};0|{789}|{777};" + verified,
                 N{130, 136, 8, 1, 2});
        rows.Add("no DC after the restart", lost, TestFirmware{.kind = TestKind::Both}, Left,
                 backup + "0|{788}|{777};0|{803}|{280};2|{150}|;" + failed, N{129, 8, 0, 0, 1});
        rows.Add("upload refused", refusing, fw, Left, backup + "0|{787}|{280};2|{790}|;" + failed,
                 N{129, 4, 0, 0, 0});
        rows.Add("older version after the update", older, fw, Restored,
                 code1 + restart + "0|{796}|{777};" + failed, N{130, 136, 0, 1, 1});
        rows.Add("another model after the update", otherModel, fw, Left,
                 code1 + restart + "2|{793}|;" + failed, N{129, 8, 0, 0, 1});
        rows.Add("wrong model", Dc("XYZ12 V1A 0512KB"), fw, Untouched, id + "2|{783} KAV 1F!|", none);
        rows.Add("no DC", SilentDc(), fw, Untouched, "0|{782}|{280};2|{150}|", none);
    }
    void roads() {
        const auto& [dc, fw, profile, rows, frames] = RoadCases::Fetch();
        // A DC recognised as this model is told to leave Deep Sleep, also when its profile waits for the
        // recovery; the command reports only itself.
        const bool leavesDeepSleep = !rows.contains("{783} KAV 1F!") && !rows.startsWith("0|{782}|{280}");
        UpdateFixture f(dc, fw);
        const auto before = f.sim.Device().Memory();
        DcConfig other = dc;
        other.seed = 7;  // the same DC holding other dives
        const auto saved = DcModel(other).Memory();
        if (profile == Earlier || profile == Waiting)
            f.PlaceFile(ExpectedBackupFile(saved, 512));

        const bool ok = UpdateFirmware(*f.context);
        const QStringList shown = Shown(f);
        QCOMPARE(shown, Expand(f, rows));
        const QStringList outcome = Expand(f, "1|{786}|;1|{815}|");  // succeeded, not completed
        QCOMPARE(ok, shown.back() == outcome[0]);
        // Every road to an outcome sets the clock.
        const bool finished = outcome.contains(shown.back());

        QCOMPARE((QList<int>{f.Count(0xB4, 4), f.Count(0xB5, 4), f.Count(0xB7, 4), f.Count(0xB2, 4),
                             f.sim.Device().Installs()}),
                 frames);
        // The sub-version is asked for only when the versions have a suffix.
        QCOMPARE(f.Count(0xBA, 2) > 0, fw.minVersion.size() > 2);
        QCOMPARE(int(f.sim.Device().SecondImageParameter().value_or(0)), f.Count(0xB7, 4) ? 0x0102 : 0);

        // Image blocks land in the profile area: only the restore puts it back.
        const auto& now = f.sim.Device().Memory();
        QVERIFY(profile == Earlier ? Units(now, 256, 1279) == Units(saved, 256, 1279)
                                   : profile == Left || now == before);
        QCOMPARE(FileBytes(f.BackupPath()), profile == Left      ? ExpectedBackupFile(before, 512)
                                            : profile == Waiting ? ExpectedBackupFile(saved, 512)
                                                                 : QByteArray());
        QCOMPARE(f.session.profile.Restored, profile != Left);
        QCOMPARE(f.session.profile.ProfileBackupActive, profile != NoBackup && profile != Waiting);

        const auto clock = f.sim.Device().DeviceClock();
        QCOMPARE(clock ? QDate(2000 + clock->year, clock->month, clock->day) : QDate(),
                 finished ? f.clock.LocalNow().date() : QDate());
        // A road whose every exchange was answered goes straight to its finish: nothing can be on its way.
        const auto& sent = f.sim.Sent();
        const auto finish = std::find(sent.rbegin(), sent.rend(), Frame{0x97, 0x00});
        if (finish != sent.rend() && dc.faults.silenceFrameCount + dc.faults.lateFrame == 0) {
            const auto i = std::size_t(sent.rend() - finish - 1);
            QVERIFY(f.sim.SentTimes()[i] - f.sim.SentTimes()[i - 1] < 0.05);
        }
        QCOMPARE(f.sim.Sent().back() == (std::vector<std::uint8_t>{0xA8, 0x99, 0x00}), leavesDeepSleep);
        QCOMPARE(f.priority.classes.front(), PriorityRealtime);
        QCOMPARE(f.priority.classes.back(), PriorityNormal);
    }
    // The result, the last rows and the history follow one decision: the firmware in, this DC's profile in
    // it, the DC out of Deep Sleep. Another DC's backup that waits for Close and a clock the DC refused are
    // not this update's failure.
    void oneOutcomeEverywhere_data() {
        OutcomeCases rows;
        const DcConfig empty = ProfileDc(700, 700);
        rows.Add("empty range, another DC's backup waits", empty, true, true, "succeeded,,none");
        rows.Add("the clock refused after the profile is back", WithFaults([](DcFaults& x) {
                     x.refusals = {{0x97, DcPhase::Command, 100}};
                 }),
                 false, true, "succeeded,,archived");
        rows.Add("leaving Deep Sleep refused after the profile is back", WithFaults([](DcFaults& x) {
                     x.refusals = {{0xA8, DcPhase::Command, 100}};
                 }),
                 false, false, "failed,leaving Deep Sleep,archived");
    }
    void oneOutcomeEverywhere() {
        const auto& [dc, otherWaits, succeeds, history] = OutcomeCases::Fetch();
        UpdateFixture f(dc);
        f.session.profile.Restored = !otherWaits;
        UpdateAttempt attempt;
        const bool ok = UpdateFirmware(*f.context, &attempt);
        QCOMPARE(ok, succeeds);
        QCOMPARE(f.view.rows.back().event, f.Text(ok ? Txt::UpdateSucceeded : Txt::UpdateRetryHint));
        QCOMPARE(
            QStringList({OutcomeName(attempt.outcome), attempt.failedStep, BackupFateName(attempt.backup)})
                .join(u','),
            history);
        QCOMPARE(f.session.profile.Restored, !otherWaits);  // the other backup is still offered at Close
    }

    // The backup's and the upload's eight blocks; halves round to even: 12.5% shows 12, 37.5% shows 38.
    void statusShowsEachPercentageBeforeItsBlock() {
        for (const int command : {0xB4, 0xB5}) {
            UpdateFixture f(ProfileDc(256, 319));
            command == 0xB4 ? BackupProfile(*f.context) : UploadCode(*f.context);
            QCOMPARE(f.StatusesAt(std::uint8_t(command), 4),
                     (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
        }
    }

    void secondImageClosesWithB9EvenAfterAFailedB8() {
        UpdateFixture f(WithFaults([](DcFaults& x) {
                            x.refusals = {{0xB8, DcPhase::Command, 100}};
                        }),
                        TestFirmware{.kind = TestKind::Code2Only});
        QVERIFY(!UploadCode2(*f.context));
        QCOMPARE(f.Count(0xB7, 4), 8);
        QCOMPARE(f.Count(0xB8, 4), 5);
        // B8's last refusal is waited for: it cannot pass for B9's, which goes out once.
        QCOMPARE(f.Count(0xB9, 4), 1);
        QCOMPARE(f.sim.Sent().back()[0], std::uint8_t(0xB9));
    }

    void restartWaitSendsNothing_data() {
        RestartWaitCases rows;
        rows.Add("12 s", 12.0, -1.0, 12.0, "11 of 12 s");
        rows.Add("0 s still passes once", 0.0, -1.0, 0.0, "0 of 0 s");
        rows.Add("Close ends it", 45.0, 3.0, 3.0, "2 of 45 s");
    }
    void restartWaitSendsNothing() {
        const auto& [seconds, closeAt, ends, lastShown] = RestartWaitCases::Fetch();
        UpdateFixture f;
        if (closeAt >= 0)
            f.sim.ScheduleAt(closeAt, [&] { f.stop.Ask(); });
        const int passes = f.sim.Pump().Passes();
        WaitForReset(*f.context, seconds);
        QVERIFY(f.clock.Now() >= ends && f.clock.Now() < ends + 0.01);
        QVERIFY(f.sim.Sent().empty() && f.sim.Pump().Passes() > passes);
        QCOMPARE(f.view.shown, lastShown);
    }

    void fileHoldsTheRange_data() {
        RangeCases rows;
        rows.Add("wrapped ring, 512", 512, int(Range), 2000, 1000, 476);
        rows.Add("wrapped ring, 1024", 1024, int(Range), 2000, 1000, 988);
        rows.Add("units 100..200: one block at 256", 512, int(Range), 100, 200, 1);
        rows.Add("1024: units 300..1000", 1024, int(Range), 300, 1000, 89);
        rows.Add("empty range: no backup", 512, int(Range), 700, 700, 0);
        rows.Add("512: byte addresses", 512, int(Pointers), 0x123, 0x567, 137);
        rows.Add("2048 decodes like 512", 2048, int(Pointers), 0x123, 0x567, 137);
        rows.Add("1024: unit numbers, 2186 blocks", 1024, int(Pointers), 0x1234, 0x5678, -1);
        rows.Add("this DC's backup: kept, DC not read", 512, int(OwnFile), 256, 1279, 128);
        rows.Add("other serial digits: replaced", 512, int(OtherFile), 256, 1279, 128);
        rows.Add("empty range: replaced", 512, int(EmptyFile), 256, 1279, 128);
    }
    void fileHoldsTheRange() {
        const auto& [memory, before, start, end, blocks] = RangeCases::Fetch();
        DcConfig dc = before == Pointers ? DcConfig{} : ProfileDc(start, end);
        dc.memoryCode = memory;
        UpdateFixture f(dc, TestFirmware{.memory = std::uint16_t(memory)});
        const auto& m = f.sim.Device().Memory();
        if (before == Pointers) {  // written into the DC's block 0 the way a record reaches it
            DeviceLink::RecordFrame record{};
            std::copy(m.begin() + 64, m.begin() + 80, record.begin());
            std::ranges::copy(std::array<std::uint8_t, 4>{0x34, 0x12, 0x78, 0x56}, record.begin() + 8);
            record[16] = std::uint8_t(std::accumulate(record.begin(), record.begin() + 16, 0) % 256);
            f.link.WriteRecord(4, record);
            f.sim.Serial().ClearRecord();
        }
        const DcConfig earlierDc =
            ProfileDc(256, before == EmptyFile ? 256 : end, 7, before == OtherFile ? 123456 : 210417);
        const QByteArray earlier =
            before < OwnFile ? QByteArray() : ExpectedBackupFile(DcModel(earlierDc).Memory(), 512);
        if (before >= OwnFile)
            f.PlaceFile(earlier);

        QCOMPARE(BackupProfile(*f.context), blocks >= 0);
        if (before == Pointers) {
            QCOMPARE(f.session.profile.ProfileStart, start);
            QCOMPARE(f.session.profile.ProfileEnd, end);
        }
        QCOMPARE(f.session.profile.ProfileBackupActive, blocks != 0);  // a refusal leaves it to the update
        QCOMPARE(f.Count(0xB4, 4), 1 + (before == OwnFile ? 0 : std::max(blocks, 0)));
        QCOMPARE(f.resets, blocks < 0 ? 1 : 0);
        if (blocks > 0) {
            const QByteArray expected = before == OwnFile ? earlier : ExpectedBackupFile(m, memory);
            QVERIFY(FileBytes(f.BackupPath()) == expected);
            QCOMPARE(int(f.session.profile.ProfileBlockCount), blocks);
            QVERIFY(EncodeBackup(f.session.profile) == expected);  // the tables the restore will write
        } else {
            QVERIFY(QDir(f.appDir.path()).entryList({"*.bin"}).isEmpty());
        }
    }

    // A power cut of the PC right after the backup is done keeps it: the data is synced before the rename
    // and the folder after it. Seen in the system calls of one write.
    void syncedAroundTheRename() {
        QTemporaryDir dir;
        const QString path = dir.filePath("513.210417.bin"), log = dir.filePath("calls");
        QProcess strace;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS",
                   env.value("ASAN_OPTIONS") + ":detect_leaks=0");  // no leak check under ptrace
        strace.setProcessEnvironment(env);
        strace.start("strace", {"-f", "-y", "-e", "trace=fsync,rename,renameat,renameat2,link,linkat", "-o",
                                log, KAV_BACKUP_WRITER, path});
        if (!strace.waitForFinished(20000) || strace.exitCode() != 0)
            QSKIP("strace cannot trace here");
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString calls = QString::fromUtf8(file.readAll()),
                      folder = QRegularExpression::escape(dir.path());
        const auto at = [&](const QString& pattern) { return calls.indexOf(QRegularExpression(pattern)); };
        const qsizetype named = at("(rename|link)\\w*\\(.*\"" + QRegularExpression::escape(path) + "\"");
        const qsizetype synced = at("fsync\\(\\d+<" + folder + "/.*\\) = 0");
        QVERIFY2(synced >= 0 && synced < named, qPrintable(calls));
        QVERIFY2(calls.indexOf(QRegularExpression("fsync\\(\\d+<" + folder + ">\\) = 0"), named) > named,
                 qPrintable(calls));
    }

    // A damaged or unwritable file, a read-only folder, a full disk or a read that gets no answer: the update
    // stops, the file stays as it was.
    void failedBackupWritesNothing_data() {
        BackupTroubleCases rows;
        const QByteArray own = ExpectedBackupFile(DcModel(DcConfig{}).Memory(), 512),
                         other = ExpectedBackupFile(DcModel(ProfileDc(256, 1279, 1, 123456)).Memory(), 512),
                         emptyRange = ExpectedBackupFile(DcModel(ProfileDc(256, 256)).Memory(), 512);
        QByteArray cell = own;
        cell[35 + 2 * (1024 * 5 + 3)] = 1;  // row 3, column 5: above 255, no byte
        rows.Add("too short", own.left(1000), int(Damaged), 1);
        rows.Add("a byte cell above 255", cell, int(Damaged), 1);
        rows.Add("a folder where the file belongs", QByteArray(), int(FolderInTheWay), 129);
        // An earlier backup of this DC that a fresh one would replace.
        rows.Add("a read-only folder", emptyRange, int(ReadOnlyFolder), 129);
        rows.Add("a full disk", emptyRange, int(FullDisk), 129);
        // Five tries of the read that goes unanswered, after block 0 and the blocks before it.
        rows.Add("block 0 unread, another DC's file stays", other, int(Block0Silent), 5);
        rows.Add("the eighth block unread", QByteArray(), int(Block8Silent), 1 + 7 + 5);
    }
    void failedBackupWritesNothing() {
        const auto& [placed, trouble, reads] = BackupTroubleCases::Fetch();
        UpdateFixture f(WithFaults([trouble = trouble](DcFaults& x) {
            if (trouble == Block0Silent || trouble == Block8Silent)  // frames after the identification
                x.silenceStartFrame = trouble == Block8Silent ? 10 : 2, x.silenceFrameCount = 5;
        }));
        if (!placed.isEmpty())
            f.PlaceFile(placed);
        if (trouble == FolderInTheWay)
            QVERIFY(QDir().mkdir(f.BackupPath()));

        {
            DiskTrouble disk(trouble, f.appDir.path());
            QVERIFY(!UpdateFirmware(*f.context));
        }
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB7, 4) + f.Count(0xB2, 4) + f.sim.Device().Installs(), 0);
        QCOMPARE(f.Count(0xB4, 4), reads);
        QCOMPARE(FileBytes(f.BackupPath()), placed);
        QVERIFY(f.session.profile.Restored);  // nothing was written: nothing to recover
        const QStringList shown = Shown(f);
        QVERIFY(shown.contains("2|" + f.Text(Txt::BackupFailed) + '|'));
        if (trouble <= FullDisk) {  // the user is told which file, and which folder needs what
            const Txt told = trouble == Damaged ? Txt::BackupFileDamaged : Txt::BackupFileNotWritten;
            QVERIFY(!shown.filter("2|" + f.Text(told).section("%1", 0, 0) + "%1").isEmpty());
            const QString hint = f.Text(Txt::BackupFolderHint).arg(f.appDir.path()).arg(kBackupFileSize);
            QCOMPARE(shown.contains("1|" + hint + '|'), trouble != Damaged);
            QCOMPARE(QDir(f.appDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(),
                     placed.isEmpty() && trouble == Damaged ? 1 : 2);  // no half-written file left behind
        }
    }

    void outcomes_data() {
        RestoreCases rows;
        QList<int> retried(16);  // stored addresses 3056, 3064, 3072, 3080: the third and fourth as records
        std::iota(retried.begin(), retried.end(), 3072);
        using L = QList<int>;
        rows.Add("confirmed", int(None), -1, 256, 0, L{4}, L{0}, 4);
        rows.Add("records read as absolute units: read back differs", int(None), 3072, 3312, 790, retried,
                 L{3328}, 2);
        rows.Add("records read as relative units: read back, confirmed", int(Relative), 3072, 3312, 0,
                 retried + L{4}, L{3328, 3336, 0}, 4);
        rows.Add("a record refused: the rest still sent, then failed", int(RecordRefused), 3072, 3312, 790,
                 retried, L{}, 2);
        rows.Add("block at 3088 not retried", int(None), 3088, 3320, 790, L{}, L{}, 3);
        rows.Add("header differs after its write was refused", int(HeaderRefused), -1, 256, 816, L{4}, L{0},
                 4);
        rows.Add("stale header read-back", int(ReadBackSilent), -1, 256, 816, L{4}, L{0, 0, 0, 0, 0}, 4);
        rows.Add("no blocks, header checked", int(NoBlocks), -1, 256, 0, L{4}, L{0}, 0);
        rows.Add("wrong check byte: refused", int(WrongCheck), -1, 256, 790, L{}, L{}, 1);
        rows.Add("DC awake on its PC screen: taken", int(Awake), -1, 256, 0, L{4}, L{0}, 4);
    }
    void outcomes() {
        const auto& [fault, refused, start, failure, records, reads, placed] = RestoreCases::Fetch();
        DcConfig dc = ProfileDc(start, start + 31);
        dc.relativeRecords = fault == Relative || fault == RecordRefused;
        if (refused >= 0)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 4, refused});
        if (fault == HeaderRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Data, 100, 4});
        if (fault == RecordRefused)
            dc.faults.refusals.push_back({0xB2, DcPhase::Command, 1, 3077});
        // Block 0 for the file, four blocks of two frames, the header's two; then all five reads are lost.
        if (fault == ReadBackSilent)
            dc.faults.silenceStartFrame = 1 + 8 + 2 + 1, dc.faults.silenceFrameCount = 5;
        UpdateFixture f(dc);
        const auto saved = DcModel(ProfileDc(start, start + 31, 7)).Memory();  // other dives
        f.PlaceFile(ExpectedBackupFile(saved, 512));
        QCOMPARE(GetBackupProfile(*f.context), BackupLookup::Usable);
        auto& header = f.session.profile.ProfileHeader;
        // The buffer still holds the DC's block 0: it must not pass for the answer to the read-back. A DC
        // that reads records as relative units puts the header record at unit 260: block 0 keeps the DC's
        // header.
        if (fault == ReadBackSilent || fault == Relative) {
            const auto& m = f.sim.Device().Memory();
            std::copy(m.begin() + 64, m.begin() + 80, header.begin());
            header[16] = std::uint8_t(std::accumulate(m.begin() + 64, m.begin() + 80, 0));
        }
        if (fault == HeaderRefused) {  // a saved header other than the DC's, with its sum
            header[10] = std::uint8_t(header[10] + 16);
            header[16] = std::uint8_t(header[16] + 16);
        }
        if (fault == NoBlocks)
            f.session.profile.ProfileBlockCount = 0;
        if (fault == WrongCheck)
            f.session.profile.ProfileBlocks[1][129] ^= 1;
        if (fault == Awake) {
            QVERIFY(f.link.LeaveDeepSleep());
        }
        Frame record(header.begin(), header.end());
        record.push_back(0x00);

        const bool confirmed = RestoreProfile(*f.context);
        const auto& rows = f.view.rows;
        QCOMPARE(rows.size(), std::size_t(failure ? 2 : 1));
        QCOMPARE(rows.front().event + rows.front().status,
                 f.Text(Txt::RestoringProfile) + f.Text(failure ? Txt::Error : Txt::Done));
        QCOMPARE(rows.back().event, f.Text(failure ? Txt(failure) : Txt::RestoringProfile));
        QCOMPARE(f.session.profile.Restored, failure == 0);
        QCOMPARE(QFile::exists(f.BackupPath()), failure != 0);
        QCOMPARE(f.resets, failure ? 1 : 0);
        QCOMPARE(Addresses(f, 0xB2), records);
        QCOMPARE(Addresses(f, 0xB4).mid(1), reads);
        const auto& sent = f.sim.Sent();  // the clock is set last, after any ResetStage
        QCOMPARE(sent[sent.size() - 2], (Frame{0x97, 0x00}));
        QCOMPARE(int(f.sim.Device().DeviceClock().value_or(DcClockRecord{}).value), 233);
        QVERIFY(f.resetAt.empty() || f.resetAt.back() <= sent.size() - 2);
        const auto at = std::find(sent.begin(), sent.end(), Frame{0xB2, 0x00, 0x04, 0x00});
        if (records.contains(4)) {  // the header record, judged by a read of block 0 after it
            QCOMPARE(*(at + 1), record);
            QVERIFY(std::find(at, sent.end(), Frame{0xB4, 0x00, 0x00, 0x00}) != sent.end());
        }
        if (fault == Relative)  // the read-back goes between the last record and the header record
            QVERIFY(std::find(sent.begin(), sent.end(), Frame{0xB2, 0x0C, 0x0F, 0x00}) <
                        std::find(sent.begin(), sent.end(), Frame{0xB4, 0x0D, 0x00, 0x00}) &&
                    std::find(sent.begin(), sent.end(), Frame{0xB4, 0x0D, 0x08, 0x00}) < at);
        if (start == 256 && failure != 790)  // the blocks go from address 0
            QCOMPARE(Addresses(f, 0xB5), (fault == NoBlocks ? QList<int>{} : QList<int>{0, 8, 16, 24}));

        // Blocks go back where they were read.
        const int first = start / 8 * 8;
        QVERIFY(Units(f.sim.Device().Memory(), first, first + placed * 8 - 1) ==
                Units(saved, first, first + placed * 8 - 1));
        QCOMPARE(confirmed, failure == 0);
    }

    // The recovery at Close after an interrupted update, driven by the answers to its boxes.
    void recoveryAnswers_data() {
        RecoveryCases rows;
        const DcConfig dc = ProfileDc(256, 287), other = ProfileDc(256, 287, 1, 123456);
        DcConfig refusing = dc, unreadable = dc;
        refusing.faults.refusals = {{0xB5, DcPhase::Data, 4}};
        // The DC answers, then its block 0 read goes unanswered.
        unreadable.faults.silenceStartFrame = 2, unreadable.faults.silenceFrameCount = 5;
        using A = QList<BoxAnswer>;
        using P = std::vector<int>;
        const int high = PriorityHigh, normal = PriorityNormal;
        const QString none, restored = "0|{796}|{777}";
        rows.Add("No: file deleted, DC not addressed", dc, A{BoxAnswer::No}, none, P{});
        rows.Add("question closed: file kept", dc, A{BoxAnswer::None}, "1|{910}|", P{});
        rows.Add("instructions closed: file kept, said so", dc, A{BoxAnswer::Yes, BoxAnswer::None},
                 "1|{910}|", P{});
        rows.Add("Yes, OK, OK with no DC, then Cancel", SilentDc(),
                 A{BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Cancel}, none,
                 P{high, normal, high, normal});
        rows.Add("OK with another DC that has a file", other, A{BoxAnswer::Yes, BoxAnswer::Ok}, none,
                 P{high});
        rows.Add("restored at once", dc, A{BoxAnswer::Yes, BoxAnswer::Ok}, restored, P{high});
        rows.Add("restore fails once, then succeeds", refusing,
                 A{BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::Ok}, "0|{796}|{280};2|{790}|;" + restored,
                 P{high, normal, high});
        rows.Add("block 0 unreadable at first", unreadable, A{BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::Ok},
                 restored, P{high, normal, high});
    }
    void recoveryAnswers() {
        const auto& [dc, answers, rows, priorities] = RecoveryCases::Fetch();
        UpdateFixture f(dc);
        const auto saved = Interrupt(f, answers);
        const QString otherPath = f.appDir.filePath("513.123456.bin");
        if (dc.serialNumber != 210417)
            f.PlaceFile(ExpectedBackupFile(DcModel(ProfileDc(256, 256, 1, 123456)).Memory(), 512), otherPath);
        const auto before = f.sim.Device().Memory();

        ProfileRecovering(*f.context);
        QCOMPARE(f.view.boxes.size(), std::size_t(answers.size()));  // every answer used, no box more
        const auto t = [&](Txt id) { return f.Text(id); };
        const auto step = [&](int n, Txt id) { return QString::number(n) + ". " + t(id) + "\r\n"; };
        const QString instructions = step(1, Txt::RecoverStepPlugCable) + step(2, Txt::RecoverStepWatchMode) +
                                     step(3, Txt::RecoverStepClipCable) + t(Txt::RecoverLinePcScreen) +
                                     "\r\n" + t(Txt::RecoverLineNoPcScreen) + "\r\n" +
                                     t(Txt::RecoverLineClipAgain) + "\r\n\r\n" +
                                     step(4, Txt::RecoverStepKeepClipped) + step(5, Txt::RecoverStepOk) +
                                     step(6, Txt::RecoverStepCancel);
        // The question (Yes/No), then OK/Cancel over the same steps 1 to 6 on every pass.
        for (std::size_t i = 0; i < f.view.boxes.size(); ++i) {
            QCOMPARE(f.view.boxes[i].title + f.view.boxes[i].text,
                     t(Txt::ProfileRecovery) + (i ? instructions : t(Txt::RecoveryQuestion)));
            QCOMPARE(f.view.boxes[i].style, i ? kBoxOkCancelInformation : kBoxYesNoWarning);
        }
        QCOMPARE(Shown(f), Expand(f, rows));
        const bool noAnswer = answers.back() == BoxAnswer::None;
        QCOMPARE(f.session.profile.Restored, answers.front() == BoxAnswer::Yes && !noAnswer);
        // Kept for DC 210417's next time, as it was.
        QCOMPARE(FileBytes(f.BackupPath()),
                 dc.serialNumber != 210417 || noAnswer ? ExpectedBackupFile(saved, 512) : QByteArray());
        QVERIFY(!QFile::exists(otherPath));
        // Only a confirmed restore keeps the file, in the archive; No gives it up.
        const bool restored = rows.endsWith("0|{796}|{777}");
        QCOMPARE(ArchivedFiles(f.appDir.path(), "513.210417", kRestoredSuffix).size(), restored);
        const auto& now = f.sim.Device().Memory();
        QVERIFY(restored ? Units(now, 256, 287) == Units(saved, 256, 287) : now == before);
        QCOMPARE(f.priority.classes, priorities);
        if (answers.front() != BoxAnswer::Yes)
            QVERIFY(f.sim.Sent().empty());
        else
            Finished(f);
    }

    void recoveryKeepsADamagedFile() {
        UpdateFixture f(ProfileDc(256, 287));
        Interrupt(f, {BoxAnswer::Yes, BoxAnswer::Ok});
        f.PlaceFile(QByteArray(1000, '\0'));
        ProfileRecovering(*f.context);
        QCOMPARE(QFileInfo(f.BackupPath()).size(), 1000);
        QCOMPARE(f.Count(0xB5, 4) + f.Count(0xB2, 4), 0);
        QCOMPARE(f.view.rows.size(), std::size_t(1));
        QVERIFY(f.view.rows[0].icon == 2 && f.view.rows[0].event.contains(f.BackupPath()));
        QCOMPARE(f.view.boxes.size(), std::size_t(3));  // and a box says it: the task list may be hidden
        QCOMPARE(f.view.boxes[2].text, f.view.rows[0].event);
        Finished(f);
    }
};

QTEST_GUILESS_MAIN(TestUpdateRoad)
#include "test_update_road.moc"
