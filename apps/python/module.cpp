// bxgrab._bxgrab: the native half of the Python host. It drives the camera control the way a
// scripting host drives an automation object: the class is found in the registry and created
// through its factory, members are reached by name (GetIDsOfNames) and called through Invoke,
// events arrive on a sink advised on the control's connection point, and images are read from
// the host's image store into numpy arrays. Attribute syntax, callbacks by event name and the
// error class live in the pure-Python half (bxgrab/__init__.py).
//
// Thread rule: Python calls arrive with the GIL held; every call into the control releases it,
// so an event raised on another thread (live video) can take it and run its callback while the
// calling thread waits inside the control.
#include <bxplatform/com.h>
#include <bxplatform/com_connection.h>
#include <bxplatform/com_create.h>
#include <bxplatform/com_error.h>
#include <bxplatform/com_factory.h>
#include <bxplatform/com_typeinfo.h>

#include <bxmm/host.h>
#include <bxview/headless_view.h>
#include <bxview/image_view.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;
using bx::com::ComPtr;

namespace {

// A failed call: translated into bxgrab.AutomationError (defined in Python, so that scripts
// can catch and inspect it like any Python exception).
struct ComFailure {
    HRESULT hr;
    std::string description;
    std::string source;
    std::string what;  // the member or step that failed
};

void Check(HRESULT hr, const std::string& what, std::string description = {}) {
    if (FAILED(hr)) throw ComFailure{hr, std::move(description), {}, what};
}

// ---- The module's entry points ------------------------------------------------------------

// Loads the module (it stays loaded, as the platform keeps the modules it loads) and calls
// one of its registration entry points.
void CallRegistration(const std::string& path, const char* entry) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = dlerror();
        throw py::value_error("cannot load " + path + ": " + (why ? why : "unknown reason"));
    }
    auto function = reinterpret_cast<HRESULT (*)()>(dlsym(module, entry));
    if (function == nullptr) throw py::value_error(path + " has no " + entry);
    HRESULT hr;
    {
        py::gil_scoped_release unlocked;
        hr = function();
    }
    Check(hr, entry, bx::com::LastRegistryError());
}

// ---- Values -------------------------------------------------------------------------------

class Object;

// A Python value as an argument. Booleans before integers: bool is an int in Python.
bx::com::Variant ToVariant(const py::handle& value) {
    if (value.is_none()) return {};
    if (py::isinstance<py::bool_>(value)) return bx::com::Variant(value.cast<bool>());
    if (py::isinstance<py::int_>(value)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow != 0) throw py::value_error("integer does not fit in 64 bits");
        if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
            return bx::com::Variant(static_cast<int32_t>(n));
        return bx::com::Variant(static_cast<int64_t>(n));
    }
    if (py::isinstance<py::float_>(value)) return bx::com::Variant(value.cast<double>());
    if (py::isinstance<py::str>(value)) return bx::com::Variant(value.cast<std::string>());
    // Other numbers (numpy's among them) by what they say they are.
    if (PyIndex_Check(value.ptr())) {
        auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
        if (!index) throw py::error_already_set();
        return ToVariant(index);
    }
    if (py::hasattr(value, "__float__"))
        return bx::com::Variant(
            py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>());
    throw py::type_error("no automation type for a " +
                         std::string(py::str(value.get_type().attr("__name__"))));
}

py::object FromVariant(const VARIANT& in);

// ---- The automation object ----------------------------------------------------------------

// One kind of access a member offers, as its type description says.
struct MemberKind {
    int invkind;   // INVOKE_FUNC, INVOKE_PROPERTYGET, ...
    int required;  // parameters a caller must pass
};

