// Binning and window selection: which factor each binning button applies, the grab window
// they clear, the colour box they govern; the window-mode buttons and "Reset" that reopen the
// camera; the sub-window taken from a rectangle drawn on the host's view. All refuse during
// live video.
#include <bxview/headless_view.h>

#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

// Four factors that are not simply 1..4, so the position-to-factor mapping shows.
constexpr const char* kCamera = "[binning]\nkind = sparse\ntable = 1, 2, 4, 8\n";
constexpr const char* kColourCamera =
    "[sensor]\ncolour = yes\n[binning]\nkind = sparse\ntable = 1, 2, 4, 8\n";

}  // namespace

class Binning : public ControlTest {
protected:
    TBXTessvikFerroFW& Open(const char* camera = kCamera) {
        UseCamera(camera);
        TBXTessvikFerroFW& c = CreateAndOpen();
        ui->Clear();
        return c;
    }

    // A sub-window as the "Window" button leaves it, sent to the camera.
    static void DefineWindow(TBXTessvikFerroFW& c) {
        c.GrabWindowLeft = c.GrabWindowTop = 100;
        c.GrabWindowRight = c.GrabWindowBottom = 499;
        c.WindowedGrab = true;
        c.btn_Window->SetCaption("Full Chip");
        c.RebuildRegion();
    }
};

TEST_F(Binning, EachButtonAppliesTheFactorAtItsPosition) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_EQ(c.BinningChoices, (std::array<int, 4>{1, 2, 4, 8}));
    ASSERT_EQ(c.rbn_bin4->Caption(), "4x4");

    ASSERT_TRUE(c.rbn_bin4->Click());  // the third button: the third factor offered
    EXPECT_EQ(c.hsb_BinningFactorX->Position(), 2);
    EXPECT_EQ(c.BinningFactorX, 4);
    EXPECT_EQ(c.BinningFactorY, 4);
    EXPECT_EQ(c.lbl_BinningFactorX->Caption(), "4");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 4);
    EXPECT_EQ(c.ImageWidth, c.CcdWidth / 4);

    ASSERT_TRUE(c.rbn_Bin1->Click());
    EXPECT_EQ(c.BinningFactorX, 1);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 1);
    EXPECT_EQ(c.lbl_Diagnosis->Caption(), "Camera is working");
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(Binning, FirstClickAfterLoadingStillApplies) {
    TBXTessvikFerroFW& c = Open();
    // The form starts with the hidden position at 1 while "1x1" is checked; loading the
    // settings moves it to the file's binning, so "2x2" is a real change.
    ASSERT_EQ(c.hsb_BinningFactorX->Position(), 0);
    ASSERT_TRUE(c.rbn_bin2->Click());
    EXPECT_EQ(c.BinningFactorX, 2);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 2);
}

TEST_F(Binning, ClickOnTheCheckedButtonClearsTheWindowAtTheCamera) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_Bin1->Click());
    DefineWindow(c);
    ASSERT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 400);

    ASSERT_TRUE(c.rbn_Bin1->Click());
    EXPECT_FALSE(c.WindowedGrab);
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), c.CcdWidth);
    EXPECT_EQ(c.ImageWidth, c.CcdWidth);
}

TEST_F(Binning, DuringLiveVideoBeepsAndKeepsTheBinningButClearsTheWindow) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_Bin1->Click());
    DefineWindow(c);

    c.LiveActive = true;
    ASSERT_TRUE(c.rbn_bin8->Click());
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(c.rbn_Bin1->Checked());
    EXPECT_FALSE(c.rbn_bin8->Checked());
    EXPECT_EQ(c.hsb_BinningFactorX->Position(), 0);
    EXPECT_EQ(c.BinningFactorX, 1);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 1);
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_FALSE(c.WindowedGrab);
    EXPECT_EQ(c.GrabWindowLeft, 0);
    EXPECT_EQ(c.GrabWindowRight, 2048);
    EXPECT_EQ(c.GrabWindowBottom, 2048);
    c.LiveActive = false;
}

