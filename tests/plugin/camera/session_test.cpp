// Camera session: opening, identifying and configuring the simulated camera, the Device page,
// the binning choices, the square window mode and every failure the session reports.
#include <kvcam/kvcam_sim.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/control_fixture.h"

namespace ferro::testing {
namespace {

const std::string kAdvice =
    "\nPlease try to switch on (if not on) or switch off then on(if already on) and re-start the "
    "program again.";

// A colour camera with every identity value chosen by the test.
constexpr const char* kColourCamera =
    "[camera]\ntype = 4\ncooler = no\nhardware_version = 7\nfirmware_version = 5\n"
    "firmware_build = 99\n[driver]\nversion = 3.4\n"
    "[sensor]\nwidth = 640\nheight = 480\ncolour = yes\nbit_depth = 10\n";

bool DriverLoaded() {
    KvCamCameraInfo info{};
    uint32_t count = 1;
    return KvCam_ListCameras(&info, &count) != KVCAM_ERR_NOT_LOADED;
}

using SessionTest = ControlTest;

TEST_F(SessionTest, NothingTouchesTheDriverBeforeSettingsAreLoaded) {
    TBXTessvikFerroFW& form = Create();
    form.Initialise();
    EXPECT_FALSE(form.InitialiseCamera());
    EXPECT_FALSE(form.SessionOpen);
    EXPECT_FALSE(form.CameraReady);
    EXPECT_EQ(form.CameraHandle, 0u);
    EXPECT_EQ(form.LastCameraError, 0);
    EXPECT_FALSE(DriverLoaded());
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(SessionTest, OpensTheCameraAndFillsTheDevicePage) {
    UseCamera(kColourCamera);
    TBXTessvikFerroFW& form = CreateAndOpen();
    EXPECT_TRUE(form.CameraReady);
    EXPECT_NE(form.CameraHandle, 0u);
    EXPECT_EQ(form.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();

    EXPECT_EQ(form.lbl_CameraType->Caption(), "Picoline");
    EXPECT_EQ(form.lbl_CCDType->Caption(), "Color");
    EXPECT_EQ(form.lbl_CCDDimension->Caption(), "640 x 480");
    EXPECT_EQ(form.lbl_SlowScanBitDepth->Caption(), "10");
    EXPECT_EQ(form.lbl_HighSpeedBitDepth->Caption(), "8");
    EXPECT_EQ(form.rbn_RangeHigh->Caption(), "10");
    EXPECT_EQ(form.lbl_DriverVersion->Caption(), "3.4");
    EXPECT_EQ(form.lbl_FirmwareVersion->Caption(), "5.99");
    EXPECT_EQ(form.lbl_HardwareVersion->Caption(), "7");
    EXPECT_EQ(form.rbn_1280_1024->Caption(), "w 640 : h 480");
    EXPECT_EQ(form.lbl_Window->Caption(), "640 : 480");
    EXPECT_EQ(form.lbl_Diagnosis->Caption(), "Camera is working");
    EXPECT_TRUE(form.chk_Color->Visible());
    EXPECT_TRUE(form.chk_Color->Enabled());
    EXPECT_TRUE(form.IsColourCamera);
    EXPECT_EQ(form.MaxBitDepth, 10);

    // The region covers the sensor and the camera holds it.
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{1, 1, 640, 480}));
    EXPECT_EQ(form.ImageWidth, 640);
    EXPECT_EQ(form.ImageHeight, 480);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 640);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_FREE_RUN);
}

TEST_F(SessionTest, MonochromeCoolerAndExternalTrigger) {
    UseCamera("[camera]\ncooler = yes\n[sensor]\ncolour = no\n");
    TBXTessvikFerroFW& form = Create();
    form.rbtn_ExternalTrigger->SetChecked(true);
    LoadSettings();
    form.Initialise();
    ASSERT_TRUE(form.SessionOpen) << BoxTexts();
    EXPECT_EQ(form.lbl_CCDType->Caption(), "Monochrome (Cooled)");
    EXPECT_FALSE(form.chk_Color->Visible());
    EXPECT_FALSE(form.chk_Color->Checked());
    EXPECT_EQ(form.rbn_RangeHigh->Top(), 31);
    EXPECT_EQ(form.rbn_RangeLow->Top(), 31);
    EXPECT_EQ(form.GroupBox4->Caption(), "Bit Selection");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_EXTERNAL);
}

