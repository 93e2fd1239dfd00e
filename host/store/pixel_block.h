// Zero-filled pixel memory. Blocks of 64 KiB and more are whole pages of their own (mmap), so
// they are page-aligned, can be handed to direct I/O unchanged, and an image's resident memory
// stays close to its pixel bytes. Smaller blocks come from the heap.
//
// Thread rule: thread-bound (owned by one leaf or buffer; the store serialises access).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bx::mm {

// Alignment needed by direct I/O on the file systems we write to.
inline constexpr size_t kDirectAlign = 4096;

inline size_t RoundUp(size_t value, size_t step) {
    return (value + step - 1) / step * step;
}
inline bool IsAligned(const void* p, size_t step) {
    return reinterpret_cast<uintptr_t>(p) % step == 0;
}

class PixelBlock {
public:
    PixelBlock() = default;
    // An empty block when `bytes` is 0 or memory runs out. Heap blocks are aligned to
    // `heap_align` (a power of two); mapped blocks are always page-aligned.
    static PixelBlock Allocate(size_t bytes, size_t heap_align = 64);

    PixelBlock(PixelBlock&& other) noexcept;
    PixelBlock& operator=(PixelBlock&& other) noexcept;
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;
    ~PixelBlock();

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    void Release();

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_bytes_ = 0;  // non-zero when the block is an mmap of that many bytes
};

}  // namespace bx::mm
