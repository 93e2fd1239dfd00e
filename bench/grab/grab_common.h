// What the sequence benchmarks share: a control opened on a simulated camera, the camera's
// own back-to-back rate through the driver, one timed Grab with its progress seen from the
// host's event handler, and the checks on the image it returns (frame counters, stamps).
// Everything runs on the real clock (no time warp) on the calling thread, which plays the
// host's user-interface thread.
#pragma once

#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "open_control.h"

namespace grabbench {

// Where the benchmarks put their files: BENCH_GRAB_DIR, else the build directory.
inline std::string WorkDir() {
    const char* dir = std::getenv("BENCH_GRAB_DIR");
    return dir && *dir ? dir : BX_BENCH_DEFAULT_DIR;
}

inline double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// Ends the process when a run takes far longer than it should (a Grab that never returns),
// so a benchmark run cannot hang.
class Watchdog {
public:
    Watchdog(const char* what, int seconds)
        : thread_([this, what, seconds] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(seconds),
                                  [this] { return finished_; })) {
                  std::fprintf(stderr, "%s did not finish within %d s\n", what, seconds);
                  std::_Exit(2);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

inline uint32_t DeliveredFrameBytes(KvCamHandle camera) {
    int32_t bytes = 0;
    KvCam_GetInfo(camera, KVCAM_INFO_IMAGE_SIZE, &bytes);
    return uint32_t(bytes);
}

struct QueuedRecord {
    std::atomic<int> done{0};
    std::vector<int64_t> completedAt;
};

inline void RecordCompletion(void* user, uintptr_t index, int32_t, uint32_t) {
    auto* record = static_cast<QueuedRecord*>(user);
    record->completedAt[index] = bx::kernel::NowMicroseconds();
    record->done.fetch_add(1);
}

// The camera's own rate in frames per second: `frames` frames queued back to back straight
// through the driver, streaming on, timed by the frames' own exposure starts (the span holds
// frames - 1 back-to-back frames).
inline double CameraFramesPerSecond(KvCamHandle camera, int frames) {
    const uint32_t bytes = DeliveredFrameBytes(camera);
    constexpr int kBuffers = 8;  // the frames only need somewhere to go
    std::vector<std::vector<uint8_t>> buffers(kBuffers, std::vector<uint8_t>(bytes));
    std::vector<KvCamFrame> descriptors(size_t(frames), KvCamFrame{});
    QueuedRecord record;
    record.completedAt.assign(size_t(frames), 0);
    KvCam_SetStreaming(camera, 1);
    for (int i = 0; i < frames; ++i) {
        descriptors[i].buffer = buffers[i % kBuffers].data();
        descriptors[i].bufferSize = bytes;
        KvCam_QueueFrame(camera, &descriptors[i], RecordCompletion, KVCAM_CALLBACK_ON_COMPLETION,
                         &record, uintptr_t(i));
    }
    while (record.done.load() < frames) bx::kernel::Sleep(5);
    KvCam_SetStreaming(camera, 0);
    for (const KvCamFrame& frame : descriptors) {
        if (frame.errorCode != KVCAM_OK) {
            std::fprintf(stderr, "camera baseline frame failed (%d)\n", frame.errorCode);
            std::exit(1);
        }
    }
    // The camera's own schedule: exposure starts, which its first-frame set-up cannot skew
    // the way a late first callback skews completion times.
    return (frames - 1) * 1e6 /
           double(descriptors.back().timestamp - descriptors.front().timestamp);
}

// One Grab as the host sees it: the image, the wall time of the call and the moment each
// progress value was first reported (microseconds on the platform clock).
struct GrabOutcome {
    MM_HANDLE image = 0;
    double callSeconds = 0;
    std::vector<int64_t> progressAt;  // [k]: when GrabProgress first read k + 1 (0 = unseen)
};

// Runs Grab for NumberOfFrames `frames` at FrameRate `intervalMs`. While the disk path waits
// at its start gate (GrabProgress -2) the handler posts the right-button release that opens
// it. Exits when the Grab fails or returns no image.
inline GrabOutcome TimedGrab(ferro::TBXTessvikFerroFW& c, int frames, int intervalMs,
                             int limitSeconds) {
    GrabOutcome outcome;
    outcome.progressAt.assign(size_t(frames), 0);
    bool gateOpened = false;
    c.NumberOfFrames = frames;
    c.FrameRate = intervalMs;
    c.Events.Set(ferro::EventId::OnProcessUpdate, [&] {
        const int progress = c.GrabProgress;
        if (progress == -2 && !gateOpened && MM_IsSCSIInitialised() != 0) {
            gateOpened = true;
            bx::ui::PostThreadMessage(bx::ui::WM_RBUTTONUP);
        }
        if (progress >= 1 && progress <= frames && outcome.progressAt[progress - 1] == 0)
            outcome.progressAt[progress - 1] = bx::kernel::NowMicroseconds();
    });
    Watchdog watchdog("Grab", limitSeconds);
    const auto start = std::chrono::steady_clock::now();
    try {
        outcome.image = static_cast<MM_HANDLE>(c.Grab());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Grab failed: %s\n", e.what());
        std::exit(1);
    }
    outcome.callSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.Events.Set(ferro::EventId::OnProcessUpdate, {});
    if (outcome.image == 0) {
        std::fprintf(stderr, "Grab returned no image\n");
        std::exit(1);
    }
    return outcome;
}

// What the image holds: its frames' counters and stamps.
struct SequenceCheck {
    int64_t frames = 0;
    size_t frameBytes = 0;
    int lost = 0;      // frames missing between consecutive stored frames
    int repeated = 0;  // stored frames whose number does not follow the one before
    std::vector<double> stampsMs;
};

// Reads the frame counter of every stored frame (the first four pixels; works for in-memory
// and disk images alike) and the stamps. Exits when the image cannot be read.
inline SequenceCheck CheckSequence(MM_HANDLE image) {
    SequenceCheck check;
    const auto info = bx::mm::Describe(image);
    const auto stamps = bx::mm::Stamps(image);
    if (!info || !stamps || info->bytes_per_pixel != 2) {
        std::fprintf(stderr, "cannot read the sequence (or it is not 16-bit)\n");
        std::exit(1);
    }
    check.frames = info->frames;
    check.frameBytes = info->frame_bytes;
    MM_WaitForTransfer();
    std::vector<uint8_t> pixels(info->frame_bytes);
    KvCamFrame frame{};
    frame.buffer = pixels.data();
    frame.bufferSize = uint32_t(pixels.size());
    frame.format = KVCAM_FORMAT_MONO16;
    frame.width = uint32_t(info->size.d[0]);
    frame.height = uint32_t(info->size.d[1]);
    uint32_t previous = 0;
    for (int64_t k = 0; k < info->frames; ++k) {
        uint32_t number = 0;
        if (!bx::mm::ReadFrame(image, k, pixels.data(), pixels.size()) ||
            KvCamSim_ReadFrameCounter(&frame, &number) != KVCAM_OK) {
            std::fprintf(stderr, "cannot read the counter of frame %lld\n", (long long)k);
            std::exit(1);
        }
        if (k > 0 && number > previous + 1) check.lost += int(number - previous - 1);
        if (k > 0 && number <= previous) ++check.repeated;
        previous = number;
    }
    for (const MM_STAMP& stamp : *stamps) check.stampsMs.push_back(stamp.position[2]);
    return check;
}

// Frames per second from the stamps of frames 1 .. n-1 (frame 0's stamp is the sequence
// start, not a completion).
inline double StampFramesPerSecond(const SequenceCheck& check) {
    const size_t n = check.stampsMs.size();
    if (n < 3 || check.stampsMs[n - 1] <= check.stampsMs[1]) return 0;
    return double(n - 2) * 1e3 / (check.stampsMs[n - 1] - check.stampsMs[1]);
}

// Frames per second from the progress reports of frames 2 .. n, as the host saw them.
inline double ProgressFramesPerSecond(const GrabOutcome& outcome) {
    const size_t n = outcome.progressAt.size();
    if (n < 3 || outcome.progressAt[1] == 0 || outcome.progressAt[n - 1] == 0) return 0;
    return double(n - 2) * 1e6 / double(outcome.progressAt[n - 1] - outcome.progressAt[1]);
}

}  // namespace grabbench
