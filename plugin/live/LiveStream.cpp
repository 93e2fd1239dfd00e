// The live thread's Execute: the frame loop over the two camera buffers, the display copy
// and the auto-exposure pass. See live/BXTessvikFocus.cpp for how frames are matched to
// their completions.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "camera/Command.h"
#include "camera/RowReduction.h"
#include "control/BXTessvikGrabImpl1.h"
#include "control/ImageTypes.h"
#include "live/BXTessvikFocus.h"
#include "support/GlobalBuffer.h"
#include "support/ScopeExit.h"

using ferro::TBXTessvikFerroFW;
using ferro::camera::RowReduction;
using ferro::support::GlobalBuffer;

namespace {

// How long a frame may take beyond its exposure before the thread gives up on it.
constexpr int64_t kFrameGraceMs = 1000;

// Copies every `factor`-th pixel of each row (`pixelBytes` bytes each): the MicroDot
// software binning of live video. Nothing is written when either side is too small.
void SubsamplePixels(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes,
                     const RowReduction& shape, size_t pixelBytes) {
    if (pixelBytes == 3) {
        ferro::camera::SubsampleRows(src, srcBytes, dst, dstBytes, shape);
        return;
    }
    if (ferro::camera::ReductionSourceBytes(shape, 1) > srcBytes ||
        ferro::camera::ReductionOutputBytes(shape, 1) > dstBytes || shape.factor < 1)
        return;
    for (int i = 0; i < shape.rows; ++i) {
        const uint8_t* row = src + static_cast<size_t>(shape.srcWidth) * i;
        uint8_t* out = dst + static_cast<size_t>(shape.dstWidth) * i;
        for (int j = 0; j < shape.dstWidth; ++j)
            out[j] = row[static_cast<size_t>(j) * shape.factor];
    }
}

}  // namespace

// One run of the frame loop: the locked buffers and the queue's bookkeeping. Its destructor
// is the end of Execute: streaming off, pending frames cancelled, buffers released.
class BXTessvikFocus::Stream {
public:
    explicit Stream(BXTessvikFocus& thread) : t_(thread), c_(thread.control_) {}
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void Run();

private:
    enum class Outcome { Completed, Failed, TimedOut, Terminated };

    void LockLeaves();
    bool PrepareSoftwareBinning();
    void Pass();
    bool WaitWhileCommandBusy() const;
    void RunAutoExposure();
    bool Queue(int slot);
    bool AnyOutstanding() const { return slots_[0].Outstanding || slots_[1].Outstanding; }
    Outcome WaitForFrame();
    void Restart();
    bool ShowCompleted();
    void CopyColour(uint8_t* display);
    void CopyGrey(uint8_t* display);
    void ApplyMappingIfChanged();
    void ReportQueueFailure();

    BXTessvikFocus& t_;
    TBXTessvikFerroFW& c_;
    MM_LEAF leafA_ = 0, leafB_ = 0, leafC_ = 0;
    uint8_t *A_ = nullptr, *B_ = nullptr, *C_ = nullptr;
    size_t displayBytes_ = 0, queueBytes_ = 0;
    std::unique_ptr<GlobalBuffer> binB_, binC_;
    bool binning_ = false;
    RowReduction reduction_;  // the binning shape, read under the frame hold
    bool streamingStarted_ = false;
    // The two camera buffers in queue order; pingPong_ is the one that completes next.
    struct Slot {
        uint8_t* Buffer = nullptr;
        uint64_t Serial = 0;
        bool Outstanding = false;  // queued and not completed yet
    };
    std::array<Slot, 2> slots_{};
    int pingPong_ = 0;
    bool shown_ = false;
    bool queueFailed_ = false;
    uint64_t serial_ = 0;
    // The mapping limits the display image has; NaN until the first frame sets them again.
    double mapMin_ = std::numeric_limits<double>::quiet_NaN(), mapMax_ = mapMin_;
};

void BXTessvikFocus::Execute() {
    ClockFrequency = bx::kernel::QueryPerformanceFrequency();
    ClockMode = ClockFrequency > 0 ? 2 : 0;
    try {
        Stream stream(*this);
        stream.Run();
    } catch (const std::exception& e) {
        // The thread cannot go on; say why rather than stop in silence.
        Terminate();
        bx::ui::Application().MessageBox(e.what(), ferro::camera::kCaptionError, bx::ui::MB_OK);
        // Ended as a stop ends it: the host hears the acquisition close and gets its controls.
        ferro::StopLiveFromLiveThread(control_);
        control_.LiveActive = control_.LiveRequested = false;
    }
}

