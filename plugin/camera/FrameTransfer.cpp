// Frame transfer: one frame from the camera into memory a caller owns, synchronously, with
// the retry rule for failed grey grabs, the Bayer-to-colour conversion and the software
// binning the MicroDot needs (its driver bins only vertically, so each delivered row is
// reduced here). A frame transfer holds FrameInFlight (camera/Command.h) while it runs.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "camera/Command.h"
#include "camera/RowReduction.h"
#include "control/BXTessvikGrabImpl1.h"
#include "support/GlobalBuffer.h"
#include "support/PageWarmer.h"

namespace ferro {

using support::GlobalBuffer;

namespace {

constexpr int kQuietGrabFailures = 9;  // failures retried before the user is asked
constexpr int64_t kTransientGrabPauseMs = 100;
constexpr uint32_t kDemosaicBilinear = KVCAM_DEMOSAIC_BILINEAR;

// A temporary frame could not be had: the grab cannot go on, and the user is told why.
int32_t ReportNoIntermediateBuffer(TBXTessvikFerroFW& form) {
    form.LastCameraError = KVCAM_ERR_FAILED;
    camera::ShowNoIntermediateBuffer();
    return KVCAM_ERR_FAILED;
}

// What the driver says of the frame to come: its size in bytes and, for the software
// binning, how its rows reduce.
struct FrameShape {
    uint32_t RawBytes = 0;
    bool Binning = false;
    camera::RowReduction Reduction;
};

FrameShape QueryFrameShape(TBXTessvikFerroFW& form) {
    using namespace bx::ui;
    int32_t width = 0, height = 0;
    KvCam_GetInfo(form.CameraHandle, KVCAM_INFO_IMAGE_WIDTH, &width);
    if (KvCam_GetInfo(form.CameraHandle, KVCAM_INFO_IMAGE_HEIGHT, &height) == KVCAM_OK &&
        (width < 0 || height < 0)) {
        Application().MessageBox("error KvCam_getdatasize ", "", MB_OK);
    }
    int32_t format = 0;
    if (KvCam_GetParam(form.CameraSettings.get(), KVCAM_PARAM_FORMAT, &format) != KVCAM_OK)
        Application().MessageBox("error KvCam_getsize ", "", MB_OK);
    int32_t reportedSize = 0;
    KvCam_GetInfo(form.CameraHandle, KVCAM_INFO_IMAGE_SIZE, &reportedSize);
    FrameShape shape;
    shape.RawBytes = static_cast<uint32_t>(std::max(reportedSize, 0));
    shape.Binning = form.SoftwareBinningApplies();
    shape.Reduction = {form.CameraRoi.Height, form.CameraRoi.Width, form.ImageWidth,
                       form.RoiBinning.X};
    return shape;
}

// One KvCam_GrabFrame. In external trigger mode a frame whose trigger did not come within the
// driver's own grab time-out is asked for again until the user's trigger time-out has passed.
int32_t GrabAwaitingTrigger(TBXTessvikFerroFW& form, KvCamFrame& frame) {
    void* const buffer = frame.buffer;
    const uint32_t bytes = frame.bufferSize;
    const int64_t start = form.CurrentMilliseconds();
    const int64_t bound = form.FrameWaitBoundMs(0);
    for (;;) {
        frame = KvCamFrame{};
        frame.buffer = buffer;
        frame.bufferSize = bytes;
        const int32_t result = KvCam_GrabFrame(form.CameraHandle, &frame);
        if (result != KVCAM_ERR_TIMEOUT || !form.ExternalTriggerActive ||
            form.CurrentMilliseconds() - start >= bound)
            return result;
    }
}

// Colour: the Bayer frame lands in a temporary and is demosaiced into the caller's buffer
// (or, with software binning, into a second temporary that is then reduced). A failed grab
// is not retried and leaves the caller's buffer untouched.
int32_t GrabColourFrame(TBXTessvikFerroFW& form, uint8_t* dst, size_t capacity,
                        const FrameShape& shape) {
    GlobalBuffer raw(shape.RawBytes);
    if (!raw) return ReportNoIntermediateBuffer(form);
    KvCamFrame rawFrame{};
    rawFrame.buffer = raw.data();
    rawFrame.bufferSize = shape.RawBytes;
    {
        // The demosaic will write every page of the caller's buffer, which is typically a
        // fresh store frame; its page faults are taken while the camera exposes.
        support::PageWarmer warm(shape.Binning ? nullptr : dst,
                                 std::min(capacity, size_t{shape.RawBytes} * 3));
        form.LastCameraError = GrabAwaitingTrigger(form, rawFrame);
    }
    if (form.LastCameraError != KVCAM_OK) return form.LastCameraError;

    const uint32_t colourSize =
        KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, rawFrame.width, rawFrame.height);
    form.BitDepth = 24;
    std::optional<GlobalBuffer> binned;
    uint8_t* target = dst;
    if (shape.Binning) {
        binned.emplace(colourSize);
        if (!*binned) return ReportNoIntermediateBuffer(form);
        target = binned->data();
    } else if (colourSize > capacity) {
        return form.LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
    }
    KvCamFrame colourFrame{};
    colourFrame.buffer = target;
    colourFrame.bufferSize = colourSize;
    colourFrame.format = KVCAM_FORMAT_RGB24;
    form.LastCameraError = KvCam_BayerToRgb(kDemosaicBilinear, &rawFrame, &colourFrame);
    if (form.LastCameraError != KVCAM_OK || !shape.Binning) return form.LastCameraError;
    if (!camera::SubsampleRows(binned->data(), binned->size(), dst, capacity, shape.Reduction))
        form.LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
    return form.LastCameraError;
}

// Grabs until the camera delivers: failures are retried quietly nine times, then each one
// asks the user (Abort, Retry, Ignore). A transient failure pauses before every retry, also
// after a Retry answer, so a camera that keeps failing is not hammered.
int32_t GrabWithRetries(TBXTessvikFerroFW& form, uint8_t* target, uint32_t rawBytes,
                        KvCamFrame& frame) {
    using namespace bx::ui;
    for (int failures = 0;;) {
        frame = KvCamFrame{};
        frame.buffer = target;
        frame.bufferSize = rawBytes;
        const int32_t result = GrabAwaitingTrigger(form, frame);
        form.LastCameraError = result;
        if (result == KVCAM_OK) return result;
        // A trigger that did not come within the user's time-out is not retried quietly: each
        // retry would wait that long again.
        if (result == KVCAM_ERR_TIMEOUT && form.ExternalTriggerActive)
            failures = std::max(failures, kQuietGrabFailures);
        if (++failures > kQuietGrabFailures) {
            const int answer =
                Application().MessageBox("KvCam_GrabFrame() error!", "Error", MB_ABORTRETRYIGNORE);
            if (answer == IDABORT) form.GrabErrorAbort = true;
            if (answer != IDRETRY) return result;
        }
        if (result == KVCAM_ERR_GRAB_TRANSIENT) form.WaitMilliseconds(kTransientGrabPauseMs);
    }
}

// Grey: straight into the caller's buffer when the frame fits as delivered; otherwise through
// a temporary that is reduced (software binning) or narrowed (a 16-bit frame for a buffer of
// one byte per pixel) afterwards. A failed grab leaves the caller's buffer as it was.
int32_t GrabGreyFrame(TBXTessvikFerroFW& form, uint8_t* dst, size_t capacity,
                      const FrameShape& shape) {
    std::optional<GlobalBuffer> temporary;
    uint8_t* target = dst;
    if (shape.Binning || shape.RawBytes > capacity) {
        temporary.emplace(shape.RawBytes);
        if (!*temporary) return ReportNoIntermediateBuffer(form);
        target = temporary->data();
    }
    KvCamFrame frame{};
    if (GrabWithRetries(form, target, shape.RawBytes, frame) != KVCAM_OK || !temporary)
        return form.LastCameraError;

    bool written;
    if (shape.Binning) {
        written = camera::AverageRows(temporary->data(), temporary->size(), dst, capacity,
                                      shape.Reduction);
    } else {
        const size_t pixels = static_cast<size_t>(frame.width) * frame.height;
        written = frame.format == KVCAM_FORMAT_MONO16 && pixels * 2 <= temporary->size() &&
                  camera::NarrowTo8Bit(temporary->data(), pixels, static_cast<int>(frame.bitDepth),
                                       dst, capacity);
    }
    if (!written) form.LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
    return form.LastCameraError;
}

}  // namespace

