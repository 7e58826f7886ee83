// Every road of the update on the simulated DC: what is written, what the task list says, and that the
// profile survives; then what the roads pass without showing.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "firmware/reset_verify.h"
#include "firmware/upload.h"
#include "update/update_driver.h"

// What happens to the DC's profile on the road: refused before a backup; already current with no earlier
// backup; already current, an earlier backup written back; backed up and written back, file deleted; backed
// up, not written back, the file left for the recovery.
enum Profile { Untouched, NoBackup, Earlier, Restored, Left };

Q_DECLARE_METATYPE(TestFirmware)
Q_DECLARE_METATYPE(DcConfig)
Q_DECLARE_METATYPE(Profile)

namespace {

// Task rows from "icon|event|status;..." with {N} for text N.
QStringList Expand(const UpdateFixture& f, QString rows) {
    static const QRegularExpression id(QStringLiteral("\\{(\\d+)\\}"));
    for (auto m = id.match(rows); m.hasMatch(); m = id.match(rows))
        rows.replace(m.captured(0), f.Text(Txt(m.captured(1).toInt())));
    return rows.split(';');
}

// A DC answering with this identification; with a second image it reports sub-version 5 after the update.
DcConfig Dc(const char* idText, std::uint8_t subVersion = 3) {
    DcConfig dc;
    dc.idText = idText, dc.subVersion = subVersion, dc.subVersionAfterUpdate = 5;
    return dc;
}

}  // namespace

