// Frame transfer: one frame from the camera into memory a caller owns, synchronously, with
// the retry rule for failed grey grabs, the Bayer-to-colour conversion and the software
// binning the MicroDot needs (its driver bins only vertically, so each delivered row is
// reduced here).
#include "camera/FrameTransfer.h"

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <system_error>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

namespace camera {

GlobalBuffer::GlobalBuffer(size_t bytes) : bytes_(bytes) {
    block_ = bx::kernel::GlobalAlloc(bytes);
    if (block_ == nullptr) return;
    data_ = static_cast<uint8_t*>(bx::kernel::GlobalLock(block_));
    if (data_ == nullptr) {
        bx::kernel::GlobalFree(block_);
        block_ = nullptr;
    }
}

GlobalBuffer::~GlobalBuffer() {
    if (block_ == nullptr) return;
    bx::kernel::GlobalUnlock(block_);
    bx::kernel::GlobalFree(block_);
}

PageWarmer::PageWarmer(uint8_t* data, size_t bytes) {
    // Below this a helper thread costs more than the faults it saves.
    constexpr size_t kWorthIt = size_t{1} << 20;
    if (data == nullptr || bytes < kWorthIt) return;
    try {
        thread_ = std::thread([data, bytes] {
            const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            for (size_t at = 0; at < bytes; at += page)
                std::atomic_ref<uint8_t>(data[at]).fetch_or(0, std::memory_order_relaxed);
        });
    } catch (const std::system_error&) {
        // No thread: the faults are simply taken later, by whoever writes first.
    }
}

PageWarmer::~PageWarmer() {
    if (thread_.joinable()) thread_.join();
}

namespace {

bool ValidShape(const RowReduction& s) {
    return s.rows > 0 && s.srcWidth > 0 && s.dstWidth > 0 && s.factor >= 1 &&
           static_cast<int64_t>(s.dstWidth) * s.factor <= s.srcWidth;
}

}  // namespace

size_t ReductionSourceBytes(const RowReduction& shape, size_t pixelBytes) {
    if (!ValidShape(shape)) return 0;
    // The last row is read only up to its last group, so a frame cut short after that still
    // counts as big enough.
    return (static_cast<size_t>(shape.rows - 1) * shape.srcWidth +
            static_cast<size_t>(shape.dstWidth) * shape.factor) *
           pixelBytes;
}

size_t ReductionOutputBytes(const RowReduction& shape, size_t pixelBytes) {
    if (!ValidShape(shape)) return 0;
    return static_cast<size_t>(shape.rows) * shape.dstWidth * pixelBytes;
}

bool AverageRows(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes,
                 const RowReduction& shape) {
    const size_t need = ReductionSourceBytes(shape, 1);
    const size_t out = ReductionOutputBytes(shape, 1);
    if (need == 0 || src == nullptr || dst == nullptr || need > srcBytes || out > dstBytes)
        return false;
    for (int r = 0; r < shape.rows; ++r) {
        const uint8_t* in = src + static_cast<size_t>(r) * shape.srcWidth;
        uint8_t* row = dst + static_cast<size_t>(r) * shape.dstWidth;
        for (int c = 0; c < shape.dstWidth; ++c) {
            unsigned sum = 0;
            for (int k = 0; k < shape.factor; ++k) sum += in[c * shape.factor + k];
            row[c] = static_cast<uint8_t>(std::min(sum / shape.factor, 255u));
        }
    }
    return true;
}

bool SubsampleRows(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes,
                   const RowReduction& shape) {
    const size_t need = ReductionSourceBytes(shape, 3);
    const size_t out = ReductionOutputBytes(shape, 3);
    if (need == 0 || src == nullptr || dst == nullptr || need > srcBytes || out > dstBytes)
        return false;
    for (int r = 0; r < shape.rows; ++r) {
        for (int c = 0; c < shape.dstWidth; ++c) {
            const size_t from =
                (static_cast<size_t>(r) * shape.srcWidth + static_cast<size_t>(c) * shape.factor) *
                3;
            const size_t to = (static_cast<size_t>(r) * shape.dstWidth + c) * 3;
            std::memcpy(dst + to, src + from, 3);
        }
    }
    return true;
}

bool NarrowTo8Bit(const uint8_t* src, size_t pixels, int bitDepth, uint8_t* dst, size_t dstBytes) {
    if (src == nullptr || dst == nullptr || pixels > dstBytes) return false;
    const int shift = std::clamp(bitDepth, 8, 16) - 8;
    for (size_t i = 0; i < pixels; ++i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, sizeof v);
        dst[i] = static_cast<uint8_t>(std::min(v >> shift, 255));
    }
    return true;
}

}  // namespace camera

using camera::GlobalBuffer;

namespace {

constexpr int kQuietGrabFailures = 9;  // failures retried before the user is asked
constexpr int64_t kTransientGrabPauseMs = 100;
constexpr uint32_t kDemosaicBilinear = KVCAM_DEMOSAIC_BILINEAR;

// A temporary frame could not be had: the grab cannot go on, and the user is told why.
void ReportNoIntermediateBuffer(TBXTessvikFerroFW& form) {
    form.LastCameraError = KVCAM_ERR_FAILED;
    bx::ui::Application().MessageBox(
        "Unable to allocate intermediate buffer.", "Grab warning",
        bx::ui::MB_OKCANCEL | bx::ui::MB_ICONERROR | bx::ui::MB_TASKMODAL);
}

}  // namespace

bool TBXTessvikFerroFW::SoftwareBinningApplies() const {
    return CameraTypeIsMicroDot() && RoiBinning.X > 1 && !SeparateBinningSupported;
}

