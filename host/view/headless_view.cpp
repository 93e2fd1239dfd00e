#include "bxview/headless_view.h"

#include "pixels.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>

#include "bxmm/host.h"
#include "bxplatform/kernel.h"

namespace bx::view {

namespace {

// Maps a value from the display range onto 0..255.
uint8_t MapToByte(double value, double lo, double hi) {
    if (hi <= lo) return value >= hi ? 255 : 0;
    const double scaled = std::round((value - lo) / (hi - lo) * 255.0);
    return static_cast<uint8_t>(std::clamp(scaled, 0.0, 255.0));
}

}  // namespace

THeadlessImageView::THeadlessImageView(size_t history) : history_(std::max<size_t>(history, 1)) {}

void THeadlessImageView::Record(Call call) {
    call.thread_id = kernel::GetCurrentThreadId();
    std::lock_guard lock(mutex_);
    ++counts_[static_cast<int>(call.kind)];
    calls_.push_back(call);
    if (calls_.size() > history_) calls_.pop_front();
}

bool THeadlessImageView::CopyFrame(MM_HANDLE image, int64_t frame) {
    const auto info = mm::Describe(image);
    if (!info) return false;
    Frame copy;
    copy.pixels = mm::ReadFrame(image, frame);
    if (copy.pixels.size() != info->frame_bytes) return false;  // gone or resized meanwhile
    copy.image = image;
    copy.frame = frame;
    copy.type = info->type;
    copy.width = info->size.d[0];
    copy.height = info->size.d[1];
    copy.copied_at_us = kernel::NowMicroseconds();
    {
        std::lock_guard lock(mutex_);
        copy.sequence = ++sequence_;
        last_ = std::move(copy);
    }
    frame_cv_.notify_all();
    return true;
}

void THeadlessImageView::SetMMImage(MM_HANDLE image) {
    {
        std::lock_guard lock(mutex_);
        shown_ = image;
    }
    Call call;
    call.kind = CallKind::Image;
    call.image = image;
    call.frame_copied = CopyFrame(image, 0);
    Record(call);
}

void THeadlessImageView::SetMMVector(MM_VECTOR index) {
    const MM_HANDLE image = ShownImage();
    Call call;
    call.kind = CallKind::Vector;
    call.image = image;
    call.vector = index;
    // Resolve the index through the store, so an index outside the image copies nothing.
    const MM_LEAF leaf = MM_GetData(image, index);
    MM_VECTOR bounds{};
    if (leaf != 0 && MM_InitBoundaries(image, &bounds, 0)) {
        int64_t linear = 0;
        for (int d = MM_MAX_DIMS - 1; d >= 2; --d) linear = linear * bounds.d[d] + index.d[d];
        call.frame_copied = CopyFrame(image, linear);
    }
    Record(call);
}

void THeadlessImageView::SetMMBits(const void* bits) {
    Call call;
    call.kind = CallKind::Bits;
    call.image = ShownImage();
    call.bits = bits;
    // The pixels of the frame replaced last time are reused, so a stream of frames does not
    // allocate (and fault in) a new frame's memory each time.
    std::vector<uint8_t> pixels;
    {
        std::lock_guard lock(mutex_);
        pixels.swap(spare_);
    }
    const auto leaf = mm::CopyLockedPixels(bits, pixels);
    const int64_t copied_at = kernel::NowMicroseconds();
    // The leaf's own image describes the pixels; a leaf cut loose by a delete or resize is
    // taken as a frame of the image shown when the sizes agree.
    const MM_HANDLE owner = leaf && leaf->image != 0 ? leaf->image : call.image;
    const auto info = leaf ? mm::Describe(owner) : std::nullopt;
    if (info && info->frame_bytes == pixels.size()) {
        Frame copy;
        copy.image = owner;
        copy.frame = leaf->frame;
        copy.type = info->type;
        copy.width = info->size.d[0];
        copy.height = info->size.d[1];
        copy.pixels = std::move(pixels);
        copy.copied_at_us = copied_at;
        {
            std::lock_guard lock(mutex_);
            copy.sequence = ++sequence_;
            if (last_) spare_.swap(last_->pixels);
            last_ = std::move(copy);
        }
        frame_cv_.notify_all();
        call.frame_copied = true;
    }
    Record(call);
}

std::vector<THeadlessImageView::Call> THeadlessImageView::Calls() const {
    std::lock_guard lock(mutex_);
    return {calls_.begin(), calls_.end()};
}

uint64_t THeadlessImageView::CallCount(CallKind kind) const {
    std::lock_guard lock(mutex_);
    return counts_[static_cast<int>(kind)];
}

MM_HANDLE THeadlessImageView::ShownImage() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::optional<THeadlessImageView::Frame> THeadlessImageView::LastFrame() const {
    std::lock_guard lock(mutex_);
    return last_;
}

std::optional<THeadlessImageView::Frame> THeadlessImageView::WaitForFrame(uint64_t after,
                                                                          int timeout_ms) const {
    std::unique_lock lock(mutex_);
    const bool arrived = frame_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                            [&] { return last_ && last_->sequence > after; });
    if (!arrived) return std::nullopt;
    return last_;
}

