// The connection point's sink list and event delivery to the host's dispatch sinks.
#include "automation/EventSinks.h"

#include <bxplatform/com.h>
#include <bxplatform/kernel.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "fixtures/control_fixture.h"
#include "live/BXTessvikFocus.h"

using namespace ferro;
using bx::com::ComPtr;

namespace {

// One Invoke a sink received.
struct Delivery {
    std::string sink;
    DISPID id = 0;
    uint32_t thread = 0;
};

// Every delivery to every test sink, in the order they happened.
class Journal {
public:
    void Add(Delivery d) {
        std::lock_guard lock(mutex_);
        all_.push_back(std::move(d));
    }
    std::vector<Delivery> All() const {
        std::lock_guard lock(mutex_);
        return all_;
    }
    // Sink names and DISPIDs only, for order checks.
    std::vector<std::pair<std::string, DISPID>> Order() const {
        std::vector<std::pair<std::string, DISPID>> order;
        for (const Delivery& d : All()) order.emplace_back(d.sink, d.id);
        return order;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        all_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Delivery> all_;
};

// A host's event sink: records each event; a failing one answers every Invoke with an
// exception described in strings the caller must free.
class TestSink : public bx::com::RefCounted<IDispatch> {
public:
    TestSink(std::string name, Journal& journal, bool fails = false)
        : name_(std::move(name)), journal_(journal), fails_(fails) {}

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT Invoke(DISPID id, REFIID reserved, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        // An event is a method call without arguments and without result.
        wellFormed_ = wellFormed_ && reserved == IID_NULL && lcid == LOCALE_SYSTEM_DEFAULT &&
                      flags == DISPATCH_METHOD && params && params->cArgs == 0 &&
                      params->cNamedArgs == 0 && !result && exception && argError;
        journal_.Add({name_, id, bx::kernel::GetCurrentThreadId()});
        if (onInvoke) onInvoke(id);
        if (!fails_) return S_OK;
        if (exception) {
            exception->bstrSource = bx::com::Utf8ToBstr("TestSink");
            exception->bstrDescription = bx::com::Utf8ToBstr("sink refused the event");
            exception->bstrHelpFile = bx::com::Utf8ToBstr("sink.hlp");
            exception->scode = E_FAIL;
        }
        if (argError) *argError = 3;
        return DISP_E_EXCEPTION;
    }

    bool WellFormed() const { return wellFormed_; }
    std::function<void(DISPID)> onInvoke;

private:
    std::string name_;
    Journal& journal_;
    bool fails_;
    std::atomic<bool> wellFormed_{true};
};

// Current reference count of an object (AddRef and Release report it).
ULONG Refs(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Captures the debugger output for the test's lifetime.
class SinkListTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = bx::kernel::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            debug_.emplace_back(text);
        });
    }
    void TearDown() override { bx::kernel::SetDebugSink(previous_); }

    std::vector<std::string> Debug() {
        std::lock_guard lock(mutex_);
        return debug_;
    }
    ComPtr<TestSink> MakeSink(const std::string& name, bool fails = false) {
        return bx::com::Make<TestSink>(name, journal, fails);
    }
    DWORD AdviseOk(EventSinkList& list, const ComPtr<TestSink>& sink) {
        DWORD cookie = 0;
        EXPECT_EQ(list.Advise(sink.Get(), &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        return cookie;
    }

    Journal journal;

private:
    bx::kernel::DebugSink previous_;
    std::mutex mutex_;
    std::vector<std::string> debug_;
};

using Pairs = std::vector<std::pair<std::string, DISPID>>;

}  // namespace

// ---- Advise and Unadvise -----------------------------------------------------------------

TEST_F(SinkListTest, AdviseHoldsAReferenceAndUnadviseReleasesIt) {
    EventSinkList list;
    ComPtr<TestSink> sink = MakeSink("a");
    ASSERT_EQ(Refs(sink.Get()), 1u);

    const DWORD cookie = AdviseOk(list, sink);
    EXPECT_EQ(Refs(sink.Get()), 2u);
    EXPECT_EQ(list.Count(), 1u);

    EXPECT_EQ(list.Unadvise(cookie), S_OK);
    EXPECT_EQ(Refs(sink.Get()), 1u);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(list.Unadvise(0), CONNECT_E_NOCONNECTION);
}

