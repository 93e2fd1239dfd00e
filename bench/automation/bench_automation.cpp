// invoke_vs_vtable: what late binding costs a host. The same property get (ExposureTime) of a
// control created by ProgID from the registered module, once through the function table and
// once through IDispatch::Invoke by DISPID with a prepared argument block; early ÷ late.
#include <bxcamera/interfaces.h>
#include <bxplatform/com.h>
#include <bxplatform/com_create.h>
#include <bxplatform/com_factory.h>
#include <bxplatform/com_registry.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam_sim.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr int kCalls = 2'000'000;
constexpr int kRounds = 7;

// The best of several rounds, in nanoseconds per call.
template <class Call>
double NsPerCall(Call&& call) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kCalls; ++i) call();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / kCalls);
    }
    return best;
}

}  // namespace

int main() {
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    KvCamSim_Reset();
    const auto registry = std::filesystem::temp_directory_path() /
                          ("bench_automation_" + std::to_string(::getpid()) + ".reg");
    bx::com::SetRegistryPath(registry.string());
    void* module = dlopen(BX_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL);
    auto registerServer =
        module ? reinterpret_cast<DllRegisterServerFunction>(dlsym(module, "DllRegisterServer"))
               : nullptr;
    if (registerServer == nullptr || registerServer() != S_OK) {
        std::fprintf(stderr, "bench_automation: the module did not register (%s)\n", dlerror());
        return 1;
    }
    CoInitialize(nullptr);
    CLSID clsid{};
    bx::com::ComPtr<IBXTessvikFerroFW> control;
    if (CLSIDFromProgID("Korvane Camera", &clsid) != S_OK ||
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBXTessvikFerroFW,
                         control.PutVoid()) != S_OK) {
        std::fprintf(stderr, "bench_automation: no control (%s)\n",
                     bx::com::LastLoadError().c_str());
        return 1;
    }

    IBXTessvikFerroFW* early = control.Get();
    volatile LONG sink = 0;
    const double earlyNs = NsPerCall([&] {
        LONG value = 0;
        early->get_ExposureTime(&value);
        sink = value;
    });

    constexpr DISPID kExposureTime = 19;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    IDispatch* late = control.Get();
    const double lateNs = NsPerCall([&] {
        late->Invoke(kExposureTime, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                     nullptr);
        sink = result.lVal;
    });
    if (result.vt != VT_I4) {
        std::fprintf(stderr, "bench_automation: Invoke gave type %d\n", result.vt);
        return 1;
    }

    std::printf("ExposureTime get: %.2f ns through the function table, %.2f ns through Invoke\n",
                earlyNs, lateNs);
    std::printf("ratio: invoke_vs_vtable %.3f (%.2f vs %.2f ns)\n", earlyNs / lateNs, earlyNs,
                lateNs);
    control.Reset();
    CoUninitialize();
    std::filesystem::remove(registry);
    std::filesystem::remove(registry.string() + ".lock");
    return 0;
}
