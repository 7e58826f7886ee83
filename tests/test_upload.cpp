// Writing the code images, the restart wait and the verification, on the simulated DC.
#include <QtTest>

#include "fakes/link_fixture.h"
#include "fakes/update_fixture.h"
#include "firmware/reset_verify.h"
#include "firmware/upload.h"

namespace {

// Frames of a command: the address or value frames carry the command byte first.
int Frames(const UpdateFixture& f, std::uint8_t command) {
    int n = 0;
    for (const auto& frame : f.sim.Sent()) n += frame.size() == 4 && frame[0] == command;
    return n;
}

// Block data frames: 128 data bytes, the check byte and the trailing 0x00.
int DataFrames(const UpdateFixture& f) {
    int n = 0;
    for (const auto& frame : f.sim.Sent()) n += frame.size() == 130;
    return n;
}

QStringList Statuses(const RecordingView& view) {
    QStringList s;
    for (const auto& r : view.rows) s << r.status;
    return s;
}

}  // namespace

class UploadTest : public QObject {
    Q_OBJECT

private slots:
    void blocksThenClosingCommand_data() {
        QTest::addColumn<int>("blocks");
        QTest::newRow("zero blocks") << 0;
        QTest::newRow("eight blocks") << 8;
    }
    void blocksThenClosingCommand() {
        QFETCH(int, blocks);
        TestFirmware fw;
        fw.blocks = blocks;
        UpdateFixture f({}, fw);
        UploadCode(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(Frames(f, 0xB5), blocks);
        QCOMPARE(DataFrames(f), blocks);
        const auto sum = std::uint16_t(f.session.firmware.CodeChecksum);
        QCOMPARE(f.sim.Sent().back(), (Bytes{0xB6, std::uint8_t(sum >> 8), std::uint8_t(sum & 0xFF), 0x00}));
        QCOMPARE(f.tasks.Rows().back().status, f.Text(Txt::Done));
        QCOMPARE(f.tasks.Rows().back().event, f.Text(Txt::WritingFirmware));
        QCOMPARE(f.sim.Device().Installs(), 1);  // the DC agrees with the checksum
    }

    void statusShowsEachPercentageBeforeItsBlock() {
        UpdateFixture f;
        QStringList shown;
        QStringList atBlock;  // the status showing when each block's data reached the DC
        std::size_t frames = 0;
        // Poll between deliveries: every block's acknowledgement passes through the pump.
        for (int t = 1; t < 400; ++t) {
            f.sim.ScheduleAt(t * 0.002, [&] {
                if (f.sim.Sent().size() > frames) {
                    frames = f.sim.Sent().size();
                    if (f.sim.Sent().back().size() == 130) atBlock << f.tasks.Rows().back().status;
                }
            });
        }
        UploadCode(*f.context);
        QCOMPARE(atBlock, (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
    }

    void failedBlockStopsTheUpload() {
        DcConfig dc;
        dc.faults.silentFromFrame = 7;  // blocks 1..3 go through (address + data each), then nothing
        UpdateFixture f(dc);
        UploadCode(*f.context);
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(DataFrames(f), 3);       // block 4's address never got through ...
        QCOMPARE(Frames(f, 0xB5), 3 + 22);  // ... in 22 tries; blocks 5..8 were never tried
        QCOMPARE(Frames(f, 0xB6), 0);
        const auto& rows = f.tasks.Rows();
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0].status, f.Text(Txt::Error));
        QCOMPARE(rows[1].icon, int(IconFailure));
        QCOMPARE(rows[1].event, f.Text(Txt::WriteFailed));
        QCOMPARE(f.resets, 1);
    }

    void secondImageClosesWithB9EvenAfterAFailedB8() {
        DcConfig dc;
        dc.faults.refusals = {{0xB8, DcPhase::Command, 100}};
        TestFirmware fw;
        fw.kind = TestKind::Code2Only;
        UpdateFixture f(dc, fw);
        UploadCode2(*f.context);
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(DataFrames(f), 8);
        QCOMPARE(Frames(f, 0xB8), 5);
        // The last refusal arrives after B9 went out and is taken for B9's: B9 goes out again at once.
        QVERIFY(Frames(f, 0xB9) >= 1);
        QCOMPARE(f.sim.Sent().back()[0], std::uint8_t(0xB9));
        int failures = 0;
        for (const auto& r : f.tasks.Rows()) failures += r.icon == IconFailure;
        QCOMPARE(failures, 1);
        QCOMPARE(f.tasks.Rows()[0].event, f.Text(Txt::WritingFirmware));
    }

    void bothImagesNameTheirParts() {
        TestFirmware fw;
        fw.kind = TestKind::Both;
        DcConfig dc;
        dc.restartSeconds = 0;
        UpdateFixture f(dc, fw);
        UploadCode(*f.context);
        UploadCode2(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(f.Events(), (QStringList{f.Text(Txt::WritingFirmwarePart1), f.Text(Txt::WritingFirmwarePart2)}));
        QCOMPARE(Statuses(f.view), (QStringList{f.Text(Txt::Done), f.Text(Txt::Done)}));
        QCOMPARE(f.sim.Device().SecondImageParameter().value_or(0), std::uint16_t(0x0102));
    }

    void restartWaitSendsNothing_data() {
        QTest::addColumn<double>("seconds");
        QTest::newRow("12 s") << 12.0;
        QTest::newRow("0 s still passes once") << 0.0;
    }
    void restartWaitSendsNothing() {
        QFETCH(double, seconds);
        UpdateFixture f;
        const int passes = f.sim.Pump().Passes();
        WaitForReset(*f.context, seconds);
        QVERIFY(f.clock.Now() > seconds);
        QVERIFY(f.clock.Now() < seconds + 0.01);
        QVERIFY(f.sim.Sent().empty());
        QVERIFY(f.sim.Pump().Passes() > passes);
        QCOMPARE(f.tasks.Rows().back().status, f.Text(Txt::Done));
    }

    void closeEndsTheRestartWait() {
        UpdateFixture f;
        f.sim.ScheduleAt(3.0, [&] { f.session.link.LinkStop = f.session.link.LinkError = true; });
        WaitForReset(*f.context, 45.0);
        QVERIFY(f.clock.Now() < 3.1);
    }

    void verification_data() {
        QTest::addColumn<QString>("idAfter");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<bool>("aborted");
        QTest::newRow("new version") << "KAV1F V1B 0512KB" << true << false;
        QTest::newRow("newer still") << "KAV1F V1C 0512KB" << true << false;
        QTest::newRow("older version") << "KAV1F V19 0512KB" << false << false;
        QTest::newRow("another model") << "XYZ12 V1B 0512KB" << false << true;
    }
    void verification() {
        QFETCH(QString, idAfter);
        QFETCH(bool, confirmed);
        QFETCH(bool, aborted);
        DcConfig dc;
        dc.idText = idAfter.toStdString();
        UpdateFixture f(dc);
        f.session.profile.ProfileBackupActive = false;
        QCOMPARE(VerifyNewCode(*f.context), confirmed);
        QCOMPARE(f.session.UpdateAborted, aborted);
        QCOMPARE(f.Events().contains(f.Text(Txt::VersionConfirmed)), confirmed);
        QCOMPARE(f.Events().contains(f.Text(Txt::DcNotRecognised)), aborted);
        QCOMPARE(f.sim.Device().DeviceClock().has_value(), !aborted);  // no backup: the clock is set here
        QCOMPARE(f.resets, 1);
    }

    void silentDcAfterRestart() {
        UpdateFixture f(SilentDc());
        QVERIFY(!VerifyNewCode(*f.context));
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(f.tasks.Rows().back().event, f.Text(Txt::DeviceNotAnswering));
        QCOMPARE(f.tasks.Rows().back().icon, int(IconFailure));
    }
};

QTEST_GUILESS_MAIN(UploadTest)
#include "test_upload.moc"
