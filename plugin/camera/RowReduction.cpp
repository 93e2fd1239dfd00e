#include "camera/RowReduction.h"

#include <algorithm>
#include <cstring>

namespace ferro::camera {

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

}  // namespace ferro::camera
