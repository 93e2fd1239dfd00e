#include "store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace bx::mm {

namespace {
constexpr int64_t kMaxFrames = int64_t{1} << 24;
constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 34;

double FullScale(int32_t type) {
    switch (type) {
        case MM_TYPE_GREY12:
            return 4095.0;
        case MM_TYPE_GREY16:
            return 65535.0;
        case MM_TYPE_GREY32:
            return 4294967295.0;
        default:
            return 255.0;
    }
}

// Bytes of one frame of `size`, 0 when x or y is below 1 or the frame is too large.
size_t FrameBytes(const MM_VECTOR& size, int bytes_per_pixel) {
    if (size.d[0] < 1 || size.d[1] < 1 || bytes_per_pixel <= 0) return 0;
    const uint64_t bytes = uint64_t(size.d[0]) * uint64_t(size.d[1]) * uint64_t(bytes_per_pixel);
    return bytes > kMaxFrameBytes ? 0 : static_cast<size_t>(bytes);
}

// Reads "path:sector_bytes" from BX_MM_DISK; the path may itself hold colons.
bool ParseDiskSetting(const char* text, std::string* path, int32_t* sector) {
    if (text == nullptr) return false;
    const std::string value(text);
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char* end = nullptr;
    const long parsed = std::strtol(value.c_str() + colon + 1, &end, 10);
    if (end == value.c_str() + colon + 1 || *end != '\0' || parsed <= 0 || parsed > (1 << 20)) {
        return false;
    }
    *path = value.substr(0, colon);
    *sector = static_cast<int32_t>(parsed);
    return true;
}
}  // namespace

int BytesPerPixel(int32_t type) {
    switch (type) {
        case MM_TYPE_GREY8:
            return 1;
        case MM_TYPE_GREY12:
        case MM_TYPE_GREY16:
            return 2;
        case MM_TYPE_BGR24:
            return 3;
        case MM_TYPE_GREY32:
            return 4;
        default:
            return 0;
    }
}

int64_t FrameCount(const MM_VECTOR& size) {
    int64_t count = 1;
    for (int d = 2; d < MM_MAX_DIMS; ++d) {
        if (size.d[d] < 1) return -1;
        count *= size.d[d];
        if (count > kMaxFrames) return -1;
    }
    return count;
}

int64_t LinearFrame(const MM_VECTOR& index, const MM_VECTOR& size) {
    int64_t linear = 0;
    for (int d = MM_MAX_DIMS - 1; d >= 2; --d) linear = linear * size.d[d] + index.d[d];
    return linear;
}

MM_VECTOR FrameIndex(int64_t frame, const MM_VECTOR& size) {
    MM_VECTOR index{};
    for (int d = 2; d < MM_MAX_DIMS; ++d) {
        index.d[d] = static_cast<int32_t>(frame % size.d[d]);
        frame /= size.d[d];
    }
    return index;
}

Store& Store::Get() {
    static Store store;
    return store;
}

Store::Store() {
    std::string path;
    int32_t sector = 0;
    const char* setting = std::getenv("BX_MM_DISK");
    if (setting == nullptr || *setting == '\0') return;
    std::string error = "expected path:sector_bytes";
    if (ParseDiskSetting(setting, &path, &sector)) {
        disk_ = DiskDevice::Open(path, next_disk_id_++, sector, 0, &error);
    }
    // A device that was asked for but cannot be used must not pass silently as "no device".
    if (!disk_)
        std::fprintf(stderr, "bx_mm40: BX_MM_DISK=%s ignored: %s\n", setting, error.c_str());
}

Store::~Store() = default;

// One reader's claim on a leaf while it copies the pixels outside the registry mutex: a
// writer asking for the leaf waits until the claim goes.
class Store::ReadHold {
public:
    ReadHold(Store& store, std::shared_ptr<Leaf> leaf)  // caller holds mu_
        : store_(store), leaf_(std::move(leaf)) {
        ++leaf_->readers;
    }
    ReadHold(const ReadHold&) = delete;
    ReadHold& operator=(const ReadHold&) = delete;
    ~ReadHold() {  // caller does not hold mu_
        std::lock_guard lock(store_.mu_);
        if (--leaf_->readers == 0) store_.HoldsChanged();
    }

private:
    Store& store_;
    std::shared_ptr<Leaf> leaf_;
};

