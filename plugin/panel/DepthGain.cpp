// The "Bit and Color selection" and "Gain and Offset Control" groups: pixel format, colour
// mode, readout speed, gain and offset. Every change is one command against the driver's
// settings block (read it from the camera, change one parameter, send it back), run while
// CameraCommandBusy keeps the live thread from queueing a frame.
#include <kvcam/kvcam.h>

#include <string>

#include "camera/DriverCall.h"
#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

using bx::ui::IntToStr;

namespace {

// Failure texts of one command: reading the settings, setting the parameter, sending.
struct CommandTexts {
    std::string Read, Set, Send;
};

CommandTexts DepthTexts(const char* mode, const char* formatName) {
    const std::string tail =
        std::string("\n\nSetting camera to ") + mode + " mode did not succeed.";
    return {"Reading camera settings failed." + tail,
            std::string("Setting image format to ") + formatName + " failed." + tail,
            "Sending settings to camera failed." + tail};
}

constexpr int kOffsetRange = 4095;  // the camera's offset runs opposite to the panel's
constexpr int kSpinStep = 10;       // the "<<" / ">>" buttons

// A panel command's hold on the driver, released on every way out. Holds nest (the colour
// path re-enters itself through the "8" choice): only the outermost one hands the driver back.
class CommandBracket {
public:
    explicit CommandBracket(TBXTessvikFerroFW& form)
        : form_(form), held_(form.BeginCameraCommand()) {}
    ~CommandBracket() {
        if (held_) form_.EndCameraCommand();
    }
    CommandBracket(const CommandBracket&) = delete;
    CommandBracket& operator=(const CommandBracket&) = delete;

    // False when an in-flight frame never cleared: the command must not talk to the driver.
    bool Held() const { return held_; }

private:
    TBXTessvikFerroFW& form_;
    const bool held_;
};

void ShowError(const std::string& text) {
    camera::ShowError(text, camera::kCaptionError);
}

// Reads the camera's current settings into the form's block. Without a block (no camera was
// ever opened) the driver is not handed a null pointer; the read simply fails.
bool ReadSettings(TBXTessvikFerroFW& form) {
    if (!form.CameraSettings) {
        form.LastCameraError = KVCAM_ERR_NULL_POINTER;
        return false;
    }
    form.CameraSettings->size = KVCAM_SETTINGS_SIZE;
    return !camera::Failed(form,
                           KvCam_ReadSettingsFromCam(form.CameraHandle, form.CameraSettings.get()));
}

void CopyDepthToLive(TBXTessvikFerroFW& form) {
    if (form.LiveThread != nullptr) form.LiveThread->DepthBits.store(form.BitDepth);
}

void SetDepthChoicesEnabled(TBXTessvikFerroFW& form, bool enabled) {
    form.rbn_RangeHigh->SetEnabled(enabled);
    form.rbn_RangeMid->SetEnabled(enabled);
    form.rbn_RangeLow->SetEnabled(enabled);
}

// The colour format on its own: no messages, the results only go to LastCameraError.
void ApplyBayerFormat(TBXTessvikFerroFW& form) {
    ReadSettings(form);  // a stale block still carries the last state this control sent
    if (!form.CameraSettings) return;
    if (camera::Failed(form, KvCam_SetParam(form.CameraSettings.get(), KVCAM_PARAM_FORMAT,
                                            KVCAM_FORMAT_BAYER8))) {
        return;
    }
    camera::Failed(form, KvCam_SendSettingsToCam(form.CameraHandle, form.CameraSettings.get()));
}

// Gain or offset: the scroll bar is the value, the spin control and "<<"/">>" move it.
struct ValueControls {
    bx::ui::TScrollBar* Bar;
    bx::ui::TUpDown* Spin;
    bx::ui::TLabel* Label;
};

// The scroll bar moved: the value setter stores it, brings the other controls in line and
// sends it to the camera.
void ApplyScrolledValue(TBXTessvikFerroFW& form, ValueControls controls,
                        void (TBXTessvikFerroFW::*setValue)(int)) {
    if (!form.CameraReady) return;
    CommandBracket bracket(form);
    if (!bracket.Held()) return;
    // A dragged thumb queues many positions; letting them through first sends only the last.
    bx::ui::ProcessMessages();
    const int position = controls.Bar->Position();
    (form.*setValue)(position);
    controls.Label->SetCaption(IntToStr(position));
}

void SpinReleased(TBXTessvikFerroFW& form, ValueControls controls) {
    if (!form.CameraReady) return;
    CommandBracket bracket(form);
    if (!bracket.Held()) return;
    controls.Bar->SetPosition(controls.Spin->Position());
}

void StepSpin(ValueControls controls, int delta) {
    controls.Spin->SetPosition(controls.Spin->Position() + delta);  // the spin clamps
    controls.Bar->SetPosition(controls.Spin->Position());
}

}  // namespace

