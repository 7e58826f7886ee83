// Every road of the update on the simulated DC: what is written, what the task list says, and that the
// profile survives.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "firmware/update_driver.h"

namespace {

using Frame = std::vector<std::uint8_t>;

QString Row(int icon, const QString& event, const QString& status = {}) {
    return QStringLiteral("%1|%2|%3").arg(icon).arg(event, status);
}

QStringList Rows(const UpdateFixture& f) {
    QStringList rows;
    for (const auto& r : f.view.rows)
        rows << Row(r.icon, r.event, r.status);
    return rows;
}

QString T(const UpdateFixture& f, int id) {
    return f.Text(Txt(id));
}

// A DC like the connected one but holding other dives: its backup is told apart from a fresh one by the data.
DcModel OtherDives(DcConfig dc) {
    dc.seed = 7;
    dc.faults = {};
    return DcModel(dc);
}

std::vector<std::uint8_t> Units(const std::vector<std::uint8_t>& memory, int first, int last) {
    return {memory.begin() + first * 16, memory.begin() + (last + 1) * 16};
}

void EndsAtNormalPriority(const UpdateFixture& f) {
    QVERIFY(f.resets > 0);
    QCOMPARE(f.priority.classes.front(), PriorityRealtime);
    QCOMPARE(f.priority.classes.back(), PriorityNormal);
}

void ClockSetToday(UpdateFixture& f) {
    const auto clock = f.sim.Device().DeviceClock();
    QVERIFY(clock.has_value());
    QCOMPARE(int(clock->value), 233);
    QCOMPARE(QDate(2000 + clock->year, clock->month, clock->day), f.clock.LocalNow().date());
}

enum Failure { UploadRefused, OlderVersionReported, NotRecognised };

}  // namespace

class UpdateDriverTest : public QObject {
    Q_OBJECT

private slots:
    void firstImageUpdateKeepsTheProfile() {
        UpdateFixture f;
        const auto before = f.sim.Device().Memory();
        QVERIFY(UpdateFirmware(*f.context));
        const QString done = T(f, 777);
        QCOMPARE(Rows(f), (QStringList{Row(0, T(f, 782), done), Row(1, "KAV 1F, firmware version: 1A"),
                                       Row(0, "Backup dive computer profile", done), Row(0, T(f, 787), done),
                                       Row(0, T(f, 803), done), Row(0, T(f, 792), done), Row(1, T(f, 794)),
                                       Row(0, T(f, 796), done), Row(1, T(f, 786))}));
        QCOMPARE(f.sim.Device().Installs(), 1);
        QCOMPARE(f.sim.Device().IdText(), std::string("KAV1F V1B 0512KB"));
        // The image blocks landed in the profile area; only the restore can have put the dives back.
        QVERIFY(f.sim.Device().Memory() == before);
        QVERIFY(!QFile::exists(f.BackupPath()));
        QVERIFY(f.session.wizard.ProfileRestored);
        QCOMPARE(f.Count(0xBA, 2), 0);  // no suffix in use: the sub-version is never asked for
        ClockSetToday(f);
        QCOMPARE(f.sim.Sent().back(), (Frame{0xA8, 0x99, 0x00}));
        EndsAtNormalPriority(f);
    }

    void alreadyCurrent_data() {
        QTest::addColumn<bool>("earlierBackup");
        QTest::newRow("earlier backup of this DC: written back") << true;
        QTest::newRow("no backup: nothing written") << false;
    }
    void alreadyCurrent() {
        QFETCH(bool, earlierBackup);
        DcConfig dc;
        dc.idText = "KAV1F V1B 0512KB";
        UpdateFixture f(dc);
        const auto before = f.sim.Device().Memory();
        const DcModel saved = OtherDives(dc);
        if (earlierBackup)
            f.PlaceBackup(ExpectedBackupFile(saved.Memory(), 512));

        QCOMPARE(UpdateFirmware(*f.context), earlierBackup);
        QStringList rows{Row(0, T(f, 782), T(f, 777)), Row(1, T(f, 785))};
        if (earlierBackup)
            rows << Row(0, T(f, 796), T(f, 777)) << Row(1, T(f, 786));
        QCOMPARE(Rows(f), rows);
        QCOMPARE(f.Count(0xB4, 4), earlierBackup ? 2 : 1);  // block 0, and the header read back
        QCOMPARE(f.Count(0xB5, 4), earlierBackup ? 128 : 0);
        QCOMPARE(f.sim.Device().Installs(), 0);
        const auto& now = f.sim.Device().Memory();
        QVERIFY(Units(now, 256, 1279) == Units(earlierBackup ? saved.Memory() : before, 256, 1279));
        QVERIFY(!QFile::exists(f.BackupPath()));
        QCOMPARE(f.session.profile.ProfileBackupActive, earlierBackup);
        QCOMPARE(f.sim.Sent().back(), (Frame{0xA8, 0x99, 0x00}));
        EndsAtNormalPriority(f);
    }

