// Description parser: a small INI reader ([section], key = value, ';' or '#' comments) and
// the table that maps each key onto a CameraModel field with its limits.
#include "model.h"

#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

namespace kvcam {

namespace {

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> SplitList(std::string_view s) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string_view::npos) comma = s.size();
        parts.push_back(Trim(s.substr(start, comma - start)));
        start = comma + 1;
    }
    return parts;
}

bool ParseInt(std::string_view s, int64_t& out) {
    std::string t = Trim(s);
    if (t.empty()) return false;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
    return ec == std::errc() && p == t.data() + t.size();
}

bool ParseDouble(std::string_view s, double& out) {
    std::string t = Trim(s);
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && std::isfinite(out);
}

bool ParseBool(std::string_view s, bool& out) {
    std::string t = Lower(Trim(s));
    if (t == "1" || t == "yes" || t == "true" || t == "on") return out = true, true;
    if (t == "0" || t == "no" || t == "false" || t == "off") return out = false, true;
    return false;
}

// Setter for one key: returns an empty string on success, else what is wrong.
using Setter = std::function<std::string(CameraModel&, std::string_view)>;

template <typename T>
Setter IntKey(T CameraModel::*field, int64_t lo, int64_t hi) {
    return [=](CameraModel& m, std::string_view v) -> std::string {
        int64_t x;
        if (!ParseInt(v, x)) return "not an integer";
        if (x < lo || x > hi) {
            return "outside " + std::to_string(lo) + ".." + std::to_string(hi);
        }
        m.*field = static_cast<T>(x);
        return {};
    };
}

Setter BoolKey(bool CameraModel::*field) {
    return [=](CameraModel& m, std::string_view v) -> std::string {
        return ParseBool(v, m.*field) ? std::string() : "not a yes/no value";
    };
}

Setter DoubleKey(double CameraModel::*field, double lo, double hi) {
    return [=](CameraModel& m, std::string_view v) -> std::string {
        double x;
        if (!ParseDouble(v, x)) return "not a number";
        if (x < lo || x > hi) return "out of range";
        m.*field = x;
        return {};
    };
}

Setter TextKey(std::string CameraModel::*field, size_t maxLength) {
    return [=](CameraModel& m, std::string_view v) -> std::string {
        std::string t = Trim(v);
        if (t.size() > maxLength) return "longer than " + std::to_string(maxLength);
        m.*field = t;
        return {};
    };
}

// Milliseconds in the file, microseconds in the model.
Setter MillisecondKey(int64_t CameraModel::*field, int64_t hi) {
    return [=](CameraModel& m, std::string_view v) -> std::string {
        int64_t x;
        if (!ParseInt(v, x) || x < 0 || x > hi) return "not a millisecond count in range";
        m.*field = x * 1000;
        return {};
    };
}