template <typename Find>
std::shared_ptr<Leaf> Store::AwaitReadable(std::unique_lock<std::mutex>& lock, Find find) {
    const auto self = std::this_thread::get_id();
    std::shared_ptr<Leaf> leaf;
    hold_cv_.wait(lock, [&] {
        leaf = find();
        if (!leaf) return true;
        // The writer's own thread is not writing while it reads, so it never waits for itself.
        if (leaf->write_held) return leaf->writer == self;
        return leaf->writers_waiting == 0;
    });
    return leaf;
}

void Store::HoldsChanged() {
    hold_cv_.notify_all();
}

uint32_t Store::NextId() {
    if (next_id_ == 0) return 0;  // every 32-bit number has been handed out once
    return next_id_++;
}

std::shared_ptr<Image> Store::FindImage(uint32_t h) {
    auto it = images_.find(h);
    return it == images_.end() ? nullptr : it->second;
}

std::shared_ptr<Leaf> Store::NewLeaf(size_t bytes) {
    auto leaf = std::make_shared<Leaf>();
    leaf->id = NextId();
    leaf->bytes = bytes;
    if (leaf->id == 0) return nullptr;
    return leaf;
}

void Store::Detach(const std::shared_ptr<Leaf>& leaf) {
    leaf->image = 0;
    // Whoever waits for this leaf's hold looks again: a writer gives up on a detached leaf, a
    // reader finds the frame gone.
    if (leaf->write_held || leaf->writers_waiting > 0) HoldsChanged();
    if (leaf->lock_count == 0) {
        leaves_.erase(leaf->id);
        return;
    }
    // Still locked by someone: the lock copy of a disk leaf becomes plain memory (its sectors
    // may go to another image), and the entry lives on until the last unlock.
    leaf->device.reset();
    leaf->device_offset = -1;
}

void Store::ApplyDefaultHeader(Image& image) const {
    image.name.clear();
    image.map_min = 0.0;
    image.map_max = FullScale(image.type);
    for (int i = 0; i < 256; ++i) image.lut[i] = i | (i << 8) | (i << 16);
    // Single-character names set with assign(): GCC 12 at -O3 warns falsely (-Wrestrict) about
    // assigning short literals here.
    const char names[] = {'x', 'y', 't'};
    for (size_t d = 0; d < image.dims.size(); ++d) {
        image.dims[d] = DimensionInfo{};
        if (d < sizeof names) image.dims[d].name.assign(1, names[d]);
    }
}

MM_HANDLE Store::Create(const MM_VECTOR& size, int32_t type) {
    const int bpp = BytesPerPixel(type);
    const size_t frame_bytes = FrameBytes(size, bpp);
    const int64_t frames = FrameCount(size);
    if (bpp == 0 || frame_bytes == 0 || frames < 1) return 0;

    std::lock_guard lock(mu_);
    auto image = std::make_shared<Image>();
    image->id = NextId();
    if (image->id == 0) return 0;
    image->type = type;
    image->bytes_per_pixel = bpp;
    image->size = size;
    image->frame_bytes = frame_bytes;
    image->stamps.resize(frames);
    image->stamp_set.assign(frames, false);
    ApplyDefaultHeader(*image);

    if (disk_) {
        const int64_t sector = disk_->sector_bytes();
        image->sectors_per_frame = static_cast<int64_t>(RoundUp(frame_bytes, sector)) / sector;
        if (image->sectors_per_frame > std::numeric_limits<int64_t>::max() / frames) return 0;
        auto first = disk_->AllocateSectors(image->sectors_per_frame * frames);
        if (!first) return 0;
        image->device = disk_;
        image->first_sector = *first;
    }

    image->leaves.reserve(frames);
    for (int64_t f = 0; f < frames; ++f) {
        auto leaf = NewLeaf(frame_bytes);
        if (leaf && image->device) {
            leaf->device = image->device;
            leaf->device_offset = (image->first_sector + f * image->sectors_per_frame) *
                                  image->device->sector_bytes();
        } else if (leaf) {
            leaf->memory = PixelBlock::Allocate(frame_bytes);
            if (!leaf->memory) leaf.reset();
        }
        if (!leaf) {
            if (image->device) {
                image->device->FreeSectors(image->first_sector, image->sectors_per_frame * frames);
            }
            return 0;  // the leaves made so far are freed with `image`
        }
        leaf->image = image->id;
        leaf->frame = f;
        image->leaves.push_back(std::move(leaf));
    }
    for (const auto& leaf : image->leaves) leaves_.emplace(leaf->id, leaf);
    images_.emplace(image->id, image);
    return image->id;
}

