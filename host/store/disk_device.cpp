#include "disk_device.h"

#include "file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bx::mm {

namespace {
constexpr int64_t kDefaultFileCapacity = int64_t{1} << 40;  // 1 TiB

bool IsPowerOfTwo(int64_t v) {
    return v > 0 && (v & (v - 1)) == 0;
}

}  // namespace

std::shared_ptr<DiskDevice> DiskDevice::Open(const std::string& path, int32_t id,
                                             int32_t sector_bytes, int64_t capacity_bytes,
                                             std::string* error) {
    auto fail = [&](const std::string& why) -> std::shared_ptr<DiskDevice> {
        if (error) *error = why;
        return nullptr;
    };
    if (!IsPowerOfTwo(sector_bytes) || sector_bytes < 512 || sector_bytes > (1 << 20)) {
        return fail("sector size must be a power of two from 512 to 1 MiB");
    }
    if (capacity_bytes < 0) return fail("negative capacity");

    std::shared_ptr<DiskDevice> dev(new DiskDevice());
    dev->path_ = path;
    dev->id_ = id;
    dev->sector_bytes_ = sector_bytes;

    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    dev->regular_file_ = !exists || S_ISREG(st.st_mode);
    if (exists && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        return fail(path + " is neither a regular file nor a block device");
    }
    dev->fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC | (dev->regular_file_ ? O_CREAT : 0), 0644);
    if (dev->fd_ < 0) return fail(path + ": " + std::strerror(errno));
    dev->fd_direct_ = open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);

    int64_t capacity = capacity_bytes > 0 ? capacity_bytes : kDefaultFileCapacity;
    if (!dev->regular_file_) {
        uint64_t device_bytes = 0;
        if (ioctl(dev->fd_, BLKGETSIZE64, &device_bytes) != 0) {
            return fail(path + ": cannot read the device size");
        }
        if (capacity_bytes <= 0 || static_cast<uint64_t>(capacity) > device_bytes) {
            capacity = static_cast<int64_t>(device_bytes);
        }
    }
    dev->capacity_sectors_ = capacity / sector_bytes;
    dev->writer_ = std::thread([d = dev.get()] { d->WriterLoop(); });
    return dev;
}

DiskDevice::~DiskDevice() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    work_cv_.notify_all();
    if (writer_.joinable()) writer_.join();
    if (fd_direct_ >= 0) close(fd_direct_);
    if (fd_ >= 0) close(fd_);
}

std::optional<int64_t> DiskDevice::AllocateSectors(int64_t count) {
    if (count <= 0) return std::nullopt;
    std::lock_guard lock(space_mu_);
    std::optional<int64_t> first;
    for (auto it = free_runs_.begin(); it != free_runs_.end(); ++it) {
        if (it->second < count) continue;
        first = it->first;
        const int64_t rest = it->second - count;
        free_runs_.erase(it);
        if (rest > 0) free_runs_.emplace(*first + count, rest);
        break;
    }
    if (!first) {
        if (count > capacity_sectors_ - top_) return std::nullopt;
        first = top_;
        top_ += count;
    }
    if (regular_file_) {
        // A reused run holds an older image's frames; punching it out makes it read as zeros
        // like fresh space. Best effort: on a file system without hole support the old bytes
        // stay, which only matters for frames never written.
        fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, *first * sector_bytes_,
                  count * sector_bytes_);
    }
    return first;
}

void DiskDevice::FreeSectors(int64_t first, int64_t count) {
    if (count <= 0) return;
    std::lock_guard lock(space_mu_);
    // Merge with the neighbouring free runs, and give the end of the used area back to top_.
    auto next = free_runs_.lower_bound(first);
    if (next != free_runs_.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == first) {
            first = prev->first;
            count += prev->second;
            free_runs_.erase(prev);
        }
    }
    if (next != free_runs_.end() && first + count == next->first) {
        count += next->second;
        free_runs_.erase(next);
    }
    if (first + count == top_) {
        top_ = first;
    } else {
        free_runs_.emplace(first, count);
    }
}