    void refusedBeforeWriting_data() {
        QTest::addColumn<QString>("idText");
        QTest::addColumn<int>("subVersion");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("minVersion");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("row");  // {name} stands for the model name, {N} for text N
        QTest::addColumn<bool>("leavesDeepSleep");
        const int code = int(TestKind::CodeOnly);
        QTest::newRow("version 19 sorts before 1A") << "KAV1F V19 0512KB" << 3 << code << "1A" << false << 2
                                                    << "{783} {name}, {781} 1A {784}" << true;
        QTest::newRow("second image, DC sub-version one higher")
            << "KAV1F V1A 0512KB" << 6 << int(TestKind::Code2Only) << "1A05" << false << 1 << "{785}" << true;
        QTest::newRow("wrong model") << "XYZ12 V1A 0512KB" << 3 << code << "1A" << false << 2
                                     << "{783} {name}!" << false;
        QTest::newRow("no DC") << "KAV1F V1A 0512KB" << 3 << code << "1A" << true << 2 << "{150}" << false;
    }
    void refusedBeforeWriting() {
        QFETCH(QString, idText);
        QFETCH(int, subVersion);
        QFETCH(int, kind);
        QFETCH(QString, minVersion);
        QFETCH(bool, silent);
        QFETCH(int, icon);
        QFETCH(QString, row);
        QFETCH(bool, leavesDeepSleep);
        DcConfig dc;
        dc.idText = idText.toStdString();
        dc.subVersion = std::uint8_t(subVersion);
        if (silent)
            dc.faults.silentFromFrame = 1;
        TestFirmware fw;
        fw.kind = TestKind(kind);
        fw.minVersion = minVersion.toStdString();
        UpdateFixture f(dc, fw);

        QVERIFY(!UpdateFirmware(*f.context));
        for (int id : {150, 781, 783, 784, 785})
            row.replace(QStringLiteral("{%1}").arg(id), T(f, id));
        row.replace(QStringLiteral("{name}"), QStringLiteral("KAV 1F"));
        QCOMPARE(Rows(f), (QStringList{Row(0, T(f, 782), T(f, silent ? 280 : 777)), Row(icon, row)}));
        for (int command : {0xB4, 0xB5, 0xB7, 0xB2})
            QCOMPARE(f.Count(std::uint8_t(command), 4), 0);
        QCOMPARE(f.Count(0xA8, 3) > 0, leavesDeepSleep);
        if (leavesDeepSleep)
            QCOMPARE(f.sim.Sent().back(), (Frame{0xA8, 0x99, 0x00}));
        // The leave command reports only itself; the refusals before it keep the flag.
        QCOMPARE(f.session.UpdateAborted, !leavesDeepSleep);
        QVERIFY(f.session.wizard.ProfileRestored);
        QVERIFY(!QFile::exists(f.BackupPath()));
        QCOMPARE(f.resets, 1);
        EndsAtNormalPriority(f);
    }

