// Image store benchmarks: streaming frames to the disk device, saving a long sequence as
// OME-TIFF, and the resident memory of an in-memory sequence.
//
// The baseline for both write figures is the disk's best, measured in this run: the queued
// O_DIRECT sequential write of direct_write.h, of the same number of bytes to the same file
// system (the plain single-request loop is printed alongside as an info line).
// A save writes a temporary file, fsyncs it, renames it over the target and fsyncs the
// folder, so the save's baseline does that same durable work with plain POSIX calls; the
// streaming baseline stays a bare direct write, as the device file is written in place.
// Files go to $TMPDIR when set, else to the build directory, and are deleted afterwards.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bxmm/host.h"
#include "bxmm/mm40.h"
#include "direct_write.h"

namespace {

constexpr int32_t kWidth = 1392, kHeight = 1040, kFrames = 500;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;
constexpr size_t kTotalBytes = kFrameBytes * kFrames;
constexpr int kRuns = 2;  // best of, for ours and the baseline alike

using namespace directwrite;

std::string WorkDir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : BX_BENCH_DEFAULT_DIR;
}

Baseline BestBaseline(const std::string& dir, Replace replace) {
    return directwrite::BestBaseline(dir, kTotalBytes, replace, kRuns);
}

// Streams the sequence through the disk device the way the control does: one write in
// flight, waited for before the next buffer is handed over.
double DiskStreamSeconds(const std::string& dir) {
    const std::string device = dir + "/bench_store_device.img";
    if (!bx::mm::ConfigureDisk(device, 4096)) {
        std::fprintf(stderr, "cannot configure %s\n", device.c_str());
        std::exit(1);
    }
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = kWidth;
    size.d[1] = kHeight;
    size.d[2] = kFrames;
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    const int32_t id = MM_GetHandleSCSI_ID(image);
    const int64_t first = MM_GetLeafOffset(image, 0);
    const int64_t block_bytes = MM_GetLeafSize(image);
    const int64_t sectors = block_bytes / MM_GetDiskSectorSize();
    AlignedBuffer buffers[2] = {Aligned(size_t(block_bytes), 0x11),
                                Aligned(size_t(block_bytes), 0x22)};

    bool ok = image != 0;
    const auto start = Clock::now();
    for (int k = 0; ok && k < kFrames; ++k) {
        if (k > 0) ok = MM_WaitForTransfer();
        ok = ok && MM_WriteBufferToBlockWithID(id, first + k * sectors, buffers[k % 2].get(),
                                               int64_t(kFrameBytes));
    }
    ok = ok && MM_WaitForTransfer();
    const double seconds = Seconds(start);
    if (!ok) {
        std::fprintf(stderr, "disk streaming failed\n");
        std::exit(1);
    }
    MM_DeleteImage(image);
    bx::mm::CloseDisk();
    unlink(device.c_str());
    return seconds;
}

long ResidentBytes() {
    long pages_total = 0, pages_resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr || std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) {
        std::exit(1);
    }
    std::fclose(f);
    return pages_resident * sysconf(_SC_PAGESIZE);
}

MM_HANDLE FilledSequence() {
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = kWidth;
    size.d[1] = kHeight;
    size.d[2] = kFrames;
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    for (int32_t f = 0; image != 0 && f < kFrames; ++f) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        index.d[2] = f;
        const MM_LEAF leaf = MM_GetData(image, index);
        auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
        for (size_t i = 0; i < kFrameBytes / 2; ++i) pixels[i] = uint16_t(i * 7 + f);
        MM_Unlock(leaf, 1);
        MM_STAMP stamp{};
        MM_GetStamp(image, &stamp, f);
        MM_SetStampPosition(&stamp, 2, f * 33.0);
        MM_SetStamp(image, &stamp, f);
    }
    const char comment[] = "[Created]\r\nDate=08/12/2026\r\n";
    MM_WriteComment(image, comment, sizeof comment);
    return image;
}

}  // namespace

int main() {
    const std::string dir = WorkDir();
    const double gb = double(kTotalBytes) / 1e9;

    // Memory first, in a fresh process, so nothing else inflates the resident set.
    const long before = ResidentBytes();
    const MM_HANDLE image = FilledSequence();
    const long resident = ResidentBytes() - before;
    if (image == 0) return 1;
    const double memory_ratio = double(resident) / double(kTotalBytes);

    double save_best = 1e30;
    const std::string tiff = dir + "/bench_store_save.ome.tif";
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        const auto saved = bx::mm::SaveOmeTiff(image, tiff);
        save_best = std::min(save_best, Seconds(start));
        unlink(tiff.c_str());
        if (!saved) {
            std::fprintf(stderr, "save failed: %s\n", saved.error.c_str());
            return 1;
        }
    }
    MM_DeleteImage(image);
    const Baseline save_baseline = BestBaseline(dir, Replace::Durably);

    double disk_best = 1e30;
    for (int i = 0; i < kRuns; ++i) disk_best = std::min(disk_best, DiskStreamSeconds(dir));
    const Baseline disk_baseline = BestBaseline(dir, Replace::No);

    PrintBaseline("disk_write baseline:", disk_baseline, gb);
    PrintBaseline("ometiff_save baseline (durable replace):", save_baseline, gb);
    std::printf("ratio: disk_write_vs_direct %.3f (%.3f vs %.3f GB/s)\n",
                disk_baseline.seconds / disk_best, gb / disk_best, gb / disk_baseline.seconds);
    std::printf("ratio: ometiff_save_vs_direct %.3f (%.3f vs %.3f GB/s)\n",
                save_baseline.seconds / save_best, gb / save_best, gb / save_baseline.seconds);
    std::printf("ratio: image_memory_overhead %.4f (%.1f vs %.1f MB resident vs pixel bytes)\n",
                memory_ratio, resident / 1e6, kTotalBytes / 1e6);
    return 0;
}
