#include "device.h"

#include <cstdlib>

namespace bxgrab {

namespace {
constexpr const char* kGenicamPrefix = "genicam:";
}

std::string DeviceProblem(const std::string& device) {
    if (device == "simulated") return "";
    if (device.rfind(kGenicamPrefix, 0) == 0) {
        if (device.size() > std::string(kGenicamPrefix).size()) return "";
        return "the device needs an Aravis device id after genicam: (genicam:Fake_1, "
               "genicam:192.168.1.20, ...)";
    }
    return "the device must be 'simulated' or 'genicam:<device id>', not '" + device + "'";
}

void UseDevice(const std::string& device) {
    ::setenv("KVCAM_DEVICE", device.c_str(), 1);
}

bool GenicamChosen() {
    const char* device = std::getenv("KVCAM_DEVICE");
    return device != nullptr && std::string(device).rfind(kGenicamPrefix, 0) == 0;
}

}  // namespace bxgrab