std::string TBXTessvikFerroFW::ReadoutSpeedName(int value) {
    switch (value) {
        case 1:
            return "10M";
        case 2:
            return "5M";
        case 3:
            return "2.5M";
        default:
            return "20M";
    }
}

bool TBXTessvikFerroFW::RunCameraCommand(int key, int value, const std::string& readFailure,
                                         const std::string& setFailure,
                                         const std::string& sendFailure,
                                         const std::function<void()>& onSuccess) {
    CommandBracket bracket(*this);
    if (!bracket.Held()) return false;
    if (!ReadSettings(*this)) {
        ShowError(readFailure);
        return false;
    }
    if (camera::Failed(*this, KvCam_SetParam(CameraSettings.get(), key, value))) {
        ShowError(setFailure);
        return false;
    }
    if (camera::Failed(*this, KvCam_SendSettingsToCam(CameraHandle, CameraSettings.get()))) {
        ShowError(sendFailure);
        return false;
    }
    if (onSuccess) onSuccess();
    CopyDepthToLive(*this);
    return true;
}

void TBXTessvikFerroFW::RangeHighClick() {
    const CommandTexts texts = DepthTexts("12 bit", "Mono16");
    RunCameraCommand(KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16, texts.Read, texts.Set, texts.Send,
                     [this] { BitDepth = MaxBitDepth; });
}

void TBXTessvikFerroFW::RangeMidClick() {
    const CommandTexts texts = DepthTexts("10 bit", "Mono16");
    RunCameraCommand(KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16, texts.Read, texts.Set, texts.Send,
                     [this] { BitDepth = 10; });
}

void TBXTessvikFerroFW::RangeLowClick() {
    if (!CameraReady) return;
    const CommandTexts texts = DepthTexts("8 bit", "Mono8");
    RunCameraCommand(KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO8, texts.Read, texts.Set, texts.Send,
                     [this] {
                         BitDepth = 8;
                         if (chk_Color->Checked()) ColorClick();
                     });
}

void TBXTessvikFerroFW::ColorClick() {
    if (!CameraReady) return;
    CommandBracket bracket(*this);
    if (!bracket.Held()) return;
    if (chk_Color->Checked()) {
        BitDepth = 24;
        SetDepthChoicesEnabled(*this, false);
        // Checking "8" runs its command when it was not chosen yet; that command sees "Color"
        // checked and re-enters here, where "8" is already chosen.
        rbn_RangeLow->SetChecked(true);
        ApplyBayerFormat(*this);
    } else {
        if (rbn_RangeHigh->Checked()) {
            RangeHighClick();
        } else if (rbn_RangeMid->Checked()) {
            RangeMidClick();
        } else if (rbn_RangeLow->Checked()) {
            RangeLowClick();
        }
        SetDepthChoicesEnabled(*this, true);
    }
    CopyDepthToLive(*this);
}

void TBXTessvikFerroFW::FastClick() {
    if (!CameraReady) return;
    const bool fast = chk_Fast->Checked();
    const int speed = fast ? 0 : 1;
    RunCameraCommand(
        KVCAM_PARAM_READOUT_SPEED, speed,
        "Reading camera settings failed.\n\nSetting camera readout speed did not succeed.",
        fast
            ? "Setting readout speed failed.\n\nSetting camera to full(20M) speed did not succeed."
            : "Setting readout speed failed.\n\nSetting camera to half speed(10M) did not succeed.",
        "Sending readout speed setting to camera failed.\n\nSetting camera to specific readout "
        "speed did not succeed.",
        [this, speed] { lbl_FrameReadOutTime->SetCaption(ReadoutSpeedName(speed)); });
}

void TBXTessvikFerroFW::BrightnessChange() {
    ApplyScrolledValue(*this, {hsb_Brightness, ud_Brightness, lbl_BrightnessValue},
                       &TBXTessvikFerroFW::SetGainValue);
}

