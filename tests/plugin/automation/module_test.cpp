// The module as the platform loads it: registration in a registry file (twice the same, the
// categories kept by unregistration), creation by ProgID through the registered path (one
// with a blank in it), the class-factory lookup and the unload rule.
#include <bxplatform/com.h>
#include <bxplatform/com_create.h>
#include <bxplatform/com_factory.h>
#include <bxplatform/com_registry.h>
#include <gtest/gtest.h>
#include <kvcam/kvcam_sim.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <bxcamera/interfaces.h>

namespace fs = std::filesystem;
using bx::com::ComPtr;

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("bx module " + std::to_string(::getpid()));
        fs::create_directories(dir_ / "plug ins");
        // A copy in a folder whose name has a blank: the path the registry keeps must load.
        module_ = (dir_ / "plug ins" / "camera module.so").string();
        fs::copy_file(BX_PLUGIN_MODULE, module_, fs::copy_options::overwrite_existing);
        bx::com::SetRegistryPath((dir_ / "classes.reg").string());
        handle_ = dlopen(module_.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        reg_ = Entry<DllRegisterServerFunction>("DllRegisterServer");
        unreg_ = Entry<DllUnregisterServerFunction>("DllUnregisterServer");
        canUnload_ = Entry<DllCanUnloadNowFunction>("DllCanUnloadNow");
        getClass_ = Entry<DllGetClassObjectFunction>("DllGetClassObject");
        KvCamSim_Reset();
    }
    void TearDown() override {
        bx::com::SetRegistryPath("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    template <class F>
    F Entry(const char* name) {
        auto f = reinterpret_cast<F>(dlsym(handle_, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    std::string RegistryText() const {
        std::ifstream in(dir_ / "classes.reg");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
    std::string module_;
    void* handle_ = nullptr;
    DllRegisterServerFunction reg_ = nullptr;
    DllUnregisterServerFunction unreg_ = nullptr;
    DllCanUnloadNowFunction canUnload_ = nullptr;
    DllGetClassObjectFunction getClass_ = nullptr;
};

TEST_F(Module, RegistersTheClassTwiceTheSameAndHostsCreateItByProgId) {
    ASSERT_EQ(reg_(), S_OK);
    const std::string first = RegistryText();
    ASSERT_EQ(reg_(), S_OK);
    EXPECT_EQ(RegistryText(), first);
    const std::string clsid = "CLSID\\" + bx::com::FormatGuid(CLSID_BXTessvikFerroFW);
    EXPECT_EQ(bx::com::RegQueryValue(clsid + "\\InprocServer32", ""), module_);
    EXPECT_EQ(bx::com::RegQueryValue(clsid + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(bx::com::RegQueryValue(clsid + "\\MiscStatus\\1", ""), "131473");
    EXPECT_EQ(bx::com::RegQueryValue(clsid + "\\Verb\\0", ""), "Properties,0,2");
    EXPECT_EQ(bx::com::ClassesImplementingCategory(CATID_BXGrabDevice),
              std::vector<CLSID>{CLSID_BXTessvikFerroFW});

    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID("Korvane Camera", &found), S_OK);
    ComPtr<IBXTessvikFerroFW> control;
    ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IBXTessvikFerroFW,
                               control.PutVoid()),
              S_OK)
        << bx::com::LastLoadError();
    EXPECT_EQ(canUnload_(), S_FALSE) << "a live control holds the module";
    LONG frames = 0;
    EXPECT_EQ(control->put_NumberOfFrames(25), S_OK);
    EXPECT_EQ(control->get_NumberOfFrames(&frames), S_OK);
    EXPECT_EQ(frames, 25);
    control.Reset();
    EXPECT_EQ(canUnload_(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClass_(CLSID_BXTessvikFerroFW, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(canUnload_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    ComPtr<IClassFactory> other;
    EXPECT_EQ(getClass_(CATID_BXGrabDevice, IID_IClassFactory, other.PutVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(getClass_(CLSID_BXTessvikFerroFW, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(Module, UnregisteringKeepsTheCategoriesAndTheClassMarks) {
    ASSERT_EQ(reg_(), S_OK);
    ASSERT_EQ(unreg_(), S_OK);
    CLSID found{};
    EXPECT_NE(CLSIDFromProgID("Korvane Camera", &found), S_OK);
    EXPECT_EQ(bx::com::CategoryDescription(CATID_BXGrabDevice, 0x0409), "BX Grab Device");
    EXPECT_EQ(bx::com::ImplementedCategoriesOf(CLSID_BXTessvikFerroFW),
              std::vector<GUID>{CATID_BXGrabDevice});
    EXPECT_EQ(bx::com::RequiredCategoriesOf(CLSID_BXTessvikFerroFW),
              std::vector<GUID>{CATID_IBXCommonGrabInterface});
    EXPECT_EQ(unreg_(), S_OK) << "nothing left to remove is no failure";
}

TEST_F(Module, LoadingInitialisesTheLoadingThreadAsASingleThreadedApartment) {
    const std::string copy = (dir_ / "probe.so").string();
    fs::copy_file(BX_PLUGIN_MODULE, copy);
    std::thread([&] {
        void* probe = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(probe, nullptr) << dlerror();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // already, by the module
        CoUninitialize();
        dlclose(probe);
    }).join();
}
