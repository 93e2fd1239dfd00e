// Camera parameter commands against the simulated camera: what reaches the camera, what the
// control takes back from it, the live-video hand-off and the frame-in-flight bound.
#include <bxplatform/kernel.h>
#include <kvcam/kvcam_sim.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "camera/Command.h"
#include "fixtures/control_fixture.h"
#include "live/BXTessvikFocus.h"

namespace ferro::testing {
namespace {

// A 1392 x 1040 monochrome camera with a binning table that includes 2.
constexpr const char* kCamera =
    "[sensor]\nwidth = 1392\nheight = 1040\n[binning]\nkind = sparse\ntable = 1, 2, 4, 8\n"
    "[exposure]\nmin_us = 100\nmax_us = 5000000\n";

class ParametersTest : public ControlTest {
protected:
    TBXTessvikFerroFW& Open(const std::string& description = kCamera) {
        UseCamera(description);
        TBXTessvikFerroFW& form = CreateAndOpen();
        ui->Clear();
        return form;
    }

    // Applies a grab window (0-based inclusive sensor pixels) at a binning, as the panel does.
    void ApplyWindow(int left, int top, int right, int bottom, int16_t binning) {
        control->GrabWindowLeft = left;
        control->GrabWindowTop = top;
        control->GrabWindowRight = right;
        control->GrabWindowBottom = bottom;
        control->BinningFactorX = control->BinningFactorY = binning;
        control->RebuildRegion();
    }

    RoiRect CameraRegion() const {
        return {CameraParam(KVCAM_PARAM_ROI_X), CameraParam(KVCAM_PARAM_ROI_Y),
                CameraParam(KVCAM_PARAM_ROI_WIDTH), CameraParam(KVCAM_PARAM_ROI_HEIGHT)};
    }
};

TEST_F(ParametersTest, CommandsRefuseWhileTheCameraIsNotReady) {
    TBXTessvikFerroFW& form = Create();
    EXPECT_FALSE(form.SetCameraGain(10));
    EXPECT_FALSE(form.SetCameraOffset(10));
    EXPECT_FALSE(form.SetCameraExposure(1000));
    EXPECT_FALSE(form.ApplyRegion());
    EXPECT_EQ(form.LastCameraError, 0);
    EXPECT_EQ(ui->BoxCount(), 0u);
}

// ---- Exposure -----------------------------------------------------------------------------

TEST_F(ParametersTest, ExposureBelowTheMinimumEndsAtTheMinimum) {
    TBXTessvikFerroFW& form = Open();
    form.SetExposureTime(5);
    EXPECT_EQ(form.ExposureTime, 100);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 100);
    EXPECT_EQ(form.lbl_ActualExposureTime->Caption(), "100us");
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(ParametersTest, NegativeExposureEndsAtTheMaximum) {
    TBXTessvikFerroFW& form = Open();
    EXPECT_TRUE(form.SetCameraExposure(-5));
    EXPECT_EQ(form.ExposureTime, 5000000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 5000000);
    EXPECT_EQ(form.ActualExposureMs, 5000);
}

TEST_F(ParametersTest, MaximumBelowTheMinimumEndsAtTheMinimum) {
    // A settings file loaded on a ready camera brings its own maximum (0 when absent).
    TBXTessvikFerroFW& form = Open();
    form.ExposureMaxMicroseconds = 0;
    form.SetExposureTime(5);
    EXPECT_EQ(form.ExposureTime, 100);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 100);
}

TEST_F(ParametersTest, CameraRoundingTurnsTheLabelRedAndWins) {
    TBXTessvikFerroFW& form = Open(std::string(kCamera) + "quantum_us = 10\n");
    ASSERT_TRUE(form.rbn_ExposureTime2->Checked());  // "us"
    EXPECT_TRUE(form.SetCameraExposure(1234));
    EXPECT_EQ(form.lbl_ActualExposureTime->Caption(), "1230us");
    EXPECT_EQ(form.lbl_ExposureTime->Caption(), "1234us");
    EXPECT_EQ(form.lbl_ExposureTime->FontColor(), bx::ui::clRed);
    EXPECT_EQ(form.ExposureTime, 1230);
    EXPECT_EQ(form.ExposureUs, 1230);  // the entry fields follow
    EXPECT_EQ(form.ActualExposureMs, 1);

    // A value the camera takes as it is shows in the normal colour again.
    EXPECT_TRUE(form.SetCameraExposure(2000));
    EXPECT_EQ(form.lbl_ActualExposureTime->Caption(), "2000us");
    EXPECT_EQ(form.lbl_ExposureTime->FontColor(), bx::ui::clWindowText);
    EXPECT_EQ(form.ExposureTime, 1230);  // unchanged: only a rounded value is taken over
}

TEST_F(ParametersTest, ExposureLabelsFollowTheUnit) {
    TBXTessvikFerroFW& form = Open();
    form.rbn_grab_ExposureTime1->SetChecked(true);  // "ms"
    EXPECT_TRUE(form.SetCameraExposure(2500));
    EXPECT_EQ(form.lbl_ActualExposureTime->Caption(), "2.5ms");
    EXPECT_EQ(form.lbl_ExposureTime->Caption(), "2.5ms");

    form.rbn_grab_ExposureTime->SetChecked(true);  // "m : s"
    EXPECT_TRUE(form.SetCameraExposure(1500000));
    EXPECT_EQ(form.lbl_ActualExposureTime->Caption(), "1.5s");
    EXPECT_EQ(form.lbl_ExposureTime->Caption(), "1.5s");
    EXPECT_EQ(form.lbl_ExposureTime->FontColor(), bx::ui::clWindowText);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 1500000);
}

