// The exposure entry group: the display refresh that picks a unit for ExposureTime, and the
// fields, spin controls, mode buttons and tick/cross pair a user edits it with.
#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

// A camera whose exposure runs from 10 us to 30 minutes in whole microseconds.
constexpr const char* kCamera = "[exposure]\nmin_us = 10\nmax_us = 1800000000\n";

}  // namespace

class ExposureEntry : public ControlTest {
protected:
    TBXTessvikFerroFW& Open() {
        UseCamera(kCamera);
        TBXTessvikFerroFW& c = CreateAndOpen();
        ui->Clear();
        return c;
    }

    static std::string Trimmed(const bx::ui::TControl* edit) {
        std::string text = edit->Text();
        text.erase(0, text.find_first_not_of(' '));
        return text;
    }
};

TEST_F(ExposureEntry, RefreshFallsToMillisecondsWhenNotWholeSeconds) {
    TBXTessvikFerroFW& c = Open();
    c.rbn_grab_ExposureTime->SetChecked(true);
    c.SetExposureTime(1'500'000);
    c.RefreshExposureDisplay();
    EXPECT_TRUE(c.rbn_grab_ExposureTime1->Checked());
    EXPECT_EQ(Trimmed(c.med_grab_ExposureTime3), "1500");
    EXPECT_EQ(c.ExposureMs, 1500);
    EXPECT_EQ(c.EntryExposure, 1'500'000);
    EXPECT_EQ(c.ExposureTime, 1'500'000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 1'500'000);
}

TEST_F(ExposureEntry, RefreshShowsLargeValuesInMillisecondsEvenInMicrosecondMode) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_ExposureTime2->Checked());
    c.SetExposureTime(150'000);
    c.RefreshExposureDisplay();
    EXPECT_TRUE(c.rbn_grab_ExposureTime1->Checked());
    EXPECT_EQ(Trimmed(c.med_grab_ExposureTime3), "150");
    EXPECT_EQ(c.EntryExposure, 150'000);
    EXPECT_EQ(c.ExposureTime, 150'000);
}

TEST_F(ExposureEntry, RefreshFallsToMicrosecondsWhenNotWholeMilliseconds) {
    TBXTessvikFerroFW& c = Open();
    c.rbn_grab_ExposureTime1->SetChecked(true);
    c.SetExposureTime(2'500);
    c.RefreshExposureDisplay();
    EXPECT_TRUE(c.rbn_ExposureTime2->Checked());
    EXPECT_EQ(c.med_grab_ExposureTime4->Text(), " 2500");
    EXPECT_EQ(c.ExposureUs, 2'500);
    EXPECT_EQ(c.EntryExposure, 2'500);
    EXPECT_EQ(c.ExposureTime, 2'500);
}

TEST_F(ExposureEntry, RefreshSplitsWholeSecondsIntoMinutesAndSeconds) {
    TBXTessvikFerroFW& c = Open();
    c.rbn_grab_ExposureTime->SetChecked(true);
    c.SetExposureTime(125'000'000);
    c.RefreshExposureDisplay();
    EXPECT_TRUE(c.rbn_grab_ExposureTime->Checked());
    EXPECT_EQ(c.med_grab_ExposureTime1->Text(), " 2");
    EXPECT_EQ(c.med_grab_ExposureTime2->Text(), " 5");
    EXPECT_EQ(c.UpDown1->Position(), 125);
    EXPECT_EQ(c.EntryExposure, 125'000'000);
    // A refresh is not typing: the tick/cross pair stays hidden.
    EXPECT_FALSE(c.bb_OK->Visible());
    EXPECT_FALSE(c.bb_Can->Visible());
}

TEST_F(ExposureEntry, EnteringTheMillisecondFieldAppliesItsValue) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_EQ(Trimmed(c.med_grab_ExposureTime3), "40");
    ASSERT_TRUE(c.med_grab_ExposureTime3->SetFocus());
    EXPECT_TRUE(c.rbn_grab_ExposureTime1->Checked());
    EXPECT_FALSE(c.rbn_ExposureTime2->Checked());
    EXPECT_EQ(c.ExposureTime, 40'000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 40'000);
}

TEST_F(ExposureEntry, SecondsApplyOnReturnNotOnLeaving) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.med_grab_ExposureTime2->SetFocus());  // chooses "m : s", applying the 1 s shown
    ASSERT_TRUE(c.rbn_grab_ExposureTime->Checked());
    ASSERT_EQ(c.ExposureTime, 1'000'000);

    ASSERT_TRUE(c.med_grab_ExposureTime2->TypeText("7"));
    EXPECT_TRUE(c.bb_OK->Visible());
    EXPECT_TRUE(c.bb_Can->Visible());
    ASSERT_TRUE(c.med_grab_ExposureTime1->SetFocus());
    EXPECT_EQ(c.ExposureTime, 1'000'000);

    // Return applies, although "m : s" is already the chosen unit.
    ASSERT_TRUE(c.med_grab_ExposureTime2->PressKey(bx::ui::VK_RETURN));
    EXPECT_EQ(c.ExposureTime, 7'000'000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 7'000'000);
    EXPECT_FALSE(c.bb_OK->Visible());
}

TEST_F(ExposureEntry, SpinCarriesSecondsIntoMinutesAndTickAppliesBoth) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_grab_ExposureTime->Click());
    c.UpDown1->SetPosition(59);
    ASSERT_TRUE(c.UpDown1->ClickButton(bx::ui::btNext));
    EXPECT_EQ(c.med_grab_ExposureTime1->Text(), " 1");
    EXPECT_EQ(c.med_grab_ExposureTime2->Text(), " 0");
    EXPECT_TRUE(c.bb_OK->Visible());

    ASSERT_TRUE(c.bb_OK->Click());
    EXPECT_EQ(c.ExposureTime, 60'000'000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 60'000'000);
    EXPECT_FALSE(c.bb_OK->Visible());
    EXPECT_FALSE(c.bb_Can->Visible());
}

TEST_F(ExposureEntry, CrossDiscardsTheEdit) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.med_grab_ExposureTime3->SetFocus());  // 40 ms
    ASSERT_TRUE(c.med_grab_ExposureTime3->TypeText("123"));
    ASSERT_TRUE(c.bb_Can->Click());
    EXPECT_EQ(Trimmed(c.med_grab_ExposureTime3), "40");
    EXPECT_EQ(c.ExposureTime, 40'000);
    EXPECT_FALSE(c.bb_OK->Visible());
}

