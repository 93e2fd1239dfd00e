// Store images with known pixels for the desktop view tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "bxmm/mm40.h"

namespace bx::view::test {

inline MM_VECTOR FrameIndex(int32_t frame) {
    MM_VECTOR v;
    MM_InitVector(&v, 0);
    v.d[2] = frame;
    return v;
}

// Writes `values` (one per pixel, or per byte for colour) into frame 0 under the write hold.
template <typename T>
void WritePixels(MM_HANDLE image, const std::vector<T>& values) {
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    void* pixels = MM_Lock(leaf, MM_LOCK_WRITE);
    std::memcpy(pixels, values.data(), values.size() * sizeof(T));
    MM_Unlock(leaf, 1);
}

// A one-frame image of `type` holding `values`.
template <typename T>
MM_HANDLE MakeImage(int32_t width, int32_t height, int32_t type, const std::vector<T>& values) {
    const MM_HANDLE image = MM_CreateImage(width, height, type, 256);
    WritePixels(image, values);
    return image;
}

// 16-bit width x height image whose pixel i holds first + i.
inline MM_HANDLE Ramp16(int32_t width, int32_t height, uint16_t first) {
    std::vector<uint16_t> values(size_t(width) * size_t(height));
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint16_t(first + i);
    return MakeImage(width, height, MM_TYPE_GREY16, values);
}

}  // namespace bx::view::test
