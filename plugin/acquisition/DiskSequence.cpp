// The disk path: frames come from the camera's frame queue into buffers used in turn, and
// each finished buffer is written straight to its frame's blocks on the store's disk device
// while the next frame is taken. Three buffers: one being written, one the camera fills and,
// without an interval, one for the frame queued behind it, so the camera never waits. It
// starts behind a gate that a right mouse button release opens.
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <array>
#include <memory>

#include "acquisition/Sequence.h"
#include "camera/Command.h"
#include "control/Trace.h"
#include "support/ScopeExit.h"

namespace ferro {

using acquisition::FrameQueue;
using acquisition::SequenceRun;
using acquisition::TimeStampTable;
using support::GlobalBuffer;

namespace {

// Times a failed block write is written again before the sequence gives up on it.
constexpr int kWriteRetries = 2;
// The pause of the start gate between the frames it shows, and before a slow frame is shown.
constexpr int64_t kGatePauseMs = 150;
// Frames with this much time to spare before their interval show their buffer early.
constexpr int64_t kShowEarlyMarginMs = 200;

class DiskRun : public SequenceRun {
public:
    DiskRun(TBXTessvikFerroFW& control, int32_t image)
        : SequenceRun(control, image), stamps_(frames_) {}
    int32_t Run();

private:
    void Allocate();
    void StartGate();
    void Frames();
    void TakeFrame(int k);
    void QueueShot(int64_t shot);
    uint8_t* Buffer(int64_t shot) const { return buffers_[shot % kBuffers]->data(); }
    void Show(int64_t shot);
    // One frame's block write and its completion, with the retries.
    void Write(int frame, int64_t shot, int64_t bytes);
    void CompleteWrite();
    void Finish();

