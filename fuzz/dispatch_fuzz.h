// A fuzzing driver for any IDispatch: turns input bytes into a sequence of Invoke calls (a
// DISPID the object's type info names or a random one, random flags, zero to four arguments
// of random types, by-reference ones pointing at storage the driver owns, named arguments)
// and frees everything a call hands back, so the sanitizers see any crash, overrun or leak.
// It also checks Invoke's promises: a failed call leaves the result empty, and an argument
// error names an argument that exists.
//
// Thread rule: call from one thread at a time per object.
#pragma once

#include <bxplatform/com_dispatch.h>
#include <bxplatform/com_error.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bx::fuzz {

namespace detail {

// Reads the input a byte at a time; zeros once it runs out.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Word() {
        uint32_t w = 0;
        for (int i = 0; i < 4; ++i) w = w << 8 | Byte();
        return w;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// What a by-reference argument points at. Owned by the driver; cleared after each call.
struct Storage {
    SHORT i2 = 0;
    LONG i4 = 0;
    FLOAT r4 = 0;
    DOUBLE r8 = 0;
    VARIANT_BOOL b = 0;
    BSTR text = nullptr;
    IDispatch* object = nullptr;
    VARIANT inner;  // the target of VT_BYREF | VT_VARIANT

    Storage() { VariantInit(&inner); }
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() {
        SysFreeString(text);
        if (object) object->Release();
        VariantClear(&inner);
    }
};

inline BSTR RandomText(Bytes& in) {
    static const char16_t kAlphabet[] = u"0123456789-+.eE abcTrueFalse\xE9\xD800";
    const UINT length = in.Byte() % 12;
    BSTR text = SysAllocStringLen(nullptr, length);
    for (UINT i = 0; i < length; ++i) text[i] = kAlphabet[in.Byte() % (sizeof kAlphabet / 2 - 1)];
    return text;
}

// A by-value VARIANT of a random type, owning what it holds.
inline void RandomValue(Bytes& in, IDispatch* self, VARIANT& v) {
    VariantInit(&v);
    switch (in.Byte() % 14) {
        case 0:
            break;
        case 1:
            v.vt = VT_NULL;
            break;
        case 2:
            v.vt = VT_I2;
            v.iVal = static_cast<SHORT>(in.Word());
            break;
        case 3:
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(in.Word());
            break;
        case 4: {
            v.vt = VT_R4;  // any bit pattern: NaN and infinities too
            const uint32_t bits = in.Word();
            std::memcpy(&v.fltVal, &bits, sizeof bits);
            break;
        }
        case 5:
            v.vt = VT_R8;
            v.dblVal = static_cast<int32_t>(in.Word()) / 16.0;
            break;
        case 6:
            v.vt = VT_BOOL;
            v.boolVal = in.Byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case 7:
            v.vt = VT_BSTR;
            v.bstrVal = RandomText(in);
            break;
        case 8:
            v.vt = VT_ERROR;
            v.scode = in.Byte() & 1 ? DISP_E_PARAMNOTFOUND : static_cast<SCODE>(in.Word());
            break;
        case 9:
        case 10:
            v.vt = in.Byte() & 1 ? VT_DISPATCH : VT_UNKNOWN;
            v.pdispVal = in.Byte() & 1 ? self : nullptr;
            if (v.pdispVal) v.pdispVal->AddRef();
            break;
        case 11:
            v.vt = VT_UI4;
            v.ulVal = in.Word();
            break;
        case 12:
            v.vt = VT_I8;
            v.llVal = static_cast<int64_t>(uint64_t{in.Word()} << 32 | in.Word());
            break;
        default:
            // Any type code, valid or not; the value is zero, so it owns nothing.
            v.vt = static_cast<VARTYPE>(in.Word() & 0xFFFF & ~VT_BYREF);
            break;
    }
}

// An argument: a value, or a reference to `store`.
inline void RandomArgument(Bytes& in, IDispatch* self, Storage& store, VARIANT& v) {
    const uint8_t kind = in.Byte();
    if (kind < 160) {
        RandomValue(in, self, v);
        return;
    }
    VariantInit(&v);
    switch (kind % 8) {
        case 0:
            v.vt = VT_BYREF | VT_I2;
            v.piVal = &store.i2;
            store.i2 = static_cast<SHORT>(in.Word());
            break;
        case 1:
            v.vt = VT_BYREF | VT_I4;
            v.plVal = &store.i4;
            store.i4 = static_cast<LONG>(in.Word());
            break;
        case 2:
            v.vt = VT_BYREF | VT_R4;
            v.pfltVal = &store.r4;
            store.r4 = static_cast<int16_t>(in.Word());
            break;
        case 3:
            v.vt = VT_BYREF | VT_R8;
            v.pdblVal = &store.r8;
            store.r8 = static_cast<int32_t>(in.Word()) / 8.0;
            break;
        case 4:
            v.vt = VT_BYREF | VT_BOOL;
            v.pboolVal = &store.b;
            store.b = in.Byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case 5:
            v.vt = VT_BYREF | VT_BSTR;
            v.pbstrVal = &store.text;
            store.text = in.Byte() & 1 ? RandomText(in) : nullptr;
            break;
        case 6:
            v.vt = VT_BYREF | VT_DISPATCH;
            v.ppdispVal = &store.object;
            break;
        default:
            v.vt = VT_BYREF | VT_VARIANT;
            v.pvarVal = &store.inner;
            RandomValue(in, self, store.inner);
            break;
    }
}

inline std::vector<DISPID> DescribedIds(IDispatch* object) {
    std::vector<DISPID> ids;
    com::ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfo(0, 0, info.Put())) || !info) return ids;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return ids;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (SUCCEEDED(info->GetFuncDesc(i, &f))) {
            ids.push_back(f->memid);
            info->ReleaseFuncDesc(f);
        }
    }
    info->ReleaseTypeAttr(attr);
    return ids;
}