bool Store::IsImage(uint32_t h) {
    std::lock_guard lock(mu_);
    return images_.count(h) != 0;
}

bool Store::IsLeaf(uint32_t h) {
    std::lock_guard lock(mu_);
    auto it = leaves_.find(h);
    return it != leaves_.end() && it->second->image != 0;
}

bool Store::Delete(MM_HANDLE h) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return false;
    images_.erase(h);
    for (const auto& leaf : image->leaves) Detach(leaf);
    if (image->device) {
        image->device->FreeSectors(image->first_sector,
                                   image->sectors_per_frame * int64_t(image->leaves.size()));
    }
    return true;
}

bool Store::EditImage(MM_HANDLE h, const std::function<bool(Image&)>& edit) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    return image && edit(*image);
}

MM_LEAF Store::GetData(MM_HANDLE h, const MM_VECTOR& index) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return 0;
    for (int d = 0; d < MM_MAX_DIMS; ++d) {
        if (index.d[d] < 0 || index.d[d] >= image->size.d[d]) return 0;
    }
    return image->leaves[LinearFrame(index, image->size)]->id;
}

void* Store::Lock(MM_LEAF id, bool write) {
    std::unique_lock lock(mu_);
    auto it = leaves_.find(id);
    if (it == leaves_.end() || it->second->image == 0) return nullptr;
    const std::shared_ptr<Leaf> entry = it->second;  // the map entry may go while waiting
    Leaf& leaf = *entry;
    const auto self = std::this_thread::get_id();
    if (write) {
        if (leaf.write_held && leaf.writer == self) return nullptr;  // would wait for itself
        ++leaf.writers_waiting;
        hold_cv_.wait(lock,
                      [&] { return leaf.image == 0 || (!leaf.write_held && leaf.readers == 0); });
        --leaf.writers_waiting;
    }
    void* pixels = nullptr;
    if (leaf.image != 0 && leaf.lock_count < std::numeric_limits<int>::max()) {
        if (leaf.lock_count == 0 && leaf.device) {
            // A disk frame is worked on in memory while locked and written back by the last
            // unlock when it was modified.
            PixelBlock copy = PixelBlock::Allocate(leaf.bytes, kDirectAlign);
            if (copy && leaf.device->Read(leaf.device_offset, copy.data(), leaf.bytes)) {
                leaf.memory = std::move(copy);
            }
        }
        if (leaf.memory) {
            if (leaf.lock_count++ == 0) locked_.emplace(leaf.memory.data(), entry);
            pixels = leaf.memory.data();
        }
    }
    if (write && pixels != nullptr) {
        leaf.write_held = true;
        leaf.writer = self;
    } else if (write) {
        HoldsChanged();  // readers queued behind this writer may go
    }
    return pixels;
}

bool Store::Unlock(MM_LEAF id, bool modified) {
    std::lock_guard lock(mu_);
    auto it = leaves_.find(id);
    if (it == leaves_.end() || it->second->lock_count == 0) return false;
    std::shared_ptr<Leaf> leaf = it->second;
    leaf->modified = leaf->modified || modified;
    // The write hold ends with this unlock; waiters run once mu_ is free, after the write-back.
    if (std::exchange(leaf->write_held, false)) HoldsChanged();
    if (--leaf->lock_count > 0) return true;

    locked_.erase(leaf->memory.data());
    bool ok = true;
    if (leaf->device) {
        if (leaf->modified) {
            ok = leaf->device->WriteNow(leaf->device_offset, leaf->memory.data(),
                                        static_cast<int64_t>(leaf->bytes));
        }
        leaf->memory = PixelBlock();
    }
    leaf->modified = false;
    if (leaf->image == 0) leaves_.erase(it);  // detached while locked: this was its last use
    return ok;
}

MM_STAMP Store::DefaultStamp(const Image& image, int64_t frame) const {
    MM_STAMP stamp{};
    const MM_VECTOR index = FrameIndex(frame, image.size);
    for (int d = 2; d < MM_MAX_DIMS; ++d) {
        stamp.position[d] = image.dims[d].origin + image.dims[d].resolution * index.d[d];
    }
    return stamp;
}

