// VARIANT functions, type conversion and DispGetParam.
//
// Conversions go through one small intermediate, Number, so every pair of numeric types shares
// the same range checks instead of a table of pairwise rules. Results are built in a temporary
// and moved into the destination only on success, so a failed call never leaves the
// destination half-written, and dest may alias src.
#include <bxplatform/com_object.h>
#include <bxplatform/com_variant.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace {

// What the functions here need to know about each type a VARIANT may hold by value: the size
// of the value (what a by-reference VARIANT points at) and whether it converts as a number.
struct TypeInfo {
    VARTYPE vt;
    uint8_t size;
    bool numeric;
};

constexpr uint8_t kPointer = sizeof(void*);
constexpr TypeInfo kValueTypes[] = {
    {VT_EMPTY, 0, false},
    {VT_NULL, 0, false},
    {VT_I1, 1, true},
    {VT_UI1, 1, true},
    {VT_I2, 2, true},
    {VT_UI2, 2, true},
    {VT_BOOL, 2, false},
    {VT_I4, 4, true},
    {VT_UI4, 4, true},
    {VT_INT, 4, true},
    {VT_UINT, 4, true},
    {VT_R4, 4, true},
    {VT_ERROR, 4, false},
    {VT_I8, 8, true},
    {VT_UI8, 8, true},
    {VT_R8, 8, true},
    {VT_CY, 8, false},
    {VT_DATE, 8, false},
    {VT_BSTR, kPointer, false},
    {VT_DISPATCH, kPointer, false},
    {VT_UNKNOWN, kPointer, false},
};

const TypeInfo* FindValueType(VARTYPE vt) {
    for (const TypeInfo& t : kValueTypes) {
        if (t.vt == vt) return &t;
    }
    return nullptr;
}

bool IsValueType(VARTYPE vt) {
    return FindValueType(vt) != nullptr;
}

bool IsNumericType(VARTYPE vt) {
    const TypeInfo* t = FindValueType(vt);
    return t && t->numeric;
}

// Types a VARIANT may hold, by value or by reference.
bool IsValidType(VARTYPE vt) {
    if (!(vt & VT_BYREF)) return IsValueType(vt);
    const VARTYPE base = vt & ~VT_BYREF;
    return base == VT_VARIANT || (IsValueType(base) && base != VT_EMPTY && base != VT_NULL);
}

// A shallow view of the value `in` holds, read through one reference (or two, when a
// by-reference VARIANT points at a by-reference value). The view owns nothing.
HRESULT ReadThrough(const VARIANT& in, VARIANT& view) {
    if (!IsValidType(in.vt)) return DISP_E_BADVARTYPE;
    if (!(in.vt & VT_BYREF)) {
        view = in;
        return S_OK;
    }
    if (!in.byref) return E_INVALIDARG;
    const VARTYPE base = in.vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
        // A reference to a reference-to-VARIANT could form a cycle; it is never valid.
        if (in.pvarVal->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
        return ReadThrough(*in.pvarVal, view);
    }
    VariantInit(&view);
    view.vt = base;
    std::memcpy(&view.llVal, in.byref, FindValueType(base)->size);
    return S_OK;
}

// Turns a shallow copy into an owning one: a new BSTR, a new interface reference.
HRESULT TakeOwnership(VARIANT& v) {
    if (v.vt == VT_BSTR && v.bstrVal) {
        v.bstrVal = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
        if (!v.bstrVal) {
            v.vt = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    } else if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && v.punkVal) {
        v.punkVal->AddRef();
    }
    return S_OK;
}

