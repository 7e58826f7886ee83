// Writing the code images, the restart wait and the verification, on the simulated DC.
#include <QtTest>

#include "fakes/link_fixture.h"
#include "fakes/update_fixture.h"
#include "firmware/reset_verify.h"
#include "firmware/upload.h"

namespace {

// Block data frames: 128 data bytes, the check byte and the trailing 0x00.
int DataFrames(const UpdateFixture& f) {
    return int(std::ranges::count_if(f.sim.Sent(), [](const auto& frame) { return frame.size() == 130; }));
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
        UpdateFixture f({}, TestFirmware{.blocks = blocks});
        UploadCode(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(f.Count(0xB5, 4), blocks);
        QCOMPARE(DataFrames(f), blocks);
        const auto sum = std::uint16_t(f.session.firmware.CodeChecksum);
        QCOMPARE(f.sim.Sent().back(), (Bytes{0xB6, std::uint8_t(sum >> 8), std::uint8_t(sum & 0xFF), 0x00}));
        QCOMPARE(f.sim.Device().Installs(), 1);  // the DC agrees with the checksum
    }

    void statusShowsEachPercentageBeforeItsBlock() {
        UpdateFixture f;
        UploadCode(*f.context);
        QCOMPARE(f.StatusesAt(0xB5, 4),
                 (QStringList{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
    }

    void failedBlockStopsTheUpload() {
        DcConfig dc;
        dc.faults.silentFromFrame = 7;  // blocks 1..3 go through (address + data each), then nothing
        UpdateFixture f(dc);
        UploadCode(*f.context);
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(DataFrames(f), 3);          // block 4's address never got through ...
        QCOMPARE(f.Count(0xB5, 4), 3 + 22);  // ... in 22 tries; blocks 5..8 were never tried
        QCOMPARE(f.Count(0xB6, 4), 0);
        QCOMPARE(f.tasks.Rows().back().event, f.Text(Txt::WriteFailed));
    }

    void secondImageClosesWithB9EvenAfterAFailedB8() {
        DcConfig dc;
        dc.faults.refusals = {{0xB8, DcPhase::Command, 100}};
        UpdateFixture f(dc, TestFirmware{.kind = TestKind::Code2Only});
        UploadCode2(*f.context);
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(DataFrames(f), 8);
        QCOMPARE(f.Count(0xB8, 4), 5);
        // The last refusal arrives after B9 went out and is taken for B9's: B9 goes out again at once.
        QCOMPARE(f.sim.Sent().back()[0], std::uint8_t(0xB9));
    }

    void bothImagesNameTheirParts() {
        DcConfig dc;
        dc.restartSeconds = 0;
        UpdateFixture f(dc, TestFirmware{.kind = TestKind::Both});
        UploadCode(*f.context);
        UploadCode2(*f.context);
        QVERIFY(!f.session.UpdateAborted);
        QCOMPARE(f.Events(),
                 (QStringList{f.Text(Txt::WritingFirmwarePart1), f.Text(Txt::WritingFirmwarePart2)}));
        QCOMPARE(f.sim.Device().SecondImageParameter().value_or(0), std::uint16_t(0x0102));
    }

    void restartWaitSendsNothing_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("lastShown");  // the seconds, counted as they go by
        QTest::newRow("12 s") << 12.0 << "11 of 12 s";
        QTest::newRow("0 s still passes once") << 0.0 << "0 of 0 s";
    }
    void restartWaitSendsNothing() {
        QFETCH(double, seconds);
        UpdateFixture f;
        const int passes = f.sim.Pump().Passes();
        WaitForReset(*f.context, seconds);
        QVERIFY(f.clock.Now() > seconds && f.clock.Now() < seconds + 0.01);
        QVERIFY(f.sim.Sent().empty());
        QVERIFY(f.sim.Pump().Passes() > passes);
        QTEST(f.view.shown, "lastShown");
    }

    void closeEndsTheRestartWait() {
        UpdateFixture f;
        f.sim.ScheduleAt(3.0, [&] { f.session.link.LinkStop = f.session.link.LinkError = true; });
        WaitForReset(*f.context, 45.0);
        QVERIFY(f.clock.Now() < 3.1);
    }

    void verification_data() {
        QTest::addColumn<QString>("idAfter");  // empty: no answer
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("failure");  // the text of the failure row that ends the update, 0 for none
        QTest::newRow("new version") << "KAV1F V1B 0512KB" << true << 0;
        QTest::newRow("older version") << "KAV1F V19 0512KB" << false << 0;
        QTest::newRow("another model") << "XYZ12 V1B 0512KB" << false << int(Txt::DcNotRecognised);
        QTest::newRow("no answer") << "" << false << int(Txt::DeviceNotAnswering);
    }
    void verification() {
        QFETCH(QString, idAfter);
        QFETCH(bool, confirmed);
        QFETCH(int, failure);
        DcConfig dc;
        dc.idText = idAfter.toStdString();
        dc.faults.silentFromFrame = idAfter.isEmpty() ? 1 : 0;
        UpdateFixture f(dc);
        f.session.profile.ProfileBackupActive = false;
        QCOMPARE(VerifyNewCode(*f.context), confirmed);
        QCOMPARE(f.session.UpdateAborted, failure != 0);
        QCOMPARE(f.Events().contains(f.Text(Txt::VersionConfirmed)), confirmed);
        QCOMPARE(f.tasks.Rows().back().icon == IconFailure, failure != 0);
        if (failure)
            QCOMPARE(f.tasks.Rows().back().event, f.Text(Txt(failure)));
        QCOMPARE(f.sim.Device().DeviceClock().has_value(), !failure);  // no backup: the clock is set here
        QCOMPARE(f.resets, 1);
    }
};

QTEST_GUILESS_MAIN(UploadTest)
#include "test_upload.moc"
