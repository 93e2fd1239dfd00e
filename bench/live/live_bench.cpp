// Live video against the camera it streams from, on the real clock (no time warp), with a
// headless view attached as a host would have one.
//
// live_rate: frames shown per second over 1,000 frames, against the rate at which the same
// simulated camera delivers frames queued back to back (measured first in the same run). The
// camera writes its frame number into every frame, so the run also counts frames lost (a
// gap between consecutive shown numbers) and frames shown twice.
//
// live_latency: for each shown frame, the time from the camera's completion to the moment the
// view holds the frame (the view's own time stamp of its copy). The
// completion time is the frame's exposure start plus the completion offset measured in the
// baseline run (the camera's callback time minus the exposure start), so the camera's own
// timing is not counted. Reported at the 99th percentile against one memcpy of the frame.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"
#include "open_control.h"

namespace {

const char* const kCamera =
    "[sensor]\nwidth = 1392\nheight = 1040\nbit_depth = 12\nframe_counter = yes\n"
    "[readout]\nspeeds = 20, 10\n";

int FramesToShow() {
    const char* text = std::getenv("BENCH_LIVE_FRAMES");
    const int n = text ? std::atoi(text) : 1000;
    return n > 10 ? n : 1000;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// The camera's own rate and completion offset: frames queued back to back, streaming on.
struct CameraFigures {
    double framesPerSecond = 0;
    double completionOffsetUs = 0;
};

struct QueuedRecord {
    std::atomic<int> done{0};
    std::vector<int64_t> completedAt;
    std::vector<KvCamFrame> frames;
};

void RecordCompletion(void* user, uintptr_t index, int32_t, uint32_t) {
    auto* record = static_cast<QueuedRecord*>(user);
    record->completedAt[index] = bx::kernel::NowMicroseconds();
    record->done.fetch_add(1);
}

CameraFigures MeasureCamera(KvCamHandle handle, uint32_t frameBytes) {
    constexpr int kFrames = 40;
    QueuedRecord record;
    record.completedAt.assign(kFrames, 0);
    record.frames.assign(kFrames, KvCamFrame{});
    std::vector<std::vector<uint8_t>> buffers(kFrames, std::vector<uint8_t>(frameBytes));
    KvCam_SetStreaming(handle, 1);
    for (int i = 0; i < kFrames; ++i) {
        record.frames[i].buffer = buffers[i].data();
        record.frames[i].bufferSize = frameBytes;
        KvCam_QueueFrame(handle, &record.frames[i], RecordCompletion, KVCAM_CALLBACK_ON_COMPLETION,
                         &record, static_cast<uintptr_t>(i));
    }
    while (record.done.load() < kFrames) bx::kernel::Sleep(5);
    KvCam_SetStreaming(handle, 0);
    std::vector<double> offsets;
    for (int i = 0; i < kFrames; ++i)
        offsets.push_back(double(record.completedAt[i] - record.frames[i].timestamp));
    CameraFigures figures;
    // The first frame waited for nothing; the span from it to the last is back-to-back frames.
    figures.framesPerSecond =
        (kFrames - 1) * 1e6 / double(record.completedAt.back() - record.completedAt.front());
    figures.completionOffsetUs = Percentile(offsets, 0.5);
    return figures;
}

double MedianCopyUs(size_t bytes) {
    std::vector<uint8_t> from(bytes, 7), to(bytes);
    std::vector<double> times;
    for (int i = 0; i < 51; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        from[i] = to[bytes - 1 - i];  // keep the copies from being optimised away
    }
    return Percentile(times, 0.5);
}

struct LiveRecord {
    std::mutex mutex;
    std::vector<uint32_t> numbers;
    std::vector<int64_t> shownAt;    // when the view held the frame
    std::vector<int64_t> exposedAt;  // the frame's exposure start
};

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1);
    bx::ui::SetUiBackend(std::make_shared<bx::ui::ScriptedUi>());
    bx::view::THeadlessImageView view(16);
    bx::view::ImageViewRegistration registration(&view);
    auto control = bench::OpenControl(kCamera, 1000, registration.handle());
    int32_t frameBytes = 0;
    KvCam_GetInfo(control->CameraHandle, KVCAM_INFO_IMAGE_SIZE, &frameBytes);
    const CameraFigures camera = MeasureCamera(control->CameraHandle, uint32_t(frameBytes));
    const double copyUs = MedianCopyUs(size_t(frameBytes));

    const int frames = FramesToShow();
    LiveRecord live;
    ferro::TBXTessvikFerroFW& c = *control;
    c.SetLiveFrameUpdateHandler([&live, &c, &view] {
        // On the live thread, right after the view took the frame: the display buffer and
        // the completed descriptor are the thread's and are not changing now.
        const std::optional<bx::view::THeadlessImageView::Frame> held = view.LastFrame();
        const int64_t now = held ? held->copied_at_us : bx::kernel::NowMicroseconds();
        BXTessvikFocus* thread = c.LiveThread;
        KvCamFrame shown = thread->CompletedFrame;
        shown.buffer = thread->DisplayBits.load();
        uint32_t number = 0;
        KvCamSim_ReadFrameCounter(&shown, &number);
        std::lock_guard lock(live.mutex);
        live.numbers.push_back(number);
        live.shownAt.push_back(now);
        live.exposedAt.push_back(thread->CompletedFrame.timestamp);
    });
    ferro::StartLive(c);
    for (;;) {
        bx::kernel::Sleep(50);
        std::lock_guard lock(live.mutex);
        if (static_cast<int>(live.numbers.size()) > frames) break;
    }
    KvCamSimCounters counters{};
    KvCamSim_GetCounters(c.CameraHandle, &counters);
    ferro::StopLive(c);

    std::lock_guard lock(live.mutex);
    int lost = 0, twice = 0;
    for (size_t i = 1; i < live.numbers.size(); ++i) {
        if (live.numbers[i] == live.numbers[i - 1]) ++twice;
        if (live.numbers[i] > live.numbers[i - 1] + 1)
            lost += live.numbers[i] - live.numbers[i - 1] - 1;
    }
    // From the first shown frame to the frames-th one after it.
    const double spanS = double(live.shownAt[size_t(frames)] - live.shownAt[0]) / 1e6;
    const double shownPerSecond = frames / spanS;
    std::vector<double> latencies;
    for (size_t i = 0; i < live.shownAt.size(); ++i)
        latencies.push_back(double(live.shownAt[i] - live.exposedAt[i]) -
                            camera.completionOffsetUs);
    const double p99Us = Percentile(latencies, 0.99);
    const double goalUs = 2000 + copyUs;

    std::printf("camera delivers %.3f frames/s back to back; live shows %.3f frames/s\n",
                camera.framesPerSecond, shownPerSecond);
    std::printf("frames shown %d, lost %d, shown twice %d; camera completed %u, failed %u\n",
                frames, lost, twice, counters.completed, counters.failed);
    std::printf(
        "latency completion->view: median %.0f us, p99 %.0f us; one frame copy %.0f us; "
        "goal p99 <= %.0f us\n",
        Percentile(latencies, 0.5), p99Us, copyUs, goalUs);
    std::printf("ratio: live_rate %.4f (%.3f vs %.3f frames/s)\n",
                shownPerSecond / camera.framesPerSecond, shownPerSecond, camera.framesPerSecond);
    std::printf("ratio: live_latency %.3f (%.0f vs %.0f us: p99 latency vs 2 ms + one copy)\n",
                goalUs / p99Us, p99Us, goalUs);
    control.reset();
    KvCamSim_Reset();
    return lost == 0 && twice == 0 ? 0 : 1;
}
