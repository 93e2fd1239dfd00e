// The disk device: a file or block device that images can live on. It hands out runs of
// sectors to images, writes buffers asynchronously on its own writer thread, and reads frames
// back.
//
// Writes use direct I/O (no page-cache copy) whenever offset, length and buffer are aligned;
// anything else goes through the page cache followed by fdatasync, so a completed write is
// always durable.
//
// Thread rule: thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pixel_block.h"

namespace bx::mm {

class DiskDevice {
public:
    // Opens (creating a missing regular file) the device. nullptr and `error` set on failure.
    static std::shared_ptr<DiskDevice> Open(const std::string& path, int32_t id,
                                            int32_t sector_bytes, int64_t capacity_bytes,
                                            std::string* error);
    ~DiskDevice();  // finishes pending writes

    DiskDevice(const DiskDevice&) = delete;
    DiskDevice& operator=(const DiskDevice&) = delete;

    int32_t id() const { return id_; }
    int32_t sector_bytes() const { return sector_bytes_; }
    const std::string& path() const { return path_; }

    // Space: runs of consecutive sectors. Allocate returns the first sector; a fresh run of a
    // regular file reads as zeros.
    std::optional<int64_t> AllocateSectors(int64_t count);
    void FreeSectors(int64_t first, int64_t count);

    // Queues a write of `bytes` from `buffer` at byte `offset` (a sector multiple); the tail is
    // padded to a whole sector. An unaligned buffer is copied before returning. False when the
    // request is out of bounds or memory for a copy runs out.
    bool Submit(int64_t offset, const void* buffer, int64_t bytes);
    // Waits for every queued write; true when none failed since the previous Wait.
    bool Wait();
    // Writes synchronously, same rules as Submit.
    bool WriteNow(int64_t offset, const void* buffer, int64_t bytes);
    // Reads `bytes` at `offset`; a part never written reads as zeros.
    bool Read(int64_t offset, void* dst, size_t bytes) const;

    // Fault hook: the next `count` writes (queued or synchronous) fail.
    void FailNextWrites(int count);

private:
    // One contiguous write from up to two pieces of memory: the caller's whole sectors and a
    // zero-padded copy of the partial last one, written together in one request.
    struct Piece {
        const uint8_t* data = nullptr;
        size_t length = 0;
    };
    struct Job {
        int64_t offset = 0;
        Piece pieces[2];
        int piece_count = 0;
        PixelBlock owned;  // copy of an unaligned buffer
        PixelBlock tail;   // zero-padded last sector
        bool fail = false;
    };

    DiskDevice() = default;
    bool Prepare(Job& job, int64_t offset, const void* buffer, int64_t bytes);
    bool Execute(const Job& job);
    bool ConsumeFault();
    PixelBlock TakeSpare(size_t bytes);
    void ReturnSpare(PixelBlock block);
    void WriterLoop();

    std::string path_;
    int32_t id_ = 0;
    int32_t sector_bytes_ = 0;
    int64_t capacity_sectors_ = 0;
    bool regular_file_ = true;
    int fd_ = -1;         // page-cache access: reads, unaligned writes
    int fd_direct_ = -1;  // O_DIRECT writes, -1 when the file system refuses

    std::mutex space_mu_;
    std::map<int64_t, int64_t> free_runs_;  // first sector -> count, below top_
    int64_t top_ = 0;                       // first never-allocated sector

    std::mutex mu_;
    std::condition_variable work_cv_;
    std::condition_variable idle_cv_;
    std::deque<Job> queue_;
    int running_ = 0;  // jobs taken off the queue and not finished
    bool failed_ = false;
    bool stop_ = false;
    int fail_next_ = 0;
    // Copy buffers for unaligned callers, kept for reuse: mapping and faulting in a fresh
    // frame-sized buffer for every write costs more than the write itself.
    std::vector<PixelBlock> spares_;
    std::thread writer_;
};

}  // namespace bx::mm
