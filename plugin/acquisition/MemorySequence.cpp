// The in-memory sequence paths: the streaming path (the driver's frame queue: a frame on its
// way while the previous one is stamped and shown), the direct path (one synchronous grab
// per frame, for the MicroDot binned four rows high) and the pre-trigger phase before either.
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <optional>

#include "acquisition/Sequence.h"
#include "camera/Command.h"
#include "control/Trace.h"

namespace ferro {

using acquisition::FrameQueue;
using acquisition::LeafTable;
using acquisition::SequenceRun;
using acquisition::TimeStampTable;

namespace {

constexpr const char* kGrabFailure = "Unable To Grab Frame";

// What both in-memory paths do before their frames: the tables, frame 0 locked and the
// pre-trigger phase.
class MemoryRun : public SequenceRun {
public:
    MemoryRun(TBXTessvikFerroFW& control, int32_t image)
        : SequenceRun(control, image), stamps_(frames_), leaves_(image, frames_) {}

    // Steps up to the pre-trigger phase: fails when the time stamps cannot be had or frame 0
    // cannot be locked.
    void Prepare();

protected:
    void RunPreTrigger();
    // The start of the timed frames: progress 0 (raised when `raiseProgress`), the view
    // given the image, the time values and the clock; frame 0 is let go until its turn.
    void BeginTimedFrames(bool raiseProgress);
    void ShowFrame(int frame);
    // End of a path: the record and the cut, then the closing events.
    void Finish(int completed, bool withDescription);

    TimeStampTable stamps_;
    LeafTable leaves_;
};

void MemoryRun::Prepare() {
    if (!stamps_) {
        c_.GrabInProgress = false;
        throw ControlFailure("Unable to allocate Time Stamp memory");
    }
    leaves_.Lock(0);
    if (c_.PreTrigger)
        RunPreTrigger();
    else
        c_.PreTriggerRunning = false;
}

// Frames land in frame 0 and are shown until PreTriggerClick, an abort or a grab failure
// answered Abort ends the phase; messages are dispatched between frames so the host's call
// can arrive. The first timed frame then replaces the last of them.
void MemoryRun::RunPreTrigger() {
    c_.GrabProgress = 0;  // stored without the event
    if (g_iTraceLevel >= 3) TraceWrite("ferro 1 Post Frame in Pre Trigger TessvikGrab 1011\r\n");
    c_.DoPostFrameTriggerClick();
    if (auto* view = c_.View()) view->SetMMImage(static_cast<MM_HANDLE>(image_));
    c_.SetGrabProgress(-2);
    c_.DoPreFrameTriggerClick();
    c_.PreTriggerRunning = true;
    void* frame0 = leaves_.Pixels(0);
    c_.GrabFrameToBuffer(frame0, leaves_.FrameBytes());
    while (c_.PreTriggerRunning && !c_.GrabErrorAbort && !c_.Abort) {
        if (auto* view = c_.View()) view->SetMMBits(frame0);
        c_.GrabFrameToBuffer(frame0, leaves_.FrameBytes());
        if (c_.GrabErrorAbort) c_.PreTriggerRunning = false;
        pump_.Dispatch();
    }
    c_.PreTriggerRunning = false;
}

void MemoryRun::BeginTimedFrames(bool raiseProgress) {
    if (raiseProgress)
        c_.SetGrabProgress(0);
    else
        c_.GrabProgress = 0;  // stored without the event
    if (g_iTraceLevel >= 3)
        TraceWrite("ferro 1 Post Frame needed for maming stuff TessvikGrab 1061\r\n ");
    c_.DoPostFrameTriggerClick();
    if (auto* view = c_.View()) view->SetMMImage(static_cast<MM_HANDLE>(image_));
    c_.SetTimeToNextFrame(0);
    c_.SetTimeElapsed(0);
    c_.SetTimeRemaining(0);
    StartClock(stamps_);
    if (!c_.Abort) c_.DoPreFrameTriggerClick();
    leaves_.Unlock(0, false);
}

void MemoryRun::ShowFrame(int frame) {
    if (!c_.DisplayEnabled) return;
    if (auto* view = c_.View()) view->SetMMBits(leaves_.Pixels(frame));
}

void MemoryRun::Finish(int completed, bool withDescription) {
    if (withDescription) {
        const std::string text = c_.BuildAcquisitionHeader(false);
        MM_WriteComment(static_cast<MM_HANDLE>(image_), text.c_str(),
                        static_cast<int32_t>(text.size() + 1));
    }
    const bool ended = (c_.GrabErrorAbort || c_.Abort) && !recycled_;
    FinishImage(stamps_, completed, ended || !failure_.empty());
    c_.DoPostAcquisitionTriggerClick();
}

// ---- The streaming path -----------------------------------------------------------------

class StreamingRun : public MemoryRun {
public:
    using MemoryRun::MemoryRun;
    // Whichever way the run ends, streaming is off and the depth choices are back.
    ~StreamingRun();
    int Run();

private:
    bool StartStreaming();
    void StopStreaming();
    bool SetTriggerMode(int32_t type);
    void Pass();
    bool NextFrame(int k);
    void LastFrame(int k);
    void QueueFrame(int k);
    bool CompleteFrame(int k, int behind);
    void AfterFrame(int k);

