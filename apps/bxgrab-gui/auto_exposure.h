// bxgrab-gui's auto-exposure pass, as bxgrab runs it: the control's own pass starts from its
// panel only, so the host measures shown frames and sets ExposureTime until the brightest
// pixel is within a tenth of the target share of full scale. This is the arithmetic; the
// window feeds it frames and applies what it says.
//
// Thread rule: thread-bound to its user (the GUI thread).
#pragma once

#include <cstdint>

namespace bxgrab_gui {

// The brightest value a frame of store type `type` can hold on a camera of `bitDepth` bits.
uint32_t FullScale(int32_t type, long bitDepth);

class AutoExposure {
public:
    static constexpr int kMaxSteps = 40;
    static constexpr long kMaxExposureUs = 10'000'000;

    enum class Outcome {
        SetExposure,  // set next_us and measure the first frame taken with it
        Settled,      // within a tenth of the target
        AtLimit,      // the exposure can change no more (the camera's limit, or ours)
        TooManySteps,
    };
    struct Step {
        Outcome outcome;
        long next_us = 0;
    };

    explicit AutoExposure(int percent = 50) : percent_(percent) {}

    int percent() const { return percent_; }
    int steps() const { return steps_; }

    // A frame taken at `exposureUs` had `brightest` of `fullScale`.
    Step Measured(uint32_t brightest, uint32_t fullScale, long exposureUs);

private:
    int percent_;
    int steps_ = 0;
};

}  // namespace bxgrab_gui
