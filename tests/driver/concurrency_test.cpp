// Several threads on one camera at once, as the control uses it: settings commands on one
// thread, streaming on another, queries and single grabs on a third. Run under the sanitizer
// build these also check for data races' usual symptoms (use after free, torn frames).
#include <atomic>
#include <map>

#include "kvcam_fixture.h"

namespace {

using kvtest::Completions;

const char* kCounted = R"(
[sensor]
width = 64
height = 48
frame_counter = yes
)";

using KvCamConcurrency = kvtest::KvCamTest;

TEST_F(KvCamConcurrency, SettingsStreamingAndQueriesTogether) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 2000}});
    const size_t bytes = 64 * 48 * 2;
    std::atomic<bool> streamingDone{false};
    std::atomic<int> badFrames{0}, sendFailures{0};

    // Live-video style: one frame in flight, re-queued after each completion; an abort now
    // and then, as a settings change during live video does.
    std::thread live([&] {
        std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(bytes),
                                           std::vector<uint8_t>(bytes)};
        KvCamFrame frames[2]{};
        ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
        uint32_t lastNumber = 0;
        for (int i = 0; i < 150; ++i) {
            KvCamFrame& f = frames[i % 2];
            f.buffer = buffers[i % 2].data();
            f.bufferSize = static_cast<uint32_t>(bytes);
            Completions done;
            ASSERT_EQ(KvCam_QueueFrame(handle, &f, Completions::Callback, 1, &done, i), KVCAM_OK);
            if (i % 25 == 24) KvCam_Abort(handle);
            ASSERT_TRUE(done.WaitFor(1));
            if (done.entries[0].error != KVCAM_OK) continue;
            uint32_t counter = 0;
            if (KvCamSim_ReadFrameCounter(&f, &counter) != KVCAM_OK || counter != f.frameNumber ||
                f.frameNumber <= lastNumber) {
                ++badFrames;
            }
            lastNumber = f.frameNumber;
        }
        streamingDone = true;
    });

    // Settings commands: read, change, send, read back.
    std::thread ui([&] {
        KvCamSettings block{};
        int i = 0;
        while (!streamingDone) {
            block.size = KVCAM_SETTINGS_SIZE;
            if (KvCam_ReadSettingsFromCam(handle, &block) != KVCAM_OK) {
                ++sendFailures;
                continue;
            }
            KvCam_SetParam(&block, KVCAM_PARAM_GAIN, (i * 37) % 4096);
            KvCam_SetParam(&block, KVCAM_PARAM_OFFSET, 4095 - (i % 200));
            KvCam_SetParam(&block, KVCAM_PARAM_EXPOSURE, 1000 + (i % 5) * 500);
            if (KvCam_SendSettingsToCam(handle, &block) != KVCAM_OK) ++sendFailures;
            ++i;
        }
    });

    // Queries and the odd synchronous grab from a third thread.
    std::thread other([&] {
        std::vector<uint8_t> buffer(bytes);
        while (!streamingDone) {
            int32_t v;
            KvCam_GetInfo(handle, KVCAM_INFO_IMAGE_SIZE, &v);
            KvCamSimCounters c;
            KvCamSim_GetCounters(handle, &c);
            KvCamFrame f{};
            f.buffer = buffer.data();
            f.bufferSize = static_cast<uint32_t>(bytes);
            if (KvCam_GrabFrame(handle, &f) == KVCAM_OK) {
                uint32_t counter = 0;
                if (KvCamSim_ReadFrameCounter(&f, &counter) != KVCAM_OK ||
                    counter != f.frameNumber) {
                    ++badFrames;
                }
            }
        }
    });

    live.join();
    ui.join();
    other.join();
    EXPECT_EQ(badFrames, 0);
    EXPECT_EQ(sendFailures, 0);
    const KvCamSimCounters c = Counters();
    EXPECT_EQ(c.completed + c.aborted + c.failed, 150u);
    EXPECT_EQ(c.pending, 0u);
}

// Closing from one thread while another keeps queueing: every accepted frame completes
// exactly once, and calls after the close get a clean error.
TEST_F(KvCamConcurrency, CloseWhileAnotherThreadQueues) {
    Open(kCounted);
    Apply({{KVCAM_PARAM_EXPOSURE, 5000}});
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    constexpr int kFrames = 200;
    std::vector<std::vector<uint8_t>> buffers(kFrames, std::vector<uint8_t>(64 * 48 * 2));
    std::vector<KvCamFrame> frames(kFrames);
    std::mutex mu;
    std::map<uintptr_t, int> calls;
    struct Ctx {
        std::mutex* mu;
        std::map<uintptr_t, int>* calls;
    } ctx{&mu, &calls};
    auto callback = [](void* user, uintptr_t data, int32_t, uint32_t) {
        auto* c = static_cast<Ctx*>(user);
        std::lock_guard lk(*c->mu);
        ++(*c->calls)[data];
    };
    std::atomic<int> accepted{0};
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            frames[i].buffer = buffers[i].data();
            frames[i].bufferSize = static_cast<uint32_t>(buffers[i].size());
            const int32_t r = KvCam_QueueFrame(handle, &frames[i], callback, 1, &ctx, i);
            if (r == KVCAM_OK) {
                ++accepted;
            } else {
                EXPECT_EQ(r, KVCAM_ERR_INVALID_HANDLE);
            }
        }
    });
    while (accepted < 20) std::this_thread::yield();
    ASSERT_EQ(KvCam_CloseCamera(handle), KVCAM_OK);
    producer.join();
    std::lock_guard lk(mu);
    EXPECT_EQ(static_cast<int>(calls.size()), accepted.load());
    for (auto& [data, n] : calls) EXPECT_EQ(n, 1) << "frame " << data;
}

}  // namespace
