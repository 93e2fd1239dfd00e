// Every acquisition path against every fault the simulated camera can inject where that path
// meets it, at the first, a middle and the last frame. The cases are one generated table; each
// runs its path once and checks what must hold however the path ended: the order of its
// events, the flags it leaves, the frames it keeps and the time it takes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/acquisition_fixture.h"
#include "live/BXTessvikFocus.h"

namespace ferro::testing {
namespace {

constexpr int kFrames = 5;
constexpr int kWarp = 50;  // the fixture's clock

enum class Path { Snap, IntoImage, Live, Streaming, Direct, Disk };
enum class Variant { Plain, PreTrigger, Recycle };
// Where the fault is armed: before the call (Start), at the closing region send (End), at the
// first pre-trigger grab, or at a timed frame.
enum class Place { Start, End, PreTrigger, First, Middle, Last };

struct Fault {
    const char* name;
    int32_t point;
    int32_t count;
    int answer;  // to the grab-failure box; 0: not asked
    bool ends;   // the path ends at the faulted frame (keeping only the frames before it)
};

// Ten failed grabs: nine are retried quietly, the tenth asks the user.
constexpr Fault kGrabFaults[] = {
    {"GrabRetry", KVCAMSIM_FAULT_GRAB, 10, bx::ui::IDRETRY, false},
    {"GrabIgnore", KVCAMSIM_FAULT_GRAB, 10, bx::ui::IDIGNORE, true},
    {"GrabAbort", KVCAMSIM_FAULT_GRAB, 10, bx::ui::IDABORT, true},
};
// A queued frame fails once (and is queued again) or for good.
constexpr Fault kQueueFaults[] = {
    {"QueueRefusedOnce", KVCAMSIM_FAULT_QUEUE, 1, 0, false},
    {"QueueRefused", KVCAMSIM_FAULT_QUEUE, KVCAMSIM_ALWAYS, 0, true},
    {"FrameErrorOnce", KVCAMSIM_FAULT_FRAME_ERROR, 1, 0, false},
    {"FrameError", KVCAMSIM_FAULT_FRAME_ERROR, KVCAMSIM_ALWAYS, 0, true},
    {"FrameLostOnce", KVCAMSIM_FAULT_FRAME_LOST, 1, 0, false},
    {"FrameLost", KVCAMSIM_FAULT_FRAME_LOST, KVCAMSIM_ALWAYS, 0, true},
};
// A colour frame (the direct path's) is not retried: one failed grab fails the frame, no box.
constexpr Fault kColourGrabFault = {"GrabFails", KVCAMSIM_FAULT_GRAB, 1, 0, true};
constexpr Fault kSendFault = {"SendFails", KVCAMSIM_FAULT_SEND_SETTINGS, KVCAMSIM_ALWAYS, 0, false};
constexpr Fault kRegionFault = {"RegionRefused", KVCAMSIM_FAULT_SEND_REGION, KVCAMSIM_ALWAYS, 0,
                                false};

struct Case {
    Path path;
    Variant variant;
    Fault fault;
    Place place;
    std::string name;
};

const char* PathName(Path p) {
    static const char* const names[] = {"Snap", "IntoImage", "Live", "Streaming", "Direct", "Disk"};
    return names[static_cast<int>(p)];
}
const char* VariantName(Variant v) {
    static const char* const names[] = {"", "PreTrigger", "Recycle"};
    return names[static_cast<int>(v)];
}
const char* PlaceName(Place p) {
    static const char* const names[] = {"AtStart", "AtEnd",    "AtPreTrigger",
                                        "AtFirst", "AtMiddle", "AtLast"};
    return names[static_cast<int>(p)];
}
bool IsFrame(Place p) {
    return p == Place::First || p == Place::Middle || p == Place::Last;
}
int FrameOf(Place p) {
    return p == Place::First ? 0 : p == Place::Middle ? kFrames / 2 : kFrames - 1;
}

// The table: each path with the faults it meets, at the places they can be.
std::vector<Case> AllCases() {
    std::vector<Case> cases;
    auto add = [&](Path path, Variant variant, const Fault& fault, Place place) {
        cases.push_back({path, variant, fault, place,
                         std::string(PathName(path)) + VariantName(variant) + "_" + fault.name +
                             "_" + PlaceName(place)});
    };
    auto atFrames = [&](Path path, Variant variant, const Fault& fault) {
        for (Place place : {Place::First, Place::Middle, Place::Last})
            add(path, variant, fault, place);
    };
    auto settings = [&](Path path, Variant variant) {
        add(path, variant, kSendFault, Place::Start);
        add(path, variant, kSendFault, Place::End);
        add(path, variant, kRegionFault, Place::Start);
    };

    for (const Fault& f : kGrabFaults) add(Path::Snap, Variant::Plain, f, Place::First);
    settings(Path::Snap, Variant::Plain);
    for (const Fault& f : kGrabFaults) atFrames(Path::IntoImage, Variant::Plain, f);
    for (const Fault& f : kQueueFaults) atFrames(Path::Live, Variant::Plain, f);
    settings(Path::Live, Variant::Plain);
    for (Variant v : {Variant::Plain, Variant::PreTrigger, Variant::Recycle}) {
        for (const Fault& f : kQueueFaults) atFrames(Path::Streaming, v, f);
        settings(Path::Streaming, v);
        atFrames(Path::Direct, v, kColourGrabFault);
        if (v == Variant::PreTrigger) {
            for (const Fault& f : kGrabFaults) add(Path::Streaming, v, f, Place::PreTrigger);
            add(Path::Direct, v, kColourGrabFault, Place::PreTrigger);
        }
        settings(Path::Direct, v);
    }
    for (Variant v : {Variant::Plain, Variant::Recycle}) {
        for (const Fault& f : kQueueFaults) atFrames(Path::Disk, v, f);
        settings(Path::Disk, v);
    }
    return cases;
}

// Whether the fault ends the run at the faulted frame. In a pre-trigger phase a failed grab
// only costs that pre-trigger frame, unless the user answers Abort, which ends the phase and the
// sequence with it.
bool Ends(const Case& t) {
    return t.place == Place::PreTrigger ? t.fault.answer == bx::ui::IDABORT : t.fault.ends;
}

// Failure messages name the case, not its bytes.
void PrintTo(const Case& t, std::ostream* os) {
    *os << t.name;
}

// A camera for the direct path: a MicroDot (colour only, so no readable frame counter) that
// bins rows in its driver.
constexpr const char* kMicroDot =
    "[camera]\ntype = 8\nhorizontal_binning = no\n"
    "[sensor]\nwidth = 96\nheight = 64\ncolour = yes\n";

enum class Ev {
    PreAcquisition,
    PreFrame,
    Frame,
    PostFrame,
    Acquisition,
    PostAcquisition,
    Progress
};
struct Event {
    Ev kind;
    int value;  // GrabProgress for a progress update
};

class Conformance : public AcquisitionTest, public ::testing::WithParamInterface<Case> {
protected:
    void TearDown() override {
        for (int id : handlers_) bx::ui::RemoveMessageHandler(id);
        bx::ui::DiscardMessages();
        AcquisitionTest::TearDown();
        bx::mm::CloseDisk();
        if (!diskPath_.empty()) std::remove(diskPath_.c_str());
    }

