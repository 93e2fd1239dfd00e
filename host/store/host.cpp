// Host-side calls other than saving (tiff_writer.cpp).
#include "bxmm/host.h"

#include <cstring>

#include "store.h"

namespace bx::mm {

std::vector<MM_HANDLE> ListImages() {
    return Store::Get().List();
}

std::optional<ImageInfo> Describe(MM_HANDLE image) {
    return Store::Get().Describe(image);
}

std::optional<std::string> Comment(MM_HANDLE image) {
    return Store::Get().Comment(image, nullptr);
}

int32_t CommentLength(MM_HANDLE image) {
    int32_t length = 0;
    Store::Get().Comment(image, &length);
    return length;
}

std::optional<std::vector<MM_STAMP>> Stamps(MM_HANDLE image) {
    return Store::Get().Stamps(image);
}

bool ReadFrame(MM_HANDLE image, int64_t frame, void* dst, size_t bytes) {
    if (dst == nullptr) return false;
    PixelBlock scratch;
    return Store::Get().WithFrame(image, frame, scratch, Store::FrameUse::Copy,
                                  [&](const uint8_t* pixels, size_t frame_bytes) {
                                      if (bytes < frame_bytes) return false;
                                      std::memcpy(dst, pixels, frame_bytes);
                                      return true;
                                  });
}

std::vector<uint8_t> ReadFrame(MM_HANDLE image, int64_t frame) {
    std::vector<uint8_t> out;
    PixelBlock scratch;
    Store::Get().WithFrame(image, frame, scratch, Store::FrameUse::Copy,
                           [&](const uint8_t* pixels, size_t bytes) {
                               out.assign(pixels, pixels + bytes);
                               return true;
                           });
    return out;
}

std::optional<LockedLeaf> CopyLockedPixels(const void* pixels, std::vector<uint8_t>& out) {
    return Store::Get().CopyLocked(pixels, out);
}

bool ConfigureDisk(const std::string& path, int32_t sector_bytes, int64_t capacity_bytes) {
    return Store::Get().ConfigureDisk(path, sector_bytes, capacity_bytes);
}

void CloseDisk() {
    Store::Get().CloseDisk();
}

void FailNextDiskWrites(int count) {
    if (auto disk = Store::Get().Disk()) disk->FailNextWrites(count);
}

}  // namespace bx::mm
