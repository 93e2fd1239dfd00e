// Grab: the streaming, direct and disk sequence paths against the simulated camera (frame
// counters on, so every stored frame proves which camera frame it is), the real image store
// and a headless view, on the warped clock.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/acquisition_fixture.h"

using namespace ferro;
using ferro::testing::AcquisitionTest;
using ferro::testing::FailureText;

namespace {

class Sequence : public AcquisitionTest {
protected:
    void TearDown() override {
        if (control) {
            EXPECT_FALSE(control->GrabInProgress) << "the grab is still marked";
        }
        for (int id : handlers_) bx::ui::RemoveMessageHandler(id);
        bx::ui::DiscardMessages();
        AcquisitionTest::TearDown();
        bx::mm::CloseDisk();
        if (!diskPath_.empty()) std::remove(diskPath_.c_str());
    }

    TBXTessvikFerroFW& Open(int frames, int intervalMs = 0,
                            const char* camera = ferro::testing::kSmallCountingCamera) {
        TBXTessvikFerroFW& c = OpenWithView(camera);
        c.NumberOfFrames = frames;
        c.FrameRate = intervalMs;
        c.DisplayEnabled = true;
        return c;
    }

    // Records every OnProcessUpdate value; `also` runs after each.
    std::vector<int> progress;
    void TrackProgress(std::function<void(int)> also = {}) {
        control->Events.Set(EventId::OnProcessUpdate, [this, also] {
            progress.push_back(control->GrabProgress);
            if (also) also(control->GrabProgress);
        });
    }

    // Runs `action` on the host thread when the sequence dispatches a posted WM_USER.
    void OnDispatch(std::function<void()> action) {
        handlers_.push_back(bx::ui::AddMessageHandler([action](const bx::ui::TMessage& m) {
            if (m.Msg == bx::ui::WM_USER) action();
        }));
    }

    // Puts new images on a disk device; `also` runs after each progress value.
    void UseDisk(std::function<void(int)> also = {}) {
        diskPath_ = ::testing::TempDir() + "bx_sequence_disk_" + std::to_string(::getpid());
        // Frame blocks of two 8 KiB sectors hold a 12 KiB frame: the block is the larger.
        ASSERT_TRUE(bx::mm::ConfigureDisk(diskPath_, 8192));
        // The start gate opens on the right button's release, posted once it waits.
        TrackProgress([also](int value) {
            if (value == -2) bx::ui::PostThreadMessage(bx::ui::WM_RBUTTONUP);
            if (also) also(value);
        });
    }

    static std::vector<uint32_t> Counters(MM_HANDLE image) {
        std::vector<uint32_t> out;
        const auto info = bx::mm::Describe(image);
        MM_WaitForTransfer();
        for (int64_t i = 0; info && i < info->frames; ++i) out.push_back(FrameCounter(image, i));
        return out;
    }

    static std::vector<double> Times(MM_HANDLE image) {
        std::vector<double> out;
        for (const MM_STAMP& stamp : bx::mm::Stamps(image).value_or(std::vector<MM_STAMP>{}))
            out.push_back(stamp.position[2]);
        return out;
    }

    // Consecutive camera frames, none missing or repeated.
    static void ExpectConsecutive(const std::vector<uint32_t>& counters) {
        for (size_t i = 1; i < counters.size(); ++i)
            EXPECT_EQ(counters[i], counters[i - 1] + 1) << "frame " << i;
        if (!counters.empty()) {
            EXPECT_GT(counters[0], 0u) << "frame 0 is no camera frame";
        }
    }

    // Camera frames in their order, none repeated (a retried frame may skip some).
    static void ExpectInOrder(const std::vector<uint32_t>& counters) {
        for (size_t i = 1; i < counters.size(); ++i)
            EXPECT_GT(counters[i], counters[i - 1]) << "frame " << i;
        if (!counters.empty()) {
            EXPECT_GT(counters[0], 0u) << "frame 0 is no camera frame";
        }
    }

    template <class T, size_t N>
    static std::vector<std::pair<T, int>> Combine(const T (&cases)[N], std::vector<int> values) {
        std::vector<std::pair<T, int>> out;
        for (const T& c : cases)
            for (int v : values) out.emplace_back(c, v);
        return out;
    }

    std::string diskPath_;

private:
    std::vector<int> handlers_;
};

}  // namespace

