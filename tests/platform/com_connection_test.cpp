// Connection points: advising and unadvising sinks, cookies, enumerators over snapshots, the
// container helper without a reference cycle, and the property notifier.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

using bx::com::ComPtr;
using bx::com::ConnectionPoint;
using bx::com::ConnectionPoints;
using bx::com::Make;
using bx::com::PropertyNotifier;
using bx::com::RefCounted;

namespace {

constexpr IID kEventsIid = bx::com::GuidLiteral("{5B1E2C90-7A3D-4C6E-8F21-9D0B4A6E3C01}");

// A sink that writes what it is told into a journal the test owns, answers OnRequestEdit
// with a fixed code, and counts its own lifetime.
class Sink final : public RefCounted<IPropertyNotifySink> {
public:
    Sink(std::string name, std::vector<std::string>* journal, std::atomic<int>* live,
         HRESULT edit_answer = S_OK)
        : name_(std::move(name)), journal_(journal), live_(live), edit_answer_(edit_answer) {
        if (live_) ++*live_;
    }
    ~Sink() override {
        if (live_) --*live_;
    }
    HRESULT OnChanged(DISPID id) override {
        journal_->push_back(name_ + " changed " + std::to_string(id));
        if (on_changed) on_changed();
        return S_OK;
    }
    HRESULT OnRequestEdit(DISPID id) override {
        journal_->push_back(name_ + " asked " + std::to_string(id));
        return edit_answer_;
    }

    std::function<void()> on_changed;

private:
    std::string name_;
    std::vector<std::string>* journal_;
    std::atomic<int>* live_;
    HRESULT edit_answer_;
};

// An object that answers no sink interface at all.
class NotASink final : public RefCounted<IUnknown> {};

// An object with two outgoing interfaces that delegates its container to ConnectionPoints.
class Source final : public RefCounted<IConnectionPointContainer> {
public:
    explicit Source(std::atomic<int>* live) : live_(live) { ++*live_; }
    ~Source() override { --*live_; }

    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
        return points_.EnumConnectionPoints(points);
    }
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        return points_.FindConnectionPoint(iid, point);
    }

    const PropertyNotifier& Notifier() const { return notify_; }

private:
    std::atomic<int>* live_;
    ConnectionPoints points_{this};
    ComPtr<ConnectionPoint> events_ = points_.Add(kEventsIid);
    PropertyNotifier notify_{points_.Add(IID_IPropertyNotifySink)};
};

ComPtr<ConnectionPoint> NotifyPoint() {
    return Make<ConnectionPoint>(IID_IPropertyNotifySink, nullptr);
}

DWORD AdviseOk(IConnectionPoint* point, IUnknown* sink) {
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
    return cookie;
}

}  // namespace

