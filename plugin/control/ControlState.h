// The control's state: every field the control form holds, grouped as the control's design
// groups them (session, identity and limits, acquisition settings, region, settings-file
// values, palette, live/grab/clock, fields of the panel and acquisition). TBXTessvikFerroFW
// derives from this base; the operations are declared in control/BXTessvikGrabImpl1.h.
//
// Thread rule. Three threads touch the state:
//   host thread      the host's user-interface thread. Every operation runs here unless its
//                    declaration says otherwise.
//   live thread      the live video worker, and the auto-exposure pass it runs, which calls
//                    ApplyRegion, SetExposureTime / SetCameraExposure, GrabFrameToBuffer,
//                    RefreshExposureDisplay and the progress setters from that thread.
//   callback thread  the driver's completion thread; it writes FrameDoneFlag only.
// What makes their sharing safe, group by group below:
//   - Lone values that the live thread writes, or reads while the host thread may write
//     them, are std::atomic (marked "atomic"). They are read and written whole; no two of
//     them are ever taken to be consistent with each other.
//   - The driver's settings block and the region group are touched only under the driver
//     hand-off of camera/Command.h: a camera command (which owns CameraCommandBusy) writes
//     them; a command or a frame transfer (which owns FrameInFlight) reads them. The
//     hand-off excludes a command on one thread from a command or a frame transfer on the
//     other. On the host thread they may also be read whenever live video is not running.
//   - Fields marked "host" are written on the host thread only, and only while live video is
//     not running (the operations that change them refuse while it runs, or run before it
//     can start); the live thread may read them, or takes copies when it starts.
//   - Panel controls (control/PanelControls.h) may be changed from either thread: the toolkit
//     makes each property change safe.
#pragma once

#include <bxplatform/serial.h>
#include <kvcam/kvcam.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "control/Events.h"
#include "control/Palette.h"

class BXTessvikFocus;  // the live video thread (live/BXTessvikFocus.h)

namespace ferro {

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

class ControlState {
public:
    // ---- Camera session ------------------------------------------------------------------
    KvCamHandle CameraHandle = 0;                   // host
    std::unique_ptr<KvCamSettings> CameraSettings;  // driver hand-off
    std::atomic<int> LastCameraError{0};            // atomic: result of the latest driver call
    bool CameraReady = false;                       // host
    bool SessionOpen = false;                       // host
    bool InitialiseArmed = false;                   // host
    // The last camera initialisation ended in failure (Not ready rather than Armed).
    bool InitialisationFailed = false;  // host
    // The driver hand-off (camera/Command.h): a command owns CameraCommandBusy, a frame
    // transfer owns FrameInFlight. Sequentially consistent, as the hand-off needs.
    std::atomic<bool> CameraCommandBusy{false};
    std::atomic<bool> FrameInFlight{false};
    // Which thread owns CameraCommandBusy, and how deeply its commands nest.
    std::atomic<std::thread::id> CommandOwner{};
    int CommandDepth = 0;  // touched by the owner only
    // The external controller's port: INVALID_SERIAL_HANDLE when not open, 0 when cleared.
    bx::kernel::SerialHandle SerialPort = bx::kernel::INVALID_SERIAL_HANDLE;  // host
    uint8_t ControllerBusy = 0;  // host: a command was sent and its reply line is awaited
    bool ReconnectPort = false;  // host: the port list was changed by the user

    // ---- Camera identity and limits (host: written by initialisation) ---------------------
    bool IsMicroDot = false;
    bool IsModelB = false;
    bool SeparateBinningSupported = false;
    bool IsColourCamera = false;
    int MaxBitDepth = 12;
    int CcdWidth = 0, CcdHeight = 0;
    bool FullSensorWindow = false;
    int MaxBinning = 0;
    std::array<int, 4> BinningChoices{};
    // Atomic: the settings file may replace the maximum while live video runs.
    std::atomic<double> ExposureMinMicroseconds{0}, ExposureMaxMicroseconds{0};
    std::atomic<int> ActualExposureMs{0};

    // ---- Acquisition settings: the values behind the automation properties (atomic) -------
    std::atomic<int> ExposureTime{400};
    std::atomic<int> FrameRate{400};
    std::atomic<int16_t> Brightness{0};  // 255 once FormCreate ran
    std::atomic<int16_t> Contrast{0};
    std::atomic<int16_t> BinningFactorX{1}, BinningFactorY{1};
    std::atomic<int> GrabWindowLeft{0}, GrabWindowTop{0};
    std::atomic<int> GrabWindowRight{2000}, GrabWindowBottom{2000};
    std::atomic<int> SensorWindowWidth{2000}, SensorWindowHeight{2000};
    std::atomic<int> ImageWidth{2000}, ImageHeight{2000};
    std::atomic<bool> WindowedGrab{false};
    std::atomic<int> NumberOfFrames{10};
    std::atomic<int> BitDepth{12};
    std::atomic<bool> Acquire8Bit{false};
    std::atomic<bool> Abort{false};  // the host may set it from an event handler mid-grab
    // Grab overwrites its frames in turn until aborted.
    std::atomic<bool> Recycle{false};
    // Grab runs a pre-trigger phase before its timed frames.
    std::atomic<bool> PreTrigger{false};
    // The pre-trigger phase (or the disk path's start gate) runs; clearing it ends the phase.
    std::atomic<bool> PreTriggerRunning{false};
    std::atomic<int> GrabProgress{0};
    std::atomic<int> TimeToNextFrame{0};
    std::atomic<int> TimeElapsed{0};
    std::atomic<int> TimeRemaining{0};
    std::atomic<int> TimeToFrameCompletion{0};
    uint32_t ImageWindow = 0;  // host: 32-bit handle of the host's view in bx::ObjectHandles()