int64_t TBXTessvikFerroFW::FrameWaitBoundMs(int64_t graceMs) const {
    const int64_t exposureMs = (std::max(ExposureTime.load(), 0) + int64_t{999}) / 1000;
    return exposureMs +
           (ExternalTriggerActive ? int64_t{ExternalTriggerTimeoutS.load()} * 1000 : graceMs);
}

bool TBXTessvikFerroFW::SoftwareBinningApplies() const {
    return CameraTypeIsMicroDot() && RoiBinning.X > 1 && !SeparateBinningSupported;
}

int32_t TBXTessvikFerroFW::GrabFrameToBuffer(void* buffer) {
    return GrabFrameToBuffer(buffer, AcquisitionFrameBytes());
}

int32_t TBXTessvikFerroFW::GrabFrameToBuffer(void* buffer, size_t capacity) {
    if (!CameraIsReady()) return KVCAM_ERR_INVALID_HANDLE;
    if (buffer == nullptr) capacity = 0;
    bx::kernel::Sleep(1);
    // Camera commands wait while the frame is in flight; the hold comes down however this
    // ends (a message box or an allocation may throw).
    camera::FrameHold hold(*this);
    if (!hold.Held()) return LastCameraError = KVCAM_ERR_TIMEOUT;
    GrabErrorAbort = false;
    const FrameShape shape = QueryFrameShape(*this);
    auto* const dst = static_cast<uint8_t*>(buffer);
    return chk_Color->Checked() ? GrabColourFrame(*this, dst, capacity, shape)
                                : GrabGreyFrame(*this, dst, capacity, shape);
}

