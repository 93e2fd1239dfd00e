#include "settings.h"

#include <algorithm>
#include <cstring>

namespace kvcam {

namespace {

constexpr uint32_t kMark = 0x3153564B;  // "KVS1": the block was filled by this driver

struct BlockImage {
    uint32_t size;
    uint32_t mark;
    uint32_t cameraId;
    int32_t values[kParamCount];
};
static_assert(sizeof(BlockImage) <= sizeof(KvCamSettings));
static_assert(sizeof(KvCamSettings) == KVCAM_SETTINGS_SIZE);

bool IsBinning(uint32_t id) {
    return id >= KVCAM_PARAM_BINNING && id <= KVCAM_PARAM_BINNING_V;
}

int32_t BinningLimit(const CameraModel& m, bool max) {
    if (m.binningKind == BinningKind::Sparse) {
        return max ? m.binningTable.back() : m.binningTable.front();
    }
    return max ? m.binningMax : m.binningMin;
}

// Largest X (or Y) + 1 and width (or height) of the region at the block's binning. Type 8
// counts X and width in sensor pixels. Never below 1, whatever the block's binning, so region
// limits stay ordered (min <= max).
int32_t RegionSpan(const CameraModel& m, const ParamValues& v, bool horizontal) {
    if (horizontal) {
        return m.RegionXInSensorPixels()
                   ? m.width
                   : std::max(1, m.width / std::max(1, v[KVCAM_PARAM_BINNING_H]));
    }
    return std::max(1, m.height / std::max(1, v[KVCAM_PARAM_BINNING_V]));
}

bool Horizontal(uint32_t id) {
    return id == KVCAM_PARAM_ROI_X || id == KVCAM_PARAM_ROI_WIDTH;
}

}  // namespace

bool IsKnownParam(uint32_t id) {
    return id < kParamCount && (id < 8 || id > 11);
}

ParamValues DefaultValues(const CameraModel& m) {
    ParamValues v{};
    v[KVCAM_PARAM_GAIN] = m.defaultGain;
    v[KVCAM_PARAM_OFFSET] = m.defaultOffset;
    v[KVCAM_PARAM_BINNING] = v[KVCAM_PARAM_BINNING_H] = v[KVCAM_PARAM_BINNING_V] = m.defaultBinning;
    v[KVCAM_PARAM_READOUT_SPEED] = m.defaultReadoutSpeed;
    v[KVCAM_PARAM_TRIGGER] = m.defaultTrigger;
    v[KVCAM_PARAM_FORMAT] = m.defaultFormat;
    v[KVCAM_PARAM_ROI_WIDTH] = RegionSpan(m, v, true);
    v[KVCAM_PARAM_ROI_HEIGHT] = RegionSpan(m, v, false);
    ApplyParam(m, v, KVCAM_PARAM_EXPOSURE, m.defaultExposureUs);
    FitRegion(m, v);
    return v;
}

int32_t ApplyParam(const CameraModel& m, ParamValues& v, uint32_t id, int32_t value) {
    if (!IsKnownParam(id)) return KVCAM_ERR_UNKNOWN_ID;
    switch (id) {
        case KVCAM_PARAM_GAIN:
        case KVCAM_PARAM_OFFSET:
            if (value < 0 || value > 4095) return KVCAM_ERR_OUT_OF_RANGE;
            break;
        case KVCAM_PARAM_EXPOSURE: {
            // The camera counts exposure in whole quanta: round to the nearest one that lies
            // within the limits.
            const int64_t q = m.exposureQuantumUs;
            const int64_t lo = (m.exposureMinUs + q - 1) / q * q;
            const int64_t hi = m.exposureMaxUs / q * q;
            int64_t e = (int64_t{value} + q / 2) / q * q;
            value = static_cast<int32_t>(std::clamp(e, std::min(lo, hi), hi));
            break;
        }
        case KVCAM_PARAM_BINNING:
            if (!m.BinningAllowed(value)) return KVCAM_ERR_OUT_OF_RANGE;
            v[KVCAM_PARAM_BINNING_H] = v[KVCAM_PARAM_BINNING_V] = value;
            break;
        case KVCAM_PARAM_BINNING_H:
            if (!m.horizontalBinning) return KVCAM_ERR_NOT_SUPPORTED;
            if (!m.BinningAllowed(value)) return KVCAM_ERR_OUT_OF_RANGE;
            break;
        case KVCAM_PARAM_BINNING_V:
            if (!m.BinningAllowed(value)) return KVCAM_ERR_OUT_OF_RANGE;
            v[KVCAM_PARAM_BINNING] = value;  // the square parameter reads the vertical factor
            break;
        case KVCAM_PARAM_READOUT_SPEED:
            if (value < 0 || value >= static_cast<int32_t>(m.readoutMpixPerSecond.size())) {
                return KVCAM_ERR_OUT_OF_RANGE;
            }
            break;
        case KVCAM_PARAM_TRIGGER:
            if (value != KVCAM_TRIGGER_FREE_RUN && value != KVCAM_TRIGGER_EXTERNAL &&
                value != KVCAM_TRIGGER_SOFTWARE) {
                return KVCAM_ERR_OUT_OF_RANGE;
            }
            break;
        case KVCAM_PARAM_FORMAT:
            if (value != KVCAM_FORMAT_MONO8 && value != KVCAM_FORMAT_MONO16 &&
                !(value == KVCAM_FORMAT_BAYER8 && m.colour)) {
                return KVCAM_ERR_BAD_FORMAT;
            }
            break;
        default: {  // region
            int32_t lo, hi;
            ParamMin(m, v, id, lo);
            ParamMax(m, v, id, hi);
            if (value < lo || value > hi) return KVCAM_ERR_OUT_OF_RANGE;
            break;
        }
    }
    v[id] = value;
    return KVCAM_OK;
}

int32_t ParamMin(const CameraModel& m, const ParamValues& v, uint32_t id, int32_t& out) {
    if (!IsKnownParam(id)) return KVCAM_ERR_UNKNOWN_ID;
    (void)v;
    if (id == KVCAM_PARAM_BINNING_H && !m.horizontalBinning) return KVCAM_ERR_NOT_SUPPORTED;
    switch (id) {
        case KVCAM_PARAM_EXPOSURE: {
            const int64_t q = m.exposureQuantumUs;
            out = static_cast<int32_t>(
                std::min((m.exposureMinUs + q - 1) / q * q, m.exposureMaxUs / q * q));
            break;
        }
        case KVCAM_PARAM_FORMAT:
            out = KVCAM_FORMAT_MONO8;
            break;
        case KVCAM_PARAM_ROI_WIDTH:
        case KVCAM_PARAM_ROI_HEIGHT:
            out = 1;
            break;
        default:
            out = IsBinning(id) ? BinningLimit(m, false) : 0;
            break;
    }
    return KVCAM_OK;
}

int32_t ParamMax(const CameraModel& m, const ParamValues& v, uint32_t id, int32_t& out) {
    if (!IsKnownParam(id)) return KVCAM_ERR_UNKNOWN_ID;
    if (id == KVCAM_PARAM_BINNING_H && !m.horizontalBinning) return KVCAM_ERR_NOT_SUPPORTED;
    switch (id) {
        case KVCAM_PARAM_GAIN:
        case KVCAM_PARAM_OFFSET:
            out = 4095;
            break;
        case KVCAM_PARAM_EXPOSURE:
            out = static_cast<int32_t>(m.exposureMaxUs / m.exposureQuantumUs * m.exposureQuantumUs);
            break;
        case KVCAM_PARAM_READOUT_SPEED:
            out = static_cast<int32_t>(m.readoutMpixPerSecond.size()) - 1;
            break;
        case KVCAM_PARAM_TRIGGER:
            out = KVCAM_TRIGGER_SOFTWARE;
            break;
        case KVCAM_PARAM_FORMAT:
            out = m.colour ? KVCAM_FORMAT_BAYER8 : KVCAM_FORMAT_MONO16;
            break;
        case KVCAM_PARAM_ROI_X:
        case KVCAM_PARAM_ROI_Y:
            out = RegionSpan(m, v, Horizontal(id)) - 1;
            break;
        case KVCAM_PARAM_ROI_WIDTH:
        case KVCAM_PARAM_ROI_HEIGHT:
            out = RegionSpan(m, v, Horizontal(id));
            break;
        default:
            out = BinningLimit(m, true);
            break;
    }
    return KVCAM_OK;
}

void FitRegion(const CameraModel& m, ParamValues& v) {
    for (bool horizontal : {true, false}) {
        int32_t& pos = v[horizontal ? KVCAM_PARAM_ROI_X : KVCAM_PARAM_ROI_Y];
        int32_t& size = v[horizontal ? KVCAM_PARAM_ROI_WIDTH : KVCAM_PARAM_ROI_HEIGHT];
        const int32_t span = RegionSpan(m, v, horizontal);
        // Type 8 reads whole bins from a sensor-pixel X: X and width are multiples of the
        // factor and X leaves room for at least one bin before the edge.
        int32_t unit = 1;
        if (horizontal && m.RegionXInSensorPixels()) {
            unit = std::clamp(v[KVCAM_PARAM_BINNING_H], 1, span);
        }
        pos = std::clamp(pos, 0, span - unit) / unit * unit;
        size = std::max(unit, std::clamp(size, 1, span - pos) / unit * unit);
    }
}

bool CameraTakes(const CameraModel& m, const ParamValues& v) {
    auto in = [](int32_t x, int64_t lo, int64_t hi) { return x >= lo && x <= hi; };
    const int32_t format = v[KVCAM_PARAM_FORMAT];
    const int32_t trigger = v[KVCAM_PARAM_TRIGGER];
    return in(v[KVCAM_PARAM_GAIN], 0, 4095) && in(v[KVCAM_PARAM_OFFSET], 0, 4095) &&
           in(v[KVCAM_PARAM_EXPOSURE], 0, m.exposureMaxUs) &&
           m.BinningAllowed(v[KVCAM_PARAM_BINNING_H]) &&
           m.BinningAllowed(v[KVCAM_PARAM_BINNING_V]) &&
           v[KVCAM_PARAM_BINNING] == v[KVCAM_PARAM_BINNING_V] &&
           in(v[KVCAM_PARAM_READOUT_SPEED], 0, int64_t(m.readoutMpixPerSecond.size()) - 1) &&
           (trigger == KVCAM_TRIGGER_FREE_RUN || trigger == KVCAM_TRIGGER_EXTERNAL ||
            trigger == KVCAM_TRIGGER_SOFTWARE) &&
           (format == KVCAM_FORMAT_MONO8 || format == KVCAM_FORMAT_MONO16 ||
            (format == KVCAM_FORMAT_BAYER8 && m.colour));
}

Geometry GeometryOf(const CameraModel& m, const ParamValues& v) {
    Geometry g;
    g.binH = std::max(1, v[KVCAM_PARAM_BINNING_H]);
    g.binV = std::max(1, v[KVCAM_PARAM_BINNING_V]);
    if (m.RegionXInSensorPixels()) {
        g.originX = v[KVCAM_PARAM_ROI_X];
        g.width = std::max(1, v[KVCAM_PARAM_ROI_WIDTH] / g.binH);
    } else {
        g.originX = v[KVCAM_PARAM_ROI_X] * g.binH;
        g.width = v[KVCAM_PARAM_ROI_WIDTH];
    }
    g.originY = v[KVCAM_PARAM_ROI_Y] * g.binV;
    g.height = v[KVCAM_PARAM_ROI_HEIGHT];
    g.format = v[KVCAM_PARAM_FORMAT];
    g.bytesPerPixel = g.format == KVCAM_FORMAT_MONO16 ? 2 : 1;
    return g;
}

uint32_t BayerPatternOf(const CameraModel& m, const Geometry& g) {
    // Binned charge from a mosaic mixes all colours: no pattern survives.
    if (!m.colour || g.binH != 1 || g.binV != 1) return KVCAM_BAYER_NONE;
    static constexpr uint32_t kByParity[2][2] = {{KVCAM_BAYER_RGGB, KVCAM_BAYER_GRBG},
                                                 {KVCAM_BAYER_GBRG, KVCAM_BAYER_BGGR}};
    return kByParity[g.originY & 1][g.originX & 1];
}

void EncodeBlock(KvCamSettings* block, uint32_t cameraId, const ParamValues& v) {
    BlockImage image{};
    image.size = KVCAM_SETTINGS_SIZE;
    image.mark = kMark;
    image.cameraId = cameraId;
    std::copy(v.begin(), v.end(), image.values);
    std::memset(block, 0, sizeof(KvCamSettings));
    std::memcpy(block, &image, sizeof(image));
}

int32_t DecodeBlock(const KvCamSettings* block, uint32_t& cameraId, ParamValues& v) {
    if (block == nullptr) return KVCAM_ERR_NULL_POINTER;
    BlockImage image;
    std::memcpy(&image, block, sizeof(image));
    if (image.size != KVCAM_SETTINGS_SIZE || image.mark != kMark) return KVCAM_ERR_BAD_SETTINGS;
    cameraId = image.cameraId;
    std::copy(std::begin(image.values), std::end(image.values), v.begin());
    return KVCAM_OK;
}

}  // namespace kvcam
