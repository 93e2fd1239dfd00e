#include "events.h"

#include <iostream>

namespace bxgrab {

using bx::com::Bstr;
using bx::com::ComPtr;

namespace {

// The sink the control calls: a plain dispatch object answering the events interface. It
// forwards to its ControlEvents until that goes (the control may still hold a reference).
class Sink : public bx::com::RefCounted<IDispatch> {
public:
    explicit Sink(ControlEvents* owner) : owner_(owner) {}
    void Detach() {
        std::lock_guard lock(mutex_);
        owner_ = nullptr;
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == DIID_IBXTessvikFerroFWEvents && object != nullptr) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        return RefCounted::QueryInterface(iid, object);
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        std::lock_guard lock(mutex_);
        if (owner_) owner_->Dispatch(id);
        return S_OK;
    }

private:
    std::recursive_mutex mutex_;  // an event handler may raise another event
    ControlEvents* owner_;
};

// The default source interface's type information, through the class's.
ComPtr<ITypeInfo> EventsTypeInfo(IUnknown* control) {
    ComPtr<IProvideClassInfo2> provide = bx::com::QueryAs<IProvideClassInfo2>(control);
    ComPtr<ITypeInfo> coclass, events;
    if (!provide || FAILED(provide->GetClassInfo(coclass.Put())) || !coclass) return {};
    TYPEATTR* attr = nullptr;
    if (FAILED(coclass->GetTypeAttr(&attr)) || !attr) return {};
    const UINT count = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        constexpr INT kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
        if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) &&
            (flags & kDefaultSource) == kDefaultSource &&
            SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)) &&
            SUCCEEDED(coclass->GetRefTypeInfo(ref, events.Put())))
            return events;
    }
    return {};
}

// The properties that go with an event in the log.
const std::map<std::string, const char*>& EventProperties() {
    static const std::map<std::string, const char*> properties = {
        {"OnProcessUpdate", "GrabProgress"},
        {"OnTimeToNextFrameUpdate", "TimeToNextFrame"},
        {"OnTimeElapsedUpdate", "TimeElapsed"},
        {"OnTimeRemainingUpdate", "TimeRemaining"},
        {"OnTimeToFrameCompletionUpdate", "TimeToFrameCompletion"},
    };
    return properties;
}

}  // namespace

ControlEvents::ControlEvents(Control& control, bool print)
    : control_(control), print_(print), mainThread_(std::this_thread::get_id()) {
    typeInfo_ = EventsTypeInfo(control.unknown());
    auto container = bx::com::QueryAs<IConnectionPointContainer>(control.unknown());
    if (!container) throw ControlError("the control raises no events (no connection points)");
    Control::Check(container->FindConnectionPoint(DIID_IBXTessvikFerroFWEvents, point_.Put()),
                   "the control's events");
    sink_ = ComPtr<IDispatch>(bx::com::Make<Sink>(this).Get());
    Control::Check(point_->Advise(sink_.Get(), &cookie_), "advising the events sink");
}

ControlEvents::~ControlEvents() {
    if (point_ && cookie_ != 0) point_->Unadvise(cookie_);
    static_cast<Sink*>(sink_.Get())->Detach();
}

DISPID ControlEvents::Id(const std::string& name) const {
    if (!typeInfo_) return DISPID_UNKNOWN;
    Bstr text(name);
    LPOLESTR names[] = {text.Get()};
    MEMBERID id = DISPID_UNKNOWN;
    return SUCCEEDED(typeInfo_->GetIDsOfNames(names, 1, &id)) ? id : DISPID_UNKNOWN;
}

std::string ControlEvents::Name(DISPID id) const {
    Bstr name;
    UINT count = 0;
    if (typeInfo_ && SUCCEEDED(typeInfo_->GetNames(id, name.Out(), 1, &count)) && count == 1)
        return name.ToUtf8();
    return std::to_string(id);
}

void ControlEvents::Set(const std::string& name, std::function<void()> handler) {
    const DISPID id = Id(name);
    if (id == DISPID_UNKNOWN) return;  // a plug-in that does not raise it
    std::lock_guard lock(mutex_);
    if (handler)
        handlers_[id] = std::make_shared<std::function<void()>>(std::move(handler));
    else
        handlers_.erase(id);
}

void ControlEvents::ClearHandlers() {
    std::lock_guard lock(mutex_);
    handlers_.clear();
}

void ControlEvents::Dispatch(DISPID id) {
    const bool main = std::this_thread::get_id() == mainThread_;
    if (print_) Print(id, main);
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard lock(mutex_);
        if (auto found = handlers_.find(id); found != handlers_.end()) handler = found->second;
    }
    if (handler) (*handler)();
}

void ControlEvents::Print(DISPID id, bool mainThread) {
    const std::string name = Name(id);
    std::string line = "event " + name + " (" + std::to_string(id) + ") on the " +
                       (mainThread ? "main" : "other") + " thread";
    const auto property = EventProperties().find(name);
    if (mainThread && property != EventProperties().end()) {
        try {
            line += ": " + std::string(property->second) + " " +
                    std::to_string(control_.GetLong(property->second));
        } catch (const ControlError& error) {
            line += ": " + std::string(error.what());
        }
    }
    std::cout << line << std::endl;
}

}  // namespace bxgrab
