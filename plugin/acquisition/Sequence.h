// What the three sequence paths of Grab share: the per-sequence tables (time stamps, locked
// frames), the completion of queued frames, the interval wait and the end of a sequence.
//
// Thread rule: host thread. The driver's completion thread touches only FrameCompletions,
// under its lock.
#pragma once

#include <bxmm/mm40.h>
#include <kvcam/kvcam.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "support/GlobalBuffer.h"

namespace ferro::acquisition {

// Milliseconds of an exposure given in microseconds, rounded up (the timing rules of the
// sequences are in milliseconds).
int64_t ExposureMs(int microseconds);

// A sequence that ended before its last frame for a reason the host must hear: the image is
// complete as far as it goes (cut before the failed frame, its record written) and stays in
// AcquisitionImage; Grab finishes as after any sequence and then raises it.
class SequenceEnded : public ControlFailure {
public:
    using ControlFailure::ControlFailure;
};

// One entry per frame: milliseconds from the sequence start to the moment the frame
// completed. Zero-filled global memory; asking for it shows the "Grab warning" box when the
// memory cannot be had.
class TimeStampTable {
public:
    // Empty (check with `operator bool`) when it could not be allocated; the box was shown.
    explicit TimeStampTable(int frames);
    explicit operator bool() const { return static_cast<bool>(block_); }
    int64_t& operator[](int frame) { return Entries()[frame]; }
    // The stamps as the end-of-sequence record takes them.
    std::vector<double> AsMilliseconds() const;

private:
    int64_t* Entries() const { return reinterpret_cast<int64_t*>(block_.data()); }
    support::GlobalBuffer block_;
    int frames_;
};

// The frames of the acquisition image, each locked while the camera writes it and the
// sequence shows it. A frame is locked with the store's write hold, so a host reading the
// image meanwhile sees each frame whole. Whatever is still locked is unlocked when the table
// goes.
class LeafTable {
public:
    LeafTable(int32_t image, int frames);
    ~LeafTable();
    LeafTable(const LeafTable&) = delete;
    LeafTable& operator=(const LeafTable&) = delete;

    // Locks frame k and returns its pixels; fails "Unable To Get Image Leaf" or "Unable To
    // Lock Image Leaf".
    void* Lock(int frame);
    // Unlocks frame k (nothing when it is not locked); `written` hands the pixels back as
    // changed.
    void Unlock(int frame, bool written);
    void* Pixels(int frame) const { return pixels_[frame]; }
    // Bytes of one frame as the image was made.
    size_t FrameBytes() const { return frameBytes_; }

private:
    MM_HANDLE image_;
    MM_VECTOR bounds_{};
    std::vector<MM_LEAF> leaves_;
    std::vector<void*> pixels_;
    size_t frameBytes_;
};

// The frames a sequence has queued with the driver, at most one at a time. The driver's
// completion callback counts each completion with its result and writes FrameDoneFlag.
class FrameCompletions {
public:
    // Queues `descriptor` (buffer and size already filled) with the control's camera; its
    // completion is timed on the control's clock. False when the driver refused.
    bool Queue(const TBXTessvikFerroFW& control, KvCamFrame& descriptor);
    // A frame still on its way is cancelled, so the camera never writes into a frame the
    // sequence has let go.
    ~FrameCompletions();
    // Waits at most `boundMs` for the queued frame and answers its result: KVCAM_OK, the
    // driver's error, KVCAM_ERR_TIMEOUT when it did not complete in time (it is then cancelled,
    // so its buffer is the caller's again) or KVCAM_ERR_FAILED when no frame was queued.
    int32_t Wait(const TBXTessvikFerroFW& control, int64_t boundMs);
    bool Outstanding() const;
    // When the frame the last successful Wait answered completed (CurrentMilliseconds).
    int64_t SeenAt() const { return seenAt_; }

private:
    static void Completed(void* user, uintptr_t serial, int32_t error, uint32_t flags);
    KvCamHandle camera_ = 0;
    const TBXTessvikFerroFW* clock_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    // Serials: the last frame queued, the last completed, the last a Wait answered for.
    uint64_t queued_ = 0, completed_ = 0, waited_ = 0;
    int32_t result_ = KVCAM_OK;
    int64_t completedAt_ = 0, seenAt_ = 0;
};

// The state every path keeps while its frames run, and the steps they share.
class SequenceRun {
public:
    SequenceRun(TBXTessvikFerroFW& control, int32_t image);

protected:
    // Whether the host or the user asked the sequence to end.
    bool Stopped() const;
    // Milliseconds since the sequence started.
    int64_t SinceStart() const { return c_.CurrentMilliseconds() - sequenceStart_; }
    // The stamp of a frame seen complete at `seen` (CurrentMilliseconds).
    int64_t StampAt(int64_t seen) const { return seen - sequenceStart_; }
    // Starts the sequence clock: the stamp of frame 0 is 0 and the first interval begins.
    void StartClock(TimeStampTable& stamps);
    // The interval wait before a frame, when FrameRate is above 0: until FrameRate
    // milliseconds have passed since the last one ended, or the sequence is stopped. While
    // more than two seconds remain, `refresh` gets the milliseconds elapsed and waiting
    // messages are dispatched. The next interval starts when this one ends.
    void IntervalWait(const std::function<void(int64_t elapsed)>& refresh);
    // The same wait without messages or progress values (the disk path's).
    void QuietIntervalWait();
    // Sets TimeElapsed, TimeToNextFrame and TimeRemaining to their end values.
    void ReportEndTimes();
    // The end-of-sequence record and the cut: an ended sequence (aborted before its pass
    // completed, or stopped by a failure) keeps the frames completed; without any it is
    // deleted. Returns the image, or 0 when it was deleted.
    int32_t FinishImage(TimeStampTable& stamps, int completed, bool cut);
    // Raises the failure that ended the sequence, when one did, with the driver's result for
    // it back in LastCameraError (the end steps' own driver calls have overwritten it).
    void RaiseFailure() const;

    TBXTessvikFerroFW& c_;
    int32_t image_;
    int frames_;          // frames of the image (NumberOfFrames when it was made)
    int64_t exposureMs_;  // ExposureTime in milliseconds
    bool recycled_ = false;
    std::string failure_;              // why the sequence ended early; empty when it did not fail
    int32_t failureError_ = KVCAM_OK;  // the driver's result for that failure

private:
    int64_t sequenceStart_ = 0, frameStart_ = 0;
};

}  // namespace ferro::acquisition