    void RefreshTimes(int64_t elapsed, int64_t period, int k);

    FrameQueue queue_{c_, pump_};
    std::optional<acquisition::FrameWarmer> warmer_;  // for the first pass
    uint32_t frameBytes_ = 0;
    bool softwareTrigger_ = false;
    bool streaming_ = false;
    int64_t period_ = 0;  // the estimated frame period, milliseconds
    int64_t periodSum_ = 0;
    int completed_ = 0;  // frames of this pass stamped so far
};

int StreamingRun::Run() {
    Prepare();
    // The image's memory is made ready before the clock starts; frames back to back need
    // every page before the first (frames with an interval get theirs meanwhile).
    warmer_.emplace(image_, frames_);
    if (c_.FrameRate <= 0) warmer_->Finish(c_);
    BeginTimedFrames(true);
    if (!StartStreaming()) return 0;
    for (;;) {
        Pass();
        warmer_.reset();  // every frame has been written once
        if (!c_.Recycle || Stopped()) break;
        recycled_ = true;
    }

    StopStreaming();
    c_.DoPostFrameTriggerClick();
    ReportEndTimes();
    Finish(completed_, true);
    if (softwareTrigger_ && !SetTriggerMode(KVCAM_TRIGGER_FREE_RUN)) return 0;
    RaiseFailure();
    return 1;
}

StreamingRun::~StreamingRun() {
    StopStreaming();
}

void StreamingRun::StopStreaming() {
    if (!streaming_) return;
    streaming_ = false;
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 0);
    c_.SetDepthChoicesEnabled(true);
}

bool StreamingRun::StartStreaming() {
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 0);
    c_.SetDepthChoicesEnabled(false);
    streaming_ = true;  // from here the end steps switch it off
    int32_t bytes = 0;
    KvCam_GetInfo(c_.CameraHandle, KVCAM_INFO_IMAGE_SIZE, &bytes);
    // The camera never gets more room than the frame has, whatever it says it delivers.
    frameBytes_ = static_cast<uint32_t>(
        std::clamp<int64_t>(bytes, 0, static_cast<int64_t>(leaves_.FrameBytes())));
    softwareTrigger_ = c_.IsModelB && c_.rbtn_FreeRun->Checked();
    queue_.softwareTrigger = softwareTrigger_;
    if (softwareTrigger_ && !SetTriggerMode(KVCAM_TRIGGER_SOFTWARE)) {
        softwareTrigger_ = false;
        StopStreaming();
        return false;
    }
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 1);
    return true;
}

