#include "support/GlobalBuffer.h"

namespace ferro::support {

GlobalBuffer::GlobalBuffer(size_t bytes) : bytes_(bytes) {
    block_ = bx::kernel::GlobalAlloc(bytes);
    if (block_ == nullptr) return;
    data_ = static_cast<uint8_t*>(bx::kernel::GlobalLock(block_));
    if (data_ == nullptr) {
        bx::kernel::GlobalFree(block_);
        block_ = nullptr;
    }
}

GlobalBuffer::~GlobalBuffer() {
    if (block_ == nullptr) return;
    bx::kernel::GlobalUnlock(block_);
    bx::kernel::GlobalFree(block_);
}

}  // namespace ferro::support