    void Record(Ev kind, int value = 0) {
        std::lock_guard lock(mutex_);
        log_.push_back({kind, value});
    }
    std::vector<Event> Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }

    // Opens the camera the path needs and hooks every event, the grab-failure answers, the
    // pre-trigger and disk gates and the abort that ends a recycling run.
    TBXTessvikFerroFW& Prepare(const Case& t) {
        TBXTessvikFerroFW& c =
            OpenWithView(t.path == Path::Direct ? kMicroDot : kSmallCountingCamera);
        if (t.path == Path::Direct) c.SetBinning(4);
        c.NumberOfFrames = kFrames;
        c.FrameRate = 0;
        c.DisplayEnabled = true;
        c.PreTrigger = t.variant == Variant::PreTrigger;
        c.Recycle = t.variant == Variant::Recycle;
        if (t.path == Path::Disk) {
            diskPath_ = ::testing::TempDir() + "bx_conformance_disk_" + std::to_string(::getpid());
            EXPECT_TRUE(bx::mm::ConfigureDisk(diskPath_, 8192));
        }
        const int answer = t.fault.answer;
        ui->SetResponder([answer](const bx::ui::MessageBoxRequest& box) {
            return box.Text == "KvCam_GrabFrame() error!" && answer != 0 ? answer : 0;
        });

        const std::pair<EventId, Ev> named[] = {
            {EventId::OnPreAcquisitionTriggerClick, Ev::PreAcquisition},
            {EventId::OnPreFrameTriggerClick, Ev::PreFrame},
            {EventId::OnFrameTriggerClick, Ev::Frame},
            {EventId::OnPostFrameTriggerClick, Ev::PostFrame},
            {EventId::OnAcquisitionTriggerClick, Ev::Acquisition},
        };
        for (const auto& [id, kind] : named) c.Events.Set(id, [this, k = kind] { Record(k); });
        const bool armAtEnd = t.place == Place::End;
        c.Events.Set(EventId::OnPostAcquisitionTriggerClick, [this, armAtEnd] {
            Record(Ev::PostAcquisition);
            if (armAtEnd) Arm(GetParam().fault, 0);  // the closing region send fails
        });
        const bool recycle = c.Recycle;
        c.Events.Set(EventId::OnProcessUpdate, [this, &c, recycle] {
            const int value = c.GrabProgress;
            Record(Ev::Progress, value);
            // The pre-trigger phase and the disk gate end at the next dispatch.
            if (value == -2) {
                bx::ui::PostThreadMessage(GetParam().path == Path::Disk ? bx::ui::WM_RBUTTONUP
                                                                        : bx::ui::WM_USER);
            }
            // A recycling run ends on an abort, here in its second or third pass.
            if (recycle && value >= 1 && ++passUpdates_ == 2 * kFrames + 2) c.Abort = true;
        });
        handlers_.push_back(bx::ui::AddMessageHandler([&c](const bx::ui::TMessage& m) {
            if (m.Msg == bx::ui::WM_USER) c.PreTriggerClick();
        }));
        return c;
    }

