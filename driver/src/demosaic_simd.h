// Vector row kernels of the bilinear demosaic (x86 only), each in its own file compiled for
// its instruction set; the caller checks the processor before using one.
#pragma once

#include <cstdint>

namespace kvcam {

// Interior columns of one row from column `x` on; returns the first column not done.
uint32_t BilinearRowSsse3(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                          bool evenIsGreen, bool redRow, uint8_t* out, uint32_t x);
uint32_t BilinearRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                         bool evenIsGreen, bool redRow, uint8_t* out, uint32_t x);

}  // namespace kvcam
