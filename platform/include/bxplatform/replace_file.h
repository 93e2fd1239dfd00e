// Replacing a file so that nobody, not even a crash, sees anything but the old file or the
// complete new one: the new contents go to a temporary file in the target's folder, which is
// made durable and then renamed over the target. A save that fails leaves the old file (or
// its absence) exactly as it was.
//
// A symbolic link at the output path is followed, through chains, to the file it finally
// names; that file is replaced and the links stay. A replaced file keeps its permission bits
// (and, where allowed, its owner).
//
// Only a regular file (or nothing yet) is replaced: a folder, a device or a FIFO at the end of
// the links is refused. The settings file and the image store both save through this.
//
// Thread rule: thread-bound, one object per save; separate objects are independent, and two
// saves to the same path never share a temporary.
#pragma once

#include <string>

namespace bx::kernel {

class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();  // removes the temporary unless Commit renamed it

    // Resolves `path` and creates the temporary beside its target. False with error() set;
    // nothing on disk has changed then.
    bool Open(const std::string& path);

    int fd() const { return fd_; }  // the temporary, read-write
    const std::string& temp_path() const { return temp_; }
    const std::string& target() const { return target_; }  // the file that is replaced
    const std::string& error() const { return error_; }

    // Flushes the temporary to disk, renames it over the target and flushes the folder.
    // False with error() set. A failure before the rename removes the temporary and leaves
    // the target untouched; only a failed flush of the folder comes after the rename, and
    // its error says that the new file is already in place.
    bool Commit();

private:
    bool Fail(const std::string& what);  // records "<path>: <what>: <errno text>"

    std::string path_;    // as the caller gave it, for messages
    std::string target_;  // after following symbolic links
    std::string folder_;
    std::string temp_;
    int fd_ = -1;
    bool renamed_ = false;
    std::string error_;
};

}  // namespace bx::kernel
