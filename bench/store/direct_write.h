// The disk's best for the write benchmarks, measured in the same run: an O_DIRECT sequential
// write of a given number of bytes to the same file system with four requests in flight, as a
// queued writer with an I/O depth of four issues them (four threads take the next block in
// file order and pwrite it). It is run with 1 MiB and 4 MiB blocks and the faster is kept; the
// plain single-request loop is kept alongside for information. Every timed write is durable
// when its clock stops (direct I/O, or fsync for the durable replace of a save).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace directwrite {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t[], FreeDeleter>;

// A page-aligned buffer of `bytes` (rounded up to whole pages) filled with `fill`.
inline AlignedBuffer Aligned(size_t bytes, uint8_t fill) {
    AlignedBuffer buffer(
        static_cast<uint8_t*>(std::aligned_alloc(4096, (bytes + 4095) / 4096 * 4096)));
    if (!buffer) {
        std::fprintf(stderr, "out of memory\n");
        std::exit(1);
    }
    std::memset(buffer.get(), fill, bytes);
    return buffer;
}

inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::perror(what);
        std::exit(1);
    }
}

// No: a bare write of the file in place (a device file). Durably: to a temporary, fsync,
// rename over the target, fsync the folder, as a save does.
enum class Replace { No, Durably };

constexpr int kQueueDepth = 4;
constexpr size_t kBlockSizes[] = {size_t(1) << 20, size_t(4) << 20};

// Writes `bytes` (rounded up to whole 4 KiB pages) from `block` over and over to `fd` at
// consecutive offsets, `writers` requests in flight: each writer takes the next block in file
// order, so the file is filled front to back as a queued writer fills it. Exits on any error
// or short write, and checks that every byte went out.
inline void WriteInOrder(int fd, const uint8_t* block, size_t block_bytes, size_t bytes,
                         int writers) {
    const size_t total = (bytes + 4095) / 4096 * 4096;
    std::atomic<size_t> next{0}, written{0};
    std::atomic<int> error{0};
    auto writer = [&] {
        while (error.load(std::memory_order_acquire) == 0) {
            const size_t offset = next.fetch_add(block_bytes, std::memory_order_relaxed);
            if (offset >= total) return;
            const size_t n = std::min(block_bytes, total - offset);
            const ssize_t done = pwrite(fd, block, n, off_t(offset));
            if (done != ssize_t(n)) {
                error.store(done < 0 ? errno : EIO, std::memory_order_release);
                return;
            }
            written.fetch_add(n, std::memory_order_relaxed);
        }
    };
    if (writers == 1) {
        writer();
    } else {
        std::vector<std::thread> threads;
        for (int i = 0; i < writers; ++i) threads.emplace_back(writer);
        for (auto& thread : threads) thread.join();
    }
    errno = error.load();
    Check(errno == 0, "baseline write");
    if (written.load() != total) {
        std::fprintf(stderr, "baseline wrote %zu of %zu bytes\n", written.load(), total);
        std::exit(1);
    }
}

// Seconds for an O_DIRECT write of `bytes` bytes to a new file in `dir` in blocks of
// `block_bytes`, `writers` requests in flight, replaced as told. The file is deleted after.
inline double DirectWriteSeconds(const std::string& dir, size_t bytes, Replace replace,
                                 size_t block_bytes, int writers) {
    const std::string path = dir + "/bench_direct_write_baseline.bin";
    const std::string temp = replace == Replace::Durably ? path + ".part" : path;
    AlignedBuffer block = Aligned(block_bytes, 0x5A);
    const auto start = Clock::now();
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT, 0644);
    Check(fd >= 0, temp.c_str());
    WriteInOrder(fd, block.get(), block_bytes, bytes, writers);
    if (replace == Replace::Durably) {
        Check(fsync(fd) == 0, "baseline fsync");
        Check(rename(temp.c_str(), path.c_str()) == 0, "baseline rename");
        const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        Check(folder >= 0 && fsync(folder) == 0, "baseline folder fsync");
        close(folder);
    }
    Check(close(fd) == 0, "baseline close");
    const double seconds = Seconds(start);
    unlink(path.c_str());
    return seconds;
}

struct Baseline {
    double seconds = 1e30;         // the queued writer's best
    size_t block_bytes = 0;        // the block size that gave it
    double single_seconds = 1e30;  // the one-request loop in 1 MiB blocks, for information
};

// The best of `runs` rounds, each round writing `bytes` once per block size with the queued
// writer and once with the single-request loop.
inline Baseline BestBaseline(const std::string& dir, size_t bytes, Replace replace, int runs) {
    Baseline best;
    for (int i = 0; i < runs; ++i) {
        for (const size_t block_bytes : kBlockSizes) {
            const double s = DirectWriteSeconds(dir, bytes, replace, block_bytes, kQueueDepth);
            if (s < best.seconds) best = {s, block_bytes, best.single_seconds};
        }
        best.single_seconds = std::min(best.single_seconds,
                                       DirectWriteSeconds(dir, bytes, replace, kBlockSizes[0], 1));
    }
    return best;
}

// Folds one more measurement into the best so far.
inline void KeepBest(Baseline& best, const Baseline& more) {
    if (more.seconds < best.seconds) {
        best.seconds = more.seconds;
        best.block_bytes = more.block_bytes;
    }
    best.single_seconds = std::min(best.single_seconds, more.single_seconds);
}

// One info line: the queued writer's best and the single-request loop, in GB/s of `gb`.
inline void PrintBaseline(const char* name, const Baseline& baseline, double gb) {
    std::printf(
        "info: %s queued O_DIRECT depth %d, %zu MiB blocks %.3f GB/s; "
        "single-request loop, 1 MiB blocks %.3f GB/s\n",
        name, kQueueDepth, baseline.block_bytes >> 20, gb / baseline.seconds,
        gb / baseline.single_seconds);
}

}  // namespace directwrite
