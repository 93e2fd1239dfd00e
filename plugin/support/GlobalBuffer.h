// A zero-filled global memory block, locked for its whole life and freed when it goes: the
// memory the control hands to the store (palettes) and uses for temporary frames.
//
// Thread rule: a GlobalBuffer belongs to the thread that made it.
#pragma once

#include <bxplatform/kernel.h>

#include <cstddef>
#include <cstdint>

namespace ferro::support {

class GlobalBuffer {
public:
    // An allocation or lock that fails leaves the buffer empty (check with `operator bool`).
    explicit GlobalBuffer(size_t bytes);
    ~GlobalBuffer();
    GlobalBuffer(const GlobalBuffer&) = delete;
    GlobalBuffer& operator=(const GlobalBuffer&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    uint8_t* data() const { return data_; }
    size_t size() const { return data_ ? bytes_ : 0; }

private:
    bx::kernel::HGLOBAL block_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

}  // namespace ferro::support
