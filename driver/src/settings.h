// The settings block's private layout and the rules a camera applies to its parameters:
// limits, rounding, region fitting and the frame geometry that follows from a setting.
//
// Thread rule: pure functions over values; no shared state.
#pragma once

#include <kvcam/kvcam.h>

#include <array>
#include <cstdint>

#include "model.h"

namespace kvcam {

constexpr uint32_t kParamCount = 17;  // ids 0..16; 8..11 are unused
using ParamValues = std::array<int32_t, kParamCount>;

// Where a frame comes from on the sensor and how it is delivered.
struct Geometry {
    int32_t binH = 1, binV = 1;
    int32_t originX = 0, originY = 0;  // sensor pixel of the first delivered pixel
    int32_t width = 0, height = 0;     // delivered pixels
    int32_t format = KVCAM_FORMAT_MONO16;
    uint32_t bytesPerPixel = 2;
    uint32_t FrameBytes() const { return uint32_t(width) * uint32_t(height) * bytesPerPixel; }
    bool operator==(const Geometry&) const = default;
};

bool IsKnownParam(uint32_t id);
ParamValues DefaultValues(const CameraModel& m);

// Sets one parameter the way the camera will use it; KVCAM_ERR_* when refused.
int32_t ApplyParam(const CameraModel& m, ParamValues& v, uint32_t id, int32_t value);
int32_t ParamMin(const CameraModel& m, const ParamValues& v, uint32_t id, int32_t& out);
int32_t ParamMax(const CameraModel& m, const ParamValues& v, uint32_t id, int32_t& out);

// Cuts the region to the sensor at the block's binning (and, for type 8, rounds the
// sensor-pixel X and width down to whole horizontal bins).
void FitRegion(const CameraModel& m, ParamValues& v);
// Whether every value but the region is one the camera could have set itself (a block that
// was not filled by the driver, or was filled for another camera, may hold anything).
bool CameraTakes(const CameraModel& m, const ParamValues& v);
Geometry GeometryOf(const CameraModel& m, const ParamValues& v);
uint32_t BayerPatternOf(const CameraModel& m, const Geometry& g);

// Block encoding. Decode checks the size word and the driver's mark; the camera id says
// which camera's rules apply.
void EncodeBlock(KvCamSettings* block, uint32_t cameraId, const ParamValues& v);
int32_t DecodeBlock(const KvCamSettings* block, uint32_t& cameraId, ParamValues& v);

}  // namespace kvcam
