// Live video on the simulated camera: start and stop, refusals, freeze, colour, settings
// changes while streaming, injected queue and frame faults, and many cycles without leaks.
// The camera writes its frame number into each frame, so the tests see exactly which frames
// were shown.
#include <bxmm/host.h>
#include <dirent.h>

#include <atomic>
#include <mutex>
#include <numeric>
#include <set>

#include "fixtures/acquisition_fixture.h"
#include "live/BXTessvikFocus.h"

namespace ferro::testing {
namespace {

using Frame = bx::view::THeadlessImageView::Frame;

class LiveVideo : public AcquisitionTest {
protected:
    TBXTessvikFerroFW& Open(const char* description = kSmallCountingCamera) {
        TBXTessvikFerroFW& c = OpenWithView(description);
        // Runs on the live thread just after each frame reached the view: the view's last
        // frame is the one shown.
        c.SetLiveFrameUpdateHandler([this] {
            const std::optional<Frame> frame = view.LastFrame();
            std::lock_guard lock(mutex_);
            ++updates_;
            if (frame) shown_.push_back(FrameCounter(*frame));
        });
        return c;
    }

    // Waits for a frame newer than the view holds now (a few seconds of real time at most).
    // Starting live video shows the empty display image first; frames after it are camera
    // frames.
    Frame NextFrame() {
        const std::optional<Frame> last = view.LastFrame();
        const uint64_t after = last ? last->sequence : 0;
        std::optional<Frame> frame = view.WaitForFrame(after, 5000);
        EXPECT_TRUE(frame) << "no frame after " << after << "; boxes: " << BoxTexts();
        return frame.value_or(Frame{});
    }

    // The frame numbers of the frames shown from now on, once there are `count` of them.
    std::vector<uint32_t> ShownNumbers(size_t count) {
        size_t from = 0;
        {
            std::lock_guard lock(mutex_);
            from = shown_.size();
        }
        Eventually([&] {
            std::lock_guard lock(mutex_);
            return shown_.size() >= from + count;
        });
        std::lock_guard lock(mutex_);
        return {shown_.begin() + static_cast<std::ptrdiff_t>(std::min(from, shown_.size())),
                shown_.end()};
    }

    static double Mean(const Frame& frame) {
        const auto* words = reinterpret_cast<const uint16_t*>(frame.pixels.data());
        const size_t n = frame.pixels.size() / 2;
        return n ? std::accumulate(words + 8, words + n, 0.0) / double(n - 8) : 0.0;
    }

    // Waits (bounded) until `done` holds.
    template <typename F>
    static bool Eventually(F done, int ms = 5000) {
        for (int i = 0; i < ms && !done(); ++i) usleep(1000);
        return done();
    }

    KvCamSimCounters Counters() const {
        KvCamSimCounters counters{};
        EXPECT_EQ(KvCamSim_GetCounters(control->CameraHandle, &counters), KVCAM_OK);
        return counters;
    }

    void ExpectStopped(TBXTessvikFerroFW& c) {
        EXPECT_FALSE(c.LiveActive);
        EXPECT_EQ(c.LiveThread, nullptr);
        EXPECT_TRUE(bx::mm::ListImages().empty()) << "live images left in the store";
        EXPECT_TRUE(c.btn_Window->Enabled());
        EXPECT_TRUE(c.rbn_bin2->Enabled());
        EXPECT_TRUE(c.rbn_RangeHigh->Enabled());
    }

