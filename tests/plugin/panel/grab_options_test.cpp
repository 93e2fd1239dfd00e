// The frame interval fields and their units, the trigger buttons that reopen the camera, the
// trigger time-out and the edit lock.
#include <bxplatform/kernel.h>

#include "fixtures/acquisition_fixture.h"

using namespace ferro;
using ferro::testing::AcquisitionTest;
using ferro::testing::FailureText;

class GrabOptions : public AcquisitionTest {
protected:
    // The interval fields are on a hidden group, so they are driven the way focus moves do.
    static void Enter(bx::ui::TMaskEdit* field, const std::string& text) {
        field->OnEnter(field);
        field->SetText(text);
        field->OnExit(field);
    }
};

TEST_F(GrabOptions, IntervalFieldsGiveTheFrameRateOfTheirUnit) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    Enter(c.med_grab_FrameInterval, "1");
    Enter(c.med_grab_FrameInterval1, "2");
    Enter(c.med_grab_FrameInterval2, "3");
    EXPECT_TRUE(c.rbn_grab_FrameInterval->Checked());
    EXPECT_EQ(c.FrameRate, 3'723'000);
    EXPECT_EQ(c.EntryFrameInterval, 3'723'000);

    // Out of range or no number: the stored value stays and is shown again.
    struct Case {
        bx::ui::TMaskEdit* TBXTessvikFerroFW::*field;
        const char* text;
        const char* shown;
    };
    const Case refused[] = {{&TBXTessvikFerroFW::med_grab_FrameInterval1, "75", "2"},
                            {&TBXTessvikFerroFW::med_grab_FrameInterval2, "60", "3"},
                            {&TBXTessvikFerroFW::med_grab_FrameInterval, "-4", "1"},
                            {&TBXTessvikFerroFW::med_grab_FrameInterval3, "x", "0"}};
    for (const Case& test : refused) {
        Enter(c.*test.field, test.text);
        EXPECT_EQ((c.*test.field)->Text(), test.shown) << test.text;
    }
    EXPECT_EQ(c.FrameIntervalMinutes, 2);
    EXPECT_EQ(c.FrameIntervalSeconds, 3);

    // Entering the milliseconds field switches to its unit; Return reads it too.
    c.med_grab_FrameInterval3->OnEnter(c.med_grab_FrameInterval3);
    c.med_grab_FrameInterval3->SetText("250");
    uint16_t key = bx::ui::VK_RETURN;
    c.med_grab_FrameInterval3->OnKeyDown(c.med_grab_FrameInterval3, key, 0);
    EXPECT_TRUE(c.rbn_grab_FrameInterval1->Checked());
    EXPECT_EQ(c.FrameRate, 250);
    // Checking a unit computes from what each unit's fields hold.
    c.rbn_grab_FrameInterval->SetChecked(true);
    EXPECT_EQ(c.FrameRate, 3'723'000);
}

TEST_F(GrabOptions, TriggerButtonsReopenTheCameraUnlessLiveVideoRuns) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    ASSERT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_FREE_RUN);
    const uint32_t first = c.CameraHandle;
    c.rbtn_ExternalTrigger->SetChecked(true);
    EXPECT_TRUE(c.CameraReady) << BoxTexts();
    EXPECT_NE(c.CameraHandle, first) << "the camera was opened again";
    EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_EXTERNAL);
    EXPECT_TRUE(c.ExternalTriggerActive);

    c.LiveActive = true;
    ui->Clear();
    c.rbtn_FreeRun->SetChecked(true);
    c.LiveActive = false;
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_TRUE(c.rbtn_ExternalTrigger->Checked()) << "the refused choice is undone";
    EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_EXTERNAL);
}

TEST_F(GrabOptions, TriggerTimeOutIsTakenOnReturnAndRefusedDuringLiveVideo) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    auto press = [&](char key) {
        c.txt_MinTimeout->OnKeyPress(c.txt_MinTimeout, key);
        return key;
    };
    c.txt_MinTimeout->SetText("30");
    EXPECT_EQ(press('\r'), 0);
    EXPECT_EQ(c.ExternalTriggerTimeoutS, 30);
    c.txt_MinTimeout->SetText("soon");
    EXPECT_THROW(press('\r'), bx::ui::EConvertError);
    c.LiveActive = true;
    EXPECT_EQ(press('5'), 0);
    c.LiveActive = false;
    EXPECT_EQ(ui->BeepCount(), 1u);
}

TEST_F(GrabOptions, UnlockingAsksFirstLockingDoesNot) {
    TBXTessvikFerroFW& c = CreateAndOpen();
    std::vector<bool> told;
    c.EditLockChanged = [&](bool unlocked) { told.push_back(unlocked); };
    ASSERT_NE(c.img_Open->Picture(), c.img_Closed->Picture());
    ui->Clear();
    ui->QueueAnswers({bx::ui::IDCANCEL, bx::ui::IDOK});
    // Cancelled, unlocked, locked again without a question.
    const bool unlocked[] = {false, true, false};
    for (bool expected : unlocked) {
        c.cmd_EditLock->OnClick(c.cmd_EditLock);
        EXPECT_EQ(c.SettingsUnlocked, expected);
        EXPECT_EQ(c.cmd_EditLock->Glyph(), (expected ? c.img_Open : c.img_Closed)->Picture());
    }
    ASSERT_EQ(ui->BoxCount(), 2u);
    EXPECT_EQ(ui->Boxes()[0].Text, "Warning - Changing These Settings Affects Existing Protocols");
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

// A single frame on an external trigger waits for its pulse past the driver's own grab
// time-out, up to the user's time-out; then the user is asked at once.
TEST_F(GrabOptions, ASnapWaitsForItsTriggerAsLongAsTheUserAllows) {
    bx::kernel::SetTimeWarp(5);  // the pulses stay inside the time-out on a busy machine
    struct Case {
        const char* trigger;
        int timeoutS;
        size_t boxes;
    };
    const Case cases[] = {
        {"[trigger]\ngrab_timeout_ms = 100\nexternal_period_ms = 2500\n", 5, 0},
        {"[trigger]\ngrab_timeout_ms = 100\n", 2, 1},
    };
    for (const Case& test : cases) {
        const std::string camera = std::string(ferro::testing::kSmallCountingCamera) + test.trigger;
        TBXTessvikFerroFW& c = OpenWithView(camera.c_str());
        c.ExternalTriggerTimeoutS = test.timeoutS;
        c.rbtn_ExternalTrigger->SetChecked(true);
        ASSERT_TRUE(c.ExternalTriggerActive) << BoxTexts();
        ui->Clear();
        ui->QueueAnswer(bx::ui::IDABORT);
        const int64_t start = c.CurrentMilliseconds();
        const std::string failure = FailureText([&] { c.Snap(); });
        EXPECT_EQ(ui->BoxCount(), test.boxes) << test.trigger << BoxTexts();
        if (test.boxes == 0) {
            EXPECT_EQ(failure, "<no failure>");
        } else {
            const int64_t waited = c.CurrentMilliseconds() - start;
            EXPECT_GE(waited, test.timeoutS * 1000);
            EXPECT_LT(waited, test.timeoutS * 5000) << "asked once the time-out had passed";
        }
    }
}
