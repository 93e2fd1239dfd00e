// Bayer to 24-bit colour: flat colours stay exact, interior pixels follow the bilinear rule,
// borders stay within their neighbours, and bad descriptors are refused.
#include <algorithm>
#include <random>

#include "kvcam_fixture.h"

namespace {

struct Images {
    std::vector<uint8_t> mosaic, rgb;
    KvCamFrame in{}, out{};
    Images(uint32_t w, uint32_t h, uint32_t pattern)
        : mosaic(size_t(w) * h), rgb(size_t(w) * h * 3) {
        in.buffer = mosaic.data();
        in.bufferSize = static_cast<uint32_t>(mosaic.size());
        in.format = KVCAM_FORMAT_BAYER8;
        in.width = w;
        in.height = h;
        in.bayerPattern = pattern;
        out.buffer = rgb.data();
        out.bufferSize = static_cast<uint32_t>(rgb.size());
        out.format = KVCAM_FORMAT_RGB24;
    }
    // Colour (0 red, 1 green, 2 blue) of mosaic pixel (x, y).
    static int Colour(uint32_t pattern, uint32_t x, uint32_t y) {
        static const int cells[5][4] = {
            {1, 1, 1, 1}, {0, 1, 1, 2}, {1, 0, 2, 1}, {1, 2, 0, 1}, {2, 1, 1, 0}};
        return cells[pattern][(y & 1) * 2 + (x & 1)];
    }
};

const uint32_t kPatterns[] = {KVCAM_BAYER_RGGB, KVCAM_BAYER_GRBG, KVCAM_BAYER_GBRG,
                              KVCAM_BAYER_BGGR};

TEST(KvCamDemosaic, FlatColoursKeepTheirColourEverywhere) {
    const uint8_t colours[][3] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 120, 40}, {255, 255, 255}};
    for (uint32_t method : {KVCAM_DEMOSAIC_NEAREST, KVCAM_DEMOSAIC_BILINEAR}) {
        for (uint32_t pattern : kPatterns) {
            for (auto [w, h] :
                 {std::pair{40u, 12u}, std::pair{35u, 4u}, std::pair{7u, 5u}, std::pair{2u, 2u}}) {
                for (const auto& rgb : colours) {
                    Images im(w, h, pattern);
                    for (uint32_t y = 0; y < h; ++y)
                        for (uint32_t x = 0; x < w; ++x)
                            im.mosaic[y * w + x] = rgb[Images::Colour(pattern, x, y)];
                    ASSERT_EQ(KvCam_BayerToRgb(method, &im.in, &im.out), KVCAM_OK);
                    for (size_t i = 0; i < size_t(w) * h; ++i) {
                        ASSERT_EQ(im.rgb[3 * i + 2], rgb[0]) << "red, pixel " << i;
                        ASSERT_EQ(im.rgb[3 * i + 1], rgb[1]) << "green, pixel " << i;
                        ASSERT_EQ(im.rgb[3 * i], rgb[2]) << "blue, pixel " << i;
                    }
                    EXPECT_EQ(im.out.width, w);
                    EXPECT_EQ(im.out.bitDepth, 24u);
                }
            }
        }
    }
}

// The bilinear rule written out plainly, for interior pixels.
std::array<int, 3> ReferenceBilinear(const Images& im, uint32_t pattern, uint32_t x, uint32_t y) {
    const uint32_t w = im.in.width;
    auto p = [&](int dx, int dy) { return int(im.mosaic[(y + dy) * w + (x + dx)]); };
    std::array<int, 3> rgb{};
    const int c = Images::Colour(pattern, x, y);
    rgb[c] = p(0, 0);
    if (c == 1) {
        const int across = Images::Colour(pattern, x + 1, y);  // colour left and right
        rgb[across] = (p(-1, 0) + p(1, 0) + 1) / 2;
        rgb[2 - across] = (p(0, -1) + p(0, 1) + 1) / 2;
    } else {
        rgb[1] = (p(-1, 0) + p(1, 0) + p(0, -1) + p(0, 1) + 2) / 4;
        rgb[2 - c] = (p(-1, -1) + p(1, -1) + p(-1, 1) + p(1, 1) + 2) / 4;
    }
    return rgb;
}