TEST_F(Sequence, StreamsFramesWithProgressEventsAndRecordInOrder) {
    TBXTessvikFerroFW& c = Open(5);
    RecordEvents();
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0u);
    EXPECT_EQ(events, (std::vector<std::string>{"Progress -1", "PreAcquisition", "Progress 0",
                                                "PostFrame", "PreFrame", "Progress 1", "Progress 2",
                                                "Progress 3", "Progress 4", "Progress 5",
                                                "Progress 5", "PostFrame", "PostAcquisition"}));
    const auto info = bx::mm::Describe(image);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size.d[2], 5);
    EXPECT_EQ(info->dims[2].name, "Time");
    EXPECT_EQ(info->dims[2].units, "ms");
    ExpectConsecutive(Counters(image));
    const std::vector<double> times = Times(image);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i], times[i - 1]);  // whole ms
    EXPECT_NE(bx::mm::Comment(image).value_or("").find("Exposure=400"), std::string::npos);
    EXPECT_EQ(bx::mm::Comment(image).value_or("").find("Frame Rate="), std::string::npos);
    EXPECT_EQ(c.GetImage(), static_cast<int32_t>(image));
    EXPECT_TRUE(c.rbn_RangeHigh->Enabled());
}

TEST_F(Sequence, FramesFollowTheIntervalOrTheirOwnPaceWhenSlower) {
    bx::kernel::SetTimeWarp(2);  // a busy machine's scheduling stays within the tolerance
    struct Case {
        int intervalMs, exposureUs;
        double spacingMs;
    };
    // The first frame comes a full interval after the start; an interval shorter than the
    // frame leaves the frames at their own pace.
    for (const Case& test : {Case{200, 400, 200}, Case{20, 100000, 100}}) {
        if (control) control.reset();
        TBXTessvikFerroFW& c = Open(5, test.intervalMs);
        c.SetExposureTime(test.exposureUs);
        const auto image = static_cast<MM_HANDLE>(c.Grab());
        const std::vector<double> times = Times(image);
        ASSERT_EQ(times.size(), 5u);
        EXPECT_GE(times[0], test.intervalMs);
        // Stamps are completion times, which a busy machine's scheduling moves a little; the
        // frames' own schedule shows in the mean spacing, and no two frames come together.
        const double mean = (times.back() - times.front()) / (times.size() - 1);
        EXPECT_GE(mean, test.spacingMs * 0.97) << test.intervalMs;
        EXPECT_LE(mean, test.spacingMs * 1.2) << test.intervalMs;
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], test.spacingMs / 2) << test.intervalMs << " " << i;
        MM_DeleteImage(image);
    }
}

// The host's windows stay responsive while slow frames are on their way: its messages are
// dispatched many times a frame, not only once between frames.
TEST_F(Sequence, MessagesAreDispatchedWhileASlowFrameIsOnItsWay) {
    bx::kernel::SetTimeWarp(2);
    TBXTessvikFerroFW& c = Open(3, 50);
    c.SetExposureTime(300000);  // 300 ms a frame
    int dispatches = 0;
    OnDispatch([&] {
        ++dispatches;
        bx::ui::PostThreadMessage(bx::ui::WM_USER);  // seen at the next dispatch
    });
    bx::ui::PostThreadMessage(bx::ui::WM_USER);
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0);
    EXPECT_GE(dispatches, 15) << "about 1 s of frames, one dispatch per 25 ms at most";
    MM_DeleteImage(image);
    bx::ui::DiscardMessages();
}

// Every frame's interval counts down, not only the first one's.
TEST_F(Sequence, TimeToNextFrameCountsDownOnlyWhileMoreThanTwoSecondsRemain) {
    bx::kernel::SetTimeWarp(10);  // each second of the countdown lasts 100 ms
    for (int interval : {10000, 0}) {
        if (control) control.reset();
        TBXTessvikFerroFW& c = Open(2, interval);
        std::vector<int> countdown;
        c.Events.Set(EventId::OnTimeToNextFrameUpdate, [&] {
            const int value = c.TimeToNextFrame;
            // A 10 shows only at the very start of a wait, when it happens to be seen.
            if (value != 10 && (countdown.empty() || countdown.back() != value))
                countdown.push_back(value);
        });
        ASSERT_NE(c.Grab(), 0);
        const std::vector<int> wait = {9, 8, 7, 6, 5, 4, 3, 2, 0};
        std::vector<int> expected = {0};
        if (interval != 0) {
            for (int pass = 0; pass < 2; ++pass)
                expected.insert(expected.end(), wait.begin(), wait.end());
        }
        EXPECT_EQ(countdown, expected);
    }
}