TEST_F(ParametersTest, ExposureReappliesTheReadoutSpeed) {
    TBXTessvikFerroFW& form = Open();
    form.chk_Fast->SetChecked(false);
    EXPECT_TRUE(form.SetCameraExposure(3000));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_READOUT_SPEED), 1);
    EXPECT_EQ(form.lbl_FrameReadOutTime->Caption(), "10M");
}

struct ExposureFailure {
    const char* name;
    int32_t point;
    int32_t id;
    const char* text;
};

class ExposureFailureTest : public ParametersTest,
                            public ::testing::WithParamInterface<ExposureFailure> {};

TEST_P(ExposureFailureTest, ReportsAndReturnsFalse) {
    TBXTessvikFerroFW& form = Open();
    const int32_t before = CameraParam(KVCAM_PARAM_EXPOSURE);
    ASSERT_EQ(KvCamSim_SetFault(GetParam().point, GetParam().id, 0, 1, 0), KVCAM_OK);
    EXPECT_FALSE(form.SetCameraExposure(4000));
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Text, GetParam().text);
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error Message");
    EXPECT_NE(form.LastCameraError, KVCAM_OK);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), before);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ExposureFailureTest,
    ::testing::Values(ExposureFailure{"Read", KVCAMSIM_FAULT_READ_SETTINGS, KVCAMSIM_ANY_ID,
                                      "Fail in reading camera settings!"},
                      ExposureFailure{"SetParameter", KVCAMSIM_FAULT_SET_PARAM,
                                      KVCAM_PARAM_EXPOSURE, "Fail in setting exposure parameter!"},
                      ExposureFailure{"Send", KVCAMSIM_FAULT_SEND_SETTINGS, KVCAMSIM_ANY_ID,
                                      "Fail in setting exposure!"}),
    [](const ::testing::TestParamInfo<ExposureFailure>& info) { return info.param.name; });

TEST_F(ParametersTest, ExposureFieldAppliesWhenItLosesTheFocus) {
    TBXTessvikFerroFW& form = Open();
    form.AcquistionParameters->SetActivePage(form.tab_Acquire);
    form.txt_ExposureTime->SetText(" 2500 ");
    ASSERT_TRUE(form.txt_ExposureTime->SetFocus());
    form.AcquistionParameters->SetActivePage(form.tab_Camera);
    ASSERT_TRUE(form.btn_Reset->SetFocus());
    EXPECT_EQ(form.ExposureTime, 2500);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 2500);

    // Text that is no integer raises the conversion error and changes nothing.
    form.txt_ExposureTime->SetText("25x");
    EXPECT_THROW(form.txt_ExposureTime->OnExit(form.txt_ExposureTime), bx::ui::EConvertError);
    EXPECT_EQ(form.ExposureTime, 2500);
}

// ---- Gain and offset --------------------------------------------------------------------------

TEST_F(ParametersTest, OffsetIsSentInverted) {
    TBXTessvikFerroFW& form = Open();
    EXPECT_EQ(form.Contrast, 0);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 4095);  // sent at initialisation
    form.SetOffsetValue(4095);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 0);
    EXPECT_TRUE(form.SetCameraOffset(100));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 3995);
}