TEST(ConnectionPoint, AdviseRefusesASinkWithoutThePointsInterface) {
    ComPtr<ConnectionPoint> point = NotifyPoint();
    ComPtr<NotASink> stranger = Make<NotASink>();
    DWORD cookie = 99;
    EXPECT_EQ(point->Advise(stranger.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_TRUE(point->Sinks().empty());
}

TEST(ConnectionPoint, UnadviseOfAnUnknownCookieFailsAndChangesNothing) {
    ComPtr<ConnectionPoint> point = NotifyPoint();
    std::vector<std::string> journal;
    ComPtr<Sink> sink = Make<Sink>("a", &journal, nullptr);
    DWORD cookie = AdviseOk(point.Get(), sink.Get());
    for (DWORD wrong : {DWORD{0}, cookie + 1}) {
        EXPECT_EQ(point->Unadvise(wrong), CONNECT_E_NOCONNECTION) << wrong;
    }
    EXPECT_EQ(point->Sinks().size(), 1u);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST(ConnectionPoint, PointHoldsSinksUntilUnadvisedOrGone) {
    std::atomic<int> live = 0;
    std::vector<std::string> journal;
    ComPtr<ConnectionPoint> point = NotifyPoint();
    DWORD first = AdviseOk(point.Get(), Make<Sink>("a", &journal, &live).Get());
    AdviseOk(point.Get(), Make<Sink>("b", &journal, &live).Get());
    EXPECT_EQ(live, 2);
    point->Unadvise(first);
    EXPECT_EQ(live, 1);
    point.Reset();
    EXPECT_EQ(live, 0);
}

TEST(ConnectionPoint, EventsReachSinksInAdviseOrderAndASinkMayUnadviseItselfMeanwhile) {
    std::vector<std::string> journal;
    ComPtr<ConnectionPoint> point = NotifyPoint();
    PropertyNotifier notify(point);
    ComPtr<Sink> a = Make<Sink>("a", &journal, nullptr);
    ComPtr<Sink> b = Make<Sink>("b", &journal, nullptr);
    DWORD a_cookie = AdviseOk(point.Get(), a.Get());
    AdviseOk(point.Get(), b.Get());
    // Unadvising from inside the event would deadlock if events ran under the point's lock.
    a->on_changed = [&] { EXPECT_EQ(point->Unadvise(a_cookie), S_OK); };

    notify.Changed(7);
    notify.Changed(8);
    EXPECT_EQ(journal, (std::vector<std::string>{"a changed 7", "b changed 7", "b changed 8"}));
}

TEST(PropertyNotifier, RequestEditStopsAtTheFirstRefusal) {
    struct Case {
        std::vector<HRESULT> answers;
        HRESULT expected;
        size_t asked;
    };
    const Case cases[] = {
        {{}, S_OK, 0},
        {{S_OK, S_OK}, S_OK, 2},
        {{S_FALSE, S_OK}, S_FALSE, 1},
        {{S_OK, S_FALSE, S_OK}, S_FALSE, 2},
        {{E_FAIL, S_OK}, S_OK, 2},  // a broken sink is not a refusal
        {{E_FAIL, S_FALSE}, S_FALSE, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> journal;
        ComPtr<ConnectionPoint> point = NotifyPoint();
        PropertyNotifier notify(point);
        for (size_t i = 0; i < c.answers.size(); ++i) {
            AdviseOk(point.Get(),
                     Make<Sink>(std::to_string(i), &journal, nullptr, c.answers[i]).Get());
        }
        EXPECT_EQ(notify.RequestEdit(3), c.expected) << "case with " << c.answers.size();
        EXPECT_EQ(journal.size(), c.asked) << "case with " << c.answers.size();
    }
}

TEST(PropertyNotifier, NeedsAPropertyNotifySinkPoint) {
    EXPECT_THROW(PropertyNotifier(Make<ConnectionPoint>(kEventsIid, nullptr)),
                 std::invalid_argument);
    EXPECT_THROW(PropertyNotifier(nullptr), std::invalid_argument);
}

TEST(ConnectionEnumerator, WalksASnapshotThatHoldsItsSinks) {
    std::atomic<int> live = 0;
    std::vector<std::string> journal;
    ComPtr<ConnectionPoint> point = NotifyPoint();
    std::vector<DWORD> cookies;
    for (const char* name : {"a", "b", "c"}) {
        cookies.push_back(AdviseOk(point.Get(), Make<Sink>(name, &journal, &live).Get()));
    }
    ComPtr<IEnumConnections> walk;
    ASSERT_EQ(point->EnumConnections(walk.Put()), S_OK);
    for (DWORD cookie : cookies) point->Unadvise(cookie);
    EXPECT_EQ(live, 3) << "the snapshot keeps the sinks";

    CONNECTDATA got[2];
    ULONG fetched = 0;
    EXPECT_EQ(walk->Next(2, got, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0].dwCookie, cookies[0]);
    EXPECT_EQ(got[1].dwCookie, cookies[1]);
    for (CONNECTDATA& d : got) d.pUnk->Release();

    ComPtr<IEnumConnections> copy;
    ASSERT_EQ(walk->Clone(copy.Put()), S_OK);
    EXPECT_EQ(walk->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0].dwCookie, cookies[2]);
    got[0].pUnk->Release();
    EXPECT_EQ(walk->Next(1, got, nullptr), S_FALSE);

    // The clone kept the position it was made at.
    EXPECT_EQ(copy->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0].dwCookie, cookies[2]);
    got[0].pUnk->Release();

    EXPECT_EQ(walk->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(walk->Skip(2), S_OK);
    EXPECT_EQ(walk->Skip(2), S_FALSE);
    walk.Reset();
    copy.Reset();
    EXPECT_EQ(live, 0);
}

TEST(ConnectionPoints, ContainerFindsItsPointsAndTheyFindItBack) {
    std::atomic<int> live = 0;
    ComPtr<Source> source = Make<Source>(&live);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(source->FindConnectionPoint(kEventsIid, point.Put()), S_OK);
    IID iid{};
    point->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, kEventsIid);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(back.Get(), static_cast<IConnectionPointContainer*>(source.Get()));

    EXPECT_EQ(source->FindConnectionPoint(IID_IDispatch, point.Put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);

    ComPtr<IEnumConnectionPoints> walk;
    ASSERT_EQ(source->EnumConnectionPoints(walk.Put()), S_OK);
    IConnectionPoint* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(walk->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    std::set<std::string> found;
    for (ULONG i = 0; i < fetched; ++i) {
        got[i]->GetConnectionInterface(&iid);
        found.insert(bx::com::FormatGuid(iid));
        got[i]->Release();
    }
    EXPECT_EQ(found, (std::set<std::string>{bx::com::FormatGuid(kEventsIid),
                                            bx::com::FormatGuid(IID_IPropertyNotifySink)}));
}

TEST(ConnectionPoints, NoCycle_TheObjectGoesWithItsLastReferenceEvenWithSinksAdvised) {
    std::atomic<int> live_sources = 0;
    std::atomic<int> live_sinks = 0;
    std::vector<std::string> journal;
    ComPtr<IConnectionPoint> kept;
    {
        ComPtr<Source> source = Make<Source>(&live_sources);
        ASSERT_EQ(source->FindConnectionPoint(IID_IPropertyNotifySink, kept.Put()), S_OK);
        AdviseOk(kept.Get(), Make<Sink>("a", &journal, &live_sinks).Get());
        source->Notifier().Changed(1);
    }
    EXPECT_EQ(live_sources, 0);
    EXPECT_EQ(journal, std::vector<std::string>{"a changed 1"});
    // A point that outlives its object no longer reaches it.
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(kept->GetConnectionPointContainer(back.Put()), E_UNEXPECTED);
    EXPECT_FALSE(back);
    kept.Reset();
    EXPECT_EQ(live_sinks, 0);
}

TEST(ConnectionPoint, ConcurrentAdvisesGetDistinctCookiesAndNoneIsLost) {
    ComPtr<ConnectionPoint> point = NotifyPoint();
    std::vector<std::string> journal;  // never written: nothing fires here
    ComPtr<Sink> sink = Make<Sink>("a", &journal, nullptr);
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::vector<DWORD>> cookies(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                DWORD cookie = 0;
                point->Advise(sink.Get(), &cookie);
                cookies[t].push_back(cookie);
                if (i % 2) point->Unadvise(cookie);  // every other one goes again
                (void)point->Sinks();                // a firer taking snapshots meanwhile
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::set<DWORD> distinct;
    for (const auto& list : cookies) distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t{kThreads * kEach});
    EXPECT_EQ(distinct.count(0), 0u);
    EXPECT_EQ(point->Sinks().size(), size_t{kThreads * kEach / 2});
}
