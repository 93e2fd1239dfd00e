// The live video thread object and the form operations that reach into a running thread.
#include "live/BXTessvikFocus.h"

#include <utility>

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
    return 0;
}

void TBXTessvikFerroFW::SetLiveFrameUpdateHandler(EventHandler handler) {
    // The live thread calls its own copy of the handler after each frame, so a running thread
    // must get the new one too.
    if (LiveThread) LiveThread->SetLiveFrameHandler(handler);
    Events.Set(EventId::OnLiveFrameUpdate, std::move(handler));
}

void TBXTessvikFerroFW::LiveSettingsSent() {
    if (LiveThread != nullptr) LiveThread->FrameCount = 0;
    LiveSettingsChanged = true;
}

void TBXTessvikFerroFW::CopyDepthToLive() {
    if (LiveThread == nullptr) return;
    LiveThread->DepthBits = BitDepth.load();
    LiveThread->Force8Bit = Acquire8Bit.load();
}

}  // namespace ferro
