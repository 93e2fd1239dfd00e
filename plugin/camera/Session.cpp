// The camera session: takes the camera from unknown to open, identified and configured, fills
// the Device page with its identity and rebuilds the panel parts that depend on the camera.
// The same sequence serves the first start and every re-initialisation; each step keeps its
// driver result in LastCameraError, and a step that must stop leaves the fields as they are.
#include <algorithm>
#include <array>
#include <string>

#include "camera/DriverCall.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using camera::Failed;
using camera::kCaptionError;
using camera::kCaptionErrorMessage;
using camera::ShowError;

namespace {

constexpr const char* kSwitchOnAdvice =
    "\nPlease try to switch on (if not on) or switch off then on(if already on) and re-start "
    "the program again.";
constexpr const char* kReadoutReadFailure = "Reading camera readout speed setting failed.";

// Camera type names by driver information 0. The label text is itself a key later (the
// region units of a MicroDot, the exposure minimum of the oldest model).
constexpr std::array<const char*, 9> kCameraTypeNames = {
    "Unknown",      "MicroTessa II or Veridan 1300",
    "Oxi",          "Veridan 1350",
    "Picoline",     "Veridan 1300B",
    "Veridan EX B", "PicolineB",
    "MicroDot",
};
constexpr int32_t kMicroDotType = 8;
constexpr const char* kOldestModel = "MicroTessa II or Veridan 1300";
constexpr double kOldestModelMinExposureUs = 40;

// Top coordinate of the first row of the "Bit and Color selection" group.
constexpr int kDepthGroupTopRow = 31;

std::string CameraTypeName(int32_t type) {
    if (type < 0 || type >= static_cast<int32_t>(kCameraTypeNames.size())) return "Unknown";
    return kCameraTypeNames[static_cast<size_t>(type)];
}

std::string BinningCaption(int factor) {
    return bx::ui::IntToStr(factor) + "x" + bx::ui::IntToStr(factor);
}

// Checks a radio button and makes sure its handler ran once: checking fires OnClick only when
// the button was not checked yet (and only when the handler is bound to it).
template <class Handler>
void CheckAndRun(bx::ui::TRadioButton* button, Handler handler) {
    if (!button->SetChecked(true) || !button->OnClick) handler();
}

// The four binning factors the camera offers, one per binning button, from the binning
// parameter of the block (factory settings).
std::array<int, 4> ReadBinningChoices(TBXTessvikFerroFW& form) {
    KvCamSettings* settings = form.CameraSettings.get();
    std::array<int, 4> choices = {1, 2, 3, 4};
    if (!Failed(form, KvCam_IsSparseTable(settings, KVCAM_PARAM_BINNING))) {
        // The first four entries of the table. A shorter table repeats its largest factor on
        // the remaining buttons, so no button ever offers a factor the camera refuses.
        std::array<int32_t, KVCAM_MAX_SPARSE_ENTRIES> table{};
        uint32_t count = KVCAM_MAX_SPARSE_ENTRIES;
        if (Failed(form, KvCam_GetParamSparseTable(settings, KVCAM_PARAM_BINNING, table.data(),
                                                   &count)) ||
            count == 0) {
            return choices;
        }
        for (size_t i = 0; i < choices.size(); ++i) {
            choices[i] = table[std::min<size_t>(i, count - 1)];
        }
    } else if (!Failed(form, KvCam_IsRangeTable(settings, KVCAM_PARAM_BINNING))) {
        // Four consecutive factors from the range's minimum. A range is contiguous, so each
        // one up to its maximum is accepted; a range narrower than four repeats its maximum.
        int32_t low = 1, high = 0;
        if (Failed(form, KvCam_GetParamMin(settings, KVCAM_PARAM_BINNING, &low)) || low < 1) {
            low = 1;
        }
        const bool haveHigh =
            !Failed(form, KvCam_GetParamMax(settings, KVCAM_PARAM_BINNING, &high)) && high >= low;
        for (size_t i = 0; i < choices.size(); ++i) {
            const int factor = low + static_cast<int>(i);
            choices[i] = haveHigh ? std::min(factor, high) : factor;
        }
    }
    return choices;
}

}  // namespace

