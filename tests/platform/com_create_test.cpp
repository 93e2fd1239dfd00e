// Creation of registered classes: the initialisation count, ProgID lookups, the class factory
// and module lock, and a host's path end to end: registry -> module -> class factory -> object,
// with the test module (fixtures/com_test_module.cpp) loaded from a folder with a space.
#include <bxplatform/com.h>

#include "fixtures/com_test_module.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using bx::com::ComPtr;

namespace {

constexpr CLSID kUnregistered = bx::com::GuidLiteral("{1E4F6A20-3B5C-4D7E-8F90-A1B2C3D4E501}");
constexpr CLSID kBroken = bx::com::GuidLiteral("{1E4F6A20-3B5C-4D7E-8F90-A1B2C3D4E502}");

std::string ClassKey(REFCLSID clsid) {
    return "CLSID\\" + bx::com::FormatGuid(clsid);
}

// A fresh registry with the test module copied into "<tmp>/plug ins/" and registered under
// the ProgID "BxTest.Doubler".
class Creation : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "bxcreate-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        bx::com::SetRegistryPath((dir_ / "classes.reg").string());
        fs::create_directories(dir_ / "plug ins");
        module_ = (dir_ / "plug ins" / "test module.so").string();
        fs::copy_file(BX_COM_TEST_MODULE, module_);
        HRESULT hr = bx::com::RegTransaction([&](bx::com::RegistryTree& tree) {
            tree.SetValue(ClassKey(CLSID_TestDoubler), "", "Doubler");
            tree.SetValue(ClassKey(CLSID_TestDoubler) + "\\InprocServer32", "", module_);
            tree.SetValue(ClassKey(CLSID_TestDoubler) + "\\ProgID", "", "BxTest.Doubler");
            tree.SetValue("BxTest.Doubler\\CLSID", "", bx::com::FormatGuid(CLSID_TestDoubler));
            return S_OK;
        });
        ASSERT_EQ(hr, S_OK);
    }
    void TearDown() override {
        bx::com::SetRegistryPath("");
        fs::remove_all(dir_);  // the loaded module stays mapped; removing its file is fine
    }

    // The module's own answer, asked directly (the handle is the one already loaded).
    HRESULT ModuleCanUnloadNow() {
        void* handle = dlopen(module_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle) return E_UNEXPECTED;
        auto can_unload =
            reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
        HRESULT hr = can_unload ? can_unload() : E_UNEXPECTED;
        dlclose(handle);  // drops only the reference RTLD_NOLOAD added
        return hr;
    }

    fs::path dir_;
    std::string module_;
};

}  // namespace

TEST(CoInitialize, CountsPerThreadAndRefusesAChangeOfModel) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        std::thread([] { EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }).join();
        CoUninitialize();
        CoUninitialize();
        // Fully uninitialised: any model may start again.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
        CoUninitialize();  // one too many is harmless
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
}

TEST(ClassFactory, RefusesAggregationAndOnlyLockServerAndObjectsCount) {
    bx::com::ModuleLockCount locks;
    int created = 0;
    auto factory = bx::com::Make<bx::com::ClassFactory>(
        [&](REFIID iid, void** object) {
            ++created;
            // A trivial object: a nested factory answers IUnknown well enough here.
            auto made = bx::com::Make<bx::com::ClassFactory>(nullptr, locks);
            return made->QueryInterface(iid, object);
        },
        locks);
    EXPECT_EQ(locks.Count(), 0) << "the factory itself does not hold the module";

    ComPtr<IUnknown> outer = factory;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(created, 0);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    factory->LockServer(1);
    factory->LockServer(1);
    EXPECT_EQ(locks.CanUnloadNow(), S_FALSE);
    factory->LockServer(0);
    factory->LockServer(0);
    EXPECT_EQ(locks.CanUnloadNow(), S_OK);
}

TEST_F(Creation, ProgIdAndClassIdentifierFindEachOther) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"bxtest.DOUBLER", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestDoubler);

    LPOLESTR progid = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TestDoubler, &progid), S_OK);
    EXPECT_EQ(std::u16string_view(progid), u"BxTest.Doubler");
    CoTaskMemFree(progid);
    EXPECT_EQ(ProgIDFromCLSID(kUnregistered, &progid), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progid, nullptr);
}