class UpdateDriverTest : public QObject {
    Q_OBJECT

private slots:
    void roads_data() {
        QTest::addColumn<DcConfig>("dc");
        QTest::addColumn<TestFirmware>("fw");
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<QString>("rows");       // "icon|event|status;..." with {N} for text N
        QTest::addColumn<QList<int>>("frames");  // B4, B5, B7, B2 sent, then installs
        const TestFirmware fw, code2{.kind = TestKind::Code2Only, .minVersion = "1A05"},
            both{.kind = TestKind::Both, .minVersion = "1A05"};
        const DcConfig v1a = Dc("KAV1F V1A 0512KB"), v1b = Dc("KAV1F V1B 0512KB");
        DcConfig silent = v1a, lost = v1a, refusing = v1a, older = v1a, otherModel = v1a;
        silent.faults.silentFromFrame = 1;
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

        QTest::newRow("first image") << v1a << fw << Restored << code1 + verified << N{130, 136, 0, 1, 1};
        QTest::newRow("model id beyond ASCII, read alike from DC and file")
            << Dc("KAV\x8A\x80 V1A 0512KB") << TestFirmware{.modelId = "KAV\x8A\x80"} << Restored
            << code1 + verified << N{130, 136, 0, 1, 1};
        QTest::newRow("already current, earlier backup")
            << v1b << fw << Earlier << current + ";0|{796}|{777};1|{786}|" << N{2, 128, 0, 1, 0};
        QTest::newRow("already current, no backup") << v1b << fw << NoBackup << current << N{1, 0, 0, 0, 0};
        QTest::newRow("version 19 sorts before 1A")
            << Dc("KAV1F V19 0512KB") << fw << Untouched << id + "2|{783} KAV 1F, {781} 1A {784}|" << none;
        QTest::newRow("second image, DC sub-version higher")
            << Dc("KAV1F V1A 0512KB", 6) << code2 << Untouched << current << none;
        QTest::newRow("second image, equal sub-versions: written again")
            << Dc("KAV1F V1A 0512KB", 5) << code2 << Restored
            << version + "1A.05|;" + saving + "0|{787}|{777};" + verified << N{130, 128, 8, 1, 1};
        QTest::newRow("both images, DC 1C.03")
            << Dc("KAV1F V1C 0512KB") << both << Restored
            << version + "1C.03|;" + saving + "0|{788}|{777};0|{803}|{777};0|{789}|{777};" + verified
            << N{130, 136, 8, 1, 2};
        QTest::newRow("no DC after the restart")
            << lost << TestFirmware{.kind = TestKind::Both} << Left
            << backup + "0|{788}|{777};0|{803}|{280};2|{150}|;" + failed << N{129, 8, 0, 0, 1};
        QTest::newRow("upload refused")
            << refusing << fw << Left << backup + "0|{787}|{280};2|{790}|;" + failed << N{129, 4, 0, 0, 0};
        QTest::newRow("older version after the update")
            << older << fw << Restored << code1 + restart + "0|{796}|{777};" + failed << N{130, 136, 0, 1, 1};
        QTest::newRow("another model after the update")
            << otherModel << fw << Left << code1 + restart + "2|{793}|;" + failed << N{129, 8, 0, 0, 1};
        QTest::newRow("wrong model") << Dc("XYZ12 V1A 0512KB") << fw << Untouched << id + "2|{783} KAV 1F!|"
                                     << none;
        QTest::newRow("no DC") << silent << fw << Untouched << "0|{782}|{280};2|{150}|" << none;
    }
    void roads() {
        QFETCH(DcConfig, dc);
        QFETCH(TestFirmware, fw);
        QFETCH(Profile, profile);
        QFETCH(QString, rows);
        QFETCH(QList<int>, frames);
        // A DC recognised as this model is told to leave Deep Sleep; the command reports only itself.
        // A DC whose profile is left for the recovery stays in Deep Sleep, where the recovery can write.
        const bool leavesDeepSleep =
            !rows.contains("{783} KAV 1F!") && !rows.startsWith("0|{782}|{280}") && profile != Left;
        UpdateFixture f(dc, fw);
        const auto before = f.sim.Device().Memory();
        dc.seed = 7;  // the same DC holding other dives
        const auto saved = DcModel(dc).Memory();
        if (profile == Earlier)
            f.PlaceFile(ExpectedBackupFile(saved, 512));

        const bool ok = UpdateFirmware(*f.context);
        QStringList shown;
        for (const auto& r : f.view.rows)
            shown << QStringLiteral("%1|%2|%3").arg(r.icon).arg(r.event, r.status);
        QCOMPARE(shown, Expand(f, rows));
        const QStringList outcome = Expand(f, "1|{786}|;1|{815}|");  // succeeded, not completed
        QCOMPARE(ok, shown.back() == outcome[0]);
        // Every road to an outcome sets the clock, but a DC out of Deep Sleep (another model) refuses it.
        const bool finished = outcome.contains(shown.back()) && !rows.contains("{793}");

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
        QCOMPARE(FileBytes(f.BackupPath()), profile == Left ? ExpectedBackupFile(before, 512) : QByteArray());
        QCOMPARE(f.session.wizard.ProfileRestored, profile != Left);
        QCOMPARE(f.session.profile.ProfileBackupActive, profile != NoBackup);

        const auto clock = f.sim.Device().DeviceClock();
        QCOMPARE(clock ? QDate(2000 + clock->year, clock->month, clock->day) : QDate(),
                 finished ? f.clock.LocalNow().date() : QDate());
        QCOMPARE(f.sim.Sent().back() == (std::vector<std::uint8_t>{0xA8, 0x99, 0x00}), leavesDeepSleep);
        QCOMPARE(f.session.UpdateAborted, !leavesDeepSleep);
        QCOMPARE(f.priority.classes.front(), PriorityRealtime);
        QCOMPARE(f.priority.classes.back(), PriorityNormal);
    }
    void emptyImageIsStillClosed() {
        UpdateFixture f({}, TestFirmware{.blocks = 0});
        UploadCode(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(f.sim.Sent(), (std::vector<std::vector<std::uint8_t>>{{0xB6, 0x00, 0x00, 0x00}}));
        QCOMPARE(f.sim.Device().Installs(), 1);
    }

    void statusShowsEachPercentageBeforeItsBlock() {
        UpdateFixture f;
        UploadCode(*f.context);
        QCOMPARE(f.StatusesAt(0xB5, 4),
                 (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
    }

    void secondImageClosesWithB9EvenAfterAFailedB8() {
        UpdateFixture f(WithFaults([](DcFaults& x) {
                            x.refusals = {{0xB8, DcPhase::Command, 100}};
                        }),
                        TestFirmware{.kind = TestKind::Code2Only});
        UploadCode2(*f.context);
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(f.Count(0xB7, 4), 8);
        QCOMPARE(f.Count(0xB8, 4), 5);
        // The last refusal arrives after B9 went out and is taken for B9's: B9 goes out again at once.
        QCOMPARE(f.sim.Sent().back()[0], std::uint8_t(0xB9));
    }

    void restartWaitSendsNothing_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("closeAt");  // negative: never
        QTest::addColumn<double>("ends");
        QTest::addColumn<QString>("lastShown");  // the seconds, counted as they go by
        QTest::newRow("12 s") << 12.0 << -1.0 << 12.0 << "11 of 12 s";
        QTest::newRow("0 s still passes once") << 0.0 << -1.0 << 0.0 << "0 of 0 s";
        QTest::newRow("Close ends it") << 45.0 << 3.0 << 3.0 << "2 of 45 s";
    }
    void restartWaitSendsNothing() {
        QFETCH(double, seconds);
        QFETCH(double, closeAt);
        QFETCH(double, ends);
        UpdateFixture f;
        if (closeAt >= 0)
            f.sim.ScheduleAt(closeAt, [&] { f.session.link.LinkStop = f.session.link.LinkError = true; });
        const int passes = f.sim.Pump().Passes();
        WaitForReset(*f.context, seconds);
        QVERIFY(f.clock.Now() >= ends && f.clock.Now() < ends + 0.01);
        QVERIFY(f.sim.Sent().empty() && f.sim.Pump().Passes() > passes);
        QTEST(f.view.shown, "lastShown");
    }
};

QTEST_GUILESS_MAIN(UpdateDriverTest)
#include "test_update_driver.moc"