// What Invoke's failure says: the exception record's text, else the thread's error object.
ComFailure InvokeFailure(HRESULT hr, EXCEPINFO& record, UINT argError, const std::string& what) {
    ComFailure failure{hr, {}, {}, what};
    if (record.pfnDeferredFillIn != nullptr) record.pfnDeferredFillIn(&record);
    if (hr == DISP_E_EXCEPTION) {
        failure.description = bx::com::BstrToUtf8(record.bstrDescription);
        failure.source = bx::com::BstrToUtf8(record.bstrSource);
        if (record.scode != 0) failure.hr = record.scode;
    } else {
        ComPtr<IErrorInfo> error;
        if (GetErrorInfo(0, error.Put()) == S_OK && error) {
            bx::com::Bstr text, source;
            error->GetDescription(text.Out());
            error->GetSource(source.Out());
            failure.description = text.ToUtf8();
            failure.source = source.ToUtf8();
        }
        if (failure.description.empty() &&
            (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTFOUND))
            failure.description = "argument " + std::to_string(argError + 1) + " not accepted";
    }
    SysFreeString(record.bstrDescription);
    SysFreeString(record.bstrSource);
    SysFreeString(record.bstrHelpFile);
    return failure;
}

// The host's event sink: answers the control's events interface and IDispatch, and hands each
// event to a Python callable. Events may arrive on any thread; the GIL is taken for the call.
// The callable is dropped by Detach (GIL held) so that a sink kept alive by a late event holds
// nothing of Python's.
class EventSink final : public bx::com::RefCounted<IDispatch> {
public:
    EventSink(const IID& events, PyObject* callback) : events_(events), callback_(callback) {
        Py_XINCREF(callback_);
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object != nullptr && iid == events_) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        return RefCounted::QueryInterface(iid, object);
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override;

    // GIL held.
    void Detach() {
        PyObject* callback = callback_;
        callback_ = nullptr;
        Py_XDECREF(callback);
    }

private:
    const IID events_;
    PyObject* callback_;  // guarded by the GIL
};

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) {
#if PY_VERSION_HEX >= 0x030D0000
    if (!Py_IsInitialized() || Py_IsFinalizing()) return S_OK;
#else
    if (!Py_IsInitialized() || _Py_IsFinalizing()) return S_OK;
#endif
    py::gil_scoped_acquire locked;
    if (callback_ == nullptr) return S_OK;
    try {
        py::tuple args(params ? params->cArgs : 0);
        for (UINT i = 0; params && i < params->cArgs; ++i)
            args[i] = FromVariant(params->rgvarg[params->cArgs - 1 - i]);
        py::reinterpret_borrow<py::object>(callback_)(id, args);
    } catch (py::error_already_set& error) {
        // A callback's failure must not travel into the control; Python reports it.
        error.discard_as_unraisable("bxgrab event callback");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bxgrab: event %d: %s\n", int(id), error.what());
    }
    return S_OK;
}

// An automation object (IDispatch) created from the registry, or handed out by another.
class Object {
public:
    explicit Object(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
    ~Object() { Close(); }

    // The class named by a ProgID or a "{CLSID}", created in process.
    static std::unique_ptr<Object> Create(const std::string& name);

    DISPID IdOf(const std::string& name) const;
    py::object Invoke(DISPID id, WORD flags, const py::tuple& args, const std::string& what);
    std::map<DISPID, std::vector<MemberKind>> MemberKinds() const;
    std::map<DISPID, std::string> MemberNames() const;
    // The events: their DISPIDs and names from the class's default source interface.
    std::map<DISPID, std::string> EventNames() const;
    // Advises a sink that calls `callback(dispid, args)` for every event; returns the cookie.
    DWORD Advise(py::object callback);
    void Unadvise(DWORD cookie);
    // Unadvises every sink and lets the object go.
    void Close();
    bool Closed() const { return !dispatch_; }
    IDispatch* Get() const {
        if (!dispatch_) throw py::value_error("the object is closed");
        return dispatch_.Get();
    }

private:
    ComPtr<ITypeInfo> TypeInfo() const;
    ComPtr<ITypeInfo> SourceTypeInfo() const;
    ComPtr<IConnectionPoint> EventsPoint(IID* iid) const;

    ComPtr<IDispatch> dispatch_;
    std::map<DWORD, ComPtr<EventSink>> sinks_;
};

// Converts an argument, Object included.
bx::com::Variant ArgToVariant(const py::handle& value) {
    if (py::isinstance<Object>(value)) return bx::com::Variant(value.cast<Object&>().Get());
    return ToVariant(value);
}

std::unique_ptr<Object> Object::Create(const std::string& name) {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) Check(hr, "CoInitialize");
    CLSID clsid{};
    if (!name.empty() && name.front() == '{') {
        const std::u16string text = bx::com::ToUtf16(name);
        Check(CLSIDFromString(text.c_str(), &clsid), "CLSIDFromString",
              "malformed class identifier '" + name + "'");
    } else {
        Check(CLSIDFromProgID(name, &clsid), "CLSIDFromProgID",
              "no class registered as '" + name + "' in " + bx::com::RegistryPath());
    }
    ComPtr<IDispatch> dispatch;
    {
        py::gil_scoped_release unlocked;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              dispatch.PutVoid());
    }
    Check(hr, "CoCreateInstance", bx::com::LastLoadError());
    return std::make_unique<Object>(std::move(dispatch));
}

