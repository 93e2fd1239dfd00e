// The form's event slots, raise operations and progress setters.
#include <bxplatform/kernel.h>

#include <thread>
#include <utility>
#include <vector>

#include "control/Events.h"
#include "fixtures/control_fixture.h"
#include "live/BXTessvikFocus.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

class Events : public ControlTest {
protected:
    // Fills every slot with a handler recording its event's id.
    void RecordEverySlot(TBXTessvikFerroFW& control) {
        for (EventId id : kAllEvents) control.Events.Set(id, [this, id] { raised.push_back(id); });
    }
    std::vector<EventId> raised;
};

struct RaiseOperation {
    void (TBXTessvikFerroFW::*raise)();
    EventId event;
};

// The twelve raise operations in slot order, with the event each must raise.
const RaiseOperation kRaiseOperations[] = {
    {&TBXTessvikFerroFW::DoProcessUpdate, EventId::OnProcessUpdate},
    {&TBXTessvikFerroFW::DoPreFrameTriggerClick, EventId::OnPreFrameTriggerClick},
    {&TBXTessvikFerroFW::DoFrameTriggerClick, EventId::OnFrameTriggerClick},
    {&TBXTessvikFerroFW::DoPostFrameTriggerClick, EventId::OnPostFrameTriggerClick},
    {&TBXTessvikFerroFW::DoPreAcquisitionTriggerClick, EventId::OnPreAcquisitionTriggerClick},
    {&TBXTessvikFerroFW::DoAcquisitionTriggerClick, EventId::OnAcquisitionTriggerClick},
    {&TBXTessvikFerroFW::DoPostAcquisitionTriggerClick, EventId::OnPostAcquisitionTriggerClick},
    {&TBXTessvikFerroFW::DoTimeToNextFrameUpdate, EventId::OnTimeToNextFrameUpdate},
    {&TBXTessvikFerroFW::DoTimeElapsedUpdate, EventId::OnTimeElapsedUpdate},
    {&TBXTessvikFerroFW::DoTimeRemainingUpdate, EventId::OnTimeRemainingUpdate},
    {&TBXTessvikFerroFW::DoTimeToFrameCompletionUpdate, EventId::OnTimeToFrameCompletionUpdate},
    {&TBXTessvikFerroFW::DoFormLiveFrameUpdate, EventId::OnLiveFrameUpdate},
};

}  // namespace

TEST_F(Events, EachRaiseOperationRaisesOnlyItsOwnEvent) {
    TBXTessvikFerroFW& c = Create();
    RecordEverySlot(c);
    for (const RaiseOperation& op : kRaiseOperations) {
        raised.clear();
        (c.*op.raise)();
        EXPECT_EQ(raised, std::vector<EventId>{op.event}) << static_cast<int>(op.event);
    }
}

TEST_F(Events, EmptySlotsRaiseNothing) {
    TBXTessvikFerroFW& c = Create();
    RecordEverySlot(c);
    c.Events.Set(EventId::OnFrameTriggerClick, {});
    c.DoFrameTriggerClick();
    EXPECT_FALSE(c.Events.Raise(EventId::OnFrameTriggerClick));
    EXPECT_TRUE(raised.empty());

    c.Events.Clear();
    for (const RaiseOperation& op : kRaiseOperations) (c.*op.raise)();
    for (EventId id : kAllEvents) EXPECT_FALSE(c.Events.Raise(id));
    EXPECT_TRUE(raised.empty());
}

TEST_F(Events, AnIdThatNamesNoEventIsIgnored) {
    TBXTessvikFerroFW& c = Create();
    const auto stray = static_cast<EventId>(999);
    c.Events.Set(stray, [this] { raised.push_back(EventId::OnClick); });
    EXPECT_FALSE(c.Events.Get(stray));
    EXPECT_FALSE(c.Events.Raise(stray));
    EXPECT_TRUE(raised.empty());
}