BXTessvikFocus::Stream::~Stream() {
    if (streamingStarted_) {
        t_.LastCameraError = KvCam_SetStreaming(t_.CameraHandle, 0);
        // Returns once every pending frame has completed as cancelled, so no buffer below is
        // still the camera's.
        t_.LastCameraError = KvCam_Abort(t_.CameraHandle);
    }
    binB_.reset();
    binC_.reset();
    for (MM_LEAF leaf : {leafA_, leafB_, leafC_})
        if (leaf != 0) MM_Unlock(leaf, 0);
    t_.DisplayBits = nullptr;
    t_.ReleaseImages();
}

void BXTessvikFocus::Stream::LockLeaves() {
    auto lock = [](MM_HANDLE image, int32_t plane, MM_LEAF& leaf) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        index.d[2] = plane;
        const MM_LEAF found = MM_GetData(image, index);
        if (found == 0) throw ferro::ControlFailure("Unable To Get Image Leaf");
        auto* bits = static_cast<uint8_t*>(MM_Lock(found, 0));
        if (bits == nullptr) throw ferro::ControlFailure("Unable To Lock Image Leaf");
        leaf = found;
        return bits;
    };
    A_ = lock(t_.DisplayImage, 0, leafA_);
    B_ = lock(t_.FrameImage, 0, leafB_);
    C_ = lock(t_.FrameImage, 1, leafC_);
    displayBytes_ = static_cast<size_t>(std::max<int64_t>(0, MM_GetFrameBytes(t_.DisplayImage)));
    queueBytes_ =
        std::min(static_cast<size_t>(std::max(0, t_.FrameBytes)),
                 static_cast<size_t>(std::max<int64_t>(0, MM_GetFrameBytes(t_.FrameImage))));
}

bool BXTessvikFocus::Stream::PrepareSoftwareBinning() {
    // As for single frames: only when the driver cannot bin the rows itself.
    binning_ = c_.SoftwareBinningApplies();
    if (!binning_) return true;
    if (!ferro::ImageTypeForDepth(ferro::AcquisitionDepth(t_.DepthBits, t_.Force8Bit)))
        throw ferro::ControlFailure("Unknown image Type");
    // The camera delivers the unbinned rows, larger than a plane of the frame image.
    for (auto* block : {&binB_, &binC_}) {
        *block = std::make_unique<GlobalBuffer>(static_cast<size_t>(std::max(0, t_.FrameBytes)));
        if (!**block) {
            block->reset();
            ferro::camera::ShowNoIntermediateBuffer();
            return false;
        }
    }
    B_ = binB_->data();
    C_ = binC_->data();
    slots_[0].Buffer = B_;
    slots_[1].Buffer = C_;
    queueBytes_ = binB_->size();
    return true;
}

void BXTessvikFocus::Stream::Run() {
    LockLeaves();
    slots_[0].Buffer = B_;
    slots_[1].Buffer = C_;
    if (!PrepareSoftwareBinning()) {
        t_.Terminate();
        c_.LiveActive = c_.LiveRequested = false;
        return;
    }
    t_.FrameCount = 0;
    t_.SetPriority(bx::kernel::ThreadPriority::Normal);
    streamingStarted_ = true;
    t_.LastCameraError = KvCam_SetStreaming(t_.CameraHandle, 1);
    pingPong_ = 0;
    ferro::FrameDoneFlag = false;
    shown_ = false;
    while (!t_.Terminated()) Pass();
}

bool BXTessvikFocus::Stream::WaitWhileCommandBusy() const {
    const int64_t deadline = t_.CurrentMilliseconds() + ferro::camera::kHandOffTimeoutMs;
    while (c_.CameraCommandBusy.load()) {
        if (t_.Terminated() || t_.CurrentMilliseconds() > deadline) return false;
        bx::kernel::Sleep(1);
    }
    return true;
}