// The camera takes the trigger type at once (the block is sent), so each frame waits for the
// trigger given right after it is queued.
bool StreamingRun::SetTriggerMode(int32_t type) {
    camera::CameraCommand command(c_);
    if (command.Held() && command.ReadSettings() && command.SetParam(KVCAM_PARAM_TRIGGER, type) &&
        command.Send())
        return true;
    command.Release();
    camera::ShowError("Setting internal trigger mode failed.", camera::kCaptionError);
    return false;
}

// The progress values inside an interval wait. The time to the next frame counts down from
// the frame period (the interval, or the frames' own pace when that is slower).
void StreamingRun::RefreshTimes(int64_t elapsed, int64_t period, int k) {
    const int64_t pace = std::max<int64_t>(c_.FrameRate, period);
    c_.SetTimeRemaining(static_cast<int>((frames_ - k) * pace / 1000));
    c_.SetTimeToNextFrame(static_cast<int>(std::max<int64_t>(0, pace - elapsed) / 1000));
    c_.SetTimeElapsed(static_cast<int>(SinceStart() / 1000));
}

// One pass over the frames: frame 0 queued after its interval, then each next frame queued
// (at its interval, or at once without one) while the frame before it completes, which is
// then stamped with the time it completed and shown while the camera takes the next.
void StreamingRun::Pass() {
    completed_ = 0;
    leaves_.Lock(0);
    c_.SetTimeRemaining(
        static_cast<int>(frames_ * std::max<int64_t>(c_.FrameRate, exposureMs_) / 1000));
    IntervalWait([this](int64_t elapsed) { RefreshTimes(elapsed, exposureMs_, 0); });
    c_.SetTimeToNextFrame(0);
    QueueFrame(0);
    period_ = exposureMs_;
    periodSum_ = 0;
    int k = 1;
    if (frames_ > 1) {
        c_.SetGrabProgress(1);
        for (; k < frames_ && !Stopped(); ++k)
            if (!NextFrame(k)) return;
    }
    LastFrame(k);
}

// Frame k: its interval, then queued, and frame k - 1 completed and finished. Without an
// interval frame k is queued before k - 1 completes, so the camera goes from one frame to the
// next without waiting; with one, after, so frame k starts at its time. False when frame
// k - 1 failed for good (the pass ends; frame k is not taken).
bool StreamingRun::NextFrame(int k) {
    const int64_t loopStart = c_.CurrentMilliseconds();
    leaves_.Lock(k);
    c_.SetTimeRemaining(
        static_cast<int>((frames_ - k) * std::max<int64_t>(c_.FrameRate, period_) / 1000));
    IntervalWait([this, k](int64_t elapsed) { RefreshTimes(elapsed, period_, k); });
    c_.SetTimeToNextFrame(0);
    const bool ahead = c_.FrameRate <= 0;
    if (ahead) {
        c_.SetGrabProgress(k + 1);
        QueueFrame(k);
    }
    if (!CompleteFrame(k - 1, ahead ? k : -1)) {
        leaves_.Unlock(k, false);
        return false;
    }
    if (!ahead) {
        c_.SetGrabProgress(k + 1);
        QueueFrame(k);
    }
    AfterFrame(k - 1);
    pump_.Dispatch();
    periodSum_ += c_.CurrentMilliseconds() - loopStart;
    period_ = periodSum_ / k;
    return true;
}

// The frame queued last (k - 1): completed, stamped, shown. No messages are dispatched.
void StreamingRun::LastFrame(int k) {
    c_.SetGrabProgress(k);
    if (CompleteFrame(k - 1, -1)) AfterFrame(k - 1);
}

void StreamingRun::QueueFrame(int k) {
    if (warmer_) warmer_->Claim(k);
    queue_.Queue(k, leaves_.Pixels(k), frameBytes_);
}

