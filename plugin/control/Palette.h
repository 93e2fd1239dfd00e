// The display palette of 8-bit images: 256 entries in the byte order of the image store's
// LUT, and the eight palettes a host can choose.
//
// Thread rule: thread-safe (value types and a pure function).
#pragma once

#include <array>
#include <cstdint>

namespace ferro {

// One palette entry: blue, green, red, reserved.
struct PaletteEntry {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    uint8_t Reserved = 0;
    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};
static_assert(sizeof(PaletteEntry) == 4);
using Palette = std::array<PaletteEntry, 256>;

// Fills `palette` with palette `index` (0..7; any other value gives the grey ramp).
void BuildPalette(Palette& palette, int index);

// The palette as the store's LUT takes it: one 32-bit blue | green << 8 | red << 16 per entry.
std::array<int32_t, 256> LutEntries(const Palette& palette);

// Hands `table` to the store as image `image`'s LUT, through a zero-filled global block as the
// store takes it. Without a block the image keeps its default grey table, a sound display.
void SetImageLut(uint32_t image, const std::array<int32_t, 256>& table);

}  // namespace ferro