TEST_F(ExposureEntry, BlankOrNegativeFieldsKeepTheStoredValue) {
    TBXTessvikFerroFW& c = Open();
    c.SetExposureTime(700);
    c.RefreshExposureDisplay();
    ASSERT_TRUE(c.rbn_ExposureTime2->Checked());

    c.med_grab_ExposureTime4->SetText("");
    ASSERT_TRUE(c.med_grab_ExposureTime4->SetFocus());
    ASSERT_TRUE(c.med_grab_ExposureTime3->SetFocus());  // leaving reads the field
    EXPECT_EQ(Trimmed(c.med_grab_ExposureTime4), "700");
    EXPECT_EQ(c.ExposureUs, 700);

    ASSERT_TRUE(c.rbn_ExposureTime2->Click());
    c.med_grab_ExposureTime4->SetText("-5");
    ASSERT_TRUE(c.med_grab_ExposureTime4->PressKey(bx::ui::VK_RETURN));
    EXPECT_EQ(Trimmed(c.med_grab_ExposureTime4), "700");
    EXPECT_EQ(c.ExposureTime, 700);
}

TEST_F(ExposureEntry, LongMinutesDoNotWrapTheExposure) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.med_grab_ExposureTime1->SetFocus());
    ASSERT_TRUE(c.med_grab_ExposureTime1->TypeText("99"));
    ASSERT_TRUE(c.med_grab_ExposureTime2->SetFocus());  // leaving minutes reads them
    ASSERT_TRUE(c.med_grab_ExposureTime2->PressKey(bx::ui::VK_RETURN));
    // 99 minutes do not fit a 32-bit microsecond count; the camera's maximum is taken.
    EXPECT_GT(c.ExposureTime, 0);
    EXPECT_EQ(c.ExposureTime, 1'800'000'000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), 1'800'000'000);
}
