// What a GenICam camera can take, read once at open, and the settings-block rules over it:
// the driver's parameters (gain and offset on 0..4095, exposure in microseconds, binning,
// region in binned pixels, format, trigger) checked and limited the way the camera will use
// them. A block holds the driver's parameter values; only a send turns them into features.
//
// Thread rule: a Limits is immutable once read and shared read-only between threads.
#pragma once

#include <kvcam/kvcam.h>

#include <string>
#include <vector>

#include "genicam/features.h"
#include "settings.h"

namespace kvcam::genicam {

// Gain and offset registers, as on every camera of the driver.
constexpr int32_t kRegisterMax = 4095;

struct Limits {
    int32_t type = 3;
    int32_t sensorWidth = 0, sensorHeight = 0;
    Bounds width, height, offsetX, offsetY;
    Bounds binH, binV;
    Bounds exposure, gain, blackLevel;
    // PixelFormat entries for the driver's formats, "" where the camera has none.
    std::string mono8, mono16, bayer8;
    int32_t mono16Bits = 16;                  // significant bits of the mono16 entry
    int32_t bayerPattern = 0;                 // KVCAM_BAYER_* of the camera's mosaic, 0 without
    std::vector<std::string> readoutEntries;  // index = parameter 6
    bool softwareTrigger = false;
    std::string externalLine;  // TriggerSource entry for external triggers, "" without
    int64_t grabTimeoutUs = 10'000'000;

    int32_t MaxBitDepth() const { return mono16.empty() ? 8 : mono16Bits; }
    bool Colour() const { return bayerPattern != KVCAM_BAYER_NONE; }
    // The PixelFormat entry of a driver format, "" when the camera cannot deliver it.
    const std::string& EntryOf(int32_t format) const;
};

// Reads the camera's limits through its features.
Limits ReadLimits(Features& f);

// The parameter rules of the settings block, as the simulated camera's are.
bool IsSupported(const Limits& l, uint32_t id);
int32_t ApplyParam(const Limits& l, ParamValues& v, uint32_t id, int32_t value);
int32_t ParamMin(const Limits& l, const ParamValues& v, uint32_t id, int32_t& out);
int32_t ParamMax(const Limits& l, const ParamValues& v, uint32_t id, int32_t& out);
// Binning is a range when the camera bins, a one-entry table ({1}) when it does not.
bool BinningIsRange(const Limits& l);

// Register value of a feature value on the camera's range and back.
double FeatureOfRegister(const Bounds& b, int32_t reg);
int32_t RegisterOfFeature(const Bounds& b, double value);

// Bits per pixel and mosaic of a PixelFormat entry name (Mono12, BayerRG8, ...).
int32_t BitsOfEntry(const std::string& entry);
int32_t PatternOfEntry(const std::string& entry);

}  // namespace kvcam::genicam
