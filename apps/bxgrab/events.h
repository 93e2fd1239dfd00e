// The control's events as bxgrab receives them: one sink advised on the control's connection
// point for DIID_IBXTessvikFerroFWEvents, which calls the handler a command set for the event
// and, with --events, prints every event as it arrives (its name, DISPID, thread and the
// property values that go with it). Event names and DISPIDs come from the control's type
// information (IProvideClassInfo2: the class's default source interface), so nothing here
// knows the numbers.
//
// Thread rule: made, changed and ended on the UI thread. The control may raise an event on
// another thread (live video); handlers are then called there, and the printer reads no
// property from it (the members belong to the UI thread).
#pragma once

#include <bxplatform/com.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "automation.h"

namespace bxgrab {

class ControlEvents {
public:
    // Advises the sink; `print` turns on the event log on standard output.
    ControlEvents(Control& control, bool print);
    ~ControlEvents();
    ControlEvents(const ControlEvents&) = delete;
    ControlEvents& operator=(const ControlEvents&) = delete;

    // The DISPID of an event named in the type information, DISPID_UNKNOWN when unknown.
    DISPID Id(const std::string& name) const;
    // The event's name, or its number when the type information does not name it.
    std::string Name(DISPID id) const;

    // The handler of event `name` (replacing any; an empty function removes it).
    void Set(const std::string& name, std::function<void()> handler);
    void ClearHandlers();

    // Called by the sink for every event, on the thread that raised it.
    void Dispatch(DISPID id);

private:
    void Print(DISPID id, bool mainThread);

    Control& control_;
    const bool print_;
    const std::thread::id mainThread_;
    bx::com::ComPtr<ITypeInfo> typeInfo_;  // the events interface; null without type info
    bx::com::ComPtr<IConnectionPoint> point_;
    bx::com::ComPtr<IDispatch> sink_;
    DWORD cookie_ = 0;
    mutable std::mutex mutex_;
    std::map<DISPID, std::shared_ptr<std::function<void()>>> handlers_;
};

}  // namespace bxgrab