TEST_F(SessionTest, NeitherTriggerButtonKeepsTheCamerasTriggerType) {
    UseCamera("[defaults]\ntrigger = 5\n");
    TBXTessvikFerroFW& form = Create();
    form.rbtn_FreeRun->SetChecked(false);
    LoadSettings();
    form.Initialise();
    ASSERT_TRUE(form.SessionOpen) << BoxTexts();
    EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_SOFTWARE);
}

TEST_F(SessionTest, ReadyCameraIsNotTouchedAgain) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    const KvCamHandle handle = form.CameraHandle;
    // Any driver traffic would now fail loudly.
    for (int point : {KVCAMSIM_FAULT_CLOSE, KVCAMSIM_FAULT_LIST, KVCAMSIM_FAULT_OPEN,
                      KVCAMSIM_FAULT_READ_SETTINGS, KVCAMSIM_FAULT_SEND_SETTINGS}) {
        KvCamSim_SetFault(point, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    }
    EXPECT_TRUE(form.InitialiseCamera());

    form.Quit();
    EXPECT_FALSE(form.SessionOpen);
    form.Initialise();
    EXPECT_TRUE(form.SessionOpen);
    EXPECT_EQ(form.CameraHandle, handle);
    EXPECT_EQ(form.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(SessionTest, InitialiseWithOpenSessionReappliesRegionAndGain) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    // Someone changes the camera behind the control's back.
    KvCamSettings block{};
    block.size = KVCAM_SETTINGS_SIZE;
    ASSERT_EQ(KvCam_ReadSettingsFromCam(form.CameraHandle, &block), KVCAM_OK);
    ASSERT_EQ(KvCam_SetParam(&block, KVCAM_PARAM_GAIN, 4000), KVCAM_OK);
    ASSERT_EQ(KvCam_SendSettingsToCam(form.CameraHandle, &block), KVCAM_OK);

    form.RequestedRoi = {101, 51, 300, 200};
    form.Initialise();
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), form.Brightness);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_X), 100);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_Y), 50);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 200);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_HEIGHT), 150);
    EXPECT_EQ(form.GrabWindowLeft, 100);
    EXPECT_EQ(form.ImageWidth, 200);
}

TEST_F(SessionTest, ReinitialisationReopensTheCamera) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    const KvCamHandle first = form.CameraHandle;
    EXPECT_TRUE(Reinitialise());
    EXPECT_NE(form.CameraHandle, first);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

// ---- Failures -----------------------------------------------------------------------------

struct Fault {
    int32_t point;
    int32_t id = KVCAMSIM_ANY_ID;
    int32_t count = 1;
    int32_t code = 0;
};

struct FailureRow {
    const char* name;
    Fault fault;
    std::vector<std::pair<std::string, std::string>> boxes;  // text, caption
    bool ready;                                              // what InitialiseCamera answers
};

class SessionFailureTest : public ControlTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(SessionFailureTest, ReportsAndStopsOrContinues) {
    const FailureRow& row = GetParam();
    TBXTessvikFerroFW& form = Create();
    ASSERT_EQ(KvCamSim_SetFault(row.fault.point, row.fault.id, 0, row.fault.count, row.fault.code),
              KVCAM_OK);
    LoadSettings();  // arms and initialises
    EXPECT_EQ(form.CameraReady, row.ready);

    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), row.boxes.size()) << BoxTexts();
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].Text, row.boxes[i].first);
        EXPECT_EQ(boxes[i].Caption, row.boxes[i].second);
        EXPECT_EQ(boxes[i].Buttons(), bx::ui::MB_OK);
    }
    if (!row.ready) {
        // The next request, with the camera behaving again, starts over and succeeds.
        KvCamSim_ClearFaults();
        EXPECT_TRUE(form.InitialiseCamera()) << BoxTexts();
    }
}

