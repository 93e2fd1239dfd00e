// The shared parts of the sequence paths: tables, frame locks, queued-frame completions, the
// interval wait and the end-of-sequence steps.
#include "acquisition/Sequence.h"

#include "camera/Command.h"

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace ferro::acquisition {

namespace {

// Time-stamp memory that cannot be had stops the sequence before it starts.
void ReportNoTimeStampMemory() {
    bx::ui::Application().MessageBox(
        "Unable to allocate Time Stamp memory", "Grab warning",
        bx::ui::MB_OKCANCEL | bx::ui::MB_ICONERROR | bx::ui::MB_TASKMODAL);
}

// How long a busy wait spins before it may sleep: a frame interval ends within a fraction of a
// millisecond of its mark, and the rest of the wait leaves the processor to the camera.
constexpr int64_t kSpinMs = 2;

void PauseInWait(int64_t remainingMs) {
    if (remainingMs > kSpinMs)
        bx::kernel::Sleep(1);
    else
        std::this_thread::yield();
}

}  // namespace

int64_t ExposureMs(int microseconds) {
    return (std::max(microseconds, 0) + int64_t{999}) / 1000;
}

// ---- Tables ---------------------------------------------------------------------------------

TimeStampTable::TimeStampTable(int frames)
    : block_(static_cast<size_t>(std::max(frames, 1)) * sizeof(int64_t)), frames_(frames) {
    if (!block_) ReportNoTimeStampMemory();
}

std::vector<double> TimeStampTable::AsMilliseconds() const {
    std::vector<double> out(static_cast<size_t>(std::max(frames_, 0)));
    for (int i = 0; i < frames_; ++i) out[i] = static_cast<double>(Entries()[i]);
    return out;
}

LeafTable::LeafTable(int32_t image, int frames)
    : image_(static_cast<MM_HANDLE>(image)),
      leaves_(static_cast<size_t>(frames), 0),
      pixels_(static_cast<size_t>(frames), nullptr),
      frameBytes_(static_cast<size_t>(std::max<int64_t>(0, MM_GetFrameBytes(image_)))) {
    MM_InitVector(&bounds_, 0);
    MM_InitBoundaries(image_, &bounds_, 0);
}

LeafTable::~LeafTable() {
    for (size_t i = 0; i < leaves_.size(); ++i) Unlock(static_cast<int>(i), false);
}

void* LeafTable::Lock(int frame) {
    if (pixels_[frame] != nullptr) return pixels_[frame];  // locked ahead of its turn
    MM_VECTOR index;
    MM_InitVector(&index, 0);
    MM_CalculateIndexVector(frame, &index, &bounds_);
    const MM_LEAF leaf = MM_GetData(image_, index);
    if (leaf == 0) throw ControlFailure("Unable To Get Image Leaf");
    void* pixels = MM_Lock(leaf, MM_LOCK_WRITE);
    if (pixels == nullptr) throw ControlFailure("Unable To Lock Image Leaf");
    leaves_[frame] = leaf;
    pixels_[frame] = pixels;
    return pixels;
}

void LeafTable::Unlock(int frame, bool written) {
    if (pixels_[frame] == nullptr) return;
    MM_Unlock(leaves_[frame], written ? 1 : 0);
    pixels_[frame] = nullptr;
    leaves_[frame] = 0;
}

// ---- Warming frames ------------------------------------------------------------------------

namespace {

constexpr int kWarmerNice = 10;

// Has the kernel provide the pages of a frame now, as a first write would, without writing
// anything: whoever reads or writes the frame meanwhile is not disturbed. A frame smaller
// than a page, or a kernel without the request, is left to its first write.
void Populate(void* pixels, size_t bytes) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<uintptr_t>(pixels);
    const uintptr_t begin = (at + page - 1) & ~(page - 1), end = (at + bytes) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

}  // namespace

FrameWarmer::FrameWarmer(int32_t image, int frames)
    : image_(static_cast<MM_HANDLE>(image)), frames_(frames) {
    MM_InitVector(&bounds_, 0);
    MM_InitBoundaries(image_, &bounds_, 0);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: the faults are taken as the camera writes, which is only slower.
    }
}

