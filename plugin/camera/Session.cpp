// The camera session: takes the camera from unknown to open, identified and configured, and
// has the panel rebuild what depends on the camera. The same sequence serves the first start
// and every re-initialisation; each step keeps its driver result in LastCameraError, and a
// step that must stop leaves the fields as they are.
#include <algorithm>
#include <array>
#include <string>

#include "camera/Command.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using camera::CameraCommand;
using camera::Failed;
using camera::kCaptionError;
using camera::kCaptionErrorMessage;
using camera::ShowError;

namespace {

constexpr const char* kSwitchOnAdvice =
    "\nPlease try to switch on (if not on) or switch off then on(if already on) and re-start "
    "the program again.";
constexpr const char* kReadoutReadFailure = "Reading camera readout speed setting failed.";
constexpr int32_t kMicroDotType = 8;
constexpr const char* kOldestModel = "MicroTessa II or Veridan 1300";
constexpr double kOldestModelMinExposureUs = 40;
constexpr int kSquareWindowSide = 1024;

// An information value of the open camera, `preset` when it cannot be read.
int32_t Info(TBXTessvikFerroFW& form, uint32_t id, int32_t preset) {
    int32_t value = preset;
    Failed(form, KvCam_GetInfo(form.CameraHandle, id, &value));
    return value;
}

// Closes a camera left open by an earlier initialisation and releases the driver.
bool CloseForReinitialise(TBXTessvikFerroFW& form) {
    if (form.CameraHandle == 0) return true;
    if (Failed(form, KvCam_CloseCamera(form.CameraHandle))) {
        ShowError(std::string("KvCam close error during re-initialising!") + kSwitchOnAdvice,
                  kCaptionErrorMessage);
        return false;
    }
    Failed(form, KvCam_ReleaseDriver());
    form.CameraHandle = 0;
    return true;
}

// Loads the driver; "already loaded" gets one release and reload.
bool LoadDriver(TBXTessvikFerroFW& form) {
    const int32_t loadResult = KvCam_LoadDriver();
    if (!Failed(form, loadResult)) return true;
    ShowError(std::string("KvCam initialising error!") + kSwitchOnAdvice, kCaptionErrorMessage);
    if (loadResult != KVCAM_ERR_ALREADY_LOADED) return true;  // the camera list tells
    Failed(form, KvCam_ReleaseDriver());
    form.CameraHandle = 0;
    if (Failed(form, KvCam_LoadDriver())) {
        ShowError(std::string("KvCam re-initialising error.") + kSwitchOnAdvice,
                  kCaptionErrorMessage);
        return false;
    }
    return true;
}

// Opens the first camera on the bus. The handle is kept only when the open succeeded, so a
// failed open never leaves a stale value for the next re-initialisation to close.
bool OpenFirstCamera(TBXTessvikFerroFW& form) {
    KvCamCameraInfo cameras[1] = {};
    uint32_t cameraCount = 1;
    if (Failed(form, KvCam_ListCameras(cameras, &cameraCount)) || cameraCount == 0) {
        ShowError(std::string("No Korvane firewire camera is available.") + kSwitchOnAdvice,
                  kCaptionError);
        return false;
    }
    KvCamHandle handle = 0;
    if (Failed(form, KvCam_OpenCamera(cameras[0].cameraId, &handle))) {
        ShowError(std::string("Camera can not be opened.") + kSwitchOnAdvice, kCaptionError);
        return false;
    }
    form.CameraHandle = handle;
    return true;
}

// Reads the camera's settings and writes the trigger mode of the Triggers page; with neither
// button checked the camera keeps the trigger type it has.
bool ReadSettingsAndSetTrigger(TBXTessvikFerroFW& form, CameraCommand& command) {
    if (!form.CameraSettings) form.CameraSettings = std::make_unique<KvCamSettings>();
    if (!command.ReadSettings()) ShowError("Reading settings failed.", kCaptionError);
    if (form.rbtn_FreeRun->Checked()) {
        if (!command.SetParam(KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_FREE_RUN)) {
            ShowError("Setting internal trigger mode failed.", kCaptionError);
            return false;
        }
    } else if (form.rbtn_ExternalTrigger->Checked()) {
        if (!command.SetParam(KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_EXTERNAL)) {
            ShowError("Setting external trigger mode failed.", kCaptionError);
            return false;
        }
    }
    if (!command.Send()) {
        ShowError(
            "Sending settings to camera failed.\n Setting camera to specific trigger mode did "
            "not succeed.",
            kCaptionError);
    }
    // What the camera now does decides how long a frame may wait for its trigger.
    int32_t trigger = KVCAM_TRIGGER_FREE_RUN;
    form.ExternalTriggerActive =
        KvCam_GetParam(form.CameraSettings.get(), KVCAM_PARAM_TRIGGER, &trigger) == KVCAM_OK &&
        trigger == KVCAM_TRIGGER_EXTERNAL;
    return true;
}

// Model, versions, binning support, readout speed, window mode and camera type.
bool ReadIdentity(TBXTessvikFerroFW& form, CameraCommand& command) {
    // The camera is not ready yet, so this only settles the panel; the speed reaches the
    // camera with the exposure command at the end.
    form.FastClick();

    int32_t modelB = 0;
    if (Failed(form, KvCam_GetInfo(form.CameraHandle, KVCAM_INFO_MODEL_B, &modelB))) {
        ShowError("Reading camera information IsModelB failed.", kCaptionError);
        return false;
    }
    form.IsModelB = modelB != 0;

    // Versions are preset to all ones so that a failed read shows as such.
    uint16_t driverMajor = 0xFFFF, driverMinor = 0xFFFF;
    Failed(form, KvCam_Version(&driverMajor, &driverMinor));
    form.ShowDriverVersion(driverMajor, driverMinor);
    form.SeparateBinningSupported =
        !Failed(form, KvCam_IsParamSupported(form.CameraHandle, KVCAM_PARAM_BINNING_H));
    const int32_t firmware = Info(form, KVCAM_INFO_FIRMWARE_VERSION, -1);
    const int32_t firmwareBuild = Info(form, KVCAM_INFO_FIRMWARE_BUILD, -1);
    form.ShowFirmwareVersions(firmware, firmwareBuild, Info(form, KVCAM_INFO_HARDWARE_VERSION, -1));

    int32_t readoutSpeed = 0;
    if (!command.GetParam(KVCAM_PARAM_READOUT_SPEED, readoutSpeed)) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    form.ShowReadoutSpeed(readoutSpeed);
    form.FullSensorWindow = form.rbn_1280_1024->Checked();
    const int32_t cameraType = Info(form, KVCAM_INFO_CAMERA_TYPE, -1);
    form.ShowCameraType(cameraType);
    form.IsMicroDot = cameraType == kMicroDotType;
    return true;
}

// Exposure limits; their failure shares the readout-speed text.
bool ReadExposureLimits(TBXTessvikFerroFW& form) {
    int32_t limit = 0;
    if (Failed(form, KvCam_GetParamMin(form.CameraSettings.get(), KVCAM_PARAM_EXPOSURE, &limit))) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    form.ExposureMinMicroseconds = form.lbl_CameraType->Caption() == kOldestModel
                                       ? kOldestModelMinExposureUs
                                       : static_cast<double>(limit);
    if (Failed(form, KvCam_GetParamMax(form.CameraSettings.get(), KVCAM_PARAM_EXPOSURE, &limit))) {
        ShowError(kReadoutReadFailure, kCaptionError);
        return false;
    }
    form.ExposureMaxMicroseconds = limit;
    return true;
}

// Colour or monochrome sensor, and its cooler.
bool ReadSensorKind(TBXTessvikFerroFW& form) {
    form.IsColourCamera = Info(form, KVCAM_INFO_CCD_TYPE, 0) == 1;
    int32_t cooler = 0;
    const bool coolerKnown =
        !Failed(form, KvCam_GetInfo(form.CameraHandle, KVCAM_INFO_COOLER, &cooler));
    form.ShowSensorKind(form.IsColourCamera, coolerKnown && cooler == 1);
    if (!coolerKnown) {
        ShowError("Reading camera Cooler availability failed.", kCaptionError);
        return false;
    }
    return true;
}

// The four binning factors the camera offers, one per binning button, from the binning
// parameter of the factory settings.
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
        for (size_t i = 0; i < choices.size(); ++i)
            choices[i] = table[std::min<size_t>(i, count - 1)];
    } else if (!Failed(form, KvCam_IsRangeTable(settings, KVCAM_PARAM_BINNING))) {
        // Four consecutive factors from the range's minimum. A range is contiguous, so each
        // one up to its maximum is accepted; a range narrower than four repeats its maximum.
        int32_t low = 1, high = 0;
        if (Failed(form, KvCam_GetParamMin(settings, KVCAM_PARAM_BINNING, &low)) || low < 1)
            low = 1;
        const bool haveHigh =
            !Failed(form, KvCam_GetParamMax(settings, KVCAM_PARAM_BINNING, &high)) && high >= low;
        for (size_t i = 0; i < choices.size(); ++i) {
            const int factor = low + static_cast<int>(i);
            choices[i] = haveHigh ? std::min(factor, high) : factor;
        }
    }
    return choices;
}

