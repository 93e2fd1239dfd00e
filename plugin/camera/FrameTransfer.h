// Pieces of frame transfer that do not need the form: a scoped global memory block for the
// temporary frames, and the row reductions of the MicroDot software binning.
//
// Thread rule: everything here is thread-safe (no shared state); a GlobalBuffer belongs to
// the thread that made it.
#pragma once

#include <bxplatform/kernel.h>

#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>

namespace ferro::camera {

// A zero-filled global memory block, locked for its whole life and freed when it goes. An
// allocation or lock that fails leaves it empty (check with `operator bool`).
class GlobalBuffer {
public:
    explicit GlobalBuffer(size_t bytes);
    ~GlobalBuffer();
    GlobalBuffer(const GlobalBuffer&) = delete;
    GlobalBuffer& operator=(const GlobalBuffer&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    uint8_t* data() const { return data_; }
    size_t size() const { return data_ ? bytes_ : 0; }

private:
    bx::kernel::HGLOBAL block_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

// Takes the first-write page faults of `bytes` bytes at `data` on a helper thread, so that a
// caller who will fill a fresh buffer later can have them paid while it waits for something
// else. Each page is rewritten with its own content (an atomic no-op), so nothing changes.
// Joins when it goes. Does nothing for a small buffer or when no thread can be had.
class PageWarmer {
public:
    PageWarmer(uint8_t* data, size_t bytes);
    ~PageWarmer();
    PageWarmer(const PageWarmer&) = delete;
    PageWarmer& operator=(const PageWarmer&) = delete;

private:
    std::thread thread_;
};

// The shape of a software-binning reduction: `rows` rows of `srcWidth` pixels in, rows of
// `dstWidth` pixels out, each output pixel made from `factor` neighbouring input pixels.
struct RowReduction {
    int rows = 0;
    int srcWidth = 0;
    int dstWidth = 0;
    int factor = 1;
};

// Grey, one byte per pixel: each output byte is the mean (truncated) of its `factor` input
// bytes. False, with nothing written, when the shape is invalid or either buffer is too small.
bool AverageRows(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes,
                 const RowReduction& shape);

// Colour, three bytes per pixel: each output pixel is the first pixel of its group. False,
// with nothing written, when the shape is invalid or either buffer is too small.
bool SubsampleRows(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes,
                   const RowReduction& shape);

// Bytes a reduction reads and writes, for `pixelBytes` bytes per pixel; 0 for an invalid
// shape (non-positive sizes, a factor below 1, or groups reaching past the input row).
size_t ReductionSourceBytes(const RowReduction& shape, size_t pixelBytes);
size_t ReductionOutputBytes(const RowReduction& shape, size_t pixelBytes);

// Narrows `pixels` 16-bit pixels (native byte order, any alignment) holding `bitDepth`
// significant bits to their top 8 bits, as the camera's own 8-bit format does. False, with
// nothing written, when `dst` is too small.
bool NarrowTo8Bit(const uint8_t* src, size_t pixels, int bitDepth, uint8_t* dst, size_t dstBytes);

// Runs a function when the scope ends, however it ends (return or exception).
template <typename F>
class OnScopeExit {
public:
    explicit OnScopeExit(F f) : f_(std::move(f)) {}
    ~OnScopeExit() { f_(); }
    OnScopeExit(const OnScopeExit&) = delete;
    OnScopeExit& operator=(const OnScopeExit&) = delete;

private:
    F f_;
};

}  // namespace ferro::camera
