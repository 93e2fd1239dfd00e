// Global memory blocks. Handles are registered in a set so that unknown or freed handles are
// recognised and refused rather than dereferenced.
#include <bxplatform/kernel.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

namespace bx::kernel {

namespace {

// Large blocks are page-aligned so that frame buffers handed to direct (unbuffered) disk
// writes need no bounce copy; small ones are cache-line aligned.
std::align_val_t AlignmentFor(size_t bytes) {
    return std::align_val_t{bytes >= 64 * 1024 ? 4096u : 64u};
}

struct AlignedFree {
    std::align_val_t alignment;
    void operator()(std::byte* p) const { ::operator delete[](p, alignment); }
};

}  // namespace

struct GlobalBlock {
    std::unique_ptr<std::byte[], AlignedFree> data{nullptr, AlignedFree{std::align_val_t{64}}};
    size_t size = 0;
    int locks = 0;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<GlobalBlock*> blocks;
    int failAllocIn = 0;  // countdown; the call that brings it to zero fails
    int failLockIn = 0;
};

Registry& Reg() {
    static Registry r;
    return r;
}

// Counts a hook down; true when this call is the one that must fail.
bool HookFires(int& countdown) {
    if (countdown <= 0) return false;
    return --countdown == 0;
}

}  // namespace

HGLOBAL GlobalAlloc(size_t bytes) {
    if (bytes == 0) return nullptr;
    Registry& r = Reg();
    {
        std::lock_guard lock(r.mutex);
        if (HookFires(r.failAllocIn)) return nullptr;
    }
    auto block = std::make_unique<GlobalBlock>();
    const std::align_val_t alignment = AlignmentFor(bytes);
    auto* memory = static_cast<std::byte*>(::operator new[](bytes, alignment, std::nothrow));
    if (!memory) return nullptr;
    std::memset(memory, 0, bytes);
    block->data = std::unique_ptr<std::byte[], AlignedFree>(memory, AlignedFree{alignment});
    block->size = bytes;
    std::lock_guard lock(r.mutex);
    r.blocks.insert(block.get());
    return block.release();
}

void* GlobalLock(HGLOBAL h) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    if (!h || !r.blocks.count(h)) return nullptr;
    if (HookFires(r.failLockIn)) return nullptr;
    ++h->locks;
    return h->data.get();
}

bool GlobalUnlock(HGLOBAL h) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    if (!h || !r.blocks.count(h) || h->locks == 0) return false;
    --h->locks;
    return true;
}

bool GlobalFree(HGLOBAL h) {
    Registry& r = Reg();
    {
        std::lock_guard lock(r.mutex);
        if (!h || !r.blocks.erase(h)) return false;
    }
    delete h;
    return true;
}

int GlobalLockCount(HGLOBAL h) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    return (h && r.blocks.count(h)) ? h->locks : -1;
}

size_t GlobalSize(HGLOBAL h) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    return (h && r.blocks.count(h)) ? h->size : 0;
}

size_t GlobalBlocksInUse() {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    return r.blocks.size();
}

void FailNthGlobalAlloc(int n) {
    std::lock_guard lock(Reg().mutex);
    Reg().failAllocIn = n > 0 ? n : 0;
}

void FailNthGlobalLock(int n) {
    std::lock_guard lock(Reg().mutex);
    Reg().failLockIn = n > 0 ? n : 0;
}

}  // namespace bx::kernel
