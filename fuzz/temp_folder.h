// A private folder for a fuzz target's files, removed when the process ends normally.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace bx::fuzz {

// In memory where there is one: the code under test syncs every file it writes, which makes a
// disk slow. Made once per process.
inline const std::string& TempFolder(const char* name) {
    static const std::string folder = [name] {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(base) + "/" + name + ".XXXXXX";
            if (mkdtemp(pattern.data())) return pattern;
        }
        std::abort();
    }();
    static const int cleanup = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    (void)cleanup;
    return folder;
}

}  // namespace bx::fuzz
