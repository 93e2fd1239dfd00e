#include "demosaic.h"

#include <kvcam/kvcam.h>

#include <algorithm>
#include <utility>

#include "demosaic_simd.h"

namespace kvcam {

namespace {

// Colour of mosaic pixel (x, y): 0 red, 1 green, 2 blue. `redX`, `redY` locate the red pixel
// of the 2 x 2 cell.
struct Mosaic {
    uint32_t redX, redY;
    explicit Mosaic(uint32_t pattern) {
        redX = (pattern == KVCAM_BAYER_GRBG || pattern == KVCAM_BAYER_BGGR) ? 1 : 0;
        redY = (pattern == KVCAM_BAYER_GBRG || pattern == KVCAM_BAYER_BGGR) ? 1 : 0;
    }
    int Colour(uint32_t x, uint32_t y) const {
        const bool rx = (x & 1) == redX, ry = (y & 1) == redY;
        return rx && ry ? 0 : (!rx && !ry ? 2 : 1);
    }
    bool RedRow(uint32_t y) const { return (y & 1) == redY; }
};

// Mirrors a coordinate across the edge without repeating the edge pixel, so the mirrored
// pixel has the same colour as the one it stands for.
inline uint32_t Mirror(int64_t i, uint32_t n) {
    if (n == 1) return 0;
    if (i < 0) i = -i;
    if (i >= n) i = 2 * int64_t(n) - 2 - i;
    return static_cast<uint32_t>(std::clamp<int64_t>(i, 0, n - 1));
}

void Store(uint8_t* px, unsigned r, unsigned g, unsigned b) {
    px[0] = static_cast<uint8_t>(b);
    px[1] = static_cast<uint8_t>(g);
    px[2] = static_cast<uint8_t>(r);
}

// One pixel by the bilinear rule, with mirrored neighbours; used on the border.
void BilinearPixel(const uint8_t* in, uint32_t w, uint32_t h, const Mosaic& m, uint32_t x,
                   uint32_t y, uint8_t* px) {
    auto at = [&](int64_t dx, int64_t dy) -> unsigned {
        return in[size_t(Mirror(int64_t(y) + dy, h)) * w + Mirror(int64_t(x) + dx, w)];
    };
    const unsigned c = at(0, 0);
    const unsigned cross = (at(-1, 0) + at(1, 0) + at(0, -1) + at(0, 1) + 2) >> 2;
    const unsigned diag = (at(-1, -1) + at(1, -1) + at(-1, 1) + at(1, 1) + 2) >> 2;
    const unsigned hor = (at(-1, 0) + at(1, 0) + 1) >> 1;
    const unsigned ver = (at(0, -1) + at(0, 1) + 1) >> 1;
    switch (m.Colour(x, y)) {
        case 0:
            Store(px, c, cross, diag);
            break;
        case 2:
            Store(px, diag, cross, c);
            break;
        default:
            if (m.RedRow(y))
                Store(px, hor, c, ver);
            else
                Store(px, ver, c, hor);
            break;
    }
}

// Rounded average of four bytes, (a + b + c + d + 2) >> 2, from the two pair averages
// p = avg(a, b) and q = avg(c, d) that round up: avg(p, q) is one too high exactly when p + q
// is odd and either pair had an odd sum.
inline uint8_t Average4(uint8_t p, uint8_t q, uint8_t abOdd, uint8_t cdOdd) {
    const unsigned pq = (p + q + 1u) >> 1;
    return static_cast<uint8_t>(pq - ((p ^ q) & (abOdd | cdOdd) & 1u));
}

// One interior pixel by the same rule as the vector kernels (demosaic_kernel.h): `colour` says
// whether the pixel is red/blue (else green), `redRow` whether the row holds red (else blue).
inline void InteriorPixel(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t x,
                          bool colour, bool redRow, uint8_t* px) {
    const uint8_t hor = static_cast<uint8_t>((cur[x - 1] + cur[x + 1] + 1u) >> 1);
    const uint8_t ver = static_cast<uint8_t>((up[x] + dn[x] + 1u) >> 1);
    const uint8_t cross = Average4(hor, ver, cur[x - 1] ^ cur[x + 1], up[x] ^ dn[x]);
    const uint8_t upAvg = static_cast<uint8_t>((up[x - 1] + up[x + 1] + 1u) >> 1);
    const uint8_t dnAvg = static_cast<uint8_t>((dn[x - 1] + dn[x + 1] + 1u) >> 1);
    const uint8_t diag = Average4(upAvg, dnAvg, up[x - 1] ^ up[x + 1], dn[x - 1] ^ dn[x + 1]);
    const uint8_t rowColour = colour ? cur[x] : hor;  // the row's own colour (red or blue)
    const uint8_t otherColour = colour ? diag : ver;
    const uint8_t green = colour ? cross : cur[x];
    Store(px, redRow ? rowColour : otherColour, green, redRow ? otherColour : rowColour);
}

// Interior of one row (columns 1 .. w-2): the widest vector kernel the processor has, then
// one more vector step overlapping the last (the kernels are idempotent per column), and the
// scalar rule for rows too narrow for a vector.
void BilinearRow(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                 bool evenIsGreen, bool redRow, uint8_t* out) {
    uint32_t x = 1;
#if defined(KVCAM_X86_KERNELS)
    using Kernel = uint32_t (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint32_t, bool,
                                bool, uint8_t*, uint32_t);
    static const std::pair<Kernel, uint32_t> best = []() -> std::pair<Kernel, uint32_t> {
        if (__builtin_cpu_supports("avx2")) return {BilinearRowAvx2, 32};
        if (__builtin_cpu_supports("ssse3")) return {BilinearRowSsse3, 16};
        return {nullptr, 0};
    }();
    if (best.first != nullptr && w >= best.second + 2) {
        x = best.first(up, cur, dn, w, evenIsGreen, redRow, out, x);
        if (x + 1 < w) {
            x = best.first(up, cur, dn, w, evenIsGreen, redRow, out, w - 1 - best.second);
        }
    }
#endif
    for (; x + 1 < w; ++x) {
        const bool colour = ((x & 1) == 0) != evenIsGreen;
        InteriorPixel(up, cur, dn, x, colour, redRow, out + 3 * size_t(x));
    }
}

}  // namespace

void DemosaicBilinear(const uint8_t* in, uint32_t w, uint32_t h, uint32_t pattern, uint8_t* out) {
    if (pattern == KVCAM_BAYER_NONE) {
        DemosaicNearest(in, w, h, pattern, out);
        return;
    }
    const Mosaic m(pattern);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = out + size_t(y) * w * 3;
        if (w < 3) {
            for (uint32_t x = 0; x < w; ++x) BilinearPixel(in, w, h, m, x, y, row + 3 * x);
            continue;
        }
        // The rows above and below, mirrored at the top and bottom edge like the columns.
        const uint8_t* up = in + size_t(Mirror(int64_t(y) - 1, h)) * w;
        const uint8_t* dn = in + size_t(Mirror(int64_t(y) + 1, h)) * w;
        BilinearRow(up, in + size_t(y) * w, dn, w, m.Colour(0, y) == 1, m.RedRow(y), row);
        BilinearPixel(in, w, h, m, 0, y, row);
        BilinearPixel(in, w, h, m, w - 1, y, row + 3 * size_t(w - 1));
    }
}

