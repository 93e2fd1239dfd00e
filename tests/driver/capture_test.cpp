// Frame capture: the queue's order and callbacks, timing on the platform clock, streaming,
// abort and close, software and external triggers, and the bounds on every wait.
#include <algorithm>
#include <atomic>
#include <future>

#include "kvcam_fixture.h"

namespace {

using kvtest::Completions;

using kvtest::FrameSet;
namespace k = bx::kernel;

const char* kCounted = R"(
[sensor]
width = 64
height = 48
frame_counter = yes
)";

class KvCamCapture : public kvtest::KvCamTest {
protected:
    size_t FrameBytes() { return static_cast<size_t>(Info(KVCAM_INFO_IMAGE_SIZE)); }
    void QueueAll(FrameSet& set, Completions& done, size_t first = 0) {
        for (size_t i = first; i < set.frames.size(); ++i) {
            ASSERT_EQ(KvCam_QueueFrame(handle, &set.frames[i], Completions::Callback, 1, &done, i),
                      KVCAM_OK);
        }
    }
};

TEST_F(KvCamCapture, QueuedFramesCompleteInOrderWithTheirFields) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}});
    FrameSet set(20, FrameBytes());
    Completions done;
    KvCamFrame probe{};
    probe.buffer = set.buffers[0].data();
    probe.bufferSize = static_cast<uint32_t>(FrameBytes());
    EXPECT_EQ(KvCam_QueueFrame(handle, &probe, Completions::Callback, 1, &done, 0),
              KVCAM_ERR_NOT_STREAMING);
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    EXPECT_EQ(KvCam_QueueFrame(handle, &probe, Completions::Callback, 2, &done, 0),
              KVCAM_ERR_OUT_OF_RANGE);
    QueueAll(set, done);
    ASSERT_TRUE(done.WaitFor(20));

    for (size_t i = 0; i < 20; ++i) {
        const Completions::Entry& e = done.entries[i];
        EXPECT_EQ(e.userData, i);
        EXPECT_EQ(e.error, KVCAM_OK);
        EXPECT_EQ(e.flags, uint32_t(KVCAM_CALLBACK_ON_COMPLETION));
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.thread, done.entries[0].thread);
        const KvCamFrame& f = set.frames[i];
        EXPECT_EQ(f.errorCode, KVCAM_OK);
        EXPECT_EQ(f.width, 64u);
        EXPECT_EQ(f.height, 48u);
        EXPECT_EQ(f.format, uint32_t(KVCAM_FORMAT_MONO16));
        EXPECT_EQ(f.frameNumber, i + 1);
        uint32_t counter = 0;
        ASSERT_EQ(KvCamSim_ReadFrameCounter(&f, &counter), KVCAM_OK);
        EXPECT_EQ(counter, f.frameNumber) << "frame " << i << " landed in the wrong buffer";
        if (i > 0) {
            EXPECT_GT(f.timestamp, set.frames[i - 1].timestamp);
        }
    }
    const KvCamSimCounters c = Counters();
    EXPECT_EQ(c.completed, 20u);
    EXPECT_EQ(c.failed + c.aborted + c.lost + c.pending, 0u);
}

TEST_F(KvCamCapture, FramesTakeExposurePlusReadoutOnThePlatformClock) {
    Open(kCounted);
    // 64 x 48 pixels: 153.6 us at 20 Mpixel/s, 1228.8 us at 2.5 Mpixel/s (rounded up).
    for (auto [speed, readoutUs] : {std::pair{0, 154}, std::pair{3, 1229}}) {
        // Long enough (4 ms of real time at the test's warp) that all five are queued ahead.
        Apply({{KVCAM_PARAM_EXPOSURE, 200000}, {KVCAM_PARAM_READOUT_SPEED, speed}});
        FrameSet set(5, FrameBytes());
        Completions done;
        ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
        QueueAll(set, done);
        ASSERT_TRUE(done.WaitFor(5));
        ASSERT_EQ(KvCam_SetStreaming(handle, 0), KVCAM_OK);
        // Frames queued ahead follow each other back to back.
        for (size_t i = 1; i < 5; ++i) {
            EXPECT_EQ(set.frames[i].timestamp - set.frames[i - 1].timestamp, 200000 + readoutUs)
                << "speed " << speed;
        }
    }
    const int64_t before = k::NowMicroseconds();
    ASSERT_EQ(Grab().result, KVCAM_OK);
    EXPECT_GE(k::NowMicroseconds() - before, 200000 + 1229);
}

