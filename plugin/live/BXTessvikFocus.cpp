#include "live/BXTessvikFocus.h"

#include "control/BXTessvikGrabImpl1.h"

void BXTessvikFocus::SetLiveFrameHandler(ferro::EventHandler handler) {
    std::lock_guard lock(handler_mutex_);
    live_frame_handler_ = std::move(handler);
}

ferro::EventHandler BXTessvikFocus::LiveFrameHandler() const {
    std::lock_guard lock(handler_mutex_);
    return live_frame_handler_;
}

namespace ferro {

int StopLive(TBXTessvikFerroFW& control) {
    // Without a running thread there is nothing to join: stopping only clears the live state.
    control.LiveActive = false;
    control.LiveRequested = false;
    control.LiveFreeze = false;
    return 0;
}

}  // namespace ferro