[[noreturn]] inline void Broken(const char* promise) {
    __builtin_printf("dispatch fuzz: Invoke broke its promise: %s\n", promise);
    std::abort();
}

}  // namespace detail

inline void FuzzDispatch(IDispatch* object, const uint8_t* data, size_t size) {
    using namespace detail;
    static const DISPID kOddIds[] = {DISPID_VALUE,   DISPID_UNKNOWN, DISPID_PROPERTYPUT,
                                     DISPID_NEWENUM, -501,           999};
    const std::vector<DISPID> described = DescribedIds(object);
    Bytes in(data, size);
    for (int call = 0; call < 64 && !in.Done(); ++call) {
        const uint8_t pick = in.Byte();
        DISPID id;
        if (pick < 200 && !described.empty()) {
            id = described[pick % described.size()];
        } else if (pick < 250) {
            id = kOddIds[pick % (sizeof kOddIds / sizeof kOddIds[0])];
        } else {
            id = static_cast<DISPID>(in.Word());
        }
        const uint8_t shape = in.Byte();
        const WORD flags = shape & 0x80 ? WORD(in.Word() & 0xFFFF) : WORD(shape & 0x0F);
        const UINT argc = in.Byte() % 5;
        UINT named = argc ? in.Byte() % (argc + 1) : 0;

        Storage store[4];
        VARIANT args[4];
        DISPID names[4];
        for (UINT i = 0; i < argc; ++i) RandomArgument(in, object, store[i], args[i]);
        for (UINT i = 0; i < named; ++i) {
            const uint8_t n = in.Byte();
            names[i] = n < 64 ? DISPID_PROPERTYPUT : static_cast<DISPID>(n % 8) - 2;
        }
        const uint8_t options = in.Byte();
        DISPPARAMS params{argc ? args : nullptr, named ? names : nullptr, argc, named};
        if (options & 0x10) params.cNamedArgs = argc + 1;  // more names than arguments
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT argError = 0xFFFFFFFF;

        const HRESULT hr = object->Invoke(
            id, IID_NULL, 0, flags, options & 0x20 ? nullptr : &params,
            options & 1 ? nullptr : &result, options & 2 ? nullptr : &exception, &argError);
        if (FAILED(hr) && result.vt != VT_EMPTY) Broken("a failed call left a result");
        const bool argumentError = hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
                                   hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_PARAMNOTOPTIONAL;
        if (argumentError && argError != 0xFFFFFFFF && argError >= argc) {
            Broken("the culprit's index is past the arguments");
        }

        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        for (UINT i = 0; i < argc; ++i) VariantClear(&args[i]);
        SetErrorInfo(0, nullptr);  // an error left for no one
    }
}

}  // namespace bx::fuzz
