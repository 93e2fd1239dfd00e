// Sequence acquisition (Grab) against the camera it acquires from, on the real clock.
//
// grab_rate: 1,000 full frames at FrameRate 0 (as fast as the camera delivers), 1 ms
// exposure, into memory: frames per second from the image's stamps, against the rate at
// which the same camera delivers frames queued back to back straight through the driver
// (measured just before, in the same run). The camera writes its frame number into every
// frame, so the stored frames also tell how many were lost.
// grab_disk_rate: the same sequence onto the disk device (a file on the build directory's
// file system), against the same camera rate. The queued O_DIRECT write of the same bytes to
// the same file system (direct_write.h) is printed with it, for what the disk could take.
// interval_jitter: 200 frames at a 50 ms interval: the 99th percentile of |stamp spacing -
// 50 ms|, reported as 1 ms over it (higher is better).
//
// No view is attached: what a view does with the frames it is shown is the host's cost.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../store/direct_write.h"
#include "grab_common.h"

namespace {

// A 1.4 Mpixel 12-bit sensor read out at 400 Mpixel/s: about 3.6 ms of readout a frame.
const char* const kCamera =
    "[sensor]\nwidth = 1392\nheight = 1040\nbit_depth = 12\nframe_counter = yes\n"
    "[readout]\nspeeds = 400, 200\n";
constexpr int kExposureUs = 1000;
constexpr int kRateFrames = 1000;
constexpr int kBaselineFrames = 120;
constexpr int kJitterFrames = 200;
constexpr int kJitterIntervalMs = 50;

struct RateFigure {
    double oursFps = 0;
    double cameraFps = 0;
    int lost = 0;
    int repeated = 0;
    size_t bytes = 0;  // pixel bytes of the sequence
};

// One 1,000-frame sequence at FrameRate 0, in memory or (with `device`) on the disk device.
RateFigure MeasureRate(ferro::TBXTessvikFerroFW& c, const char* label, const std::string& device) {
    RateFigure figure;
    figure.cameraFps = grabbench::CameraFramesPerSecond(c.CameraHandle, kBaselineFrames);
    if (!device.empty() && !bx::mm::ConfigureDisk(device, 4096)) {
        std::fprintf(stderr, "cannot configure the disk device %s\n", device.c_str());
        std::exit(1);
    }
    KvCamSimCounters before{}, after{};
    KvCamSim_GetCounters(c.CameraHandle, &before);
    const grabbench::GrabOutcome outcome = grabbench::TimedGrab(c, kRateFrames, 0, 120);
    KvCamSim_GetCounters(c.CameraHandle, &after);
    const grabbench::SequenceCheck check = grabbench::CheckSequence(outcome.image);
    figure.oursFps = grabbench::StampFramesPerSecond(check);
    figure.lost = check.lost + int(kRateFrames - check.frames);
    figure.repeated = check.repeated;
    figure.bytes = size_t(check.frames) * check.frameBytes;
    std::printf(
        "%s: %lld frames of %zu bytes; from stamps %.2f frames/s, from progress reports %.2f "
        "frames/s, whole call %.3f s; camera back to back %.2f frames/s\n",
        label, (long long)check.frames, check.frameBytes, figure.oursFps,
        grabbench::ProgressFramesPerSecond(outcome), outcome.callSeconds, figure.cameraFps);
    std::printf(
        "%s: lost %d, out of order %d; camera queued frames completed %u, failed %u, aborted "
        "%u; single grabs %u\n",
        label, figure.lost, figure.repeated, after.completed - before.completed,
        after.failed - before.failed, after.aborted - before.aborted,
        after.grabbed - before.grabbed);
    MM_DeleteImage(outcome.image);
    if (!device.empty()) {
        MM_WaitForTransfer();
        bx::mm::CloseDisk();
        unlink(device.c_str());
    }
    return figure;
}

struct JitterFigure {
    double p99Ms = 0;
    double resolutionMs = 0;  // of the stamps: 1 when they are whole milliseconds
    int lost = 0;
};

// The worst few spacings, with the frame that ends each, for the info line.
std::string WorstSpacings(const std::vector<double>& spacings, size_t count) {
    std::vector<size_t> order(spacings.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    auto deviation = [&](size_t k) { return std::fabs(spacings[k] - kJitterIntervalMs); };
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return deviation(a) > deviation(b); });
    std::string text;
    for (size_t i = 0; i < std::min(count, order.size()); ++i) {
        char item[64];
        std::snprintf(item, sizeof item, "%sframe %zu: %.3f ms", i ? ", " : "", order[i] + 1,
                      spacings[order[i]]);
        text += item;
    }
    return text;
}

