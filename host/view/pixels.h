// Reading pixel values out of a frame copy: the rendering, the histogram, the pixel readout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bx::view {

// Grey value of pixel `i` of a frame of `bytes_per_pixel` 1, 2 or 4.
inline uint32_t GreyAt(const uint8_t* pixels, size_t i, int bytes_per_pixel) {
    switch (bytes_per_pixel) {
        case 1:
            return pixels[i];
        case 2: {
            uint16_t v;
            std::memcpy(&v, pixels + 2 * i, 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, pixels + 4 * i, 4);
            return v;
        }
    }
}

}  // namespace bx::view