TEST_F(ParametersTest, GainReachesTheCamera) {
    TBXTessvikFerroFW& form = Open();
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 255);
    form.SetGainValue(1000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 1000);
    EXPECT_TRUE(form.SetCameraGain(12.9));  // truncated
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 12);
}

TEST_F(ParametersTest, GainAndOffsetFailSilently) {
    TBXTessvikFerroFW& form = Open();
    EXPECT_FALSE(form.SetCameraGain(5000));  // refused by the camera's limits

    KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_SETTINGS, KVCAMSIM_ANY_ID, 0, 1, 0);
    EXPECT_FALSE(form.SetCameraOffset(7));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 4095);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

void IgnoreFrame(void*, uintptr_t, int32_t, uint32_t) {}

TEST_F(ParametersTest, GainWhileLiveDropsQueuedFramesAndRestartsLive) {
    TBXTessvikFerroFW& form = Open();
    // Live frames waiting at the camera: long exposures keep them pending.
    ASSERT_TRUE(form.SetCameraExposure(5000000));
    ASSERT_EQ(KvCam_SetStreaming(form.CameraHandle, 1), KVCAM_OK);
    std::vector<uint16_t> pixels(1392 * 1040);
    std::vector<KvCamFrame> frames(2);
    for (KvCamFrame& frame : frames) {
        frame.buffer = pixels.data();
        frame.bufferSize = static_cast<uint32_t>(pixels.size() * sizeof(uint16_t));
        ASSERT_EQ(KvCam_QueueFrame(form.CameraHandle, &frame, IgnoreFrame,
                                   KVCAM_CALLBACK_ON_COMPLETION, nullptr, 0),
                  KVCAM_OK);
    }

    BXTessvikFocus live(form);
    live.FrameCount = 7;
    form.LiveThread = &live;
    form.LiveActive = true;
    LiveSettingsChanged = false;
    EXPECT_TRUE(form.SetCameraGain(300));

    KvCamSimCounters counters{};
    ASSERT_EQ(KvCamSim_GetCounters(form.CameraHandle, &counters), KVCAM_OK);
    EXPECT_EQ(counters.aborted, 2u);
    EXPECT_EQ(counters.pending, 0u);
    EXPECT_TRUE(LiveSettingsChanged);
    EXPECT_EQ(live.FrameCount, 0);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 300);

    form.LiveActive = false;
    form.LiveThread = nullptr;
    LiveSettingsChanged = false;
}

// ---- Region and binning -------------------------------------------------------------------------

TEST_F(ParametersTest, RegionIsCutToTheSensor) {
    TBXTessvikFerroFW& form = Open();
    form.RoiBinning = {1, 1};
    form.RequestedRoi = {-5, 0, 5000, 9000};
    EXPECT_TRUE(form.ApplyRegion());
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{1, 1, 1392, 1040}));
    EXPECT_EQ(form.RequestedRoi, form.AppliedRoi);
    EXPECT_EQ(CameraRegion(), (RoiRect{0, 0, 1392, 1040}));
}

TEST_F(ParametersTest, InvertedRegionBecomesOnePixel) {
    TBXTessvikFerroFW& form = Open();
    form.RoiBinning = {1, 1};
    form.RequestedRoi = {200, 100, 150, 90};
    EXPECT_TRUE(form.ApplyRegion());
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{200, 100, 200, 100}));
    EXPECT_EQ(CameraRegion(), (RoiRect{199, 99, 1, 1}));
    EXPECT_EQ(form.ImageWidth, 1);
    EXPECT_EQ(form.ImageHeight, 1);
    EXPECT_EQ(form.GrabWindowLeft, 199);
    EXPECT_EQ(form.GrabWindowRight, 199);

    // At binning 2 one sensor pixel is less than a binned pixel: it grows to one binned
    // pixel rather than failing with the binning already sent.
    form.RoiBinning = {2, 2};
    form.RequestedRoi = {201, 101, 201, 101};
    EXPECT_TRUE(form.ApplyRegion());
    EXPECT_EQ(CameraRegion(), (RoiRect{100, 50, 1, 1}));
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{201, 101, 202, 102}));
    EXPECT_EQ(form.BinningFactorX, 2);
}

TEST_F(ParametersTest, BinnedWindowIsSentInBinnedPixels) {
    TBXTessvikFerroFW& form = Open();
    ApplyWindow(100, 0, 399, 299, 2);  // sensor column 101, 1-based
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 2);
    EXPECT_EQ(CameraRegion(), (RoiRect{50, 0, 150, 150}));
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{101, 1, 400, 300}));
    EXPECT_EQ(form.GrabWindowLeft, 100);
    EXPECT_EQ(form.BinningFactorX, 2);
    EXPECT_EQ(form.ImageWidth, 150);
    EXPECT_EQ(form.ImageHeight, 150);
    EXPECT_EQ(form.lbl_Window->Caption(), "150 : 150");
}