const std::map<std::string, Setter>& Keys() {
    static const std::map<std::string, Setter> keys = {
        {"camera.backend",
         [](CameraModel& m, std::string_view v) -> std::string {
             const std::string t = Lower(Trim(v));
             if (t == "simulated")
                 m.backend = Backend::Simulated;
             else if (t == "genicam")
                 m.backend = Backend::Genicam;
             else
                 return "not simulated or genicam";
             return {};
         }},
        {"camera.device", TextKey(&CameraModel::device, 255)},
        {"genicam.frame_rate", DoubleKey(&CameraModel::frameRate, 0.0, 1e6)},
        {"camera.type", IntKey(&CameraModel::type, 0, 255)},
        {"camera.model", TextKey(&CameraModel::model, 31)},
        {"camera.serial", TextKey(&CameraModel::serial, 12)},
        {"camera.count", IntKey(&CameraModel::count, 0, 8)},
        {"camera.hardware_version", IntKey(&CameraModel::hardwareVersion, 0, INT32_MAX)},
        {"camera.firmware_version", IntKey(&CameraModel::firmwareVersion, 0, INT32_MAX)},
        {"camera.firmware_build", IntKey(&CameraModel::firmwareBuild, 0, INT32_MAX)},
        {"camera.model_b", BoolKey(&CameraModel::modelB)},
        {"camera.cooler", BoolKey(&CameraModel::cooler)},
        {"camera.horizontal_binning", BoolKey(&CameraModel::horizontalBinning)},
        {"driver.version",
         [](CameraModel& m, std::string_view v) -> std::string {
             std::string t = Trim(v);
             size_t dot = t.find('.');
             int64_t major, minor;
             if (dot == std::string::npos || !ParseInt(t.substr(0, dot), major) ||
                 !ParseInt(t.substr(dot + 1), minor) || major < 0 || major > 65535 || minor < 0 ||
                 minor > 65535) {
                 return "not major.minor";
             }
             m.versionMajor = static_cast<uint16_t>(major);
             m.versionMinor = static_cast<uint16_t>(minor);
             return {};
         }},
        {"sensor.width", IntKey(&CameraModel::width, 16, 8192)},
        {"sensor.height", IntKey(&CameraModel::height, 16, 8192)},
        {"sensor.colour", BoolKey(&CameraModel::colour)},
        {"sensor.bit_depth", IntKey(&CameraModel::bitDepth, 8, 16)},
        {"sensor.e_per_dn", DoubleKey(&CameraModel::electronsPerDn, 0.01, 1e9)},
        {"sensor.read_noise", DoubleKey(&CameraModel::readNoiseDn, 0.0, 1000.0)},
        {"sensor.blob_level", DoubleKey(&CameraModel::blobLevel, 0.0, 100.0)},
        {"sensor.reference_exposure_us", IntKey(&CameraModel::referenceExposureUs, 1, 2147483647)},
        {"sensor.frame_counter", BoolKey(&CameraModel::frameCounter)},
        {"sensor.seed", IntKey(&CameraModel::seed, 0, UINT32_MAX)},
        {"binning.kind",
         [](CameraModel& m, std::string_view v) -> std::string {
             std::string t = Lower(Trim(v));
             if (t == "sparse")
                 m.binningKind = BinningKind::Sparse;
             else if (t == "range")
                 m.binningKind = BinningKind::Range;
             else if (t == "none")
                 m.binningKind = BinningKind::None;
             else
                 return "not sparse, range or none";
             return {};
         }},
        {"binning.table",
         [](CameraModel& m, std::string_view v) -> std::string {
             std::vector<int32_t> table;
             for (const std::string& part : SplitList(v)) {
                 int64_t x;
                 if (!ParseInt(part, x) || x < 1 || x > 64) return "not a list of 1..64";
                 if (!table.empty() && x <= table.back()) return "not ascending";
                 table.push_back(static_cast<int32_t>(x));
             }
             if (table.size() > KVCAM_MAX_SPARSE_ENTRIES) return "more than 32 entries";
             m.binningTable = table;
             return {};
         }},
        {"binning.min", IntKey(&CameraModel::binningMin, 1, 64)},
        {"binning.max", IntKey(&CameraModel::binningMax, 1, 64)},
        {"exposure.min_us", IntKey(&CameraModel::exposureMinUs, 1, 2147483647)},
        {"exposure.max_us", IntKey(&CameraModel::exposureMaxUs, 1, 2147483647)},
        {"exposure.quantum_us", IntKey(&CameraModel::exposureQuantumUs, 1, 1000000)},
        {"readout.speeds",
         [](CameraModel& m, std::string_view v) -> std::string {
             std::vector<double> speeds;
             for (const std::string& part : SplitList(v)) {
                 double x;
                 if (!ParseDouble(part, x) || x < 0.001 || x > 10000) {
                     return "not a list of Mpixel/s rates";
                 }
                 speeds.push_back(x);
             }
             if (speeds.size() > 16) return "more than 16 speeds";
             m.readoutMpixPerSecond = speeds;
             return {};
         }},
        {"trigger.external_period_ms",
         MillisecondKey(&CameraModel::externalTriggerPeriodUs, 3600000)},
        {"trigger.grab_timeout_ms", MillisecondKey(&CameraModel::grabTimeoutUs, 3600000)},
        {"defaults.gain", IntKey(&CameraModel::defaultGain, 0, 4095)},
        {"defaults.offset", IntKey(&CameraModel::defaultOffset, 0, 4095)},
        {"defaults.exposure_us", IntKey(&CameraModel::defaultExposureUs, 1, 2147483647)},
        {"defaults.binning", IntKey(&CameraModel::defaultBinning, 1, 64)},
        {"defaults.readout_speed", IntKey(&CameraModel::defaultReadoutSpeed, 0, 15)},
        {"defaults.trigger", IntKey(&CameraModel::defaultTrigger, 0, 5)},
        {"defaults.format", IntKey(&CameraModel::defaultFormat, 2, 4)},
    };
    return keys;
}

