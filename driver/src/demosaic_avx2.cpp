// AVX2 build of the demosaic row kernel (this file is compiled with -mavx2).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "demosaic_simd.h"

namespace kvcam {
namespace {

#include "demosaic_kernel.h"

constexpr InterleaveMasks kMasks;

struct Avx2 {
    using V = __m256i;
    static constexpr uint32_t kLanes = 32;
    static V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static V EvenLanes() { return _mm256_set1_epi16(0x00FF); }
    static V Ones() { return _mm256_set1_epi8(1); }
    static V Not(V a) { return _mm256_xor_si256(a, _mm256_set1_epi8(-1)); }
    static V Avg(V a, V b) { return _mm256_avg_epu8(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi8(a, b); }
    static void StoreBgr(uint8_t* out, V b, V g, V r) {
        // Byte shuffles stay within each 128-bit half: interleave pixels 0-15 in the low
        // halves and 16-31 in the high halves, then put the six 16-byte pieces in order.
        V chunks[3];
        for (int chunk = 0; chunk < 3; ++chunk) {
            auto mask = [&](int plane) {
                return _mm256_broadcastsi128_si256(
                    _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[chunk][plane])));
            };
            V v = _mm256_shuffle_epi8(b, mask(0));
            v = _mm256_or_si256(v, _mm256_shuffle_epi8(g, mask(1)));
            chunks[chunk] = _mm256_or_si256(v, _mm256_shuffle_epi8(r, mask(2)));
        }
        V* dst = reinterpret_cast<V*>(out);
        _mm256_storeu_si256(dst, _mm256_permute2x128_si256(chunks[0], chunks[1], 0x20));
        _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(chunks[2], chunks[0], 0x30));
        _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(chunks[1], chunks[2], 0x31));
    }
};

}  // namespace

uint32_t BilinearRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                         bool evenIsGreen, bool redRow, uint8_t* out, uint32_t x) {
    return BilinearRowKernel<Avx2>(up, cur, dn, w, evenIsGreen, redRow, out, x);
}

}  // namespace kvcam