TEST_F(Creation, UnknownOrMalformedProgIdsAreClassStringErrors) {
    ASSERT_EQ(bx::com::RegSetValue("BxTest.Mangled\\CLSID", "", "{not a guid}"), S_OK);
    ASSERT_EQ(bx::com::RegCreateKey("BxTest.Empty"), S_OK);
    for (const char* progid : {"BxTest.Missing", "BxTest.Mangled", "BxTest.Empty", ""}) {
        CLSID clsid = CLSID_TestDoubler;
        EXPECT_EQ(CLSIDFromProgID(std::string_view(progid), &clsid), CO_E_CLASSSTRING) << progid;
        EXPECT_EQ(clsid, CLSID_TestDoubler) << "untouched on failure";
    }
    EXPECT_EQ(CLSIDFromProgID(static_cast<LPCOLESTR>(nullptr), nullptr), E_INVALIDARG);
}

TEST_F(Creation, EachWayOfNotBeingCreatableHasItsOwnCode) {
    // A library that loads but is no module: the platform library itself.
    Dl_info self{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&SysFreeString), &self), 0);
    struct Case {
        const char* what;
        std::optional<std::string> server;  // nullopt: class not registered at all
        DWORD clsctx;
        HRESULT expected;
    };
    const Case cases[] = {
        {"unregistered", std::nullopt, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
        {"empty server path", "", CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
        {"out-of-process only", module_, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
        {"missing module", (dir_ / "plug ins" / "gone.so").string(), CLSCTX_ALL, CO_E_DLLNOTFOUND},
        {"no entry point", std::string(self.dli_fname), CLSCTX_ALL, CO_E_ERRORINDLL},
    };
    for (const Case& c : cases) {
        bx::com::RegDeleteTree(ClassKey(kBroken));
        if (c.server) {
            ASSERT_EQ(bx::com::RegSetValue(ClassKey(kBroken) + "\\InprocServer32", "", *c.server),
                      S_OK);
        }
        ComPtr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(kBroken, nullptr, c.clsctx, IID_IUnknown, object.PutVoid()),
                  c.expected)
            << c.what;
        EXPECT_FALSE(object) << c.what;
        if (c.expected == CO_E_DLLNOTFOUND) {
            EXPECT_NE(bx::com::LastLoadError().find("gone.so"), std::string::npos)
                << bx::com::LastLoadError();
        }
    }
    // The module answers for its own class only.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(bx::com::RegSetValue(ClassKey(kBroken) + "\\InprocServer32", "", module_), S_OK);
    EXPECT_EQ(CoGetClassObject(kBroken, IID_IClassFactory, factory.PutVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Creation, AHostCreatesByProgIdCallsAndReleasesAndTheModuleMayThenUnload) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(std::string_view("BxTest.Doubler"), &clsid), S_OK);
    ComPtr<ITestDoubler> doubler;
    ASSERT_EQ(bx::com::CreateInstance(clsid, &doubler), S_OK) << bx::com::LastLoadError();
    LONG result = 0;
    EXPECT_EQ(doubler->Twice(21, &result), S_OK);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE) << "a live object holds the module";

    // Unloading unused libraries must spare a module whose object lives.
    CoFreeUnusedLibraries();
    EXPECT_EQ(doubler->Twice(2, &result), S_OK);
    EXPECT_EQ(result, 4);

    doubler.Reset();
    EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}

TEST_F(Creation, LockServerKeepsTheModuleWithoutObjects) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestDoubler, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    EXPECT_EQ(ModuleCanUnloadNow(), S_OK) << "a factory alone does not count";
    factory->LockServer(1);
    EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
    ComPtr<ITestDoubler> doubler;
    ASSERT_EQ(factory->CreateInstance(nullptr, bx::com::IidOf<ITestDoubler>(), doubler.PutVoid()),
              S_OK);
    factory->LockServer(0);
    EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
    doubler.Reset();
    EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}

TEST_F(Creation, AnUnloadedModuleLoadsAgainOnTheNextCreation) {
    ComPtr<ITestDoubler> doubler;
    ASSERT_EQ(bx::com::CreateInstance(CLSID_TestDoubler, &doubler), S_OK);
    doubler.Reset();
    CoFreeUnusedLibraries();
    ASSERT_EQ(bx::com::CreateInstance(CLSID_TestDoubler, &doubler), S_OK)
        << bx::com::LastLoadError();
    LONG result = 0;
    EXPECT_EQ(doubler->Twice(5, &result), S_OK);
    EXPECT_EQ(result, 10);
}