TEST(KvCamDemosaic, BilinearInteriorMatchesTheRuleAndBordersStayInRange) {
    std::mt19937 rng(7);
    for (uint32_t pattern : kPatterns) {
        for (auto [w, h] : {std::pair{37u, 23u}, std::pair{64u, 48u}, std::pair{3u, 3u}}) {
            Images im(w, h, pattern);
            for (auto& b : im.mosaic) b = static_cast<uint8_t>(rng());
            ASSERT_EQ(KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &im.in, &im.out), KVCAM_OK);
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* px = &im.rgb[(size_t(y) * w + x) * 3];
                    if (x > 0 && y > 0 && x + 1 < w && y + 1 < h) {
                        const auto want = ReferenceBilinear(im, pattern, x, y);
                        ASSERT_EQ(px[2], want[0]) << x << "," << y;
                        ASSERT_EQ(px[1], want[1]) << x << "," << y;
                        ASSERT_EQ(px[0], want[2]) << x << "," << y;
                    }
                    // Every output is an average of pixels within one step (mirrored at the
                    // border), so it cannot leave their range: no wrap-round at the edges.
                    int lo = 255, hi = 0;
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int xx = std::clamp(int(x) + dx, 0, int(w) - 1);
                            const int yy = std::clamp(int(y) + dy, 0, int(h) - 1);
                            lo = std::min(lo, int(im.mosaic[yy * w + xx]));
                            hi = std::max(hi, int(im.mosaic[yy * w + xx]));
                        }
                    }
                    for (int c = 0; c < 3; ++c) {
                        EXPECT_GE(px[c], lo);
                        EXPECT_LE(px[c], hi);
                    }
                }
            }
        }
    }
}

TEST(KvCamDemosaic, BinnedOrMonochromeInputBecomesGrey) {
    Images im(4, 2, KVCAM_BAYER_NONE);
    for (size_t i = 0; i < im.mosaic.size(); ++i) im.mosaic[i] = static_cast<uint8_t>(i * 30);
    ASSERT_EQ(KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &im.in, &im.out), KVCAM_OK);
    for (size_t i = 0; i < im.mosaic.size(); ++i) {
        EXPECT_EQ(im.rgb[3 * i], im.mosaic[i]);
        EXPECT_EQ(im.rgb[3 * i + 1], im.mosaic[i]);
        EXPECT_EQ(im.rgb[3 * i + 2], im.mosaic[i]);
    }
}

TEST(KvCamDemosaic, BadDescriptorsAreRefused) {
    Images im(8, 8, KVCAM_BAYER_RGGB);
    KvCamFrame in = im.in, out = im.out;
    out.bufferSize = 8 * 8 * 3 - 1;
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_BUFFER_TOO_SMALL);
    out = im.out;
    in.bufferSize = 63;
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_BUFFER_TOO_SMALL);
    in = im.in;
    in.format = KVCAM_FORMAT_MONO16;
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_BAD_FORMAT);
    in = im.in;
    out.format = KVCAM_FORMAT_MONO8;
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_BAD_FORMAT);
    out = im.out;
    EXPECT_EQ(KvCam_BayerToRgb(2, &in, &out), KVCAM_ERR_OUT_OF_RANGE);
    in.bayerPattern = 9;
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_OUT_OF_RANGE);
    in = im.in;
    in.width = 0x10000;
    in.height = 0x10000;  // 4 G pixels: the size does not fit in 32 bits
    EXPECT_EQ(KvCam_BayerToRgb(1, &in, &out), KVCAM_ERR_OUT_OF_RANGE);
}

TEST(KvCamDemosaic, ImageSizes) {
    EXPECT_EQ(KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, 1392, 1040), 1392u * 1040 * 3);
    EXPECT_EQ(KvCam_CalcImageSize(KVCAM_FORMAT_MONO16, 10, 3), 60u);
    EXPECT_EQ(KvCam_CalcImageSize(KVCAM_FORMAT_MONO8, 10, 3), 30u);
    EXPECT_EQ(KvCam_CalcImageSize(KVCAM_FORMAT_BAYER8, 10, 3), 30u);
    EXPECT_EQ(KvCam_CalcImageSize(7, 10, 3), 0u);
    EXPECT_EQ(KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, 0x10000, 0x8000), 0u);
}

}  // namespace
