// Creating objects of registered classes: the per-thread library initialisation count, ProgID
// and class-identifier lookups, and CoGetClassObject / CoCreateInstance, which find a class's
// module in the registry (com_registry.h), load it and ask its DllGetClassObject.
//
// A class is in-process only: "CLSID\{clsid}\InprocServer32" holds the module's path (spaces
// are fine). Each module is loaded once per path and stays loaded for the process's life,
// since objects it made may still live; CoFreeUnusedLibraries unloads those whose
// DllCanUnloadNow answers S_OK.
//
// Creation works whether or not the thread called CoInitialize(Ex): the count is kept so that
// code written for the classic calling order (and modules that initialise at load) behaves as
// there, including RPC_E_CHANGED_MODE for a second, different threading model.
//
// Thread rule: all functions are thread-safe. The initialisation count and LastLoadError are
// per thread.
#pragma once

#include <bxplatform/com_object.h>

#include <optional>
#include <string>
#include <string_view>

// Threading models of CoInitializeEx.
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Class contexts; only in-process servers exist here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// S_OK on the thread's first call, S_FALSE on later ones (each to be matched by
// CoUninitialize); RPC_E_CHANGED_MODE, not counted, when `coinit` differs from the model the
// thread was first initialised with. `reserved` must be null.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

// Memory that crosses the interface boundary (ProgIDFromCLSID's text).
void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* block);

// The class identifier named by "<progid>\CLSID"; CO_E_CLASSSTRING when there is none (or it
// is malformed), E_INVALIDARG for null arguments.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
HRESULT CLSIDFromProgID(std::string_view progid, LPCLSID clsid);
// The ProgID of a class ("CLSID\{clsid}\ProgID"), in memory from CoTaskMemAlloc;
// REGDB_E_CLASSNOTREG when the class has none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);

// The class object of `clsid`, answered for `iid`. REGDB_E_CLASSNOTREG when the class (or its
// in-process server) is not registered or `clsctx` excludes in-process servers;
// CO_E_DLLNOTFOUND when the module does not load; CO_E_ERRORINDLL when it lacks
// DllGetClassObject; otherwise the module's answer. `server_info` must be null.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* server_info, REFIID iid,
                         void** object);
HRESULT CoGetClassObject(REFCLSID clsid, REFIID iid, void** object);  // in-process
// The class object's IClassFactory::CreateInstance(outer, iid, object), then the factory is
// released.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** object);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace bx::com {

// The text of the calling thread's last load failure (dlerror's, or what was missing);
// empty after a success.
std::string LastLoadError();

// Typed forms.
std::optional<std::string> ProgIdOf(REFCLSID clsid);

template <typename Interface>
HRESULT CreateInstance(REFCLSID clsid, ComPtr<Interface>* object) {
    if (!object) return E_POINTER;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IidOf<Interface>(),
                            object->PutVoid());
}

}  // namespace bx::com
