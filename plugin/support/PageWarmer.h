// Takes the first-write page faults of a fresh buffer on a helper thread, so that a caller who
// will fill the buffer later has them paid while it waits for something else (a camera
// exposing). Each page is rewritten with its own content (an atomic no-op), so nothing changes.
//
// Thread rule: a PageWarmer belongs to the thread that made it; it joins its helper when it
// goes. Nobody else may write the buffer meanwhile except through atomic operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

namespace ferro::support {

// The same on the calling thread: touches every page of the buffer, so the first-write faults
// are taken now. Nothing changes in the buffer.
void TouchPages(uint8_t* data, size_t bytes);

class PageWarmer {
public:
    // Does nothing for a small buffer or when no thread can be had.
    PageWarmer(uint8_t* data, size_t bytes);
    ~PageWarmer();
    PageWarmer(const PageWarmer&) = delete;
    PageWarmer& operator=(const PageWarmer&) = delete;

private:
    std::thread thread_;
};

}  // namespace ferro::support