    std::mutex mutex_;
    std::atomic<int> updates_{0};
    std::vector<uint32_t> shown_;  // frame numbers, in the order shown
};

TEST_F(LiveVideo, StartsAndStopsTwiceWithItsEventsAndControls) {
    TBXTessvikFerroFW& c = Open();
    RecordEvents();
    for (int round = 0; round < 2; ++round) {
        events.clear();
        EXPECT_EQ(StartLive(c), 0);
        EXPECT_TRUE(c.LiveActive);
        EXPECT_FALSE(c.btn_Window->Enabled());
        EXPECT_FALSE(c.rbn_bin4->Enabled());
        EXPECT_FALSE(c.rbn_RangeLow->Enabled());
        const std::vector<uint32_t> numbers = ShownNumbers(5);
        ASSERT_GE(numbers.size(), 5u);
        // Every shown frame is a new camera frame, none skipped: one frame in the camera at a
        // time, each shown once.
        for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
        EXPECT_EQ(StopLive(c), 0);
        ExpectStopped(c);
        const std::vector<std::string> expected = {"PreFrame", "PreAcquisition", "PostFrame",
                                                   "PostAcquisition"};
        EXPECT_EQ(events, expected);
    }
    EXPECT_EQ(StopLive(c), 0);  // a second stop is harmless
    ExpectStopped(c);
    EXPECT_EQ(Counters().pending, 0u);
    EXPECT_GE(updates_, 10);
}

TEST_F(LiveVideo, RefusesDuringAGrabAndDoesNothingBeforeInitialisation) {
    Create();
    EXPECT_EQ(StartLive(*control), 0);
    EXPECT_FALSE(control->LiveActive);
    EXPECT_EQ(control->LiveThread, nullptr);
    control.reset();

    TBXTessvikFerroFW& c = Open();
    c.GrabInProgress = true;  // as a running grab holds it
    try {
        StartLive(c);
        ADD_FAILURE() << "no refusal";
    } catch (const ControlFailure& e) {
        EXPECT_STREQ(e.what(), "Grab In Progress.");
    }
    c.GrabInProgress = false;
    EXPECT_FALSE(c.LiveActive);
    EXPECT_EQ(c.LiveThread, nullptr);
    EXPECT_TRUE(c.rbn_RangeHigh->Enabled());
    EXPECT_TRUE(c.btn_Window->Enabled());
}

TEST_F(LiveVideo, FreezeShowsExactlyOneFrame) {
    TBXTessvikFerroFW& c = Open();
    c.LiveFreeze = true;
    StartLive(c);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(mutex_);
        return updates_ == 1;
    }));
    // Several frame times pass without another frame (the camera is not even asked).
    EXPECT_FALSE(view.WaitForFrame(view.LastFrame()->sequence, 200));
    EXPECT_EQ(updates_, 1);
    StopLive(c);
    EXPECT_FALSE(c.LiveFreeze);
    ExpectStopped(c);
}

TEST_F(LiveVideo, ColourFramesAreConvertedBeforeDisplay) {
    TBXTessvikFerroFW& c = Open("[sensor]\nwidth = 64\nheight = 48\ncolour = yes\n");
    c.chk_Color->SetChecked(true);
    ASSERT_EQ(c.BitDepth, 24);
    StartLive(c);
    const Frame frame = NextFrame();
    const auto info = bx::mm::Describe(view.ShownImage());
    StopLive(c);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->map_max, c.FocusMapMax) << "8 bits a channel: the 8-bit mapping";
    EXPECT_EQ(frame.type, MM_TYPE_BGR24);
    ASSERT_EQ(frame.pixels.size(), 64u * 48u * 3u);
    size_t coloured = 0;  // a grey copy of the mosaic would have equal channels everywhere
    for (size_t p = 0; p + 2 < frame.pixels.size(); p += 3)
        coloured +=
            frame.pixels[p] != frame.pixels[p + 1] || frame.pixels[p + 1] != frame.pixels[p + 2];
    EXPECT_GT(coloured, 0u);
}

TEST_F(LiveVideo, AGainChangeRestartsTheStreamAndTheNextFrameHasIt) {
    TBXTessvikFerroFW& c = Open();
    StartLive(c);
    const Frame before = NextFrame();
    ASSERT_TRUE(c.SetCameraGain(3000));
    const Frame after = NextFrame();
    EXPECT_GT(Mean(after), 4 * Mean(before));
    const std::vector<uint32_t> numbers = ShownNumbers(3);
    StopLive(c);
    ASSERT_GE(numbers.size(), 3u);
    EXPECT_GE(numbers.front(), FrameCounter(after));  // the frame seen may be the first listed
    EXPECT_GT(numbers.back(), FrameCounter(after));
}

struct FaultCase {
    const char* name;
    int32_t point;
    int32_t skip;
    int32_t count;
    bool liveEnds;  // the thread ends with "Queue frame failed."
};

