// The shared parts of the sequence paths: tables, frame locks, queued-frame completions, the
// interval wait and the end-of-sequence steps.
#include "acquisition/Sequence.h"

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>

#include <algorithm>
#include <chrono>
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

// ---- Queued frames --------------------------------------------------------------------------

bool FrameCompletions::Queue(const TBXTessvikFerroFW& control, KvCamFrame& descriptor) {
    camera_ = control.CameraHandle;
    clock_ = &control;
    uint64_t serial;
    {
        std::lock_guard lock(mutex_);
        serial = ++queued_;
    }
    FrameDoneFlag = false;
    const int32_t result = KvCam_QueueFrame(camera_, &descriptor, &FrameCompletions::Completed,
                                            KVCAM_CALLBACK_ON_COMPLETION, this, serial);
    if (result == KVCAM_OK) return true;
    std::lock_guard lock(mutex_);
    --queued_;
    return false;
}

FrameCompletions::~FrameCompletions() {
    if (Outstanding()) KvCam_Abort(camera_);
}

bool FrameCompletions::Outstanding() const {
    std::lock_guard lock(mutex_);
    return waited_ < queued_;
}

void FrameCompletions::Completed(void* user, uintptr_t serial, int32_t error, uint32_t) {
    FrameDoneFlag = error == KVCAM_OK;
    auto* self = static_cast<FrameCompletions*>(user);
    const int64_t now = self->clock_->CurrentMilliseconds();
    // Notified under the lock: once the waiter sees the completion, this callback no longer
    // touches the object, which may go as soon as the sequence ends.
    std::lock_guard lock(self->mutex_);
    self->completedAt_ = now;
    self->completed_ = std::max<uint64_t>(self->completed_, serial);
    self->result_ = error;
    self->done_.notify_all();
}

int32_t FrameCompletions::Wait(const TBXTessvikFerroFW& control, int64_t boundMs) {
    const int64_t start = control.CurrentMilliseconds();
    // One warped millisecond at a time, but woken at once by the completion.
    const auto step = std::chrono::duration<double, std::milli>(1.0 / bx::kernel::TimeWarp());
    std::unique_lock lock(mutex_);
    if (waited_ == queued_) return KVCAM_ERR_FAILED;  // nothing on its way
    while (completed_ < queued_) {
        if (control.CurrentMilliseconds() - start > boundMs) {
            lock.unlock();
            // Returns once the frame has completed as cancelled: its buffer is free again.
            KvCam_Abort(camera_);
            lock.lock();
            waited_ = completed_ = queued_;
            return KVCAM_ERR_TIMEOUT;
        }
        done_.wait_for(lock, step);
    }
    waited_ = queued_;
    seenAt_ = completedAt_;
    FrameDoneFlag = false;
    return result_;
}

// ---- The run --------------------------------------------------------------------------------

SequenceRun::SequenceRun(TBXTessvikFerroFW& control, int32_t image)
    : c_(control), image_(image), exposureMs_(ExposureMs(control.ExposureTime)) {
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
            bx::ui::ProcessMessages();
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