// The exposure is in microseconds; the estimate counts it in milliseconds, as the interval.
TEST_F(Sequence, TimeRemainingCountsTheExposureInMilliseconds) {
    TBXTessvikFerroFW& c = Open(5, 0);
    c.SetExposureTime(2'000'000);
    std::vector<int> remaining;
    c.Events.Set(EventId::OnTimeRemainingUpdate, [&] { remaining.push_back(c.TimeRemaining); });
    ASSERT_NE(c.Grab(), 0);
    ASSERT_GE(remaining.size(), 2u);
    EXPECT_EQ(remaining[1], 10);  // five frames of two seconds
    EXPECT_EQ(remaining.back(), 0);
}

TEST_F(Sequence, AbortKeepsTheCompletedFramesAndTheOneQueued) {
    TBXTessvikFerroFW& c = Open(10);
    TrackProgress([&](int value) {
        if (value == 3) c.Abort = true;  // frame 2 is being queued
    });
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0u);
    const std::vector<uint32_t> counters = Counters(image);
    EXPECT_EQ(counters.size(), 3u);
    ExpectConsecutive(counters);
    EXPECT_FALSE(c.Abort);
    EXPECT_EQ(Times(image).size(), 3u);
}

TEST_F(Sequence, RecycleOverwritesInOrderAndIsNeverCut) {
    TBXTessvikFerroFW& c = Open(3);
    c.Recycle = true;
    int updates = 0;
    TrackProgress([&](int value) {
        // Four values a pass (1, 2, 3, then 3 for the last frame): frame 1 of the third pass.
        if (value >= 1 && ++updates == 10) c.Abort = true;
    });
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0u);
    const std::vector<uint32_t> counters = Counters(image);
    ASSERT_EQ(counters.size(), 3u);
    // Frames 0 and 1 come from the last pass, frame 2 from the pass before it.
    EXPECT_EQ(counters[1], counters[0] + 1);
    EXPECT_EQ(counters[0], counters[2] + 1);
    EXPECT_GT(counters[2], 3u);
    const std::vector<double> times = Times(image);
    // Whole milliseconds: short frames may share one.
    EXPECT_GE(times[1], times[0]);
    EXPECT_GE(times[0], times[2]);  // the stamps are those of each frame's last pass
}

TEST_F(Sequence, ARunningGrabOrLiveVideoRefusesAGrab) {
    TBXTessvikFerroFW& c = Open(3);
    std::string nested;
    c.Events.Set(EventId::OnPreAcquisitionTriggerClick,
                 [&] { nested = FailureText([&] { c.Grab(); }); });
    ASSERT_NE(c.Grab(), 0);
    EXPECT_EQ(nested, "Grab In Progress");
    EXPECT_EQ(ui->BeepCount(), 0u);

    c.LiveActive = true;
    EXPECT_EQ(FailureText([&] { c.Grab(); }), "Focus In Progress");
    EXPECT_EQ(ui->BeepCount(), 1u);
    c.LiveActive = false;
}

TEST_F(Sequence, OneFrameCompletesStampedAndUnlocked) {
    TBXTessvikFerroFW& c = Open(1);
    TrackProgress();
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    EXPECT_EQ(progress, (std::vector<int>{-1, 0, 1}));
    ExpectConsecutive(Counters(image));  // readable: the frame was unlocked
    ASSERT_EQ(Times(image).size(), 1u);
    EXPECT_GT(Times(image)[0], 0.0);
    // A frame the sequence still held would refuse a new write hold.
    MM_VECTOR index;
    MM_InitVector(&index, 0);
    const MM_LEAF leaf = MM_GetData(image, index);
    ASSERT_NE(MM_Lock(leaf, MM_LOCK_WRITE), nullptr);
    MM_Unlock(leaf, 0);
}

