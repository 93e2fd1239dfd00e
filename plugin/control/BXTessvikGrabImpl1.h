// The control form: the one object that holds the camera session, the acquisition settings
// behind the automation properties, the settings panel and the display palette. Every other
// part of the plug-in (camera commands, panel handlers, live video, acquisition, automation)
// is an operation of this form or is handed it.
//
// Thread rule: thread-bound to the host's user-interface thread, except the fields marked
// "shared": the live video thread and the driver's callback thread read and write those, and
// they are atomics with acquire/release ordering. The live video thread and the camera
// commands hand the driver to each other through CameraCommandBusy and FrameInFlight.
#pragma once

#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "control/Events.h"

class BXTessvikFocus;  // the live video thread (plugin/live)
namespace bx::view {
class TBXImageView;
}

namespace ferro {

// A failure raised by a form operation with its fixed English text. The automation boundary
// turns it into an automation error whose description is the text.
class ControlFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure that already carries its automation error: result code and source (for example a
// failed internal consistency check, raised with E_FAIL and the source file).
class AutomationError : public ControlFailure {
public:
    AutomationError(const std::string& message, int32_t code, std::string source)
        : ControlFailure(message), code_(code), source_(std::move(source)) {}
    int32_t Code() const noexcept { return code_; }
    const std::string& Source() const noexcept { return source_; }

private:
    int32_t code_;
    std::string source_;
};

// One palette entry, in the byte order of the image store's LUT: blue, green, red, reserved.
struct PaletteEntry {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    uint8_t Reserved = 0;
    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};
static_assert(sizeof(PaletteEntry) == 4);
using Palette = std::array<PaletteEntry, 256>;

// Fills `palette` with palette `index` (0..7; any other value gives the grey ramp).
void BuildPalette(Palette& palette, int index);

// A region as Left, Top, Right, Bottom (1-based inclusive sensor pixels).
struct RoiEdges {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    friend bool operator==(const RoiEdges&, const RoiEdges&) = default;
};
// A region as the driver holds it: X, Y, Width, Height in driver units.
struct RoiRect {
    int X = 0, Y = 0, Width = 0, Height = 0;
    friend bool operator==(const RoiRect&, const RoiRect&) = default;
};
struct BinningPair {
    int X = 0, Y = 0;
    friend bool operator==(const BinningPair&, const BinningPair&) = default;
};
// The last region the camera accepted, with its binning.
struct SentRoi {
    RoiRect Rect;
    BinningPair Binning;
};

// How long a camera command waits for an in-flight frame before it gives up. Generous: a
// frame can take a long exposure; the bound only keeps a stuck transfer from hanging the UI.
inline constexpr uint32_t kFrameInFlightTimeoutMs = 120'000;

class TBXTessvikFerroFW : public bx::ui::TActiveForm {
public:
    TBXTessvikFerroFW();
    ~TBXTessvikFerroFW() override;

    // ---- Lifecycle (control/Lifecycle.cpp) -----------------------------------------------
    void FormCreate();
    void Initialise();
    void Quit();
    void UpdateCameraStatus();
    void FormDestroy();

    // ---- Settings file (control/Settings.cpp) --------------------------------------------
    // Loads every setting from the INI file at `path` (a missing file reads as empty), arms
    // initialisation and initialises the camera.
    void LoadFromRegistry(const std::string& path);
    // Writes every setting to the file; false when the file could not be written.
    bool SaveToRegistry(const std::string& path);

    // ---- Value setters (control/Lifecycle.cpp) ------------------------------------------
    void SetExposureTime(int value);
    void SetGainValue(int value);
    void SetOffsetValue(int value);
    void SetBinning(int factor);

    // Rewrites AcquisitionPalette in place with palette `index`.
    void SetAcquisitionPalette(int index);

    // ---- Clock (control/Lifecycle.cpp) --------------------------------------------------
    int64_t CurrentMilliseconds() const;
    // Busy-waits until CurrentMilliseconds has advanced by at least n.
    void WaitMilliseconds(int64_t n) const;

    // ---- Camera session (camera/Session.cpp) ---------------------------------------------
    bool InitialiseCamera();
    void UpdateWindowLabel();

    // ---- Camera parameters (camera/Parameters.cpp) ---------------------------------------
    bool SetCameraExposure(double requestedUs);
    bool SetCameraGain(double gain);
    bool SetCameraOffset(double offset);
    bool ApplyRegion();
    void RebuildRegion();
    void StopStreaming();
    void PublishRegion();
    // Raises CameraCommandBusy and waits (bounded) for FrameInFlight to clear. False when the
    // frame never cleared: the busy flag is then cleared again and the command must not run.
    // Commands nest on one thread: an inner Begin/End pair neither waits nor clears the flag;
    // only the outermost EndCameraCommand hands the driver back.
    bool BeginCameraCommand();
    void EndCameraCommand();

    // ---- Panel: depth, colour, readout speed, gain and offset (panel/DepthGain.cpp) -------
    // One depth/speed command: read the settings, set `key` to `value`, send. Each failure
    // shows its text in an "Error" box; on success `onSuccess` updates the control state
    // before the driver is handed back. True when the camera took the setting.
    bool RunCameraCommand(int key, int value, const std::string& readFailure,
                          const std::string& setFailure, const std::string& sendFailure,
                          const std::function<void()>& onSuccess = {});
    void RangeHighClick();    // "12"
    void RangeMidClick();     // "10 bits"
    void RangeLowClick();     // "8"
    void ColorClick();        // "Color"
    void FastClick();         // "Fast"
    void BrightnessChange();  // hsb_Brightness
    void ContrastChange();    // hsb_Contrast
    void GainOffsetDefaultClick();
    void Acquire8bitMouseUp();
    // Speed name for a readout-speed value: 0 "20M", 1 "10M", 2 "5M", 3 "2.5M", else "20M".
    static std::string ReadoutSpeedName(int value);

    // ---- Panel: exposure display and binning selection -----------------------------------
    void RefreshExposureDisplay();
    void SelectBinning(int position);

    // ---- Frame transfer (camera/FrameTransfer.cpp) ---------------------------------------
    // Captures one frame synchronously into `buffer` of `capacity` bytes (grey: the driver's
    // frame size; colour: width x height x 3 bytes; less after MicroDot software binning).
    // Outcome in LastCameraError and GrabErrorAbort. A frame that does not fit is not written
    // (LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL), except that a 16-bit grey frame is
    // narrowed to its top 8 bits when the buffer holds one byte per pixel.
    void GrabFrameToBuffer(void* buffer, size_t capacity);
    // The same for a buffer of one acquisition frame (AcquisitionFrameBytes).
    void GrabFrameToBuffer(void* buffer);
    // Turns the raw Bayer frame already in `buffer` (`capacity` bytes) into 24-bit colour in
    // place; the colour frame is not written when it does not fit.
    void ConvertBayerFrame(void* buffer, size_t capacity, uint32_t rawBytes,
                           const KvCamFrame& descriptor);
    // The same for a buffer of one acquisition frame (AcquisitionFrameBytes).
    void ConvertBayerFrame(void* buffer, uint32_t rawBytes, const KvCamFrame& descriptor);
    // Whether the MicroDot software binning applies to frames now.
    bool SoftwareBinningApplies() const;

    // ---- Acquisition record, Snap and hand-off (acquisition/) ----------------------------
    enum class ImageKind { Single, Sequence };
    std::string BuildAcquisitionHeader(bool withFrameRate) const;
    // Bytes of one frame of the image an acquisition would create now (ImageWidth x
    // ImageHeight at the depth's bytes per pixel, 8-bit when Acquire8Bit is set); 0 for an
    // unsupported depth.
    size_t AcquisitionFrameBytes() const;
    // Creates the image by the type table and writes the creation record (a Single image also
    // gets its dimension labels and the description; the palette is the caller's step). Sets
    // AcquisitionImage (0 when the store refused), BytesPerPixel and CurrentMappingFormat.
    // Fails "Unknown Image Type" (or `unknownTypeText` when given) before creating anything,
    // and "Image Allocation Failure".
    int32_t CreateAcquisitionImage(ImageKind kind, const char* unknownTypeText = nullptr);
    // Copies AcquisitionPalette into the image's LUT (through a zero-filled global block).
    void ApplyAcquisitionPalette(int32_t image) const;
    // End-of-sequence record: dimension labels, one time stamp per frame (milliseconds since
    // the start; frames beyond `timeStamps` read 0) and, with `cut`, the image cut to
    // `framesAcquired` frames (at least one).
    void FinishSequenceRecord(int32_t image, std::span<const double> timeStamps,
                              int framesAcquired, bool cut);
    // Takes one new image from the camera and returns it (0, after a beep, without a session).
    int32_t Snap();
    // The last acquired image; fails "no acquisition image present!" when it is not in the store.
    int32_t GetImage() const;
    // Grabs one frame into frame `index` of a host image; `elapsedMs` gets the milliseconds
    // since the series started (not written when the call does nothing).
    void GrabFrameIntoImage(int32_t image, int32_t index, bool first, double* elapsedMs);

    // ---- Event raise operations (control/Events.cpp) ------------------------------------
    virtual void DoProcessUpdate();
    virtual void DoPreFrameTriggerClick();
    virtual void DoFrameTriggerClick();
    virtual void DoPostFrameTriggerClick();
    virtual void DoPreAcquisitionTriggerClick();
    virtual void DoAcquisitionTriggerClick();
    virtual void DoPostAcquisitionTriggerClick();
    virtual void DoTimeToNextFrameUpdate();
    virtual void DoTimeElapsedUpdate();
    virtual void DoTimeRemainingUpdate();
    virtual void DoTimeToFrameCompletionUpdate();
    virtual void DoFormLiveFrameUpdate();

    // Progress setters: store, then raise the matching event.
    void SetGrabProgress(int value);
    void SetTimeToNextFrame(int value);
    void SetTimeElapsed(int value);
    void SetTimeRemaining(int value);
    void SetTimeToFrameCompletion(int value);

    // The nineteen event slots; the automation object fills them when attached.
    EventSlots Events;
    // Fills the slot of OnLiveFrameUpdate and copies it into the live thread when it exists.
    void SetLiveFrameUpdateHandler(EventHandler handler);
    // Raises one of the seven form events (activate, click, create, double-click, destroy,
    // deactivate, paint) through its slot; any other id does nothing. Returns whether a
    // handler ran.
    bool RaiseFormEvent(EventId id);

    // The host's image view, looked up from ImageWindow (null when unset or unknown).
    bx::view::TBXImageView* View() const;
    // Whether the camera type label names a MicroDot (the label is the key).
    bool CameraTypeIsMicroDot() const;

    // ==== State ===========================================================================

    // Camera session.
    KvCamHandle CameraHandle = 0;
    std::unique_ptr<KvCamSettings> CameraSettings;
    int LastCameraError = 0;
    bool CameraReady = false;
    bool SessionOpen = false;
    bool InitialiseArmed = false;
    std::atomic<bool> CameraCommandBusy{false};  // shared
    std::atomic<bool> FrameInFlight{false};      // shared

    // Camera identity and limits.
    bool IsMicroDot = false;
    bool IsModelB = false;
    bool SeparateBinningSupported = false;
    bool IsColourCamera = false;
    int MaxBitDepth = 12;
    int CcdWidth = 0, CcdHeight = 0;
    bool FullSensorWindow = false;
    int MaxBinning = 0;
    std::array<int, 4> BinningChoices{};
    double ExposureMinMicroseconds = 0, ExposureMaxMicroseconds = 0;
    int ActualExposureMs = 0;

    // Acquisition settings (the automation properties).
    int ExposureTime = 400;
    int FrameRate = 400;
    int16_t Brightness = 0;  // 255 once FormCreate ran
    int16_t Contrast = 0;
    int16_t BinningFactorX = 1, BinningFactorY = 1;
    int GrabWindowLeft = 0, GrabWindowTop = 0;
    int GrabWindowRight = 2000, GrabWindowBottom = 2000;
    int SensorWindowWidth = 2000, SensorWindowHeight = 2000;
    int ImageWidth = 2000, ImageHeight = 2000;
    bool WindowedGrab = false;
    int NumberOfFrames = 10;
    int Camera = 1;
    int BitDepth = 12;
    bool Acquire8Bit = false;
    std::atomic<bool> Abort{false};  // shared: the host may set it from a handler mid-grab
    bool Recycle = false;
    int GrabProgress = 0;
    int TimeToNextFrame = 0;
    int TimeElapsed = 0;
    int TimeRemaining = 0;
    int TimeToFrameCompletion = 0;
    uint32_t ImageWindow = 0;  // 32-bit handle of the host's view in bx::ObjectHandles()

    // Region of interest.
    RoiEdges RequestedRoi;
    BinningPair RoiBinning;
    RoiEdges AppliedRoi;
    RoiRect CameraRoi;
    SentRoi LastSentRoi;
    int RoiWindowed = 0;

    // Settings-file values and controller link.
    int ControllerModel = 0;
    bool ReconnectPort = false;
    intptr_t SerialPort = 0;
    bool ControllerBusy = false;
    int TraceLevel = 0;
    int AutoExposureLevel = 0;
    double AutoExposureTarget = 1.0;
    double FocusMapMin = 0, FocusMapMax = 0;
    double HighSpeedMapMin = 0, HighSpeedMapMax = 0;
    double SlowScanMapMin = 0, SlowScanMapMax = 0;
    int FrameIntervalHours = 0, FrameIntervalMinutes = 0, FrameIntervalSeconds = 0,
        FrameIntervalMs = 0;
    int ExposureHours = 0, ExposureMinutes = 0, ExposureSeconds = 0, ExposureMs = 0,
        ExposureUs = 0;

    // Palette: lives as long as the form, so nothing that may still use it can see it freed.
    Palette AcquisitionPalette{};
    bool PaletteReleased = false;  // teardown ran; the palette is no longer the control's

    // Live video, grab and clock.
    BXTessvikFocus* LiveThread = nullptr;
    std::atomic<bool> LiveActive{false};     // shared
    std::atomic<bool> LiveRequested{false};  // shared
    std::atomic<bool> GrabInProgress{false}; // shared
    int ClockMode = 0;
    int64_t ClockFrequency = 0;

    // Fields owned by the panel, auto-exposure, acquisition and automation.
    bool SettingsUnlocked = false;
    int EntryExposure = 0;
    int EntryFrameInterval = 0;
    bool AutoExposeAbort = false;
    std::atomic<bool> AutoExposeOnly{false};  // shared
    std::atomic<bool> LiveFreeze{false};      // shared
    int32_t AcquisitionImage = 0;
    int BytesPerPixel = 0;
    bool GrabErrorAbort = false;
    std::atomic<bool> PreTriggerRunning{false};
    int DisplayWindow = 0, DisplayWindowLeft = 0, DisplayWindowTop = 0, DisplayWindowWidth = 0,
        DisplayWindowHeight = 0;
    int16_t BlackLevel = 0, WhiteLevel = 0, Saturation = 0, Channel = 0;
    int CurrentMappingFormat = 0;
    bool PreTrigger = false, PostTrigger = false, FrameTrigger = false;
    int PreTriggerFrames = 0, PostTriggerFrames = 0;
    bool DisplayEnabled = false;

    // ==== Panel controls (created by the form definition, control/FormLayout.cpp) ==========
    bx::ui::TPanel* Panel1 = nullptr;
    bx::ui::TPageControl* AcquistionParameters = nullptr;
    bx::ui::TTabSheet* tab_Camera = nullptr;
    bx::ui::TTabSheet* tab_Acquire = nullptr;
    bx::ui::TTabSheet* tab_Triggers = nullptr;
    bx::ui::TTabSheet* tab_Device = nullptr;
    bx::ui::TTabSheet* tab_GrabOptions = nullptr;

    // Camera page: binning, window, depth and colour, gain and offset, auto-exposure.
    bx::ui::TGroupBox* GroupBox3 = nullptr;  // "Binning"
    bx::ui::TRadioButton* rbn_Bin1 = nullptr;
    bx::ui::TRadioButton* rbn_bin2 = nullptr;
    bx::ui::TRadioButton* rbn_bin4 = nullptr;
    bx::ui::TRadioButton* rbn_bin8 = nullptr;
    bx::ui::TScrollBar* hsb_BinningFactorX = nullptr;
    bx::ui::TScrollBar* hsb_BinningFactorY = nullptr;
    bx::ui::TLabel* lbl_BinningFactorX = nullptr;
    bx::ui::TLabel* lbl_BinningFactorY = nullptr;
    bx::ui::TGroupBox* GroupBox10 = nullptr;  // "Window Mode"
    bx::ui::TRadioButton* rbn_1280_1024 = nullptr;
    bx::ui::TRadioButton* rbn_1024_1024 = nullptr;
    bx::ui::TGroupBox* gpb_Window = nullptr;  // "Sub Window"
    bx::ui::TButton* btn_Window = nullptr;
    bx::ui::TLabel* lbl_Window = nullptr;
    bx::ui::TButton* btn_Reset = nullptr;
    bx::ui::TGroupBox* GroupBox4 = nullptr;  // "Bit and Color selection"
    bx::ui::TRadioButton* rbn_RangeHigh = nullptr;
    bx::ui::TRadioButton* rbn_RangeMid = nullptr;
    bx::ui::TRadioButton* rbn_RangeLow = nullptr;
    bx::ui::TCheckBox* chk_Color = nullptr;
    bx::ui::TCheckBox* chk_Fast = nullptr;
    bx::ui::TCheckBox* chk_Acquire8bit = nullptr;
    bx::ui::TMemo* mmo_12bit = nullptr;
    bx::ui::TGroupBox* GroupBox11 = nullptr;  // "Gain and Offset Control"
    bx::ui::TScrollBar* hsb_Brightness = nullptr;
    bx::ui::TScrollBar* hsb_Contrast = nullptr;
    bx::ui::TLabel* lbl_BrightnessValue = nullptr;
    bx::ui::TLabel* lbl_ContrastValue = nullptr;
    bx::ui::TUpDown* ud_Brightness = nullptr;
    bx::ui::TUpDown* ud_Contrast = nullptr;
    bx::ui::TEdit* txt_Brightness = nullptr;
    bx::ui::TEdit* txt_Contrast = nullptr;
    bx::ui::TButton* btn_BrightDown = nullptr;
    bx::ui::TButton* btn_BrightUp = nullptr;
    bx::ui::TButton* btn_ContrastDown = nullptr;
    bx::ui::TButton* btn_ContrastUp = nullptr;
    bx::ui::TButton* btn_GainOffsetDefault = nullptr;
    bx::ui::TGroupBox* GroupBox5 = nullptr;  // "Auto Exposure"
    bx::ui::TLabel* Label16 = nullptr;
    bx::ui::TRadioButton* rbn_100 = nullptr;
    bx::ui::TRadioButton* rbn_75 = nullptr;
    bx::ui::TRadioButton* rbn_50 = nullptr;
    bx::ui::TRadioButton* rbn_25 = nullptr;
    bx::ui::TButton* btn_AutoExpose = nullptr;
    bx::ui::TButton* btn_AutoAccept = nullptr;
    bx::ui::TShape* shp_AutoEx = nullptr;

    // Exposure time group.
    bx::ui::TGroupBox* grp_grab_ExposureTime = nullptr;  // "Exposure Time"
    bx::ui::TRadioButton* rbn_grab_ExposureTime = nullptr;   // "m : s"
    bx::ui::TRadioButton* rbn_grab_ExposureTime1 = nullptr;  // "ms"
    bx::ui::TRadioButton* rbn_ExposureTime2 = nullptr;       // "us"
    bx::ui::TRadioButton* rbn_grab_ExposureTime2 = nullptr;  // hidden "3"
    bx::ui::TRadioButton* rbn_grab_ExposureTime3 = nullptr;  // hidden "4"
    bx::ui::TMaskEdit* med_grab_ExposureTime0 = nullptr;     // hours (hidden)
    bx::ui::TMaskEdit* med_grab_ExposureTime1 = nullptr;     // minutes
    bx::ui::TMaskEdit* med_grab_ExposureTime2 = nullptr;     // seconds
    bx::ui::TMaskEdit* med_grab_ExposureTime3 = nullptr;     // milliseconds
    bx::ui::TMaskEdit* med_grab_ExposureTime4 = nullptr;     // microseconds
    bx::ui::TUpDown* UpDown1 = nullptr;
    bx::ui::TUpDown* UpDown2 = nullptr;
    bx::ui::TUpDown* UpDown3 = nullptr;
    bx::ui::TBitBtn* bb_OK = nullptr;
    bx::ui::TBitBtn* bb_Can = nullptr;
    bx::ui::TLabel* lbl_ActualExposureTime = nullptr;
    bx::ui::TLabel* lbl_ExposureTime = nullptr;

    // Acquire page.
    bx::ui::TEdit* txt_ExposureTime = nullptr;
    bx::ui::TGroupBox* GroupBox12 = nullptr;  // "Frame Interval"
    bx::ui::TRadioButton* rbn_grab_FrameInterval = nullptr;
    bx::ui::TRadioButton* rbn_grab_FrameInterval1 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval1 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval2 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval3 = nullptr;
    bx::ui::TSpeedButton* cmd_EditLock = nullptr;
    bx::ui::TImage* img_Open = nullptr;
    bx::ui::TImage* img_Closed = nullptr;

    // Triggers page.
    bx::ui::TRadioButton* rbtn_FreeRun = nullptr;
    bx::ui::TRadioButton* rbtn_ExternalTrigger = nullptr;
    bx::ui::TEdit* txt_MinTimeout = nullptr;

    // Device page.
    bx::ui::TLabel* lbl_Diagnosis = nullptr;
    bx::ui::TLabel* lbl_CameraType = nullptr;
    bx::ui::TLabel* lbl_CCDType = nullptr;
    bx::ui::TLabel* lbl_CCDDimension = nullptr;
    bx::ui::TLabel* lbl_SlowScanBitDepth = nullptr;
    bx::ui::TLabel* lbl_HighSpeedBitDepth = nullptr;
    bx::ui::TLabel* lbl_MaxBinning = nullptr;
    bx::ui::TLabel* lbl_DriverVersion = nullptr;
    bx::ui::TLabel* lbl_FirmwareVersion = nullptr;
    bx::ui::TLabel* lbl_HardwareVersion = nullptr;
    bx::ui::TLabel* lbl_FrameReadOutTime = nullptr;
    bx::ui::TGroupBox* grp_Controller = nullptr;  // "Controller", never shown
    bx::ui::TComboBox* cbo_ControlPort = nullptr;
    bx::ui::TCheckBox* chk_ConnectAtStart = nullptr;
    bx::ui::TLabel* lbl_ComStatus = nullptr;
    bx::ui::TLabel* lbl_Version = nullptr;

private:
    void CreateControls();  // the form definition (control/FormLayout.cpp)
    // Connect control events to their handlers, one group per source file.
    void BindHandlers();
    void BindCameraHandlers();     // camera/Parameters.cpp: txt_ExposureTime
    void BindDepthGainHandlers();  // panel/DepthGain.cpp
    void BindExposureHandlers();   // panel/ExposureDisplay.cpp
    void BindBinningHandlers();    // panel/Binning.cpp
};

// Module-wide values. Inside the form's members write ferro::ActiveControl: the toolkit's
// form has a member function of the same name.
extern std::atomic<TBXTessvikFerroFW*> ActiveControl;
extern std::atomic<bool> LiveSettingsChanged;
extern std::atomic<bool> FrameDoneFlag;

}  // namespace ferro
