// Bit depth, colour, readout speed and "Acquire 8 bits" on the simulated camera, driven through
// the panel's controls as a user would.
#include <atomic>
#include <chrono>
#include <thread>

#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

// A 14-bit sensor, so the "12" choice visibly takes the camera's maximum depth.
constexpr const char* kMonoCamera = "[sensor]\nbit_depth = 14\n";
constexpr const char* kColourCamera = "[sensor]\ncolour = yes\n";

void ArmFault(int32_t point, int32_t id = KVCAMSIM_ANY_ID) {
    ASSERT_EQ(KvCamSim_SetFault(point, id, 0, 1, 0), KVCAM_OK);
}

}  // namespace

class DepthChoice : public ControlTest {
protected:
    // The hidden choices are shown so a user could reach them.
    TBXTessvikFerroFW& OpenWithHiddenChoicesShown(const char* camera) {
        UseCamera(camera);
        TBXTessvikFerroFW& c = CreateAndOpen();
        c.rbn_RangeMid->Show();
        c.chk_Fast->Show();
        ui->Clear();
        return c;
    }
};

TEST_F(DepthChoice, EightBeforeTheCameraIsReadyChangesNothing) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.rbn_RangeLow->Click());
    EXPECT_EQ(c.BitDepth, 12);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();

    // Colour and readout speed are guarded the same way.
    c.chk_Color->Click();
    c.chk_Fast->SetChecked(false);
    EXPECT_EQ(c.BitDepth, 12);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(DepthChoice, EachChoiceSendsItsFormatAndSetsTheDepth) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    ASSERT_EQ(c.MaxBitDepth, 14);

    ASSERT_TRUE(c.rbn_RangeLow->Click());
    EXPECT_EQ(c.BitDepth, 8);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO8);

    ASSERT_TRUE(c.rbn_RangeMid->Click());
    EXPECT_EQ(c.BitDepth, 10);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO16);

    ASSERT_TRUE(c.rbn_RangeLow->Click());
    ASSERT_TRUE(c.rbn_RangeHigh->Click());
    EXPECT_EQ(c.BitDepth, 14);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO16);

    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(DepthChoice, FailuresShowTheirTextAndLeaveTheDepth) {
    struct Case {
        const char* name;
        bx::ui::TRadioButton* TBXTessvikFerroFW::*choice;
        bx::ui::TRadioButton* TBXTessvikFerroFW::*startFrom;
        int32_t faultPoint;
        const char* text;
    };
    using F = TBXTessvikFerroFW;
    const Case cases[] = {
        {"12 read", &F::rbn_RangeHigh, &F::rbn_RangeLow, KVCAMSIM_FAULT_READ_SETTINGS,
         "Reading camera settings failed.\n\nSetting camera to 12 bit mode did not succeed."},
        {"12 set", &F::rbn_RangeHigh, &F::rbn_RangeLow, KVCAMSIM_FAULT_SET_PARAM,
         "Setting image format to Mono16 failed.\n\nSetting camera to 12 bit mode did not "
         "succeed."},
        {"12 send", &F::rbn_RangeHigh, &F::rbn_RangeLow, KVCAMSIM_FAULT_SEND_SETTINGS,
         "Sending settings to camera failed.\n\nSetting camera to 12 bit mode did not succeed."},
        {"10 read", &F::rbn_RangeMid, &F::rbn_RangeHigh, KVCAMSIM_FAULT_READ_SETTINGS,
         "Reading camera settings failed.\n\nSetting camera to 10 bit mode did not succeed."},
        {"10 set", &F::rbn_RangeMid, &F::rbn_RangeHigh, KVCAMSIM_FAULT_SET_PARAM,
         "Setting image format to Mono16 failed.\n\nSetting camera to 10 bit mode did not "
         "succeed."},
        {"10 send", &F::rbn_RangeMid, &F::rbn_RangeHigh, KVCAMSIM_FAULT_SEND_SETTINGS,
         "Sending settings to camera failed.\n\nSetting camera to 10 bit mode did not succeed."},
        {"8 read", &F::rbn_RangeLow, &F::rbn_RangeHigh, KVCAMSIM_FAULT_READ_SETTINGS,
         "Reading camera settings failed.\n\nSetting camera to 8 bit mode did not succeed."},
        {"8 set", &F::rbn_RangeLow, &F::rbn_RangeHigh, KVCAMSIM_FAULT_SET_PARAM,
         "Setting image format to Mono8 failed.\n\nSetting camera to 8 bit mode did not "
         "succeed."},
        {"8 send", &F::rbn_RangeLow, &F::rbn_RangeHigh, KVCAMSIM_FAULT_SEND_SETTINGS,
         "Sending settings to camera failed.\n\nSetting camera to 8 bit mode did not succeed."},
    };
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE((c.*k.startFrom)->Click());
        const int depth = c.BitDepth;
        const int32_t format = CameraParam(KVCAM_PARAM_FORMAT);
        ui->Clear();

        const int32_t id = k.faultPoint == KVCAMSIM_FAULT_SET_PARAM ? int32_t{KVCAM_PARAM_FORMAT}
                                                                    : int32_t{KVCAMSIM_ANY_ID};
        ArmFault(k.faultPoint, id);
        ASSERT_TRUE((c.*k.choice)->Click());
        KvCamSim_ClearFaults();

        ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
        EXPECT_EQ(ui->Boxes()[0].Text, k.text);
        EXPECT_EQ(ui->Boxes()[0].Caption, "Error");
        EXPECT_EQ(ui->Boxes()[0].Buttons(), bx::ui::MB_OK);
        EXPECT_EQ(c.BitDepth, depth);
        EXPECT_NE(c.LastCameraError, KVCAM_OK);
        EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), format);
    }
}