JitterFigure MeasureJitter(ferro::TBXTessvikFerroFW& c) {
    const grabbench::GrabOutcome outcome =
        grabbench::TimedGrab(c, kJitterFrames, kJitterIntervalMs, 60);
    const grabbench::SequenceCheck check = grabbench::CheckSequence(outcome.image);
    std::vector<double> spacings, deviations, progressDeviations;
    bool whole = true;
    for (size_t k = 0; k < check.stampsMs.size(); ++k) {
        whole = whole && check.stampsMs[k] == std::floor(check.stampsMs[k]);
        if (k == 0) continue;
        spacings.push_back(check.stampsMs[k] - check.stampsMs[k - 1]);
        deviations.push_back(std::fabs(spacings.back() - kJitterIntervalMs));
    }
    for (size_t k = 1; k < outcome.progressAt.size(); ++k) {
        if (outcome.progressAt[k] == 0 || outcome.progressAt[k - 1] == 0) continue;
        const double spacing = double(outcome.progressAt[k] - outcome.progressAt[k - 1]) / 1e3;
        progressDeviations.push_back(std::fabs(spacing - kJitterIntervalMs));
    }
    JitterFigure figure;
    figure.p99Ms = grabbench::Percentile(deviations, 0.99);
    figure.resolutionMs = whole ? 1.0 : 0.001;
    figure.lost = check.lost + int(kJitterFrames - check.frames);
    std::printf(
        "interval: %lld frames at %d ms; stamp spacing median %.3f ms, p99 |dev| %.3f ms "
        "(stamps in steps of %.3f ms); progress reports p99 |dev| %.3f ms; lost %d, out of "
        "order %d\n",
        (long long)check.frames, kJitterIntervalMs, grabbench::Percentile(spacings, 0.5),
        figure.p99Ms, figure.resolutionMs, grabbench::Percentile(progressDeviations, 0.99),
        figure.lost, check.repeated);
    std::printf("interval: worst spacings %s\n", WorstSpacings(spacings, 4).c_str());
    MM_DeleteImage(outcome.image);
    return figure;
}

// The ratio line: 1 ms over the p99. A p99 below the stamps' resolution counts as that
// resolution, so whole-millisecond stamps never claim better than 1.
void PrintJitter(const JitterFigure& jitter) {
    const double p99 = std::max(jitter.p99Ms, jitter.resolutionMs);
    std::printf("ratio: interval_jitter %.3f (%.3f ms p99 |spacing - 50 ms|%s vs 1 ms; %d lost)\n",
                1.0 / p99, jitter.p99Ms, jitter.p99Ms < p99 ? ", below the stamps' step" : "",
                jitter.lost);
}

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1);
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    const std::string dir = grabbench::WorkDir();
    auto control = bench::OpenControl(kCamera, kExposureUs);
    ferro::TBXTessvikFerroFW& c = *control;
    std::printf("camera %dx%d, image %dx%d, exposure %d us\n", c.CcdWidth, c.CcdHeight,
                c.ImageWidth.load(), c.ImageHeight.load(), c.ExposureTime.load());

    const RateFigure memory = MeasureRate(c, "memory", "");
    const RateFigure disk = MeasureRate(c, "disk", dir + "/bench_grab_device.img");
    const directwrite::Baseline write =
        directwrite::BestBaseline(dir, disk.bytes, directwrite::Replace::No, 1);
    const JitterFigure jitter = MeasureJitter(c);
    control.reset();
    KvCamSim_Reset();

    const double gb = double(disk.bytes) / 1e9;
    directwrite::PrintBaseline("disk write baseline:", write, gb);
    std::printf("info: disk sequence wrote %.3f GB/s (%.3f GB at %.2f frames/s)\n",
                gb * disk.oursFps / kRateFrames, gb, disk.oursFps);
    std::printf("ratio: grab_rate %.4f (%.2f vs %.2f frames/s; %d lost)\n",
                memory.oursFps / memory.cameraFps, memory.oursFps, memory.cameraFps, memory.lost);
    std::printf("ratio: grab_disk_rate %.4f (%.2f vs %.2f frames/s; %d lost)\n",
                disk.oursFps / disk.cameraFps, disk.oursFps, disk.cameraFps, disk.lost);
    PrintJitter(jitter);
    const bool clean = memory.lost + memory.repeated + disk.lost + disk.repeated + jitter.lost == 0;
    return clean ? 0 : 1;
}
