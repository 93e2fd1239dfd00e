#include "genicam/features.h"

#include <cmath>

namespace kvcam::genicam {
namespace {

// The standard names of each quantity, most usual first; cameras of the older naming carry
// the "Abs"/"Raw" forms.
const std::map<std::string, std::vector<std::string>>& Candidates() {
    static const std::map<std::string, std::vector<std::string>> candidates = {
        {"vendor", {"DeviceVendorName"}},
        {"model", {"DeviceModelName"}},
        {"serial", {"DeviceSerialNumber", "DeviceID"}},
        {"firmware", {"DeviceFirmwareVersion", "DeviceVersion"}},
        {"sensor_width", {"SensorWidth", "WidthMax"}},
        {"sensor_height", {"SensorHeight", "HeightMax"}},
        {"width", {"Width"}},
        {"height", {"Height"}},
        {"offset_x", {"OffsetX"}},
        {"offset_y", {"OffsetY"}},
        {"binning_horizontal", {"BinningHorizontal"}},
        {"binning_vertical", {"BinningVertical"}},
        {"exposure", {"ExposureTime", "ExposureTimeAbs"}},
        {"gain", {"Gain", "GainRaw"}},
        {"black_level", {"BlackLevel", "BlackLevelRaw"}},
        {"pixel_format", {"PixelFormat"}},
        {"readout_speed", {"ReadoutSpeed"}},
        {"trigger_selector", {"TriggerSelector"}},
        {"trigger_mode", {"TriggerMode"}},
        {"trigger_source", {"TriggerSource"}},
        {"trigger_software", {"TriggerSoftware"}},
        {"trigger_line", {}},  // an entry of trigger_source, not a feature
        {"acquisition_mode", {"AcquisitionMode"}},
        {"frame_rate", {"AcquisitionFrameRate", "AcquisitionFrameRateAbs"}},
        {"temperature", {"DeviceTemperature"}},
    };
    return candidates;
}

const std::string kNone;

}  // namespace

bool Features::Resolve(ArvDevice* device, const std::map<std::string, std::string>& overrides,
                       std::string& error) {
    device_ = device;
    names_.clear();
    auto available = [&](const std::string& name) {
        return arv_device_get_feature(device, name.c_str()) != nullptr &&
               arv_device_is_feature_available(device, name.c_str(), nullptr);
    };
    for (const auto& [quantity, names] : Candidates()) {
        auto given = overrides.find(quantity);
        if (given != overrides.end() && quantity != "trigger_line") {
            if (!available(given->second)) {
                error = "genicam: the camera has no feature '" + given->second + "' ([features] " +
                        quantity + ")";
                return false;
            }
            names_[quantity] = given->second;
            continue;
        }
        for (const std::string& name : names) {
            if (!available(name)) continue;
            names_[quantity] = name;
            break;
        }
    }
    return true;
}

const std::string& Features::Name(const std::string& quantity) const {
    auto it = names_.find(quantity);
    return it == names_.end() ? kNone : it->second;
}

bool Features::Check(GError* error, const std::string& feature) {
    if (error == nullptr) return true;
    lastError_ = feature + ": " + error->message;
    g_error_free(error);
    return false;
}

bool Features::ReadNumber(const std::string& quantity, double& value) {
    const std::string& name = Name(quantity);
    if (name.empty()) return false;
    GError* error = nullptr;
    ArvGcNode* node = arv_device_get_feature(device_, name.c_str());
    if (ARV_IS_GC_FLOAT(node)) {
        value = arv_device_get_float_feature_value(device_, name.c_str(), &error);
    } else {
        value = static_cast<double>(
            arv_device_get_integer_feature_value(device_, name.c_str(), &error));
    }
    return Check(error, name);
}

bool Features::WriteNumber(const std::string& quantity, double value) {
    const std::string& name = Name(quantity);
    if (name.empty()) return false;
    GError* error = nullptr;
    ArvGcNode* node = arv_device_get_feature(device_, name.c_str());
    if (ARV_IS_GC_FLOAT(node)) {
        arv_device_set_float_feature_value(device_, name.c_str(), value, &error);
    } else {
        arv_device_set_integer_feature_value(device_, name.c_str(),
                                             static_cast<gint64>(std::llround(value)), &error);
    }
    return Check(error, name);
}

Bounds Features::BoundsOf(const std::string& quantity) {
    Bounds b;
    const std::string& name = Name(quantity);
    if (name.empty()) return b;
    GError* error = nullptr;
    ArvGcNode* node = arv_device_get_feature(device_, name.c_str());
    b.isFloat = ARV_IS_GC_FLOAT(node);
    if (b.isFloat) {
        arv_device_get_float_feature_bounds(device_, name.c_str(), &b.min, &b.max, &error);
        if (Check(error, name)) {
            const double inc =
                arv_device_get_float_feature_increment(device_, name.c_str(), &error);
            // Cameras without an increment answer an error or the smallest double: any
            // value goes.
            b.inc = Check(error, name) && std::isfinite(inc) && inc >= 1e-3 ? inc : 0;
            b.present = true;
        }
        return b;
    }
    gint64 lo = 0, hi = 0;
    arv_device_get_integer_feature_bounds(device_, name.c_str(), &lo, &hi, &error);
    if (!Check(error, name)) return b;
    const gint64 inc = arv_device_get_integer_feature_increment(device_, name.c_str(), &error);
    b.inc = Check(error, name) && inc > 0 ? static_cast<double>(inc) : 1;
    b.min = static_cast<double>(lo);
    b.max = static_cast<double>(hi);
    b.present = true;
    return b;
}

bool Features::ReadText(const std::string& quantity, std::string& value) {
    const std::string& name = Name(quantity);
    if (name.empty()) return false;
    GError* error = nullptr;
    const char* text = arv_device_get_string_feature_value(device_, name.c_str(), &error);
    if (!Check(error, name)) return false;
    value = text ? text : "";
    return true;
}

bool Features::WriteEntry(const std::string& quantity, const std::string& entry) {
    const std::string& name = Name(quantity);
    if (name.empty()) return false;
    GError* error = nullptr;
    arv_device_set_string_feature_value(device_, name.c_str(), entry.c_str(), &error);
    return Check(error, name);
}

std::vector<std::string> Features::Entries(const std::string& quantity) {
    std::vector<std::string> entries;
    const std::string& name = Name(quantity);
    if (name.empty()) return entries;
    GError* error = nullptr;
    guint count = 0;
    const char** values = arv_device_dup_available_enumeration_feature_values_as_strings(
        device_, name.c_str(), &count, &error);
    if (Check(error, name) && values != nullptr) {
        for (guint i = 0; i < count; ++i) entries.emplace_back(values[i]);
    }
    g_free(values);
    return entries;
}

bool Features::Execute(const std::string& quantity) {
    const std::string& name = Name(quantity);
    if (name.empty()) return false;
    GError* error = nullptr;
    arv_device_execute_command(device_, name.c_str(), &error);
    return Check(error, name);
}

}  // namespace kvcam::genicam
