#include "pixel_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace bx::mm {

namespace {
constexpr size_t kMapThreshold = 64 * 1024;

size_t PageSize() {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
}
}  // namespace

PixelBlock PixelBlock::Allocate(size_t bytes, size_t heap_align) {
    PixelBlock block;
    if (bytes == 0) return block;
    if (bytes >= kMapThreshold) {
        // Anonymous mappings are zero-filled by the kernel and only become resident when
        // touched, so creating a large image costs no time until its frames are written.
        const size_t mapped = RoundUp(bytes, PageSize());
        if (mapped < bytes) return block;  // overflow
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return block;
        block.data_ = static_cast<uint8_t*>(p);
        block.mapped_bytes_ = mapped;
    } else {
        void* p = std::aligned_alloc(heap_align, RoundUp(bytes, heap_align));
        if (p == nullptr) return block;
        std::memset(p, 0, bytes);
        block.data_ = static_cast<uint8_t*>(p);
    }
    block.size_ = bytes;
    return block;
}

PixelBlock::PixelBlock(PixelBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_bytes_(std::exchange(other.mapped_bytes_, 0)) {}

PixelBlock& PixelBlock::operator=(PixelBlock&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_bytes_ = std::exchange(other.mapped_bytes_, 0);
    }
    return *this;
}

PixelBlock::~PixelBlock() {
    Release();
}

void PixelBlock::Release() {
    if (data_ == nullptr) return;
    if (mapped_bytes_ != 0) {
        munmap(data_, mapped_bytes_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
    mapped_bytes_ = 0;
}

}  // namespace bx::mm
