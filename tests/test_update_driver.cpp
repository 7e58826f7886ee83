// Every road of the update on the simulated DC: what is written, what the task list says, and that the
// profile survives.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "firmware/update_driver.h"

Q_DECLARE_METATYPE(TestFirmware)

namespace {

using Frame = std::vector<std::uint8_t>;

enum Fault { None, NoDc, IdentificationLost, UploadRefused, OlderAfterUpdate, OtherModelAfterUpdate };

// What happens to the DC's profile on the road.
enum Profile {
    Untouched,  // refused before a backup
    NoBackup,   // already current, no earlier backup: nothing to write back
    Earlier,    // already current: an earlier backup of this DC is written back
    Restored,   // backed up, written back, file deleted
    Left,       // backed up, not written back: the file stays for the recovery
};

// Task rows from "icon|event|status;..." with {N} for text N.
QStringList Expand(const UpdateFixture& f, const QString& rows) {
    static const QRegularExpression id(QStringLiteral("\\{(\\d+)\\}"));
    QStringList out = rows.split(';');
    for (QString& row : out) {
        for (auto m = id.match(row); m.hasMatch(); m = id.match(row))
            row.replace(m.captured(0), f.Text(Txt(m.captured(1).toInt())));
    }
    return out;
}

}  // namespace

