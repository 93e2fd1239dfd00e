// The image store behind the MM_ functions and the host calls: a registry of images and leaves
// keyed by 32-bit handles from one increasing counter, under one mutex.
//
// Thread rule: thread-safe. Metadata work is short and done under the registry mutex; pixel
// memory is reached through shared leaf ownership, so copying pixels never holds the mutex.
// The exception is the first lock and last unlock of a disk leaf, which read and write its
// frame under the mutex (the control streams disk images with block writes instead).
//
// Whole frames: a writer that locks a leaf with MM_LOCK_WRITE holds it exclusively until its
// unlock; every copy the store makes of a leaf's pixels counts as a reader of that leaf and
// waits for the writer, and a writer waits for the readers already copying. Both kinds of
// wait sleep on hold_cv_ under mu_, so the hold is a flag, not a lock object, and may be
// released from any thread. A thread never waits for a write hold of its own.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bxmm/host.h"
#include "bxmm/mm40.h"
#include "disk_device.h"
#include "pixel_block.h"

namespace bx::mm {

struct Leaf {
    MM_LEAF id = 0;
    size_t bytes = 0;
    // In memory: the pixels. On the disk device: the copy made while the leaf is locked.
    PixelBlock memory;
    std::shared_ptr<DiskDevice> device;  // set for a leaf living on the disk device
    int64_t device_offset = -1;          // byte offset of its frame block
    int lock_count = 0;
    bool modified = false;
    // The write hold and the copies under way; all guarded by the store's mutex.
    bool write_held = false;
    std::thread::id writer;   // the thread that took the write hold
    int writers_waiting = 0;  // new readers wait behind them, so a writer is not starved
    int readers = 0;          // copies of the pixels under way outside the mutex
    MM_HANDLE image = 0;      // 0 once detached from its image by a delete or resize
    int64_t frame = 0;
};

struct Image {
    MM_HANDLE id = 0;
    int32_t type = 0;
    int bytes_per_pixel = 0;
    MM_VECTOR size{};
    size_t frame_bytes = 0;
    std::vector<std::shared_ptr<Leaf>> leaves;  // linear frame order
    std::vector<MM_STAMP> stamps;
    std::vector<bool> stamp_set;

    std::string name;
    double map_min = 0.0;
    double map_max = 0.0;
    std::array<int32_t, 256> lut{};
    std::array<DimensionInfo, MM_MAX_DIMS> dims;
    std::string comment;  // without the terminating zero
    bool has_comment = false;

    std::shared_ptr<DiskDevice> device;
    int64_t first_sector = 0;
    int64_t sectors_per_frame = 0;
};

class Store {
public:
    static Store& Get();
    ~Store();

    // Creation and lifetime.
    MM_HANDLE Create(const MM_VECTOR& size, int32_t type);
    bool IsImage(uint32_t h);
    bool IsLeaf(uint32_t h);
    bool Delete(MM_HANDLE h);

    // Header. Each runs `edit` on the image under the registry mutex; false for an unknown
    // handle or when `edit` refuses.
    bool EditImage(MM_HANDLE h, const std::function<bool(Image&)>& edit);
    void ApplyDefaultHeader(Image& image) const;

    // Pixels.
    MM_LEAF GetData(MM_HANDLE h, const MM_VECTOR& index);
    // `write` takes the leaf's write hold as well, waiting for another writer and for the
    // copies under way; nullptr when the leaf is gone by then or this thread holds it already.
    void* Lock(MM_LEAF leaf, bool write);
    bool Unlock(MM_LEAF leaf, bool modified);

    // Stamps.
    bool GetStamp(MM_HANDLE h, MM_STAMP* stamp, int32_t index);
    bool SetStamp(MM_HANDLE h, const MM_STAMP& stamp, int32_t index);

    // Shape.
    bool Resize(MM_HANDLE h, const MM_VECTOR& origin, const MM_VECTOR& size);
    bool SetSize(MM_HANDLE h, int16_t dim, int32_t size);
    bool Bounds(MM_HANDLE h, MM_VECTOR* bounds);

    // Disk device.
    bool ConfigureDisk(const std::string& path, int32_t sector_bytes, int64_t capacity_bytes);
    void CloseDisk();
    std::shared_ptr<DiskDevice> Disk();
    std::shared_ptr<DiskDevice> DiskById(int32_t id);
    bool WaitForTransfer();
    std::optional<int64_t> LeafOffset(MM_HANDLE h, int32_t index);
    int64_t LeafSize(MM_HANDLE h);
    int32_t DiskId(MM_HANDLE h);

    // Host side.
    std::vector<MM_HANDLE> List();
    std::optional<ImageInfo> Describe(MM_HANDLE h);
    std::optional<std::string> Comment(MM_HANDLE h, int32_t* length);
    std::optional<std::vector<MM_STAMP>> Stamps(MM_HANDLE h);
    // How long a WithFrame user works on the pixels it is handed.
    enum class FrameUse {
        Copy,  // a quick copy: it runs on the frame in place, keeping writers waiting meanwhile
        Slow,  // may take long (a file write): a frame that is locked is copied first
    };
    // Runs `use` with the pixels of one whole frame (never while another thread writes it).
    // In-memory frames are passed in place (page-aligned, kept alive for the call) unless
    // Slow asks for a copy; disk frames are read into `scratch` first. `scratch` holds the
    // copies and is reallocated when its size differs from the frame.
    bool WithFrame(MM_HANDLE h, int64_t frame, PixelBlock& scratch, FrameUse how,
                   const std::function<bool(const uint8_t*, size_t)>& use);
    std::optional<LockedLeaf> CopyLocked(const void* pixels, std::vector<uint8_t>& out);

private:
    Store();
    uint32_t NextId();
    std::shared_ptr<Image> FindImage(uint32_t h);    // caller holds mu_
    std::shared_ptr<Leaf> NewLeaf(size_t bytes);     // caller holds mu_; nullptr on failure
    void Detach(const std::shared_ptr<Leaf>& leaf);  // caller holds mu_
    MM_STAMP DefaultStamp(const Image& image, int64_t frame) const;

    class ReadHold;
    // Waits on `lock` (holding mu_) until the leaf `find` answers may be copied; `find` runs
    // again after every wake, as the registry may change meanwhile. nullptr when it finds none.
    template <typename Find>
    std::shared_ptr<Leaf> AwaitReadable(std::unique_lock<std::mutex>& lock, Find find);
    // Wakes every thread waiting for a hold to change (caller need not hold mu_).
    void HoldsChanged();

    std::mutex mu_;
    std::condition_variable hold_cv_;  // a write hold was released or readers left
    uint32_t next_id_ = 1;             // 0 once the 32-bit space is used up
    std::map<MM_HANDLE, std::shared_ptr<Image>> images_;
    std::unordered_map<MM_LEAF, std::shared_ptr<Leaf>> leaves_;
    std::unordered_map<const void*, std::shared_ptr<Leaf>> locked_;
    std::shared_ptr<DiskDevice> disk_;
    int32_t next_disk_id_ = 1;
    bool retired_disk_failed_ = false;
};

// Linear frame number of an index over dimensions 2..9 (dimension 2 fastest).
int64_t LinearFrame(const MM_VECTOR& index, const MM_VECTOR& size);
// The inverse: index of linear frame `frame` (elements 0 and 1 set to 0).
MM_VECTOR FrameIndex(int64_t frame, const MM_VECTOR& size);
// Number of frames of a size vector, or -1 when an element is below 1 or the count is huge.
int64_t FrameCount(const MM_VECTOR& size);

}  // namespace bx::mm