TEST_F(SinkListTest, NullArgumentsAreRefused) {
    EventSinkList list;
    ComPtr<TestSink> sink = MakeSink("a");
    DWORD cookie = 77;
    EXPECT_EQ(list.Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 77u);
    EXPECT_EQ(list.Advise(sink.Get(), nullptr), E_POINTER);
    EXPECT_EQ(Refs(sink.Get()), 1u);
    EXPECT_EQ(list.Count(), 0u);
}

TEST_F(SinkListTest, AnEmptiedEntryIsReusedInPlaceUnderANewCookie) {
    EventSinkList list;
    ComPtr<TestSink> a = MakeSink("a"), b = MakeSink("b"), c = MakeSink("c"), d = MakeSink("d");
    AdviseOk(list, a);
    const DWORD cookieB = AdviseOk(list, b);
    AdviseOk(list, c);
    ASSERT_EQ(list.Unadvise(cookieB), S_OK);
    const DWORD cookieD = AdviseOk(list, d);
    EXPECT_NE(cookieD, cookieB);

    list.FireEvent(257);
    EXPECT_EQ(journal.Order(), (Pairs{{"a", 257}, {"d", 257}, {"c", 257}}));

    // The old cookie cannot remove the sink that took its entry.
    EXPECT_EQ(list.Unadvise(cookieB), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(list.Count(), 3u);
    std::vector<EventSinkList::Connection> connections = list.Connections();
    ASSERT_EQ(connections.size(), 3u);
    EXPECT_EQ(connections[1].Cookie, cookieD);
    EXPECT_EQ(connections[1].Sink.Get(), static_cast<IDispatch*>(d.Get()));
}

TEST_F(SinkListTest, DestroyingTheListReleasesEverySinkAndLeavesHandlersHarmless) {
    ComPtr<TestSink> a = MakeSink("a"), b = MakeSink("b");
    EventHandler handler;
    {
        EventSinkList list;
        AdviseOk(list, a);
        AdviseOk(list, b);
        handler = list.Handler(267);
        EXPECT_EQ(Refs(a.Get()), 2u);
    }
    EXPECT_EQ(Refs(a.Get()), 1u);
    EXPECT_EQ(Refs(b.Get()), 1u);
    handler();  // a live thread's late copy: delivers nothing, touches nothing freed
    EXPECT_TRUE(journal.All().empty());
}

// ---- Delivery ----------------------------------------------------------------------------

TEST_F(SinkListTest, EveryEventReachesAllSinksInListOrderDespiteAFailingOne) {
    EventSinkList list;
    ComPtr<TestSink> failing = MakeSink("failing", true), good = MakeSink("good");
    AdviseOk(list, failing);
    AdviseOk(list, good);

    list.FireEvent(257);
    list.FireEvent(262);
    EXPECT_EQ(journal.Order(),
              (Pairs{{"failing", 257}, {"good", 257}, {"failing", 262}, {"good", 262}}));
    EXPECT_TRUE(failing->WellFormed());
    EXPECT_TRUE(good->WellFormed());
    // Under the sanitizer build, the failing sink's exception strings would show as leaks.
}

TEST_F(SinkListTest, EachCallLeavesOneDebuggerLine) {
    EventSinkList list;
    ComPtr<TestSink> failing = MakeSink("failing", true), good = MakeSink("good");
    AdviseOk(list, failing);
    AdviseOk(list, good);
    list.FireEvent(256);
    const std::vector<std::string> expected = {
        "Inv(256) FL, 0x80020009, retVT(0x1), ErrArg(3)\n",
        "Inv(256) OK, 0x0, retVT(0x1), ErrArg(0)\n",
    };
    EXPECT_EQ(Debug(), expected);
}

TEST_F(SinkListTest, ASinkMayUnadviseAdviseAndRaiseFromInsideItsInvoke) {
    EventSinkList list;
    ComPtr<TestSink> a = MakeSink("a"), b = MakeSink("b"), late = MakeSink("late");
    DWORD cookieA = AdviseOk(list, a);
    AdviseOk(list, b);
    bool nested = false;
    a->onInvoke = [&](DISPID id) {
        if (id != 257) return;
        EXPECT_EQ(list.Unadvise(cookieA), S_OK);  // same thread, delivery in progress
        DWORD cookie = 0;
        EXPECT_EQ(list.Advise(late.Get(), &cookie), S_OK);
        list.FireEvent(259);
        nested = true;
    };
    list.FireEvent(257);
    ASSERT_TRUE(nested);
    // The nested event reached the new list (b, then late in a's old entry); the outer one
    // went on to b as planned.
    EXPECT_EQ(journal.Order(), (Pairs{{"a", 257}, {"late", 259}, {"b", 259}, {"b", 257}}));
    EXPECT_EQ(Refs(a.Get()), 1u);  // a's reference was released once its Invoke returned
}

TEST_F(SinkListTest, DeliveriesFromTwoThreadsTakeTurns) {
    EventSinkList list;
    ComPtr<TestSink> a = MakeSink("a"), b = MakeSink("b");
    AdviseOk(list, a);
    AdviseOk(list, b);
    constexpr int kEach = 300;
    auto fire = [&list](DISPID id) {
        for (int i = 0; i < kEach; ++i) list.FireEvent(id);
    };
    std::thread live(fire, 267), ui(fire, 256);
    live.join();
    ui.join();

    int counts[2][2] = {};
    const auto all = journal.All();
    for (const Delivery& d : all) ++counts[d.sink == "b"][d.id == 267];
    // Each walk over the list is whole: a's delivery is followed at once by b's of the same
    // event, never by the other thread's.
    ASSERT_EQ(all.size() % 2, 0u);
    for (size_t i = 0; i < all.size(); i += 2) {
        ASSERT_EQ(all[i].sink, "a") << i;
        ASSERT_EQ(all[i + 1].sink, "b") << i;
        ASSERT_EQ(all[i].id, all[i + 1].id) << i;
    }
    for (auto& perSink : counts) {
        EXPECT_EQ(perSink[0], kEach);
        EXPECT_EQ(perSink[1], kEach);
    }
    EXPECT_EQ(Debug().size(), 4u * kEach);
}

// ---- The form's slots --------------------------------------------------------------------

using ConnectedForm = ferro::testing::ControlTest;

TEST_F(ConnectedForm, AllNineteenSlotsDeliverTheirDispidToTheSinks) {
    TBXTessvikFerroFW& form = Create();
    Journal journal;
    EventSinkList list;
    auto first = bx::com::Make<TestSink>("first", journal, true);
    auto second = bx::com::Make<TestSink>("second", journal);
    DWORD cookie = 0;
    ASSERT_EQ(list.Advise(first.Get(), &cookie), S_OK);
    ASSERT_EQ(list.Advise(second.Get(), &cookie), S_OK);

    ConnectEventSlots(form, list);
    for (EventId id : kAllEvents) {
        journal.Clear();
        EXPECT_TRUE(form.Events.Raise(id));
        const DISPID dispid = static_cast<DISPID>(id);
        EXPECT_EQ(journal.Order(), (Pairs{{"first", dispid}, {"second", dispid}}));
    }

    // Through the form's own operations: a progress setter and the never-raised event's slot.
    journal.Clear();
    form.SetGrabProgress(1);
    form.DoAcquisitionTriggerClick();
    form.RaiseFormEvent(EventId::OnPaint);
    EXPECT_EQ(journal.Order(), (Pairs{{"first", 256},
                                      {"second", 256},
                                      {"first", 261},
                                      {"second", 261},
                                      {"first", 15},
                                      {"second", 15}}));

    DisconnectEventSlots(form);
    journal.Clear();
    for (EventId id : kAllEvents) EXPECT_FALSE(form.Events.Raise(id));
    EXPECT_TRUE(journal.All().empty());
}

TEST_F(ConnectedForm, LiveFrameUpdatesReachTheSinksOnTheLiveThread) {
    TBXTessvikFerroFW& form = Create();
    Journal journal;
    EventSinkList list;
    auto sink = bx::com::Make<TestSink>("host", journal);
    DWORD cookie = 0;
    ASSERT_EQ(list.Advise(sink.Get(), &cookie), S_OK);

    BXTessvikFocus live(form);
    form.LiveThread = &live;
    ConnectEventSlots(form, list);
    std::thread worker([&live] {
        if (auto handler = live.LiveFrameHandler()) handler();
    });
    worker.join();
    std::vector<Delivery> deliveries = journal.All();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].id, 267);
    EXPECT_NE(deliveries[0].thread, bx::kernel::GetCurrentThreadId());

    DisconnectEventSlots(form);
    EXPECT_FALSE(live.LiveFrameHandler());
    form.LiveThread = nullptr;
}