    TimeStampTable stamps_;
    int32_t device_ = 0;
    int64_t firstBlock_ = 0, blockBytes_ = 0, frameBytes_ = 0, sectorsPerFrame_ = 1;
    static constexpr int kBuffers = 3;
    std::array<std::unique_ptr<GlobalBuffer>, kBuffers> buffers_;
    uint32_t queueBytes_ = 0;
    // Frames are numbered by shot, counted over every pass: the queue's frame id, and its
    // buffer (shot % kBuffers). Declared after the buffers, so it cancels first.
    FrameQueue queue_{c_, pump_, true};
    int64_t shot_ = 0;
    int64_t queuedAhead_ = -1;  // the shot queued behind the current one, or -1
    // The frame taken last and not written yet, and the frame whose write is on its way,
    // each with its shot; -1 when none.
    int heldFrame_ = -1;
    int64_t heldShot_ = 0;
    int pendingFrame_ = -1;
    int64_t pendingShot_ = 0, pendingBytes_ = 0;
    bool streaming_ = false;
    int framesTaken_ = 0;  // the frame counter of the current pass
    int writeFailedAt_ = -1;
};

void DiskRun::Allocate() {
    auto fail = [this](const char* text) {
        MM_DeleteImage(static_cast<MM_HANDLE>(image_));
        c_.AcquisitionImage = 0;
        c_.GrabInProgress = false;
        throw ControlFailure(text);
    };
    if (!stamps_) fail("Unable to allocate Time Stamp memory");
    const auto image = static_cast<MM_HANDLE>(image_);
    device_ = MM_GetHandleSCSI_ID(image);
    firstBlock_ = MM_GetLeafOffset(image, 0);
    blockBytes_ = MM_GetLeafSize(image);
    frameBytes_ = MM_GetFrameBytes(image);
    // A buffer holds a whole frame block, so the block write never reads past it.
    for (auto& buffer : buffers_) {
        buffer =
            std::make_unique<GlobalBuffer>(static_cast<size_t>(std::max(blockBytes_, frameBytes_)));
        if (!*buffer) {
            ferro::camera::ShowNoIntermediateBuffer();
            fail("Unable to allocate intermediate buffer.");
        }
    }
}

// Shows buffer A every 150 ms until a right mouse button release is dispatched (or the grab
// is aborted, or PreTriggerClick ends it: a gate nobody opens must not hold the host forever).
void DiskRun::StartGate() {
    c_.SetGrabProgress(-2);
    c_.PreTriggerRunning = true;
    const int handler = bx::ui::AddMessageHandler([this](const bx::ui::TMessage& message) {
        if (message.Msg == bx::ui::WM_RBUTTONUP) c_.PreTriggerRunning = false;
    });
    support::ScopeExit removeHandler([handler] { bx::ui::RemoveMessageHandler(handler); });
    while (c_.PreTriggerRunning && !c_.Abort) {
        c_.WaitMilliseconds(kGatePauseMs);
        if (auto* view = c_.View()) view->SetMMBits(Buffer(0));
        bx::ui::ProcessMessages();
    }
    c_.PreTriggerRunning = false;
}

void DiskRun::Show(int64_t shot) {
    if (!c_.DisplayEnabled) return;
    if (auto* view = c_.View()) view->SetMMBits(Buffer(shot));
}

void DiskRun::Write(int frame, int64_t shot, int64_t bytes) {
    const int64_t block = static_cast<int64_t>(frame) * sectorsPerFrame_ + firstBlock_;
    pendingFrame_ = frame;
    pendingShot_ = shot;
    pendingBytes_ = bytes;
    // A refused request shows as a failed transfer at the next wait, and is retried there.
    MM_WriteBufferToBlockWithID(device_, block, Buffer(shot), bytes);
}

// Waits for the write on its way; a failed one is written again, twice at most. One that
// still fails ends the sequence: the image keeps the frames before it.
void DiskRun::CompleteWrite() {
    if (pendingFrame_ < 0) return;
    const int frame = pendingFrame_;
    bool ok = MM_WaitForTransfer() != 0;
    for (int retry = 0; !ok && retry < kWriteRetries; ++retry) {
        Write(frame, pendingShot_, pendingBytes_);
        ok = MM_WaitForTransfer() != 0;
    }
    pendingFrame_ = -1;
    if (!ok && (writeFailedAt_ < 0 || frame < writeFailedAt_)) {
        writeFailedAt_ = frame;
        failure_ = "Unable To Write Frame To Disk";
    }
}

// The frame loop. Frame k is taken into its buffer while the frame before it is written; a
// buffer is used again only once its write has completed.
void DiskRun::Frames() {
    c_.SetGrabProgress(0);
    StartClock(stamps_);
    if (c_.Abort) return;  // aborted at the gate: no frame was taken
    streaming_ = true;
    c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 1);
    for (int k = 0; k < frames_;) {
        c_.SetGrabProgress(k + 1);
        CompleteWrite();
        if (heldFrame_ >= 0) {
            Write(heldFrame_, heldShot_, blockBytes_);
            heldFrame_ = -1;
        }
        if (g_iTraceLevel >= 3) TraceWrite("ferro 1 Post Frame TessvikGrab 660\r\n");
        c_.DoPostFrameTriggerClick();
        if (!failure_.empty()) break;
        if (exposureMs_ + kShowEarlyMarginMs < c_.FrameRate) {
            c_.WaitMilliseconds(kGatePauseMs);
            if (pendingFrame_ >= 0) Show(pendingShot_);
        }
        QuietIntervalWait();
        TakeFrame(k);
        bx::ui::ProcessMessages();
        if (heldFrame_ != k) break;  // the frame failed
        ++shot_;
        framesTaken_ = ++k;
        if (Stopped()) break;
        if (c_.Recycle && k == frames_) {
            recycled_ = true;
            k = 0;
        }
    }
}

void DiskRun::QueueShot(int64_t shot) {
    queue_.Queue(static_cast<int>(shot % 2), Buffer(shot), queueBytes_);
}

// Frame k from the camera: queued now, unless it was queued behind the frame before; without
// an interval the next frame is queued behind it at once (its buffer's write completed at
// the top of this frame's turn).
void DiskRun::TakeFrame(int k) {
    c_.DoPreFrameTriggerClick();
    c_.DoFrameTriggerClick();
    if (queuedAhead_ != shot_) QueueShot(shot_);
    const bool another = k + 1 < frames_ || c_.Recycle;
    queuedAhead_ = c_.FrameRate <= 0 && another && !Stopped() ? shot_ + 1 : -1;
    if (queuedAhead_ >= 0) QueueShot(queuedAhead_);
    if (!queue_.Complete(static_cast<int>(shot_ % 2),
                         queuedAhead_ >= 0 ? static_cast<int>(queuedAhead_ % 2) : -1)) {
        // Answered Abort, the grab ends like any abort; otherwise the frame failed.
        if (!c_.GrabErrorAbort && !c_.Abort) failure_ = "Unable To Grab Frame";
        failureError_ = c_.LastCameraError;
        queuedAhead_ = -1;
        return;
    }
    stamps_[k] = StampAt(queue_.CompletedAt(static_cast<int>(shot_ % 2)));
    if (c_.chk_Color->Checked())
        c_.ConvertBayerFrame(Buffer(shot_), buffers_[0]->size(), queueBytes_,
                             queue_.Descriptor(static_cast<int>(shot_ % 2)));
    heldFrame_ = k;
    heldShot_ = shot_;
    if (c_.FrameRate <= exposureMs_ + kShowEarlyMarginMs) Show(shot_);
}

// The last writes, the record and the cut (after a resize the creation header again).
void DiskRun::Finish() {
    if (g_iTraceLevel >= 3) TraceWrite("ferro 1 Post Frame TessvikGrab 754\r\n");
    c_.DoPostFrameTriggerClick();
    queue_.CancelAll();  // a frame queued behind the last one is not wanted
    if (streaming_) c_.LastCameraError = KvCam_SetStreaming(c_.CameraHandle, 0);
    CompleteWrite();
    if (heldFrame_ >= 0) {
        Write(heldFrame_, heldShot_, frameBytes_);
        heldFrame_ = -1;
        CompleteWrite();
    }
    ReportEndTimes();
    int completed = framesTaken_;
    if (writeFailedAt_ >= 0) completed = std::min(completed, writeFailedAt_);
    const bool cut = ((c_.GrabErrorAbort || c_.Abort) && !recycled_) || !failure_.empty();
    if (FinishImage(stamps_, completed, cut) != 0 && cut) {
        c_.WriteCreationHeader(image_);
        if (c_.BitDepth != 24) c_.ApplyAcquisitionPalette(image_);
        MM_SetDimName(static_cast<MM_HANDLE>(image_), 2, "Time");
        MM_SetUnits(static_cast<MM_HANDLE>(image_), 2, "ms");
    }
    c_.DoPostAcquisitionTriggerClick();
}

int32_t DiskRun::Run() {
    Allocate();
    c_.DoPreFrameTriggerClick();
    c_.WaitMilliseconds(exposureMs_);
    const int32_t sector = std::max(MM_GetDiskSectorSize(), 1);
    sectorsPerFrame_ = std::max<int64_t>(1, (frameBytes_ + sector - 1) / sector);
    int32_t bytes = 0;
    KvCam_GetInfo(c_.CameraHandle, KVCAM_INFO_IMAGE_SIZE, &bytes);
    // The camera never gets more room than a buffer has, whatever it says it delivers.
    queueBytes_ = static_cast<uint32_t>(
        std::clamp<int64_t>(bytes, 0, static_cast<int64_t>(buffers_[0]->size())));
    StartGate();
    Frames();
    Finish();
    c_.GrabInProgress = false;
    c_.Abort = false;
    RaiseFailure();
    return c_.AcquisitionImage;
}

}  // namespace

int32_t TBXTessvikFerroFW::RunDiskSequence(int32_t image) {
    DiskRun run(*this, image);
    return run.Run();
}

}  // namespace ferro
