// The control's events: their dispatch ids and the form's notification slots.
//
// Thread rule: slots are filled on the user-interface thread before anything raises events
// (the automation object fills them when it is attached); raising reads them from the
// thread that raises, under the slot lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

namespace ferro {

// Dispatch ids of the events interface.
enum class EventId : int32_t {
    OnActivate = 1,
    OnClick = 2,
    OnCreate = 3,
    OnDblClick = 4,
    OnDestroy = 5,
    OnDeactivate = 6,
    OnPaint = 15,
    OnProcessUpdate = 256,
    OnPreFrameTriggerClick = 257,
    OnFrameTriggerClick = 258,
    OnPostFrameTriggerClick = 259,
    OnPreAcquisitionTriggerClick = 260,
    OnAcquisitionTriggerClick = 261,
    OnPostAcquisitionTriggerClick = 262,
    OnTimeToNextFrameUpdate = 263,
    OnTimeElapsedUpdate = 264,
    OnTimeRemainingUpdate = 265,
    OnTimeToFrameCompletionUpdate = 266,
    OnLiveFrameUpdate = 267,
};

// Every event, in slot order: the seven form events, then the twelve custom ones.
inline constexpr std::array<EventId, 19> kAllEvents = {
    EventId::OnActivate,
    EventId::OnClick,
    EventId::OnCreate,
    EventId::OnDblClick,
    EventId::OnDestroy,
    EventId::OnDeactivate,
    EventId::OnPaint,
    EventId::OnProcessUpdate,
    EventId::OnPreFrameTriggerClick,
    EventId::OnFrameTriggerClick,
    EventId::OnPostFrameTriggerClick,
    EventId::OnPreAcquisitionTriggerClick,
    EventId::OnAcquisitionTriggerClick,
    EventId::OnPostAcquisitionTriggerClick,
    EventId::OnTimeToNextFrameUpdate,
    EventId::OnTimeElapsedUpdate,
    EventId::OnTimeRemainingUpdate,
    EventId::OnTimeToFrameCompletionUpdate,
    EventId::OnLiveFrameUpdate,
};

using EventHandler = std::function<void()>;

// The nineteen notification slots of the form.
class EventSlots {
public:
    // Fills (or, with an empty handler, clears) the slot of `id`.
    void Set(EventId id, EventHandler handler);
    EventHandler Get(EventId id) const;
    // Calls the slot's handler when one is set; returns whether one ran. The handler runs
    // without the slot lock held.
    bool Raise(EventId id) const;
    void Clear();

private:
    static size_t IndexOf(EventId id);
    mutable std::mutex mutex_;
    std::array<EventHandler, kAllEvents.size()> slots_;
};

}  // namespace ferro
