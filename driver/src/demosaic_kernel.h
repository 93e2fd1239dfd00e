// The vector row kernel of the bilinear demosaic, written once over a small set of byte-wide
// vector operations and compiled per instruction set (demosaic_ssse3.cpp, demosaic_avx2.cpp).
// Included only by those files, inside an anonymous namespace each, so the instantiations for
// different instruction sets never merge. For the same reason it includes nothing itself: a
// standard header opened inside a namespace breaks, so the including file brings <cstddef>
// and <cstdint> in first, at file scope.
//
// Thread rule: pure functions.
#pragma once

// Interior columns of one row from column `x` on, Ops::kLanes pixels per step, while a whole
// step fits before the last column. Returns the first column not done. All arithmetic stays
// in bytes: a rounded four-pixel average (a + b + c + d + 2) >> 2 is the average of the two
// pair averages, less one exactly when those two differ in parity and either pair had an odd
// sum.
template <typename Ops>
uint32_t BilinearRowKernel(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                           bool evenIsGreen, bool redRow, uint8_t* out, uint32_t x) {
    using V = typename Ops::V;
    constexpr uint32_t kLanes = Ops::kLanes;
    // Steps keep the column parity of lane 0, so one mask of red/blue lanes serves the row.
    const bool lane0Colour = ((x & 1) == 0) != evenIsGreen;
    const V colourLanes = lane0Colour ? Ops::EvenLanes() : Ops::Not(Ops::EvenLanes());
    const V one = Ops::Ones();
    auto avg4 = [&](V p, V q, V abOdd, V cdOdd) {
        const V fix = Ops::And(Ops::And(Ops::Xor(p, q), Ops::Or(abOdd, cdOdd)), one);
        return Ops::Sub(Ops::Avg(p, q), fix);
    };
    auto select = [&](V ifColour, V ifGreen) {
        return Ops::Or(Ops::And(colourLanes, ifColour), Ops::AndNot(colourLanes, ifGreen));
    };
    for (; x + kLanes + 1 <= w; x += kLanes) {
        const V c = Ops::Load(cur + x), cl = Ops::Load(cur + x - 1), cr = Ops::Load(cur + x + 1);
        const V u = Ops::Load(up + x), ul = Ops::Load(up + x - 1), ur = Ops::Load(up + x + 1);
        const V d = Ops::Load(dn + x), dl = Ops::Load(dn + x - 1), dr = Ops::Load(dn + x + 1);
        const V hor = Ops::Avg(cl, cr);
        const V ver = Ops::Avg(u, d);
        const V cross = avg4(hor, ver, Ops::Xor(cl, cr), Ops::Xor(u, d));
        const V diag = avg4(Ops::Avg(ul, ur), Ops::Avg(dl, dr), Ops::Xor(ul, ur), Ops::Xor(dl, dr));
        // A red/blue pixel keeps its own colour, takes green from its four neighbours and the
        // other colour from the diagonals; a green pixel takes the row's colour from left and
        // right and the other colour from above and below.
        const V rowColour = select(c, hor);
        const V otherColour = select(diag, ver);
        const V green = select(cross, c);
        Ops::StoreBgr(out + 3 * size_t(x), redRow ? otherColour : rowColour, green,
                      redRow ? rowColour : otherColour);
    }
    return x;
}

// Shuffle masks that interleave three 16-byte planes into 48 bytes of 3-byte pixels:
// [chunk][plane] picks, for each output byte, the plane's pixel or zero (0x80).
struct InterleaveMasks {
    alignas(32) uint8_t m[3][3][16];
    constexpr InterleaveMasks() : m{} {
        for (int chunk = 0; chunk < 3; ++chunk)
            for (int plane = 0; plane < 3; ++plane)
                for (int k = 0; k < 16; ++k) {
                    const int n = chunk * 16 + k;
                    m[chunk][plane][k] = n % 3 == plane ? static_cast<uint8_t>(n / 3) : 0x80;
                }
    }
};