const std::string kReadout = "Reading camera readout speed setting failed.";

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SessionFailureTest,
    ::testing::Values(
        FailureRow{"DriverAlreadyLoaded",
                   {KVCAMSIM_FAULT_LOAD},
                   {{"KvCam initialising error!" + kAdvice, "Error Message"}},
                   true},
        FailureRow{"ReloadFails",
                   {KVCAMSIM_FAULT_LOAD, KVCAMSIM_ANY_ID, 2},
                   {{"KvCam initialising error!" + kAdvice, "Error Message"},
                    {"KvCam re-initialising error." + kAdvice, "Error Message"}},
                   false},
        FailureRow{"LoadFailsOutright",
                   {KVCAMSIM_FAULT_LOAD, KVCAMSIM_ANY_ID, 1, KVCAM_ERR_FAILED},
                   {{"KvCam initialising error!" + kAdvice, "Error Message"},
                    {"No Korvane firewire camera is available." + kAdvice, "Error"}},
                   false},
        FailureRow{"ListFails",
                   {KVCAMSIM_FAULT_LIST},
                   {{"No Korvane firewire camera is available." + kAdvice, "Error"}},
                   false},
        FailureRow{"OpenFails",
                   {KVCAMSIM_FAULT_OPEN},
                   {{"Camera can not be opened." + kAdvice, "Error"}},
                   false},
        // On a first start a failed read leaves the block unfilled, so the trigger cannot be
        // set either.
        FailureRow{"FirstReadFails",
                   {KVCAMSIM_FAULT_READ_SETTINGS},
                   {{"Reading settings failed.", "Error"},
                    {"Setting internal trigger mode failed.", "Error"}},
                   false},
        FailureRow{"TriggerFails",
                   {KVCAMSIM_FAULT_SET_PARAM, KVCAM_PARAM_TRIGGER},
                   {{"Setting internal trigger mode failed.", "Error"}},
                   false},
        FailureRow{"SendFails",
                   {KVCAMSIM_FAULT_SEND_SETTINGS},
                   {{"Sending settings to camera failed.\n Setting camera to specific trigger "
                     "mode did not succeed.",
                     "Error"}},
                   true},
        FailureRow{"ModelBFails",
                   {KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_MODEL_B},
                   {{"Reading camera information IsModelB failed.", "Error"}},
                   false},
        FailureRow{"ExposureMinimumFails",
                   {KVCAMSIM_FAULT_GET_MIN, KVCAM_PARAM_EXPOSURE},
                   {{kReadout, "Error"}},
                   false},
        FailureRow{"ExposureMaximumFails",
                   {KVCAMSIM_FAULT_GET_MAX, KVCAM_PARAM_EXPOSURE},
                   {{kReadout, "Error"}},
                   false},
        FailureRow{"CoolerFails",
                   {KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_COOLER},
                   {{"Reading camera Cooler availability failed.", "Error"}},
                   false}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

// Information values only fill labels: a failed read shows as -1 and the sequence goes on.
TEST_F(SessionTest, FailedFirmwareReadShowsMinusOne) {
    KvCamSim_SetFault(KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_FIRMWARE_VERSION, 0, 1, 0);
    TBXTessvikFerroFW& form = CreateAndOpen();
    EXPECT_EQ(form.lbl_FirmwareVersion->Caption().substr(0, 3), "-1.");
}

TEST_F(SessionTest, NoCameraLeavesTheDriverLoaded) {
    UseCamera("[camera]\ncount = 0\n");
    TBXTessvikFerroFW& form = Create();
    LoadSettings();
    EXPECT_FALSE(form.CameraReady);
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "No Korvane firewire camera is available." + kAdvice);
    EXPECT_TRUE(DriverLoaded());
    EXPECT_EQ(form.CameraHandle, 0u);
}

TEST_F(SessionTest, FailureAfterOpenKeepsTheCameraUntilTheNextStart) {
    TBXTessvikFerroFW& form = Create();
    KvCamSim_SetFault(KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_COOLER, 0, 1, 0);
    LoadSettings();
    EXPECT_EQ(form.State(), LifecycleState::NotReady);
    EXPECT_NE(form.CameraHandle, 0u);  // open, not ready
    EXPECT_FALSE(form.CameraReady);
    EXPECT_FALSE(form.SetCameraGain(100));  // commands refuse without a driver call
}