TEST_F(Sequence, PreTriggerRunsUntilPreTriggerClickAndFrameZeroIsTheFirstTimedFrame) {
    TBXTessvikFerroFW& c = Open(3);
    c.PreTrigger = true;
    int shownBeforeClick = 0;
    OnDispatch([&] {
        shownBeforeClick =
            static_cast<int>(view.CallCount(bx::view::THeadlessImageView::CallKind::Bits));
        c.PreTriggerClick();
    });
    TrackProgress([](int value) {
        if (value == -2) bx::ui::PostThreadMessage(bx::ui::WM_USER);
    });
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    EXPECT_EQ(progress, (std::vector<int>{-1, -2, 0, 1, 2, 3, 3}));
    EXPECT_GE(shownBeforeClick, 1);
    const std::vector<uint32_t> counters = Counters(image);
    ExpectConsecutive(counters);
    EXPECT_GT(counters[0], 1u);  // pre-trigger frames came first and were replaced
    EXPECT_FALSE(c.PreTriggerRunning);
}

TEST_F(Sequence, GrabFailureAnsweredAbortEndsThePreTriggerPhase) {
    TBXTessvikFerroFW& c = Open(4);
    c.PreTrigger = true;
    ui->QueueAnswer(bx::ui::IDABORT);
    KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    // Frame 0 is still queued and completed; the image is cut to it.
    ASSERT_NE(image, 0u);
    EXPECT_EQ(Counters(image).size(), 1u);
    ExpectConsecutive(Counters(image));
    EXPECT_EQ(ui->Boxes().at(0).Text, "KvCam_GrabFrame() error!");
}

// A frame the camera does not deliver is queued again; one that keeps failing ends the
// sequence, which keeps the frames before it and says why.
TEST_F(Sequence, FramesTheCameraFailsAreRetriedOrEndTheSequenceCutBeforeThem) {
    struct Case {
        int point, frame, count;
        int kept;  // frames in the image; -1 for all five
    };
    const Case cases[] = {
        {KVCAMSIM_FAULT_QUEUE, 0, 1, -1},
        {KVCAMSIM_FAULT_QUEUE, 2, 1, -1},
        {KVCAMSIM_FAULT_FRAME_ERROR, 4, 1, -1},
        {KVCAMSIM_FAULT_FRAME_LOST, 2, 1, -1},
        {KVCAMSIM_FAULT_QUEUE, 0, KVCAMSIM_ALWAYS, 0},
        {KVCAMSIM_FAULT_FRAME_ERROR, 2, KVCAMSIM_ALWAYS, 2},
        {KVCAMSIM_FAULT_FRAME_LOST, 4, KVCAMSIM_ALWAYS, 4},
    };
    // Without an interval the next frame is already queued behind the failing one.
    for (const auto& [test, interval] : Combine(cases, {0, 20})) {
        SCOPED_TRACE(::testing::Message() << "point " << test.point << " frame " << test.frame
                                          << " count " << test.count << " interval " << interval);
        if (control) control.reset();
        TBXTessvikFerroFW& c = Open(5, interval);
        KvCamSim_SetFault(test.point, KVCAMSIM_ANY_ID, test.frame, test.count, 0);
        const std::string failure = FailureText([&] { c.Grab(); });
        KvCamSim_ClearFaults();
        EXPECT_EQ(failure, test.kept < 0 ? "<no failure>" : "Unable To Grab Frame");
        EXPECT_FALSE(c.GrabInProgress);
        const auto image = static_cast<MM_HANDLE>(c.AcquisitionImage);
        if (test.kept == 0) {
            EXPECT_EQ(image, 0u);
            EXPECT_TRUE(bx::mm::ListImages().empty());
            continue;
        }
        const std::vector<uint32_t> counters = Counters(image);
        EXPECT_EQ(counters.size(), test.kept < 0 ? 5u : static_cast<size_t>(test.kept));
        // A frame taken again comes later, so a frame behind it is taken again too.
        ExpectInOrder(counters);
        MM_DeleteImage(image);
    }
}