bool Store::GetStamp(MM_HANDLE h, MM_STAMP* stamp, int32_t index) {
    if (stamp == nullptr) return false;
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image || index < 0 || index >= int64_t(image->leaves.size())) return false;
    *stamp = image->stamp_set[index] ? image->stamps[index] : DefaultStamp(*image, index);
    return true;
}

bool Store::SetStamp(MM_HANDLE h, const MM_STAMP& stamp, int32_t index) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image || index < 0 || index >= int64_t(image->leaves.size())) return false;
    image->stamps[index] = stamp;
    image->stamp_set[index] = true;
    return true;
}

bool Store::Resize(MM_HANDLE h, const MM_VECTOR& origin, const MM_VECTOR& size) {
    for (int d = 0; d < MM_MAX_DIMS; ++d) {
        if (size.d[d] < 1 || origin.d[d] < 0) return false;
    }
    std::unique_lock lock(mu_);
    std::shared_ptr<Image> image;
    // Frames that change shape are copied below: wait until no other thread is writing one.
    const auto self = std::this_thread::get_id();
    hold_cv_.wait(lock, [&] {
        image = FindImage(h);
        if (!image || image->device) return true;
        if (origin.d[0] == 0 && origin.d[1] == 0 && size.d[0] == image->size.d[0] &&
            size.d[1] == image->size.d[1]) {
            return true;  // leaves move without copying
        }
        return std::none_of(image->leaves.begin(), image->leaves.end(), [&](const auto& leaf) {
            return leaf->write_held && leaf->writer != self;
        });
    });
    if (!image) return false;
    const int64_t count = FrameCount(size);
    const size_t frame_bytes = FrameBytes(size, image->bytes_per_pixel);
    if (count < 1 || frame_bytes == 0) return false;

    const MM_VECTOR& old = image->size;
    const int64_t old_count = int64_t(image->leaves.size());
    const bool same_frame_shape =
        origin.d[0] == 0 && origin.d[1] == 0 && size.d[0] == old.d[0] && size.d[1] == old.d[1];

    // Old frame feeding each new frame, or -1 for a frame outside the old image.
    std::vector<int64_t> source(count, -1);
    for (int64_t n = 0; n < count; ++n) {
        MM_VECTOR at = FrameIndex(n, size);
        bool inside = true;
        for (int d = 2; d < MM_MAX_DIMS; ++d) {
            at.d[d] += origin.d[d];
            inside = inside && at.d[d] < old.d[d];
        }
        if (inside) source[n] = LinearFrame(at, old);
    }

    if (image->device) {
        // Frame blocks must stay consecutive from the first block: only trailing frames can go.
        if (!same_frame_shape || count > old_count) return false;
        for (int64_t n = 0; n < count; ++n) {
            if (source[n] != n) return false;
        }
        for (int64_t f = count; f < old_count; ++f) Detach(image->leaves[f]);
        image->device->FreeSectors(image->first_sector + count * image->sectors_per_frame,
                                   (old_count - count) * image->sectors_per_frame);
        image->leaves.resize(count);
        image->stamps.resize(count);
        image->stamp_set.resize(count);
        image->size = size;
        return true;
    }

    // Build the new frame list first, so a failed allocation leaves the image untouched.
    std::vector<std::shared_ptr<Leaf>> leaves(count);
    std::vector<MM_STAMP> stamps(count);
    std::vector<bool> stamp_set(count, false);
    std::vector<bool> kept(old_count, false);
    const int bpp = image->bytes_per_pixel;
    for (int64_t n = 0; n < count; ++n) {
        const int64_t m = source[n];
        if (m >= 0) {
            stamps[n] = image->stamps[m];
            stamp_set[n] = image->stamp_set[m];
        }
        if (m >= 0 && same_frame_shape) {
            leaves[n] = image->leaves[m];  // moves without copying, locks and all
            kept[m] = true;
            continue;
        }
        auto leaf = NewLeaf(frame_bytes);
        if (leaf) leaf->memory = PixelBlock::Allocate(frame_bytes);
        if (!leaf || !leaf->memory) return false;
        if (m >= 0 && origin.d[0] < old.d[0] && origin.d[1] < old.d[1]) {
            // Copy the part of the old frame that lies inside the new one.
            const int64_t rows = std::min<int64_t>(size.d[1], old.d[1] - origin.d[1]);
            const size_t row_bytes =
                size_t(std::min<int64_t>(size.d[0], old.d[0] - origin.d[0])) * bpp;
            const uint8_t* src = image->leaves[m]->memory.data();
            for (int64_t y = 0; y < rows; ++y) {
                std::memcpy(leaf->memory.data() + size_t(y) * size.d[0] * bpp,
                            src + (size_t(y + origin.d[1]) * old.d[0] + origin.d[0]) * bpp,
                            row_bytes);
            }
        }
        leaves[n] = std::move(leaf);
    }

    for (int64_t m = 0; m < old_count; ++m) {
        if (!kept[m]) Detach(image->leaves[m]);
    }
    for (int64_t n = 0; n < count; ++n) {
        leaves[n]->image = image->id;
        leaves[n]->frame = n;
        leaves_.emplace(leaves[n]->id, leaves[n]);
    }
    image->leaves = std::move(leaves);
    image->stamps = std::move(stamps);
    image->stamp_set = std::move(stamp_set);
    image->size = size;
    image->frame_bytes = frame_bytes;
    return true;
}

