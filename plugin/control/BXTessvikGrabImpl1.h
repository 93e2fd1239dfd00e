// The control form: the one object that holds the camera session, the acquisition settings
// behind the automation properties, the settings panel and the display palette. Its state is
// ControlState (control/ControlState.h), its panel PanelControls (control/PanelControls.h);
// this header lists its operations, grouped by the folder that implements them.
//
// Thread rule: every operation runs on the host's user-interface thread, except those marked
// "also live thread": the auto-exposure pass of the live video thread calls them too. What
// makes that safe is written at the head of control/ControlState.h and camera/Command.h.
#pragma once

#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "control/ControlState.h"
#include "control/Events.h"
#include "control/Failures.h"
#include "control/PanelControls.h"

namespace bx::view {
class TBXImageView;
}

namespace ferro {

// The lifecycle states (the table is at the head of control/Lifecycle.cpp).
enum class LifecycleState { Created, Armed, Ready, NotReady, TornDown };

// How an operation that needs a ready camera reacts when there is none.
enum class NotReady { Silent, Beep };

class TBXTessvikFerroFW : public bx::ui::TActiveForm, public ControlState, public PanelControls {
public:
    TBXTessvikFerroFW();
    ~TBXTessvikFerroFW() override;

    // ---- Lifecycle (control/Lifecycle.cpp) -----------------------------------------------
    void FormCreate();
    void Initialise();
    void Quit();
    void UpdateCameraStatus();  // also live thread
    void FormDestroy();
    LifecycleState State() const;
    // The one guard of operations that need a ready camera (and, with `needsSession`, an
    // open session): true when they may go on; otherwise reacts as told and answers false.
    bool CameraIsReady(NotReady reaction = NotReady::Silent, bool needsSession = false) const;

    // ---- Value setters (control/Lifecycle.cpp) ------------------------------------------
    void SetExposureTime(int value);  // also live thread
    void SetGainValue(int value);
    void SetOffsetValue(int value);
    void SetBinning(int factor);
    // Rewrites AcquisitionPalette in place with palette `index`.
    void SetAcquisitionPalette(int index);

    // ---- Clock (control/Lifecycle.cpp; any thread) ----------------------------------------
    int64_t CurrentMilliseconds() const;
    // Busy-waits until CurrentMilliseconds has advanced by at least n.
    void WaitMilliseconds(int64_t n) const;

    // The host's image view, looked up from ImageWindow (null when unset or unknown).
    bx::view::TBXImageView* View() const;
    // Whether the camera type label names a MicroDot (the label is the key). Any thread.
    bool CameraTypeIsMicroDot() const;

    // ---- Settings file (control/Settings.cpp) --------------------------------------------
    // Loads every setting from the INI file at `path` (a missing file reads as empty), arms
    // initialisation and initialises the camera; the saved binning is applied once the camera
    // has told its choices.
    void LoadFromRegistry(const std::string& path);
    // Writes every setting to the file, the exposure and frame interval fields first brought
    // in line with the values in use (so a load gives them back); false when the file could
    // not be written.
    bool SaveToRegistry(const std::string& path);
    // One setting as a save would write it now.
    struct SettingText {
        std::string Key, Value;
    };
    // Every setting a save writes, in its writing order, with the text it would write (the
    // entry fields are first brought in line, as a save does).
    std::vector<SettingText> SettingsAsText();
    // The one section of the settings file.
    static const std::string& SettingsSection();

    // ---- Events (control/Events.cpp; any thread) ------------------------------------------
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
    // Raises one of the seven form events (activate, click, create, double-click, destroy,
    // deactivate, paint) through its slot; any other id does nothing. Returns whether a
    // handler ran.
    bool RaiseFormEvent(EventId id);

    // ---- Camera session (camera/Session.cpp) ---------------------------------------------
    bool InitialiseCamera();
    void UpdateWindowLabel();

    // ---- Serial controller link (camera/SerialLink.cpp) ---------------------------------
    // Closes an open port; then opens the named one ("" opens nothing) with the controller's
    // line settings and time-outs. True when the port is open.
    bool OpenControllerPort(const std::string& name);
    // Writes `text` and reads one reply line (up to a carriage return, 30 characters at
    // most) into `reply`; the trace goes to lbl_Diagnosis. False without an open port or reply.
    bool SendControllerCommand(const std::string& text, std::string& reply);
    // Asks the controller for its version and shows it in lbl_Version: 0 shown (or no port),
    // 1 no response and cancelled, 2 retry, 3 unrecognised reply and cancelled.
    int QueryControllerVersion();
    // cbo_ControlPort's change: opens the chosen port, asks the version, re-initialises.
    void ControlPortChange(bx::ui::TObject* sender);