TEST_F(ParametersTest, MicroDotCountsColumnsInSensorPixels) {
    TBXTessvikFerroFW& form = Open(std::string(kCamera) + "[camera]\ntype = 8\n");
    ASSERT_TRUE(form.CameraTypeIsMicroDot());
    ApplyWindow(100, 0, 399, 299, 2);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING_V), 2);
    EXPECT_EQ(CameraRegion(), (RoiRect{100, 0, 300, 150}));
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{101, 1, 400, 300}));
    EXPECT_EQ(form.ImageWidth, 150);
    EXPECT_EQ(form.ImageHeight, 150);
    // This one bins its columns itself, so it is told to and its frames fit the image.
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING_H), 2);
    std::vector<uint8_t> frame(form.AcquisitionFrameBytes());
    EXPECT_EQ(form.GrabFrameToBuffer(frame.data(), frame.size()), KVCAM_OK) << BoxTexts();
}

TEST_F(ParametersTest, RegionChangeDuringLiveVideoIsOnlyStored) {
    TBXTessvikFerroFW& form = Open();
    form.LiveActive = true;
    ApplyWindow(100, 100, 199, 199, 1);
    EXPECT_EQ(form.RequestedRoi, (RoiEdges{101, 101, 200, 200}));
    EXPECT_EQ(CameraRegion(), (RoiRect{0, 0, 1392, 1040}));
    form.LiveActive = false;
}

TEST_F(ParametersTest, RefusedRegionFallsBackToTheLastAccepted) {
    TBXTessvikFerroFW& form = Open();
    ApplyWindow(0, 0, 599, 499, 1);
    const SentRoi accepted = form.LastSentRoi;
    ASSERT_EQ(accepted.Rect, (RoiRect{0, 0, 600, 500}));

    KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_REGION, KVCAMSIM_ANY_ID, 0, 1, 0);
    form.rbn_bin2->SetChecked(true);  // as a click on "2x2" leaves it
    form.RoiBinning = {2, 2};
    form.RequestedRoi = {11, 11, 410, 410};
    EXPECT_TRUE(form.ApplyRegion());
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
    // The button of the restored binning ran and the camera and control agree again.
    EXPECT_TRUE(form.rbn_Bin1->Checked());
    EXPECT_EQ(form.BinningFactorX, 1);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 1);
    EXPECT_EQ(CameraRegion(), form.CameraRoi);
    EXPECT_EQ(form.ImageWidth, form.CameraRoi.Width);
}

TEST_F(ParametersTest, RefusalBeforeAnyAcceptedRegionKeepsASaneBinning) {
    // The square mode asks for a region the camera does not hold yet, and the camera refuses
    // every region change: nothing was ever accepted.
    UseCamera(kCamera);
    KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_REGION, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    TBXTessvikFerroFW& form = Create();
    LoadSettings("CCD Mode=1024 x 1024\n");
    form.Initialise();
    ASSERT_TRUE(form.SessionOpen) << BoxTexts();
    EXPECT_GE(form.BinningFactorX, 1);
    EXPECT_GE(form.BinningFactorY, 1);
    EXPECT_EQ(form.LastSentRoi.Binning.X, 1);
    // The control reports what the camera really holds.
    EXPECT_EQ(form.CameraRoi, CameraRegion());
    EXPECT_EQ(form.ImageWidth, 1392);
    EXPECT_EQ(form.ImageHeight, 1040);
    EXPECT_EQ(form.lbl_Window->Caption(), "1392 : 1040");
}

TEST_F(ParametersTest, NewBinningWithTheSameDriverNumbersIsKept) {
    // A quarter of the sensor unbinned and the whole sensor at binning 2 are both
    // (0, 0, 696, 520) to the driver; the second is still a new binning.
    TBXTessvikFerroFW& form = Open();
    ApplyWindow(0, 0, 695, 519, 1);
    ASSERT_EQ(CameraRegion(), (RoiRect{0, 0, 696, 520}));
    ApplyWindow(0, 0, 1391, 1039, 2);
    EXPECT_EQ(CameraRegion(), (RoiRect{0, 0, 696, 520}));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 2);
    EXPECT_EQ(form.BinningFactorX, 2);
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{1, 1, 1392, 1040}));
    EXPECT_EQ(form.LastSentRoi.Binning.X, 2);
}

