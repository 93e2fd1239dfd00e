// The memory a grabbed sequence takes, and saving it, in a fresh process so nothing else
// inflates the resident set.
//
// grab_memory: a 2 GiB in-memory sequence (256 frames of a 2048 x 2048 16-bit camera, FrameRate
// 0): its pixel bytes over the process's resident growth, from just before the Grab to its
// peak during and after it (VmHWM, reset before the Grab). Higher is better; 1 means the
// sequence costs no more than its pixels.
// sequence_save_vs_direct: the same sequence cut to its first 1 GiB, saved as OME-TIFF,
// against the queued O_DIRECT write of the same bytes to the same file system, with the
// save's durable replace (direct_write.h). Best of two for both.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../store/direct_write.h"
#include "grab_common.h"

namespace {

// A 4.2 Mpixel 12-bit sensor read out at 400 Mpixel/s: about 10.5 ms of readout a frame.
const char* const kCamera =
    "[sensor]\nwidth = 2048\nheight = 2048\nbit_depth = 12\nframe_counter = yes\n"
    "[readout]\nspeeds = 400, 200\n";
constexpr int kExposureUs = 1000;
constexpr int kFrames = 256;       // 2 GiB of 8 MiB frames
constexpr int kSavedFrames = 128;  // 1 GiB
constexpr int kRuns = 2;

// A field of /proc/self/status in bytes (it is given in kB).
long StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size()) * 1024;
    }
    std::fprintf(stderr, "no %s in /proc/self/status\n", field);
    std::exit(1);
}

// Sets the peak resident size back to the current one.
void ResetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

struct MemoryFigure {
    MM_HANDLE image = 0;
    size_t pixelBytes = 0;
    long peakGrowth = 0;
    long endGrowth = 0;
    int lost = 0;
};

MemoryFigure MeasureMemory(ferro::TBXTessvikFerroFW& c) {
    MemoryFigure figure;
    ResetPeakResident();
    const long before = StatusBytes("VmRSS");
    const grabbench::GrabOutcome outcome = grabbench::TimedGrab(c, kFrames, 0, 60);
    figure.endGrowth = StatusBytes("VmRSS") - before;
    figure.peakGrowth = StatusBytes("VmHWM") - before;
    figure.image = outcome.image;
    const grabbench::SequenceCheck check = grabbench::CheckSequence(outcome.image);
    figure.pixelBytes = size_t(check.frames) * check.frameBytes;
    figure.lost = check.lost + int(kFrames - check.frames);
    std::printf(
        "memory: %lld frames of %zu bytes (%.1f MB) in %.3f s, %.2f frames/s from stamps; "
        "resident growth %.1f MB at the end, %.1f MB at the peak; lost %d, out of order %d\n",
        (long long)check.frames, check.frameBytes, figure.pixelBytes / 1e6, outcome.callSeconds,
        grabbench::StampFramesPerSecond(check), figure.endGrowth / 1e6, figure.peakGrowth / 1e6,
        figure.lost, check.repeated);
    if (check.repeated != 0) figure.lost += check.repeated;
    return figure;
}

struct SaveFigure {
    double seconds = 1e30;  // the best save
    directwrite::Baseline baseline;
};

// SaveOmeTiff of `image` into `dir` and the baseline's round of the same `bytes`, in turn,
// best of kRuns for each, so both meet the disk in the same state. Exits when a save fails.
SaveFigure MeasureSave(MM_HANDLE image, size_t bytes, const std::string& dir) {
    const std::string path = dir + "/bench_grab_save.ome.tif";
    SaveFigure figure;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = directwrite::Clock::now();
        const auto saved = bx::mm::SaveOmeTiff(image, path);
        figure.seconds = std::min(figure.seconds, directwrite::Seconds(start));
        unlink(path.c_str());
        if (!saved) {
            std::fprintf(stderr, "save failed: %s\n", saved.error.c_str());
            std::exit(1);
        }
        directwrite::KeepBest(figure.baseline, directwrite::BestBaseline(
                                                   dir, bytes, directwrite::Replace::Durably, 1));
    }
    return figure;
}

}  // namespace

int main() {
    bx::kernel::SetTimeWarp(1);
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    const std::string dir = grabbench::WorkDir();
    auto control = bench::OpenControl(kCamera, kExposureUs);
    const MemoryFigure memory = MeasureMemory(*control);
    // After the memory figure, so its buffers are not counted.
    std::printf("memory: camera back to back %.2f frames/s\n",
                grabbench::CameraFramesPerSecond(control->CameraHandle, 40));

    if (MM_SetSize(memory.image, 2, kSavedFrames) == 0) {
        std::fprintf(stderr, "cannot cut the sequence to %d frames\n", kSavedFrames);
        return 1;
    }
    const size_t savedBytes = memory.pixelBytes / kFrames * kSavedFrames;
    const SaveFigure save = MeasureSave(memory.image, savedBytes, dir);
    MM_DeleteImage(memory.image);
    control.reset();
    KvCamSim_Reset();

    const double gb = double(savedBytes) / 1e9;
    directwrite::PrintBaseline("save baseline (durable replace):", save.baseline, gb);
    std::printf("ratio: grab_memory %.4f (%.1f vs %.1f MB pixel bytes vs peak resident growth)\n",
                double(memory.pixelBytes) / double(memory.peakGrowth), memory.pixelBytes / 1e6,
                memory.peakGrowth / 1e6);
    std::printf("ratio: sequence_save_vs_direct %.3f (%.3f vs %.3f GB/s, %d frames)\n",
                save.baseline.seconds / save.seconds, gb / save.seconds, gb / save.baseline.seconds,
                kSavedFrames);
    return memory.lost == 0 ? 0 : 1;
}