    // ---- Camera parameters (camera/Parameters.cpp) ---------------------------------------
    bool SetCameraExposure(double requestedUs);  // also live thread
    bool SetCameraGain(double gain);             // also live thread
    bool SetCameraOffset(double offset);         // also live thread
    bool ApplyRegion();                          // also live thread
    void RebuildRegion();
    void StopStreaming();  // also live thread
    void PublishRegion();  // also live thread

    // ---- Frame transfer (camera/FrameTransfer.cpp; also live thread) ---------------------
    // Captures one frame synchronously into `buffer` of `capacity` bytes (grey: the driver's
    // frame size; colour: width x height x 3 bytes; less after MicroDot software binning).
    // Returns the outcome, which also goes to LastCameraError (GrabErrorAbort tells whether
    // the user aborted). A frame that does not fit is not written (KVCAM_ERR_BUFFER_TOO_SMALL),
    // except that a 16-bit grey frame is narrowed to its top 8 bits when the buffer holds one
    // byte per pixel. With no ready camera nothing happens (LastCameraError keeps its value) and
    // the result is KVCAM_ERR_INVALID_HANDLE.
    int32_t GrabFrameToBuffer(void* buffer, size_t capacity);
    // The same for a buffer of one acquisition frame (AcquisitionFrameBytes).
    int32_t GrabFrameToBuffer(void* buffer);
    // Turns the raw Bayer frame already in `buffer` (`capacity` bytes) into 24-bit colour in
    // place; the colour frame is not written when it does not fit.
    void ConvertBayerFrame(void* buffer, size_t capacity, uint32_t rawBytes,
                           const KvCamFrame& descriptor);
    // The same for a buffer of one acquisition frame (AcquisitionFrameBytes).
    void ConvertBayerFrame(void* buffer, uint32_t rawBytes, const KvCamFrame& descriptor);
    // Whether the MicroDot software binning applies to frames now.
    bool SoftwareBinningApplies() const;
    // How long a frame may take to arrive, in milliseconds: its exposure and `graceMs`; in
    // external trigger mode its exposure and the user's trigger time-out instead.
    int64_t FrameWaitBoundMs(int64_t graceMs) const;

    // ---- Panel: depth, colour, readout speed, gain and offset (panel/DepthGain.cpp) -------
    void RangeHighClick();    // "12"
    void RangeMidClick();     // "10 bits"
    void RangeLowClick();     // "8"
    void ColorClick();        // "Color"
    void FastClick();         // "Fast"; also live thread (every exposure change runs it)
    void BrightnessChange();  // hsb_Brightness
    void ContrastChange();    // hsb_Contrast
    void GainOffsetDefaultClick();
    void Acquire8bitMouseUp();
    // Runs the handler of the checked depth choice: "12", else "10 bits", else "8".
    void ApplyCheckedDepth();
    // The three depth choices ("12", "10 bits", "8") together. Also live thread.
    void SetDepthChoicesEnabled(bool enabled);

    // ---- Panel: the Device page and the camera-dependent panel (panel/DevicePage.cpp) -----
    // Speed name for a readout-speed value: 0 "20M", 1 "10M", 2 "5M", 3 "2.5M", else "20M".
    static std::string ReadoutSpeedName(int value);
    // Camera type name for the driver's camera type (the name is a key later on).
    static std::string CameraTypeName(int32_t type);
    void ShowDriverVersion(uint16_t major, uint16_t minor);
    void ShowFirmwareVersions(int32_t firmware, int32_t build, int32_t hardware);
    void ShowReadoutSpeed(int32_t speed);  // also live thread
    void ShowCameraType(int32_t type);
    void ShowSensorKind(bool colour, bool cooled);
    void LockPanelToColour8Bit();  // a MicroDot: colour 8-bit only
    void ShowBitDepths();
    void ShowBinningChoices();
    void ShowSensorSize(int width, int height);

    // ---- Panel: exposure entry and labels (panel/ExposureDisplay.cpp) --------------------
    void RefreshExposureDisplay();  // also live thread
    // The exposure labels in the chosen unit for a requested and the actual exposure; when
    // the camera took another value it becomes ExposureTime, drawn in red. Also live thread.
    void ShowExposureLabels(double requestedUs, int32_t actualUs);

    // ---- Panel: binning and window (panel/Binning.cpp) -----------------------------------
    void SelectBinning(int position);

    // ---- Panel: frame interval, triggers and edit lock (panel/GrabOptions.cpp) -----------
    // The frame interval fields of the checked unit give FrameRate again: a host that set
    // FrameRate itself gets the fields rewritten (the unit changes when they cannot hold it).
    void RefreshFrameIntervalFields();

