// The module's four entry points: the class factory a host asks for, whether the module may
// be unloaded, and its registration in the platform's registry (the class, its ProgID, its
// type library and the two component categories through which hosts find camera plug-ins of
// the family).
#include <bxplatform/com_create.h>
#include <bxplatform/com_registry.h>

#include <dlfcn.h>

#include <array>
#include <mutex>
#include <string>

#include <bxcamera/interfaces.h>
#include "automation/BXTessvikFerroFWImpl.h"

namespace ferro {

namespace {

// Loading the module initialises the component library for the loading thread as a
// single-threaded apartment; unloading gives it back, but only when the load took it.
struct LibraryInitialisation {
    LibraryInitialisation() : Succeeded(SUCCEEDED(CoInitialize(nullptr))) {}
    ~LibraryInitialisation() {
        if (Succeeded) CoUninitialize();
    }
    const bool Succeeded;
};
const LibraryInitialisation g_libraryInitialisation;

// Everything that counts towards unloading: live objects and LockServer(TRUE).
bx::com::ModuleLockCount& Locks() {
    static bx::com::ModuleLockCount locks;
    return locks;
}

// The class factory, made on the first request and kept.
bx::com::ComPtr<IClassFactory> Factory() {
    static std::mutex mutex;
    static bx::com::ComPtr<IClassFactory> factory;
    std::lock_guard lock(mutex);
    if (!factory) {
        factory = bx::com::ComPtr<IClassFactory>(
            bx::com::Make<bx::com::ClassFactory>(
                [](REFIID iid, void** object) {
                    auto control = bx::com::Make<TBXTessvikFerroFWImpl>(&Locks());
                    return control->QueryInterface(iid, object);
                },
                Locks())
                .Get());
    }
    return factory;
}

constexpr const char* kClassDescription = "RIROVoruzarUZ Control";
constexpr const char* kLibraryHelp = "BXTessvikFerroFWProj1 Library";

struct CategoryEntry {
    const CATID& Id;
    const char* Description;
};
const std::array<CategoryEntry, 2> kCategories = {{
    {CATID_BXGrabDevice, "BX Grab Device"},
    {CATID_IBXCommonGrabInterface,
     "BX Grab Device that supports the CATID_IBXCommonGrabInterface interface"},
}};

// The module's own file, as the registry names it. Paths with blanks are written as they are:
// the platform loads them as they stand (there is no short form to fall back on).
std::string ServerPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ServerPath), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

// The class's keys and values, in the order hosts' tools list them, with the type library
// registered right after the class names it.
HRESULT WriteClassKeys(bx::com::RegistryTree& tree, const std::string& server) {
    const std::string clsid = "CLSID\\" + bx::com::FormatGuid(CLSID_BXTessvikFerroFW);
    const std::string libid = bx::com::FormatGuid(LIBID_BXDTessvikFerroFWProj1);
    const std::string progid = kProgId;
    const std::array<std::array<std::string, 3>, 17> values = {{
        {clsid, "", kClassDescription},
        {clsid + "\\InprocServer32", "", server},
        {clsid + "\\InprocServer32", "ThreadingModel", "Both"},
        {progid, "", kClassDescription},
        {progid + "\\CLSID", "", bx::com::FormatGuid(CLSID_BXTessvikFerroFW)},
        {clsid + "\\ProgID", "", progid},
        {clsid + "\\Version", "", "1.0"},
        {clsid + "\\Typelib", "", libid},
        {"TypeLib\\" + libid + "\\1.0", "", kLibraryHelp},
        {"TypeLib\\" + libid + "\\1.0\\FLAGS", "", "2"},  // a control's library
        {"TypeLib\\" + libid + "\\1.0\\0\\linux", "", server},
        {clsid + "\\MiscStatus", "", "0"},
        {clsid + "\\MiscStatus\\1", "", std::to_string(kMiscStatus)},
        {clsid + "\\ToolboxBitmap32", "", server + ",1"},
        {clsid + "\\Control", "", ""},
        {clsid + "\\Verb", "", ""},
        {clsid + "\\Verb\\0", "", "Properties,0,2"},
    }};
    for (const auto& [key, name, data] : values) {
        const HRESULT hr = tree.SetValue(key, name, data);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

}  // namespace ferro

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                 void** object) {
    if (object == nullptr) return E_POINTER;
    if (clsid != CLSID_BXTessvikFerroFW) return CLASS_E_CLASSNOTAVAILABLE;
    *object = nullptr;
    return ferro::Factory()->QueryInterface(iid, object);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return ferro::Locks().Count() == 0 ? S_OK : S_FALSE;
}

// One registry update: the categories and the class's marks in them first (their results do
// not count: another plug-in of the family may have registered them already), then the class.
__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    using namespace ferro;
    using namespace bx::com;
    const std::string server = ServerPath();
    if (server.empty()) return E_UNEXPECTED;
    const CATID implemented[] = {CATID_BXGrabDevice};
    const CATID required[] = {CATID_IBXCommonGrabInterface};
    return RegTransaction([&](RegistryTree& tree) {
        for (const CategoryEntry& category : kCategories)
            RegisterCategory(tree, category.Id, 0x0409, category.Description);
        RegisterClassImplCategories(tree, CLSID_BXTessvikFerroFW, implemented);
        RegisterClassReqCategories(tree, CLSID_BXTessvikFerroFW, required);
        return WriteClassKeys(tree, server);
    });
}

// The class and its ProgID go; the categories, the class's marks in them (kept under the
// class's key) and the type library stay, for other plug-ins of the family may rely on them.
__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    const std::string clsid = "CLSID\\" + bx::com::FormatGuid(CLSID_BXTessvikFerroFW);
    bx::com::RegTransaction([&](bx::com::RegistryTree& tree) {
        for (const std::string& sub : tree.EnumKeys(clsid))
            if (sub != "Implemented Categories" && sub != "Required Categories")
                tree.DeleteTree(clsid + "\\" + sub);
        tree.DeleteValue(clsid, "");
        if (tree.KeyExists(clsid) && tree.EnumKeys(clsid).empty()) tree.DeleteTree(clsid);
        if (tree.KeyExists(ferro::kProgId)) tree.DeleteTree(ferro::kProgId);
        return S_OK;
    });
    return S_OK;
}

}  // extern "C"
