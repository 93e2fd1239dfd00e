// stream_rate: 500 queued full frames (1 ms exposure, 20 Mpixel/s, no time warp), delivered
// frame rate over the rate the camera model promises, with the frame counters checked for
// lost or misplaced frames.
#include <bxplatform/kernel.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr int kFrames = 500;
constexpr int kRing = 8;  // buffers in flight; each is re-queued from its callback

struct Stream {
    KvCamHandle handle = 0;
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<KvCamFrame> frames;
    std::mutex mu;
    std::condition_variable cv;
    int completed = 0, queued = 0, bad = 0;
    uint32_t expectedNumber = 1;
    int64_t firstAt = 0, lastAt = 0;

    static void Callback(void* user, uintptr_t slot, int32_t error, uint32_t) {
        auto* s = static_cast<Stream*>(user);
        const int64_t now = bx::kernel::NowMicroseconds();
        KvCamFrame& f = s->frames[slot];
        uint32_t counter = 0;
        std::lock_guard lk(s->mu);
        if (error != KVCAM_OK || KvCamSim_ReadFrameCounter(&f, &counter) != KVCAM_OK ||
            counter != s->expectedNumber || f.frameNumber != counter) {
            ++s->bad;
        }
        s->expectedNumber = counter + 1;
        if (s->completed++ == 0) s->firstAt = now;
        s->lastAt = now;
        if (s->queued < kFrames) {
            ++s->queued;
            KvCam_QueueFrame(s->handle, &f, Callback, 1, s, slot);
        }
        s->cv.notify_all();
    }
};

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1.0);
    KvCamSim_UseDescription("[sensor]\nframe_counter = yes\n");
    Stream s;
    KvCamCameraInfo info;
    uint32_t n = 1;
    if (KvCam_LoadDriver() != KVCAM_OK || KvCam_ListCameras(&info, &n) != KVCAM_OK ||
        KvCam_OpenCamera(info.cameraId, &s.handle) != KVCAM_OK) {
        std::fprintf(stderr, "cannot open the simulated camera\n");
        return 1;
    }
    KvCamSettings settings{};
    settings.size = KVCAM_SETTINGS_SIZE;
    KvCam_ReadSettingsFromCam(s.handle, &settings);
    KvCam_SetParam(&settings, KVCAM_PARAM_EXPOSURE, 1000);
    KvCam_SetParam(&settings, KVCAM_PARAM_READOUT_SPEED, 0);
    KvCam_SetParam(&settings, KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16);
    KvCam_SendSettingsToCam(s.handle, &settings);
    int32_t bytes = 0, width = 0, height = 0;
    KvCam_GetInfo(s.handle, KVCAM_INFO_IMAGE_SIZE, &bytes);
    KvCam_GetInfo(s.handle, KVCAM_INFO_IMAGE_WIDTH, &width);
    KvCam_GetInfo(s.handle, KVCAM_INFO_IMAGE_HEIGHT, &height);

    s.buffers.assign(kRing, std::vector<uint8_t>(static_cast<size_t>(bytes)));
    s.frames.resize(kRing);
    KvCam_SetStreaming(s.handle, 1);
    {
        std::lock_guard lk(s.mu);
        for (int i = 0; i < kRing; ++i) {
            s.frames[i].buffer = s.buffers[i].data();
            s.frames[i].bufferSize = static_cast<uint32_t>(bytes);
            ++s.queued;
            KvCam_QueueFrame(s.handle, &s.frames[i], Stream::Callback, 1, &s, i);
        }
    }
    {
        std::unique_lock lk(s.mu);
        s.cv.wait(lk, [&] { return s.completed == kFrames; });
    }
    const double periodUs = 1000.0 + double(width) * height / 20.0;
    const double modelRate = 1e6 / periodUs;
    const double delivered = (kFrames - 1) * 1e6 / double(s.lastAt - s.firstAt);
    std::printf("%d frames of %dx%d: %d lost, repeated or misplaced\n", kFrames, width, height,
                s.bad);
    std::printf("ratio: stream_rate %.4f (%.3f vs %.3f frames/s)\n", delivered / modelRate,
                delivered, modelRate);
    KvCam_ReleaseDriver();
    return s.bad == 0 ? 0 : 1;
}
