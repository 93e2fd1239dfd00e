// The sink list of the control's one connection point, and the delivery of events to it.
//
// The host advises dispatch sinks of the events interface; each raised event is delivered to
// every advised sink by IDispatch::Invoke with the event's DISPID and no arguments. A sink's
// failure never stops the others and is not reported to the raiser; each call leaves one
// debugger-output line "Inv(<dispid>) OK|FL, 0x<result>, retVT(0x1), ErrArg(<index>)".
//
// List order: entries keep their places. Unadvise empties an entry; Advise fills the first
// empty entry, else appends. Cookies are never reused while the list lives (a cookie kept
// after its Unadvise cannot remove a later sink that took the same entry) and are never 0.
//
// Thread rule: thread-safe. The connection point's lock (recursive) is held for a whole
// delivery, so deliveries from the user-interface and live video threads take turns and a
// sink is never called by both at once. The list itself has its own lock, and a delivery
// works on a copy of the advised sinks (with a reference each), so a sink may, on the same
// thread, advise, unadvise or raise another event from inside its Invoke; a sink unadvised
// while a delivery is under way may still receive that one event. A sink must be callable
// from either thread.
#pragma once

#include <bxplatform/com.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "control/Events.h"

namespace ferro {

class TBXTessvikFerroFW;

class EventSinkList {
public:
    struct Connection {
        DWORD Cookie = 0;
        bx::com::ComPtr<IDispatch> Sink;
    };

    EventSinkList();
    // Releases every sink still advised. Handlers made by Handler() stay safe to call and
    // then deliver nothing.
    ~EventSinkList();
    EventSinkList(const EventSinkList&) = delete;
    EventSinkList& operator=(const EventSinkList&) = delete;

    // Adds a sink (taking a reference) and stores its cookie. E_POINTER for a null sink or
    // cookie pointer; nothing is added then.
    HRESULT Advise(IDispatch* sink, DWORD* cookie);
    // Removes the sink of `cookie` and releases it. CONNECT_E_NOCONNECTION for a cookie that
    // names no advised sink.
    HRESULT Unadvise(DWORD cookie);
    // Number of advised sinks.
    size_t Count() const;
    // The advised sinks in list order, each with a new reference.
    std::vector<Connection> Connections() const;

    // Delivers event `id` to every advised sink in list order; nothing while frozen.
    void FireEvent(DISPID id) const;
    // While frozen (the container said it ignores events) events are dropped, not queued.
    void SetFrozen(bool frozen);
    // A handler that delivers event `id` through this list. It shares the list's state, so a
    // copy that outlives the list (one held by the live video thread) is harmless.
    EventHandler Handler(DISPID id) const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

// Fills the form's nineteen event slots with handlers that deliver through `sinks`; the slot
// of OnLiveFrameUpdate goes through the form's setter so a running live thread gets it too.
// The automation object calls this when it is attached to its form.
void ConnectEventSlots(TBXTessvikFerroFW& form, const EventSinkList& sinks);
// Empties the form's nineteen event slots (and the live thread's copy).
void DisconnectEventSlots(TBXTessvikFerroFW& form);

}  // namespace ferro
