// libFuzzer target: the simulated camera's description parser. Each input is offered after a
// small known camera was chosen. An accepted text must give a camera whose parameter limits
// are ordered, the region limits too at every binning the camera offers; a refused one must
// say why and keep the known camera. The driver is released after each input.
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kKnown = "[sensor]\nwidth = 40\nheight = 30\n[binning]\ntable = 1, 2\n";

[[noreturn]] void Broken(const char* what, int32_t code = 0) {
    std::fprintf(stderr, "description fuzz: %s (%d; last error \"%s\")\n", what, code,
                 KvCamSim_LastError());
    std::abort();
}

int32_t Info(KvCamHandle handle, uint32_t id) {
    int32_t value = -1;
    if (int32_t rc = KvCam_GetInfo(handle, id, &value); rc != KVCAM_OK) Broken("GetInfo", rc);
    return value;
}

// Every supported parameter's limits, and the region's at each binning factor. `strict`
// when the description arms no faults, so every call must succeed.
void CheckLimits(KvCamHandle handle, KvCamSettings& settings, bool strict) {
    for (uint32_t id = 0; id <= KVCAM_PARAM_ROI_HEIGHT; ++id) {
        if (KvCam_IsParamSupported(handle, id) != KVCAM_OK) continue;
        int32_t lo = 0, hi = 0;
        const int32_t a = KvCam_GetParamMin(&settings, id, &lo);
        const int32_t b = KvCam_GetParamMax(&settings, id, &hi);
        if (a != KVCAM_OK || b != KVCAM_OK) {
            if (strict) Broken("limits of a supported parameter unreadable", int32_t(id));
            continue;
        }
        if (lo > hi) Broken("parameter limits out of order", int32_t(id));
    }

    std::vector<int32_t> factors(KVCAM_MAX_SPARSE_ENTRIES);
    uint32_t n = KVCAM_MAX_SPARSE_ENTRIES;
    if (KvCam_IsSparseTable(&settings, KVCAM_PARAM_BINNING) == KVCAM_OK) {
        if (KvCam_GetParamSparseTable(&settings, KVCAM_PARAM_BINNING, factors.data(), &n) !=
            KVCAM_OK) {
            if (strict) Broken("binning table unreadable");
            return;
        }
        factors.resize(std::min<uint32_t>(n, KVCAM_MAX_SPARSE_ENTRIES));
    } else {
        int32_t lo = 1, hi = 1;
        if (KvCam_GetParamMin(&settings, KVCAM_PARAM_BINNING, &lo) != KVCAM_OK ||
            KvCam_GetParamMax(&settings, KVCAM_PARAM_BINNING, &hi) != KVCAM_OK) {
            if (strict) Broken("binning limits unreadable");
            return;
        }
        factors.clear();
        for (int32_t f = lo; f <= hi && factors.size() < 64; ++f) factors.push_back(f);
    }
    const int32_t sensorW = Info(handle, KVCAM_INFO_CCD_WIDTH);
    const int32_t sensorH = Info(handle, KVCAM_INFO_CCD_HEIGHT);
    for (int32_t f : factors) {
        if (f < 1 || f > sensorW || f > sensorH) Broken("binning factor does not fit", f);
        if (int32_t rc = KvCam_SetParam(&settings, KVCAM_PARAM_BINNING, f); rc != KVCAM_OK) {
            if (strict) Broken("offered binning refused", f);
            continue;
        }
        for (uint32_t id = KVCAM_PARAM_ROI_X; id <= KVCAM_PARAM_ROI_HEIGHT; ++id) {
            int32_t lo = 0, hi = -1;
            if (KvCam_GetParamMin(&settings, id, &lo) != KVCAM_OK ||
                KvCam_GetParamMax(&settings, id, &hi) != KVCAM_OK) {
                if (strict) Broken("region limits unreadable", int32_t(id));
                continue;
            }
            if (lo > hi) Broken("region limits out of order", f);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Faults and an empty camera list make calls fail on purpose.
    const bool strict =
        lower.find("fault") == std::string::npos && lower.find("count") == std::string::npos;

    KvCamSim_Reset();
    if (KvCamSim_UseDescription(kKnown) != KVCAM_OK) Broken("the known camera was refused");
    const int32_t rc = KvCamSim_UseDescription(text.c_str());
    const bool accepted = rc == KVCAM_OK;
    if (accepted != (KvCamSim_LastError()[0] == '\0')) {
        Broken(accepted ? "accepted with a message" : "refused without a message", rc);
    }
    if (!accepted && rc != KVCAM_ERR_OUT_OF_RANGE) Broken("refused with an odd code", rc);

    const int32_t loaded = KvCam_LoadDriver();
    KvCamHandle handle{};
    KvCamSettings settings{};
    settings.size = KVCAM_SETTINGS_SIZE;
    if (loaded != KVCAM_OK || KvCam_OpenCamera(1, &handle) != KVCAM_OK ||
        KvCam_ReadSettingsFromCam(handle, &settings) != KVCAM_OK) {
        if (strict || !accepted) Broken("camera unusable", loaded);
    } else if (accepted) {
        CheckLimits(handle, settings, strict);
    } else if (Info(handle, KVCAM_INFO_CCD_WIDTH) != 40 ||
               Info(handle, KVCAM_INFO_CCD_HEIGHT) != 30) {
        Broken("a refused description replaced the camera");
    }
    KvCam_ReleaseDriver();
    KvCamSim_Reset();
    return 0;
}