// Replaces dest's content with the owned value `result`.
HRESULT Install(VARIANT* dest, const VARIANT& result) {
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

// ---- Numbers -------------------------------------------------------------------------------

struct Number {
    enum class Kind { kSigned, kUnsigned, kReal, kTrue } kind = Kind::kSigned;
    int64_t s = 0;
    uint64_t u = 0;
    double r = 0;
    bool single = false;  // a VT_R4 source: printed with float precision

    static Number Signed(int64_t v) { return {Kind::kSigned, v}; }
    static Number Unsigned(uint64_t v) { return {Kind::kUnsigned, 0, v}; }
    static Number Real(double v, bool single = false) { return {Kind::kReal, 0, 0, v, single}; }
};

template <typename T>
HRESULT Narrow(const Number& n, T& out) {
    using Kind = Number::Kind;
    if constexpr (std::is_floating_point_v<T>) {
        double v = n.kind == Kind::kReal       ? n.r
                   : n.kind == Kind::kSigned   ? static_cast<double>(n.s)
                   : n.kind == Kind::kUnsigned ? static_cast<double>(n.u)
                                               : -1.0;
        if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<T>::max()) {
            return DISP_E_OVERFLOW;
        }
        out = static_cast<T>(v);
        return S_OK;
    } else {
        switch (n.kind) {
            case Kind::kTrue:
                // VARIANT_TRUE is -1; unsigned targets get the same bits: all ones.
                out = std::is_signed_v<T> ? T(-1) : std::numeric_limits<T>::max();
                return S_OK;
            case Kind::kSigned:
                if (!std::in_range<T>(n.s)) return DISP_E_OVERFLOW;
                out = static_cast<T>(n.s);
                return S_OK;
            case Kind::kUnsigned:
                if (!std::in_range<T>(n.u)) return DISP_E_OVERFLOW;
                out = static_cast<T>(n.u);
                return S_OK;
            case Kind::kReal: {
                // Round half to even, then range-check. max() + 1 is a power of two and so
                // exact as a double even where max() itself is not.
                const double rounded = std::nearbyint(n.r);
                const double low = static_cast<double>(std::numeric_limits<T>::min());
                const double high = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
                if (!(rounded >= low && rounded < high)) return DISP_E_OVERFLOW;  // NaN too
                out = static_cast<T>(rounded);
                return S_OK;
            }
        }
        return E_UNEXPECTED;
    }
}

HRESULT StoreNumber(const Number& n, VARTYPE vt, VARIANT& out) {
    out.vt = vt;
    switch (vt) {
        case VT_I1:
            return Narrow(n, out.cVal);
        case VT_I2:
            return Narrow(n, out.iVal);
        case VT_I4:
            return Narrow(n, out.lVal);
        case VT_INT:
            return Narrow(n, out.intVal);
        case VT_I8:
            return Narrow(n, out.llVal);
        case VT_UI1:
            return Narrow(n, out.bVal);
        case VT_UI2:
            return Narrow(n, out.uiVal);
        case VT_UI4:
            return Narrow(n, out.ulVal);
        case VT_UINT:
            return Narrow(n, out.uintVal);
        case VT_UI8:
            return Narrow(n, out.ullVal);
        case VT_R4:
            return Narrow(n, out.fltVal);
        case VT_R8:
            return Narrow(n, out.dblVal);
        default:
            return DISP_E_BADVARTYPE;
    }
}

// Text trimmed of surrounding blanks, as ASCII; nullopt when it holds anything else.
std::optional<std::string> AsciiTrimmed(BSTR text) {
    std::u16string_view view = bx::com::BstrView(text);
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!view.empty() && blank(view.front())) view.remove_prefix(1);
    while (!view.empty() && blank(view.back())) view.remove_suffix(1);
    std::string ascii;
    for (char16_t c : view) {
        if (c > 0x7F) return std::nullopt;
        ascii += static_cast<char>(c);
    }
    return ascii;
}

// Reads a decimal number: integers exactly when they fit 64 bits, anything else as a double.
HRESULT ParseNumber(BSTR text, Number& n) {
    std::optional<std::string> ascii = AsciiTrimmed(text);
    if (!ascii || ascii->empty()) return DISP_E_TYPEMISMATCH;
    std::string_view s = *ascii;
    if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    const char* first = s.data();
    const char* last = s.data() + s.size();

    int64_t si;
    if (auto [p, ec] = std::from_chars(first, last, si); ec == std::errc() && p == last) {
        n = Number::Signed(si);
        return S_OK;
    }
    uint64_t ui;
    if (auto [p, ec] = std::from_chars(first, last, ui); ec == std::errc() && p == last) {
        n = Number::Unsigned(ui);
        return S_OK;
    }
    double d;
    auto [p, ec] = std::from_chars(first, last, d, std::chars_format::general);
    if (p != last) return DISP_E_TYPEMISMATCH;
    if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (ec != std::errc() || !std::isfinite(d)) return DISP_E_TYPEMISMATCH;  // "inf", "nan"
    n = Number::Real(d);
    return S_OK;
}

