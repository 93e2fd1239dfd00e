// The form's event slots, its raise operations and the progress setters that raise events.
#include "control/Events.h"

#include <algorithm>
#include <utility>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

// ---- EventSlots ------------------------------------------------------------------------------

size_t EventSlots::IndexOf(EventId id) {
    // An id that names no event (a cast from a stray number) maps past the end and is ignored.
    return static_cast<size_t>(std::find(kAllEvents.begin(), kAllEvents.end(), id) -
                               kAllEvents.begin());
}

void EventSlots::Set(EventId id, EventHandler handler) {
    const size_t index = IndexOf(id);
    if (index >= slots_.size()) return;
    EventHandler old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(slots_[index], std::move(handler));
    }
    // `old` goes here, outside the lock: what it captured may own objects whose teardown
    // raises events of its own.
}

EventHandler EventSlots::Get(EventId id) const {
    const size_t index = IndexOf(id);
    if (index >= slots_.size()) return {};
    std::lock_guard lock(mutex_);
    return slots_[index];
}

bool EventSlots::Raise(EventId id) const {
    // A copy runs, so a handler may refill or clear its own slot (or raise another event)
    // without deadlock, and a slot cleared meanwhile on another thread cannot free the
    // handler under it.
    EventHandler handler = Get(id);
    if (!handler) return false;
    handler();
    return true;
}

void EventSlots::Clear() {
    std::array<EventHandler, kAllEvents.size()> old;
    {
        std::lock_guard lock(mutex_);
        old.swap(slots_);
    }
}

// ---- Raise operations -----------------------------------------------------------------------

void TBXTessvikFerroFW::DoProcessUpdate() {
    Events.Raise(EventId::OnProcessUpdate);
}
void TBXTessvikFerroFW::DoPreFrameTriggerClick() {
    Events.Raise(EventId::OnPreFrameTriggerClick);
}
void TBXTessvikFerroFW::DoFrameTriggerClick() {
    Events.Raise(EventId::OnFrameTriggerClick);
}
void TBXTessvikFerroFW::DoPostFrameTriggerClick() {
    Events.Raise(EventId::OnPostFrameTriggerClick);
}
void TBXTessvikFerroFW::DoPreAcquisitionTriggerClick() {
    Events.Raise(EventId::OnPreAcquisitionTriggerClick);
}
void TBXTessvikFerroFW::DoAcquisitionTriggerClick() {
    Events.Raise(EventId::OnAcquisitionTriggerClick);
}
void TBXTessvikFerroFW::DoPostAcquisitionTriggerClick() {
    Events.Raise(EventId::OnPostAcquisitionTriggerClick);
}
void TBXTessvikFerroFW::DoTimeToNextFrameUpdate() {
    Events.Raise(EventId::OnTimeToNextFrameUpdate);
}
void TBXTessvikFerroFW::DoTimeElapsedUpdate() {
    Events.Raise(EventId::OnTimeElapsedUpdate);
}
void TBXTessvikFerroFW::DoTimeRemainingUpdate() {
    Events.Raise(EventId::OnTimeRemainingUpdate);
}
void TBXTessvikFerroFW::DoTimeToFrameCompletionUpdate() {
    Events.Raise(EventId::OnTimeToFrameCompletionUpdate);
}
void TBXTessvikFerroFW::DoFormLiveFrameUpdate() {
    Events.Raise(EventId::OnLiveFrameUpdate);
}

bool TBXTessvikFerroFW::RaiseFormEvent(EventId id) {
    switch (id) {
        case EventId::OnActivate:
        case EventId::OnClick:
        case EventId::OnCreate:
        case EventId::OnDblClick:
        case EventId::OnDestroy:
        case EventId::OnDeactivate:
        case EventId::OnPaint:
            return Events.Raise(id);
        default:
            // The custom events go through their Do operations, which a derived form may
            // override.
            return false;
    }
}

// ---- Progress setters -----------------------------------------------------------------------
// The value is stored before the event goes out, so a handler reading it back sees the new one.

void TBXTessvikFerroFW::SetGrabProgress(int value) {
    GrabProgress = value;
    DoProcessUpdate();
}

void TBXTessvikFerroFW::SetTimeToNextFrame(int value) {
    TimeToNextFrame = value;
    DoTimeToNextFrameUpdate();
}

void TBXTessvikFerroFW::SetTimeElapsed(int value) {
    TimeElapsed = value;
    DoTimeElapsedUpdate();
}

void TBXTessvikFerroFW::SetTimeRemaining(int value) {
    TimeRemaining = value;
    DoTimeRemainingUpdate();
}

void TBXTessvikFerroFW::SetTimeToFrameCompletion(int value) {
    TimeToFrameCompletion = value;
    DoTimeToFrameCompletionUpdate();
}

}  // namespace ferro