class UpdateDriverTest : public QObject {
    Q_OBJECT

private slots:
    void roads_data() {
        QTest::addColumn<QString>("idText");
        QTest::addColumn<int>("subVersion");
        QTest::addColumn<int>("fault");
        QTest::addColumn<TestFirmware>("fw");
        QTest::addColumn<int>("profile");
        QTest::addColumn<QString>("rows");       // "icon|event|status;..." with {N} for text N
        QTest::addColumn<QList<int>>("frames");  // B4, B5, B7, B2 sent (-1: not counted), then installs
        QTest::addColumn<bool>("leavesDeepSleep");
        const TestFirmware fw, code2{.kind = TestKind::Code2Only, .minVersion = "1A05"},
            both{.kind = TestKind::Both, .minVersion = "1A05"};
        const QString v1a = "KAV1F V1A 0512KB", v1b = "KAV1F V1B 0512KB";
        const QString id = "0|{782}|{777};", saving = "0|Backup dive computer profile|{777};";
        const QString backup = id + "1|KAV 1F, firmware version: 1A|;" + saving;
        const QString verified = "0|{803}|{777};0|{792}|{777};1|{794}|;0|{796}|{777};1|{786}|";
        const QString failed = "2|{814}|;1|{815}|";
        const QList<int> none{0, 0, 0, 0, 0};

        QTest::newRow("first image") << v1a << 3 << int(None) << fw << int(Restored)
                                     << backup + "0|{787}|{777};" + verified << QList<int>{130, 136, 0, 1, 1}
                                     << true;
        QTest::newRow("already current, earlier backup")
            << v1b << 3 << int(None) << fw << int(Earlier) << id + "1|{785}|;0|{796}|{777};1|{786}|"
            << QList<int>{2, 128, 0, 1, 0} << true;
        QTest::newRow("already current, no backup") << v1b << 3 << int(None) << fw << int(NoBackup)
                                                    << id + "1|{785}|" << QList<int>{1, 0, 0, 0, 0} << true;
        QTest::newRow("version 19 sorts before 1A")
            << "KAV1F V19 0512KB" << 3 << int(None) << fw << int(Untouched)
            << id + "2|{783} KAV 1F, {781} 1A {784}|" << none << true;
        QTest::newRow("second image, DC sub-version higher")
            << v1a << 6 << int(None) << code2 << int(Untouched) << id + "1|{785}|" << none << true;
        QTest::newRow("second image, equal sub-versions: written again")
            << v1a << 5 << int(None) << code2 << int(Restored)
            << id + "1|KAV 1F, firmware version: 1A.05|;" + saving + "0|{787}|{777};" + verified
            << QList<int>{130, 128, 8, 1, 1} << true;
        QTest::newRow("both images, newer DC version, lower sub-version")
            << "KAV1F V1C 0512KB" << 3 << int(None) << both << int(Restored)
            << id + "1|KAV 1F, firmware version: 1C.03|;" + saving +
                   "0|{788}|{777};0|{803}|{777};0|{789}|{777};" + verified
            << QList<int>{130, 136, 8, 1, 2} << true;
        QTest::newRow("second identification fails after the backup")
            << v1a << 3 << int(IdentificationLost) << TestFirmware{.kind = TestKind::Both} << int(Left)
            << backup + "0|{788}|{777};0|{803}|{280};2|{150}|;" + failed << QList<int>{129, 8, 0, 0, 1}
            << true;
        QTest::newRow("upload refused: clock still set")
            << v1a << 3 << int(UploadRefused) << fw << int(Left)
            << backup + "0|{787}|{280};2|{790}|;" + failed << QList<int>{129, -1, 0, 0, 0} << true;
        QTest::newRow("older version after the update: no confirmation")
            << v1a << 3 << int(OlderAfterUpdate) << fw << int(Restored)
            << backup + "0|{787}|{777};0|{803}|{777};0|{792}|{777};0|{796}|{777};" + failed
            << QList<int>{130, 136, 0, 1, 1} << true;
        QTest::newRow("another model after the update")
            << v1a << 3 << int(OtherModelAfterUpdate) << fw << int(Left)
            << backup + "0|{787}|{777};0|{803}|{777};0|{792}|{777};2|{793}|;" + failed
            << QList<int>{129, 8, 0, 0, 1} << true;
        QTest::newRow("wrong model") << "XYZ12 V1A 0512KB" << 3 << int(None) << fw << int(Untouched)
                                     << id + "2|{783} KAV 1F!|" << none << false;
        QTest::newRow("no DC") << v1a << 3 << int(NoDc) << fw << int(Untouched) << "0|{782}|{280};2|{150}|"
                               << none << false;
    }
    void roads() {
        QFETCH(QString, idText);
        QFETCH(int, subVersion);
        QFETCH(int, fault);
        QFETCH(TestFirmware, fw);
        QFETCH(int, profile);
        QFETCH(QString, rows);
        QFETCH(QList<int>, frames);
        QFETCH(bool, leavesDeepSleep);
        DcConfig dc;
        dc.idText = idText.toStdString();
        dc.subVersion = std::uint8_t(subVersion);
        dc.subVersionAfterUpdate = 5;  // as the files with a second image bring it
        if (fault == NoDc)
            dc.faults.silentFromFrame = 1;
        if (fault == IdentificationLost) {
            // Frames: identify, block 0, 128 profile blocks, 8 x (address, data), close; then the 12 requests
            // of the identification after the restart wait go unanswered.
            dc.faults.silenceStartFrame = 1 + 1 + 128 + 16 + 1 + 1;
            dc.faults.silenceFrameCount = 12;
        }
        if (fault == UploadRefused)
            dc.faults.refusals = {{0xB5, DcPhase::Data, 100}};
        if (fault == OlderAfterUpdate)
            dc.versionAfterUpdate = "19";
        if (fault == OtherModelAfterUpdate)
            dc.idTextAfterUpdate = "XYZ12 V1B 0512KB";
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
        const bool finished = outcome.contains(shown.back());  // every road to an outcome sets the clock

        QList<int> sent{f.Count(0xB4, 4), f.Count(0xB5, 4), f.Count(0xB7, 4), f.Count(0xB2, 4),
                        f.sim.Device().Installs()};
        for (int i = 0; i < sent.size(); ++i)
            sent[i] = frames[i] < 0 ? -1 : sent[i];
        QCOMPARE(sent, frames);
        // The sub-version is asked for only when the versions have a suffix.
        QCOMPARE(f.Count(0xBA, 2) > 0, fw.minVersion.size() > 2);

        const auto& now = f.sim.Device().Memory();
        if (profile == Earlier)
            QVERIFY(Units(now, 256, 1279) == Units(saved, 256, 1279));
        else if (profile != Left)
            QVERIFY(now == before);  // image blocks land in the profile area: only the restore puts it back
        QCOMPARE(FileBytes(f.BackupPath()), profile == Left ? ExpectedBackupFile(before, 512) : QByteArray());
        QCOMPARE(f.session.wizard.ProfileRestored, profile != Left);
        QCOMPARE(f.session.profile.ProfileBackupActive, profile != NoBackup);

        const auto clock = f.sim.Device().DeviceClock();
        QCOMPARE(clock.has_value(), finished);
        if (clock)
            QCOMPARE(QDate(2000 + clock->year, clock->month, clock->day), f.clock.LocalNow().date());
        QCOMPARE(f.Count(0xA8, 3) > 0, leavesDeepSleep);
        if (leavesDeepSleep)
            QCOMPARE(f.sim.Sent().back(), (Frame{0xA8, 0x99, 0x00}));
        QCOMPARE(f.session.UpdateAborted, !leavesDeepSleep);  // the leave command reports only itself
        QCOMPARE(f.priority.classes.front(), PriorityRealtime);
        QCOMPARE(f.priority.classes.back(), PriorityNormal);
        QVERIFY(f.resets > 0);
    }
};

QTEST_GUILESS_MAIN(UpdateDriverTest)
#include "test_update_driver.moc"