class LiveFaults : public LiveVideo, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LiveFaults, NoFrameIsShownTwiceAndStopIsClean) {
    const FaultCase& f = GetParam();
    TBXTessvikFerroFW& c = Open();
    ASSERT_EQ(KvCamSim_SetFault(f.point, KVCAMSIM_ANY_ID, f.skip, f.count, 0), KVCAM_OK);
    StartLive(c);
    if (f.liveEnds) {
        ASSERT_TRUE(Eventually([&] { return !c.LiveActive.load(); })) << "live went on";
        // Even when the first frame fails before the start has returned.
        EXPECT_TRUE(Eventually([&] { return c.btn_Window->Enabled(); })) << "geometry locked";
        ASSERT_EQ(ui->BoxCount(), 1u);
        EXPECT_EQ(ui->Boxes()[0].Text, "Queue frame failed.");
        EXPECT_EQ(ui->Boxes()[0].ShownCaption(), "Error");
        // Two frames are queued ahead: the refusal comes when the frame before it is shown.
        EXPECT_EQ(updates_, std::max(0, f.skip - 1));
    } else {
        const std::vector<uint32_t> numbers = ShownNumbers(6);
        ASSERT_GE(numbers.size(), 6u);
        EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()) ==
                    numbers.end())
            << "a frame shown twice or out of order";
        EXPECT_EQ(ui->BoxCount(), 0u) << BoxTexts();
    }
    KvCamSim_ClearFaults();
    StopLive(c);
    EXPECT_EQ(Counters().pending, 0u);
    EXPECT_EQ(Counters().lost, 0u);
    EXPECT_EQ(c.LiveThread, nullptr);
    EXPECT_TRUE(bx::mm::ListImages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    FirstMiddleAndLast, LiveFaults,
    ::testing::Values(FaultCase{"QueueRefusedFirst", KVCAMSIM_FAULT_QUEUE, 0, 1, true},
                      FaultCase{"QueueRefusedMiddle", KVCAMSIM_FAULT_QUEUE, 4, 1, true},
                      FaultCase{"FrameErrorFirst", KVCAMSIM_FAULT_FRAME_ERROR, 0, 1, false},
                      FaultCase{"FrameErrorMiddle", KVCAMSIM_FAULT_FRAME_ERROR, 4, 2, false},
                      FaultCase{"FrameLostFirst", KVCAMSIM_FAULT_FRAME_LOST, 0, 1, false},
                      FaultCase{"FrameLostMiddle", KVCAMSIM_FAULT_FRAME_LOST, 4, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LiveVideo, StopsCleanlyWhileTheLastFrameNeverCompletes) {
    TBXTessvikFerroFW& c = Open();
    StartLive(c);
    NextFrame();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_FRAME_LOST, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0),
              KVCAM_OK);
    ASSERT_TRUE(Eventually([&] { return Counters().lost > 0; }));
    StopLive(c);  // the frame in flight is cancelled, not waited for
    ExpectStopped(c);
    EXPECT_EQ(Counters().lost, 0u);
}

TEST_F(LiveVideo, QuitAndTeardownStopARunningThread) {
    TBXTessvikFerroFW& c = Open();
    StartLive(c);
    NextFrame();
    c.Quit();
    EXPECT_FALSE(c.LiveActive);
    EXPECT_EQ(c.LiveThread, nullptr);
    c.Initialise();
    StartLive(c);
    NextFrame();
    control.reset();  // the thread ends before the control goes
    EXPECT_TRUE(bx::mm::ListImages().empty());
}

size_t CountEntries(const char* folder) {
    size_t n = 0;
    if (DIR* dir = opendir(folder)) {
        while (readdir(dir) != nullptr) ++n;
        closedir(dir);
    }
    return n;
}

TEST_F(LiveVideo, TwoHundredCyclesLeakNoThreadImageOrDescriptor) {
    TBXTessvikFerroFW& c = Open();
    StartLive(c);  // the first cycle opens what stays open (the driver's threads)
    NextFrame();
    StopLive(c);
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    const size_t blocks = bx::kernel::GlobalBlocksInUse();
    for (int cycle = 0; cycle < 200; ++cycle) {
        StartLive(c);
        if (cycle % 40 == 0) NextFrame();
        StopLive(c);
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(bx::kernel::GlobalBlocksInUse(), blocks);
    ExpectStopped(c);
}

TEST_F(LiveVideo, MappingLimitsReachARunningThread) {
    TBXTessvikFerroFW& c = Open();
    StartLive(c);
    NextFrame();
    c.HighSpeedMapMin = 100;
    c.HighSpeedMapMax = 900;
    c.CopyMappingToLive();
    // A frame already on its way when the limits were copied may still show the old ones;
    // one of the next few has the new.
    auto info = bx::mm::Describe(view.ShownImage());
    for (int frame = 0; frame < 3 && !(info && info->map_min == 100); ++frame) {
        NextFrame();
        info = bx::mm::Describe(view.ShownImage());
    }
    StopLive(c);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->map_min, 100);
    EXPECT_EQ(info->map_max, 900);
}