    // ---- Region of interest (driver hand-off) ----------------------------------------------
    RoiEdges RequestedRoi;
    BinningPair RoiBinning;
    RoiEdges AppliedRoi;
    RoiRect CameraRoi;
    SentRoi LastSentRoi;
    int RoiWindowed = 0;
    // A refused region's binning button is running its handler, which may apply a region of
    // its own; a second refusal then must not start the fallback again.
    bool RegionFallbackRunning = false;

    // ---- Settings-file values (host, except where atomic) ----------------------------------
    int ControllerModel = 0;
    int TraceLevel = 0;
    int AutoExposureLevel = 0;
    std::atomic<double> AutoExposureTarget{1.0};
    // Set by the popup menu's "Show/Hide Maximum AutoExposure Dialog"; nothing reads it yet.
    bool ShowMaximumExposureDialog = false;  // host
    double FocusMapMin = 0, FocusMapMax = 0;
    double HighSpeedMapMin = 0, HighSpeedMapMax = 0;
    double SlowScanMapMin = 0, SlowScanMapMax = 0;
    int FrameIntervalHours = 0, FrameIntervalMinutes = 0, FrameIntervalSeconds = 0,
        FrameIntervalMs = 0;
    std::atomic<int> ExposureHours{0}, ExposureMinutes{0}, ExposureSeconds{0}, ExposureMs{0},
        ExposureUs{0};
    // The frame interval the four fields give in their checked unit (ms); FrameRate takes it.
    int EntryFrameInterval = 0;
    // How long a frame may wait for its external trigger, in seconds: the user's own bound.
    std::atomic<int> ExternalTriggerTimeoutS{1000};
    // The camera was last initialised in external trigger mode (set by InitialiseCamera).
    std::atomic<bool> ExternalTriggerActive{false};
    // The edit lock: settings that affect existing protocols are unlocked.
    bool SettingsUnlocked = false;
    // Told of every change of the edit lock (true: unlocked); it changes nothing else.
    std::function<void(bool unlocked)> EditLockChanged;

    // ---- Palette (host) ----------------------------------------------------------------
    // Lives as long as the form, so nothing that may still use it can see it freed.
    Palette AcquisitionPalette{};
    bool PaletteReleased = false;  // teardown ran; the palette is no longer the control's

    // ---- Live video, grab and clock ----------------------------------------------------------
    // The live thread, owned through this pointer (see live/BXTessvikFocus.h). Host.
    BXTessvikFocus* LiveThread = nullptr;
    // Serialises stopping live video between the host thread and the live thread's own stop
    // after an auto-exposure-only pass.
    std::mutex LiveStopMutex;
    std::atomic<bool> LiveActive{false};
    std::atomic<bool> LiveRequested{false};
    std::atomic<bool> GrabInProgress{false};
    // The next live start runs one auto-exposure pass and then ends live video.
    std::atomic<bool> AutoExposeOnly{false};
    // Live video shows one frame and then idles until stopped.
    std::atomic<bool> LiveFreeze{false};
    // Cleared when an auto-exposure run starts; set when a limit ends it (or to end it early).
    std::atomic<bool> AutoExposeAbort{false};
    int ClockMode = 0;           // written once, in FormCreate
    int64_t ClockFrequency = 0;  // written once, in FormCreate

    // ---- Fields of the panel and the acquisition engine --------------------------------------
    std::atomic<int> EntryExposure{0};  // exposure computed from the exposure entry fields
    // The exposure entry fields and their spin controls are being brought in line, so their
    // change handlers must not echo into each other.
    std::atomic<bool> ExposureEntrySyncing{false};
    int32_t AcquisitionImage = 0;       // host
    std::atomic<int> BytesPerPixel{0};  // auto-exposure writes it too
    std::atomic<bool> GrabErrorAbort{false};
    int CurrentMappingFormat = 0;  // host
    bool DisplayEnabled = false;   // host

    // ---- Values only the automation interface stores (host) ---------------------------------
    int Camera = 1;  // camera model property value, 1..4
    int16_t BlackLevel = 0, WhiteLevel = 0, Saturation = 0, Channel = 0;
    bool PostTrigger = false, FrameTrigger = false;
    // Only whether a count was given is kept (1 or 0); nothing reads them.
    int PreTriggerFrames = 0, PostTriggerFrames = 0;
    // A window the host named, with its screen rectangle when it was named; nothing reads them.
    uint32_t DisplayWindow = 0;
    int DisplayWindowLeft = 0, DisplayWindowTop = 0, DisplayWindowWidth = 0,
        DisplayWindowHeight = 0;
    // The view the window selection draws on: the one ImageWindow names.
    uint32_t SelectionView = 0;
    // When the current series of GrabFrameIntoImage calls started (0 before the first).
    int64_t SeriesStartMs = 0;  // host

    // The nineteen event slots; the automation object fills them when attached.
    EventSlots Events;
};

// Module-wide values. Inside the form's members write ferro::ActiveControl: the toolkit's
// form has a member function of the same name.
class TBXTessvikFerroFW;
extern std::atomic<TBXTessvikFerroFW*> ActiveControl;
extern std::atomic<bool> LiveSettingsChanged;
extern std::atomic<bool> FrameDoneFlag;

}  // namespace ferro