bool Store::SetSize(MM_HANDLE h, int16_t dim, int32_t size) {
    MM_VECTOR bounds{};
    if (dim < 0 || dim >= MM_MAX_DIMS || !Bounds(h, &bounds)) return false;
    bounds.d[dim] = size;
    // A concurrent resize between the two steps is harmless: Resize re-checks the image.
    return Resize(h, MM_VECTOR{}, bounds);
}

bool Store::Bounds(MM_HANDLE h, MM_VECTOR* bounds) {
    if (bounds == nullptr) return false;
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return false;
    *bounds = image->size;
    return true;
}

bool Store::ConfigureDisk(const std::string& path, int32_t sector_bytes, int64_t capacity) {
    std::lock_guard lock(mu_);
    auto device = DiskDevice::Open(path, next_disk_id_, sector_bytes, capacity, nullptr);
    if (!device) return false;
    ++next_disk_id_;
    if (disk_ && !disk_->Wait()) retired_disk_failed_ = true;
    disk_ = std::move(device);
    return true;
}

void Store::CloseDisk() {
    std::lock_guard lock(mu_);
    if (disk_ && !disk_->Wait()) retired_disk_failed_ = true;
    disk_.reset();
}

std::shared_ptr<DiskDevice> Store::Disk() {
    std::lock_guard lock(mu_);
    return disk_;
}

std::shared_ptr<DiskDevice> Store::DiskById(int32_t id) {
    std::lock_guard lock(mu_);
    return disk_ && disk_->id() == id ? disk_ : nullptr;
}

bool Store::WaitForTransfer() {
    std::shared_ptr<DiskDevice> device;
    bool ok = true;
    {
        std::lock_guard lock(mu_);
        device = disk_;
        ok = !std::exchange(retired_disk_failed_, false);
    }
    // Waiting without the registry mutex lets other threads use the store meanwhile.
    if (device && !device->Wait()) ok = false;
    return ok;
}

std::optional<int64_t> Store::LeafOffset(MM_HANDLE h, int32_t index) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image || !image->device || index < 0 || index >= int64_t(image->leaves.size())) {
        return std::nullopt;
    }
    return image->first_sector + index * image->sectors_per_frame;
}

int64_t Store::LeafSize(MM_HANDLE h) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image || !image->device) return 0;
    return image->sectors_per_frame * image->device->sector_bytes();
}

int32_t Store::DiskId(MM_HANDLE h) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    return image && image->device ? image->device->id() : 0;
}

std::vector<MM_HANDLE> Store::List() {
    std::lock_guard lock(mu_);
    std::vector<MM_HANDLE> handles;
    handles.reserve(images_.size());
    for (const auto& entry : images_) handles.push_back(entry.first);
    return handles;
}

std::optional<ImageInfo> Store::Describe(MM_HANDLE h) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return std::nullopt;
    ImageInfo info;
    info.handle = image->id;
    info.type = image->type;
    info.bytes_per_pixel = image->bytes_per_pixel;
    info.size = image->size;
    info.frames = int64_t(image->leaves.size());
    info.frame_bytes = image->frame_bytes;
    info.name = image->name;
    info.map_min = image->map_min;
    info.map_max = image->map_max;
    info.lut = image->lut;
    info.dims = image->dims;
    info.disk_id = image->device ? image->device->id() : 0;
    return info;
}

