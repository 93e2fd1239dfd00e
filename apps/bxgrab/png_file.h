// Writing a rendered frame as a PNG picture.
//
// Thread rule: thread-safe (each call works on its own file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bxgrab {

// Writes `width` x `height` pixels of 8-bit blue, green, red (3 bytes each, rows packed) as
// an 8-bit RGB PNG at `path`. The picture goes to a temporary beside the target that is
// renamed into place when complete, so `path` never holds a partial file. Returns "" on
// success, else what failed.
std::string WriteBgrPng(const std::string& path, int32_t width, int32_t height,
                        const std::vector<uint8_t>& bgr);

}  // namespace bxgrab