// "[faults]" entries: point[.id] = count|always [, code [, skip]]
std::string ParseFault(std::string_view key, std::string_view value, FaultRule& rule) {
    std::string name(key);
    size_t dot = name.find('.');
    if (dot != std::string::npos) {
        int64_t id;
        if (!ParseInt(name.substr(dot + 1), id) || id < 0 || id > 255) return "bad id";
        rule.id = static_cast<int32_t>(id);
        name.resize(dot);
    }
    rule.point = FaultPointByName(name);
    if (rule.point < 0) return "unknown fault point";
    std::vector<std::string> parts = SplitList(value);
    if (parts.size() > 3) return "more than count, code, skip";
    int64_t x;
    if (Lower(parts[0]) == "always")
        rule.count = KVCAMSIM_ALWAYS;
    else if (ParseInt(parts[0], x) && x >= 0 && x <= INT32_MAX)
        rule.count = int32_t(x);
    else
        return "count is not a number or 'always'";
    if (parts.size() > 1) {
        if (!ParseInt(parts[1], x) || x < 0 || x > INT32_MAX) return "bad code";
        rule.code = static_cast<int32_t>(x);
    }
    if (parts.size() > 2) {
        if (!ParseInt(parts[2], x) || x < 0 || x > INT32_MAX) return "bad skip";
        rule.skip = static_cast<int32_t>(x);
    }
    return {};
}

// What makes a parsed camera inconsistent, and the keys that set it up, most telling first.
struct Inconsistency {
    std::string what;
    std::vector<const char*> keys;
};

std::optional<Inconsistency> CheckConsistency(const CameraModel& m) {
    if (m.colour && (m.width % 2 != 0 || m.height % 2 != 0)) {
        return Inconsistency{"a colour sensor needs an even width and height",
                             {m.width % 2 ? "sensor.width" : "sensor.height", "sensor.colour"}};
    }
    if (m.exposureMinUs > m.exposureMaxUs) {
        return Inconsistency{"min_us above max_us", {"exposure.min_us", "exposure.max_us"}};
    }
    if (m.binningMin > m.binningMax) {
        return Inconsistency{"binning min above max", {"binning.min", "binning.max"}};
    }
    if (m.binningTable.empty()) return Inconsistency{"binning table is empty", {"binning.table"}};
    // Every factor the camera offers applies to both axes (the square parameter sets both), so
    // none may be larger than the shorter side: a bin must fit on the sensor.
    const int32_t largest =
        m.binningKind == BinningKind::Sparse ? m.binningTable.back() : m.binningMax;
    if (largest > std::min(m.width, m.height)) {
        const bool byWidth = largest > m.width;
        return Inconsistency{
            "binning factor " + std::to_string(largest) + " is larger than the sensor " +
                (byWidth ? "width " + std::to_string(m.width)
                         : "height " + std::to_string(m.height)),
            {m.binningKind == BinningKind::Sparse ? "binning.table" : "binning.max", "binning.kind",
             byWidth ? "sensor.width" : "sensor.height"}};
    }
    if (m.readoutMpixPerSecond.empty()) {
        return Inconsistency{"no readout speeds", {"readout.speeds"}};
    }
    if (m.defaultReadoutSpeed >= static_cast<int32_t>(m.readoutMpixPerSecond.size())) {
        return Inconsistency{"no readout speed with this index",
                             {"defaults.readout_speed", "readout.speeds"}};
    }
    if (m.defaultTrigger != 0 && m.defaultTrigger != 3 && m.defaultTrigger != 5) {
        return Inconsistency{"not 0, 3 or 5", {"defaults.trigger"}};
    }
    if (m.defaultFormat == KVCAM_FORMAT_BAYER8 && !m.colour) {
        return Inconsistency{"format 4 needs a colour sensor",
                             {"defaults.format", "sensor.colour"}};
    }
    return std::nullopt;
}

// "[section] key" as a message names it.
std::string KeyName(std::string_view section, std::string_view key) {
    // Appended piecewise: GCC 12 at -O3 misreads "[" + string as an overlapping copy.
    std::string name = "[";
    name += section;
    name += "] ";
    name += key;
    return name;
}

}  // namespace

bool IsFeatureQuantity(std::string_view quantity) {
    static const char* const kQuantities[] = {"vendor",
                                              "model",
                                              "serial",
                                              "firmware",
                                              "sensor_width",
                                              "sensor_height",
                                              "width",
                                              "height",
                                              "offset_x",
                                              "offset_y",
                                              "binning_horizontal",
                                              "binning_vertical",
                                              "exposure",
                                              "gain",
                                              "black_level",
                                              "pixel_format",
                                              "readout_speed",
                                              "trigger_selector",
                                              "trigger_mode",
                                              "trigger_source",
                                              "trigger_software",
                                              "trigger_line",
                                              "acquisition_mode",
                                              "frame_rate",
                                              "temperature"};
    for (const char* q : kQuantities)
        if (quantity == q) return true;
    return false;
}

