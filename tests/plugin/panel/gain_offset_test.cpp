// Gain and offset: the scroll bars, the hidden spin controls with their "<<" / ">>" buttons
// and "Set to Factory Defaults", against what the simulated camera really holds.
#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

class GainOffset : public ControlTest {
protected:
    TBXTessvikFerroFW& Open(const std::string& camera = {}) {
        UseCamera(camera);
        TBXTessvikFerroFW& c = CreateAndOpen();
        for (bx::ui::TControl* hidden : std::initializer_list<bx::ui::TControl*>{
                 c.ud_Brightness, c.ud_Contrast, c.btn_BrightDown, c.btn_BrightUp,
                 c.btn_ContrastDown, c.btn_ContrastUp})
            hidden->Show();
        ui->Clear();
        return c;
    }
};

TEST_F(GainOffset, ScrollBarsSendGainAndInvertedOffset) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.hsb_Brightness->ScrollTo(500));
    EXPECT_EQ(c.Brightness, 500);
    EXPECT_EQ(c.lbl_BrightnessValue->Caption(), "500");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 500);

    ASSERT_TRUE(c.hsb_Contrast->ScrollTo(100));
    EXPECT_EQ(c.Contrast, 100);
    EXPECT_EQ(c.lbl_ContrastValue->Caption(), "100");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 3995);

    // The ends of the range: 0 on the panel is 4095 at the camera and the other way round.
    ASSERT_TRUE(c.hsb_Contrast->ScrollTo(0));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 4095);
    ASSERT_TRUE(c.hsb_Contrast->ScrollTo(4095));
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 0);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(GainOffset, ScrollingBeforeTheCameraIsReadySendsNothing) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.hsb_Brightness->ScrollTo(700));
    ASSERT_TRUE(c.hsb_Contrast->ScrollTo(900));
    EXPECT_EQ(c.Brightness, 255);
    EXPECT_EQ(c.Contrast, 0);
    EXPECT_EQ(c.lbl_BrightnessValue->Caption(), "255");
}

TEST_F(GainOffset, SpinReleaseMovesTheScrollBarWhichApplies) {
    TBXTessvikFerroFW& c = Open();
    c.ud_Brightness->SetPosition(1000);
    ASSERT_TRUE(c.ud_Brightness->ClickButton(bx::ui::btNext));
    EXPECT_EQ(c.hsb_Brightness->Position(), 1001);
    EXPECT_EQ(c.Brightness, 1001);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 1001);

    c.ud_Contrast->SetPosition(50);
    ASSERT_TRUE(c.ud_Contrast->ClickButton(bx::ui::btPrev));
    EXPECT_EQ(c.Contrast, 49);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 4095 - 49);
}

TEST_F(GainOffset, StepButtonsMoveByTenWithinTheRange) {
    TBXTessvikFerroFW& c = Open();
    c.ud_Brightness->SetPosition(4090);
    ASSERT_TRUE(c.btn_BrightUp->Click());
    EXPECT_EQ(c.Brightness, 4095);
    ASSERT_TRUE(c.btn_BrightUp->Click());
    EXPECT_EQ(c.Brightness, 4095);
    ASSERT_TRUE(c.btn_BrightDown->Click());
    EXPECT_EQ(c.Brightness, 4085);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 4085);

    c.ud_Contrast->SetPosition(5);
    ASSERT_TRUE(c.btn_ContrastDown->Click());
    EXPECT_EQ(c.hsb_Contrast->Position(), 0);
    ASSERT_TRUE(c.btn_ContrastUp->Click());
    EXPECT_EQ(c.Contrast, 10);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 4085);
}

TEST_F(GainOffset, FactoryDefaultsShowTheInvertedOffset) {
    TBXTessvikFerroFW& c = Open("[defaults]\ngain = 300\noffset = 100\n");
    ASSERT_TRUE(c.btn_GainOffsetDefault->Click());
    EXPECT_EQ(c.ud_Contrast->Position(), 3995);
    EXPECT_EQ(c.hsb_Contrast->Position(), 3995);
    EXPECT_EQ(c.Contrast, 3995);
    EXPECT_EQ(c.lbl_ContrastValue->Caption(), "3995");
    EXPECT_EQ(CameraParam(KVCAM_PARAM_OFFSET), 100);

    EXPECT_EQ(c.ud_Brightness->Position(), 300);
    EXPECT_EQ(c.Brightness, 300);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 300);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(GainOffset, FactoryDefaultsChangeNothingWhenTheDriverFails) {
    TBXTessvikFerroFW& c = Open("[defaults]\ngain = 300\noffset = 100\n");
    ASSERT_TRUE(c.hsb_Brightness->ScrollTo(800));
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_READ_DEFAULTS, KVCAMSIM_ANY_ID, 0, 1, 0), KVCAM_OK);
    ASSERT_TRUE(c.btn_GainOffsetDefault->Click());
    EXPECT_NE(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(c.Brightness, 800);
    EXPECT_EQ(c.Contrast, 0);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 800);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}

TEST_F(GainOffset, FactoryDefaultsWithoutACameraDoNothing) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.btn_GainOffsetDefault->Click());
    EXPECT_EQ(c.Brightness, 255);
    EXPECT_EQ(c.Contrast, 0);
    EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
}
