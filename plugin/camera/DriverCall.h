// Small helpers shared by the camera session and the camera commands: recording driver
// results, the plain error box, and turning the doubles the commands receive into the integer
// values the driver takes without undefined conversions.
//
// Thread rule: thread-bound to the user-interface thread (they touch the form).
#pragma once

#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro::camera {

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionErrorMessage = "Error Message";

// Keeps a driver result in LastCameraError; true when the call failed.
inline bool Failed(TBXTessvikFerroFW& form, int32_t result) {
    form.LastCameraError = result;
    return result != KVCAM_OK;
}

// The application's plain OK box.
inline void ShowError(const std::string& text, const char* caption) {
    bx::ui::Application().MessageBox(text, caption, bx::ui::MB_OK);
}

// Truncates towards zero and saturates at the ends of int64_t; NaN gives 0.
inline int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kLimit = 9223372036854775807.0;  // 2^63, the first value out of range
    if (value >= kLimit) return std::numeric_limits<int64_t>::max();
    if (value <= -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// Truncates to a 32-bit signed value, saturating; what a parameter write takes.
inline int32_t TruncateToInt32(double value) {
    const int64_t v = TruncateToInt64(value);
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
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

}  // namespace ferro::camera