TEST_F(KvCamCapture, StreamingOffHoldsQueuedFrames) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 500000}});
    FrameSet set(3, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    ASSERT_EQ(KvCam_SetStreaming(handle, 0), KVCAM_OK);
    // Held for longer than two frames would take; a frame already exposing may finish.
    k::SleepMicroseconds(1100000);
    EXPECT_LE(done.Count(), 1u);
    EXPECT_GE(Counters().pending, 2u);
    const int64_t resumedAt = k::NowMicroseconds();
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    ASSERT_TRUE(done.WaitFor(3));
    // The held frames started only once streaming was on again, still in queue order.
    EXPECT_GE(set.frames[1].timestamp, resumedAt);
    EXPECT_GE(set.frames[2].timestamp, resumedAt);
    EXPECT_EQ(done.entries[2].userData, 2u);
}

TEST_F(KvCamCapture, AbortCancelsEverythingAndReturnsAfterTheCallbacks) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 10000000}});  // 10 s each
    FrameSet set(5, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    const int64_t before = k::NowMicroseconds();
    ASSERT_EQ(KvCam_Abort(handle), KVCAM_OK);
    // Abort cut the exposure short and every callback has run by the time it returned.
    EXPECT_LT(k::NowMicroseconds() - before, 10000000);
    ASSERT_EQ(done.Count(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(done.entries[i].error, KVCAM_ERR_ABORTED);
        EXPECT_EQ(set.frames[i].errorCode, KVCAM_ERR_ABORTED);
    }
    EXPECT_EQ(Counters().aborted, 5u);
    EXPECT_EQ(Counters().pending, 0u);

    // The camera carries on afterwards, numbering from the last delivered frame.
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}});
    Completions again;
    FrameSet next(2, FrameBytes());
    QueueAll(next, again);
    ASSERT_TRUE(again.WaitFor(2));
    EXPECT_EQ(next.frames[0].frameNumber, 1u);
    EXPECT_EQ(next.frames[1].errorCode, KVCAM_OK);
}

TEST_F(KvCamCapture, AbortReleasesAWaitingGrab) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}, {KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_SOFTWARE}});
    std::atomic<int32_t> result{-1};
    std::thread grabber([&] { result = Grab().result; });
    // Abort until the grab has gone (it may not have reached the camera at the first try).
    while (result == -1) {
        ASSERT_EQ(KvCam_Abort(handle), KVCAM_OK);
        std::this_thread::yield();
    }
    grabber.join();
    EXPECT_EQ(result, KVCAM_ERR_ABORTED);
}

TEST_F(KvCamCapture, CloseCompletesPendingFramesAsAborted) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 10000000}});
    FrameSet set(3, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    ASSERT_EQ(KvCam_CloseCamera(handle), KVCAM_OK);
    ASSERT_EQ(done.Count(), 3u);
    for (const auto& e : done.entries) EXPECT_EQ(e.error, KVCAM_ERR_ABORTED);
}

TEST_F(KvCamCapture, SoftwareTriggerStartsEachFrame) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}, {KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_SOFTWARE}});
    FrameSet set(2, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    EXPECT_EQ(Counters().pending, 2u);
    EXPECT_EQ(done.Count(), 0u);
    ASSERT_EQ(KvCam_Trigger(handle), KVCAM_OK);
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(Counters().pending, 1u);
    // The second exposure starts at its own trigger, however long that takes.
    k::SleepMicroseconds(20000);
    const int64_t triggeredAt = k::NowMicroseconds();
    ASSERT_EQ(KvCam_Trigger(handle), KVCAM_OK);
    ASSERT_TRUE(done.WaitFor(2));
    EXPECT_GE(set.frames[1].timestamp, triggeredAt);

    // A trigger with no frame waiting is latched for the next one.
    ASSERT_EQ(KvCam_Trigger(handle), KVCAM_OK);
    ASSERT_EQ(Grab().result, KVCAM_OK);
}

TEST_F(KvCamCapture, ExternalTriggerFromTheTestHook) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}, {KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_EXTERNAL}});
    FrameSet set(3, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    for (size_t n = 1; n <= 3; ++n) {
        const int64_t firedAt = k::NowMicroseconds();
        ASSERT_EQ(KvCamSim_FireExternalTrigger(handle), KVCAM_OK);
        ASSERT_TRUE(done.WaitFor(n));
        EXPECT_GE(set.frames[n - 1].timestamp, firedAt);
    }
    // A software trigger does not start an externally triggered frame.
    ASSERT_EQ(KvCam_Trigger(handle), KVCAM_OK);
    EXPECT_EQ(KvCam_Trigger(handle), KVCAM_OK);
    EXPECT_EQ(Counters().completed, 3u);
}

TEST_F(KvCamCapture, PeriodicExternalTriggerPacesFrames) {
    Open("[sensor]\nwidth = 64\nheight = 48\n[trigger]\nexternal_period_ms = 100\n");
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}, {KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_EXTERNAL}});
    FrameSet set(4, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(set, done);
    ASSERT_TRUE(done.WaitFor(4));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(set.frames[i].timestamp % 100000, 0) << "frame " << i;
        if (i > 0) {
            EXPECT_EQ(set.frames[i].timestamp - set.frames[i - 1].timestamp, 100000);
        }
    }
}