TEST_F(DepthChoice, WithoutAnyCameraTheUnguardedChoiceFailsCleanly) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.rbn_RangeLow->Click());   // guarded: nothing happens
    ASSERT_TRUE(c.rbn_RangeHigh->Click());  // unguarded: fails to read, without a settings block
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Text,
              "Reading camera settings failed.\n\nSetting camera to 12 bit mode did not succeed.");
    EXPECT_EQ(c.BitDepth, 12);
}

using ReadoutSpeed = DepthChoice;

TEST_F(ReadoutSpeed, FastSendsSpeedZeroAndUncheckedSendsOne) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    ASSERT_TRUE(c.chk_Fast->Checked());

    ASSERT_TRUE(c.chk_Fast->Click());
    EXPECT_EQ(CameraParam(KVCAM_PARAM_READOUT_SPEED), 1);
    EXPECT_EQ(c.lbl_FrameReadOutTime->Caption(), "10M");

    ASSERT_TRUE(c.chk_Fast->Click());
    EXPECT_EQ(CameraParam(KVCAM_PARAM_READOUT_SPEED), 0);
    EXPECT_EQ(c.lbl_FrameReadOutTime->Caption(), "20M");
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(ReadoutSpeed, FailureTextsNameTheSpeedAsked) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    const std::string shownBefore = c.lbl_FrameReadOutTime->Caption();

    ArmFault(KVCAMSIM_FAULT_SET_PARAM, KVCAM_PARAM_READOUT_SPEED);
    c.chk_Fast->Click();  // to unchecked: half speed
    ArmFault(KVCAMSIM_FAULT_SET_PARAM, KVCAM_PARAM_READOUT_SPEED);
    c.chk_Fast->Click();  // back to checked: full speed
    ArmFault(KVCAMSIM_FAULT_READ_SETTINGS);
    c.chk_Fast->Click();
    ArmFault(KVCAMSIM_FAULT_SEND_SETTINGS);
    c.chk_Fast->Click();

    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 4u) << BoxTexts();
    EXPECT_EQ(boxes[0].Text,
              "Setting readout speed failed.\n\nSetting camera to half speed(10M) did not "
              "succeed.");
    EXPECT_EQ(boxes[1].Text,
              "Setting readout speed failed.\n\nSetting camera to full(20M) speed did not "
              "succeed.");
    EXPECT_EQ(boxes[2].Text,
              "Reading camera settings failed.\n\nSetting camera readout speed did not succeed.");
    EXPECT_EQ(boxes[3].Text,
              "Sending readout speed setting to camera failed.\n\nSetting camera to specific "
              "readout speed did not succeed.");
    for (const auto& box : boxes) EXPECT_EQ(box.Caption, "Error");
    EXPECT_EQ(c.lbl_FrameReadOutTime->Caption(), shownBefore);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_READOUT_SPEED), 0);
}

using Colour = DepthChoice;

