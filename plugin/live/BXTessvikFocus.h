// The live video thread: streams camera frames into the host's view through a two-buffer
// frame queue, and runs the auto-exposure pass when asked.
//
// Lifetime. The control owns the thread object through LiveThread: StartLive makes it,
// StopLive (or Quit, or the control's teardown) terminates it, waits for it and deletes it.
// A thread that ended itself (a refused queue call, the end of an auto-exposure-only pass)
// stays in LiveThread, finished, until the next start or stop reaps it, so nothing the
// control holds ever points at a freed thread, and the thread never outlives its control.
//
// Thread rule. The thread takes its copies of the control's settings before it starts and
// then reads only its own fields, apart from the atomics below that the host thread (and
// camera commands, from either thread) write while it runs: the frame count, the depth,
// the mapping limits, the auto-exposure request and the live-frame handler (guarded by its
// own lock). Driver access follows the hand-off of camera/Command.h: the thread queues
// frames inside a FrameHold. The completion callback runs on the driver's thread and writes
// FrameDoneFlag and the completion record only.
#pragma once

#include <bxmm/mm40.h>
#include <bxplatform/thread.h>
#include <kvcam/kvcam.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "control/Events.h"

namespace bx::view {
class TBXImageView;
}

namespace ferro {
class TBXTessvikFerroFW;
}

class BXTessvikFocus : public bx::kernel::TThread {
public:
    // Made suspended, normal priority, with its palette allocated; it reaches its control
    // through `control` (the control recorded as ActiveControl when live video starts).
    explicit BXTessvikFocus(ferro::TBXTessvikFerroFW& control);
    ~BXTessvikFocus() override;

    // ---- Clock (read when Execute starts) ----
    int64_t ClockFrequency = 0;
    int32_t ClockMode = 0;  // 2: high-resolution counter; 0: tick count

    // ---- Images and buffers ----
    MM_HANDLE DisplayImage = 0;  // one plane, shown in the view
    MM_HANDLE FrameImage = 0;    // two planes: the camera's two frame buffers
    std::atomic<void*> DisplayBits{nullptr};

    // ---- Copies taken at start ----
    std::function<void(void*)> AutoExposeHandler;
    bool StopAfterAutoExpose = false;
    int32_t ImageWidth = 0, ImageHeight = 0;
    std::unique_ptr<std::array<int32_t, 256>> Palette;  // LUT entries (blue, green, red)
    KvCamHandle CameraHandle = 0;
    int32_t FrameBytes = 0;
    bx::view::TBXImageView* View = nullptr;

    // ---- Shared with the host thread while running ----
    // Frames queued or shown since start or since the stream last restarted; a camera
    // command that changed settings sets it to 0, which restarts the stream.
    std::atomic<int32_t> FrameCount{0};
    std::atomic<int32_t> DepthBits{12};  // copy of BitDepth
    std::atomic<bool> Force8Bit{false};  // copy of Acquire8Bit
    std::atomic<bool> AutoExposeRequest{false};
    std::atomic<int32_t> LastCameraError{0};
    std::atomic<double> FocusMapMin{0}, FocusMapMax{0};
    std::atomic<double> HighSpeedMapMin{0}, HighSpeedMapMax{0};
    std::atomic<double> SlowScanMapMin{0}, SlowScanMapMax{0};

    // ---- Frame descriptors (the thread's own) ----
    KvCamFrame ColourFrame{};
    // One descriptor per camera buffer (B and C): both frames are queued at once, so the
    // camera always has the next frame while the thread shows the last one.
    std::array<KvCamFrame, 2> QueuedFrame{};
    KvCamFrame CompletedFrame{};

    void SetLiveFrameHandler(ferro::EventHandler handler);
    ferro::EventHandler LiveFrameHandler() const;

    // An image of ImageWidth x ImageHeight x `planes` of the depth's type; fails "Unknown
    // image Type" or "Image Allocation Failure".
    MM_HANDLE CreateLiveImage(int32_t planes);
    void PrepareDisplayImage();
    // The display mapping limits of the depth: 8-bit and colour frames, 10 and 12 bits, deeper.
    std::pair<double, double> DisplayMapping() const;
    void PrepareFrameImage();
    // Deletes the images (the thread does it when it ends; StartLive when it fails early).
    void ReleaseImages();
    virtual void DoLiveFrameUpdate();
    int64_t CurrentMilliseconds() const;

    // Frames the thread has shown since it started (a host can read it any time).
    uint64_t FramesShown() const { return frames_shown_.load(std::memory_order_acquire); }

    // The driver's completion callback (registered with every queued frame).
    static void FrameCompleted(void* user, uintptr_t userData, int32_t error, uint32_t flags);

protected:
    void Execute() override;

private:
    class Stream;  // one run of the frame loop (live/LiveStream.cpp)

    ferro::TBXTessvikFerroFW& control_;
    mutable std::mutex handler_mutex_;
    ferro::EventHandler live_frame_handler_;
    std::atomic<uint64_t> frames_shown_{0};

    // The completion record, written by the callback, which the thread waits on: for each of
    // the two buffers, the serial number of its last completed frame and the result. Two
    // frames at most are queued and their serials are consecutive, so serial % 2 names the
    // buffer.
    struct Completion {
        uint64_t Serial = 0;
        int32_t Error = KVCAM_OK;
    };
    std::mutex completion_mutex_;
    std::condition_variable completion_cv_;
    std::array<Completion, 2> completed_{};
};

namespace ferro {
// Starts live video (EnableLiveVideo): 1 when an auto-exposure-only pass is set (nothing is
// started), otherwise 0. Fails "Grab In Progress." while a grab runs and "Cannot Allocate
// Focus Image" when the thread or its images cannot be made.
short StartLive(TBXTessvikFerroFW& control);
// Stops live video (DisableLiveVideo, Quit) and waits for the thread; always 0.
int StopLive(TBXTessvikFerroFW& control);
// The live thread's own stop after an auto-exposure-only pass: it does not wait for itself,
// and gives way when the host thread is stopping live video at the same moment.
int StopLiveFromLiveThread(TBXTessvikFerroFW& control);
}  // namespace ferro
