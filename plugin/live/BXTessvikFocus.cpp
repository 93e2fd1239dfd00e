// The live video thread: its images, the two-buffer frame queue and the frame loop.
//
// Both planes of the frame image are queued at once, so the camera always has the next frame
// while the thread copies the one just completed into the display image, shows it and queues
// its plane again. Nothing on the way from a frame's completion to the view wakes another
// thread (re-queueing does, and comes after). Every queued frame carries a serial number as
// its user value, and the completion callback records which serial completed and how, so a
// frame is shown only when the very frame the thread waits for completed without error. A frame
// that completes with an error, or does not complete within its bound (exposure + 1 s), is not
// shown: the stream restarts, cancelling what is still pending first, so no buffer is reused while
// the camera may still write it.
#include "live/BXTessvikFocus.h"

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "camera/Command.h"
#include "control/BXTessvikGrabImpl1.h"
#include "control/ImageTypes.h"
#include "support/ScopeExit.h"

using ferro::TBXTessvikFerroFW;

namespace {}  // namespace

BXTessvikFocus::BXTessvikFocus(TBXTessvikFerroFW& control)
    : bx::kernel::TThread(true),
      Palette(std::make_unique<std::array<int32_t, 256>>()),
      control_(control) {
    SetPriority(bx::kernel::ThreadPriority::Normal);
    // The control owns the object and deletes it after waiting for it (see the header), so
    // free-on-terminate stays off.
}

BXTessvikFocus::~BXTessvikFocus() {
    Terminate();
    WaitFor();
    ReleaseImages();
}

void BXTessvikFocus::SetLiveFrameHandler(ferro::EventHandler handler) {
    std::lock_guard lock(handler_mutex_);
    live_frame_handler_ = std::move(handler);
}

ferro::EventHandler BXTessvikFocus::LiveFrameHandler() const {
    std::lock_guard lock(handler_mutex_);
    return live_frame_handler_;
}

void BXTessvikFocus::DoLiveFrameUpdate() {
    if (const ferro::EventHandler handler = LiveFrameHandler()) handler();
}

int64_t BXTessvikFocus::CurrentMilliseconds() const {
    if (ClockMode == 2 && ClockFrequency > 0)
        return bx::kernel::QueryPerformanceCounter() * 1000 / ClockFrequency;
    return static_cast<int64_t>(bx::kernel::GetTickCount64());
}

// ---- Images ---------------------------------------------------------------------------------

MM_HANDLE BXTessvikFocus::CreateLiveImage(int32_t planes) {
    const auto type = ferro::ImageTypeForDepth(ferro::AcquisitionDepth(DepthBits, Force8Bit));
    if (!type) throw ferro::ControlFailure("Unknown image Type");
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = ImageWidth;
    size.d[1] = ImageHeight;
    size.d[2] = planes;
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, type->StoreType, 256);
    if (!MM_IsValidHandle(image)) throw ferro::ControlFailure("Image Allocation Failure");
    return image;
}

void BXTessvikFocus::PrepareDisplayImage() {
    DisplayImage = CreateLiveImage(1);
    MM_CopyDefHeader(DisplayImage);
    const auto [min, max] = DisplayMapping();
    MM_SetMapMin(DisplayImage, min);
    MM_SetMapMax(DisplayImage, max);
    if (DepthBits != 24) ferro::SetImageLut(DisplayImage, *Palette);
    if (View != nullptr) View->SetMMImage(DisplayImage);
}

std::pair<double, double> BXTessvikFocus::DisplayMapping() const {
    const int32_t depth = Force8Bit ? 8 : DepthBits.load();
    // Colour frames hold 8 bits per channel, so they take the 8-bit pair too.
    if (depth == 8 || depth == 24) return {FocusMapMin, FocusMapMax};
    if (depth > 12) return {SlowScanMapMin, SlowScanMapMax};
    return {HighSpeedMapMin, HighSpeedMapMax};
}

void BXTessvikFocus::PrepareFrameImage() {
    FrameImage = CreateLiveImage(2);
}

void BXTessvikFocus::ReleaseImages() {
    if (DisplayImage != 0) MM_DeleteImage(DisplayImage);
    if (FrameImage != 0) MM_DeleteImage(FrameImage);
    DisplayImage = FrameImage = 0;
}

// ---- Completion -----------------------------------------------------------------------------

void BXTessvikFocus::FrameCompleted(void* user, uintptr_t userData, int32_t error, uint32_t) {
    ferro::FrameDoneFlag = error == KVCAM_OK;
    auto* thread = static_cast<BXTessvikFocus*>(user);
    // Notified under the lock: once the waiter sees the completion, this callback no longer
    // touches the thread object.
    std::lock_guard lock(thread->completion_mutex_);
    thread->completed_[userData % 2] = {userData, error};
    thread->completion_cv_.notify_all();
}