TEST_F(Colour, CheckingEndsInBayerEightBitAndUncheckingRestoresTheChoice) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kColourCamera);
    ASSERT_TRUE(c.rbn_RangeHigh->Checked());
    ASSERT_TRUE(c.chk_Color->Visible());

    ASSERT_TRUE(c.chk_Color->Click());
    EXPECT_EQ(c.BitDepth, 24);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8);
    EXPECT_TRUE(c.rbn_RangeLow->Checked());
    EXPECT_FALSE(c.rbn_RangeHigh->Enabled());
    EXPECT_FALSE(c.rbn_RangeMid->Enabled());
    EXPECT_FALSE(c.rbn_RangeLow->Enabled());

    ASSERT_TRUE(c.chk_Color->Click());
    EXPECT_EQ(c.BitDepth, 8);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO8);
    EXPECT_TRUE(c.rbn_RangeHigh->Enabled());
    EXPECT_TRUE(c.rbn_RangeMid->Enabled());
    EXPECT_TRUE(c.rbn_RangeLow->Enabled());
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(Colour, UncheckingWithTwelveChosenRestoresTheSixteenBitFormat) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kColourCamera);
    ASSERT_TRUE(c.chk_Color->Click());
    // Code may still choose "12" while the choices are disabled, as loading settings does.
    c.rbn_RangeHigh->SetChecked(true);
    ASSERT_TRUE(c.chk_Color->Click());
    EXPECT_EQ(c.BitDepth, c.MaxBitDepth);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO16);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(Colour, ColourPathStaysSilentOnFailure) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kColourCamera);
    ASSERT_TRUE(c.rbn_RangeLow->Click());  // "8" already chosen: only the colour format is sent
    ArmFault(KVCAMSIM_FAULT_SET_PARAM, KVCAM_PARAM_FORMAT);
    ASSERT_TRUE(c.chk_Color->Click());
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
    EXPECT_NE(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(c.BitDepth, 24);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO8);
}

TEST_F(Colour, CommandWaitsForTheFrameInFlight) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kColourCamera);
    c.FrameInFlight = true;
    std::atomic<bool> sawBusyWhileWaiting{false};
    std::thread frameTransfer([&] {
        // The command raises its busy flag first and then waits: finish the "frame" once it
        // does (bounded, so a broken command fails the test instead of hanging it).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!c.CameraCommandBusy && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        sawBusyWhileWaiting = c.CameraCommandBusy.load();
        c.FrameInFlight = false;
    });
    ASSERT_TRUE(c.chk_Color->Click());
    frameTransfer.join();
    EXPECT_TRUE(sawBusyWhileWaiting);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8);
    EXPECT_FALSE(c.CameraCommandBusy);
}

using Acquire8Bits = DepthChoice;

TEST_F(Acquire8Bits, ClickStopsStreamingAndShowsTheNote) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    c.chk_Acquire8bit->Show();
    c.chk_Acquire8bit->SetEnabled(true);

    ASSERT_TRUE(c.chk_Acquire8bit->Click());
    EXPECT_TRUE(c.chk_Acquire8bit->Checked());
    EXPECT_TRUE(c.Acquire8Bit);
    EXPECT_TRUE(c.mmo_12bit->Visible());

    ASSERT_TRUE(c.mmo_12bit->Click());
    EXPECT_FALSE(c.mmo_12bit->Visible());

    // The key-up of a Space toggle runs the same handler.
    ASSERT_TRUE(c.chk_Acquire8bit->PressKey(bx::ui::VK_SPACE));
    EXPECT_FALSE(c.chk_Acquire8bit->Checked());
    EXPECT_FALSE(c.Acquire8Bit);
    EXPECT_TRUE(c.mmo_12bit->Visible());
    EXPECT_EQ(ui->BeepCount(), 0u);
}

TEST_F(Acquire8Bits, DuringLiveVideoBeepsAndRestoresTheBox) {
    TBXTessvikFerroFW& c = OpenWithHiddenChoicesShown(kMonoCamera);
    c.chk_Acquire8bit->Show();
    c.chk_Acquire8bit->SetEnabled(true);
    ASSERT_TRUE(c.chk_Acquire8bit->Click());
    c.mmo_12bit->Hide();

    c.LiveActive = true;
    ASSERT_TRUE(c.chk_Acquire8bit->Click());
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(c.chk_Acquire8bit->Checked());
    EXPECT_TRUE(c.Acquire8Bit);
    EXPECT_FALSE(c.mmo_12bit->Visible());

    ASSERT_TRUE(c.chk_Acquire8bit->PressKey(bx::ui::VK_SPACE));
    EXPECT_EQ(ui->BeepCount(), 2u);
    EXPECT_TRUE(c.chk_Acquire8bit->Checked());
    c.LiveActive = false;
}