    // ---- Panel: auto-exposure (panel/AutoExposure.cpp) -----------------------------------
    // One auto-exposure run: grabs frames into `buffer` (the live thread's display buffer,
    // AcquisitionFrameBytes() long) until the exposure settles, a limit is reached or 40
    // frames were taken. Runs on the live thread while streaming is stopped; also host thread.
    void AutoExpose(void* buffer);
    // rbn_100, rbn_75, rbn_50, rbn_25: the first checked sets the target.
    void AutoExposureTargetClick();
    void AutoAcceptClick();  // btn_AutoAccept

    // ---- Live video (live/BXTessvikFocus.cpp) --------------------------------------------
    // btn_AutoExpose: "Set" asks for an auto-exposure pass (starting live video for that pass
    // when it is not running); while a run is going its caption reads "Stop" and a click
    // ends the run.
    void AutoExposeClick();
    // Fills the slot of OnLiveFrameUpdate and copies it into the live thread when it exists.
    void SetLiveFrameUpdateHandler(EventHandler handler);
    // A camera command sent new settings while live video runs: the live thread restarts its
    // stream (its frame count starts over, LiveSettingsChanged is raised). Also live thread.
    void LiveSettingsSent();
    // Copies BitDepth and Acquire8Bit into a running live thread. Also live thread.
    void CopyDepthToLive();
    // Copies the six display mapping limits into a running live thread.
    void CopyMappingToLive();
    // Teardown: ends and deletes the live thread, whatever state it is in, so it never
    // outlives the control.
    void EndLiveThread();

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
    // The header part of the creation record: default header, display range by depth, name.
    void WriteCreationHeader(int32_t image) const;
    // Copies AcquisitionPalette into the image's LUT (through a zero-filled global block).
    void ApplyAcquisitionPalette(int32_t image) const;
    // End-of-sequence record: dimension labels, one time stamp per frame (milliseconds since
    // the start; frames beyond `timeStamps` read 0) and, with `cut`, the image cut to
    // `framesAcquired` frames (at least one).
    void FinishSequenceRecord(int32_t image, std::span<const double> timeStamps, int framesAcquired,
                              bool cut);
    // Takes one new image from the camera and returns it (0, after a beep, without a session).
    // A frame the camera did not deliver fails "Unable To Grab Frame"; that image is deleted.
    int32_t Snap();
    // The last acquired image; fails "no acquisition image present!" when it is not in the store.
    int32_t GetImage() const;
    // Grabs one frame into frame `index` of a host image; `elapsedMs` gets the milliseconds
    // since the series started (not written when the call does nothing). What is written is
    // sized by the host image's own frame; a frame that does not fit, or that the camera did
    // not deliver, fails "Unable To Grab Frame".
    void GrabFrameIntoImage(int32_t image, int32_t index, bool first, double* elapsedMs);

    // ---- Sequences (acquisition/Grab.cpp, Sequence.cpp, DiskSequence.cpp) --------------
    // Acquires NumberOfFrames frames, one every FrameRate milliseconds (none: as fast as the
    // camera delivers), into one three-dimensional image with a time stamp per frame; with
    // Recycle it overwrites the frames in turn until aborted. Progress goes out through
    // GrabProgress and the time values; host calls arrive while it dispatches messages.
    // Returns the image (also in AcquisitionImage), or 0 when none resulted (no camera, or
    // an abort before any frame was completed). An aborted sequence keeps the frames
    // completed so far. A frame the camera fails to deliver (it is queued again twice first),
    // or a disk write that fails (written again twice first), ends the sequence: the image
    // keeps the frames before it, and the call then fails with the reason ("Unable To Grab
    // Frame" with the driver's result in LastCameraError, "Unable To Write Frame To Disk").
    int32_t Grab();
    // The in-memory paths: 1 on success, 0 when the Grab ends without an image.
    int RunStreamingSequence();
    int RunDirectSequence();
    // The disk path: the image, or 0 when it was deleted. Ends the Grab itself.
    int32_t RunDiskSequence(int32_t image);
    // Ends the pre-trigger phase of a running Grab (and the disk path's start gate); the
    // timed frames follow. Does nothing when no Grab waits.
    void PreTriggerClick();

private:
    // Connect control events to their handlers, one group per panel file.
    void BindHandlers();
    void BindDepthGainHandlers();     // panel/DepthGain.cpp
    void BindExposureHandlers();      // panel/ExposureDisplay.cpp
    void BindBinningHandlers();       // panel/Binning.cpp
    void BindAutoExposureHandlers();  // panel/AutoExposure.cpp
    void BindLiveHandlers();          // live/BXTessvikFocus.cpp
    void BindControllerHandlers();    // camera/SerialLink.cpp
    void BindGrabOptionsHandlers();   // panel/GrabOptions.cpp
};

// Stops live video (DisableLiveVideo, Quit); always 0 (live/BXTessvikFocus.cpp).
int StopLive(TBXTessvikFerroFW& control);

}  // namespace ferro