// A frame that still fails after its retries ends the sequence; the image is cut before it.
// An abort while the frame waited (for its trigger) ends it like any abort.
bool StreamingRun::CompleteFrame(int k, int behind) {
    if (queue_.Complete(k, behind)) return true;
    leaves_.Unlock(k, false);
    if (!c_.Abort && !c_.GrabErrorAbort) failure_ = kGrabFailure;
    failureError_ = c_.LastCameraError;
    return false;
}

void StreamingRun::AfterFrame(int k) {
    if (c_.chk_Color->Checked())
        c_.ConvertBayerFrame(leaves_.Pixels(k), leaves_.FrameBytes(), frameBytes_,
                             queue_.Descriptor(k));
    stamps_[k] = StampAt(queue_.CompletedAt(k));
    c_.SetTimeElapsed(static_cast<int>(stamps_[k] / 1000));
    ShowFrame(k);
    leaves_.Unlock(k, true);
    completed_ = k + 1;
}

// ---- The direct path --------------------------------------------------------------------

class DirectRun : public MemoryRun {
public:
    using MemoryRun::MemoryRun;
    int Run();

private:
    bool TakeFrame(int k);
};

int DirectRun::Run() {
    Prepare();
    BeginTimedFrames(false);
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 1);

    int k = 0;
    while (k < frames_ && !Stopped()) {
        if (!TakeFrame(k)) break;
        ++k;
        if (Stopped()) break;
        if (c_.Recycle && k == frames_) {
            recycled_ = true;
            k = 0;
        }
    }

    c_.DoPostFrameTriggerClick();
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 0);
    ReportEndTimes();
    Finish(k, false);
    RaiseFailure();
    return 1;
}

// Frame k grabbed straight into its place. False when the sequence ends before it: an abort
// during its interval, or a grab that failed (the image is then cut before it).
bool DirectRun::TakeFrame(int k) {
    void* pixels = leaves_.Lock(k);
    c_.SetGrabProgress(k + 1);
    c_.SetTimeRemaining(
        static_cast<int>((frames_ - k) * std::max<int64_t>(c_.FrameRate, exposureMs_) / 1000));
    IntervalWait([this, k](int64_t elapsed) {
        const int64_t pace = std::max<int64_t>(c_.FrameRate, exposureMs_);
        c_.SetTimeRemaining(static_cast<int>((frames_ - k) * pace / 1000));
        c_.SetTimeToNextFrame(
            static_cast<int>(std::max<int64_t>(0, c_.FrameRate - elapsed) / 1000));
        c_.SetTimeElapsed(static_cast<int>(SinceStart() / 1000));
    });
    if (Stopped()) {
        leaves_.Unlock(k, false);
        return false;
    }
    c_.DoPreFrameTriggerClick();
    c_.SetTimeToNextFrame(0);
    const int32_t result = c_.GrabFrameToBuffer(pixels, leaves_.FrameBytes());
    c_.DoFrameTriggerClick();
    if (result != KVCAM_OK) {
        // Answered Abort, the grab ends like any abort; otherwise it failed.
        if (!c_.GrabErrorAbort) failure_ = kGrabFailure;
        failureError_ = result;
        leaves_.Unlock(k, false);
        return false;
    }
    stamps_[k] = StampAt(c_.CurrentMilliseconds());
    c_.SetTimeElapsed(static_cast<int>(stamps_[k] / 1000));
    ShowFrame(k);
    pump_.Dispatch();
    leaves_.Unlock(k, true);
    return true;
}

}  // namespace

int TBXTessvikFerroFW::RunStreamingSequence() {
    StreamingRun run(*this, AcquisitionImage);
    return run.Run();
}

int TBXTessvikFerroFW::RunDirectSequence() {
    DirectRun run(*this, AcquisitionImage);
    return run.Run();
}

void TBXTessvikFerroFW::PreTriggerClick() {
    if (GrabInProgress) PreTriggerRunning = false;
}

}  // namespace ferro