// The ready camera's depth, binning choices and image format, as the panel offers them.
void ConfigureForCamera(TBXTessvikFerroFW& form, CameraCommand& command) {
    if (form.IsMicroDot) form.LockPanelToColour8Bit();
    // A failed read keeps the depth already known rather than a meaningless one.
    form.MaxBitDepth = Info(form, KVCAM_INFO_MAX_BIT_DEPTH, form.MaxBitDepth);
    form.ShowBitDepths();
    form.MaxBinning = 4;
    command.ReadDefaults();  // result ignored: the choices fall back to 1..4
    form.BinningChoices = ReadBinningChoices(form);
    form.ShowBinningChoices();
    form.ApplyCheckedDepth();  // sends the image format
    // Colour chosen before the camera was ready (by the settings file) is the format, not the
    // depth button's: without this the camera would send grey frames to a colour grab.
    if (form.chk_Color->Checked() && form.chk_Color->Visible()) form.ColorClick();
    form.Acquire8Bit = form.chk_Acquire8bit->Checked();
}

// The sensor size; the square mode works on 1024 x 1024 while the Device page shows the true
// sensor. The grab window and the region then cover the whole (possibly square) sensor.
void ResetWindowToSensor(TBXTessvikFerroFW& form) {
    form.CcdWidth = Info(form, KVCAM_INFO_CCD_WIDTH, form.CcdWidth);
    form.CcdHeight = Info(form, KVCAM_INFO_CCD_HEIGHT, form.CcdHeight);
    form.ShowSensorSize(form.CcdWidth, form.CcdHeight);
    if (!form.FullSensorWindow) form.CcdWidth = form.CcdHeight = kSquareWindowSide;
    form.GrabWindowLeft = form.GrabWindowTop = 0;
    form.GrabWindowRight = form.SensorWindowWidth = form.CcdWidth;
    form.GrabWindowBottom = form.SensorWindowHeight = form.CcdHeight;
    form.RequestedRoi = form.AppliedRoi = RoiEdges{1, 1, form.CcdWidth, form.CcdHeight};
}

