#include "auto_exposure.h"

#include <bxmm/mm40.h>

#include <algorithm>
#include <cmath>

namespace bxgrab_gui {

uint32_t FullScale(int32_t type, long bitDepth) {
    if (type == MM_TYPE_GREY8 || type == MM_TYPE_BGR24 || bitDepth <= 0 || bitDepth > 16)
        return 255;
    return (1u << bitDepth) - 1;
}

AutoExposure::Step AutoExposure::Measured(uint32_t brightest, uint32_t fullScale, long exposureUs) {
    ++steps_;
    const double full = fullScale;
    const double target = full * percent_ / 100.0;
    const double value = brightest;
    if (std::abs(value - target) <= target * 0.1 || (percent_ == 100 && value >= full * 0.9))
        return {Outcome::Settled};
    if (steps_ >= kMaxSteps) return {Outcome::TooManySteps};
    // A saturated frame says only "too bright": halve.
    const double scale = value >= full ? 0.5 : target / std::max(value, 1.0);
    const long next =
        std::clamp<long>(std::lround(exposureUs * std::min(scale, 16.0)), 1, kMaxExposureUs);
    if (next == exposureUs) return {Outcome::AtLimit};
    return {Outcome::SetExposure, next};
}

}  // namespace bxgrab_gui