    static void Arm(const Fault& f, int32_t skip) {
        ASSERT_EQ(KvCamSim_SetFault(f.point, KVCAMSIM_ANY_ID, skip, f.count, 0), KVCAM_OK);
    }

    // Faults at frames count the driver calls of the frames before: with a pre-trigger phase
    // the direct path's grabs begin with the phase's two.
    static int32_t Skip(const Case& t) {
        if (!IsFrame(t.place)) return 0;
        const bool preGrabs = t.path == Path::Direct && t.variant == Variant::PreTrigger;
        return FrameOf(t.place) + (preGrabs ? 2 : 0);
    }

    // Runs the path; returns the image it left (0: none; live video leaves the frame numbers
    // it showed in shown_).
    MM_HANDLE Run(TBXTessvikFerroFW& c, const Case& t) {
        switch (t.path) {
            case Path::Snap:
                try {
                    return static_cast<MM_HANDLE>(c.Snap());
                } catch (const ControlFailure&) {
                    return 0;
                }
            case Path::IntoImage: {
                MM_VECTOR size;
                MM_InitVector(&size, 1);
                size.d[0] = c.ImageWidth;
                size.d[1] = c.ImageHeight;
                size.d[2] = kFrames;
                const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY12, 256);
                for (int k = 0; k < kFrames; ++k) {
                    double elapsed = -1;
                    try {
                        c.GrabFrameIntoImage(static_cast<int32_t>(image), k, k == 0, &elapsed);
                    } catch (const ControlFailure&) {
                        failedAt_ = k;
                        break;
                    }
                    EXPECT_GE(elapsed, 0.0) << k;
                }
                return image;
            }
            case Path::Live:
                RunLive(c, t);
                return 0;
            default:
                try {
                    c.Grab();
                } catch (const ControlFailure&) {
                }
                return static_cast<MM_HANDLE>(c.AcquisitionImage);
        }
    }

    void RunLive(TBXTessvikFerroFW& c, const Case& t) {
        c.SetLiveFrameUpdateHandler([this] {
            const auto frame = view.LastFrame();
            std::lock_guard lock(mutex_);
            if (frame) shown_.push_back(FrameCounter(*frame));
        });
        StartLive(c);
        // Long enough for frames after a fault that is recovered from; a fault for good shows
        // whatever it shows in a short while.
        const int waitMs = Ends(t) ? 600 : 5000;
        for (int ms = 0; ms < waitMs; ++ms) {
            {
                std::lock_guard lock(mutex_);
                if (shown_.size() >= kFrames + 1) break;
            }
            if (!c.LiveActive) break;
            usleep(1000);
        }
        StopLive(c);
    }

