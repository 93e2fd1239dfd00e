// The simulated sensor's picture and the synthesis of one frame from it.
//
// The noiseless scene (smooth background, bright blobs, fine detail; a colour mosaic on
// colour sensors) is computed once per camera; the binned, cut-out scene once per geometry.
// A frame then costs one pass: signal scaled by exposure and gain, black level, shot and read
// noise, clipping and packing to the delivered format.
//
// Thread rule: thread-bound; each camera's capture thread owns its Scene.
#pragma once

#include <cstdint>
#include <vector>

#include "model.h"
#include "settings.h"

namespace kvcam {

// The analogue chain of one frame, derived from the settings in force.
struct Signal {
    double exposureUs = 0;
    int32_t gainRegister = 0;       // 0 unity .. 4095 sixteen times, linear
    int32_t offsetRegister = 4095;  // 4095 - black level in grey levels of the full depth

    static Signal From(const ParamValues& v);
    double GainFactor() const { return 1.0 + 15.0 * gainRegister / 4095.0; }
};

class Scene {
public:
    explicit Scene(const CameraModel& model);

    // Writes one frame of geometry `g` into `out` (g.FrameBytes() bytes). `frameSeed` picks
    // the noise; the same seed gives the same frame.
    void Render(const Geometry& g, const Signal& s, uint64_t frameSeed, void* out);

    // Noiseless value of a sensor pixel, 1.0 = the brightest blob (for tests of the model).
    float SensorValue(int32_t x, int32_t y);

private:
    const std::vector<float>& Sensor();
    const std::vector<float>& Binned(const Geometry& g);

    const CameraModel& model_;
    std::vector<float> sensor_;  // width x height, computed on first use
    std::vector<float> binned_;
    Geometry binnedFor_{};
    bool binnedValid_ = false;
    std::vector<float> noiseRow_;
};

// Writes `counter` into the first four pixels, one byte of it per pixel.
void WriteFrameCounter(void* buffer, uint32_t bytesPerPixel, uint32_t pixels, uint32_t counter);

}  // namespace kvcam