    void imagesWritten_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("idText");
        QTest::addColumn<int>("subVersion");
        QTest::addColumn<QString>("versionRow");
        QTest::addColumn<int>("firstImageBlocks");
        QTest::addColumn<int>("secondImageBlocks");
        QTest::newRow("second image, equal sub-versions: written again")
            << int(TestKind::Code2Only) << "KAV1F V1A 0512KB" << 5 << "KAV 1F, firmware version: 1A.05" << 0
            << 8;
        QTest::newRow("both images, newer DC version but lower sub-version")
            << int(TestKind::Both) << "KAV1F V1C 0512KB" << 3 << "KAV 1F, firmware version: 1C.03" << 8 << 8;
    }
    void imagesWritten() {
        QFETCH(int, kind);
        QFETCH(QString, idText);
        QFETCH(int, subVersion);
        QFETCH(QString, versionRow);
        QFETCH(int, firstImageBlocks);
        QFETCH(int, secondImageBlocks);
        DcConfig dc;
        dc.idText = idText.toStdString();
        dc.subVersion = std::uint8_t(subVersion);
        dc.subVersionAfterUpdate = 5;
        TestFirmware fw;
        fw.kind = TestKind(kind);
        fw.minVersion = "1A05";  // the suffix in use: the sub-version decides
        UpdateFixture f(dc, fw);
        const auto before = f.sim.Device().Memory();

        QVERIFY(UpdateFirmware(*f.context));
        QCOMPARE(f.view.rows[1].event, versionRow);
        QCOMPARE(f.view.rows.back().event, T(f, 786));
        QCOMPARE(f.Count(0xB5, 4), firstImageBlocks + 128);  // the image, then the profile
        QCOMPARE(f.Count(0xB7, 4), secondImageBlocks);
        QCOMPARE(f.sim.Device().Installs(), (firstImageBlocks > 0) + (secondImageBlocks > 0));
        QVERIFY(f.sim.Device().Memory() == before);
        EndsAtNormalPriority(f);
    }

    void secondIdentificationFails() {
        DcConfig dc;
        // Frames: identify, block 0, 128 profile blocks, 8 x (address, data), close, then the identification
        // after the restart wait: all 12 of its requests go unanswered.
        dc.faults.silenceStartFrame = 1 + 1 + 128 + 16 + 1 + 1;
        dc.faults.silenceFrameCount = 12;
        TestFirmware fw;
        fw.kind = TestKind::Both;
        UpdateFixture f(dc, fw);
        const auto before = f.sim.Device().Memory();

        QVERIFY(!UpdateFirmware(*f.context));
        QCOMPARE(f.sim.Sent()[146], (Frame{0xB6, std::uint8_t(f.session.firmware.CodeChecksum >> 8),
                                           std::uint8_t(f.session.firmware.CodeChecksum & 0xFF), 0x00}));
        QCOMPARE(f.sim.Sent()[147], (Frame{0x84, 0x00}));
        QCOMPARE(Rows(f).mid(4), (QStringList{Row(0, T(f, 803), T(f, 280)), Row(2, T(f, 150)),
                                              Row(2, T(f, 814)), Row(1, T(f, 815))}));
        QCOMPARE(f.Count(0xB7, 4), 0);
        QCOMPARE(f.Count(0xB2, 4), 0);  // no restore into a DC that did not come back
        QVERIFY(!f.session.wizard.ProfileRestored);
        QFile file(f.BackupPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == ExpectedBackupFile(before, 512));
        ClockSetToday(f);
        EndsAtNormalPriority(f);
    }

    void failureAfterTheBackup_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QStringList>("tail");  // the last rows: icon:event id:status id
        QTest::addColumn<bool>("restored");
        QTest::newRow("upload refused")
            << int(UploadRefused) << QStringList{"0:787:280", "2:790", "2:814", "1:815"} << false;
        QTest::newRow("older version reported")
            << int(OlderVersionReported) << QStringList{"0:792:777", "0:796:777", "2:814", "1:815"} << true;
        QTest::newRow("not recognised after the update")
            << int(NotRecognised) << QStringList{"0:792:777", "2:793", "2:814", "1:815"} << false;
    }
    void failureAfterTheBackup() {
        QFETCH(int, failure);
        QFETCH(QStringList, tail);
        QFETCH(bool, restored);
        DcConfig dc;
        if (failure == UploadRefused)
            dc.faults.refusals.push_back({0xB5, DcPhase::Data, 100});
        if (failure == OlderVersionReported)
            dc.versionAfterUpdate = "19";
        if (failure == NotRecognised)
            dc.idTextAfterUpdate = "XYZ12 V1B 0512KB";
        UpdateFixture f(dc);
        const auto before = f.sim.Device().Memory();

        QVERIFY(!UpdateFirmware(*f.context));
        QStringList expected;
        for (const QString& r : tail) {
            const int status = r.section(':', 2).toInt();
            expected << Row(r.section(':', 0, 0).toInt(), T(f, r.section(':', 1, 1).toInt()),
                            status ? T(f, status) : QString());
        }
        QCOMPARE(Rows(f).mid(Rows(f).size() - expected.size()), expected);
        QVERIFY(!Rows(f).join(' ').contains(T(f, 794)));
        QCOMPARE(f.session.wizard.ProfileRestored, restored);
        QCOMPARE(QFile::exists(f.BackupPath()), !restored);
        QCOMPARE(f.Count(0xB2, 4), restored ? 1 : 0);  // the header record of the restore
        if (restored)
            QVERIFY(f.sim.Device().Memory() == before);
        ClockSetToday(f);
        QCOMPARE(f.sim.Sent().back(), (Frame{0xA8, 0x99, 0x00}));
        EndsAtNormalPriority(f);
    }
};

QTEST_GUILESS_MAIN(UpdateDriverTest)
#include "test_update_driver.moc"