// Gain, offset, region, binning and exposure (with the readout speed) reach the camera.
void PushSettings(TBXTessvikFerroFW& form) {
    form.SetCameraGain(form.Brightness);
    form.SetCameraOffset(form.Contrast);
    form.RebuildRegion();
    form.ApplyRegion();
    form.UpdateWindowLabel();
    form.UpdateCameraStatus();
}

}  // namespace

bool TBXTessvikFerroFW::InitialiseCamera() {
    // Nothing before the settings are loaded; nothing again for a ready camera.
    if (!InitialiseArmed) return false;
    if (CameraReady) return true;
    InitialisationFailed = true;  // until the sequence completes

    // The whole sequence holds the driver; the commands it runs nest inside.
    CameraCommand command(*this);
    if (!command.Held()) return false;
    if (!CloseForReinitialise(*this) || !LoadDriver(*this) || !OpenFirstCamera(*this)) return false;
    if (!ReadSettingsAndSetTrigger(*this, command) || !ReadIdentity(*this, command) ||
        !ReadExposureLimits(*this) || !ReadSensorKind(*this)) {
        return false;
    }

    // From here on the camera commands work.
    CameraReady = true;
    ConfigureForCamera(*this, command);
    ResetWindowToSensor(*this);
    PushSettings(*this);
    CameraReady = true;
    InitialisationFailed = false;
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
