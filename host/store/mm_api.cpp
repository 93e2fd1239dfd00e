// The MM_ C entry points: argument checks and forwarding to the store.
#include <cmath>
#include <cstring>
#include <limits>

#include "bxmm/mm40.h"
#include "store.h"

using bx::mm::Image;
using bx::mm::Store;

namespace {

bool ValidDim(int16_t dim) {
    return dim >= 0 && dim < MM_MAX_DIMS;
}

// Runs `edit` on image h under the store's mutex; 1 when the image exists and `edit` agrees.
template <typename Fn>
int Edit(MM_HANDLE h, Fn&& edit) {
    return Store::Get().EditImage(h, [&](Image& image) { return edit(image); }) ? 1 : 0;
}

// Reads a value of image h under the store's mutex; `unknown` when there is no such image.
template <typename T, typename Fn>
T Query(MM_HANDLE h, T unknown, Fn&& read) {
    T value = unknown;
    Store::Get().EditImage(h, [&](Image& image) {
        value = read(static_cast<const Image&>(image));
        return true;
    });
    return value;
}

}  // namespace

extern "C" {

void MM_InitVector(MM_VECTOR* v, int32_t fill) {
    if (v == nullptr) return;
    for (auto& element : v->d) element = fill;
}

MM_HANDLE MM_CreateImage(int32_t width, int32_t height, int32_t type, int32_t /*flags*/) {
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = width;
    size.d[1] = height;
    return Store::Get().Create(size, type);
}

MM_HANDLE MM_CreateNDIM_ptr(const MM_VECTOR* size, int32_t type, int32_t /*flags*/) {
    return size == nullptr ? 0 : Store::Get().Create(*size, type);
}

int MM_IsValidHandle(uint32_t h) {
    return h != 0 && (Store::Get().IsImage(h) || Store::Get().IsLeaf(h)) ? 1 : 0;
}

int MM_IsValidImageHandle(MM_HANDLE h) {
    return h != 0 && Store::Get().IsImage(h) ? 1 : 0;
}

int MM_DeleteImage(MM_HANDLE h) {
    return Store::Get().Delete(h) ? 1 : 0;
}

int MM_CopyDefHeader(MM_HANDLE h) {
    return Edit(h, [](Image& image) {
        Store::Get().ApplyDefaultHeader(image);
        return true;
    });
}

int MM_SetMapMin(MM_HANDLE h, double value) {
    return Edit(h, [&](Image& image) {
        if (!std::isfinite(value)) return false;
        image.map_min = value;
        return true;
    });
}

int MM_SetMapMax(MM_HANDLE h, double value) {
    return Edit(h, [&](Image& image) {
        if (!std::isfinite(value)) return false;
        image.map_max = value;
        return true;
    });
}

int MM_SetLUT(MM_HANDLE h, const int32_t* table) {
    if (table == nullptr) return 0;
    return Edit(h, [&](Image& image) {
        std::memcpy(image.lut.data(), table, sizeof(image.lut));
        return true;
    });
}

int MM_SetName(MM_HANDLE h, const char* name) {
    if (name == nullptr) return 0;
    return Edit(h, [&](Image& image) {
        image.name = name;
        return true;
    });
}

int MM_SetDimName(MM_HANDLE h, int16_t dim, const char* name) {
    if (name == nullptr || !ValidDim(dim)) return 0;
    return Edit(h, [&](Image& image) {
        image.dims[dim].name = name;
        return true;
    });
}

int MM_SetUnits(MM_HANDLE h, int16_t dim, const char* units) {
    if (units == nullptr || !ValidDim(dim)) return 0;
    return Edit(h, [&](Image& image) {
        image.dims[dim].units = units;
        return true;
    });
}

int MM_SetResolution(MM_HANDLE h, int16_t dim, double resolution) {
    if (!ValidDim(dim) || !std::isfinite(resolution)) return 0;
    return Edit(h, [&](Image& image) {
        image.dims[dim].resolution = resolution;
        return true;
    });
}

int MM_SetOrigin(MM_HANDLE h, int16_t dim, double origin) {
    if (!ValidDim(dim) || !std::isfinite(origin)) return 0;
    return Edit(h, [&](Image& image) {
        image.dims[dim].origin = origin;
        return true;
    });
}

int MM_WriteComment(MM_HANDLE h, const char* text, int32_t length) {
    if (text == nullptr || length <= 0) return 0;
    // Never read past `length`, and stop at an earlier zero: the stored text is always
    // terminated and its length always counts that zero.
    const size_t chars = strnlen(text, static_cast<size_t>(length));
    return Edit(h, [&](Image& image) {
        image.comment.assign(text, chars);
        image.has_comment = true;
        return true;
    });
}

MM_LEAF MM_GetData(MM_HANDLE h, MM_VECTOR index) {
    return Store::Get().GetData(h, index);
}

void* MM_Lock(MM_LEAF leaf, int32_t flags) {
    return Store::Get().Lock(leaf, (flags & MM_LOCK_WRITE) != 0);
}

int MM_Unlock(MM_LEAF leaf, int32_t modified) {
    return Store::Get().Unlock(leaf, modified != 0) ? 1 : 0;
}

int MM_GetStamp(MM_HANDLE h, MM_STAMP* stamp, int32_t index) {
    return Store::Get().GetStamp(h, stamp, index) ? 1 : 0;
}

int MM_SetStampPosition(MM_STAMP* stamp, int16_t dim, double position) {
    if (stamp == nullptr || !ValidDim(dim) || !std::isfinite(position)) return 0;
    stamp->position[dim] = position;
    return 1;
}

int MM_SetStamp(MM_HANDLE h, const MM_STAMP* stamp, int32_t index) {
    return stamp != nullptr && Store::Get().SetStamp(h, *stamp, index) ? 1 : 0;
}

int MM_ResizeImage(MM_HANDLE h, MM_VECTOR origin, MM_VECTOR size) {
    return Store::Get().Resize(h, origin, size) ? 1 : 0;
}

int MM_SetSize(MM_HANDLE h, int16_t dim, int32_t size) {
    return Store::Get().SetSize(h, dim, size) ? 1 : 0;
}

int32_t MM_GetDataType(MM_HANDLE h) {
    return Query(h, int32_t{0}, [](const Image& image) { return image.type; });
}

int64_t MM_GetFrameBytes(MM_HANDLE h) {
    return Query(h, int64_t{0},
                 [](const Image& image) { return static_cast<int64_t>(image.frame_bytes); });
}

int MM_InitBoundaries(MM_HANDLE h, MM_VECTOR* bounds, int32_t /*flags*/) {
    return Store::Get().Bounds(h, bounds) ? 1 : 0;
}

int MM_CalculateIndexVector(int32_t linear, MM_VECTOR* index, const MM_VECTOR* bounds) {
    if (index == nullptr) return 0;
    MM_InitVector(index, 0);
    bool ok = bounds != nullptr && linear >= 0;
    for (int d = 2; ok && d < MM_MAX_DIMS; ++d) ok = bounds->d[d] >= 1;
    if (!ok) {
        index->d[2] = -1;  // refused by MM_GetData
        return 0;
    }
    // Mixed radix with dimension 2 fastest; what is left over lands in the last dimension,
    // where a number past the end shows up as an out-of-range index.
    int64_t rest = linear;
    for (int d = 2; d < MM_MAX_DIMS - 1; ++d) {
        index->d[d] = static_cast<int32_t>(rest % bounds->d[d]);
        rest /= bounds->d[d];
    }
    index->d[MM_MAX_DIMS - 1] = static_cast<int32_t>(rest);
    return rest < bounds->d[MM_MAX_DIMS - 1] ? 1 : 0;
}

int MM_IsSCSIInitialised(void) {
    return Store::Get().Disk() ? 1 : 0;
}

int32_t MM_GetHandleSCSI_ID(MM_HANDLE h) {
    return Store::Get().DiskId(h);
}

int64_t MM_GetLeafOffset(MM_HANDLE h, int32_t index) {
    return Store::Get().LeafOffset(h, index).value_or(-1);
}

int64_t MM_GetLeafSize(MM_HANDLE h) {
    return Store::Get().LeafSize(h);
}

int32_t MM_GetDiskSectorSize(void) {
    auto disk = Store::Get().Disk();
    return disk ? disk->sector_bytes() : 0;
}

int MM_WriteBufferToBlockWithID(int32_t id, int64_t block, const void* buffer, int64_t bytes) {
    auto disk = Store::Get().DiskById(id);
    if (!disk || block < 0 || block > std::numeric_limits<int64_t>::max() / disk->sector_bytes()) {
        return 0;
    }
    return disk->Submit(block * disk->sector_bytes(), buffer, bytes) ? 1 : 0;
}

int MM_WaitForTransfer(void) {
    return Store::Get().WaitForTransfer() ? 1 : 0;
}

}  // extern "C"