DISPID Object::IdOf(const std::string& name) const {
    bx::com::Bstr text(name);
    LPOLESTR names[] = {text.Get()};
    DISPID id = DISPID_UNKNOWN;
    Check(Get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), name, "unknown name");
    return id;
}

py::object Object::Invoke(DISPID id, WORD flags, const py::tuple& args, const std::string& what) {
    // rgvarg holds the arguments last first.
    std::vector<bx::com::Variant> values(args.size());
    for (size_t i = 0; i < args.size(); ++i) values[args.size() - 1 - i] = ArgToVariant(args[i]);
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{values.data(), put ? &named : nullptr, static_cast<UINT>(values.size()),
                      put ? 1u : 0u};
    bx::com::Variant result;
    EXCEPINFO record{};
    UINT argError = 0;
    IDispatch* dispatch = Get();
    ComPtr<IDispatch> keep(dispatch);  // a callback may close the object meanwhile
    HRESULT hr;
    {
        py::gil_scoped_release unlocked;
        SetErrorInfo(0, nullptr);
        hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              put ? nullptr : &result, &record, &argError);
    }
    if (FAILED(hr)) throw InvokeFailure(hr, record, argError, what);
    return FromVariant(result);
}

ComPtr<ITypeInfo> Object::TypeInfo() const {
    UINT count = 0;
    ComPtr<ITypeInfo> info;
    if (FAILED(Get()->GetTypeInfoCount(&count)) || count == 0) return info;
    if (FAILED(Get()->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()))) info.Reset();
    return info;
}

// Calls `each(desc)` for every member of a dispatch type description.
template <typename F>
void ForEachFunction(ITypeInfo* info, F each) {
    TYPEATTR* attr = nullptr;
    if (info == nullptr || FAILED(info->GetTypeAttr(&attr))) return;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc))) continue;
        each(*desc);
        info->ReleaseFuncDesc(desc);
    }
}

std::string NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    UINT got = 0;
    if (FAILED(info->GetNames(id, &name, 1, &got)) || got == 0) return {};
    std::string text = bx::com::BstrToUtf8(name);
    SysFreeString(name);
    return text;
}

std::map<DISPID, std::vector<MemberKind>> Object::MemberKinds() const {
    std::map<DISPID, std::vector<MemberKind>> kinds;
    ForEachFunction(TypeInfo().Get(), [&](const FUNCDESC& desc) {
        int required = 0;
        for (SHORT p = 0; p < desc.cParams; ++p) {
            const USHORT f = desc.lprgelemdescParam[p].paramdesc.wParamFlags;
            if ((f & (PARAMFLAG_FOPT | PARAMFLAG_FRETVAL | PARAMFLAG_FHASDEFAULT)) == 0) ++required;
        }
        kinds[desc.memid].push_back({desc.invkind, required});
    });
    return kinds;
}