TEST_F(ParametersTest, StopStreamingRefreshesTheEightBitFlag) {
    TBXTessvikFerroFW& form = Open();
    BXTessvikFocus live(form);
    form.LiveThread = &live;
    ASSERT_EQ(KvCam_SetStreaming(form.CameraHandle, 1), KVCAM_OK);
    form.chk_Acquire8bit->SetChecked(true);
    form.StopStreaming();
    EXPECT_TRUE(form.Acquire8Bit);
    EXPECT_TRUE(live.Force8Bit);
    KvCamFrame frame{};
    std::vector<uint8_t> pixels(4);
    frame.buffer = pixels.data();
    frame.bufferSize = static_cast<uint32_t>(pixels.size());
    EXPECT_EQ(KvCam_QueueFrame(form.CameraHandle, &frame, IgnoreFrame, KVCAM_CALLBACK_ON_COMPLETION,
                               nullptr, 0),
              KVCAM_ERR_NOT_STREAMING);
    form.LiveThread = nullptr;
}

// ---- The frame-in-flight hand-off ---------------------------------------------------------------

TEST_F(ParametersTest, StuckFrameEndsTheWaitWithFailure) {
    TBXTessvikFerroFW& form = Open();
    // Let the bound pass in a few real milliseconds.
    bx::kernel::SetTimeWarp(20000);
    form.FrameInFlight = true;
    EXPECT_FALSE(form.SetCameraGain(100));
    EXPECT_FALSE(form.CameraCommandBusy);
    EXPECT_FALSE(form.SetCameraExposure(3000));
    EXPECT_FALSE(form.ApplyRegion());
    EXPECT_FALSE(form.CameraCommandBusy);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 255);  // nothing reached the camera
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();

    form.FrameInFlight = false;
    EXPECT_TRUE(form.SetCameraGain(100));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 100);
}

TEST_F(ParametersTest, CommandWaitsForTheFrameInFlight) {
    TBXTessvikFerroFW& form = Open();
    form.FrameInFlight = true;
    std::atomic<bool> sawBusy{false};
    // The frame side: once the command has raised its flag, the frame finishes.
    std::thread frameSide([&] {
        for (int i = 0; i < 200000 && !form.CameraCommandBusy; ++i) std::this_thread::yield();
        sawBusy = form.CameraCommandBusy.load();
        form.FrameInFlight = false;
    });
    EXPECT_TRUE(form.SetCameraGain(777));
    frameSide.join();
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 777);
    EXPECT_FALSE(form.CameraCommandBusy);
}

// Commands on two threads and frame transfers on a third, through the real holds: a command
// never runs beside another command or beside a frame transfer.
TEST_F(ParametersTest, HoldsOnThreeThreadsNeverOverlap) {
    TBXTessvikFerroFW& form = Open();
    std::atomic<int> commands{0}, frames{0}, overlaps{0}, held{0};
    auto inside = [&](std::atomic<int>& mine, const std::atomic<int>& other, bool command) {
        if (mine.fetch_add(1) + 1 > (command ? 1 : 2) || other.load() != 0) ++overlaps;
        std::this_thread::yield();
        if (other.load() != 0) ++overlaps;
        mine.fetch_sub(1);
        ++held;
    };
    constexpr int kRounds = 300;
    auto commandSide = [&] {
        for (int i = 0; i < kRounds; ++i) {
            camera::CameraCommand command(form);
            if (command.Held()) inside(commands, frames, true);
        }
    };
    auto frameSide = [&] {
        for (int i = 0; i < kRounds; ++i) {
            camera::FrameHold hold(form);
            if (hold.Held()) inside(frames, commands, false);
        }
    };
    std::thread other(commandSide), transfer(frameSide);
    commandSide();
    other.join();
    transfer.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(held.load(), 3 * kRounds) << "every hold was had within the bound";
}

TEST_F(ParametersTest, NestedCommandsKeepTheDriverHeld) {
    TBXTessvikFerroFW& form = Open();
    {
        camera::CameraCommand outer(form);
        ASSERT_TRUE(outer.Held());
        EXPECT_TRUE(form.SetCameraGain(50));  // nests inside the outer hold
        EXPECT_TRUE(form.CameraCommandBusy);
    }
    EXPECT_FALSE(form.CameraCommandBusy);
}

}  // namespace
}  // namespace ferro::testing