std::optional<THeadlessImageView::Rendered> THeadlessImageView::RenderLastFrame() const {
    const auto frame = LastFrame();
    if (!frame) return std::nullopt;
    const auto info = mm::Describe(frame->image);
    if (!info) return std::nullopt;

    Rendered out;
    out.width = frame->width;
    out.height = frame->height;
    out.bgr.resize(size_t(frame->width) * size_t(frame->height) * 3);
    if (!RenderFrame(*frame, *info, out.bgr.data(), 3)) return std::nullopt;
    return out;
}

uint64_t THeadlessImageView::FrameSequence() const {
    std::lock_guard lock(mutex_);
    return sequence_;
}

bool RenderFrame(const THeadlessImageView::Frame& frame, const mm::ImageInfo& info, uint8_t* dst,
                 int out_bytes) {
    if (out_bytes != 3 && out_bytes != 4) return false;
    const int bpp = mm::BytesPerPixel(frame.type);
    const size_t count = size_t(std::max(frame.width, 0)) * size_t(std::max(frame.height, 0));
    if (bpp == 0 || frame.pixels.size() != count * size_t(bpp)) return false;
    const uint8_t* src = frame.pixels.data();
    const double lo = info.map_min;
    const double hi = info.map_max;

    if (frame.type == MM_TYPE_BGR24) {
        // The range applies to each channel on its own; no LUT.
        std::array<uint8_t, 256> level{};
        for (int v = 0; v < 256; ++v) level[v] = MapToByte(v, lo, hi);
        for (size_t i = 0; i < count; ++i, src += 3, dst += out_bytes) {
            dst[0] = level[src[0]];
            dst[1] = level[src[1]];
            dst[2] = level[src[2]];
            if (out_bytes == 4) dst[3] = 255;
        }
        return true;
    }

    const auto put = [&](uint8_t* out, uint32_t entry) {
        out[0] = entry & 0xFF;
        out[1] = (entry >> 8) & 0xFF;
        out[2] = (entry >> 16) & 0xFF;
        if (out_bytes == 4) out[3] = 255;
    };
    const auto entry_of = [&](double value) {
        return static_cast<uint32_t>(info.lut[MapToByte(value, lo, hi)]);
    };
    if (bpp <= 2) {
        // Every possible value is mapped once, so a frame costs one look-up per pixel.
        std::vector<uint32_t> table(size_t(1) << (8 * bpp));
        for (size_t v = 0; v < table.size(); ++v) table[v] = entry_of(double(v));
        for (size_t i = 0; i < count; ++i, dst += out_bytes) {
            put(dst, table[size_t(GreyAt(src, i, bpp))]);
        }
        return true;
    }
    for (size_t i = 0; i < count; ++i, dst += out_bytes) put(dst, entry_of(GreyAt(src, i, bpp)));
    return true;
}

void THeadlessImageView::PlaceOverlay(const TRect& rect) {
    OverlayHandler().Clear();
    OverlayHandler().AddRectangle(rect);
}

void THeadlessImageView::ClearOverlay() {
    OverlayHandler().Clear();
}

}  // namespace bx::view