TEST_F(Binning, ColourIsOfferedUnbinnedOnly) {
    TBXTessvikFerroFW& c = Open(kColourCamera);
    ASSERT_TRUE(c.chk_Color->Click());
    ASSERT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8);

    ASSERT_TRUE(c.rbn_bin2->Click());
    EXPECT_FALSE(c.chk_Color->Checked());
    EXPECT_FALSE(c.chk_Color->Enabled());
    // Unchecking ran the colour handler: back to the chosen depth, choices enabled again.
    EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_MONO8);
    EXPECT_EQ(c.BitDepth, 8);
    EXPECT_TRUE(c.rbn_RangeHigh->Enabled());

    ASSERT_TRUE(c.rbn_Bin1->Click());
    EXPECT_TRUE(c.chk_Color->Enabled());
    EXPECT_FALSE(c.chk_Color->Checked());
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(Binning, BeforeTheCameraReportsItsChoicesTheFactorStaysUsable) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.rbn_bin8->Click());
    EXPECT_EQ(c.hsb_BinningFactorX->Position(), 3);
    EXPECT_EQ(c.BinningFactorX, 1);
    EXPECT_EQ(c.BinningFactorY, 1);
}

TEST_F(Binning, HiddenVerticalChoiceMapsPositionsToFactors) {
    TBXTessvikFerroFW& c = Open();
    c.hsb_BinningFactorY->SetPosition(1);
    EXPECT_EQ(c.BinningFactorX, 2);
    EXPECT_EQ(c.BinningFactorY, 2);
    EXPECT_EQ(c.lbl_BinningFactorY->Caption(), "2");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 2);
}

TEST_F(Binning, PositionsOutsideTheFourButtonsAreIgnored) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_bin2->Click());
    c.SelectBinning(4);
    c.SelectBinning(-1);
    EXPECT_EQ(c.BinningFactorX, 2);
    EXPECT_EQ(c.hsb_BinningFactorX->Position(), 1);
}

using WindowMode = Binning;

TEST_F(WindowMode, SquareModeReopensTheCameraWithA1024Window) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.FullSensorWindow);
    const std::string sensor = c.lbl_CCDDimension->Caption();

    ASSERT_TRUE(c.rbn_1024_1024->Click());
    EXPECT_FALSE(c.FullSensorWindow);
    EXPECT_TRUE(c.rbn_1024_1024->Checked());
    EXPECT_TRUE(c.CameraReady);
    EXPECT_EQ(c.CcdWidth, 1024);
    EXPECT_EQ(c.GrabWindowRight, 1023);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 1024);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_HEIGHT), 1024);
    EXPECT_EQ(c.lbl_CCDDimension->Caption(), sensor);

    ASSERT_TRUE(c.rbn_1280_1024->Click());
    EXPECT_TRUE(c.FullSensorWindow);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 1392);
    EXPECT_EQ(c.lbl_Diagnosis->Caption(), "Camera is working");
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(WindowMode, DuringLiveVideoBeepsAndChangesNothing) {
    TBXTessvikFerroFW& c = Open();
    c.LiveActive = true;
    ASSERT_TRUE(c.rbn_1024_1024->Click());
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(c.rbn_1280_1024->Checked());
    EXPECT_TRUE(c.FullSensorWindow);
    EXPECT_EQ(c.CcdWidth, 1392);
    EXPECT_TRUE(c.CameraReady);
    c.LiveActive = false;
}

TEST_F(WindowMode, ResetReopensTheCameraUnlessLiveVideoRuns) {
    TBXTessvikFerroFW& c = Open();
    // A reopen that cannot open the camera shows that Reset really went to the driver.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_OPEN, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0),
              KVCAM_OK);
    c.LiveActive = true;
    ASSERT_TRUE(c.btn_Reset->Click());
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(c.CameraReady);
    c.LiveActive = false;

    ASSERT_TRUE(c.btn_Reset->Click());
    EXPECT_FALSE(c.CameraReady);
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error");

    // The failed open left the driver loaded: the next reopen reports that load and goes on.
    KvCamSim_ClearFaults();
    ui->Clear();
    ASSERT_TRUE(c.btn_Reset->Click());
    EXPECT_TRUE(c.CameraReady);
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Text.rfind("KvCam initialising error!", 0), 0u);
}

