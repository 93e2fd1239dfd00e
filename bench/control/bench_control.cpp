// command_overhead: each camera command must pause 5 ms after talking to the camera (a region
// change re-sends gain, offset and exposure, so it pauses 15 ms). This measures how close the
// commands come to those fixed pauses on the simulated camera: pauses / wall time, per command.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam_sim.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"

namespace {

struct Figure {
    std::string name;
    double pausesMs;
    double measuredMs;
};

double MeanMs(int runs, const std::function<void(int)>& command) {
    command(0);  // warm-up
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= runs; ++i) command(i);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(t1 - t0).count() / runs;
}

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1);
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    KvCamSim_Reset();

    ferro::TBXTessvikFerroFW control;
    control.InitialiseArmed = true;
    control.Initialise();
    if (!control.SessionOpen) {
        std::fprintf(stderr, "bench_control: the simulated camera did not open\n");
        return 1;
    }

    constexpr int kRuns = 200;
    std::vector<Figure> figures = {
        {"gain", 5, MeanMs(kRuns, [&](int i) { control.SetCameraGain(100 + i % 2); })},
        {"offset", 5, MeanMs(kRuns, [&](int i) { control.SetCameraOffset(10 + i % 2); })},
        {"exposure", 5,
         MeanMs(kRuns, [&](int i) { control.SetCameraExposure(1000 + 10 * (i % 2)); })},
        {"region", 15, MeanMs(kRuns / 4, [&](int) { control.ApplyRegion(); })},
    };

    int status = 0;
    for (const Figure& f : figures) {
        std::printf("%-9s %7.3f ms per command (fixed pauses %4.1f ms)\n", f.name.c_str(),
                    f.measuredMs, f.pausesMs);
        if (control.LastCameraError != 0) status = 1;
    }
    for (const Figure& f : figures) {
        std::printf("ratio: command_overhead_%s %.3f (%.3f vs %.3f ms)\n", f.name.c_str(),
                    f.pausesMs / f.measuredMs, f.pausesMs, f.measuredMs);
    }
    return status;
}