bool DiskDevice::Prepare(Job& job, int64_t offset, const void* buffer, int64_t bytes) {
    if (buffer == nullptr || bytes <= 0 || offset < 0 || offset % sector_bytes_ != 0) return false;
    const auto length = static_cast<size_t>(bytes);
    const int64_t padded = static_cast<int64_t>(RoundUp(length, sector_bytes_));
    if (padded < bytes || offset / sector_bytes_ > capacity_sectors_ ||
        padded / sector_bytes_ > capacity_sectors_ - offset / sector_bytes_) {
        return false;
    }
    const auto* src = static_cast<const uint8_t*>(buffer);
    if (!IsAligned(src, kDirectAlign)) {
        // Direct I/O needs an aligned source: copy once, padded, and the caller may reuse its
        // buffer at once.
        job.owned = TakeSpare(static_cast<size_t>(padded));
        if (!job.owned) return false;
        std::memcpy(job.owned.data(), src, length);
        std::memset(job.owned.data() + length, 0, static_cast<size_t>(padded) - length);
        job.offset = offset;
        job.pieces[0] = {job.owned.data(), static_cast<size_t>(padded)};
        job.piece_count = 1;
        return true;
    }
    // Aligned: whole sectors straight from the caller's memory, the partial last sector from
    // a small zero-padded copy.
    const size_t whole = length / sector_bytes_ * sector_bytes_;
    job.offset = offset;
    job.piece_count = 0;
    if (whole > 0) job.pieces[job.piece_count++] = {src, whole};
    if (whole < length) {
        job.tail = PixelBlock::Allocate(sector_bytes_, kDirectAlign);
        if (!job.tail) return false;
        std::memcpy(job.tail.data(), src + whole, length - whole);
        job.pieces[job.piece_count++] = {job.tail.data(), static_cast<size_t>(sector_bytes_)};
    }
    return true;
}

PixelBlock DiskDevice::TakeSpare(size_t bytes) {
    {
        std::lock_guard lock(mu_);
        for (auto& spare : spares_) {
            if (spare.size() < bytes) continue;
            PixelBlock block = std::move(spare);
            spare = std::move(spares_.back());
            spares_.pop_back();
            return block;
        }
    }
    return PixelBlock::Allocate(bytes, kDirectAlign);
}

void DiskDevice::ReturnSpare(PixelBlock block) {
    constexpr size_t kMaxSpares = 4;
    if (!block) return;
    std::lock_guard lock(mu_);
    if (spares_.size() < kMaxSpares) spares_.push_back(std::move(block));
}

bool DiskDevice::ConsumeFault() {
    std::lock_guard lock(mu_);
    if (fail_next_ <= 0) return false;
    --fail_next_;
    return true;
}

bool DiskDevice::Submit(int64_t offset, const void* buffer, int64_t bytes) {
    Job job;
    if (!Prepare(job, offset, buffer, bytes)) return false;
    {
        std::lock_guard lock(mu_);
        if (fail_next_ > 0) {
            --fail_next_;
            job.fail = true;
        }
        queue_.push_back(std::move(job));
    }
    work_cv_.notify_one();
    return true;
}

bool DiskDevice::Wait() {
    std::unique_lock lock(mu_);
    idle_cv_.wait(lock, [&] { return queue_.empty() && running_ == 0; });
    const bool ok = !failed_;
    failed_ = false;
    return ok;
}

bool DiskDevice::WriteNow(int64_t offset, const void* buffer, int64_t bytes) {
    Job job;
    if (!Prepare(job, offset, buffer, bytes)) return false;
    job.fail = ConsumeFault();
    const bool ok = Execute(job);
    ReturnSpare(std::move(job.owned));
    return ok;
}

bool DiskDevice::Execute(const Job& job) {
    if (job.fail) return false;
    iovec iov[2];
    bool direct = fd_direct_ >= 0 && job.offset % kDirectAlign == 0;
    for (int i = 0; i < job.piece_count; ++i) {
        const Piece& piece = job.pieces[i];
        iov[i] = {const_cast<uint8_t*>(piece.data), piece.length};
        direct = direct && piece.length % kDirectAlign == 0 && IsAligned(piece.data, kDirectAlign);
    }
    if (direct) {
        iovec work[2] = {iov[0], iov[1]};
        if (WriteAllVec(fd_direct_, work, job.piece_count, job.offset)) return true;
        // EINVAL means this file system wants another alignment: fall back to the page cache
        // below. Any other error is a real write failure.
        if (errno != EINVAL) return false;
    }
    return WriteAllVec(fd_, iov, job.piece_count, job.offset) && fdatasync(fd_) == 0;
}

bool DiskDevice::Read(int64_t offset, void* dst, size_t bytes) const {
    auto* out = static_cast<uint8_t*>(dst);
    while (bytes > 0) {
        const ssize_t n = pread(fd_, out, bytes, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {  // past the end of a file: never written
            std::memset(out, 0, bytes);
            return true;
        }
        out += n;
        bytes -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

void DiskDevice::FailNextWrites(int count) {
    std::lock_guard lock(mu_);
    fail_next_ = count > 0 ? count : 0;
}

void DiskDevice::WriterLoop() {
    std::unique_lock lock(mu_);
    for (;;) {
        work_cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stop requested and nothing left
        Job job = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        const bool ok = Execute(job);
        ReturnSpare(std::move(job.owned));
        job = Job();  // release copies before reporting completion
        lock.lock();
        --running_;
        if (!ok) failed_ = true;
        if (queue_.empty() && running_ == 0) idle_cv_.notify_all();
    }
}

}  // namespace bx::mm