std::map<DISPID, std::string> Object::MemberNames() const {
    std::map<DISPID, std::string> names;
    ComPtr<ITypeInfo> info = TypeInfo();
    ForEachFunction(info.Get(), [&](const FUNCDESC& desc) {
        if (!names.count(desc.memid)) names[desc.memid] = NameOf(info.Get(), desc.memid);
    });
    return names;
}

// The class's type description, then its interface marked default and source.
ComPtr<ITypeInfo> Object::SourceTypeInfo() const {
    ComPtr<IProvideClassInfo> provide;
    ComPtr<ITypeInfo> coclass, source;
    if (FAILED(Get()->QueryInterface(IID_IProvideClassInfo, provide.PutVoid())) ||
        FAILED(provide->GetClassInfo(coclass.Put())))
        return source;
    TYPEATTR* attr = nullptr;
    if (FAILED(coclass->GetTypeAttr(&attr))) return source;
    const WORD count = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) ||
            (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
                (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE) ||
            FAILED(coclass->GetRefTypeOfImplType(i, &ref)))
            continue;
        if (SUCCEEDED(coclass->GetRefTypeInfo(ref, source.Put()))) break;
    }
    return source;
}

std::map<DISPID, std::string> Object::EventNames() const {
    std::map<DISPID, std::string> names;
    ComPtr<ITypeInfo> info = SourceTypeInfo();
    ForEachFunction(info.Get(), [&](const FUNCDESC& desc) {
        names[desc.memid] = NameOf(info.Get(), desc.memid);
    });
    return names;
}

// The connection point of the default source interface, whose IID the class tells.
ComPtr<IConnectionPoint> Object::EventsPoint(IID* iid) const {
    ComPtr<IProvideClassInfo2> provide;
    Check(Get()->QueryInterface(IID_IProvideClassInfo2, provide.PutVoid()), "IProvideClassInfo2",
          "the object does not tell its events interface");
    Check(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, iid), "GetGUID");
    ComPtr<IConnectionPointContainer> container;
    Check(Get()->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()),
          "IConnectionPointContainer", "the object raises no events");
    ComPtr<IConnectionPoint> point;
    Check(container->FindConnectionPoint(*iid, point.Put()), "FindConnectionPoint");
    return point;
}

DWORD Object::Advise(py::object callback) {
    IID iid{};
    ComPtr<IConnectionPoint> point = EventsPoint(&iid);
    auto sink = bx::com::Make<EventSink>(iid, callback.ptr());
    DWORD cookie = 0;
    const HRESULT hr = point->Advise(sink.Get(), &cookie);
    if (FAILED(hr)) sink->Detach();
    Check(hr, "Advise");
    sinks_[cookie] = sink;
    return cookie;
}

void Object::Unadvise(DWORD cookie) {
    auto found = sinks_.find(cookie);
    if (found == sinks_.end()) return;
    ComPtr<EventSink> sink = found->second;
    sinks_.erase(found);
    sink->Detach();
    if (!dispatch_) return;
    IID iid{};
    ComPtr<IConnectionPoint> point = EventsPoint(&iid);
    py::gil_scoped_release unlocked;  // the point may wait for an event in flight
    point->Unadvise(cookie);
}

void Object::Close() {
    while (!sinks_.empty()) {
        try {
            Unadvise(sinks_.begin()->first);
        } catch (const ComFailure&) {
            sinks_.erase(sinks_.begin());
        }
    }
    if (dispatch_) {
        ComPtr<IDispatch> last = std::move(dispatch_);
        py::gil_scoped_release unlocked;  // the control may stop its live thread
        last.Reset();
    }
}