void TBXTessvikFerroFW::ContrastChange() {
    ApplyScrolledValue(*this, {hsb_Contrast, ud_Contrast, lbl_ContrastValue},
                       &TBXTessvikFerroFW::SetOffsetValue);
}

void TBXTessvikFerroFW::GainOffsetDefaultClick() {
    int32_t gain = 0;
    int32_t offset = 0;
    {
        CommandBracket bracket(*this);
        if (!bracket.Held() || !CameraSettings) return;
        CameraSettings->size = KVCAM_SETTINGS_SIZE;
        if (camera::Failed(*this, KvCam_ReadDefaultSettings(CameraHandle, CameraSettings.get())) ||
            camera::Failed(*this, KvCam_GetParam(CameraSettings.get(), KVCAM_PARAM_GAIN, &gain)) ||
            camera::Failed(*this,
                           KvCam_GetParam(CameraSettings.get(), KVCAM_PARAM_OFFSET, &offset))) {
            return;
        }
    }
    // The scroll bars apply the values through their own commands.
    ud_Brightness->SetPosition(gain);
    ud_Contrast->SetPosition(kOffsetRange - offset);
    hsb_Brightness->SetPosition(ud_Brightness->Position());
    hsb_Contrast->SetPosition(ud_Contrast->Position());
}

void TBXTessvikFerroFW::Acquire8bitMouseUp() {
    if (LiveActive.load(std::memory_order_acquire)) {
        // The live thread works from the copy taken when streaming last stopped.
        bx::ui::Beep();
        chk_Acquire8bit->SetChecked(Acquire8Bit);
        return;
    }
    mmo_12bit->Show();
    StopStreaming();
}

void TBXTessvikFerroFW::BindDepthGainHandlers() {
    rbn_RangeHigh->OnClick = [this](bx::ui::TObject*) { RangeHighClick(); };
    rbn_RangeMid->OnClick = [this](bx::ui::TObject*) { RangeMidClick(); };
    rbn_RangeLow->OnClick = [this](bx::ui::TObject*) { RangeLowClick(); };
    chk_Color->OnClick = [this](bx::ui::TObject*) { ColorClick(); };
    chk_Fast->OnClick = [this](bx::ui::TObject*) { FastClick(); };

    hsb_Brightness->OnChange = [this](bx::ui::TObject*) { BrightnessChange(); };
    hsb_Contrast->OnChange = [this](bx::ui::TObject*) { ContrastChange(); };
    const ValueControls gain{hsb_Brightness, ud_Brightness, lbl_BrightnessValue};
    const ValueControls offset{hsb_Contrast, ud_Contrast, lbl_ContrastValue};
    ud_Brightness->OnMouseUp = [this, gain](bx::ui::TObject*, bx::ui::TMouseButton,
                                            bx::ui::TShiftState, int,
                                            int) { SpinReleased(*this, gain); };
    ud_Contrast->OnMouseUp = [this, offset](bx::ui::TObject*, bx::ui::TMouseButton,
                                            bx::ui::TShiftState, int,
                                            int) { SpinReleased(*this, offset); };
    btn_BrightDown->OnClick = [gain](bx::ui::TObject*) { StepSpin(gain, -kSpinStep); };
    btn_BrightUp->OnClick = [gain](bx::ui::TObject*) { StepSpin(gain, kSpinStep); };
    btn_ContrastDown->OnClick = [offset](bx::ui::TObject*) { StepSpin(offset, -kSpinStep); };
    btn_ContrastUp->OnClick = [offset](bx::ui::TObject*) { StepSpin(offset, kSpinStep); };
    btn_GainOffsetDefault->OnClick = [this](bx::ui::TObject*) { GainOffsetDefaultClick(); };

    chk_Acquire8bit->OnMouseUp = [this](bx::ui::TObject*, bx::ui::TMouseButton, bx::ui::TShiftState,
                                        int, int) { Acquire8bitMouseUp(); };
    chk_Acquire8bit->OnKeyUp = [this](bx::ui::TObject*, uint16_t&, bx::ui::TShiftState) {
        Acquire8bitMouseUp();
    };
    mmo_12bit->OnClick = [this](bx::ui::TObject*) { mmo_12bit->Hide(); };
}

}  // namespace ferro
