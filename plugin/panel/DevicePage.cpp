// The Device page and the parts of the camera page that follow the camera: identity labels,
// the depth and colour group as the sensor allows it, and the binning captions. Camera
// initialisation reads the values; this file shows them.
#include <array>
#include <string>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using bx::ui::IntToStr;

namespace {

// Camera type names by driver information 0. The label text is itself a key later (the
// region units of a MicroDot, the exposure minimum of the oldest model).
constexpr std::array<const char*, 9> kCameraTypeNames = {
    "Unknown",      "MicroTessa II or Veridan 1300",
    "Oxi",          "Veridan 1350",
    "Picoline",     "Veridan 1300B",
    "Veridan EX B", "PicolineB",
    "MicroDot",
};

// Top coordinate of the first row of the "Bit and Color selection" group.
constexpr int kDepthGroupTopRow = 31;

std::string BinningCaption(int factor) {
    return IntToStr(factor) + "x" + IntToStr(factor);
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

std::string TBXTessvikFerroFW::CameraTypeName(int32_t type) {
    if (type < 0 || type >= static_cast<int32_t>(kCameraTypeNames.size())) return "Unknown";
    return kCameraTypeNames[static_cast<size_t>(type)];
}

void TBXTessvikFerroFW::ShowDriverVersion(uint16_t major, uint16_t minor) {
    lbl_DriverVersion->SetCaption(IntToStr(major) + "." + IntToStr(minor));
}

void TBXTessvikFerroFW::ShowFirmwareVersions(int32_t firmware, int32_t build, int32_t hardware) {
    lbl_FirmwareVersion->SetCaption(IntToStr(firmware) + "." + IntToStr(build));
    lbl_HardwareVersion->SetCaption(IntToStr(hardware));
}

void TBXTessvikFerroFW::ShowReadoutSpeed(int32_t speed) {
    lbl_FrameReadOutTime->SetCaption(ReadoutSpeedName(speed));
}

void TBXTessvikFerroFW::ShowCameraType(int32_t type) {
    lbl_CameraType->SetCaption(CameraTypeName(type));
}

void TBXTessvikFerroFW::ShowSensorKind(bool colour, bool cooled) {
    if (colour) {
        lbl_CCDType->SetCaption("Color");
        chk_Color->SetVisible(true);
        chk_Color->SetEnabled(true);
    } else {
        lbl_CCDType->SetCaption("Monochrome");
        chk_Color->SetVisible(false);
        chk_Color->SetChecked(false);
        rbn_RangeHigh->SetTop(kDepthGroupTopRow);
        rbn_RangeLow->SetTop(kDepthGroupTopRow);
        GroupBox4->SetCaption("Bit Selection");
    }
    if (cooled) lbl_CCDType->SetCaption(lbl_CCDType->Caption() + " (Cooled)");
}

void TBXTessvikFerroFW::LockPanelToColour8Bit() {
    for (bx::ui::TRadioButton* depth : {rbn_RangeHigh, rbn_RangeLow}) {
        depth->SetEnabled(false);
        depth->SetVisible(false);
    }
    rbn_RangeLow->CheckAndClick();
    chk_Color->SetEnabled(false);
    chk_Color->SetChecked(true);
    chk_Color->SetTop(kDepthGroupTopRow);
    GroupBox4->SetCaption("Color information");
}

void TBXTessvikFerroFW::ShowBitDepths() {
    lbl_SlowScanBitDepth->SetCaption(IntToStr(MaxBitDepth));
    lbl_HighSpeedBitDepth->SetCaption("8");
    rbn_RangeHigh->SetCaption(IntToStr(MaxBitDepth));
}

void TBXTessvikFerroFW::ShowBinningChoices() {
    const auto buttons = BinningButtons();
    for (size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->SetCaption(BinningCaption(BinningChoices[i]));
    lbl_MaxBinning->SetCaption(rbn_bin8->Caption());
}

void TBXTessvikFerroFW::ShowSensorSize(int width, int height) {
    lbl_CCDDimension->SetCaption(IntToStr(width) + " x " + IntToStr(height));
    rbn_1280_1024->SetCaption("w " + IntToStr(width) + " : h " + IntToStr(height));
}

}  // namespace ferro
