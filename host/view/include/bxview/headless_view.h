// A view without a screen, for tests and console hosts: it records every call, keeps a copy
// of the last frame shown, and can render that frame through the image's display range and
// LUT. Overlay rectangles are placed by the host or the test.
//
// Frames are copied from the image store: SetMMImage and SetMMVector copy the frame named;
// SetMMBits copies only when the pointer is the start of a leaf locked in the store (the copy
// is then exactly that leaf), so a stray pointer is recorded but never read.
// Every copy is of one whole frame: the store makes it wait while a writer holds the leaf
// (MM_LOCK_WRITE).
//
// Thread rule: thread-safe (the UI thread and a live thread may call it together).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "bxview/image_view.h"

namespace bx::mm {
struct ImageInfo;
}

namespace bx::view {

class THeadlessImageView : public TBXImageView {
public:
    enum class CallKind { Image, Bits, Vector };

    struct Call {
        CallKind kind = CallKind::Image;
        MM_HANDLE image = 0;         // Image: the argument; others: the image shown then
        const void* bits = nullptr;  // Bits: the argument (never dereferenced later)
        MM_VECTOR vector{};          // Vector: the argument
        uint32_t thread_id = 0;      // the calling thread
        bool frame_copied = false;   // the call produced a new frame copy
    };

    struct Frame {
        MM_HANDLE image = 0;
        int64_t frame = -1;  // linear frame, -1 when unknown
        int32_t type = 0;
        int32_t width = 0;
        int32_t height = 0;
        uint64_t sequence = 0;  // counts frames copied since the view was made
        // bx::kernel::NowMicroseconds() (warped clock) when the copy was complete: measures the
        // time from a camera frame's completion to the view holding it.
        int64_t copied_at_us = 0;
        std::vector<uint8_t> pixels;  // as stored: width * height * bytes per pixel
    };

    // 8-bit blue, green, red pixels (3 bytes each) after display mapping.
    struct Rendered {
        int32_t width = 0;
        int32_t height = 0;
        std::vector<uint8_t> bgr;
    };

    // Keeps at most `history` calls (older ones are dropped; counts stay exact).
    explicit THeadlessImageView(size_t history = 4096);

    void SetMMImage(MM_HANDLE image) override;
    void SetMMBits(const void* bits) override;
    void SetMMVector(MM_VECTOR index) override;

    // ---- Host and test side ----
    std::vector<Call> Calls() const;
    uint64_t CallCount(CallKind kind) const;
    MM_HANDLE ShownImage() const;
    std::optional<Frame> LastFrame() const;
    // Waits up to `timeout_ms` for a frame copy with sequence greater than `after`.
    std::optional<Frame> WaitForFrame(uint64_t after, int timeout_ms) const;
    // Sequence of the newest frame copy (0 before the first): the number of frames copied.
    uint64_t FrameSequence() const;
    // The last frame rendered for display: grey values mapped linearly from the image's
    // display range onto 0..255 and through its LUT; colour images get the range per channel.
    // The range and LUT are read from the store now; nullopt when there is no frame or the
    // image is gone.
    std::optional<Rendered> RenderLastFrame() const;

    // Places a single overlay rectangle (replacing any), or removes it.
    void PlaceOverlay(const TRect& rect);
    void ClearOverlay();

private:
    void Record(Call call);
    bool CopyFrame(MM_HANDLE image, int64_t frame);  // caller does not hold mutex_

    const size_t history_;
    mutable std::mutex mutex_;
    mutable std::condition_variable frame_cv_;
    std::deque<Call> calls_;
    uint64_t counts_[3] = {0, 0, 0};
    MM_HANDLE shown_ = 0;
    std::optional<Frame> last_;
    std::vector<uint8_t> spare_;  // storage of the frame last replaced, for the next copy
    uint64_t sequence_ = 0;
};

// Maps `frame` for display as RenderLastFrame does, with `info` the image's header (its display
// range and LUT), into `dst`: width * height pixels, rows packed, each blue, green, red and,
// when `out_bytes` is 4, a fourth byte of 255 (the layout of a 32-bit RGB QImage on a
// little-endian machine). False, `dst` untouched, when `out_bytes` is neither 3 nor 4 or the
// frame's pixels do not match its type and size.
bool RenderFrame(const THeadlessImageView::Frame& frame, const mm::ImageInfo& info, uint8_t* dst,
                 int out_bytes);

}  // namespace bx::view
