// Debugger output, thread ids and file append.
#include <bxplatform/kernel.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace bx::kernel {
namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}

}  // namespace

void OutputDebugStringA(const char* text) {
    if (!text) return;
    std::lock_guard lock(SinkMutex());
    if (Sink()) {
        Sink()(text);
    } else if (std::getenv("BX_DEBUG_OUTPUT")) {
        std::fputs(text, stderr);
    }
}

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard lock(SinkMutex());
    DebugSink old = std::move(Sink());
    Sink() = std::move(sink);
    return old;
}

uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

bool AppendToFile(const std::string& path, std::string_view data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

}  // namespace bx::kernel
