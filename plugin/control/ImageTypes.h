// The image type the control creates for a bit depth, shared by the acquisition paths, the
// frame-size checks of frame transfer and the live video images.
//
// Thread rule: thread-safe (pure functions).
#pragma once

#include <cstdint>
#include <optional>

namespace ferro {

struct ImageTypeInfo {
    int32_t StoreType = 0;  // data type code for the image store
    int BytesPerPixel = 0;
    int MappingFormat = 0;  // new CurrentMappingFormat; 0 leaves it unchanged
};

// The row of the type table for `bitDepth` (8, 10, 12, 14, 16, 24, 32); none for any other.
std::optional<ImageTypeInfo> ImageTypeForDepth(int bitDepth);

// The depth an acquisition uses: 8 when 8-bit acquisition is forced, else the bit depth.
constexpr int AcquisitionDepth(int bitDepth, bool acquire8Bit) {
    return acquire8Bit ? 8 : bitDepth;
}

}  // namespace ferro
