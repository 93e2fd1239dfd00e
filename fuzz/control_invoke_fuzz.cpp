// libFuzzer target: Invoke on the control itself, through both of its dual interfaces, driven
// by dispatch_fuzz.h. The settings-file members are left out (they would read and write files
// named by the fuzzer); everything else runs on a control without a camera, as a host that
// calls in any order may leave it.
#include <bxplatform/ui.h>

#include <memory>

#include "automation/BXTessvikFerroFWImpl.h"
#include "dispatch_fuzz.h"

namespace {

// Forwards to the control's dispatch interface, except the settings file's two members.
class WithoutFiles final : public bx::com::RefCounted<IDispatch> {
public:
    explicit WithoutFiles(IDispatch* inner) : inner_(inner) {}
    HRESULT GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return inner_->GetTypeInfo(index, lcid, info);
    }
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                          DISPID* ids) override {
        return inner_->GetIDsOfNames(iid, names, count, lcid, ids);
    }
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        constexpr DISPID kLoadFromRegistry = 65, kSaveToRegistry = 66;
        if (id == kLoadFromRegistry || id == kSaveToRegistry) return DISP_E_MEMBERNOTFOUND;
        return inner_->Invoke(id, iid, lcid, flags, params, result, exception, argError);
    }

private:
    bx::com::ComPtr<IDispatch> inner_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    auto control = bx::com::Make<ferro::TBXTessvikFerroFWImpl>();
    const bool common = size > 0 && (data[0] & 1);
    IDispatch* face = common
                          ? static_cast<IDispatch*>(static_cast<IBXCameraInterface*>(control.Get()))
                          : static_cast<IDispatch*>(static_cast<IBXTessvikFerroFW*>(control.Get()));
    auto filtered = bx::com::Make<WithoutFiles>(face);
    bx::fuzz::FuzzDispatch(filtered.Get(), data + (size > 0), size - (size > 0));
    return 0;
}