    std::string diskPath_;
    int failedAt_ = -1;            // the host-image frame whose grab failed
    std::vector<uint32_t> shown_;  // frame numbers live video showed, in order

private:
    std::mutex mutex_;
    std::vector<Event> log_;
    std::vector<int> handlers_;
    int passUpdates_ = 0;
};

// The events: the acquisition opens before any frame event and closes once, with nothing
// after it; progress only goes forward once the path's start phase is over.
void CheckEvents(const Case& t, const std::vector<Event>& log, bool delivered) {
    const auto at = [&](Ev kind) {
        return std::find_if(log.begin(), log.end(), [&](const Event& e) { return e.kind == kind; });
    };
    const auto count = [&](Ev kind) {
        return std::count_if(log.begin(), log.end(),
                             [&](const Event& e) { return e.kind == kind; });
    };
    const bool raisesAcquisition = t.path != Path::IntoImage;
    if (!raisesAcquisition) {
        EXPECT_EQ(count(Ev::PreAcquisition) + count(Ev::PostAcquisition), 0);
        return;
    }
    EXPECT_EQ(count(Ev::PreAcquisition), 1);
    // A Snap whose frame failed raises no closing event; every other run closes once.
    EXPECT_EQ(count(Ev::PostAcquisition), t.path == Path::Snap && !delivered ? 0 : 1);
    const auto open = at(Ev::PreAcquisition);
    for (auto e = log.begin(); e != open; ++e) {
        // Live video raises its first pre-frame event just before it opens the acquisition.
        const bool livePreFrame = t.path == Path::Live && e->kind == Ev::PreFrame;
        EXPECT_TRUE(e->kind == Ev::Progress || livePreFrame)
            << "event " << static_cast<int>(e->kind) << " before the acquisition opened";
    }
    const auto close = at(Ev::PostAcquisition);
    if (close != log.end()) {
        for (auto e = close + 1; e != log.end(); ++e) {
            // A Snap's last progress value follows its closing event.
            EXPECT_TRUE(t.path == Path::Snap && e->kind == Ev::Progress)
                << "event " << static_cast<int>(e->kind) << " after the acquisition closed";
        }
    }
    // Progress: the start values (-1, then -2 for a pre-trigger phase or the disk gate) come
    // first; from the first value of 0 on it only goes forward, except that a recycling run
    // starts each pass again at 1.
    std::optional<int> last;
    for (const Event& e : log) {
        if (e.kind != Ev::Progress) continue;
        if (!last && e.value < 0) continue;
        if (last) {
            const bool newPass = t.variant == Variant::Recycle && e.value == 1;
            EXPECT_TRUE(e.value >= *last || newPass) << *last << " then " << e.value;
        }
        last = e.value;
    }
}

// The frames the camera delivered, in the order it delivered them; a recycling image is in
// that order from its oldest frame, wherever the last pass stopped.
void CheckCounters(const std::vector<uint32_t>& counters, bool recycled) {
    int descents = 0;
    for (size_t i = 0; i < counters.size(); ++i) {
        EXPECT_GT(counters[i], 0u) << "frame " << i << " is no camera frame";
        if (i > 0 && counters[i] <= counters[i - 1]) ++descents;
    }
    if (!recycled || counters.size() < 2) {
        EXPECT_EQ(descents, 0) << "frames out of order";
    } else {
        EXPECT_LE(descents, 1) << "frames out of order";
        if (descents == 1) {
            EXPECT_LT(counters.back(), counters.front());
        }
    }
}

