// Snap (one new image from the camera), GetImage (the hand-off of the last image) and
// GrabFrameIntoImage (one frame into an image the host made, one index at a time).
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include "acquisition/AcquisitionRecord.h"
#include "camera/FrameTransfer.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

namespace {

// When the current series of GrabFrameIntoImage calls started; one per loaded module, kept
// until the next series starts (0 before the first).
int64_t g_SeriesStartMs = 0;

// One frame's pixels locked in the store. Unlocks when it goes, so a failure raised by an
// event handler cannot leave the frame locked.
class LockedFrame {
public:
    LockedFrame(int32_t image, const MM_VECTOR& index)
        : leaf_(MM_GetData(image, index)), pixels_(leaf_ ? MM_Lock(leaf_, 0) : nullptr) {}
    ~LockedFrame() { Unlock(); }
    LockedFrame(const LockedFrame&) = delete;
    LockedFrame& operator=(const LockedFrame&) = delete;

    bool HasLeaf() const { return leaf_ != 0; }
    void* Pixels() const { return pixels_; }
    // Marks the pixels as written, so the unlock hands them back as changed.
    void MarkWritten() { written_ = true; }
    void Unlock() {
        if (pixels_ == nullptr) return;
        MM_Unlock(leaf_, written_ ? 1 : 0);
        pixels_ = nullptr;
    }

private:
    MM_LEAF leaf_;
    void* pixels_;
    bool written_ = false;
};

}  // namespace

int32_t TBXTessvikFerroFW::Snap() {
    if (!SessionOpen || !CameraReady) {
        bx::ui::Beep();
        return 0;
    }
    if (LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        throw ControlFailure("Focus In Progress");
    }

    ApplyRegion();
    GrabInProgress.store(true, std::memory_order_release);
    camera::OnScopeExit finished(
        [this] { GrabInProgress.store(false, std::memory_order_release); });
    DoPreAcquisitionTriggerClick();
    SetGrabProgress(-1);

    const int32_t image = CreateAcquisitionImage(ImageKind::Single);
    // The frame's size as created: a host handler of the events below may change the window
    // (and so ImageWidth) before the grab, but the leaf keeps the size it was made with.
    const size_t frameBytes = static_cast<size_t>(ImageWidth) * static_cast<size_t>(ImageHeight) *
                              static_cast<size_t>(BytesPerPixel);
    // The frame leaf of a fresh image is there to be had; should the store still refuse it,
    // the Snap fails like the other paths rather than grabbing into nothing, and the empty
    // image is not handed out.
    const char* failure = nullptr;
    {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        LockedFrame frame(image, index);
        if (!frame.HasLeaf()) {
            failure = "Unable To Get Image Leaf";
        } else if (frame.Pixels() == nullptr) {
            failure = "Unable To Lock Image Leaf";
        } else {
            SetGrabProgress(0);
            DoPreFrameTriggerClick();
            frame.MarkWritten();
            GrabFrameToBuffer(frame.Pixels(), frameBytes);
            DoPostFrameTriggerClick();
            frame.Unlock();
        }
    }
    if (failure != nullptr) {
        MM_DeleteImage(static_cast<MM_HANDLE>(image));
        AcquisitionImage = 0;
        throw ControlFailure(failure);
    }

    if (BitDepth != 24) ApplyAcquisitionPalette(image);
    if (auto* view = View()) view->SetMMImage(static_cast<MM_HANDLE>(image));
    DoPostAcquisitionTriggerClick();
    SetGrabProgress(1);

    GrabInProgress.store(false, std::memory_order_release);
    Abort.store(false, std::memory_order_release);  // directly: no notification
    ApplyRegion();
    return image;
}

int32_t TBXTessvikFerroFW::GetImage() const {
    if (!MM_IsValidImageHandle(static_cast<MM_HANDLE>(AcquisitionImage)))
        throw ControlFailure("no acquisition image present!");
    return AcquisitionImage;
}

void TBXTessvikFerroFW::GrabFrameIntoImage(int32_t image, int32_t index, bool first,
                                           double* elapsedMs) {
    if (!SessionOpen || GrabInProgress.load(std::memory_order_acquire)) return;
    const auto handle = static_cast<MM_HANDLE>(image);
    if (!MM_IsValidImageHandle(handle)) throw ControlFailure("Invalid Acquisition Image");

    if (index == 0 && first) {
        g_SeriesStartMs = CurrentMilliseconds();
        const std::string header = BuildAcquisitionHeader(true);
        MM_WriteComment(handle, header.c_str(), static_cast<int32_t>(header.size() + 1));
    }

    GrabInProgress.store(true, std::memory_order_release);
    camera::OnScopeExit finished(
        [this] { GrabInProgress.store(false, std::memory_order_release); });

    // An index the image does not have yields a vector the store refuses, so it surfaces as
    // the missing frame below rather than reaching another frame.
    MM_VECTOR position, bounds;
    MM_InitVector(&position, 0);
    MM_InitVector(&bounds, 0);
    MM_InitBoundaries(handle, &bounds, 0);
    MM_CalculateIndexVector(index, &position, &bounds);

    LockedFrame frame(image, position);
    if (!frame.HasLeaf()) throw ControlFailure("Unable to Get Image Frame Handle");
    if (frame.Pixels() == nullptr) throw ControlFailure("Unable to Lock Image Frame");

    DoPreFrameTriggerClick();
    DoFrameTriggerClick();
    // The host's frame holds its own width x height; its pixels are taken to be of the depth
    // the control acquires at, as a host image made for this camera is.
    size_t capacity = 0;
    if (const auto type = ImageTypeForDepth(AcquisitionDepth(BitDepth, Acquire8Bit)))
        capacity = static_cast<size_t>(bounds.d[0]) * static_cast<size_t>(bounds.d[1]) *
                   static_cast<size_t>(type->BytesPerPixel);
    frame.MarkWritten();
    GrabFrameToBuffer(frame.Pixels(), capacity);
    const double elapsed = static_cast<double>(CurrentMilliseconds() - g_SeriesStartMs);

    DoPostFrameTriggerClick();
    frame.Unlock();
    if (elapsedMs != nullptr) *elapsedMs = elapsed;

    if (auto* view = View()) {
        if (index == 0) {
            view->SetMMImage(handle);
        } else if (DisplayEnabled) {
            view->SetMMVector(position);
        }
    }
    GrabInProgress.store(false, std::memory_order_release);
}

}  // namespace ferro
