// The live video thread's shared state: the copies of the control's settings that the thread
// works from, and the values camera commands write into a running thread.
//
// Thread rule: the thread takes its copies when it starts and then reads only its own
// fields. The host thread (and the auto-exposure pass, through the form's CopyDepthToLive and
// LiveSettingsSent) writes the fields below while the thread runs; they are atomics, and the
// live-frame handler is guarded by its own lock. Driver access follows the hand-off of
// camera/Command.h: the thread raises FrameInFlight through a FrameHold, never by hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "control/Events.h"

namespace ferro {
class TBXTessvikFerroFW;
}

class BXTessvikFocus {
public:
    std::atomic<int32_t> FrameCount{0};  // shared: reset by camera commands
    std::atomic<int32_t> DepthBits{12};  // shared: copy of BitDepth
    std::atomic<bool> Force8Bit{false};  // shared: copy of Acquire8Bit
    std::atomic<bool> AutoExposeRequest{false};
    std::atomic<double> FocusMapMin{0}, FocusMapMax{0};
    std::atomic<double> HighSpeedMapMin{0}, HighSpeedMapMax{0};
    std::atomic<double> SlowScanMapMin{0}, SlowScanMapMax{0};

    void SetLiveFrameHandler(ferro::EventHandler handler);
    ferro::EventHandler LiveFrameHandler() const;

private:
    mutable std::mutex handler_mutex_;
    ferro::EventHandler live_frame_handler_;
};

namespace ferro {
// Stops live video (DisableLiveVideo, Quit); always 0.
int StopLive(TBXTessvikFerroFW& control);
}  // namespace ferro
