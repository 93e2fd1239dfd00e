#include <gtest/gtest.h>

#include "control/BXTessvikGrabImpl1.h"

using ferro::BuildPalette;
using ferro::Palette;
using ferro::PaletteEntry;

namespace {

// Entries are stored blue, green, red, reserved; tests speak red, green, blue.
PaletteEntry Rgb(int r, int g, int b) {
    return {static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
}

Palette Build(int index) {
    Palette p;
    p.fill(Rgb(1, 2, 3));  // garbage that every entry must overwrite
    BuildPalette(p, index);
    return p;
}

}  // namespace

TEST(Palette, GreyRampBytesAndUnknownIndicesFallBackToGrey) {
    Palette grey = Build(0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(grey.data());
    EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
    EXPECT_EQ(bytes[255 * 4 + 0], 255);
    EXPECT_EQ(bytes[255 * 4 + 1], 255);
    EXPECT_EQ(bytes[255 * 4 + 2], 255);
    EXPECT_EQ(bytes[255 * 4 + 3], 0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(grey[i], Rgb(i, i, i)) << i;
    EXPECT_EQ(Build(-1), grey);
    EXPECT_EQ(Build(8), grey);
}

TEST(Palette, SimpleRampsAndMarkers) {
    Palette inverted = Build(1), marked = Build(2), red = Build(3), green = Build(4),
            blue = Build(5);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(inverted[i], Rgb(255 - i, 255 - i, 255 - i));
        ASSERT_EQ(red[i], Rgb(i, 0, 0));
        ASSERT_EQ(green[i], Rgb(0, i, 0));
        ASSERT_EQ(blue[i], Rgb(0, 0, i));
    }
    EXPECT_EQ(marked[0], Rgb(255, 0, 0));
    EXPECT_EQ(marked[1], Rgb(1, 1, 1));
    EXPECT_EQ(marked[254], Rgb(254, 254, 254));
    EXPECT_EQ(marked[255], Rgb(0, 255, 0));
}

TEST(Palette, RainbowRunsMagentaToRedThroughItsSegments) {
    Palette p = Build(6);
    EXPECT_EQ(p[0], Rgb(255, 0, 255));
    EXPECT_EQ(p[25], Rgb(191, 0, 255));  // (51-25)*191/26
    EXPECT_EQ(p[51], Rgb(0, 0, 255));
    EXPECT_EQ(p[76], Rgb(0, 191, 255));
    EXPECT_EQ(p[102], Rgb(0, 255, 255));  // (127-102)*64/25+191
    EXPECT_EQ(p[153], Rgb(0, 255, 0));
    EXPECT_EQ(p[178], Rgb(191, 255, 0));
    EXPECT_EQ(p[204], Rgb(255, 255, 0));  // (229-204)*64/25+191
    EXPECT_EQ(p[229], Rgb(255, 191, 0));
    EXPECT_EQ(p[255], Rgb(255, 0, 0));
}

TEST(Palette, FireEndsAlmostWhite) {
    Palette p = Build(7);
    EXPECT_EQ(p[0], Rgb(0, 0, 0));
    EXPECT_EQ(p[63], Rgb(252, 126, 0));
    EXPECT_EQ(p[64], Rgb(255, 128, 0));
    EXPECT_EQ(p[127], Rgb(255, 254, 0));
    EXPECT_EQ(p[128], Rgb(255, 255, 0));  // 2*128 mod 256
    EXPECT_EQ(p[255], Rgb(255, 255, 254));
}
