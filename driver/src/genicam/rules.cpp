#include "genicam/rules.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace kvcam::genicam {
namespace {

// Mono formats deepest first: the driver's 16-bit format takes the deepest one the camera has.
constexpr const char* kMono16Entries[] = {"Mono16", "Mono14", "Mono12", "Mono10"};
constexpr const char* kBayer8Entries[] = {"BayerRG8", "BayerGR8", "BayerGB8", "BayerBG8"};
// A colour camera without mono formats gives its raw mosaic as the 16-bit "grey".
constexpr const char* kBayer16Entries[] = {"BayerRG16", "BayerGR16", "BayerGB16", "BayerBG16",
                                           "BayerRG12", "BayerGR12", "BayerGB12", "BayerBG12"};

template <size_t N>
std::string FirstOf(const std::vector<std::string>& offered, const char* const (&wanted)[N]) {
    for (const char* w : wanted)
        if (std::find(offered.begin(), offered.end(), w) != offered.end()) return w;
    return {};
}

int32_t ToInt(double x) {
    if (!(x > INT32_MIN)) return INT32_MIN;
    if (!(x < INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(x);
}

int32_t Lo(const Bounds& b, int32_t fallback = 1) {
    return b.present ? ToInt(std::ceil(b.min)) : fallback;
}
int32_t Hi(const Bounds& b, int32_t fallback = 1) {
    return b.present ? ToInt(std::floor(b.max)) : fallback;
}

// Region limits at the block's binning, in binned pixels.
struct RegionLimits {
    int32_t minW, maxW, minH, maxH;
};

RegionLimits RegionAt(const Limits& l, const ParamValues& v) {
    const int32_t bh = std::max(1, v[KVCAM_PARAM_BINNING_H]);
    const int32_t bv = std::max(1, v[KVCAM_PARAM_BINNING_V]);
    RegionLimits r;
    r.minW = std::max(1, Lo(l.width));
    r.minH = std::max(1, Lo(l.height));
    r.maxW = std::max(r.minW, std::min(Hi(l.width, l.sensorWidth), l.sensorWidth / bh));
    r.maxH = std::max(r.minH, std::min(Hi(l.height, l.sensorHeight), l.sensorHeight / bv));
    return r;
}

bool InRange(int32_t value, int32_t lo, int32_t hi) {
    return value >= lo && value <= hi;
}

int32_t ClampExposure(const Limits& l, int32_t us) {
    const double lo = std::max(1.0, std::ceil(l.exposure.min));
    const double hi = std::min<double>(INT32_MAX, std::floor(l.exposure.max));
    double x = std::clamp<double>(us, lo, std::max(lo, hi));
    if (l.exposure.inc > 0) {
        x = l.exposure.min + std::round((x - l.exposure.min) / l.exposure.inc) * l.exposure.inc;
        x = std::clamp(std::round(x), lo, std::max(lo, hi));
    }
    return ToInt(x);
}

}  // namespace

const std::string& Limits::EntryOf(int32_t format) const {
    static const std::string none;
    switch (format) {
        case KVCAM_FORMAT_MONO8:
            return mono8;
        case KVCAM_FORMAT_MONO16:
            return mono16;
        case KVCAM_FORMAT_BAYER8:
            return bayer8;
        default:
            return none;
    }
}

int32_t BitsOfEntry(const std::string& entry) {
    size_t digits = entry.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 >= entry.size()) return 8;
    return std::clamp(std::atoi(entry.c_str() + digits + 1), 8, 16);
}

int32_t PatternOfEntry(const std::string& entry) {
    if (entry.rfind("Bayer", 0) != 0 || entry.size() < 7) return KVCAM_BAYER_NONE;
    const std::string pair = entry.substr(5, 2);
    if (pair == "RG") return KVCAM_BAYER_RGGB;
    if (pair == "GR") return KVCAM_BAYER_GRBG;
    if (pair == "GB") return KVCAM_BAYER_GBRG;
    if (pair == "BG") return KVCAM_BAYER_BGGR;
    return KVCAM_BAYER_NONE;
}

Limits ReadLimits(Features& f) {
    Limits l;
    double x = 0;
    l.sensorWidth = f.ReadNumber("sensor_width", x) ? ToInt(x) : 0;
    l.sensorHeight = f.ReadNumber("sensor_height", x) ? ToInt(x) : 0;
    l.width = f.BoundsOf("width");
    l.height = f.BoundsOf("height");
    // Without a sensor size the largest region is the sensor.
    if (l.sensorWidth <= 0) l.sensorWidth = Hi(l.width, 0);
    if (l.sensorHeight <= 0) l.sensorHeight = Hi(l.height, 0);
    l.offsetX = f.BoundsOf("offset_x");
    l.offsetY = f.BoundsOf("offset_y");
    l.binH = f.BoundsOf("binning_horizontal");
    l.binV = f.BoundsOf("binning_vertical");
    l.exposure = f.BoundsOf("exposure");
    l.gain = f.BoundsOf("gain");
    l.blackLevel = f.BoundsOf("black_level");

    const std::vector<std::string> formats = f.Entries("pixel_format");
    if (std::find(formats.begin(), formats.end(), "Mono8") != formats.end()) l.mono8 = "Mono8";
    l.mono16 = FirstOf(formats, kMono16Entries);
    l.bayer8 = FirstOf(formats, kBayer8Entries);
    if (l.mono8.empty()) l.mono8 = l.bayer8;
    if (l.mono16.empty()) l.mono16 = FirstOf(formats, kBayer16Entries);
    l.mono16Bits = l.mono16.empty() ? 8 : BitsOfEntry(l.mono16);
    l.bayerPattern = PatternOfEntry(l.bayer8);

    l.readoutEntries = f.Entries("readout_speed");
    if (f.Has("trigger_mode")) {
        const std::vector<std::string> sources = f.Entries("trigger_source");
        l.softwareTrigger = f.Has("trigger_software") &&
                            std::find(sources.begin(), sources.end(), "Software") != sources.end();
        const std::string& line = f.Name("trigger_line");
        for (const std::string& s : sources) {
            if (line.empty() ? s.rfind("Line", 0) == 0 : s == line) {
                l.externalLine = s;
                break;
            }
        }
    }
    return l;
}

double FeatureOfRegister(const Bounds& b, int32_t reg) {
    const double x = b.min + (b.max - b.min) * reg / kRegisterMax;
    return b.isFloat ? x : std::round(x);
}

int32_t RegisterOfFeature(const Bounds& b, double value) {
    if (!(b.max > b.min)) return 0;
    return std::clamp(ToInt(std::lround((value - b.min) / (b.max - b.min) * kRegisterMax)), 0,
                      kRegisterMax);
}

bool BinningIsRange(const Limits& l) {
    return l.binV.present && Hi(l.binV) > Lo(l.binV);
}

bool IsSupported(const Limits& l, uint32_t id) {
    switch (id) {
        case KVCAM_PARAM_GAIN:
            return l.gain.present;
        case KVCAM_PARAM_OFFSET:
            return l.blackLevel.present;
        case KVCAM_PARAM_EXPOSURE:
            return l.exposure.present;
        case KVCAM_PARAM_BINNING_H:
            return l.binH.present;
        case KVCAM_PARAM_READOUT_SPEED:
            return !l.readoutEntries.empty();
        default:
            return IsKnownParam(id);
    }
}

int32_t ApplyParam(const Limits& l, ParamValues& v, uint32_t id, int32_t value) {
    if (!IsKnownParam(id)) return KVCAM_ERR_UNKNOWN_ID;
    int32_t lo = 0, hi = 0;
    switch (id) {
        case KVCAM_PARAM_GAIN:
        case KVCAM_PARAM_OFFSET: {
            if (!InRange(value, 0, kRegisterMax)) return KVCAM_ERR_OUT_OF_RANGE;
            // A camera without the feature takes only the register that changes nothing.
            const int32_t neutral = id == KVCAM_PARAM_GAIN ? 0 : kRegisterMax;
            if (!IsSupported(l, id) && value != neutral) return KVCAM_ERR_NOT_SUPPORTED;
            break;
        }
        case KVCAM_PARAM_EXPOSURE:
            if (!l.exposure.present) return KVCAM_ERR_NOT_SUPPORTED;
            value = ClampExposure(l, value);
            break;
        case KVCAM_PARAM_BINNING:
            if (ParamMin(l, v, KVCAM_PARAM_BINNING_V, lo) || ParamMax(l, v, id, hi) ||
                !InRange(value, lo, hi))
                return KVCAM_ERR_OUT_OF_RANGE;
            if (l.binH.present) {
                if (!InRange(value, Lo(l.binH), Hi(l.binH))) return KVCAM_ERR_OUT_OF_RANGE;
                v[KVCAM_PARAM_BINNING_H] = value;
            }
            v[KVCAM_PARAM_BINNING_V] = value;
            break;
        case KVCAM_PARAM_TRIGGER:
            if (value == KVCAM_TRIGGER_FREE_RUN) break;
            if (value == KVCAM_TRIGGER_SOFTWARE && l.softwareTrigger) break;
            if (value == KVCAM_TRIGGER_EXTERNAL && !l.externalLine.empty()) break;
            return value == KVCAM_TRIGGER_SOFTWARE || value == KVCAM_TRIGGER_EXTERNAL
                       ? KVCAM_ERR_NOT_SUPPORTED
                       : KVCAM_ERR_OUT_OF_RANGE;
        case KVCAM_PARAM_FORMAT:
            if (l.EntryOf(value).empty()) return KVCAM_ERR_BAD_FORMAT;
            break;
        default:
            if (ParamMin(l, v, id, lo) != KVCAM_OK || ParamMax(l, v, id, hi) != KVCAM_OK)
                return KVCAM_ERR_NOT_SUPPORTED;
            if (!InRange(value, lo, hi)) return KVCAM_ERR_OUT_OF_RANGE;
    }
    v[id] = value;
    // Parameter 3 reads back the vertical factor, however it was set.
    v[KVCAM_PARAM_BINNING] = v[KVCAM_PARAM_BINNING_V];
    return KVCAM_OK;
}

int32_t ParamMin(const Limits& l, const ParamValues& v, uint32_t id, int32_t& out) {
    const RegionLimits r = RegionAt(l, v);
    switch (id) {
        case KVCAM_PARAM_GAIN:
        case KVCAM_PARAM_OFFSET:
        case KVCAM_PARAM_READOUT_SPEED:
        case KVCAM_PARAM_TRIGGER:
        case KVCAM_PARAM_ROI_X:
        case KVCAM_PARAM_ROI_Y:
            out = 0;
            return KVCAM_OK;
        case KVCAM_PARAM_EXPOSURE:
            if (!l.exposure.present) return KVCAM_ERR_NOT_SUPPORTED;
            out = ClampExposure(l, 1);
            return KVCAM_OK;
        case KVCAM_PARAM_BINNING:
        case KVCAM_PARAM_BINNING_V:
            out = std::max(1, Lo(l.binV));
            return KVCAM_OK;
        case KVCAM_PARAM_BINNING_H:
            if (!l.binH.present) return KVCAM_ERR_NOT_SUPPORTED;
            out = std::max(1, Lo(l.binH));
            return KVCAM_OK;
        case KVCAM_PARAM_FORMAT:
            out = KVCAM_FORMAT_MONO8;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_WIDTH:
            out = r.minW;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_HEIGHT:
            out = r.minH;
            return KVCAM_OK;
        default:
            return KVCAM_ERR_UNKNOWN_ID;
    }
}

int32_t ParamMax(const Limits& l, const ParamValues& v, uint32_t id, int32_t& out) {
    const RegionLimits r = RegionAt(l, v);
    switch (id) {
        case KVCAM_PARAM_GAIN:
        case KVCAM_PARAM_OFFSET:
            out = kRegisterMax;
            return KVCAM_OK;
        case KVCAM_PARAM_EXPOSURE:
            if (!l.exposure.present) return KVCAM_ERR_NOT_SUPPORTED;
            out = ClampExposure(l, INT32_MAX);
            return KVCAM_OK;
        case KVCAM_PARAM_BINNING:
        case KVCAM_PARAM_BINNING_V:
            out = std::max(1, Hi(l.binV));
            return KVCAM_OK;
        case KVCAM_PARAM_BINNING_H:
            if (!l.binH.present) return KVCAM_ERR_NOT_SUPPORTED;
            out = std::max(1, Hi(l.binH));
            return KVCAM_OK;
        case KVCAM_PARAM_READOUT_SPEED:
            out = std::max<int32_t>(0, static_cast<int32_t>(l.readoutEntries.size()) - 1);
            return KVCAM_OK;
        case KVCAM_PARAM_TRIGGER:
            out = l.softwareTrigger        ? KVCAM_TRIGGER_SOFTWARE
                  : l.externalLine.empty() ? KVCAM_TRIGGER_FREE_RUN
                                           : KVCAM_TRIGGER_EXTERNAL;
            return KVCAM_OK;
        case KVCAM_PARAM_FORMAT:
            out = l.bayer8.empty() ? KVCAM_FORMAT_MONO16 : KVCAM_FORMAT_BAYER8;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_X:
            out = r.maxW - r.minW;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_Y:
            out = r.maxH - r.minH;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_WIDTH:
            out = r.maxW;
            return KVCAM_OK;
        case KVCAM_PARAM_ROI_HEIGHT:
            out = r.maxH;
            return KVCAM_OK;
        default:
            return KVCAM_ERR_UNKNOWN_ID;
    }
}

}  // namespace kvcam::genicam