bool CameraModel::BinningAllowed(int32_t b) const {
    switch (binningKind) {
        case BinningKind::Sparse:
            return std::find(binningTable.begin(), binningTable.end(), b) != binningTable.end();
        case BinningKind::Range:
        case BinningKind::None:
            return b >= binningMin && b <= binningMax;
    }
    return false;
}

int32_t FaultPointByName(std::string_view name) {
    static const std::map<std::string, int32_t, std::less<>> points = {
        {"load", KVCAMSIM_FAULT_LOAD},
        {"list", KVCAMSIM_FAULT_LIST},
        {"open", KVCAMSIM_FAULT_OPEN},
        {"close", KVCAMSIM_FAULT_CLOSE},
        {"read_settings", KVCAMSIM_FAULT_READ_SETTINGS},
        {"read_defaults", KVCAMSIM_FAULT_READ_DEFAULTS},
        {"send_settings", KVCAMSIM_FAULT_SEND_SETTINGS},
        {"send_region", KVCAMSIM_FAULT_SEND_REGION},
        {"set_param", KVCAMSIM_FAULT_SET_PARAM},
        {"get_info", KVCAMSIM_FAULT_GET_INFO},
        {"get_min", KVCAMSIM_FAULT_GET_MIN},
        {"get_max", KVCAMSIM_FAULT_GET_MAX},
        {"grab", KVCAMSIM_FAULT_GRAB},
        {"queue", KVCAMSIM_FAULT_QUEUE},
        {"frame_error", KVCAMSIM_FAULT_FRAME_ERROR},
        {"frame_lost", KVCAMSIM_FAULT_FRAME_LOST},
    };
    auto it = points.find(name);
    return it == points.end() ? -1 : it->second;
}

bool ParseDescription(std::string_view ini, CameraModel& model, std::string& error,
                      std::string_view origin) {
    CameraModel m = model;
    std::string section;
    std::map<std::string, int> lineOf;  // "section.key" -> line that set it
    int lineNumber = 0;
    size_t pos = 0;
    auto fail = [&](int line, const std::string& what) {
        error = std::string(origin) + ":" + std::to_string(line) + ": " + what;
        return false;
    };
    while (pos < ini.size()) {
        size_t eol = ini.find('\n', pos);
        if (eol == std::string_view::npos) eol = ini.size();
        std::string line = Trim(ini.substr(pos, eol - pos));
        pos = eol + 1;
        ++lineNumber;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail(lineNumber, line + ": unclosed section name");
            section = Lower(Trim(std::string_view(line).substr(1, line.size() - 2)));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(lineNumber, line + ": expected key = value");
        std::string key = Lower(Trim(std::string_view(line).substr(0, eq)));
        std::string value = Trim(std::string_view(line).substr(eq + 1));
        // A comment may follow the value.
        size_t comment = value.find_first_of(";#");
        if (comment != std::string::npos) value = Trim(value.substr(0, comment));
        if (section == "features") {
            const bool name =
                !value.empty() && value.find_first_not_of(
                                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789_") == std::string::npos;
            if (!IsFeatureQuantity(key))
                return fail(lineNumber, KeyName(section, key) + ": unknown quantity");
            if (!name) return fail(lineNumber, KeyName(section, key) + ": not a feature name");
            m.featureNames[key] = value;
            continue;
        }
        if (section == "faults") {
            FaultRule rule;
            std::string problem = ParseFault(key, value, rule);
            if (!problem.empty()) return fail(lineNumber, KeyName(section, key) + ": " + problem);
            m.faults.push_back(rule);
            continue;
        }
        auto it = Keys().find(section + "." + key);
        if (it == Keys().end()) return fail(lineNumber, KeyName(section, key) + ": unknown key");
        std::string problem = it->second(m, value);
        if (!problem.empty()) return fail(lineNumber, KeyName(section, key) + ": " + problem);
        lineOf[it->first] = lineNumber;
    }
    if (!m.BinningAllowed(m.defaultBinning)) {
        // The factory binning follows a binning table or range that leaves out 1.
        m.defaultBinning =
            m.binningKind == BinningKind::Sparse ? m.binningTable.front() : m.binningMin;
    }
    if (std::optional<Inconsistency> bad = CheckConsistency(m)) {
        // Blame the most telling key the text set; the embedded default is consistent, so the
        // text set at least one of them.
        for (const char* name : bad->keys) {
            auto line = lineOf.find(name);
            if (line == lineOf.end()) continue;
            const std::string_view full(name);
            const size_t dot = full.find('.');
            return fail(line->second,
                        KeyName(full.substr(0, dot), full.substr(dot + 1)) + ": " + bad->what);
        }
        error = std::string(origin) + ": " + bad->what;
        return false;
    }
    model = std::move(m);
    error.clear();
    return true;
}

}  // namespace kvcam
