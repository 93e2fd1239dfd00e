// Snap (one new image from the camera), GetImage (the hand-off of the last image) and
// GrabFrameIntoImage (one frame into an image the host made, one index at a time).
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include "control/BXTessvikGrabImpl1.h"
#include "control/ImageTypes.h"
#include "support/ScopeExit.h"

namespace ferro {

namespace {

constexpr const char* kGrabFailure = "Unable To Grab Frame";

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

// Bytes the control may write into one frame of a host image when it acquires at `depth`:
// the host frame itself, when its pixels are what the control delivers (the same size, or
// one byte a pixel for a deeper grey frame, which is narrowed). Fails "Image Type Mismatch"
// for pixels the frame cannot be turned into (colour for grey or back, a deeper host pixel).
size_t HostFrameCapacity(MM_HANDLE image, const MM_VECTOR& bounds, int depth) {
    const auto acquired = ImageTypeForDepth(depth);
    const int64_t frameBytes = MM_GetFrameBytes(image);
    const int64_t pixels = int64_t{bounds.d[0]} * bounds.d[1];
    const int64_t hostBytes = pixels > 0 ? frameBytes / pixels : 0;
    const bool colour = depth == 24, hostColour = MM_GetDataType(image) == MM_TYPE_BGR24;
    const bool same = acquired && hostBytes == acquired->BytesPerPixel;
    const bool narrowed =
        acquired && !colour && !hostColour && hostBytes == 1 && acquired->BytesPerPixel == 2;
    if (!acquired || colour != hostColour || !(same || narrowed))
        throw ControlFailure("Image Type Mismatch");
    return static_cast<size_t>(frameBytes);
}

}  // namespace

int32_t TBXTessvikFerroFW::Snap() {
    if (!CameraIsReady(NotReady::Beep, true)) return 0;
    if (LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        throw ControlFailure("Focus In Progress");
    }

    ApplyRegion();
    GrabInProgress.store(true, std::memory_order_release);
    support::ScopeExit finished([this] { GrabInProgress.store(false, std::memory_order_release); });
    DoPreAcquisitionTriggerClick();
    SetGrabProgress(-1);

    const int32_t image = CreateAcquisitionImage(ImageKind::Single);
    // The frame's size as created: a host handler of the events below may change the window
    // (and so ImageWidth) before the grab, but the leaf keeps the size it was made with.
    const size_t frameBytes = static_cast<size_t>(ImageWidth) * static_cast<size_t>(ImageHeight) *
                              static_cast<size_t>(BytesPerPixel);
    // The frame leaf of a fresh image is there to be had; should the store still refuse it,
    // the Snap fails like the other paths rather than grabbing into nothing. A frame the
    // camera did not deliver fails too: the host must not take an empty image for a picture.
    // The undelivered image is not handed out.
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
            if (GrabFrameToBuffer(frame.Pixels(), frameBytes) != KVCAM_OK) failure = kGrabFailure;
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

    finished.RunNow();
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
        SeriesStartMs = CurrentMilliseconds();
        const std::string header = BuildAcquisitionHeader(true);
        MM_WriteComment(handle, header.c_str(), static_cast<int32_t>(header.size() + 1));
    }

    GrabInProgress.store(true, std::memory_order_release);
    support::ScopeExit finished([this] { GrabInProgress.store(false, std::memory_order_release); });

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
    const size_t capacity =
        HostFrameCapacity(handle, bounds, AcquisitionDepth(BitDepth, Acquire8Bit));

    DoPreFrameTriggerClick();
    DoFrameTriggerClick();
    // What is written is sized by the host's own frame, whatever the control acquires at: a
    // deeper frame is narrowed to an 8-bit image, one that does not fit is not written.
    frame.MarkWritten();
    const int32_t grabbed = GrabFrameToBuffer(frame.Pixels(), capacity);
    const double elapsed = static_cast<double>(CurrentMilliseconds() - SeriesStartMs);

    DoPostFrameTriggerClick();
    frame.Unlock();
    if (grabbed != KVCAM_OK) throw ControlFailure(kGrabFailure);
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
