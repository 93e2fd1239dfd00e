#include "support/PageWarmer.h"

#include <unistd.h>

#include <atomic>
#include <system_error>

namespace ferro::support {

void TouchPages(uint8_t* data, size_t bytes) {
    if (data == nullptr) return;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    for (size_t at = 0; at < bytes; at += page)
        std::atomic_ref<uint8_t>(data[at]).fetch_or(0, std::memory_order_relaxed);
}

PageWarmer::PageWarmer(uint8_t* data, size_t bytes) {
    // Below this a helper thread costs more than the faults it saves.
    constexpr size_t kWorthIt = size_t{1} << 20;
    if (data == nullptr || bytes < kWorthIt) return;
    try {
        thread_ = std::thread([data, bytes] { TouchPages(data, bytes); });
    } catch (const std::system_error&) {
        // No thread: the faults are simply taken later, by whoever writes first.
    }
}

PageWarmer::~PageWarmer() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace ferro::support
