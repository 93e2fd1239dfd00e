// Pieces of frame transfer that do not need the form: the row reductions of the MicroDot
// software binning and the narrowing of 16-bit frames to 8 bits.
//
// Thread rule: thread-safe (pure functions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferro::camera {

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

}  // namespace ferro::camera
