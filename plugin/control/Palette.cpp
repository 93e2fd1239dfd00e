// The eight display palettes. Integer arithmetic with truncating division throughout, so the
// entries are exactly reproducible.
#include "control/Palette.h"

#include <bxmm/mm40.h>

#include <cstring>

#include "support/GlobalBuffer.h"

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {
namespace {

struct Rgb {
    int r, g, b;
};

// Rainbow in ten segments: magenta through blue, cyan, green and yellow to red.
Rgb Rainbow(int i) {
    if (i <= 24) return {(25 - i) * 64 / 25 + 191, 0, 255};
    if (i <= 50) return {(51 - i) * 191 / 26, 0, 255};
    if (i <= 75) return {0, (i - 51) * 191 / 25, 255};
    if (i <= 101) return {0, (i - 76) * 64 / 26 + 191, 255};
    if (i <= 126) return {0, 255, (127 - i) * 64 / 25 + 191};
    if (i <= 152) return {0, 255, (153 - i) * 191 / 26};
    if (i <= 177) return {(i - 153) * 191 / 26, 255, 0};
    if (i <= 203) return {(i - 178) * 64 / 26 + 191, 255, 0};
    if (i <= 228) return {255, (229 - i) * 64 / 25 + 191, 0};
    return {255, (255 - i) * 191 / 26, 0};
}

Rgb Fire(int i) {
    if (i < 64) return {4 * i, 2 * i, 0};
    if (i < 128) return {255, 2 * i, 0};
    return {255, 255, (2 * i) % 256};
}

Rgb Entry(int index, int i) {
    switch (index) {
        case 1:
            return {255 - i, 255 - i, 255 - i};
        case 2:
            if (i == 0) return {255, 0, 0};
            if (i == 255) return {0, 255, 0};
            return {i, i, i};
        case 3:
            return {i, 0, 0};
        case 4:
            return {0, i, 0};
        case 5:
            return {0, 0, i};
        case 6:
            return Rainbow(i);
        case 7:
            return Fire(i);
        default:
            return {i, i, i};
    }
}

}  // namespace

void BuildPalette(Palette& palette, int index) {
    for (int i = 0; i < 256; ++i) {
        Rgb c = Entry(index, i);
        palette[i] = {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g),
                      static_cast<uint8_t>(c.r), 0};
    }
}

void TBXTessvikFerroFW::SetAcquisitionPalette(int index) {
    BuildPalette(AcquisitionPalette, index);
}

std::array<int32_t, 256> LutEntries(const Palette& palette) {
    std::array<int32_t, 256> table{};
    for (size_t i = 0; i < palette.size(); ++i) {
        const PaletteEntry& e = palette[i];
        table[i] = static_cast<int32_t>(e.Blue | (e.Green << 8) | (e.Red << 16));
    }
    return table;
}

void SetImageLut(uint32_t image, const std::array<int32_t, 256>& table) {
    support::GlobalBuffer block(sizeof(table));
    if (!block) return;
    std::memcpy(block.data(), table.data(), sizeof(table));
    MM_SetLUT(image, reinterpret_cast<const int32_t*>(block.data()));
}

}  // namespace ferro
