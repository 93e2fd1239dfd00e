// The "Bit and Color selection" and "Gain and Offset Control" groups: pixel format, colour
// mode, readout speed, gain and offset. Every change is one command against the driver's
// settings block (read it from the camera, change one parameter, send it back), run while
// CameraCommandBusy keeps the live thread from queueing a frame (camera/Command.h).
#include <kvcam/kvcam.h>

#include <string>

#include "camera/Command.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using bx::ui::IntToStr;
using camera::CameraCommand;
using camera::CommandTexts;
using camera::RunParameterCommand;

namespace {

CommandTexts DepthTexts(const char* mode, const char* formatName) {
    const std::string tail =
        std::string("\n\nSetting camera to ") + mode + " mode did not succeed.";
    return {"Reading camera settings failed." + tail,
            std::string("Setting image format to ") + formatName + " failed." + tail,
            "Sending settings to camera failed." + tail};
}

constexpr int kOffsetRange = 4095;  // the camera's offset runs opposite to the panel's
constexpr int kSpinStep = 10;       // the "<<" / ">>" buttons

// The colour format on its own: no messages, the results only go to LastCameraError.
void ApplyBayerFormat(CameraCommand& command) {
    command.ReadSettings();  // a stale block still carries the last state this control sent
    if (!command.Held() || !command.SetParam(KVCAM_PARAM_FORMAT, KVCAM_FORMAT_BAYER8)) return;
    command.Send();
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
    if (!form.CameraIsReady()) return;
    CameraCommand command(form);
    if (!command.Held()) return;
    // A dragged thumb queues many positions; letting them through first sends only the last.
    bx::ui::ProcessMessages();
    const int position = controls.Bar->Position();
    (form.*setValue)(position);
    controls.Label->SetCaption(IntToStr(position));
}

void SpinReleased(TBXTessvikFerroFW& form, ValueControls controls) {
    if (!form.CameraIsReady()) return;
    CameraCommand command(form);
    if (!command.Held()) return;
    controls.Bar->SetPosition(controls.Spin->Position());
}

void StepSpin(ValueControls controls, int delta) {
    controls.Spin->SetPosition(controls.Spin->Position() + delta);  // the spin clamps
    controls.Bar->SetPosition(controls.Spin->Position());
}

}  // namespace

void TBXTessvikFerroFW::RangeHighClick() {
    RunParameterCommand(*this, KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16,
                        DepthTexts("12 bit", "Mono16"), [this] { BitDepth = MaxBitDepth; });
}

void TBXTessvikFerroFW::RangeMidClick() {
    RunParameterCommand(*this, KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16,
                        DepthTexts("10 bit", "Mono16"), [this] { BitDepth = 10; });
}

void TBXTessvikFerroFW::RangeLowClick() {
    if (!CameraIsReady()) return;
    RunParameterCommand(*this, KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO8, DepthTexts("8 bit", "Mono8"),
                        [this] {
                            BitDepth = 8;
                            if (chk_Color->Checked()) ColorClick();
                        });
}

void TBXTessvikFerroFW::SetDepthChoicesEnabled(bool enabled) {
    rbn_RangeHigh->SetEnabled(enabled);
    rbn_RangeMid->SetEnabled(enabled);
    rbn_RangeLow->SetEnabled(enabled);
}

void TBXTessvikFerroFW::ColorClick() {
    if (!CameraIsReady()) return;
    CameraCommand command(*this);
    if (!command.Held()) return;
    if (chk_Color->Checked()) {
        BitDepth = 24;
        SetDepthChoicesEnabled(false);
        // Checking "8" runs its command when it was not chosen yet; that command sees "Color"
        // checked and re-enters here, where "8" is already chosen.
        rbn_RangeLow->SetChecked(true);
        ApplyBayerFormat(command);
    } else {
        ApplyCheckedDepth();
        SetDepthChoicesEnabled(true);
    }
    CopyDepthToLive();
}

void TBXTessvikFerroFW::FastClick() {
    if (!CameraIsReady()) return;
    const bool fast = chk_Fast->Checked();
    const int speed = fast ? 0 : 1;
    const CommandTexts texts{
        "Reading camera settings failed.\n\nSetting camera readout speed did not succeed.",
        fast
            ? "Setting readout speed failed.\n\nSetting camera to full(20M) speed did not succeed."
            : "Setting readout speed failed.\n\nSetting camera to half speed(10M) did not succeed.",
        "Sending readout speed setting to camera failed.\n\nSetting camera to specific readout "
        "speed did not succeed."};
    RunParameterCommand(*this, KVCAM_PARAM_READOUT_SPEED, speed, texts,
                        [this, speed] { ShowReadoutSpeed(speed); });
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
        CameraCommand command(*this);
        if (!command.Held() || !command.ReadDefaults() ||
            !command.GetParam(KVCAM_PARAM_GAIN, gain) ||
            !command.GetParam(KVCAM_PARAM_OFFSET, offset)) {
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

void TBXTessvikFerroFW::ApplyCheckedDepth() {
    if (rbn_RangeHigh->Checked()) {
        RangeHighClick();
    } else if (rbn_RangeMid->Checked()) {
        RangeMidClick();
    } else if (rbn_RangeLow->Checked()) {
        RangeLowClick();
    }
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