TEST_F(Sequence, ModelBTriggersEachFrameInSoftwareAndRestoresFreeRunning) {
    TBXTessvikFerroFW& c = Open(4, 0,
                                "[camera]\nmodel_b = yes\n[sensor]\nwidth = 96\nheight = 64\n"
                                "frame_counter = yes\n");
    ASSERT_TRUE(c.IsModelB);
    ASSERT_TRUE(c.rbtn_FreeRun->Checked());
    // The camera itself waits for the software trigger while the frames run.
    int32_t during = -1;
    TrackProgress([&](int value) {
        KvCamSettings now{};
        now.size = KVCAM_SETTINGS_SIZE;
        if (value == 2 && KvCam_ReadSettingsFromCam(c.CameraHandle, &now) == KVCAM_OK)
            KvCam_GetParam(&now, KVCAM_PARAM_TRIGGER, &during);
    });
    ExpectConsecutive(Counters(static_cast<MM_HANDLE>(c.Grab())));
    EXPECT_EQ(during, KVCAM_TRIGGER_SOFTWARE);
    int32_t trigger = -1;
    KvCam_ReadSettingsFromCam(c.CameraHandle, c.CameraSettings.get());
    KvCam_GetParam(c.CameraSettings.get(), KVCAM_PARAM_TRIGGER, &trigger);
    EXPECT_EQ(trigger, KVCAM_TRIGGER_FREE_RUN);

    KvCamSim_SetFault(KVCAMSIM_FAULT_SET_PARAM, KVCAM_PARAM_TRIGGER, 0, 1, 0);
    EXPECT_EQ(c.Grab(), 0);
    EXPECT_EQ(ui->Boxes().back().Text, "Setting internal trigger mode failed.");
    EXPECT_EQ(c.AcquisitionImage, 0);
}

// The MicroDot delivers colour only, so its frames carry no readable counter.
TEST_F(Sequence, DirectPathGrabsEachFrameForTheMicroDotBinnedFourHigh) {
    TBXTessvikFerroFW& c = Open(3, 0,
                                "[camera]\ntype = 8\nhorizontal_binning = no\n"
                                "[sensor]\nwidth = 96\nheight = 64\ncolour = yes\n");
    c.SetBinning(4);
    ASSERT_EQ(c.RoiBinning.Y, 4);
    RecordEvents();
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    EXPECT_EQ(events, (std::vector<std::string>{
                          "Progress -1", "PreAcquisition", "PostFrame", "PreFrame", "Progress 1",
                          "PreFrame", "Frame", "Progress 2", "PreFrame", "Frame", "Progress 3",
                          "PreFrame", "Frame", "PostFrame", "PostAcquisition"}));
    const auto info = bx::mm::Describe(image);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size.d[2], 3);
    for (int frame = 0; frame < 3; ++frame)
        EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(image, frame)), 4u) << frame;  // a scene
    const std::vector<double> times = Times(image);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
}

TEST_F(Sequence, DiskPathWaitsAtItsGateThenWritesEveryFrameToTheDevice) {
    TBXTessvikFerroFW& c = Open(4);
    UseDisk();
    bool gateHeld = false;
    OnDispatch([&] { gateHeld = c.GrabProgress == -2; });
    control->Events.Set(EventId::OnPreFrameTriggerClick, [&] {
        if (c.GrabProgress == -1) bx::ui::PostThreadMessage(bx::ui::WM_USER);
    });
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0u);
    EXPECT_TRUE(gateHeld);  // another message did not open the gate
    EXPECT_EQ(progress, (std::vector<int>{-1, -2, 0, 1, 2, 3, 4}));
    EXPECT_NE(bx::mm::Describe(image)->disk_id, 0);
    const std::vector<uint32_t> counters = Counters(image);
    EXPECT_EQ(counters.size(), 4u);
    ExpectConsecutive(counters);
    const std::vector<double> times = Times(image);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i], times[i - 1]);  // whole ms
}

// A gate nobody opens does not hold the host: an abort ends it, and no frame is taken.
TEST_F(Sequence, AnAbortAtTheDiskGateEndsTheGrabWithoutAnImage) {
    TBXTessvikFerroFW& c = Open(3);
    diskPath_ = ::testing::TempDir() + "bx_sequence_disk_" + std::to_string(::getpid());
    ASSERT_TRUE(bx::mm::ConfigureDisk(diskPath_, 8192));
    OnDispatch([&] { c.Abort = true; });
    TrackProgress([](int value) {
        if (value == -2) bx::ui::PostThreadMessage(bx::ui::WM_USER);
    });
    EXPECT_EQ(c.Grab(), 0);
    EXPECT_EQ(c.AcquisitionImage, 0);
    EXPECT_TRUE(bx::mm::ListImages().empty());
}