py::object FromVariant(const VARIANT& in) {
    bx::com::Variant v;
    if (FAILED(VariantCopyInd(&v, &in))) throw py::type_error("unreadable VARIANT");
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return py::none();
        case VT_BOOL:
            return py::bool_(v.boolVal != VARIANT_FALSE);
        case VT_I1:
            return py::int_(v.cVal);
        case VT_UI1:
            return py::int_(v.bVal);
        case VT_I2:
            return py::int_(v.iVal);
        case VT_UI2:
            return py::int_(v.uiVal);
        case VT_I4:
            return py::int_(v.lVal);
        case VT_UI4:
            return py::int_(v.ulVal);
        case VT_INT:
            return py::int_(v.intVal);
        case VT_UINT:
            return py::int_(v.uintVal);
        case VT_I8:
            return py::int_(v.llVal);
        case VT_UI8:
            return py::int_(v.ullVal);
        case VT_ERROR:
            return py::int_(static_cast<uint32_t>(v.scode));
        case VT_R4:
            return py::float_(v.fltVal);
        case VT_R8:
        case VT_DATE:
            return py::float_(v.dblVal);
        case VT_CY:
            return py::float_(static_cast<double>(v.cyVal) / 10000.0);
        case VT_BSTR:
            return py::str(bx::com::BstrToUtf8(v.bstrVal));
        case VT_DISPATCH:
            if (v.pdispVal == nullptr) return py::none();
            return py::cast(std::make_unique<Object>(ComPtr<IDispatch>(v.pdispVal)));
        case VT_UNKNOWN: {
            ComPtr<IDispatch> dispatch;
            if (v.punkVal &&
                SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, dispatch.PutVoid())))
                return py::cast(std::make_unique<Object>(std::move(dispatch)));
            return py::none();
        }
        default:
            throw py::type_error("unsupported VARIANT type " + std::to_string(v.vt));
    }
}

// ---- Store images -------------------------------------------------------------------------

template <typename T>
py::array ReadPixels(const bx::mm::ImageInfo& info, bool colour) {
    const py::ssize_t width = info.size.d[0], height = info.size.d[1];
    std::vector<py::ssize_t> shape{py::ssize_t(info.frames), height, width};
    if (colour) shape.push_back(3);
    py::array_t<T> pixels(shape);
    auto* base = static_cast<uint8_t*>(static_cast<void*>(pixels.mutable_data()));
    for (int64_t f = 0; f < info.frames; ++f) {
        if (!bx::mm::ReadFrame(info.handle, f, base + f * info.frame_bytes, info.frame_bytes))
            throw py::value_error("frame " + std::to_string(f) + " of image " +
                                  std::to_string(info.handle) + " cannot be read");
    }
    if (colour) {  // the store keeps blue, green, red; numpy users expect red first
        auto* p = base;
        for (size_t i = 0; i < size_t(info.frames) * width * height; ++i, p += 3)
            std::swap(p[0], p[2]);
    }
    return pixels;
}

// (pixels, stamps in the time dimension's units, description, data type code).
py::tuple ReadImage(MM_HANDLE handle) {
    std::optional<bx::mm::ImageInfo> info = bx::mm::Describe(handle);
    if (!info) throw py::value_error("no image " + std::to_string(handle) + " in the store");
    py::array pixels;
    switch (info->type) {
        case MM_TYPE_GREY8:
            pixels = ReadPixels<uint8_t>(*info, false);
            break;
        case MM_TYPE_GREY12:
        case MM_TYPE_GREY16:
            pixels = ReadPixels<uint16_t>(*info, false);
            break;
        case MM_TYPE_GREY32:
            pixels = ReadPixels<uint32_t>(*info, false);
            break;
        case MM_TYPE_BGR24:
            pixels = ReadPixels<uint8_t>(*info, true);
            break;
        default:
            throw py::value_error("image type " + std::to_string(info->type) + " unknown");
    }
    py::list stamps;
    for (const MM_STAMP& stamp : bx::mm::Stamps(handle).value_or(std::vector<MM_STAMP>{}))
        stamps.append(stamp.position[2]);
    return py::make_tuple(pixels, stamps, bx::mm::Comment(handle).value_or(""), info->type);
}