HRESULT ReadNumber(const VARIANT& v, Number& n) {
    switch (v.vt) {
        case VT_EMPTY:
            n = Number::Signed(0);
            return S_OK;
        case VT_BOOL:
            n = v.boolVal ? Number{Number::Kind::kTrue} : Number::Signed(0);
            return S_OK;
        case VT_I1:
            n = Number::Signed(v.cVal);
            return S_OK;
        case VT_I2:
            n = Number::Signed(v.iVal);
            return S_OK;
        case VT_I4:
            n = Number::Signed(v.lVal);
            return S_OK;
        case VT_INT:
            n = Number::Signed(v.intVal);
            return S_OK;
        case VT_I8:
            n = Number::Signed(v.llVal);
            return S_OK;
        case VT_UI1:
            n = Number::Unsigned(v.bVal);
            return S_OK;
        case VT_UI2:
            n = Number::Unsigned(v.uiVal);
            return S_OK;
        case VT_UI4:
            n = Number::Unsigned(v.ulVal);
            return S_OK;
        case VT_UINT:
            n = Number::Unsigned(v.uintVal);
            return S_OK;
        case VT_UI8:
            n = Number::Unsigned(v.ullVal);
            return S_OK;
        case VT_R4:
            n = Number::Real(v.fltVal, true);
            return S_OK;
        case VT_R8:
            n = Number::Real(v.dblVal);
            return S_OK;
        case VT_BSTR:
            return ParseNumber(v.bstrVal, n);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

std::string FormatNumber(const Number& n) {
    char text[64];
    std::to_chars_result r;
    switch (n.kind) {
        case Number::Kind::kSigned:
            r = std::to_chars(text, text + sizeof text, n.s);
            break;
        case Number::Kind::kUnsigned:
            r = std::to_chars(text, text + sizeof text, n.u);
            break;
        case Number::Kind::kTrue:
            return "-1";
        case Number::Kind::kReal:
            // 7 significant digits for singles, 15 for doubles: what the value really holds,
            // without the noise digits of a shortest-round-trip form.
            r = n.single
                    ? std::to_chars(text, text + sizeof text, static_cast<float>(n.r),
                                    std::chars_format::general, 7)
                    : std::to_chars(text, text + sizeof text, n.r, std::chars_format::general, 15);
            if (!n.single) {
                // Near the largest double, 15 digits round past it and the text would not
                // read back; the shortest exact form does.
                double back;
                if (std::from_chars(text, r.ptr, back).ec == std::errc::result_out_of_range) {
                    r = std::to_chars(text, text + sizeof text, n.r);
                }
            }
            break;
    }
    std::string s(text, r.ptr);
    for (char& c : s) {
        if (c == 'e') c = 'E';
    }
    return s;
}

// ---- Conversions by target -------------------------------------------------------------------

HRESULT ToText(const VARIANT& v, USHORT flags, VARIANT& out) {
    std::string text;
    if (v.vt == VT_EMPTY) {
        // empty text
    } else if (v.vt == VT_BOOL) {
        const bool alpha = flags & VARIANT_ALPHABOOL;
        text = v.boolVal ? (alpha ? "True" : "-1") : (alpha ? "False" : "0");
    } else {
        Number n;
        if (v.vt == VT_BSTR || FAILED(ReadNumber(v, n))) return DISP_E_TYPEMISMATCH;
        text = FormatNumber(n);
    }
    out.vt = VT_BSTR;
    out.bstrVal = bx::com::Utf8ToBstr(text);
    return out.bstrVal ? S_OK : E_OUTOFMEMORY;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

HRESULT ToBool(const VARIANT& v, VARIANT& out) {
    out.vt = VT_BOOL;
    if (v.vt == VT_BSTR) {
        std::optional<std::string> ascii = AsciiTrimmed(v.bstrVal);
        if (ascii && EqualsIgnoringCase(*ascii, "true")) {
            out.boolVal = VARIANT_TRUE;
            return S_OK;
        }
        if (ascii && EqualsIgnoringCase(*ascii, "false")) {
            out.boolVal = VARIANT_FALSE;
            return S_OK;
        }
    }
    Number n;
    if (HRESULT hr = ReadNumber(v, n); FAILED(hr)) return hr;
    const bool truth = n.kind == Number::Kind::kTrue || (n.kind == Number::Kind::kSigned && n.s) ||
                       (n.kind == Number::Kind::kUnsigned && n.u) ||
                       (n.kind == Number::Kind::kReal && n.r != 0.0);
    out.boolVal = truth ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT ToInterface(const VARIANT& v, VARTYPE vt, VARIANT& out) {
    if (v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    out.vt = vt;
    out.punkVal = nullptr;
    if (!v.punkVal) return S_OK;  // a null reference stays null in either form
    const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
    void* found = nullptr;
    if (FAILED(v.punkVal->QueryInterface(iid, &found)) || !found) return DISP_E_TYPEMISMATCH;
    if (vt == VT_DISPATCH) {
        out.pdispVal = static_cast<IDispatch*>(found);
    } else {
        out.punkVal = static_cast<IUnknown*>(found);
    }
    return S_OK;
}

// Converts the by-value `v` to a different type `vt`; `out` is owned on success.
HRESULT Convert(const VARIANT& v, VARTYPE vt, USHORT flags, VARIANT& out) {
    if (vt == VT_EMPTY) return S_OK;
    if (v.vt == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
    switch (vt) {
        case VT_BSTR:
            return ToText(v, flags, out);
        case VT_BOOL:
            return ToBool(v, out);
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return ToInterface(v, vt, out);
        case VT_ERROR:
            return DISP_E_TYPEMISMATCH;
        default:
            break;
    }
    if (!IsNumericType(vt)) return DISP_E_BADVARTYPE;
    Number n;
    if (HRESULT hr = ReadNumber(v, n); FAILED(hr)) return hr;
    return StoreNumber(n, vt, out);
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (v) std::memset(static_cast<void*>(v), 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!IsValidType(v->vt)) return DISP_E_BADVARTYPE;
    if (v->vt == VT_BSTR) {
        SysFreeString(v->bstrVal);
    } else if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal) {
        v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if (HRESULT hr = TakeOwnership(copy); FAILED(hr)) return hr;
    return Install(dest, copy);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    VARIANT copy;
    if (HRESULT hr = ReadThrough(*src, copy); FAILED(hr)) return hr;
    if (dest == src && !(src->vt & VT_BYREF)) return S_OK;
    if (HRESULT hr = TakeOwnership(copy); FAILED(hr)) return hr;
    return Install(dest, copy);
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    VARIANT view;
    if (HRESULT hr = ReadThrough(*src, view); FAILED(hr)) return hr;
    if (vt & VT_BYREF || !IsValueType(vt)) return DISP_E_BADVARTYPE;
    if (view.vt == vt) return VariantCopyInd(dest, src);
    VARIANT result;
    VariantInit(&result);
    if (HRESULT hr = Convert(view, vt, flags, result); FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    return Install(dest, result);
}

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID /*lcid*/, USHORT flags,
                            VARTYPE vt) {
    return VariantChangeType(dest, src, flags, vt);
}

HRESULT DispGetParam(const DISPPARAMS* params, UINT position, VARTYPE vt, VARIANT* result,
                     UINT* argError) {
    if (!params || !result) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }
    // Named arguments sit first in rgvarg; positional ones follow in reverse order.
    UINT index = params->cArgs;
    for (UINT k = 0; k < params->cNamedArgs; ++k) {
        if (params->rgdispidNamedArgs[k] >= 0 &&
            static_cast<UINT>(params->rgdispidNamedArgs[k]) == position) {
            index = k;
            break;
        }
    }
    if (index == params->cArgs) {
        if (position >= params->cArgs - params->cNamedArgs) return DISP_E_PARAMNOTFOUND;
        index = params->cArgs - 1 - position;
    }
    HRESULT hr = VariantChangeType(result, &params->rgvarg[index], 0, vt);
    if (FAILED(hr) && argError) *argError = index;
    return hr;
}

// ---- Variant ---------------------------------------------------------------------------------

namespace bx::com {

namespace {

// Constructors report failure by exception: out of memory as such, anything else (a type
// code that cannot be copied) as a bad argument.
void ThrowIfFailed(HRESULT hr) {
    if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(hr)) throw std::invalid_argument("VARIANT of an unsupported type");
}

BSTR AllocOrThrow(std::u16string_view text) {
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) throw std::bad_alloc();
    return b;
}

}  // namespace

Variant::Variant(const VARIANT& other) {
    VariantInit(this);
    ThrowIfFailed(VariantCopy(this, &other));
}

Variant::Variant(Variant&& other) noexcept : VARIANT(other) {
    VariantInit(&other);
}

Variant& Variant::operator=(const Variant& other) {
    ThrowIfFailed(VariantCopy(this, &other));
    return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) Attach(&other);
    return *this;
}

Variant::Variant(int16_t value) noexcept {
    VariantInit(this);
    vt = VT_I2;
    iVal = value;
}

Variant::Variant(int32_t value) noexcept {
    VariantInit(this);
    vt = VT_I4;
    lVal = value;
}

Variant::Variant(int64_t value) noexcept {
    VariantInit(this);
    vt = VT_I8;
    llVal = value;
}

Variant::Variant(uint8_t value) noexcept {
    VariantInit(this);
    vt = VT_UI1;
    bVal = value;
}

Variant::Variant(uint32_t value) noexcept {
    VariantInit(this);
    vt = VT_UI4;
    ulVal = value;
}

Variant::Variant(float value) noexcept {
    VariantInit(this);
    vt = VT_R4;
    fltVal = value;
}

Variant::Variant(double value) noexcept {
    VariantInit(this);
    vt = VT_R8;
    dblVal = value;
}

Variant::Variant(std::u16string_view text) {
    VariantInit(this);
    bstrVal = AllocOrThrow(text);
    vt = VT_BSTR;
}

Variant::Variant(std::string_view utf8) : Variant(std::u16string_view(ToUtf16(utf8))) {}

Variant::Variant(const char* utf8) {
    VariantInit(this);
    vt = VT_BSTR;
    if (utf8) bstrVal = AllocOrThrow(ToUtf16(utf8));
}

Variant::Variant(const OLECHAR* text) {
    VariantInit(this);
    vt = VT_BSTR;
    if (text) bstrVal = AllocOrThrow(text);
}

Variant::Variant(const Bstr& text) {
    VariantInit(this);
    vt = VT_BSTR;
    if (!text.IsNull()) bstrVal = AllocOrThrow(text.View());
}

Variant::Variant(IDispatch* object) noexcept {
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = object;
    if (object) object->AddRef();
}

Variant::Variant(IUnknown* object) noexcept {
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = object;
    if (object) object->AddRef();
}

Variant Variant::Error(SCODE code) noexcept {
    Variant v;
    v.vt = VT_ERROR;
    v.scode = code;
    return v;
}

namespace {

template <typename T>
Variant MakeRef(VARTYPE base, T* target) {
    Variant v;
    v.vt = VT_BYREF | base;
    v.byref = target;
    return v;
}

}  // namespace

Variant Variant::RefTo(VARIANT* target) noexcept {
    return MakeRef(VT_VARIANT, target);
}
Variant Variant::RefTo(LONG* target) noexcept {
    return MakeRef(VT_I4, target);
}
Variant Variant::RefTo(DOUBLE* target) noexcept {
    return MakeRef(VT_R8, target);
}
Variant Variant::RefTo(VARIANT_BOOL* target) noexcept {
    return MakeRef(VT_BOOL, target);
}
Variant Variant::RefTo(BSTR* target) noexcept {
    return MakeRef(VT_BSTR, target);
}

HRESULT Variant::ChangeType(VARTYPE type, USHORT flags) {
    return VariantChangeType(this, this, flags, type);
}

void Variant::Attach(VARIANT* other) noexcept {
    if (!other || other == this) return;
    VariantClear(this);
    static_cast<VARIANT&>(*this) = *other;
    VariantInit(other);
}

VARIANT Variant::Detach() noexcept {
    VARIANT content = *this;
    VariantInit(this);
    return content;
}

}  // namespace bx::com
