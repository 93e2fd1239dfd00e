// SSSE3 build of the demosaic row kernel (this file is compiled with -mssse3).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "demosaic_simd.h"

namespace kvcam {
namespace {

#include "demosaic_kernel.h"

constexpr InterleaveMasks kMasks;

struct Ssse3 {
    using V = __m128i;
    static constexpr uint32_t kLanes = 16;
    static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static V EvenLanes() { return _mm_set1_epi16(0x00FF); }
    static V Ones() { return _mm_set1_epi8(1); }
    static V Not(V a) { return _mm_xor_si128(a, _mm_set1_epi8(-1)); }
    static V Avg(V a, V b) { return _mm_avg_epu8(a, b); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi8(a, b); }
    static void StoreBgr(uint8_t* out, V b, V g, V r) {
        const V* masks = reinterpret_cast<const V*>(kMasks.m);
        for (int chunk = 0; chunk < 3; ++chunk) {
            V v = _mm_shuffle_epi8(b, _mm_load_si128(&masks[chunk * 3]));
            v = _mm_or_si128(v, _mm_shuffle_epi8(g, _mm_load_si128(&masks[chunk * 3 + 1])));
            v = _mm_or_si128(v, _mm_shuffle_epi8(r, _mm_load_si128(&masks[chunk * 3 + 2])));
            _mm_storeu_si128(reinterpret_cast<V*>(out + 16 * chunk), v);
        }
    }
};

}  // namespace

uint32_t BilinearRowSsse3(const uint8_t* up, const uint8_t* cur, const uint8_t* dn, uint32_t w,
                          bool evenIsGreen, bool redRow, uint8_t* out, uint32_t x) {
    return BilinearRowKernel<Ssse3>(up, cur, dn, w, evenIsGreen, redRow, out, x);
}

}  // namespace kvcam