TEST_F(KvCamCapture, GrabInTriggerModeTimesOutWithoutATrigger) {
    Open("[sensor]\nwidth = 64\nheight = 48\n[trigger]\ngrab_timeout_ms = 300\n");
    Apply({{KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_SOFTWARE}});
    const int64_t before = k::NowMicroseconds();
    EXPECT_EQ(Grab().result, KVCAM_ERR_TIMEOUT);
    EXPECT_GE(k::NowMicroseconds() - before, 300000);
}

TEST_F(KvCamCapture, ATriggerFromAnotherThreadReleasesAWaitingGrab) {
    // A time-out far beyond any scheduling delay, so only the trigger can end the wait.
    Open("[sensor]\nwidth = 64\nheight = 48\n[trigger]\ngrab_timeout_ms = 600000\n");
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}, {KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_SOFTWARE}});
    std::thread trigger([&] {
        if (Eventually([&] { return Counters().grabbing > 0; })) KvCam_Trigger(handle);
    });
    EXPECT_EQ(Grab().result, KVCAM_OK);
    trigger.join();
}

// Re-queues from inside the callback, as a streaming client does, and checks the calls that
// would wait for the callback's own thread are refused there.
struct Requeuer {
    KvCamHandle handle;
    KvCamFrame frame{};
    std::vector<uint8_t> buffer;
    std::atomic<int> completed{0};
    std::atomic<int32_t> closeResult{-1}, grabResult{-1};
    std::mutex mu;
    std::condition_variable cv;

    static void Callback(void* user, uintptr_t, int32_t error, uint32_t) {
        auto* self = static_cast<Requeuer*>(user);
        if (error != KVCAM_OK) return;
        const int n = ++self->completed;
        if (n == 1) {
            self->closeResult = KvCam_CloseCamera(self->handle);
            KvCamFrame f{};
            self->grabResult = KvCam_GrabFrame(self->handle, &f);
        }
        if (n < 10) {
            KvCam_QueueFrame(self->handle, &self->frame, Callback, 1, self, 0);
        }
        std::lock_guard lk(self->mu);
        self->cv.notify_all();
    }
};

TEST_F(KvCamCapture, CallbackMayRequeueButNotCloseItsCamera) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}});
    Requeuer r;
    r.handle = handle;
    r.buffer.resize(FrameBytes());
    r.frame.buffer = r.buffer.data();
    r.frame.bufferSize = static_cast<uint32_t>(r.buffer.size());
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    ASSERT_EQ(KvCam_QueueFrame(handle, &r.frame, Requeuer::Callback, 1, &r, 0), KVCAM_OK);
    std::unique_lock lk(r.mu);
    ASSERT_TRUE(r.cv.wait_for(lk, std::chrono::seconds(20), [&] { return r.completed == 10; }));
    EXPECT_EQ(r.closeResult, KVCAM_ERR_WRONG_THREAD);
    EXPECT_EQ(r.grabResult, KVCAM_ERR_WRONG_THREAD);
    EXPECT_EQ(r.frame.frameNumber, 10u);
}

TEST_F(KvCamCapture, SettingsSentWhileStreamingApplyToLaterFrames) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 1000}});
    FrameSet first(2, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(first, done);
    ASSERT_TRUE(done.WaitFor(2));
    Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO8}, {KVCAM_PARAM_ROI_WIDTH, 32}});
    FrameSet second(1, FrameBytes());
    Completions done2;
    QueueAll(second, done2);
    ASSERT_TRUE(done2.WaitFor(1));
    EXPECT_EQ(second.frames[0].format, uint32_t(KVCAM_FORMAT_MONO8));
    EXPECT_EQ(second.frames[0].width, 32u);
    EXPECT_EQ(second.frames[0].bitDepth, 8u);

    // A queued buffer that the new settings outgrow completes with an error, unwritten.
    Apply({{KVCAM_PARAM_EXPOSURE, 1000000}});
    FrameSet small(2, FrameBytes());
    Completions done3;
    QueueAll(small, done3);
    Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16},
           {KVCAM_PARAM_ROI_WIDTH, 64},
           {KVCAM_PARAM_EXPOSURE, 1000}});
    ASSERT_TRUE(done3.WaitFor(2));
    // (The first may have started under the old settings, or not.)
    EXPECT_EQ(done3.entries[1].error, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Counters().failed, done3.entries[0].error == KVCAM_OK ? 1u : 2u);
}

// What a grab can find ahead of it: a queued frame whose trigger never comes, or long
// free-running exposures that outlast its time-out.
struct Ahead {
    const char* name;
    int32_t trigger;
    int32_t exposureUs;
};