TEST_F(LiveVideo, AutoExposureButtonRunsOnePassOnTheLiveThread) {
    TBXTessvikFerroFW& c = Open();
    std::atomic<int> passFrames{0};
    std::atomic<bool> onHostThread{false};
    const auto host = bx::kernel::GetCurrentThreadId();
    c.Events.Set(EventId::OnProcessUpdate, [&] {
        if (c.GrabProgress != -3) return;
        ++passFrames;
        if (bx::kernel::GetCurrentThreadId() == host) onHostThread = true;
    });
    const int before = c.ExposureTime;

    // Not live: the click starts live video for one pass, which then ends by itself.
    c.btn_AutoExpose->Click();
    EXPECT_EQ(c.btn_AutoExpose->Caption(), "Stop");
    EXPECT_EQ(StartLive(c), 1) << "a pass of its own is running";
    ASSERT_TRUE(Eventually([&] { return !c.LiveActive.load(); }));
    ASSERT_TRUE(Eventually([&] { return c.btn_AutoExpose->Caption() == "Set"; }));
    EXPECT_GT(passFrames, 0);
    EXPECT_LE(passFrames, 40);
    EXPECT_FALSE(onHostThread);
    EXPECT_NE(c.ExposureTime, before);
    EXPECT_TRUE(c.hsb_Brightness->Enabled());

    // Live: the click asks the running thread for a pass, and streaming goes on after it.
    passFrames = 0;
    EXPECT_EQ(StartLive(c), 0);
    NextFrame();
    c.btn_AutoExpose->Click();
    ASSERT_TRUE(Eventually([&] { return c.btn_AutoExpose->Caption() == "Set"; }));
    EXPECT_GT(passFrames, 0);
    EXPECT_TRUE(c.LiveActive);
    EXPECT_GE(ShownNumbers(3).size(), 3u);
    StopLive(c);
    ExpectStopped(c);
}

// A MicroDot whose driver cannot bin rows: live video bins them itself, as single frames do.
constexpr const char* kQuietMicroDot =
    "[camera]\ntype = 8\nhorizontal_binning = no\n"
    "[sensor]\nwidth = 64\nheight = 48\ncolour = yes\nread_noise = 0\ne_per_dn = 1000000000\n";

TEST_F(LiveVideo, MicroDotBinsInSoftwareLikeASingleFrame) {
    TBXTessvikFerroFW& c = Open(kQuietMicroDot);
    c.SetBinning(2);
    ASSERT_TRUE(c.SoftwareBinningApplies());
    StartLive(c);
    const Frame live = NextFrame();
    StopLive(c);
    std::vector<uint8_t> single(c.AcquisitionFrameBytes());
    ASSERT_EQ(c.GrabFrameToBuffer(single.data(), single.size()), KVCAM_OK);
    ASSERT_EQ(live.pixels.size(), single.size());
    size_t far = 0;  // the scene has no noise: frames agree to within a count
    for (size_t i = 0; i < single.size(); ++i) far += std::abs(live.pixels[i] - single[i]) > 1;
    EXPECT_EQ(far, 0u);

    bx::kernel::FailNthGlobalAlloc(1);  // the first intermediate buffer
    StartLive(c);
    ASSERT_TRUE(Eventually([&] { return !c.LiveActive.load(); }));
    bx::kernel::FailNthGlobalAlloc(0);
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "Unable to allocate intermediate buffer.");
    EXPECT_EQ(ui->Boxes()[0].ShownCaption(), "Grab warning");
    StopLive(c);
    EXPECT_TRUE(bx::mm::ListImages().empty());
}

TEST_F(LiveVideo, AnImageItCannotMakeFailsTheStartAndLeavesNothing) {
    TBXTessvikFerroFW& c = Open();
    c.BitDepth = 7;  // no store type for it
    try {
        StartLive(c);
        ADD_FAILURE() << "no failure";
    } catch (const ControlFailure& e) {
        EXPECT_STREQ(e.what(), "Cannot Allocate Focus Image");
    }
    EXPECT_FALSE(c.LiveActive);
    EXPECT_EQ(c.LiveThread, nullptr);
    EXPECT_TRUE(c.rbn_RangeHigh->Enabled());
    EXPECT_TRUE(bx::mm::ListImages().empty());
}

}  // namespace
}  // namespace ferro::testing