bool TBXTessvikFerroFW::InitialiseCamera() {
    namespace ui = bx::ui;
    // Nothing before the settings are loaded; nothing again for a ready camera.
    if (!InitialiseArmed) return false;
    if (CameraReady) return true;

    // A re-initialisation closes the open camera and releases the driver first.
    if (CameraHandle != 0) {
        if (Failed(*this, KvCam_CloseCamera(CameraHandle))) {
            ShowError(std::string("KvCam close error during re-initialising!") + kSwitchOnAdvice,
                      kCaptionErrorMessage);
            return false;
        }
        Failed(*this, KvCam_ReleaseDriver());
        CameraHandle = 0;
    }

    // Load the driver. "Already loaded" gets one release and reload.
    const int32_t loadResult = KvCam_LoadDriver();
    if (Failed(*this, loadResult)) {
        ShowError(std::string("KvCam initialising error!") + kSwitchOnAdvice, kCaptionErrorMessage);
        if (loadResult == KVCAM_ERR_ALREADY_LOADED) {
            Failed(*this, KvCam_ReleaseDriver());
            CameraHandle = 0;
            if (Failed(*this, KvCam_LoadDriver())) {
                ShowError(std::string("KvCam re-initialising error.") + kSwitchOnAdvice,
                          kCaptionErrorMessage);
                return false;
            }
        }
    }

    // The first camera on the bus.
    KvCamCameraInfo cameras[1] = {};
    uint32_t cameraCount = 1;
    if (Failed(*this, KvCam_ListCameras(cameras, &cameraCount)) || cameraCount == 0) {
        ShowError(std::string("No Korvane firewire camera is available.") + kSwitchOnAdvice,
                  kCaptionError);
        return false;
    }

    // Open it. The handle is kept only when the open succeeded, so a failed open never
    // leaves a stale value for the next re-initialisation to close.
    KvCamHandle handle = 0;
    if (Failed(*this, KvCam_OpenCamera(cameras[0].cameraId, &handle))) {
        ShowError(std::string("Camera can not be opened.") + kSwitchOnAdvice, kCaptionError);
        return false;
    }
    CameraHandle = handle;

    // The settings block lives as long as the control.
    if (!CameraSettings) CameraSettings = std::make_unique<KvCamSettings>();
    KvCamSettings* settings = CameraSettings.get();
    settings->size = KVCAM_SETTINGS_SIZE;
    if (Failed(*this, KvCam_ReadSettingsFromCam(CameraHandle, settings))) {
        ShowError("Reading settings failed.", kCaptionError);
    }

    // Trigger mode from the Triggers page; with neither button checked the camera keeps
    // the trigger type it has.
    if (rbtn_FreeRun->Checked()) {
        if (Failed(*this, KvCam_SetParam(settings, KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_FREE_RUN))) {
            ShowError("Setting internal trigger mode failed.", kCaptionError);
            return false;
        }
    } else if (rbtn_ExternalTrigger->Checked()) {
        if (Failed(*this, KvCam_SetParam(settings, KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_EXTERNAL))) {
            ShowError("Setting external trigger mode failed.", kCaptionError);
            return false;
        }
    }

    if (Failed(*this, KvCam_SendSettingsToCam(CameraHandle, settings))) {
        ShowError(
            "Sending settings to camera failed.\n Setting camera to specific trigger mode did "
            "not succeed.",
            kCaptionError);
    }

    // The camera is not ready yet, so this only settles the panel; the speed reaches the
    // camera with the exposure command at the end.
    FastClick();

    int32_t modelB = 0;
    if (Failed(*this, KvCam_GetInfo(CameraHandle, KVCAM_INFO_MODEL_B, &modelB))) {
        ShowError("Reading camera information IsModelB failed.", kCaptionError);
        return false;
    }
    IsModelB = modelB != 0;

    // Versions are preset to all ones so that a failed read shows as such.
    uint16_t driverMajor = 0xFFFF, driverMinor = 0xFFFF;
    Failed(*this, KvCam_Version(&driverMajor, &driverMinor));
    lbl_DriverVersion->SetCaption(ui::IntToStr(driverMajor) + "." + ui::IntToStr(driverMinor));

    SeparateBinningSupported =
        !Failed(*this, KvCam_IsParamSupported(CameraHandle, KVCAM_PARAM_BINNING_H));

    auto info = [this](uint32_t id, int32_t preset) {
        int32_t value = preset;
        Failed(*this, KvCam_GetInfo(CameraHandle, id, &value));
        return value;
    };
    const int32_t firmware = info(KVCAM_INFO_FIRMWARE_VERSION, -1);
    const int32_t firmwareBuild = info(KVCAM_INFO_FIRMWARE_BUILD, -1);
    lbl_FirmwareVersion->SetCaption(ui::IntToStr(firmware) + "." + ui::IntToStr(firmwareBuild));
    lbl_HardwareVersion->SetCaption(ui::IntToStr(info(KVCAM_INFO_HARDWARE_VERSION, -1)));

    int32_t readoutSpeed = 0;
    if (Failed(*this, KvCam_GetParam(settings, KVCAM_PARAM_READOUT_SPEED, &readoutSpeed))) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    lbl_FrameReadOutTime->SetCaption(ReadoutSpeedName(readoutSpeed));

    FullSensorWindow = rbn_1280_1024->Checked();

    const int32_t cameraType = info(KVCAM_INFO_CAMERA_TYPE, -1);
    lbl_CameraType->SetCaption(CameraTypeName(cameraType));
    IsMicroDot = cameraType == kMicroDotType;

    // Exposure limits. Their failure shares the readout-speed text.
    int32_t exposureLimit = 0;
    if (Failed(*this, KvCam_GetParamMin(settings, KVCAM_PARAM_EXPOSURE, &exposureLimit))) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    ExposureMinMicroseconds = exposureLimit;
    if (lbl_CameraType->Caption() == kOldestModel) {
        ExposureMinMicroseconds = kOldestModelMinExposureUs;
    }
    if (Failed(*this, KvCam_GetParamMax(settings, KVCAM_PARAM_EXPOSURE, &exposureLimit))) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    ExposureMaxMicroseconds = exposureLimit;

    // Colour or monochrome sensor.
    IsColourCamera = info(KVCAM_INFO_CCD_TYPE, 0) == 1;
    if (IsColourCamera) {
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

    int32_t cooler = 0;
    if (Failed(*this, KvCam_GetInfo(CameraHandle, KVCAM_INFO_COOLER, &cooler))) {
        ShowError("Reading camera Cooler availability failed.", kCaptionError);
        return false;
    }
    if (cooler == 1) lbl_CCDType->SetCaption(lbl_CCDType->Caption() + " (Cooled)");

    // From here on the camera commands work.
    CameraReady = true;

    // A MicroDot is locked to colour 8-bit.
    if (IsMicroDot) {
        for (ui::TRadioButton* depth : {rbn_RangeHigh, rbn_RangeLow}) {
            depth->SetEnabled(false);
            depth->SetVisible(false);
        }
        CheckAndRun(rbn_RangeLow, [this] { RangeLowClick(); });
        chk_Color->SetEnabled(false);
        chk_Color->SetChecked(true);
        chk_Color->SetTop(kDepthGroupTopRow);
        GroupBox4->SetCaption("Color information");
    }

    // A failed read keeps the depth already known rather than a meaningless one.
    MaxBitDepth = info(KVCAM_INFO_MAX_BIT_DEPTH, MaxBitDepth);
    lbl_SlowScanBitDepth->SetCaption(ui::IntToStr(MaxBitDepth));
    lbl_HighSpeedBitDepth->SetCaption("8");
    rbn_RangeHigh->SetCaption(ui::IntToStr(MaxBitDepth));

    MaxBinning = 4;
    lbl_MaxBinning->SetCaption("4x4");

    // Binning choices from the factory settings, one per binning button.
    settings->size = KVCAM_SETTINGS_SIZE;
    Failed(*this, KvCam_ReadDefaultSettings(CameraHandle, settings));
    BinningChoices = ReadBinningChoices(*this);
    const std::array<ui::TRadioButton*, 4> binningButtons = {rbn_Bin1, rbn_bin2, rbn_bin4,
                                                             rbn_bin8};
    for (size_t i = 0; i < binningButtons.size(); ++i) {
        binningButtons[i]->SetCaption(BinningCaption(BinningChoices[i]));
    }
    lbl_MaxBinning->SetCaption(rbn_bin8->Caption());

    // The checked depth choice sends the image format.
    if (rbn_RangeHigh->Checked()) {
        RangeHighClick();
    } else if (rbn_RangeMid->Checked()) {
        RangeMidClick();
    } else {
        RangeLowClick();
    }

    Acquire8Bit = chk_Acquire8bit->Checked();

    // The Device page shows the true sensor; the square mode then works on 1024 x 1024.
    CcdWidth = info(KVCAM_INFO_CCD_WIDTH, CcdWidth);
    CcdHeight = info(KVCAM_INFO_CCD_HEIGHT, CcdHeight);
    lbl_CCDDimension->SetCaption(ui::IntToStr(CcdWidth) + " x " + ui::IntToStr(CcdHeight));
    rbn_1280_1024->SetCaption("w " + ui::IntToStr(CcdWidth) + " : h " + ui::IntToStr(CcdHeight));
    if (!FullSensorWindow) CcdWidth = CcdHeight = 1024;

    // Grab window and region cover the whole (possibly square) sensor.
    GrabWindowLeft = GrabWindowTop = 0;
    GrabWindowRight = SensorWindowWidth = CcdWidth;
    GrabWindowBottom = SensorWindowHeight = CcdHeight;
    RequestedRoi = AppliedRoi = RoiEdges{1, 1, CcdWidth, CcdHeight};

    // Push gain, offset, region, binning and exposure (with the readout speed).
    SetCameraGain(Brightness);
    SetCameraOffset(Contrast);
    RebuildRegion();
    ApplyRegion();
    UpdateWindowLabel();
    UpdateCameraStatus();

    CameraReady = true;
    return true;
}

void TBXTessvikFerroFW::UpdateWindowLabel() {
    // A zero factor (binning chosen before the camera offered any) is first replaced by 1;
    // SetBinning re-applies the region and comes back here with the factor set.
    if (BinningFactorX == 0) SetBinning(1);
    if (BinningFactorX <= 0 || BinningFactorY <= 0) return;  // no sensible size to show
    const int width = (AppliedRoi.Right - AppliedRoi.Left + 1) / BinningFactorX;
    const int height = (AppliedRoi.Bottom - AppliedRoi.Top + 1) / BinningFactorY;
    lbl_Window->SetCaption(bx::ui::IntToStr(width) + " : " + bx::ui::IntToStr(height));
}

}  // namespace ferro