TEST_P(Conformance, InvariantsHold) {
    const Case& t = GetParam();
    TBXTessvikFerroFW& c = Prepare(t);
    if (t.fault.point == KVCAMSIM_FAULT_SEND_REGION) c.RequestedRoi = {9, 9, 72, 56};
    if (t.place != Place::End) Arm(t.fault, Skip(t));

    const int64_t exposureMs = (c.ExposureTime + 999) / 1000;
    const int passes = c.Recycle ? 3 : 1;
    const auto bound = std::chrono::milliseconds(10'000 + 10 * kFrames * passes *
                                                              (exposureMs + c.FrameRate) / kWarp);
    const auto start = std::chrono::steady_clock::now();
    const MM_HANDLE image = Run(c, t);
    const auto took = std::chrono::steady_clock::now() - start;
    KvCamSim_ClearFaults();

    EXPECT_LT(took, bound) << "the call took "
                           << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                           << " ms";
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_FALSE(c.FrameInFlight);
    EXPECT_FALSE(c.CameraCommandBusy);
    EXPECT_FALSE(c.LiveActive);
    EXPECT_FALSE(c.PreTriggerRunning);
    KvCamSimCounters driver{};
    ASSERT_EQ(KvCamSim_GetCounters(c.CameraHandle, &driver), KVCAM_OK);
    EXPECT_EQ(driver.pending, 0u) << "a frame was left with the camera";
    EXPECT_EQ(driver.lost, 0u) << "a lost frame was never cancelled";
    EXPECT_EQ(driver.grabbing, 0u);

    const bool delivered = image != 0 && t.path != Path::IntoImage;
    CheckEvents(t, Log(), delivered);

    // A fault that ends the path keeps only the frames before it (a pre-trigger fault at most
    // the first timed frame, which was already on its way); any other keeps every frame.
    const size_t kept = !Ends(t)                       ? kFrames
                        : t.place == Place::PreTrigger ? 1
                                                       : static_cast<size_t>(FrameOf(t.place));
    switch (t.path) {
        case Path::Snap:
            if (!Ends(t)) {
                ASSERT_NE(image, 0u) << BoxTexts();
            }
            if (image != 0) CheckCounters({FrameCounter(image, 0)}, false);
            break;
        case Path::IntoImage: {
            EXPECT_EQ(failedAt_, Ends(t) ? FrameOf(t.place) : -1);
            const int good = failedAt_ < 0 ? kFrames : failedAt_;
            std::vector<uint32_t> counters;
            for (int k = 0; k < good; ++k) counters.push_back(FrameCounter(image, k));
            CheckCounters(counters, false);
            for (int k = good; k < kFrames; ++k)
                EXPECT_EQ(DistinctBytes(bx::mm::ReadFrame(image, k)), 1u) << "frame " << k;
            break;
        }
        case Path::Live: {
            CheckCounters(shown_, false);
            // A refused queue call ends live video, even once; other passing faults do not.
            const bool recovers = !Ends(t) && t.fault.point != KVCAMSIM_FAULT_QUEUE;
            if (recovers) {
                EXPECT_GT(shown_.size(), static_cast<size_t>(kFrames)) << BoxTexts();
            }
            EXPECT_TRUE(bx::mm::ListImages().empty()) << "live images left in the store";
            EXPECT_TRUE(c.btn_Window->Enabled()) << "the geometry controls stayed locked";
            break;
        }
        default: {
            if (image == 0) {
                EXPECT_TRUE(Ends(t) && kept <= 1) << "no image; boxes: " << BoxTexts();
                EXPECT_TRUE(bx::mm::ListImages().empty());
                break;
            }
            MM_WaitForTransfer();
            const auto info = bx::mm::Describe(image);
            ASSERT_TRUE(info);
            const auto frames = static_cast<size_t>(info->frames);
            if (Ends(t)) {
                EXPECT_LE(frames, kept) << "frames after the fault were kept";
            } else {
                EXPECT_EQ(frames, static_cast<size_t>(kFrames));
            }
            if (t.path == Path::Direct) {
                // Colour frames carry no counter: each is a scene, stamped in order.
                for (size_t k = 0; k < frames; ++k)
                    EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(image, static_cast<int64_t>(k))), 4u)
                        << "frame " << k;
                const auto stamps = bx::mm::Stamps(image).value_or(std::vector<MM_STAMP>{});
                EXPECT_EQ(stamps.size(), frames);
                for (size_t k = 1; k < stamps.size() && !c.Recycle; ++k)
                    EXPECT_GE(stamps[k].position[2], stamps[k - 1].position[2]) << k;
            } else {
                std::vector<uint32_t> counters;
                for (size_t k = 0; k < frames; ++k)
                    counters.push_back(FrameCounter(image, static_cast<int64_t>(k)));
                CheckCounters(counters, c.Recycle);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, Conformance, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ferro::testing
