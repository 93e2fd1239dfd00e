// Helpers shared by the image store tests: a deterministic pixel pattern (also computed by
// check_tiff.py) and small wrappers around the MM_ calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bxmm/host.h"
#include "bxmm/mm40.h"

namespace bx::mm::test {

inline MM_VECTOR Size3(int32_t width, int32_t height, int32_t frames) {
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = width;
    size.d[1] = height;
    size.d[2] = frames;
    return size;
}

inline MM_VECTOR FrameIndex(int32_t frame) {
    MM_VECTOR index;
    MM_InitVector(&index, 0);
    index.d[2] = frame;
    return index;
}

// Sample value of channel c (0 red, 1 green, 2 blue; 0 for grey) at frame f, row y, column x,
// wrapped to `bits`. The multipliers reach the high bits of 16- and 32-bit samples.
inline uint64_t PatternValue(int64_t f, int64_t y, int64_t x, int c, int bits) {
    const uint64_t v = uint64_t(f) * 2654435761ull + uint64_t(y) * 40503ull + uint64_t(x) * 977ull +
                       uint64_t(c) * 131ull;
    return bits == 64 ? v : v & ((uint64_t{1} << bits) - 1);
}

// The pattern of one frame in the store's layout (colour as blue, green, red).
inline std::vector<uint8_t> PatternFrame(int32_t type, int32_t width, int32_t height, int64_t f) {
    const int bpp = BytesPerPixel(type);
    std::vector<uint8_t> out(size_t(width) * height * bpp);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = out.data() + (size_t(y) * width + x) * bpp;
            if (type == MM_TYPE_BGR24) {
                for (int c = 0; c < 3; ++c) p[2 - c] = uint8_t(PatternValue(f, y, x, c, 8));
            } else {
                const uint64_t v = PatternValue(f, y, x, 0, bpp * 8);
                std::memcpy(p, &v, bpp);  // little-endian: the low bytes
            }
        }
    }
    return out;
}

// Writes the pattern into every frame through MM_GetData / MM_Lock / MM_Unlock.
inline bool FillPattern(MM_HANDLE image, int32_t type, int32_t width, int32_t height,
                        int32_t frames) {
    for (int32_t f = 0; f < frames; ++f) {
        const MM_LEAF leaf = MM_GetData(image, FrameIndex(f));
        void* pixels = MM_Lock(leaf, 0);
        if (pixels == nullptr) return false;
        const auto pattern = PatternFrame(type, width, height, f);
        std::memcpy(pixels, pattern.data(), pattern.size());
        if (!MM_Unlock(leaf, 1)) return false;
    }
    return true;
}

}  // namespace bx::mm::test