FrameWarmer::~FrameWarmer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void FrameWarmer::Run() {
    // Below the camera's own threads: warming must never hold up a frame.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWarmerNice);
    while (!stop_) {
        int frame = next_.load();
        if (frame >= frames_) return;
        // Marked busy before it is taken, so Finish cannot see it taken and not yet warm.
        busy_ = frame;
        if (!next_.compare_exchange_strong(frame, frame + 1)) {
            busy_ = -1;
            continue;
        }
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        MM_CalculateIndexVector(frame, &index, &bounds_);
        const MM_LEAF leaf = MM_GetData(image_, index);
        if (void* pixels = leaf ? MM_Lock(leaf, 0) : nullptr) {
            Populate(pixels, static_cast<size_t>(MM_GetFrameBytes(image_)));
            MM_Unlock(leaf, 0);
        }
        busy_ = -1;
    }
}

void FrameWarmer::Claim(int frame) {
    int next = next_.load();
    while (next <= frame && !next_.compare_exchange_weak(next, frame + 1)) {
    }
}

void FrameWarmer::Finish(const TBXTessvikFerroFW& control) {
    while (thread_.joinable() && (next_.load() < frames_ || busy_.load() >= 0)) {
        if (control.Abort || control.GrabErrorAbort) break;
        bx::ui::ProcessMessages();
        bx::kernel::Sleep(1);
    }
    stop_ = true;
}

// ---- Queued frames --------------------------------------------------------------------------

namespace {

// Times a frame is queued again after it failed before the sequence gives up on it.
constexpr int kFrameRetries = 2;
// How long a queued frame may take beyond its exposure before it counts as failed: two frames
// of readout at the slowest speed and the driver's own latency, with room to spare.
constexpr int64_t kFrameGraceMs = 5000;
}  // namespace

// ---- Messages -------------------------------------------------------------------------------

MessagePump::MessagePump(const TBXTessvikFerroFW& control)
    : c_(control), last_(control.CurrentMilliseconds()) {}

void MessagePump::Dispatch() {
    bx::ui::ProcessMessages();
    last_ = c_.CurrentMilliseconds();
}

bool MessagePump::DispatchIfDue() {
    if (c_.CurrentMilliseconds() - last_ < kDispatchMs) return false;
    Dispatch();
    return true;
}

FrameQueue::~FrameQueue() {
    CancelAll();
}

void FrameQueue::Queue(int id, void* pixels, uint32_t bytes) {
    Slot& s = slot(id);
    uint64_t serial;
    {
        std::lock_guard lock(mutex_);
        s.Frame = KvCamFrame{};
        s.Frame.buffer = s.Pixels = pixels;
        s.Frame.bufferSize = s.Bytes = bytes;
        s.Serial = serial = ++serial_;
        s.Done = false;
    }
    FrameDoneFlag = false;
    const int32_t result = KvCam_QueueFrame(c_.CameraHandle, &s.Frame, &FrameQueue::Completed,
                                            KVCAM_CALLBACK_ON_COMPLETION, this, serial);
    if (result != KVCAM_OK) {
        {
            std::lock_guard lock(mutex_);
            s.Done = true;
            s.Result = result;
        }
        camera::ShowError("Queue frame failed.", camera::kCaptionError);
        return;
    }
    if (softwareTrigger) c_.LastCameraError = KvCam_Trigger(c_.CameraHandle);
}

void FrameQueue::Completed(void* user, uintptr_t serial, int32_t error, uint32_t) {
    FrameDoneFlag = error == KVCAM_OK;
    auto* self = static_cast<FrameQueue*>(user);
    const int64_t now = self->c_.CurrentMilliseconds();
    // Notified under the lock: once the waiter sees the completion, this callback no longer
    // touches the queue, which may go as soon as the sequence ends.
    std::lock_guard lock(self->mutex_);
    for (Slot& s : self->slots_) {
        if (s.Serial != serial) continue;
        s.Done = true;
        s.Result = error;
        s.At = now;
    }
    self->done_.notify_all();
}

int64_t FrameQueue::CompletedAt(int id) const {
    std::lock_guard lock(mutex_);
    return slot(id).At;
}

int32_t FrameQueue::Wait(int id) {
    const int64_t bound = c_.FrameWaitBoundMs(kFrameGraceMs);
    // The host's messages are dispatched while a frame takes long, so its windows stay
    // responsive. A frame waiting for its external trigger may wait for ever: there the
    // host's Abort ends the wait; otherwise the frame completes and the sequence sees the
    // abort after it.
    const bool triggered = c_.ExternalTriggerActive;
    const int64_t start = c_.CurrentMilliseconds();
    // One warped millisecond at a time, but woken at once by the completion.
    const auto step = std::chrono::duration<double, std::milli>(1.0 / bx::kernel::TimeWarp());
    std::unique_lock lock(mutex_);
    Slot& s = slot(id);
    if (s.Serial == 0) return KVCAM_ERR_FAILED;  // never queued
    while (!s.Done) {
        const int64_t now = c_.CurrentMilliseconds();
        if (now - start > bound) {
            lock.unlock();
            CancelAll();
            return KVCAM_ERR_TIMEOUT;
        }
        lock.unlock();
        if ((triggered || !quiet_) && pump_.DispatchIfDue() && triggered && c_.Abort) {
            CancelAll();
            return KVCAM_ERR_ABORTED;
        }
        lock.lock();
        if (s.Done) break;
        done_.wait_for(lock, step);
    }
    s.Serial = 0;
    FrameDoneFlag = false;
    return s.Result;
}