std::optional<std::string> Store::Comment(MM_HANDLE h, int32_t* length) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return std::nullopt;
    if (length) *length = image->has_comment ? int32_t(image->comment.size() + 1) : 0;
    return image->comment;
}

std::optional<std::vector<MM_STAMP>> Store::Stamps(MM_HANDLE h) {
    std::lock_guard lock(mu_);
    auto image = FindImage(h);
    if (!image) return std::nullopt;
    std::vector<MM_STAMP> stamps(image->leaves.size());
    for (size_t f = 0; f < stamps.size(); ++f) {
        stamps[f] = image->stamp_set[f] ? image->stamps[f] : DefaultStamp(*image, int64_t(f));
    }
    return stamps;
}

bool Store::WithFrame(MM_HANDLE h, int64_t frame, PixelBlock& scratch, FrameUse how,
                      const std::function<bool(const uint8_t*, size_t)>& use) {
    std::shared_ptr<Leaf> leaf;
    std::optional<ReadHold> hold;
    std::shared_ptr<DiskDevice> device;
    int64_t offset = -1;
    bool in_scratch = false;  // the frame is in `scratch` and the leaf no longer needed
    bool copy_first = false;
    {
        std::unique_lock lock(mu_);
        leaf = AwaitReadable(lock, [&]() -> std::shared_ptr<Leaf> {
            auto image = FindImage(h);
            if (!image || frame < 0 || frame >= int64_t(image->leaves.size())) return nullptr;
            return image->leaves[frame];
        });
        if (!leaf) return false;
        if (leaf->device && leaf->lock_count > 0) {
            // The lock copy is the newest state; it is freed by the last unlock, so copy it
            // while the registry is held (no writer can start meanwhile).
            if (scratch.size() != leaf->bytes)
                scratch = PixelBlock::Allocate(leaf->bytes, kDirectAlign);
            if (!scratch) return false;
            std::memcpy(scratch.data(), leaf->memory.data(), leaf->bytes);
            in_scratch = true;
        } else {
            hold.emplace(*this, leaf);
            device = leaf->device;
            offset = leaf->device_offset;
            // A locked frame may be written again soon: a slow user gets a copy, so the
            // writer waits for a memcpy only.
            copy_first = !device && how == FrameUse::Slow && leaf->lock_count > 0;
        }
    }
    if (device || copy_first) {
        if (scratch.size() != leaf->bytes)
            scratch = PixelBlock::Allocate(leaf->bytes, kDirectAlign);
        if (!scratch) return false;
        if (device) {
            if (!device->Read(offset, scratch.data(), leaf->bytes)) return false;
        } else {
            std::memcpy(scratch.data(), leaf->memory.data(), leaf->bytes);
        }
        hold.reset();
        in_scratch = true;
    }
    if (in_scratch) return use(scratch.data(), leaf->bytes);
    // In-memory pixels are freed only with the leaf, which `leaf` keeps alive; `hold` keeps
    // writers out until `use` is done.
    return use(leaf->memory.data(), leaf->bytes);
}

std::optional<LockedLeaf> Store::CopyLocked(const void* pixels, std::vector<uint8_t>& out) {
    if (pixels == nullptr) return std::nullopt;
    std::shared_ptr<Leaf> leaf;
    std::optional<ReadHold> hold;
    LockedLeaf info;
    {
        std::unique_lock lock(mu_);
        leaf = AwaitReadable(lock, [&]() -> std::shared_ptr<Leaf> {
            auto it = locked_.find(pixels);
            return it == locked_.end() ? nullptr : it->second;
        });
        if (!leaf) return std::nullopt;
        info = {leaf->image, leaf->id, leaf->image ? leaf->frame : -1, leaf->bytes};
        if (leaf->device) {
            // A disk leaf's lock copy is freed by its last unlock: copy under the mutex.
            out.assign(leaf->memory.data(), leaf->memory.data() + leaf->bytes);
            return info;
        }
        hold.emplace(*this, leaf);
    }
    out.assign(leaf->memory.data(), leaf->memory.data() + leaf->bytes);
    return info;
}

}  // namespace bx::mm
