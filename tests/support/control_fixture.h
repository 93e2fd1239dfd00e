// Test fixture for the control: a fresh simulated camera, scripted message boxes, a warped
// clock, and helpers to arm and open the camera and to read back what the camera holds.
#pragma once

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <gtest/gtest.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <memory>
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro::testing {

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        KvCamSim_Reset();
        savedWarp_ = bx::kernel::TimeWarp();
        bx::kernel::SetTimeWarp(50);
        ui = std::make_shared<bx::ui::ScriptedUi>();
        previousUi_ = bx::ui::SetUiBackend(ui);
    }

    void TearDown() override {
        control.reset();
        bx::ui::SetUiBackend(previousUi_);
        bx::kernel::SetTimeWarp(savedWarp_);
        KvCamSim_Reset();
    }

    // Chooses the simulated camera for the next driver load (INI text; empty: the default).
    void UseCamera(const std::string& description) {
        ASSERT_EQ(KvCamSim_UseDescription(description.empty() ? nullptr : description.c_str()),
                  KVCAM_OK)
            << KvCamSim_LastError();
    }

    // Creates the control as a host does (no camera traffic yet).
    TBXTessvikFerroFW& Create() {
        control = std::make_unique<TBXTessvikFerroFW>();
        return *control;
    }

    // Arms initialisation (what loading settings does) and opens the session.
    TBXTessvikFerroFW& CreateAndOpen() {
        Create();
        control->InitialiseArmed = true;
        control->Initialise();
        EXPECT_TRUE(control->SessionOpen) << "camera did not open; boxes: " << BoxTexts();
        return *control;
    }

    // The camera's settings as it holds them now (read through a separate block).
    int32_t CameraParam(uint32_t id) const {
        KvCamSettings block{};
        block.size = KVCAM_SETTINGS_SIZE;
        EXPECT_EQ(KvCam_ReadSettingsFromCam(control->CameraHandle, &block), KVCAM_OK);
        int32_t value = -1;
        EXPECT_EQ(KvCam_GetParam(&block, id, &value), KVCAM_OK);
        return value;
    }

    // Every message box text shown so far, joined for failure messages.
    std::string BoxTexts() const {
        std::string all;
        for (const auto& box : ui->Boxes()) all += "[" + box.ShownCaption() + "] " + box.Text + "\n";
        return all;
    }

    std::shared_ptr<bx::ui::ScriptedUi> ui;
    std::unique_ptr<TBXTessvikFerroFW> control;

private:
    std::shared_ptr<bx::ui::UiBackend> previousUi_;
    double savedWarp_ = 1;
};

}  // namespace ferro::testing
