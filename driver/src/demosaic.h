// Bayer mosaic to 24-bit colour (blue, green, red bytes per pixel).
//
// Thread rule: pure functions; safe from any thread.
#pragma once

#include <cstdint>

namespace kvcam {

// `pattern` is a KVCAM_BAYER_* value for the mosaic's first pixel; KVCAM_BAYER_NONE copies the
// grey value into all three channels. `out` holds width * height * 3 bytes. Bilinear keeps
// borders in colour by mirroring across the edge (the mirror pixel has the same colour).
void DemosaicBilinear(const uint8_t* in, uint32_t width, uint32_t height, uint32_t pattern,
                      uint8_t* out);
void DemosaicNearest(const uint8_t* in, uint32_t width, uint32_t height, uint32_t pattern,
                     uint8_t* out);

}  // namespace kvcam
