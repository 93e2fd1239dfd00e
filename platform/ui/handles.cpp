// The 32-bit handle table.
#include <bxplatform/handles.h>

#include <limits>

namespace bx {

uint32_t HandleTable::RegisterAs(void* object, std::type_index type) {
    if (object == nullptr) return 0;
    std::lock_guard lock(mutex_);
    // Numbers only grow, so a released handle can never come back naming another object.
    if (last_ == std::numeric_limits<uint32_t>::max()) return 0;
    uint32_t handle = ++last_;
    entries_.emplace(handle, Entry{object, type});
    return handle;
}

void* HandleTable::LookupAs(uint32_t handle, std::type_index type) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end()) return nullptr;
    if (type != std::type_index(typeid(void)) && it->second.type != type) return nullptr;
    return it->second.object;
}

bool HandleTable::Release(uint32_t handle) {
    std::lock_guard lock(mutex_);
    return entries_.erase(handle) > 0;
}

size_t HandleTable::Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

HandleTable& ObjectHandles() {
    static HandleTable table;
    return table;
}

}  // namespace bx