void TBXTessvikFerroFW::ConvertBayerFrame(void* buffer, uint32_t rawBytes,
                                          const KvCamFrame& descriptor) {
    ConvertBayerFrame(buffer, AcquisitionFrameBytes(), rawBytes, descriptor);
}

void TBXTessvikFerroFW::ConvertBayerFrame(void* buffer, size_t capacity, uint32_t rawBytes,
                                          const KvCamFrame& descriptor) {
    // The raw frame must lie inside the buffer, or the conversion would read past it.
    if (buffer == nullptr || rawBytes > capacity) {
        LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
        return;
    }
    auto* const dst = static_cast<uint8_t*>(buffer);
    KvCamFrame raw = descriptor;
    raw.buffer = buffer;
    raw.bufferSize = rawBytes;

    const uint32_t colourSize =
        KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, descriptor.width, descriptor.height);
    // The colour frame is three times the raw one, so it cannot be built in place.
    GlobalBuffer colour(colourSize);
    if (!colour) {
        ReportNoIntermediateBuffer(*this);
        return;
    }
    KvCamFrame colourFrame{};
    colourFrame.buffer = colour.data();
    colourFrame.bufferSize = colourSize;
    colourFrame.format = KVCAM_FORMAT_RGB24;
    LastCameraError = KvCam_BayerToRgb(kDemosaicBilinear, &raw, &colourFrame);
    if (LastCameraError != KVCAM_OK) return;

    if (SoftwareBinningApplies()) {
        const camera::RowReduction shape{CameraRoi.Height, CameraRoi.Width, ImageWidth,
                                         RoiBinning.X};
        if (!camera::SubsampleRows(colour.data(), colour.size(), dst, capacity, shape))
            LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
    } else if (colourSize <= capacity) {
        std::memcpy(dst, colour.data(), colourSize);
    } else {
        LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
    }
}

}  // namespace ferro
