// The disk path: frames are grabbed into two buffers in turn and each finished buffer is
// written straight to its frame's blocks on the store's disk device, while the next frame is
// taken. It starts behind a gate that a right mouse button release opens.
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <array>
#include <memory>

#include "acquisition/Sequence.h"
#include "control/Trace.h"
#include "support/ScopeExit.h"

namespace ferro {

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
    void Show(int buffer);
    // One frame's block write and its completion, with the retries.
    void Write(int frame, int buffer, int64_t bytes);
    void CompleteWrite();
    void Finish();

    TimeStampTable stamps_;
    int32_t device_ = 0;
    int64_t firstBlock_ = 0, blockBytes_ = 0, frameBytes_ = 0, sectorsPerFrame_ = 1;
    std::array<std::unique_ptr<GlobalBuffer>, 2> buffers_;
    // The frame taken last and not written yet, and the frame whose write is on its way,
    // each with its buffer; -1 when none.
    int heldFrame_ = -1, heldBuffer_ = 0;
    int pendingFrame_ = -1, pendingBuffer_ = 0;
    int64_t pendingBytes_ = 0;
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
            bx::ui::Application().MessageBox(
                "Unable to allocate intermediate buffer.", "Grab warning",
                bx::ui::MB_OKCANCEL | bx::ui::MB_ICONERROR | bx::ui::MB_TASKMODAL);
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
        if (auto* view = c_.View()) view->SetMMBits(buffers_[0]->data());
        bx::ui::ProcessMessages();
    }
    c_.PreTriggerRunning = false;
}

void DiskRun::Show(int buffer) {
    if (!c_.DisplayEnabled) return;
    if (auto* view = c_.View()) view->SetMMBits(buffers_[buffer]->data());
}

void DiskRun::Write(int frame, int buffer, int64_t bytes) {
    const int64_t block = static_cast<int64_t>(frame) * sectorsPerFrame_ + firstBlock_;
    pendingFrame_ = frame;
    pendingBuffer_ = buffer;
    pendingBytes_ = bytes;
    // A refused request shows as a failed transfer at the next wait, and is retried there.
    MM_WriteBufferToBlockWithID(device_, block, buffers_[buffer]->data(), bytes);
}

// Waits for the write on its way; a failed one is written again, twice at most. One that
// still fails ends the sequence: the image keeps the frames before it.
void DiskRun::CompleteWrite() {
    if (pendingFrame_ < 0) return;
    const int frame = pendingFrame_;
    bool ok = MM_WaitForTransfer() != 0;
    for (int retry = 0; !ok && retry < kWriteRetries; ++retry) {
        Write(frame, pendingBuffer_, pendingBytes_);
        ok = MM_WaitForTransfer() != 0;
    }
    pendingFrame_ = -1;
    if (!ok && (writeFailedAt_ < 0 || frame < writeFailedAt_)) {
        writeFailedAt_ = frame;
        failure_ = "Unable To Write Frame To Disk";
    }
}

// The frame loop. Frame k is grabbed into the buffer not being written, while the write of
// the frame before it runs; that write is completed before its buffer is used again.
void DiskRun::Frames() {
    c_.SetGrabProgress(0);
    StartClock(stamps_);
    if (c_.Abort) return;  // aborted at the gate: no frame was taken
    for (int k = 0; k < frames_;) {
        c_.SetGrabProgress(k + 1);
        CompleteWrite();
        if (heldFrame_ >= 0) {
            Write(heldFrame_, heldBuffer_, blockBytes_);
            heldFrame_ = -1;
        }
        if (g_iTraceLevel >= 3) TraceWrite("ferro 1 Post Frame TessvikGrab 660\r\n");
        c_.DoPostFrameTriggerClick();
        if (!failure_.empty()) break;
        if (exposureMs_ + kShowEarlyMarginMs < c_.FrameRate) {
            c_.WaitMilliseconds(kGatePauseMs);
            if (pendingFrame_ >= 0) Show(pendingBuffer_);
        }
        QuietIntervalWait();
        TakeFrame(k);
        bx::ui::ProcessMessages();
        if (heldFrame_ == k) framesTaken_ = ++k;
        if (Stopped()) break;
        if (c_.Recycle && k == frames_) {
            recycled_ = true;
            k = 0;
        }
    }
}

void DiskRun::TakeFrame(int k) {
    c_.DoPreFrameTriggerClick();
    c_.DoFrameTriggerClick();
    const int buffer = pendingFrame_ >= 0 ? 1 - pendingBuffer_ : 0;
    const int32_t result =
        c_.GrabFrameToBuffer(buffers_[buffer]->data(), static_cast<size_t>(frameBytes_));
    stamps_[k] = StampAt(c_.CurrentMilliseconds());
    if (result != KVCAM_OK) {
        // Answered Abort, the grab ends like any abort; otherwise the frame failed.
        if (!c_.GrabErrorAbort) failure_ = "Unable To Grab Frame";
        failureError_ = result;
        return;
    }
    heldFrame_ = k;
    heldBuffer_ = buffer;
    if (c_.FrameRate <= exposureMs_ + kShowEarlyMarginMs) Show(buffer);
}

// The last writes, the record and the cut (after a resize the creation header again).
void DiskRun::Finish() {
    if (g_iTraceLevel >= 3) TraceWrite("ferro 1 Post Frame TessvikGrab 754\r\n");
    c_.DoPostFrameTriggerClick();
    CompleteWrite();
    if (heldFrame_ >= 0) {
        Write(heldFrame_, heldBuffer_, frameBytes_);
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