TEST_F(Events, ProgressSettersStoreTheValueBeforeRaising) {
    struct Setter {
        void (TBXTessvikFerroFW::*set)(int);
        std::atomic<int> TBXTessvikFerroFW::*field;
        EventId event;
    };
    const Setter setters[] = {
        {&TBXTessvikFerroFW::SetGrabProgress, &TBXTessvikFerroFW::GrabProgress,
         EventId::OnProcessUpdate},
        {&TBXTessvikFerroFW::SetTimeToNextFrame, &TBXTessvikFerroFW::TimeToNextFrame,
         EventId::OnTimeToNextFrameUpdate},
        {&TBXTessvikFerroFW::SetTimeElapsed, &TBXTessvikFerroFW::TimeElapsed,
         EventId::OnTimeElapsedUpdate},
        {&TBXTessvikFerroFW::SetTimeRemaining, &TBXTessvikFerroFW::TimeRemaining,
         EventId::OnTimeRemainingUpdate},
        {&TBXTessvikFerroFW::SetTimeToFrameCompletion, &TBXTessvikFerroFW::TimeToFrameCompletion,
         EventId::OnTimeToFrameCompletionUpdate},
    };
    TBXTessvikFerroFW& c = Create();
    for (const Setter& s : setters) {
        std::vector<std::pair<EventId, int>> seen;
        for (EventId id : kAllEvents) {
            c.Events.Set(id, [&, id] { seen.emplace_back(id, (c.*s.field).load()); });
        }
        (c.*s.set)(-1);
        (c.*s.set)(1234);
        const std::vector<std::pair<EventId, int>> expected = {{s.event, -1}, {s.event, 1234}};
        EXPECT_EQ(seen, expected) << static_cast<int>(s.event);
        EXPECT_EQ((c.*s.field).load(), 1234);
        c.Events.Clear();  // the handlers refer to `seen`, which ends here
    }
}

TEST_F(Events, FormEventsAreRaisedOnlyForTheSevenFormIds) {
    TBXTessvikFerroFW& c = Create();
    RecordEverySlot(c);
    const std::vector<EventId> formEvents = {
        EventId::OnActivate, EventId::OnClick,      EventId::OnCreate, EventId::OnDblClick,
        EventId::OnDestroy,  EventId::OnDeactivate, EventId::OnPaint};
    for (EventId id : formEvents) EXPECT_TRUE(c.RaiseFormEvent(id));
    EXPECT_EQ(raised, formEvents);

    raised.clear();
    EXPECT_FALSE(c.RaiseFormEvent(EventId::OnProcessUpdate));
    EXPECT_TRUE(raised.empty());
}

TEST_F(Events, HandlerMayChangeSlotsAndRaiseFromInside) {
    TBXTessvikFerroFW& c = Create();
    // A handler that empties its own slot and raises another event: no deadlock, and the
    // handler itself stays alive until it returns.
    c.Events.Set(EventId::OnPreFrameTriggerClick, [&c, this] {
        c.Events.Set(EventId::OnPreFrameTriggerClick, {});
        raised.push_back(EventId::OnPreFrameTriggerClick);
        c.DoPostFrameTriggerClick();
    });
    c.Events.Set(EventId::OnPostFrameTriggerClick,
                 [this] { raised.push_back(EventId::OnPostFrameTriggerClick); });
    c.DoPreFrameTriggerClick();
    c.DoPreFrameTriggerClick();  // the slot is empty now
    const std::vector<EventId> expected = {EventId::OnPreFrameTriggerClick,
                                           EventId::OnPostFrameTriggerClick};
    EXPECT_EQ(raised, expected);
}

TEST_F(Events, LiveFrameHandlerReachesARunningLiveThread) {
    TBXTessvikFerroFW& c = Create();
    int calls = 0;
    c.SetLiveFrameUpdateHandler([&calls] { ++calls; });  // no live thread yet: slot only
    c.DoFormLiveFrameUpdate();
    EXPECT_EQ(calls, 1);

    BXTessvikFocus live(c);
    c.LiveThread = &live;
    uint32_t callerThread = 0;
    c.SetLiveFrameUpdateHandler([&] {
        ++calls;
        callerThread = bx::kernel::GetCurrentThreadId();
    });
    // The live thread calls its own copy, on its own thread.
    std::thread worker([&live] {
        if (auto handler = live.LiveFrameHandler()) handler();
    });
    worker.join();
    EXPECT_EQ(calls, 2);
    EXPECT_NE(callerThread, bx::kernel::GetCurrentThreadId());

    c.SetLiveFrameUpdateHandler({});  // clearing reaches the thread's copy too
    EXPECT_FALSE(live.LiveFrameHandler());
    EXPECT_FALSE(c.Events.Get(EventId::OnLiveFrameUpdate));
    c.LiveThread = nullptr;
}
