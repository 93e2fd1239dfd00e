#include "automation.h"

#include <cstdio>

#include "module.h"

namespace bxgrab {

using bx::com::Bstr;
using bx::com::ComPtr;
using bx::com::Variant;

namespace {

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// The class of `progid`, registering the module once when the ProgID is unknown.
CLSID FindClass(const CreateOptions& options) {
    CLSID clsid{};
    if (SUCCEEDED(CLSIDFromProgID(options.progid, &clsid))) return clsid;
    const std::string module = options.module.empty() ? DefaultModulePath() : options.module;
    std::string why;
    if (module.empty()) {
        why = "no control module beside bxgrab to register";
    } else {
        std::string error;
        const HRESULT hr = CallRegistration(module, false, &error);
        if (FAILED(hr))
            why = "registering " + module + " failed: " + (error.empty() ? HexCode(hr) : error);
        else if (SUCCEEDED(CLSIDFromProgID(options.progid, &clsid)))
            return clsid;
        else
            why = module + " registered, but it does not provide it";
    }
    throw ControlError("no class is registered as \"" + options.progid + "\" in " +
                       bx::com::RegistryPath() + " (" + why + ")");
}

}  // namespace

std::string ErrorText(HRESULT hr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) {
        Bstr text;
        if (SUCCEEDED(info->GetDescription(text.Out())) && !text.ToUtf8().empty())
            return text.ToUtf8();
    }
    return "error " + HexCode(hr);
}

void Control::Check(HRESULT hr, const std::string& what) {
    if (SUCCEEDED(hr)) return;
    const std::string text = ErrorText(hr);
    throw ControlError(what.empty() ? text : what + ": " + text);
}

Control::Control(const CreateOptions& options) {
    initialised_ = SUCCEEDED(CoInitialize(nullptr));
    const CLSID clsid = FindClass(options);
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBXTessvikFerroFW,
                                        ferro_.PutVoid());
    if (FAILED(hr) || !ferro_) {
        const std::string load = bx::com::LastLoadError();
        throw ControlError("cannot create \"" + options.progid + "\" (" + HexCode(hr) + ")" +
                           (load.empty() ? "" : ": " + load));
    }
    // Another plug-in of the family may lack the common interface; names then stay unknown.
    ferro_.As(&common_);
    const std::string key = "CLSID\\" + bx::com::FormatGuid(clsid) + "\\InprocServer32";
    modulePath_ = bx::com::RegQueryValue(key, "").value_or("");
}

Control::~Control() {
    bindings_.clear();
    common_.Reset();
    ferro_.Reset();
    if (initialised_) CoUninitialize();
}

Control::Binding Control::Bind(const std::string& name) {
    if (auto found = bindings_.find(name); found != bindings_.end()) return found->second;
    Bstr text(name);
    LPOLESTR names[] = {text.Get()};
    for (IDispatch* dispatch :
         {static_cast<IDispatch*>(ferro_.Get()), static_cast<IDispatch*>(common_.Get())}) {
        DISPID id = DISPID_UNKNOWN;
        if (dispatch &&
            dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) == S_OK)
            return bindings_[name] = Binding{dispatch, id};
    }
    throw ControlError("the control has no property " + name);
}

Variant Control::Get(const std::string& name) {
    const Binding b = Bind(name);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant result;
    EXCEPINFO exception{};
    const HRESULT hr = b.dispatch->Invoke(b.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                          &none, &result, &exception, nullptr);
    const std::string text = bx::com::BstrToUtf8(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr))
        throw ControlError(name + ": " + (text.empty() ? "error " + HexCode(hr) : text));
    return result;
}

void Control::Put(const std::string& name, const Variant& value) {
    const Binding b = Bind(name);
    Variant argument(value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&argument, &named, 1, 1};
    EXCEPINFO exception{};
    const HRESULT hr = b.dispatch->Invoke(b.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                          &put, nullptr, &exception, nullptr);
    const std::string text = bx::com::BstrToUtf8(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr))
        throw ControlError(name + ": " + (text.empty() ? "error " + HexCode(hr) : text));
}

long Control::GetLong(const std::string& name) {
    Variant v = Get(name);
    if (FAILED(v.ChangeType(VT_I4))) throw ControlError(name + " is not a number");
    return v.lVal;
}

bool Control::GetBool(const std::string& name) {
    Variant v = Get(name);
    if (FAILED(v.ChangeType(VT_BOOL))) throw ControlError(name + " is not a boolean");
    return v.boolVal != VARIANT_FALSE;
}

bx::mm::SaveOptions AcquisitionSaveOptions(Control& c, MM_HANDLE image,
                                           std::chrono::system_clock::time_point acquired) {
    bx::mm::SaveOptions options;
    const int32_t type = MM_GetDataType(image);
    const bool eightBit = type == MM_TYPE_GREY8 || type == MM_TYPE_BGR24;
    options.significant_bits = eightBit ? 8 : static_cast<int>(c.GetLong("BitDepth"));
    options.exposure_seconds = c.GetLong("ExposureTime") / 1e6;
    options.acquisition_time = acquired;
    return options;
}

}  // namespace bxgrab