void BXTessvikFocus::Stream::Pass() {
    bx::kernel::Sleep(1);
    if (c_.LiveFreeze && shown_) return;
    if (!WaitWhileCommandBusy()) return;
    // Taken when the pass begins, so a request withdrawn before then does not run.
    if (t_.AutoExposeRequest.exchange(false)) {
        RunAutoExposure();
        return;
    }
    // A camera command changed the settings: its frames were cancelled; start over.
    if (ferro::LiveSettingsChanged.exchange(false)) Restart();
    bool shown = false;
    {
        // The hold lasts until the frame is shown, so a camera command that changes settings
        // comes either before the frame completed (and cancels it) or after it was shown:
        // once a command returns, every frame shown was taken with its settings.
        ferro::camera::FrameHold hold(c_);
        if (!hold.Held()) return;
        if (binning_)
            reduction_ = {c_.CameraRoi.Height, c_.CameraRoi.Width, t_.ImageWidth, c_.RoiBinning.X};
        if (t_.FrameCount == 0) {
            if (AnyOutstanding()) Restart();
            if (Queue(0) && Queue(1)) ++t_.FrameCount;
        } else {
            switch (WaitForFrame()) {
                case Outcome::Terminated:
                    return;
                case Outcome::Failed:
                case Outcome::TimedOut:
                    Restart();
                    return;
                case Outcome::Completed:
                    break;
            }
            const int done = pingPong_;
            t_.CompletedFrame = t_.QueuedFrame[done];
            shown = ShowCompleted();
            pingPong_ = 1 - done;
            Queue(done);  // its buffer was copied: the camera may fill it again
        }
    }
    if (shown) {
        // Raised without the hold, so the host's handler may itself send camera commands.
        ++t_.FrameCount;
        t_.frames_shown_.fetch_add(1, std::memory_order_acq_rel);
        t_.DoLiveFrameUpdate();
        shown_ = true;
    }
    // After the shown frame's event: the host hears of every frame before live video ends.
    if (queueFailed_) ReportQueueFailure();
}

bool BXTessvikFocus::Stream::Queue(int slot) {
    KvCamFrame& frame = t_.QueuedFrame[slot];
    frame = KvCamFrame{};
    frame.buffer = slots_[slot].Buffer;
    frame.bufferSize = static_cast<uint32_t>(queueBytes_);
    // Serials alternate between the slots (the callback files a completion under serial % 2).
    if ((serial_ + 1) % 2 != static_cast<uint64_t>(slot)) ++serial_;
    const uint64_t serial = ++serial_;
    const int32_t result =
        KvCam_QueueFrame(t_.CameraHandle, &frame, &BXTessvikFocus::FrameCompleted,
                         KVCAM_CALLBACK_ON_COMPLETION, &t_, static_cast<uintptr_t>(serial));
    t_.LastCameraError = result;
    if (result != KVCAM_OK) {
        queueFailed_ = true;
        t_.Terminate();
        return false;
    }
    slots_[slot].Serial = serial;
    slots_[slot].Outstanding = true;
    return true;
}

void BXTessvikFocus::Stream::ReportQueueFailure() {
    // Shown once the driver is handed back, so a command need not wait for the box.
    queueFailed_ = false;
    bx::ui::Application().MessageBox("Queue frame failed.", ferro::camera::kCaptionError,
                                     bx::ui::MB_OK);
    // Live video ends here as a stop ends it: the host hears the acquisition close and gets
    // its controls back (a host stop under way does that itself).
    ferro::StopLiveFromLiveThread(c_);
    c_.LiveActive = c_.LiveRequested = false;
}

BXTessvikFocus::Stream::Outcome BXTessvikFocus::Stream::WaitForFrame() {
    const int64_t start = t_.CurrentMilliseconds();
    const int64_t bound = c_.ActualExposureMs.load() + kFrameGraceMs;
    // One warped millisecond at a time, but woken at once by the completion.
    const auto step = std::chrono::duration<double, std::milli>(1.0 / bx::kernel::TimeWarp());
    Slot& slot = slots_[pingPong_];
    const BXTessvikFocus::Completion& completion = t_.completed_[slot.Serial % 2];
    std::unique_lock lock(t_.completion_mutex_);
    while (completion.Serial != slot.Serial) {
        if (t_.Terminated()) return Outcome::Terminated;
        if (t_.CurrentMilliseconds() - start > bound) return Outcome::TimedOut;
        t_.completion_cv_.wait_for(lock, step);
    }
    ferro::FrameDoneFlag = false;
    slot.Outstanding = false;
    return completion.Error == KVCAM_OK ? Outcome::Completed : Outcome::Failed;
}

