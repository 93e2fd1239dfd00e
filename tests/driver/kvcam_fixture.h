// Shared set-up for the driver tests: a fresh driver per test, a camera opened from a given
// description, and small helpers over the settings block and frames.
#pragma once

#include <bxplatform/kernel.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvtest {

// A small monochrome sensor keeps frames quick; tests that need the default camera say so.
inline const char* kSmallMono = R"(
[sensor]
width = 128
height = 96
)";

// Runs the camera's clock fast so that frame timing costs little real time.
constexpr double kWarp = 50.0;

class KvCamTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedWarp_ = bx::kernel::TimeWarp();
        bx::kernel::SetTimeWarp(kWarp);
        KvCamSim_Reset();
    }
    void TearDown() override {
        KvCamSim_Reset();
        bx::kernel::SetTimeWarp(savedWarp_);
    }

    // Loads the driver with `description` (null = the embedded default) and opens camera 1.
    void Open(const char* description = kSmallMono) {
        ASSERT_EQ(KvCamSim_UseDescription(description), KVCAM_OK) << KvCamSim_LastError();
        ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
        ASSERT_EQ(KvCam_OpenCamera(1, &handle), KVCAM_OK);
        ReadSettings();
    }

    void ReadSettings() {
        settings.size = KVCAM_SETTINGS_SIZE;
        ASSERT_EQ(KvCam_ReadSettingsFromCam(handle, &settings), KVCAM_OK);
    }

    // Sets parameters in the block and sends it.
    void Apply(std::initializer_list<std::pair<uint32_t, int32_t>> params) {
        for (auto [id, value] : params) {
            ASSERT_EQ(KvCam_SetParam(&settings, id, value), KVCAM_OK) << "param " << id;
        }
        ASSERT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_OK);
    }

    int32_t Param(uint32_t id) {
        int32_t v = -1;
        EXPECT_EQ(KvCam_GetParam(&settings, id, &v), KVCAM_OK);
        return v;
    }

    int32_t Info(uint32_t id) {
        int32_t v = -1;
        EXPECT_EQ(KvCam_GetInfo(handle, id, &v), KVCAM_OK) << "info " << id;
        return v;
    }

    // One synchronous frame sized from the camera's own report.
    struct Grabbed {
        int32_t result = -1;
        KvCamFrame frame{};
        std::vector<uint8_t> data;
        uint16_t At16(uint32_t x, uint32_t y) const {
            uint16_t v;
            std::memcpy(&v, &data[(size_t(y) * frame.width + x) * 2], 2);
            return v;
        }
        uint8_t At8(uint32_t x, uint32_t y) const { return data[size_t(y) * frame.width + x]; }
        double Pixel(uint32_t x, uint32_t y) const {
            return frame.format == KVCAM_FORMAT_MONO16 ? At16(x, y) : At8(x, y);
        }
        // Mean over a rectangle of delivered pixels.
        double Mean(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) const {
            double sum = 0;
            for (uint32_t y = y0; y < y0 + h; ++y)
                for (uint32_t x = x0; x < x0 + w; ++x) sum += Pixel(x, y);
            return sum / (double(w) * h);
        }
    };
    Grabbed Grab() {
        Grabbed g;
        g.data.assign(static_cast<size_t>(Info(KVCAM_INFO_IMAGE_SIZE)), 0);
        g.frame.buffer = g.data.data();
        g.frame.bufferSize = static_cast<uint32_t>(g.data.size());
        g.result = KvCam_GrabFrame(handle, &g.frame);
        return g;
    }

    KvCamSimCounters Counters() {
        KvCamSimCounters c{};
        EXPECT_EQ(KvCamSim_GetCounters(handle, &c), KVCAM_OK);
        return c;
    }

    // Polls `condition` until it holds or `limit` (real time) has passed.
    template <typename Condition>
    static bool Eventually(Condition condition,
                           std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    KvCamHandle handle = 0;
    KvCamSettings settings{};

private:
    double savedWarp_ = 1.0;
};

// Collects completions from the camera thread; tests wait on it with a bound.
struct Completions {
    struct Entry {
        uintptr_t userData;
        int32_t error;
        uint32_t flags;
        std::thread::id thread;
    };
    std::mutex mu;
    std::condition_variable cv;
    std::vector<Entry> entries;

    static void Callback(void* user, uintptr_t userData, int32_t error, uint32_t flags) {
        auto* self = static_cast<Completions*>(user);
        std::lock_guard lk(self->mu);
        self->entries.push_back({userData, error, flags, std::this_thread::get_id()});
        self->cv.notify_all();
    }
    // Waits (real time, bounded) until `n` completions arrived.
    bool WaitFor(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lk(mu);
        return cv.wait_for(lk, limit, [&] { return entries.size() >= n; });
    }
    size_t Count() {
        std::lock_guard lk(mu);
        return entries.size();
    }
};

// Buffers and descriptors for a run of queued frames.
struct FrameSet {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<KvCamFrame> frames;
    FrameSet(size_t n, size_t bytes) : buffers(n, std::vector<uint8_t>(bytes)), frames(n) {
        for (size_t i = 0; i < n; ++i) {
            frames[i].buffer = buffers[i].data();
            frames[i].bufferSize = static_cast<uint32_t>(bytes);
        }
    }
};

}  // namespace kvtest
