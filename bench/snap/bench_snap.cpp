// Snap overhead: how close a Snap comes to the time the camera and the camera commands force
// on it. The baseline, computed for the same run's settings, is the simulated frame time
// (exposure as the camera took it plus the readout of the full frame at the readout rate) and
// the fixed 5 ms pauses of the three commands each region application re-sends (two region
// applications per Snap). Ours is the measured wall time of a Snap, median of several. No view
// is attached: what a view does with the image it is given is the host's cost, and the
// headless view's deep copy of every frame would be counted against the control. Runs on the
// real clock (no time warp).
#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"

namespace {

constexpr int kSnaps = 9;
constexpr double kReadoutMpixPerSecond = 20.0;  // speed 0, chosen by the "Fast" box
constexpr double kCommandPausesMs = 2 * 3 * 5.0;

const char* const kMono =
    "[sensor]\nwidth = 1392\nheight = 1040\nbit_depth = 12\n[readout]\nspeeds = 20, 10\n";
const char* const kColour =
    "[camera]\ntype = 4\n[sensor]\nwidth = 1392\nheight = 1040\ncolour = yes\n"
    "[readout]\nspeeds = 20, 10\n";

struct Figure {
    double oursMs = 0;
    double baselineMs = 0;
};

bool Measure(const char* description, bool colour, Figure& figure) {
    KvCamSim_Reset();
    if (KvCamSim_UseDescription(description) != KVCAM_OK) {
        std::fprintf(stderr, "bad camera description: %s\n", KvCamSim_LastError());
        return false;
    }
    auto control = std::make_unique<ferro::TBXTessvikFerroFW>();
    control->InitialiseArmed = true;
    control->Initialise();
    if (!control->SessionOpen) {
        std::fprintf(stderr, "camera did not open\n");
        return false;
    }
    if (colour) control->chk_Color->SetChecked(true);

    std::vector<double> times;
    for (int i = 0; i <= kSnaps; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int32_t image = control->Snap();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (image == 0 || control->LastCameraError != KVCAM_OK) {
            std::fprintf(stderr, "snap failed (%d)\n", control->LastCameraError.load());
            return false;
        }
        MM_DeleteImage(static_cast<MM_HANDLE>(image));
        if (i > 0) times.push_back(ms);  // the first one warms caches and allocators
    }
    std::sort(times.begin(), times.end());
    figure.oursMs = times[times.size() / 2];

    KvCamSettings settings{};
    settings.size = KVCAM_SETTINGS_SIZE;
    int32_t exposureUs = 0;
    KvCam_ReadSettingsFromCam(control->CameraHandle, &settings);
    KvCam_GetParam(&settings, KVCAM_PARAM_EXPOSURE, &exposureUs);
    const double readoutUs =
        std::ceil(double(control->CcdWidth) * control->CcdHeight / kReadoutMpixPerSecond);
    figure.baselineMs = (exposureUs + readoutUs) / 1000.0 + kCommandPausesMs;
    control.reset();
    KvCamSim_Reset();
    return true;
}

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1);
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    Figure mono, colour;
    if (!Measure(kMono, false, mono) || !Measure(kColour, true, colour)) return 1;
    std::printf("ratio: snap_overhead_mono %.3f (%.2f vs %.2f ms)\n", mono.baselineMs / mono.oursMs,
                mono.oursMs, mono.baselineMs);
    std::printf("ratio: snap_overhead_colour %.3f (%.2f vs %.2f ms)\n",
                colour.baselineMs / colour.oursMs, colour.oursMs, colour.baselineMs);
    return 0;
}