class SubWindow : public Binning {
protected:
    TBXTessvikFerroFW& OpenWithView() {
        TBXTessvikFerroFW& c = Open();
        c.ImageWindow = registration_.handle();
        return c;
    }

    bx::view::THeadlessImageView view_;

private:
    bx::view::ImageViewRegistration registration_{&view_};
};

TEST_F(SubWindow, DrawnRectangleBecomesTheGrabWindowAndTheNextClickClearsIt) {
    TBXTessvikFerroFW& c = OpenWithView();
    view_.PlaceOverlay({100, 50, 499, 349});
    ASSERT_TRUE(c.btn_Window->Click());
    EXPECT_EQ(c.btn_Window->Caption(), "Full Chip");
    EXPECT_TRUE(c.WindowedGrab);
    EXPECT_EQ(c.GrabWindowLeft, 100);
    EXPECT_EQ(c.GrabWindowTop, 50);
    EXPECT_EQ(c.GrabWindowRight, 499);
    EXPECT_EQ(c.GrabWindowBottom, 349);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_X), 100);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 400);
    EXPECT_EQ(c.lbl_Window->Caption(), "400 : 300");

    ASSERT_TRUE(c.btn_Window->Click());
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_FALSE(c.WindowedGrab);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), c.CcdWidth);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(SubWindow, RectangleIsScaledByTheBinning) {
    TBXTessvikFerroFW& c = OpenWithView();
    ASSERT_TRUE(c.rbn_bin2->Click());
    view_.PlaceOverlay({10, 20, 109, 69});
    ASSERT_TRUE(c.btn_Window->Click());
    // Edges are scaled one by one (20..218 sensor pixels): the odd width loses its last
    // binned pixel, and the window published back is the one the camera took.
    EXPECT_EQ(c.GrabWindowLeft, 20);
    EXPECT_EQ(c.GrabWindowTop, 40);
    EXPECT_EQ(c.GrabWindowRight, 217);
    EXPECT_EQ(c.GrabWindowBottom, 137);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_X), 10);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_ROI_WIDTH), 99);
}

TEST_F(SubWindow, TooLargeRectangleSnapsAndAsksForANewOne) {
    TBXTessvikFerroFW& c = OpenWithView();
    ASSERT_EQ(c.GrabWindowRight, c.CcdWidth - 1);
    view_.PlaceOverlay({0, 0, c.CcdWidth + 10, 100});
    const uint64_t imagesShown = view_.CallCount(bx::view::THeadlessImageView::CallKind::Image);

    ASSERT_TRUE(c.btn_Window->Click());
    ASSERT_EQ(ui->BoxCount(), 1u) << BoxTexts();
    EXPECT_EQ(ui->Boxes()[0].Text,
              "The defined window is too large for the present binning mode. \nPlease  "
              "re-define window.");
    EXPECT_EQ(ui->Boxes()[0].Caption, "Error");
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_FALSE(c.WindowedGrab);
    EXPECT_EQ(c.GrabWindowRight, c.CcdWidth - 1);
    EXPECT_EQ(c.GrabProgress, 0);
    EXPECT_GT(view_.CallCount(bx::view::THeadlessImageView::CallKind::Image), imagesShown);
}

TEST_F(SubWindow, WithoutAViewTheButtonBeepsAndTheNextPressClears) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.btn_Window->Click());
    EXPECT_EQ(c.btn_Window->Caption(), "Full Chip");
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_FALSE(c.WindowedGrab);

    ASSERT_TRUE(c.btn_Window->Click());
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_EQ(c.GrabWindowRight, c.CcdWidth - 1);  // no window, cut to the sensor
    EXPECT_FALSE(c.WindowedGrab);
}

TEST_F(SubWindow, DuringLiveVideoOnlyBeeps) {
    TBXTessvikFerroFW& c = OpenWithView();
    view_.PlaceOverlay({100, 50, 499, 349});
    c.LiveActive = true;
    ASSERT_TRUE(c.btn_Window->Click());
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_EQ(c.btn_Window->Caption(), "Window");
    EXPECT_FALSE(c.WindowedGrab);
    c.LiveActive = false;
}