TEST_F(Sequence, DiskPathRecyclesItsBlocksInOrder) {
    TBXTessvikFerroFW& c = Open(3);
    c.Recycle = true;
    int updates = 0;
    UseDisk([&](int value) {
        if (value >= 1 && ++updates == 5) c.Abort = true;  // frame 1 of the second pass
    });
    const std::vector<uint32_t> counters = Counters(static_cast<MM_HANDLE>(c.Grab()));
    ASSERT_EQ(counters.size(), 3u);
    EXPECT_EQ(counters[1], counters[0] + 1);
    EXPECT_EQ(counters[0], counters[2] + 1);
}

TEST_F(Sequence, DiskWritesAreRetriedAndAFailureThatStaysIsReported) {
    struct Case {
        int armAt;     // progress value at which the device starts failing
        int failures;  // device writes that fail from then on
        size_t kept;   // frames in the image
    };
    // Frame k - 1 is written while frame k is taken (progress k + 1).
    for (const Case& test : {Case{1, 2, 5}, Case{1, 3, 0}, Case{3, 3, 1}}) {
        SCOPED_TRACE(::testing::Message() << test.armAt << " " << test.failures);
        if (control) control.reset();
        TBXTessvikFerroFW& c = Open(5);
        UseDisk([&](int value) {
            if (value != test.armAt) return;
            MM_WaitForTransfer();  // the writes so far are done and succeeded
            bx::mm::FailNextDiskWrites(test.failures);
        });
        const std::string failure = FailureText([&] { c.Grab(); });
        bx::mm::FailNextDiskWrites(0);
        EXPECT_FALSE(c.GrabInProgress);
        EXPECT_EQ(failure, test.kept == 5 ? "<no failure>" : "Unable To Write Frame To Disk");
        const auto image = static_cast<MM_HANDLE>(c.AcquisitionImage);
        if (test.kept == 0) {
            EXPECT_EQ(image, 0u);  // the first frame never reached the disk
        } else {
            const std::vector<uint32_t> counters = Counters(image);
            EXPECT_EQ(counters.size(), test.kept);
            ExpectConsecutive(counters);
        }
        bx::mm::CloseDisk();
    }
}

// On an external trigger each frame waits for its pulse, however far apart the pulses are,
// up to the user's time-out.
TEST_F(Sequence, ExternalTriggerFramesWaitForPulsesFurtherApartThanAFreeFrameMayTake) {
    const std::string camera = std::string(ferro::testing::kSmallCountingCamera) +
                               "[trigger]\nexternal_period_ms = 20000\n";
    TBXTessvikFerroFW& c = Open(3, 0, camera.c_str());
    c.ExternalTriggerTimeoutS = 30;  // a free frame would be given up after three tries of 5 s
    c.rbtn_ExternalTrigger->SetChecked(true);
    ASSERT_TRUE(c.ExternalTriggerActive) << BoxTexts();
    const auto image = static_cast<MM_HANDLE>(c.Grab());
    ASSERT_NE(image, 0u) << BoxTexts();
    ExpectConsecutive(Counters(image));
    const std::vector<double> times = Times(image);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[2] - times[0], 2 * 20000 * 0.9);
}

// A pulse that never comes ends the grab at the user's time-out, or at once on an abort.
TEST_F(Sequence, AFrameWhoseTriggerNeverComesEndsAtTheTimeOutOrOnAbort) {
    TBXTessvikFerroFW& c = Open(3);
    c.rbtn_ExternalTrigger->SetChecked(true);
    c.ExternalTriggerTimeoutS = 1;
    EXPECT_EQ(FailureText([&] { c.Grab(); }), "Unable To Grab Frame");

    c.ExternalTriggerTimeoutS = 100000;
    OnDispatch([&] { c.Abort = true; });
    TrackProgress([](int value) {
        if (value == 1) bx::ui::PostThreadMessage(bx::ui::WM_USER);
    });
    const int64_t start = c.CurrentMilliseconds();
    EXPECT_EQ(FailureText([&] { c.Grab(); }), "<no failure>");
    EXPECT_LT(c.CurrentMilliseconds() - start, 60'000);
    EXPECT_FALSE(c.GrabInProgress);
}
