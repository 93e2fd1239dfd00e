// What the three sequence paths of Grab share: the per-sequence tables (time stamps, locked
// frames), the completion of queued frames, the interval wait and the end of a sequence.
//
// Thread rule: host thread. The driver's completion thread touches only a FrameQueue's slots,
// under its lock; a FrameWarmer's own thread touches only the frames it has claimed.
#pragma once

#include <bxmm/mm40.h>
#include <kvcam/kvcam.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
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

    // Locks frame k (once: a frame locked already keeps its lock) and returns its pixels;
    // fails "Unable To Get Image Leaf" or "Unable To Lock Image Leaf".
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

// Takes the first-write page faults of a fresh image's frames on a thread of its own, ahead of
// the camera, so neither the camera nor the host thread pays for them while frames run. (A
// page touched for the first time can be slow to come by, far slower than a camera fills
// it, so frames that follow each other back to back are all warmed before the first.)
// Frames are taken in order, by the warmer or, when the camera has caught up with it, by the
// host thread, which the warmer then skips.
class FrameWarmer {
public:
    FrameWarmer(int32_t image, int frames);
    // Stops and joins the thread.
    ~FrameWarmer();
    FrameWarmer(const FrameWarmer&) = delete;
    FrameWarmer& operator=(const FrameWarmer&) = delete;

    // Frame k goes to the camera now: the warmer skips it (and the frames before it) from now
    // on. Warming leaves a frame's content alone, so one it is on may go meanwhile.
    void Claim(int frame);
    // Waits until every frame is warm, dispatching messages meanwhile; an abort stops the
    // warming (the frames left are warmed by the camera's writes, only more slowly).
    void Finish(const TBXTessvikFerroFW& control);

private:
    void Run();
    MM_HANDLE image_;
    int frames_;
    MM_VECTOR bounds_{};
    std::atomic<int> next_{0};   // the first frame nobody has taken
    std::atomic<int> busy_{-1};  // the frame the warmer is on, or -1
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The host's messages while a sequence runs on its thread: besides the dispatches the steps
// make, every wait dispatches them once kDispatchMs have passed since the last, so the host's
// windows never freeze for longer than a frame's steps take.
class MessagePump {
public:
    static constexpr int64_t kDispatchMs = 25;  // well inside the 0.1 s a user notices

    explicit MessagePump(const TBXTessvikFerroFW& control);
    // Dispatches the waiting messages now.
    void Dispatch();
    // Dispatches them when the last dispatch is kDispatchMs ago; true when it did.
    bool DispatchIfDue();

private:
    const TBXTessvikFerroFW& c_;
    int64_t last_;
};

// The frames a sequence has queued with the driver: one, or two when the next frame is queued
// before the one ahead of it completes (frames back to back, so the camera never waits for
// the host). Each frame has an id; two frames on their way have ids of different parity.
// The driver's completion callback records each completion with its result and time, and
// writes FrameDoneFlag.
class FrameQueue {
public:
    // `quiet`: messages are dispatched only while a frame waits for its external trigger (the
    // disk path, which must not be held up by the host).
    FrameQueue(TBXTessvikFerroFW& control, MessagePump& pump, bool quiet = false)
        : c_(control), pump_(pump), quiet_(quiet) {}
    // Whatever is still on its way is cancelled, so the camera never writes into memory the
    // sequence has let go.
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Queues frame `id` into `pixels` (`bytes` of room) and, with `softwareTrigger`, triggers
    // it. A refused call shows "Queue frame failed."; the frame then counts as failed.
    void Queue(int id, void* pixels, uint32_t bytes);
    // Waits for frame `id`. One the camera did not deliver (its queue call refused, an
    // error, no completion within exposure + grace) is queued again, twice at most; a frame
    // `behind` it (an id, or -1) is cancelled and queued again after it, so frames keep their
    // order. An abort ends the retries. True when it was delivered; otherwise the frame behind
    // is cancelled too and LastCameraError holds the driver's result.
    bool Complete(int id, int behind);
    // The descriptor of frame `id` as the driver completed it, and when (CurrentMilliseconds).
    const KvCamFrame& Descriptor(int id) const { return slot(id).Frame; }
    int64_t CompletedAt(int id) const;
    // Cancels whatever is on its way; returns once each has completed as cancelled.
    void CancelAll();

    bool softwareTrigger = false;

private:
    struct Slot {
        KvCamFrame Frame{};
        void* Pixels = nullptr;
        uint32_t Bytes = 0;
        uint64_t Serial = 0;  // of the queue call; 0 when not queued
        bool Done = false;
        int32_t Result = KVCAM_OK;
        int64_t At = 0;
    };
    Slot& slot(int id) { return slots_[static_cast<size_t>(id) % 2]; }
    const Slot& slot(int id) const { return slots_[static_cast<size_t>(id) % 2]; }
    int32_t Wait(int id);
    static void Completed(void* user, uintptr_t serial, int32_t error, uint32_t flags);

    TBXTessvikFerroFW& c_;
    MessagePump& pump_;
    const bool quiet_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::array<Slot, 2> slots_{};
    uint64_t serial_ = 0;
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
    // messages are dispatched; shorter waits dispatch them when due (MessagePump). The next
    // interval starts when this one ends.
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
    MessagePump pump_;  // every dispatch of the sequence's steps and waits
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
