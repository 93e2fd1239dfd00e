// The automation object's own parts: its form, its two connection points (the events and the
// property notices) and the conversion of failures into error objects.
#include "automation/BXTessvikFerroFWImpl.h"

#include "automation/FontObject.h"

#include <mutex>
#include <new>
#include <stdexcept>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Failures.h"

namespace ferro {

namespace {

// The events point: advised sinks go to the object's EventSinkList, which delivers the form's
// events. A sink must answer the events interface.
class EventsConnectionPoint final : public bx::com::RefCounted<IConnectionPoint> {
public:
    EventsConnectionPoint(EventSinkList& sinks, IConnectionPointContainer* container)
        : sinks_(sinks), container_(container) {}

    HRESULT GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) return E_POINTER;
        *iid = DIID_IBXTessvikFerroFWEvents;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (container == nullptr) return E_POINTER;
        std::lock_guard lock(mutex_);
        *container = container_;
        if (container_ == nullptr) return E_UNEXPECTED;
        container_->AddRef();
        return S_OK;
    }
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
        if (sink == nullptr || cookie == nullptr) return E_POINTER;
        *cookie = 0;
        auto events = bx::com::QueryAs<IBXTessvikFerroFWEvents>(sink);
        if (!events) return CONNECT_E_CANNOTCONNECT;
        return sinks_.Advise(events.Get(), cookie);
    }
    HRESULT Unadvise(DWORD cookie) override { return sinks_.Unadvise(cookie); }
    HRESULT EnumConnections(IEnumConnections** connections) override {
        if (connections == nullptr) return E_POINTER;
        std::vector<bx::com::Connection> items;
        for (const auto& c : sinks_.Connections())
            items.push_back({bx::com::ComPtr<IUnknown>(c.Sink.Get()), c.Cookie});
        *connections = bx::com::MakeConnectionEnumerator(std::move(items)).Detach();
        return S_OK;
    }

    // The object goes: a point a host still holds no longer names it.
    void Detach() {
        std::lock_guard lock(mutex_);
        container_ = nullptr;
    }

private:
    EventSinkList& sinks_;  // the object's; valid while container_ is set
    std::mutex mutex_;
    IConnectionPointContainer* container_;
};

}  // namespace

TBXTessvikFerroFWImpl::TBXTessvikFerroFWImpl(bx::com::ModuleLockCount* moduleLock)
    : form_(std::make_unique<TBXTessvikFerroFW>()),
      points_(static_cast<IConnectionPointContainer*>(this)),
      notifier_(points_.Add(IID_IPropertyNotifySink)),
      embedding_(Identity(), window_, CLSID_BXTessvikFerroFW, kMiscStatus) {
    if (moduleLock != nullptr) moduleLock_.emplace(*moduleLock);
    eventsPoint_ =
        bx::com::Make<EventsConnectionPoint>(sinks_, static_cast<IConnectionPointContainer*>(this));
    fontTarget_ = std::make_shared<FontTarget>();
    fontTarget_->Form = form_.get();
    ConnectEventSlots(*form_, sinks_);
}

TBXTessvikFerroFWImpl::~TBXTessvikFerroFWImpl() {
    {
        std::lock_guard lock(fontTarget_->Mutex);
        fontTarget_->Form = nullptr;  // fonts a host still holds change nothing now
    }
    embedding_.InPlaceDeactivate();
    // The form goes first, while its destroy event can still reach the sinks.
    form_.reset();
    static_cast<EventsConnectionPoint*>(eventsPoint_.Get())->Detach();
}

HRESULT TBXTessvikFerroFWImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    if (iid == DIID_IBXTessvikFerroFWEvents) return eventsPoint_.CopyTo(point);
    return points_.FindConnectionPoint(iid, point);
}

HRESULT TBXTessvikFerroFWImpl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    bx::com::ComPtr<IConnectionPoint> notices;
    points_.FindConnectionPoint(IID_IPropertyNotifySink, notices.Put());
    *points = bx::com::MakeConnectionPointEnumerator({eventsPoint_, notices}).Detach();
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::InterfaceSupportsErrorInfo(REFIID iid) {
    for (const IID& own : {IID_IBXTessvikFerroFW, IID_IBXCameraInterface, IID_IBXCameraInterface2,
                           IID_IBXCameraInterface3})
        if (iid == own) return S_OK;
    return S_FALSE;
}

// Every failure ends here, so nothing escapes across the interface: the failure's text goes
// into the thread's error object and the member returns DISP_E_EXCEPTION (or the code an
// AutomationError carries).
HRESULT TBXTessvikFerroFWImpl::FailureToError(REFIID iid) noexcept {
    try {
        throw;
    } catch (const AutomationError& failure) {
        bx::com::RaiseError(iid, failure.Source(), failure.what());
        return failure.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& failure) {
        return bx::com::RaiseError(iid, kProgId, failure.what());
    } catch (...) {
        return bx::com::RaiseError(iid, kProgId, "");
    }
}

}  // namespace ferro
