#include "support/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

bool DriverLoaded() {
    uint32_t count = 0;
    return KvCam_ListCameras(nullptr, &count) != KVCAM_ERR_NOT_LOADED;
}

}  // namespace

using Lifecycle = ControlTest;

TEST_F(Lifecycle, CreationSetsDefaultsAndTouchesNoCamera) {
    TBXTessvikFerroFW& c = Create();
    c.Initialise();  // not armed: still no driver traffic
    EXPECT_FALSE(DriverLoaded());
    EXPECT_FALSE(c.SessionOpen);
    EXPECT_FALSE(c.CameraReady);
    EXPECT_EQ(c.CameraHandle, 0u);
    EXPECT_EQ(ActiveControl.load(), &c);

    EXPECT_EQ(c.Brightness, 255);
    EXPECT_EQ(c.hsb_Brightness->Position(), 255);
    EXPECT_EQ(c.lbl_BrightnessValue->Caption(), "255");
    EXPECT_EQ(c.Contrast, 0);
    EXPECT_EQ(c.hsb_Contrast->Position(), 0);
    EXPECT_EQ(c.lbl_ContrastValue->Caption(), "0");
    EXPECT_EQ(c.ExposureTime, 400);
    EXPECT_EQ(c.FrameRate, 400);
    EXPECT_EQ(c.NumberOfFrames, 10);
    EXPECT_EQ(c.BitDepth, 12);
    EXPECT_EQ(c.MaxBitDepth, 12);
    EXPECT_EQ(c.GrabWindowRight, 2000);
    EXPECT_EQ(c.ImageWidth, 2000);
    EXPECT_EQ(c.BinningFactorX, 1);
    EXPECT_DOUBLE_EQ(c.AutoExposureTarget, 1.0);
    EXPECT_EQ(c.ClockMode, 2);
    EXPECT_TRUE(c.rbn_100->Checked());
    EXPECT_TRUE(c.rbn_RangeHigh->Checked());
    EXPECT_FALSE(c.chk_Acquire8bit->Checked());
    EXPECT_EQ(c.cbo_ControlPort->Text(), "NONE");
    EXPECT_EQ(c.AcquistionParameters->ActivePage(), c.tab_Camera);
    EXPECT_FALSE(c.tab_Triggers->TabVisible());
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(Lifecycle, InitialiseAfterQuitReusesTheReadyCamera) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    const KvCamHandle handle = c.CameraHandle;
    c.Quit();
    EXPECT_FALSE(c.SessionOpen);
    EXPECT_TRUE(c.CameraReady);
    // Any attempt to load or open again would now fail loudly.
    KvCamSim_SetFault(KVCAMSIM_FAULT_LOAD, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    KvCamSim_SetFault(KVCAMSIM_FAULT_OPEN, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    c.Initialise();
    EXPECT_TRUE(c.SessionOpen);
    EXPECT_EQ(c.CameraHandle, handle);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(Lifecycle, TeardownReleasesEverythingExactlyOnce) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    ASSERT_TRUE(DriverLoaded());
    KvCamSim_SetFault(KVCAMSIM_FAULT_CLOSE, KVCAMSIM_ANY_ID, 0, 1, 0);
    c.FormDestroy();
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "KvCam close error!");
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error Message");
    EXPECT_NE(c.LastCameraError, 0);
    EXPECT_EQ(c.CameraHandle, 0u);
    EXPECT_FALSE(c.CameraReady);
    EXPECT_FALSE(c.SessionOpen);
    EXPECT_FALSE(DriverLoaded());
    EXPECT_TRUE(c.PaletteReleased);

    // A late palette request after teardown stays in the control's own memory.
    c.SetAcquisitionPalette(3);
    c.FormDestroy();
    control.reset();  // destroy event and destructor: both find nothing left
    EXPECT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ActiveControl.load(), nullptr);
}

TEST_F(Lifecycle, DestroyingAControlThatNeverOpenedLeavesTheDriverAlone) {
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);  // loaded by someone else
    Create();
    control.reset();
    EXPECT_TRUE(DriverLoaded());
    EXPECT_EQ(ui->BoxCount(), 0u);
    KvCam_ReleaseDriver();
}

TEST_F(Lifecycle, SettingTheCurrentExposureSendsNothing) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    ui->Clear();
    KvCamSim_SetFault(KVCAMSIM_FAULT_READ_SETTINGS, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    c.SetExposureTime(c.ExposureTime);
    EXPECT_EQ(ui->BoxCount(), 0u);
    c.SetExposureTime(c.ExposureTime + 1000);  // a real change reaches the camera and fails
    EXPECT_EQ(ui->BoxCount(), 1u);
}

TEST_F(Lifecycle, StatusLabelFollowsTheCameraHandle) {
    TBXTessvikFerroFW& c = Create();
    c.UpdateCameraStatus();
    EXPECT_EQ(c.lbl_Diagnosis->Caption(), "Camera is not ready to use");
    c.InitialiseArmed = true;
    c.Initialise();
    EXPECT_EQ(c.lbl_Diagnosis->Caption(), "Camera is working");
}

TEST_F(Lifecycle, MillisecondClockRunsOnThePlatformClock) {
    TBXTessvikFerroFW& c = Create();
    const int64_t t0 = c.CurrentMilliseconds();
    c.WaitMilliseconds(200);
    const int64_t waited = c.CurrentMilliseconds() - t0;
    EXPECT_GE(waited, 200);
    EXPECT_LT(waited, 2000);
    c.ClockMode = 0;  // the tick-count fallback agrees to within a tick
    EXPECT_NEAR(static_cast<double>(c.CurrentMilliseconds()),
                static_cast<double>(bx::kernel::GetTickCount64()), 5.0);
}