// ---- A headless view ----------------------------------------------------------------------

// A view without a screen, registered in the handle table so that the control's ImageWindow
// can name it. Thread rule: as THeadlessImageView (the control's threads call it).
class HeadlessView {
public:
    HeadlessView() : registration_(&view_) {}
    uint32_t Handle() const { return registration_.handle(); }
    uint64_t FramesShown() const {
        using K = bx::view::THeadlessImageView::CallKind;
        return view_.CallCount(K::Image) + view_.CallCount(K::Bits) + view_.CallCount(K::Vector);
    }
    // The last frame the view copied, as the store keeps it (bytes for colour: blue first).
    py::object LastFrame() const {
        std::optional<bx::view::THeadlessImageView::Frame> frame = view_.LastFrame();
        if (!frame) return py::none();
        const int bpp = bx::mm::BytesPerPixel(frame->type);
        std::vector<py::ssize_t> shape{frame->height, frame->width};
        if (bpp == 3) shape.push_back(3);
        py::array out = bpp == 2   ? py::array(py::dtype::of<uint16_t>(), shape)
                        : bpp == 4 ? py::array(py::dtype::of<uint32_t>(), shape)
                                   : py::array(py::dtype::of<uint8_t>(), shape);
        std::memcpy(out.mutable_data(), frame->pixels.data(),
                    std::min<size_t>(frame->pixels.size(), out.nbytes()));
        return out;
    }

private:
    bx::view::THeadlessImageView view_;
    bx::view::ImageViewRegistration registration_;
};

void RaiseAutomationError(const ComFailure& failure) {
    py::object type = py::module_::import("bxgrab").attr("AutomationError");
    py::object error =
        type(static_cast<uint32_t>(failure.hr), failure.description, failure.source, failure.what);
    PyErr_SetObject(type.ptr(), error.ptr());
}

}  // namespace

PYBIND11_MODULE(_bxgrab, m) {
    m.doc() = "Native half of bxgrab: registration, automation objects, events, store images.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const ComFailure& failure) {
            RaiseAutomationError(failure);
        }
    });

    m.def("register_module",
          [](const std::string& path) { CallRegistration(path, "DllRegisterServer"); });
    m.def("unregister_module",
          [](const std::string& path) { CallRegistration(path, "DllUnregisterServer"); });
    m.def("registry_path", [] { return bx::com::RegistryPath(); });
    m.def("read_image", &ReadImage, py::arg("handle"));

    py::class_<MemberKind>(m, "MemberKind")
        .def_readonly("invkind", &MemberKind::invkind)
        .def_readonly("required", &MemberKind::required);

    py::class_<Object>(m, "Object")
        .def_static("create", &Object::Create, py::arg("name"))
        .def("id_of", &Object::IdOf)
        .def("invoke", &Object::Invoke, py::arg("dispid"), py::arg("flags"), py::arg("args"),
             py::arg("what") = "")
        .def("member_kinds", &Object::MemberKinds)
        .def("member_names", &Object::MemberNames)
        .def("event_names", &Object::EventNames)
        .def("advise", &Object::Advise)
        .def("unadvise", &Object::Unadvise)
        .def("close", &Object::Close)
        .def_property_readonly("closed", &Object::Closed);

    py::class_<HeadlessView>(m, "HeadlessView")
        .def(py::init<>())
        .def_property_readonly("handle", &HeadlessView::Handle)
        .def_property_readonly("frames_shown", &HeadlessView::FramesShown)
        .def("last_frame", &HeadlessView::LastFrame);

    m.attr("DISPATCH_METHOD") = DISPATCH_METHOD;
    m.attr("DISPATCH_PROPERTYGET") = DISPATCH_PROPERTYGET;
    m.attr("DISPATCH_PROPERTYPUT") = DISPATCH_PROPERTYPUT;
    m.attr("DISPATCH_PROPERTYPUTREF") = DISPATCH_PROPERTYPUTREF;
}
