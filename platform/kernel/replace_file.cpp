// Replacing a file through a durable temporary and a rename (see replace_file.h).
#include "bxplatform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace bx::kernel {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows when it follows links itself

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ReadLink(const std::string& link, size_t size_hint) {
    std::vector<char> buffer(size_hint + 2);
    for (;;) {
        const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (size_t(n) < buffer.size()) return std::string(buffer.data(), size_t(n));
        buffer.resize(buffer.size() * 2);  // the link changed meanwhile and grew
    }
}

// The file `path` finally names: each symbolic link is replaced by what it points to (a
// relative link counts from the link's own folder). A path naming nothing yet is its own
// target, so a dangling link creates the file it points to. errno is set on failure.
std::optional<std::string> FollowLinks(std::string path, struct stat* st, bool* exists) {
    for (int hops = 0;; ++hops) {
        if (lstat(path.c_str(), st) != 0) {
            if (errno != ENOENT) return std::nullopt;
            *exists = false;
            return path;
        }
        if (!S_ISLNK(st->st_mode)) {
            *exists = true;
            return path;
        }
        if (hops == kMaxLinkHops) {
            errno = ELOOP;
            return std::nullopt;
        }
        auto link = ReadLink(path, size_t(st->st_size));
        if (!link) return std::nullopt;
        if (link->empty()) {
            errno = ENOENT;
            return std::nullopt;
        }
        path = (*link)[0] == '/' ? *link : FolderOf(path) + "/" + *link;
    }
}

}  // namespace

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty() && !renamed_) unlink(temp_.c_str());
}

bool ReplacingFile::Fail(const std::string& what) {
    error_ = path_ + ": " + what + ": " + std::strerror(errno);
    return false;
}

bool ReplacingFile::Open(const std::string& path) {
    path_ = path;
    struct stat st {};
    bool exists = false;
    auto target = FollowLinks(path, &st, &exists);
    if (!target) return Fail("cannot follow the path");
    target_ = *target;
    if (exists && !S_ISREG(st.st_mode)) {
        error_ = path_ + ": not a regular file";
        return false;
    }
    folder_ = FolderOf(target_);

    // A hidden name next to the target, unique per process and save; the name is cut so the
    // additions never push it past the file system's name limit.
    static std::atomic<unsigned> counter{0};
    const std::string stem =
        folder_ + "/." + NameOf(target_).substr(0, 200) + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; fd_ < 0; ++attempt) {
        std::string name = stem + std::to_string(counter.fetch_add(1)) + ".part";
        // The usual mode of a new file, less the umask; a replaced file's own bits are set below.
        fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = std::move(name);
        } else if (errno != EEXIST || attempt == 100) {
            return Fail("cannot create a temporary file in " + folder_);
        }
    }
    if (exists) {
        // Best effort: the contents are what matter, and only a privileged process may give
        // a file away. The owner goes first because changing it clears set-id bits.
        if (fchown(fd_, st.st_uid, st.st_gid) != 0) errno = 0;
        if (fchmod(fd_, st.st_mode & 07777) != 0) errno = 0;
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return Fail("nothing to commit");
    }
    if (fsync(fd_) != 0) return Fail("cannot flush the new contents to disk");
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
        return Fail("cannot rename " + temp_ + " over " + target_);
    }
    renamed_ = true;
    close(fd_);
    fd_ = -1;
    // The rename itself lives in the folder: flush it too, or a crash can bring the old
    // file back. A file system that cannot flush a folder says EINVAL; nothing more to do.
    const int folder = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = folder >= 0 && (fsync(folder) == 0 || errno == EINVAL);
    const int saved_errno = errno;
    if (folder >= 0) close(folder);
    errno = saved_errno;
    if (!flushed) {
        return Fail("the new file is in place, but its folder " + folder_ +
                    " could not be flushed to disk");
    }
    return true;
}

}  // namespace bx::kernel
