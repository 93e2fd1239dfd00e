// Sink list and event delivery of the control's connection point.
#include "automation/EventSinks.h"

#include <bxplatform/kernel.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

struct EventSinkList::Core {
    struct Entry {
        DWORD Cookie = 0;
        bx::com::ComPtr<IDispatch> Sink;  // null: an empty entry
    };

    mutable std::mutex Mutex;               // guards Entries
    mutable std::recursive_mutex Delivery;  // the connection point's lock: one walk at a time
    std::vector<Entry> Entries;
    DWORD NextCookie = 1;
    std::atomic<bool> Frozen{false};  // the container ignores events now

    // The advised sinks in list order, copied under the lock.
    std::vector<bx::com::ComPtr<IDispatch>> Snapshot() const {
        std::vector<bx::com::ComPtr<IDispatch>> sinks;
        std::lock_guard lock(Mutex);
        sinks.reserve(Entries.size());
        for (const Entry& entry : Entries) {
            if (entry.Sink) sinks.push_back(entry.Sink);
        }
        return sinks;
    }

    // Deliveries from the user-interface and live video threads take turns; a sink may still
    // raise another event, advise or unadvise from inside its Invoke on the same thread.
    void Fire(DISPID id) const {
        if (Frozen.load(std::memory_order_relaxed)) return;
        std::lock_guard walk(Delivery);
        for (const auto& sink : Snapshot()) Deliver(*sink, id);
    }

    static void Deliver(IDispatch& sink, DISPID id) {
        DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
        EXCEPINFO exception{};
        UINT argError = 0;
        const HRESULT hr = sink.Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD,
                                       &noArguments, nullptr, &exception, &argError);
        // No result is asked for, so the result type reads VT_NULL's 1.
        char line[96];
        std::snprintf(line, sizeof line, "Inv(%d) %s, 0x%lX, retVT(0x%X), ErrArg(%d)\n",
                      static_cast<int>(id), SUCCEEDED(hr) ? "OK" : "FL",
                      static_cast<unsigned long>(static_cast<uint32_t>(hr)),
                      static_cast<unsigned>(VT_NULL), static_cast<int>(argError));
        bx::kernel::OutputDebugStringA(line);
        // A failing sink describes its failure in strings the caller owns; nobody reads them
        // here, but they must not leak.
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
};

EventSinkList::EventSinkList() : core_(std::make_shared<Core>()) {}

EventSinkList::~EventSinkList() {
    std::vector<Core::Entry> released;
    {
        std::lock_guard lock(core_->Mutex);
        released.swap(core_->Entries);
    }
    // The references go here, outside the lock: a sink's last Release may call back in.
}

HRESULT EventSinkList::Advise(IDispatch* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    bx::com::ComPtr<IDispatch> held(sink);
    std::lock_guard lock(core_->Mutex);
    const DWORD issued = core_->NextCookie++;
    if (core_->NextCookie == 0) core_->NextCookie = 1;  // 0 is never a cookie
    Core::Entry entry{issued, std::move(held)};
    bool placed = false;
    for (Core::Entry& slot : core_->Entries) {
        if (!slot.Sink) {
            slot = std::move(entry);
            placed = true;
            break;
        }
    }
    if (!placed) core_->Entries.push_back(std::move(entry));
    *cookie = issued;
    return S_OK;
}

HRESULT EventSinkList::Unadvise(DWORD cookie) {
    bx::com::ComPtr<IDispatch> released;
    {
        std::lock_guard lock(core_->Mutex);
        for (Core::Entry& entry : core_->Entries) {
            if (entry.Sink && entry.Cookie == cookie) {
                released = std::move(entry.Sink);
                entry.Cookie = 0;
                break;
            }
        }
    }
    return released ? S_OK : CONNECT_E_NOCONNECTION;
}

size_t EventSinkList::Count() const {
    std::lock_guard lock(core_->Mutex);
    size_t count = 0;
    for (const Core::Entry& entry : core_->Entries) count += entry.Sink ? 1 : 0;
    return count;
}

std::vector<EventSinkList::Connection> EventSinkList::Connections() const {
    std::vector<Connection> connections;
    std::lock_guard lock(core_->Mutex);
    for (const Core::Entry& entry : core_->Entries) {
        if (entry.Sink) connections.push_back({entry.Cookie, entry.Sink});
    }
    return connections;
}

void EventSinkList::FireEvent(DISPID id) const {
    core_->Fire(id);
}

void EventSinkList::SetFrozen(bool frozen) {
    core_->Frozen.store(frozen, std::memory_order_relaxed);
}

EventHandler EventSinkList::Handler(DISPID id) const {
    return [core = core_, id] { core->Fire(id); };
}

void ConnectEventSlots(TBXTessvikFerroFW& form, const EventSinkList& sinks) {
    for (EventId id : kAllEvents) {
        EventHandler handler = sinks.Handler(static_cast<DISPID>(id));
        if (id == EventId::OnLiveFrameUpdate) {
            form.SetLiveFrameUpdateHandler(std::move(handler));
        } else {
            form.Events.Set(id, std::move(handler));
        }
    }
}

void DisconnectEventSlots(TBXTessvikFerroFW& form) {
    form.SetLiveFrameUpdateHandler({});
    form.Events.Clear();
}

}  // namespace ferro