const Ahead kAhead[] = {
    {"UntriggeredFrame", KVCAM_TRIGGER_EXTERNAL, 1000},
    {"LongExposures", KVCAM_TRIGGER_FREE_RUN, 10000000},
};

class KvCamGrabBehind : public KvCamCapture, public ::testing::WithParamInterface<Ahead> {
protected:
    // Grabs on another thread, so a grab that never returns fails the test instead of hanging
    // it (abort frees it). Returns the result and the time taken on the platform clock.
    std::pair<int32_t, int64_t> GrabBounded(KvCamFrame& frame) {
        auto grab = std::async(std::launch::async, [&] {
            const int64_t before = k::NowMicroseconds();
            const int32_t result = KvCam_GrabFrame(handle, &frame);
            return std::pair{result, k::NowMicroseconds() - before};
        });
        if (grab.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            KvCam_Abort(handle);
            ADD_FAILURE() << "the grab did not return";
        }
        return grab.get();
    }
};

TEST_P(KvCamGrabBehind, TimeOutCountsFromTheCallAndTheBufferStaysUntouched) {
    const bool external = GetParam().trigger == KVCAM_TRIGGER_EXTERNAL;
    Open(
        "[sensor]\nwidth = 64\nheight = 48\nframe_counter = yes\n"
        "[trigger]\ngrab_timeout_ms = 300\n");
    Apply(
        {{KVCAM_PARAM_EXPOSURE, GetParam().exposureUs}, {KVCAM_PARAM_TRIGGER, GetParam().trigger}});
    FrameSet queued(2, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(queued, done);

    std::vector<uint8_t> buffer(FrameBytes(), 0xA5);
    KvCamFrame frame{};
    frame.buffer = buffer.data();
    frame.bufferSize = static_cast<uint32_t>(buffer.size());
    auto [result, elapsedUs] = GrabBounded(frame);
    EXPECT_EQ(result, KVCAM_ERR_TIMEOUT);
    EXPECT_EQ(frame.errorCode, KVCAM_ERR_TIMEOUT);
    // At its own deadline, long before the frames ahead could have let it start.
    EXPECT_GE(elapsedUs, 300000);
    EXPECT_LT(elapsedUs, 10000000);
    auto untouched = [&] {
        return std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xA5; });
    };

    // The frames ahead complete, numbered as if the grab had never been; nothing reaches its
    // buffer, before or after.
    for (int i = 0; external && i < 2; ++i) ASSERT_EQ(KvCamSim_FireExternalTrigger(handle), 0);
    ASSERT_TRUE(done.WaitFor(2));
    EXPECT_EQ(queued.frames[1].frameNumber, 2u);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(Counters().grabbing, 0u);

    // With nothing ahead it starts at once; the time-out does not cut its long exposure.
    if (external) {
        ASSERT_EQ(KvCamSim_FireExternalTrigger(handle), KVCAM_OK);
    }
    EXPECT_EQ(GrabBounded(frame).first, KVCAM_OK);
    EXPECT_EQ(frame.frameNumber, 3u);
}

INSTANTIATE_TEST_SUITE_P(Driver, KvCamGrabBehind, ::testing::ValuesIn(kAhead),
                         [](const auto& info) { return std::string(info.param.name); });

struct Ending {
    const char* name;
    int32_t (*end)(KvCamHandle);
};

const Ending kEndings[] = {
    {"Abort", KvCam_Abort},
    {"Close", KvCam_CloseCamera},
    {"Release", [](KvCamHandle) { return KvCam_ReleaseDriver(); }},
};

class KvCamWaitEnds : public KvCamCapture, public ::testing::WithParamInterface<Ending> {};

TEST_P(KvCamWaitEnds, GrabAndTriggerWaitsEndWithoutATrigger) {
    // A time-out of an hour: only the ending can free the grab within the test's bound.
    Open("[sensor]\nwidth = 64\nheight = 48\n[trigger]\ngrab_timeout_ms = 3600000\n");
    Apply({{KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_EXTERNAL}});
    FrameSet queued(1, FrameBytes());
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    QueueAll(queued, done);
    auto grab = std::async(std::launch::async, [&] { return Grab().result; });
    ASSERT_TRUE(Eventually([&] { return Counters().grabbing == 1; }));

    ASSERT_EQ(GetParam().end(handle), KVCAM_OK);
    // It returns only after the waits it ended.
    ASSERT_EQ(done.Count(), 1u);
    EXPECT_EQ(done.entries[0].error, KVCAM_ERR_ABORTED);
    ASSERT_EQ(grab.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(grab.get(), KVCAM_ERR_ABORTED);
}

INSTANTIATE_TEST_SUITE_P(Driver, KvCamWaitEnds, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
