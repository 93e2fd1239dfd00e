// Library initialisation count, ProgID lookups and creation through in-process modules
// (see com_create.h).
#include <bxplatform/com_create.h>

#include <bxplatform/com_factory.h>
#include <bxplatform/com_registry.h>
#include <bxplatform/com_string.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// ---- Initialisation count ------------------------------------------------------------------

struct ThreadInit {
    int count = 0;
    DWORD model = 0;
};
thread_local ThreadInit thread_init;

}  // namespace

HRESULT CoInitializeEx(void* reserved, DWORD coinit) {
    if (reserved) return E_INVALIDARG;
    const DWORD model = coinit & COINIT_APARTMENTTHREADED;
    if (thread_init.count > 0 && thread_init.model != model) return RPC_E_CHANGED_MODE;
    thread_init.model = model;
    return thread_init.count++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (thread_init.count > 0) --thread_init.count;
}

void* CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void CoTaskMemFree(void* block) {
    std::free(block);
}

// ---- ProgIDs -----------------------------------------------------------------------------

HRESULT CLSIDFromProgID(std::string_view progid, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    if (progid.empty()) return CO_E_CLASSSTRING;
    std::optional<std::string> text = bx::com::RegQueryValue(std::string(progid) + "\\CLSID", "");
    std::optional<GUID> parsed = text ? bx::com::ParseGuid(std::string_view(*text)) : std::nullopt;
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
    if (!progid || !clsid) return E_INVALIDARG;
    return CLSIDFromProgID(std::string_view(bx::com::ToUtf8(progid)), clsid);
}

namespace bx::com {

std::optional<std::string> ProgIdOf(REFCLSID clsid) {
    std::optional<std::string> progid =
        RegQueryValue("CLSID\\" + FormatGuid(clsid) + "\\ProgID", "");
    if (progid && progid->empty()) return std::nullopt;
    return progid;
}

}  // namespace bx::com

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
    if (!progid) return E_INVALIDARG;
    *progid = nullptr;
    std::optional<std::string> name = bx::com::ProgIdOf(clsid);
    if (!name) return REGDB_E_CLASSNOTREG;
    std::u16string text = bx::com::ToUtf16(*name);
    auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *progid = copy;
    return S_OK;
}

// ---- Modules -----------------------------------------------------------------------------

namespace {

struct Module {
    void* handle;
    DllGetClassObjectFunction get_class_object;
    DllCanUnloadNowFunction can_unload_now;  // null when the module does not export it
};

// Loaded modules by path. The mutex is recursive because loading a module runs its
// initialisers, and calling DllGetClassObject runs its code, either of which may create objects
// of other classes on this thread. It is held across DllGetClassObject so that
// CoFreeUnusedLibraries cannot unload a module between its lookup and the call.
std::recursive_mutex modules_mutex;
std::map<std::string, Module>& Modules() {
    // Never destroyed: modules stay loaded to the end, and their code may still create objects
    // while static objects are being torn down.
    static auto* modules = new std::map<std::string, Module>;
    return *modules;
}

thread_local std::string load_error;

HRESULT LoadFailure(HRESULT hr, std::string text) {
    load_error = std::move(text);
    return hr;
}

// The module at `path`, loading it on first use. Call with modules_mutex held.
HRESULT ModuleAt(const std::string& path, Module** module) {
    auto found = Modules().find(path);
    if (found != Modules().end()) {
        *module = &found->second;
        return S_OK;
    }
    dlerror();  // clear any earlier text
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return LoadFailure(CO_E_DLLNOTFOUND, why ? why : path + ": cannot load");
    }
    auto get = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
    if (!get) {
        const char* why = dlerror();
        std::string text = why ? why : path + ": no DllGetClassObject";
        dlclose(handle);
        return LoadFailure(CO_E_ERRORINDLL, text);
    }
    auto can_unload = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
    auto [it, inserted] = Modules().emplace(path, Module{handle, get, can_unload});
    *module = &it->second;
    return S_OK;
}

}  // namespace

namespace bx::com {

std::string LastLoadError() {
    return load_error;
}

}  // namespace bx::com

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* server_info, REFIID iid,
                         void** object) {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (server_info) return E_INVALIDARG;
    load_error.clear();
    if (!(clsctx & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::optional<std::string> path =
        bx::com::RegQueryValue("CLSID\\" + bx::com::FormatGuid(clsid) + "\\InprocServer32", "");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;

    std::lock_guard lock(modules_mutex);
    Module* module = nullptr;
    if (HRESULT hr = ModuleAt(*path, &module); FAILED(hr)) return hr;
    return module->get_class_object(clsid, iid, object);
}

HRESULT CoGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    bx::com::ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, clsctx, nullptr, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    return factory->CreateInstance(outer, iid, object);
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(modules_mutex);
    for (auto it = Modules().begin(); it != Modules().end();) {
        const Module& module = it->second;
        if (module.can_unload_now && module.can_unload_now() == S_OK) {
            dlclose(module.handle);
            it = Modules().erase(it);
        } else {
            ++it;
        }
    }
}