void DemosaicNearest(const uint8_t* in, uint32_t w, uint32_t h, uint32_t pattern, uint8_t* out) {
    if (pattern == KVCAM_BAYER_NONE) {
        for (size_t i = 0; i < size_t(w) * h; ++i) {
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
        }
        return;
    }
    // Each pixel takes the colours of its 2 x 2 cell (cells anchored at even coordinates,
    // the last odd row or column reusing the cell before it).
    const Mosaic m(pattern);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t cy = std::min(y & ~1u, h >= 2 ? h - 2 : 0);
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t cx = std::min(x & ~1u, w >= 2 ? w - 2 : 0);
            unsigned sum[3] = {0, 0, 0}, n[3] = {0, 0, 0}, all = 0, count = 0;
            for (uint32_t dy = 0; dy < std::min(2u, h); ++dy) {
                for (uint32_t dx = 0; dx < std::min(2u, w); ++dx) {
                    const unsigned v = in[size_t(cy + dy) * w + cx + dx];
                    const int c = m.Colour(cx + dx, cy + dy);
                    sum[c] += v;
                    ++n[c];
                    all += v;
                    ++count;
                }
            }
            // A cell has every colour unless the image is one pixel thin; a missing colour
            // then takes the cell's mean.
            unsigned rgb[3];
            for (int c = 0; c < 3; ++c) {
                rgb[c] = n[c] ? (sum[c] + n[c] / 2) / n[c] : (all + count / 2) / count;
            }
            Store(out + (size_t(y) * w + x) * 3, rgb[0], rgb[1], rgb[2]);
        }
    }
}

}  // namespace kvcam
