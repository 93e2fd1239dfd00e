#include "module.h"

#include <bxplatform/com_factory.h>
#include <bxplatform/com_registry.h>
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "session.h"

namespace bxgrab {

namespace fs = std::filesystem;

namespace {

constexpr const char* kModuleName = "libRIROVoruzarUZ.so";

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

std::string DefaultModulePath() {
    if (const char* forced = std::getenv("BXGRAB_MODULE"); forced && *forced) return forced;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const fs::path lib = (exe.parent_path() / ".." / "lib").lexically_normal();
    if (fs::exists(lib / kModuleName, ec)) return (lib / kModuleName).string();
    // Only a versioned name (an install without the development link).
    std::string best;
    for (const auto& entry : fs::directory_iterator(lib, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(std::string(kModuleName) + ".", 0) == 0 && (best.empty() || name < best))
            best = entry.path().string();
    }
    return best;
}

HRESULT CallRegistration(const std::string& module, bool unregister, std::string* error) {
    // An absolute path, so the registry names the file whatever the working folder.
    const std::string path = fs::absolute(module).lexically_normal().string();
    // The module stays loaded: the platform loads it by the same path to create the control.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error) *error = ::dlerror();
        return E_FAIL;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = reinterpret_cast<DllRegisterServerFunction>(::dlsym(handle, entry));
    if (call == nullptr) {
        if (error) *error = path + " has no " + entry;
        return E_FAIL;
    }
    return call();
}

int RunRegister(const std::string& module, bool unregister) {
    const std::string path = module.empty() ? DefaultModulePath() : module;
    if (path.empty())
        throw Failure{kCamera, "no control module beside bxgrab; name one with --module"};
    std::string error;
    const HRESULT hr = CallRegistration(path, unregister, &error);
    const std::string registry = bx::com::RegistryPath();
    if (FAILED(hr))
        throw Failure{kCamera, std::string(unregister ? "unregistering " : "registering ") + path +
                                   " failed: " + (error.empty() ? HexCode(hr) : error) +
                                   (error.empty() ? " (registry " + registry + ")" : "")};
    std::cout << (unregister ? "unregistered " : "registered ") << path << "\n"
              << "registry: " << registry << "\n";
    return kOk;
}

}  // namespace bxgrab
