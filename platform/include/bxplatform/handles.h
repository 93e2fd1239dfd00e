// 32-bit handles for objects that cross a 32-bit boundary (an interface that carries an object
// reference as a 32-bit integer). A pointer is never squeezed into 32 bits: the object is
// registered here and the handle names it until it is released.
//
// Handles are never 0 and a handle number is never given out again while the process lives
// (after 2^32 - 1 registrations the table refuses, returning 0), so a stale handle finds
// nothing rather than another object. An object registered with a type is found only under
// that type.
//
// Thread rule: thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace bx {

class HandleTable {
public:
    // Registers `object` (not null) and returns its new handle; 0 for a null object.
    template <class T>
    uint32_t Register(T* object) {
        return RegisterAs(const_cast<void*>(static_cast<const void*>(object)), typeid(T));
    }
    // The object registered under `handle` with type T, or null for an unknown or released
    // handle or an object registered as another type. Lookup<void> accepts any type.
    template <class T>
    T* Lookup(uint32_t handle) const {
        return static_cast<T*>(LookupAs(handle, typeid(T)));
    }
    // Forgets the handle; returns false for an unknown or already released handle.
    bool Release(uint32_t handle);
    // Number of live handles.
    size_t Size() const;

private:
    struct Entry {
        void* object;
        std::type_index type;
    };
    uint32_t RegisterAs(void* object, std::type_index type);
    void* LookupAs(uint32_t handle, std::type_index type) const;

    mutable std::mutex mutex_;
    std::unordered_map<uint32_t, Entry> entries_;
    uint32_t last_ = 0;
};

// The process-wide table shared by the host, the image view and the automation layer.
HandleTable& ObjectHandles();

}  // namespace bx
