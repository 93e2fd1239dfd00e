// Camera description: everything that makes one simulated camera differ from another, read
// from the embedded default and an optional INI text that overrides any key.
//
// Thread rule: a CameraModel is immutable once parsed and shared read-only between threads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kvcam {

enum class BinningKind { Sparse, Range, None };

// One fault rule as the description's [faults] section or the test API arms it.
struct FaultRule {
    int32_t point = 0;
    int32_t id = -1;    // parameter or info id; -1 matches any
    int32_t skip = 0;   // matching calls that pass first
    int32_t count = 0;  // failing calls after them; -1 = every one
    int32_t code = 0;   // 0 = the point's default code
};

enum class Backend { Simulated, Genicam };

struct CameraModel {
    // Which cameras the driver serves: this simulated one, or GenICam cameras through Aravis
    // (`device` an Aravis device id; empty lists every camera Aravis finds).
    Backend backend = Backend::Simulated;
    std::string device;
    // GenICam: feature names that replace the standard ones, by quantity ("exposure" ...),
    // and the frame rate set at open (0 keeps the camera's).
    std::map<std::string, std::string> featureNames;
    double frameRate = 0;

    // Identity
    int32_t type = 3;
    std::string model = "Simulated 1392";
    std::string serial = "SIM0001";
    int32_t count = 1;  // cameras listed
    int32_t hardwareVersion = 2;
    int32_t firmwareVersion = 3;
    int32_t firmwareBuild = 1024;
    uint16_t versionMajor = 2;
    uint16_t versionMinor = 17;
    bool modelB = false;
    bool cooler = true;
    bool horizontalBinning = true;

    // Sensor and signal model
    int32_t width = 1392;
    int32_t height = 1040;
    bool colour = false;  // RGGB mosaic
    int32_t bitDepth = 12;
    double electronsPerDn = 4.0;          // conversion at unity gain; sets the shot noise
    double readNoiseDn = 2.0;             // read noise at unity gain
    double blobLevel = 0.6;               // brightest blobs, fraction of full scale ...
    int64_t referenceExposureUs = 20000;  // ... at this exposure and unity gain
    bool frameCounter = false;
    uint32_t seed = 1;

    // Binning parameter
    BinningKind binningKind = BinningKind::Sparse;
    std::vector<int32_t> binningTable{1, 2, 4, 8};
    int32_t binningMin = 1;
    int32_t binningMax = 8;

    // Exposure
    int64_t exposureMinUs = 10;
    int64_t exposureMaxUs = 2147483647;
    int64_t exposureQuantumUs = 1;

    // Readout speeds in Mpixel/s, index = parameter 6
    std::vector<double> readoutMpixPerSecond{20.0, 10.0, 5.0, 2.5};

    // Triggers
    int64_t externalTriggerPeriodUs = 0;  // 0 = only fired by the test API
    int64_t grabTimeoutUs = 10'000'000;

    // Factory defaults of the settings block
    int32_t defaultGain = 0;
    int32_t defaultOffset = 3995;
    int32_t defaultExposureUs = 20000;
    int32_t defaultBinning = 1;
    int32_t defaultReadoutSpeed = 0;
    int32_t defaultTrigger = 0;
    int32_t defaultFormat = 3;

    std::vector<FaultRule> faults;

    // Camera type 8 counts region X and width in sensor pixels, not binned ones.
    bool RegionXInSensorPixels() const { return type == 8; }
    bool BinningAllowed(int32_t b) const;
};

// Parses a description on top of the embedded default. Returns false with `error` set for an
// unknown section or key, a malformed value or an inconsistent camera (a binning factor larger
// than the sensor among them), as "<origin>:<line>: [section] key: what is wrong", where
// `origin` names the text (a file path, say).
bool ParseDescription(std::string_view ini, CameraModel& model, std::string& error,
                      std::string_view origin = "camera description");

// The quantities whose GenICam feature names a description may replace ([features]).
bool IsFeatureQuantity(std::string_view quantity);

// Name of a fault point as the [faults] section spells it, or -1 when unknown.
int32_t FaultPointByName(std::string_view name);

}  // namespace kvcam