// Returns once every cancelled frame has completed: their memory is the sequence's again.
void FrameQueue::CancelAll() {
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        for (const Slot& s : slots_) queued = queued || (s.Serial != 0 && !s.Done);
    }
    if (queued) c_.LastCameraError = KvCam_Abort(c_.CameraHandle);
    std::lock_guard lock(mutex_);
    for (Slot& s : slots_) s.Serial = 0;
}

bool FrameQueue::Complete(int id, int behind) {
    for (int attempt = 0;; ++attempt) {
        const int32_t result = Wait(id);
        if (result == KVCAM_OK) return true;
        if (behind >= 0) CancelAll();
        c_.LastCameraError = result;
        if (attempt == kFrameRetries || c_.Abort || c_.GrabErrorAbort) return false;
        Queue(id, slot(id).Pixels, slot(id).Bytes);
        if (behind >= 0) Queue(behind, slot(behind).Pixels, slot(behind).Bytes);
    }
}

// ---- The run --------------------------------------------------------------------------------

SequenceRun::SequenceRun(TBXTessvikFerroFW& control, int32_t image)
    : c_(control), pump_(control), image_(image), exposureMs_(ExposureMs(control.ExposureTime)) {
    MM_VECTOR bounds;
    MM_InitVector(&bounds, 1);
    MM_InitBoundaries(static_cast<MM_HANDLE>(image), &bounds, 0);
    frames_ = std::max(1, bounds.d[2]);
}

bool SequenceRun::Stopped() const {
    return c_.GrabErrorAbort || c_.Abort || !failure_.empty();
}

void SequenceRun::StartClock(TimeStampTable& stamps) {
    sequenceStart_ = c_.CurrentMilliseconds();
    stamps[0] = 0;
    frameStart_ = c_.CurrentMilliseconds();
}

void SequenceRun::IntervalWait(const std::function<void(int64_t elapsed)>& refresh) {
    const int64_t interval = c_.FrameRate;
    if (interval <= 0) return;
    for (int64_t elapsed = c_.CurrentMilliseconds() - frameStart_; elapsed < interval;
         elapsed = c_.CurrentMilliseconds() - frameStart_) {
        if (interval - elapsed > 2000) {
            refresh(elapsed);
            pump_.Dispatch();
        } else {
            pump_.DispatchIfDue();
        }
        if (c_.GrabErrorAbort || c_.Abort) break;
        PauseInWait(interval - elapsed);
    }
    frameStart_ = c_.CurrentMilliseconds();
}

void SequenceRun::QuietIntervalWait() {
    const int64_t interval = c_.FrameRate;
    if (interval > 0) {
        for (int64_t elapsed = c_.CurrentMilliseconds() - frameStart_;
             elapsed < interval && !c_.GrabErrorAbort && !c_.Abort;
             elapsed = c_.CurrentMilliseconds() - frameStart_)
            PauseInWait(interval - elapsed);
    }
    frameStart_ = c_.CurrentMilliseconds();
}

void SequenceRun::ReportEndTimes() {
    c_.SetTimeElapsed(static_cast<int>(SinceStart() / 1000));
    c_.SetTimeToNextFrame(0);
    c_.SetTimeRemaining(0);
}

int32_t SequenceRun::FinishImage(TimeStampTable& stamps, int completed, bool cut) {
    const std::vector<double> times = stamps.AsMilliseconds();
    c_.FinishSequenceRecord(image_, times, completed, cut);
    if (cut && completed < 1) {
        MM_DeleteImage(static_cast<MM_HANDLE>(image_));
        c_.AcquisitionImage = 0;
        return 0;
    }
    return image_;
}

void SequenceRun::RaiseFailure() const {
    if (failure_.empty()) return;
    if (failureError_ != KVCAM_OK) c_.LastCameraError = failureError_;
    throw SequenceEnded(failure_);
}

}  // namespace ferro::acquisition
