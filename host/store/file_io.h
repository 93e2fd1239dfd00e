// Small POSIX helpers shared by the disk device and the TIFF writer.
//
// Thread rule: thread-safe (positioned I/O, no shared state).
#pragma once

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace bx::mm {

// pwrite until every byte is written; false on the first error (errno kept).
inline bool WriteAll(int fd, const uint8_t* data, size_t length, int64_t offset) {
    while (length > 0) {
        const ssize_t n = pwrite(fd, data, length, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// pwritev until every byte is written; `iov` is consumed. False on the first error.
inline bool WriteAllVec(int fd, iovec* iov, int count, int64_t offset) {
    while (count > 0) {
        const ssize_t n = pwritev(fd, iov, count, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        offset += n;
        for (size_t left = static_cast<size_t>(n); left > 0 && count > 0;) {
            const size_t step = left < iov->iov_len ? left : iov->iov_len;
            iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + step;
            iov->iov_len -= step;
            left -= step;
            if (iov->iov_len == 0) {
                ++iov;
                --count;
            }
        }
    }
    return true;
}

}  // namespace bx::mm