TEST_F(SessionTest, CloseFailureOnReinitialisationStops) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    const KvCamHandle handle = form.CameraHandle;
    KvCamSim_SetFault(KVCAMSIM_FAULT_CLOSE, KVCAMSIM_ANY_ID, 0, 1, 0);
    EXPECT_FALSE(Reinitialise());
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "KvCam close error during re-initialising!" + kAdvice);
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error Message");
    EXPECT_EQ(form.CameraHandle, handle);
    EXPECT_NE(form.LastCameraError, KVCAM_OK);
}

TEST_F(SessionTest, ReadFailureOnReinitialisationReusesTheBlock) {
    CreateAndOpen();
    KvCamSim_SetFault(KVCAMSIM_FAULT_READ_SETTINGS, KVCAMSIM_ANY_ID, 0, 1, 0);
    EXPECT_TRUE(Reinitialise());
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Text, "Reading settings failed.");
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error");
}

TEST_F(SessionTest, UnreadableReadoutSpeedStops) {
    // With neither trigger button and a first read that fails, the unfilled block reaches
    // the readout-speed read.
    TBXTessvikFerroFW& form = Create();
    form.rbtn_FreeRun->SetChecked(false);
    KvCamSim_SetFault(KVCAMSIM_FAULT_READ_SETTINGS, KVCAMSIM_ANY_ID, 0, 1, 0);
    LoadSettings();
    EXPECT_FALSE(form.CameraReady);
    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 3u) << BoxTexts();
    EXPECT_EQ(boxes[2].Text, kReadout);
}

// ---- Identity and choices -------------------------------------------------------------------

TEST_F(SessionTest, CameraTypeNames) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    const std::vector<std::pair<int, std::string>> names = {
        {0, "Unknown"},       {1, "MicroTessa II or Veridan 1300"},
        {2, "Oxi"},           {3, "Veridan 1350"},
        {5, "Veridan 1300B"}, {6, "Veridan EX B"},
        {7, "PicolineB"},     {9, "Unknown"},
        {200, "Unknown"}};
    for (const auto& [type, name] : names) {
        UseCamera("[camera]\ntype = " + std::to_string(type) + "\n");
        ASSERT_TRUE(Reinitialise()) << BoxTexts();
        EXPECT_EQ(form.lbl_CameraType->Caption(), name) << "type " << type;
        EXPECT_FALSE(form.IsMicroDot);
    }
}

TEST_F(SessionTest, OldestModelHasAFortyMicrosecondMinimum) {
    UseCamera("[camera]\ntype = 1\n[exposure]\nmin_us = 10\n");
    TBXTessvikFerroFW& form = CreateAndOpen();
    EXPECT_EQ(form.ExposureMinMicroseconds, 40);

    UseCamera("[camera]\ntype = 3\n[exposure]\nmin_us = 10\nmax_us = 900000\n");
    ASSERT_TRUE(Reinitialise());
    EXPECT_EQ(form.ExposureMinMicroseconds, 10);
    EXPECT_EQ(form.ExposureMaxMicroseconds, 900000);
}

TEST_F(SessionTest, MicroDotIsLockedToColourEightBit) {
    UseCamera("[camera]\ntype = 8\n[sensor]\ncolour = yes\n");
    TBXTessvikFerroFW& form = CreateAndOpen();
    EXPECT_TRUE(form.IsMicroDot);
    EXPECT_EQ(form.lbl_CameraType->Caption(), "MicroDot");
    EXPECT_TRUE(form.rbn_RangeLow->Checked());
    EXPECT_FALSE(form.rbn_RangeLow->Visible());
    EXPECT_FALSE(form.rbn_RangeHigh->Enabled());
    EXPECT_TRUE(form.chk_Color->Checked());
    EXPECT_FALSE(form.chk_Color->Enabled());
    EXPECT_EQ(form.chk_Color->Top(), 31);
    EXPECT_EQ(form.GroupBox4->Caption(), "Color information");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8);
}

struct BinningRow {
    const char* name;
    std::string description;
    std::array<int, 4> choices;
    std::array<std::string, 4> captions;
};

class BinningChoiceTest : public ControlTest, public ::testing::WithParamInterface<BinningRow> {};