void BXTessvikFocus::Stream::Restart() {
    // Whatever is still queued is cancelled (and has completed) before a buffer is reused.
    if (AnyOutstanding()) t_.LastCameraError = KvCam_Abort(t_.CameraHandle);
    slots_[0].Outstanding = slots_[1].Outstanding = false;
    t_.FrameCount = 0;
    pingPong_ = 0;
    t_.LastCameraError = KvCam_SetStreaming(t_.CameraHandle, 1);
}

bool BXTessvikFocus::Stream::ShowCompleted() {
    {
        // Readers of the display frame (the view, the host) wait for the whole copy.
        auto* display = static_cast<uint8_t*>(MM_Lock(leafA_, MM_LOCK_WRITE));
        if (display == nullptr) return false;
        const auto unlock = ferro::support::ScopeExit([this] { MM_Unlock(leafA_, 1); });
        if (c_.chk_Color->Checked()) {
            if (t_.Terminated()) return false;
            CopyColour(display);
        } else {
            CopyGrey(display);
        }
    }
    ApplyMappingIfChanged();
    if (c_.LiveFreeze) MM_SetSize(t_.DisplayImage, 2, 1);
    if (t_.View != nullptr) t_.View->SetMMBits(A_);
    t_.DisplayBits = A_;
    return true;
}

void BXTessvikFocus::Stream::CopyColour(uint8_t* display) {
    const KvCamFrame& raw = t_.CompletedFrame;
    const uint32_t rgbBytes = KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, raw.width, raw.height);
    std::vector<uint8_t> wide;
    t_.ColourFrame = KvCamFrame{};
    t_.ColourFrame.format = KVCAM_FORMAT_RGB24;
    if (binning_) {
        wide.resize(rgbBytes);
        t_.ColourFrame.buffer = wide.data();
        t_.ColourFrame.bufferSize = rgbBytes;
    } else {
        t_.ColourFrame.buffer = display;
        t_.ColourFrame.bufferSize =
            static_cast<uint32_t>(std::min<size_t>(rgbBytes, displayBytes_));
    }
    t_.LastCameraError = KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &raw, &t_.ColourFrame);
    if (binning_ && t_.LastCameraError == KVCAM_OK)
        SubsamplePixels(wide.data(), wide.size(), display, displayBytes_, reduction_, 3);
}

void BXTessvikFocus::Stream::CopyGrey(uint8_t* display) {
    const auto* src = static_cast<const uint8_t*>(t_.CompletedFrame.buffer);
    if (binning_) {
        SubsamplePixels(src, queueBytes_, display, displayBytes_, reduction_, 1);
        return;
    }
    std::memcpy(display, src, std::min(queueBytes_, displayBytes_));
}

void BXTessvikFocus::Stream::ApplyMappingIfChanged() {
    // The mapping limits may be changed on a running thread; the display follows them.
    const auto [min, max] = t_.DisplayMapping();
    if (min == mapMin_ && max == mapMax_) return;
    mapMin_ = min;
    mapMax_ = max;
    MM_SetMapMin(t_.DisplayImage, min);
    MM_SetMapMax(t_.DisplayImage, max);
}

void BXTessvikFocus::Stream::RunAutoExposure() {
    c_.btn_GainOffsetDefault->SetEnabled(false);
    c_.hsb_Brightness->SetEnabled(false);
    c_.hsb_Contrast->SetEnabled(false);
    t_.LastCameraError = KvCam_SetStreaming(t_.CameraHandle, 0);
    t_.LastCameraError = KvCam_Abort(t_.CameraHandle);
    slots_[0].Outstanding = slots_[1].Outstanding = false;
    t_.DisplayBits = A_;
    try {
        if (t_.AutoExposeHandler) t_.AutoExposeHandler(A_);
    } catch (const std::exception& e) {
        // The run ended on a failure; live video goes on.
        bx::ui::Application().MessageBox(e.what(), ferro::camera::kCaptionError, bx::ui::MB_OK);
    }
    t_.LastCameraError = KvCam_SetStreaming(t_.CameraHandle, 1);
    t_.FrameCount = 0;
    pingPong_ = 0;
    ferro::FrameDoneFlag = true;
    c_.btn_GainOffsetDefault->SetEnabled(true);
    c_.hsb_Brightness->SetEnabled(true);
    c_.hsb_Contrast->SetEnabled(true);
    if (t_.StopAfterAutoExpose) {
        t_.Terminate();  // first, so whoever sees live video stopped finds the thread ending
        ferro::StopLiveFromLiveThread(c_);
        c_.LiveActive = c_.LiveRequested = c_.AutoExposeOnly = false;
    }
}