void TBXTessvikFerroFW::GrabFrameToBuffer(void* buffer) {
    GrabFrameToBuffer(buffer, AcquisitionFrameBytes());
}

void TBXTessvikFerroFW::GrabFrameToBuffer(void* buffer, size_t capacity) {
    using namespace bx::ui;
    if (!CameraReady) return;
    if (buffer == nullptr) capacity = 0;
    auto* const dst = static_cast<uint8_t*>(buffer);

    bx::kernel::Sleep(1);
    // Camera commands wait while a frame is in flight; the flag must come down however this
    // ends (a message box or an allocation may throw).
    FrameInFlight.store(true, std::memory_order_release);
    camera::OnScopeExit landed([this] { FrameInFlight.store(false, std::memory_order_release); });
    GrabErrorAbort = false;

    int32_t width = 0, height = 0;
    KvCam_GetInfo(CameraHandle, KVCAM_INFO_IMAGE_WIDTH, &width);
    if (KvCam_GetInfo(CameraHandle, KVCAM_INFO_IMAGE_HEIGHT, &height) == KVCAM_OK &&
        (width < 0 || height < 0)) {
        Application().MessageBox("error KvCam_getdatasize ", "", MB_OK);
    }
    int32_t format = 0;
    if (KvCam_GetParam(CameraSettings.get(), KVCAM_PARAM_FORMAT, &format) != KVCAM_OK)
        Application().MessageBox("error KvCam_getsize ", "", MB_OK);
    int32_t reportedSize = 0;
    KvCam_GetInfo(CameraHandle, KVCAM_INFO_IMAGE_SIZE, &reportedSize);
    const uint32_t rawSize = static_cast<uint32_t>(std::max(reportedSize, 0));

    const bool binning = SoftwareBinningApplies();
    const camera::RowReduction shape{CameraRoi.Height, CameraRoi.Width, ImageWidth, RoiBinning.X};

    if (chk_Color->Checked()) {
        // Colour: the Bayer frame lands in a temporary and is demosaiced into the caller's
        // buffer (or, with software binning, into a second temporary that is then reduced).
        // A failed grab is not retried and leaves the caller's buffer untouched.
        GlobalBuffer raw(rawSize);
        if (!raw) return ReportNoIntermediateBuffer(*this);
        KvCamFrame rawFrame{};
        rawFrame.buffer = raw.data();
        rawFrame.bufferSize = rawSize;
        {
            // The demosaic will write every page of the caller's buffer, which is typically a
            // fresh store frame; its page faults are taken while the camera exposes.
            camera::PageWarmer warm(binning ? nullptr : dst,
                                    std::min(capacity, size_t{rawSize} * 3));
            LastCameraError = KvCam_GrabFrame(CameraHandle, &rawFrame);
        }
        if (LastCameraError != KVCAM_OK) return;

        const uint32_t colourSize =
            KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, rawFrame.width, rawFrame.height);
        BitDepth = 24;
        std::optional<GlobalBuffer> binned;
        uint8_t* target = dst;
        if (binning) {
            binned.emplace(colourSize);
            if (!*binned) return ReportNoIntermediateBuffer(*this);
            target = binned->data();
        } else if (colourSize > capacity) {
            LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
            return;
        }
        KvCamFrame colourFrame{};
        colourFrame.buffer = target;
        colourFrame.bufferSize = colourSize;
        colourFrame.format = KVCAM_FORMAT_RGB24;
        LastCameraError = KvCam_BayerToRgb(kDemosaicBilinear, &rawFrame, &colourFrame);
        if (LastCameraError != KVCAM_OK || !binning) return;
        if (!camera::SubsampleRows(binned->data(), binned->size(), dst, capacity, shape))
            LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
        return;
    }

    // Grey: straight into the caller's buffer when the frame fits as delivered; otherwise
    // through a temporary that is reduced (software binning) or narrowed (a 16-bit frame for
    // a buffer of one byte per pixel) afterwards.
    std::optional<GlobalBuffer> temporary;
    uint8_t* target = dst;
    if (binning || rawSize > capacity) {
        temporary.emplace(rawSize);
        if (!*temporary) return ReportNoIntermediateBuffer(*this);
        target = temporary->data();
    }

    KvCamFrame frame{};
    for (int failures = 0;;) {
        frame = KvCamFrame{};
        frame.buffer = target;
        frame.bufferSize = rawSize;
        LastCameraError = KvCam_GrabFrame(CameraHandle, &frame);
        if (LastCameraError == KVCAM_OK) break;
        if (++failures <= kQuietGrabFailures) {
            if (LastCameraError == KVCAM_ERR_GRAB_TRANSIENT)
                WaitMilliseconds(kTransientGrabPauseMs);
            continue;
        }
        // From the tenth failure on, every further failure asks again.
        const int answer =
            Application().MessageBox("KvCam_GrabFrame() error!", "Error", MB_ABORTRETRYIGNORE);
        if (answer == IDRETRY) continue;
        if (answer == IDABORT) GrabErrorAbort = true;
        break;
    }
    // A failed grab leaves the caller's buffer as it was.
    if (LastCameraError != KVCAM_OK || !temporary) return;

    bool written;
    if (binning) {
        written = camera::AverageRows(temporary->data(), temporary->size(), dst, capacity, shape);
    } else {
        const size_t pixels = static_cast<size_t>(frame.width) * frame.height;
        written = frame.format == KVCAM_FORMAT_MONO16 && pixels * 2 <= temporary->size() &&
                  camera::NarrowTo8Bit(temporary->data(), pixels, static_cast<int>(frame.bitDepth),
                                       dst, capacity);
    }
    if (!written) LastCameraError = KVCAM_ERR_BUFFER_TOO_SMALL;
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
    if (!colour) return ReportNoIntermediateBuffer(*this);
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
