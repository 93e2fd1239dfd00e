#include <functional>
#include <string>

#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

bool DriverLoaded() {
    uint32_t count = 0;
    return KvCam_ListCameras(nullptr, &count) != KVCAM_ERR_NOT_LOADED;
}

}  // namespace

using Lifecycle = ControlTest;

TEST_F(Lifecycle, CreationTouchesNoCamera) {
    TBXTessvikFerroFW& c = Create();
    c.Initialise();  // not armed: still no driver traffic
    EXPECT_FALSE(DriverLoaded());
    EXPECT_FALSE(c.SessionOpen);
    EXPECT_EQ(c.State(), LifecycleState::Created);
    EXPECT_EQ(ActiveControl.load(), &c);
    EXPECT_EQ(ui->BoxCount(), 0u);
}

// What a fresh control holds, and what loading a settings file that does not exist makes of
// it (the camera then opens with the file's defaults). An empty expectation is not checked.
TEST_F(Lifecycle, DefaultsAfterCreationAndAfterLoadingNoFile) {
    using Get = std::function<std::string(const TBXTessvikFerroFW&)>;
    auto number = [](auto get) {
        return Get([get](const TBXTessvikFerroFW& c) { return std::to_string(get(c)); });
    };
    auto flag = [](auto button) {
        return Get([button](const TBXTessvikFerroFW& c) {
            return std::string(button(c)->Checked() ? "checked" : "unchecked");
        });
    };
    struct Row {
        const char* what;
        Get get;
        std::string created, loaded;
    };
    using F = TBXTessvikFerroFW;
    const Row rows[] = {
        {"gain", number([](const F& c) { return c.Brightness.load(); }), "255", "0"},
        {"gain bar", number([](const F& c) { return c.hsb_Brightness->Position(); }), "255", "0"},
        {"gain label", [](const F& c) { return c.lbl_BrightnessValue->Caption(); }, "255", "0"},
        {"offset", number([](const F& c) { return c.Contrast.load(); }), "0", "0"},
        {"offset label", [](const F& c) { return c.lbl_ContrastValue->Caption(); }, "0", "0"},
        {"exposure", number([](const F& c) { return c.ExposureTime.load(); }), "400", ""},
        {"frame rate", number([](const F& c) { return c.FrameRate.load(); }), "400", "0"},
        {"frames", number([](const F& c) { return c.NumberOfFrames.load(); }), "10", "10"},
        {"bit depth", number([](const F& c) { return c.BitDepth.load(); }), "12", "12"},
        {"max bit depth", number([](const F& c) { return c.MaxBitDepth; }), "12", "12"},
        {"grab window right", number([](const F& c) { return c.GrabWindowRight.load(); }), "2000",
         "1391"},
        {"image width", number([](const F& c) { return c.ImageWidth.load(); }), "2000", "1392"},
        {"binning", number([](const F& c) { return c.BinningFactorX.load(); }), "1", "1"},
        {"target", number([](const F& c) { return c.AutoExposureTarget.load(); }), "1.000000",
         "1.000000"},
        {"clock mode", number([](const F& c) { return c.ClockMode; }), "2", "2"},
        {"100 %", flag([](const F& c) { return c.rbn_100; }), "checked", "checked"},
        {"12 bit", flag([](const F& c) { return c.rbn_RangeHigh; }), "checked", "checked"},
        {"8 bit acquire", flag([](const F& c) { return c.chk_Acquire8bit; }), "unchecked",
         "unchecked"},
        {"full sensor", flag([](const F& c) { return c.rbn_1280_1024; }), "checked", "checked"},
        {"port", [](const F& c) { return c.cbo_ControlPort->Text(); }, "NONE", "NONE"},
        {"page", [](const F& c) { return c.AcquistionParameters->ActivePage()->Name(); }, "Camera",
         "Camera"},
        {"triggers tab",
         [](const F& c) { return std::string(c.tab_Triggers->TabVisible() ? "shown" : "hidden"); },
         "hidden", "hidden"},
    };
    TBXTessvikFerroFW& c = Create();
    for (const Row& row : rows)
        EXPECT_EQ(row.get(c), row.created) << "after creation: " << row.what;
    c.LoadFromRegistry(::testing::TempDir() + "bx_no_such_settings_file.ini");
    ASSERT_EQ(c.State(), LifecycleState::Ready) << BoxTexts();
    for (const Row& row : rows) {
        if (!row.loaded.empty()) {
            EXPECT_EQ(row.get(c), row.loaded) << "after loading: " << row.what;
        }
    }
}

// The lifecycle table: each way into a state, and the flags that make it.
TEST_F(Lifecycle, StatesFollowTheTable) {
    TBXTessvikFerroFW& c = Create();
    EXPECT_EQ(c.State(), LifecycleState::Created);
    KvCamSim_SetFault(KVCAMSIM_FAULT_OPEN, KVCAMSIM_ANY_ID, 0, 1, 0);
    LoadSettings();  // arms; the open fails
    EXPECT_EQ(c.State(), LifecycleState::NotReady);
    EXPECT_FALSE(c.CameraIsReady());
    c.Initialise();  // the next request starts over and succeeds
    EXPECT_EQ(c.State(), LifecycleState::Ready);
    EXPECT_TRUE(c.CameraIsReady(NotReady::Beep, true));
    c.Quit();  // the session is orthogonal to the state
    EXPECT_EQ(c.State(), LifecycleState::Ready);
    ui->Clear();
    EXPECT_FALSE(c.CameraIsReady(NotReady::Beep, true));
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(Reinitialise());
    EXPECT_EQ(c.State(), LifecycleState::Ready);
    c.FormDestroy();
    EXPECT_EQ(c.State(), LifecycleState::TornDown);
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
    LoadSettings();
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
