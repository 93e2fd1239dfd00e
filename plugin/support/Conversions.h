// Saturating conversions from the doubles the control receives (automation values, settings
// file numbers) to the integers the driver and the panel take, without undefined behaviour
// for values out of range or NaN.
//
// Thread rule: thread-safe (pure functions).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace ferro::support {

// Truncates towards zero and saturates at the ends of int64_t; NaN gives 0.
inline int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kLimit = 9223372036854775807.0;  // 2^63, the first value out of range
    if (value >= kLimit) return std::numeric_limits<int64_t>::max();
    if (value <= -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// Limits a wide integer to the int range.
inline int32_t SaturateToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Truncates to a 32-bit signed value, saturating; what a parameter write takes.
inline int32_t TruncateToInt32(double value) {
    return SaturateToInt32(TruncateToInt64(value));
}

// Truncates to the camera's unsigned exposure word: a negative request counts as a very
// large value (so it ends at the camera's maximum), a value beyond the word saturates.
inline uint32_t TruncateToUnsigned32(double value) {
    const int64_t v = TruncateToInt64(value);
    if (v < 0 || v > std::numeric_limits<uint32_t>::max()) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(v);
}

}  // namespace ferro::support
