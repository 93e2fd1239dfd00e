// The camera-command helper: the one way the control reads, changes and sends the driver's
// settings block, and the driver hand-off between camera commands and frame transfers.
//
// The hand-off. Two flags of the control's state, sequentially consistent:
//   CameraCommandBusy  owned by one camera command at a time, on any thread; commands nest on
//                      the thread that owns it (a region change re-sends gain, offset and
//                      exposure inside its own hold). The live thread queues no frame while it
//                      is set.
//   FrameInFlight      owned by a frame transfer (GrabFrameToBuffer; the live thread while a
//                      queued frame is on its way) while a frame is captured.
// A command raises CameraCommandBusy (waiting while another thread's command owns it), then
// waits for FrameInFlight to clear. A frame transfer raises FrameInFlight, then looks at
// CameraCommandBusy and, when another thread's command owns it, lowers its flag and waits.
// Each side raises its own flag before it reads the other's, so a command and a frame
// transfer on different threads never talk to the driver at once, and two commands on
// different threads never share the settings block. Every wait is bounded by
// kHandOffTimeoutMs: a side that gives up does not run, and says so by its result.
//
// What a command may touch: the settings block, the region group and the fields a command
// publishes (see control/ControlState.h). A frame transfer may read them.
//
// Thread rule: any thread. A CameraCommand or FrameHold belongs to the thread that made it.
#pragma once

#include <kvcam/kvcam.h>

#include <cstdint>
#include <functional>
#include <string>

namespace ferro {
class TBXTessvikFerroFW;
}

namespace ferro::camera {

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionErrorMessage = "Error Message";

// How long either side of the hand-off waits for the other. Generous: a frame can take a
// long exposure; the bound only keeps a stuck transfer from hanging the control.
inline constexpr uint32_t kHandOffTimeoutMs = 120'000;

// The pause after a command, so the camera has taken the new settings before the next frame.
inline constexpr int64_t kSettleMs = 5;

// Keeps a driver result in LastCameraError; true when the call failed.
bool Failed(TBXTessvikFerroFW& form, int32_t result);

// The application's plain OK box.
void ShowError(const std::string& text, const char* caption);
// The task-modal "Grab warning" that a frame's temporary buffer could not be had.
void ShowNoIntermediateBuffer();

// One camera command's hold on the driver and its steps against the settings block. The
// hold is taken when the command is made and handed back when it goes (or by Release).
class CameraCommand {
public:
    explicit CameraCommand(TBXTessvikFerroFW& form);
    ~CameraCommand();
    CameraCommand(const CameraCommand&) = delete;
    CameraCommand& operator=(const CameraCommand&) = delete;

    // False when the hand-off timed out: the command must not talk to the driver.
    bool Held() const { return held_; }
    // Hands the driver back now (an inner command only unwinds its nesting).
    void Release();
    // The pause after a successful command, still holding the driver; then hands it back.
    void Settle();

    // Reads the camera's settings into the block (size word first). Without a block (no
    // camera was ever opened) the driver is not handed a null pointer; the read fails.
    bool ReadSettings();
    // Reads the camera's factory settings into the block.
    bool ReadDefaults();
    bool SetParam(uint32_t id, int32_t value);
    bool GetParam(uint32_t id, int32_t& value);
    // Sends the block as it is.
    bool Send();
    // Sends the block as a settings change: while live video runs the queued live frames are
    // dropped first and the live thread restarts its stream afterwards (asked for even when
    // the send failed: the frames are gone either way, and live video would stall).
    bool SendChange();

private:
    bool ReadInto(int32_t (*read)(KvCamHandle, KvCamSettings*));
    TBXTessvikFerroFW& form_;
    bool held_;
};

// A frame transfer's hold on the driver: FrameInFlight, raised once no command of another
// thread owns the driver. Lowered when it goes.
class FrameHold {
public:
    explicit FrameHold(TBXTessvikFerroFW& form);
    ~FrameHold();
    FrameHold(const FrameHold&) = delete;
    FrameHold& operator=(const FrameHold&) = delete;

    // False when a command of another thread kept the driver past the bound.
    bool Held() const { return held_; }

private:
    TBXTessvikFerroFW& form_;
    bool held_;
};

// Failure texts of one panel command: reading the settings, setting the parameter, sending.
struct CommandTexts {
    std::string Read, Set, Send;
};

// One panel command: read the settings, set `id` to `value`, send. Each failure shows its
// text in an "Error" box; on success `onSuccess` updates the control state before the driver
// is handed back, and the depth is copied into a running live thread. True when the camera
// took the setting.
bool RunParameterCommand(TBXTessvikFerroFW& form, uint32_t id, int32_t value,
                         const CommandTexts& texts, const std::function<void()>& onSuccess = {});

}  // namespace ferro::camera