TEST_P(BinningChoiceTest, ChoicesAndCaptions) {
    const BinningRow& row = GetParam();
    UseCamera(row.description);
    TBXTessvikFerroFW& form = CreateAndOpen();
    EXPECT_EQ(form.BinningChoices, row.choices);
    EXPECT_EQ(form.rbn_Bin1->Caption(), row.captions[0]);
    EXPECT_EQ(form.rbn_bin2->Caption(), row.captions[1]);
    EXPECT_EQ(form.rbn_bin4->Caption(), row.captions[2]);
    EXPECT_EQ(form.rbn_bin8->Caption(), row.captions[3]);
    EXPECT_EQ(form.lbl_MaxBinning->Caption(), row.captions[3]);
    EXPECT_EQ(form.MaxBinning, 4);

    // Every factor offered is one the camera takes.
    for (int factor : form.BinningChoices) {
        KvCamSettings block{};
        block.size = KVCAM_SETTINGS_SIZE;
        ASSERT_EQ(KvCam_ReadSettingsFromCam(form.CameraHandle, &block), KVCAM_OK);
        EXPECT_EQ(KvCam_SetParam(&block, KVCAM_PARAM_BINNING, factor), KVCAM_OK) << factor;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ThreeKinds, BinningChoiceTest,
    ::testing::Values(BinningRow{"Sparse",
                                 "[binning]\nkind = sparse\ntable = 1, 2, 4, 8, 16\n",
                                 {1, 2, 4, 8},
                                 {"1x1", "2x2", "4x4", "8x8"}},
                      BinningRow{"ShortSparse",
                                 "[binning]\nkind = sparse\ntable = 1, 3\n",
                                 {1, 3, 3, 3},
                                 {"1x1", "3x3", "3x3", "3x3"}},
                      BinningRow{"Range",
                                 "[binning]\nkind = range\nmin = 2\nmax = 16\n",
                                 {2, 3, 4, 5},
                                 {"2x2", "3x3", "4x4", "5x5"}},
                      BinningRow{"NarrowRange",
                                 "[binning]\nkind = range\nmin = 1\nmax = 2\n",
                                 {1, 2, 2, 2},
                                 {"1x1", "2x2", "2x2", "2x2"}},
                      BinningRow{"Neither",
                                 "[binning]\nkind = none\nmin = 1\nmax = 8\n",
                                 {1, 2, 3, 4},
                                 {"1x1", "2x2", "3x3", "4x4"}}),
    [](const ::testing::TestParamInfo<BinningRow>& info) { return info.param.name; });

TEST_F(SessionTest, SquareWindowModeWorksOn1024Pixels) {
    UseCamera("[sensor]\nwidth = 1392\nheight = 1040\n");
    TBXTessvikFerroFW& form = Create();
    LoadSettings("CCD Mode=1024 x 1024\n");
    form.Initialise();
    ASSERT_TRUE(form.SessionOpen) << BoxTexts();
    EXPECT_FALSE(form.FullSensorWindow);
    EXPECT_EQ(form.lbl_CCDDimension->Caption(), "1392 x 1040");
    EXPECT_EQ(form.rbn_1280_1024->Caption(), "w 1392 : h 1040");
    EXPECT_EQ(form.CcdWidth, 1024);
    EXPECT_EQ(form.CcdHeight, 1024);
    EXPECT_EQ(form.SensorWindowWidth, 1024);
    EXPECT_EQ(form.AppliedRoi, (RoiEdges{1, 1, 1024, 1024}));
    EXPECT_EQ(form.ImageWidth, 1024);
    EXPECT_EQ(form.ImageHeight, 1024);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 1024);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_HEIGHT), 1024);
    EXPECT_EQ(form.lbl_Window->Caption(), "1024 : 1024");
}

TEST_F(SessionTest, WindowLabelReplacesAZeroBinning) {
    TBXTessvikFerroFW& form = CreateAndOpen();
    form.BinningFactorX = 0;
    form.UpdateWindowLabel();
    EXPECT_EQ(form.BinningFactorX, 1);
    EXPECT_EQ(form.lbl_Window->Caption(), "1392 : 1040");

    // Before the camera is ready there is nothing to apply, but still no division by zero.
    TBXTessvikFerroFW fresh;
    fresh.BinningFactorX = fresh.BinningFactorY = 0;
    fresh.UpdateWindowLabel();
    EXPECT_EQ(fresh.BinningFactorX, 1);
}

}  // namespace
}  // namespace ferro::testing
