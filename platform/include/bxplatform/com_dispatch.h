// Late binding from a type description. An object with a dual interface (a C++ interface class
// deriving from IDispatch whose virtual functions are the members in function-table order)
// describes its members once, one line each:
//
//   using bx::com::Member;
//   static const bx::com::InterfaceDescription description{u"IThing", IidOf<IThing>(), u"A thing",
//       {Member::Of<&IThing::get_Brightness>(u"Brightness", 15, bx::com::PropGet),
//        Member::Of<&IThing::put_Brightness>(u"Brightness", 15, bx::com::PropPut),
//        Member::Of<&IThing::get_Live>(u"Live", 16, bx::com::PropGet).Bool(),
//        Member::Of<&IThing::Grab>(u"Grab", 31),
//        Member::Of<&IThing::Snap>(u"Snap", 32, bx::com::Method,
//                                  {u"Frames", bx::com::Optional(u"Wait", Variant(true))})}};
//
// and GetIDsOfNames, Invoke and ITypeInfo then work from it: Invoke checks and coerces the
// arguments and makes one virtual call through the function table (the early-bound call).
// DispatchFrom gives an object IDispatch's four functions; ProvideClassInfoFrom gives it
// IProvideClassInfo2 from a coclass description.
//
// Parameter types and their VARTYPE: SHORT VT_I2, LONG VT_I4, USHORT VT_UI2, ULONG VT_UI4
// (also OLE_COLOR), FLOAT VT_R4, double VT_R8, BSTR, IDispatch*, IUnknown*, VARIANT, and any
// 32-bit enum with a fixed underlying type (enum E : LONG) as VT_I4. VARIANT_BOOL is SHORT to C++
// and INT is LONG, so a member says which it means: Bool() makes its 16-bit parameters VT_BOOL,
// ParamType(i, vt) sets one (VT_INT, VT_UINT). A pointer to one of these is a by-reference
// parameter: the member reads the value passed and may replace it, freeing what it replaces
// ([in, out]). For PropGet and MethodRetVal the last pointer is the return value instead, which
// starts out zero.
//
// Thread rule: a description is immutable after construction and thread-safe; Invoke is as
// thread-safe as the members it calls. A description must outlive everything made from it
// (in practice it is a function-local static).
#pragma once

#include <bxplatform/com_error.h>
#include <bxplatform/com_object.h>
#include <bxplatform/com_typeinfo.h>
#include <bxplatform/com_variant.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace bx::com {

// How a member is reached, and whether its last parameter is the return value.
struct MemberKind {
    INVOKEKIND invoke;
    bool retval;
};
inline constexpr MemberKind Method{INVOKE_FUNC, false};
inline constexpr MemberKind MethodRetVal{INVOKE_FUNC, true};
inline constexpr MemberKind PropGet{INVOKE_PROPERTYGET, true};
inline constexpr MemberKind PropPut{INVOKE_PROPERTYPUT, false};
inline constexpr MemberKind PropPutRef{INVOKE_PROPERTYPUTREF, false};

// Most parameters one member may have; a description with more fails to construct.
inline constexpr size_t kMaxParams = 16;

// What a caller knows of a parameter besides its type: the name, and what a missing argument
// becomes. Written as a plain name (required) or with Optional below.
struct Param {
    Param(const char16_t* name) : name(name ? name : u"") {}
    Param(std::u16string_view name) : name(name) {}

    std::u16string_view name;
    bool optional = false;
    Variant defaultValue;  // VT_EMPTY: no default
};

// A parameter that may be left out. Without a default a missing VARIANT arrives as VT_ERROR
// with DISP_E_PARAMNOTFOUND (so the member can tell), any other type as zero.
inline Param Optional(std::u16string_view name, Variant defaultValue = {}) {
    Param p(name);
    p.optional = true;
    p.defaultValue = std::move(defaultValue);
    return p;
}

namespace detail {

// A parameter's automation type, and whether the member takes it through a pointer.
struct ParamShape {
    VARTYPE vt;
    bool pointer;
};

// Calls a member: slots hold one VARIANT per parameter, in declaration order, each with the
// value (by-value parameters) or the pointer in byref.
using Thunk = HRESULT (*)(void* iface, VARIANT* slots);

// Calls a member straight from the caller's arguments when they need no work: as many as the
// member takes, positional (or the one property-put value), each already of its parameter's
// type `vts[i]`, no by-reference parameter but the return value. Returns false, having done
// nothing, when the call does not qualify; Invoke then takes the general path.
using FastThunk = bool (*)(void* iface, const DISPPARAMS& args, bool put, const VARTYPE* vts,
                           VARIANT* result, HRESULT* hr);

// Frees a value a member handed back that nobody takes.
template <typename T>
void Discard(T& value) {
    if constexpr (std::is_same_v<T, BSTR>) {
        SysFreeString(value);
    } else if constexpr (std::is_pointer_v<T> &&
                         std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
        if (value) value->Release();  // any interface, IFontDisp* as much as IDispatch*
    } else if constexpr (std::is_same_v<T, VARIANT>) {
        VariantClear(&value);
    }
}

template <typename T>
constexpr VARTYPE ValueType() {
    if constexpr (std::is_same_v<T, SHORT>)
        return VT_I2;
    else if constexpr (std::is_same_v<T, LONG>)
        return VT_I4;
    else if constexpr (std::is_same_v<T, USHORT>)
        return VT_UI2;
    else if constexpr (std::is_same_v<T, ULONG>)
        return VT_UI4;
    else if constexpr (std::is_same_v<T, FLOAT>)
        return VT_R4;
    else if constexpr (std::is_same_v<T, DOUBLE>)
        return VT_R8;
    else if constexpr (std::is_same_v<T, BSTR>)
        return VT_BSTR;
    else if constexpr (std::is_same_v<T, IDispatch*>)
        return VT_DISPATCH;
    else if constexpr (std::is_pointer_v<T> &&
                       std::is_base_of_v<IDispatch, std::remove_pointer_t<T>>)
        return VT_DISPATCH;  // a dispatch interface (IFontDisp*): passed as the IDispatch it is
    else if constexpr (std::is_same_v<T, IUnknown*>)
        return VT_UNKNOWN;
    else if constexpr (std::is_same_v<T, VARIANT>)
        return VT_VARIANT;
    else if constexpr (std::is_enum_v<T> && sizeof(T) == 4)
        return VT_I4;
    else
        return VT_EMPTY;
}

// Any value of the fixed underlying type is a valid enum value; without one, a caller's
// number outside the enumerators' range would be undefined behaviour once passed on.
template <typename T>
constexpr bool HasFixedUnderlyingType() {
    if constexpr (std::is_enum_v<T>) {
        return requires {
            T{std::underlying_type_t<T>{}};
        };
    } else {
        return true;
    }
}

template <typename T>
constexpr ParamShape ShapeOf() {
    static_assert(HasFixedUnderlyingType<std::remove_pointer_t<T>>(),
                  "an enum parameter needs a fixed underlying type: enum E : LONG { ... }");
    if constexpr (ValueType<T>() != VT_EMPTY) {
        return {ValueType<T>(), false};
    } else {
        static_assert(std::is_pointer_v<T> && ValueType<std::remove_pointer_t<T>>() != VT_EMPTY,
                      "parameter type has no automation type");
        return {ValueType<std::remove_pointer_t<T>>(), true};
    }
}

template <typename T>
T SlotArg(VARIANT& slot) {
    if constexpr (std::is_same_v<T, VARIANT>) {
        return slot;
    } else if constexpr (ShapeOf<T>().pointer) {
        return static_cast<T>(slot.byref);
    } else {
        T value;
        std::memcpy(&value, &slot.llVal, sizeof value);
        return value;
    }
}

// What the last parameter points at when it returns the value (int otherwise, unused).
template <bool LastIsOut, typename... A>
struct OutOf {
    using type = int;
};
template <typename... A>
struct OutOf<true, A...> {
    using type = std::remove_pointer_t<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>;
};

template <typename F>
struct MemberFunction;

template <typename C, typename... A>
struct MemberFunction<HRESULT (C::*)(A...)> {
    static constexpr std::array<ParamShape, sizeof...(A)> shapes{ShapeOf<A>()...};

    template <auto Fn, size_t... I>
    static HRESULT Call(void* iface, VARIANT* slots, std::index_sequence<I...>) {
        // A call through the member pointer of a virtual function goes through the table.
        return (static_cast<C*>(iface)->*Fn)(SlotArg<A>(slots[I])...);
    }
    template <auto Fn>
    static HRESULT Thunk(void* iface, VARIANT* slots) {
        return Call<Fn>(iface, slots, std::index_sequence_for<A...>{});
    }

    static constexpr size_t kCount = sizeof...(A);
    static constexpr bool kLastIsOut = kCount > 0 && shapes[kCount - 1].pointer;
    static constexpr size_t kArgc = kLastIsOut ? kCount - 1 : kCount;
    static constexpr bool kFastable = [] {
        for (size_t i = 0; i < kArgc; ++i) {
            if (shapes[i].pointer) return false;
        }
        return true;
    }();

    // Argument I: the caller's value (rgvarg holds them last first) or the return slot.
    template <size_t I, typename T, typename Out>
    static T FastArg(const DISPPARAMS& args, Out* out) {
        if constexpr (kLastIsOut && I == kCount - 1) {
            return out;
        } else {
            return SlotArg<T>(args.rgvarg[kArgc - 1 - I]);
        }
    }

    template <auto Fn, size_t... I>
    static bool Fast(void* iface, const DISPPARAMS& args, bool put, const VARTYPE* vts,
                     VARIANT* result, HRESULT* hr, std::index_sequence<I...>) {
        if (args.cArgs != kArgc) return false;
        if (put ? args.cNamedArgs != 1 || args.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT
                : args.cNamedArgs != 0) {
            return false;
        }
        for (size_t i = 0; i < kArgc; ++i) {
            const VARTYPE vt = args.rgvarg[kArgc - 1 - i].vt;
            // A VARIANT parameter takes any plain value but a missing one, which has rules.
            if (vts[i] == VT_VARIANT ? (vt & VT_BYREF) || vt == VT_ERROR : vt != vts[i]) {
                return false;
            }
        }
        using Out = typename OutOf<kLastIsOut, A...>::type;
        Out out{};
        *hr = (static_cast<C*>(iface)->*Fn)(FastArg<I, A>(args, &out)...);
        if constexpr (kLastIsOut) {
            if (SUCCEEDED(*hr) && result) {
                *result = VARIANT{};
                if constexpr (std::is_same_v<Out, VARIANT>) {
                    *result = out;
                } else {
                    result->vt = vts[kCount - 1];
                    std::memcpy(&result->llVal, &out, sizeof out);
                }
            } else {
                Discard(out);
            }
        } else {
            if (SUCCEEDED(*hr) && result) *result = VARIANT{};
        }
        return true;
    }
    template <auto Fn>
    static constexpr FastThunk FastThunkOf() {
        if constexpr (kFastable) {
            return [](void* iface, const DISPPARAMS& args, bool put, const VARTYPE* vts,
                      VARIANT* result, HRESULT* hr) {
                return Fast<Fn>(iface, args, put, vts, result, hr, std::index_sequence_for<A...>{});
            };
        } else {
            return nullptr;
        }
    }
};

template <typename C, typename... A>
struct MemberFunction<HRESULT (C::*)(A...) noexcept> : MemberFunction<HRESULT (C::*)(A...)> {};

// The function-table slot a pointer to a virtual member names, or -1 when it is not virtual.
// Reads the Itanium C++ ABI form of a member pointer (GCC and clang on this platform).
template <typename F>
int VtableSlot(F fn) {
    struct Rep {
        std::ptrdiff_t ptr;
        std::ptrdiff_t adj;
    };
    static_assert(sizeof(F) == sizeof(Rep), "unexpected member pointer layout");
    Rep rep;
    std::memcpy(&rep, &fn, sizeof rep);
#if defined(__arm__) || defined(__aarch64__)
    return (rep.adj & 1) ? static_cast<int>(rep.ptr / std::ptrdiff_t(sizeof(void*))) : -1;
#else
    return (rep.ptr & 1) ? static_cast<int>((rep.ptr - 1) / std::ptrdiff_t(sizeof(void*))) : -1;
#endif
}

}  // namespace detail

// One member of a dispatch interface: name, DISPID, kind, parameters, and the call.
class Member {
public:
    // One parameter as the description keeps it.
    struct Parameter {
        std::u16string name;
        VARTYPE vt;            // base type (VT_VARIANT for VARIANT)
        bool pointer;          // passed by reference
        USHORT flags;          // PARAMFLAG_*
        Variant defaultValue;  // when flags has PARAMFLAG_FHASDEFAULT
    };

    // Describes member function Fn of an interface. `params` names the parameters in order,
    // without the return value; it may be shorter than the list (the rest stay unnamed) but
    // not longer. Throws std::invalid_argument for a description that cannot work (a PropGet
    // without a pointer to return through, a PropPut without a value, too many parameters).
    template <auto Fn>
    static Member Of(std::u16string_view name, DISPID id, MemberKind kind = Method,
                     std::initializer_list<Param> params = {}) {
        using Traits = detail::MemberFunction<decltype(Fn)>;
        return Member(name, id, kind, &Traits::template Thunk<Fn>,
                      Traits::template FastThunkOf<Fn>(), detail::VtableSlot(Fn), Traits::shapes,
                      params);
    }

    // Help text for GetDocumentation.
    Member Help(std::u16string_view text) &&;
    // Its 16-bit signed parameters are VARIANT_BOOL (VT_BOOL), not SHORT.
    Member Bool() &&;
    // Parameter `index` (declaration order, return value included) has automation type `vt`
    // of the same size as its C++ type, e.g. VT_INT for a LONG.
    Member ParamType(size_t index, VARTYPE vt) &&;

    std::u16string_view Name() const { return name_; }
    std::u16string_view HelpText() const { return help_; }
    DISPID Id() const { return id_; }
    INVOKEKIND Kind() const { return kind_; }
    bool HasRetVal() const { return retval_; }
    // Every parameter in declaration order, the return value last when HasRetVal().
    std::span<const Parameter> Params() const { return params_; }
    size_t ParamCount() const { return count_; }
    // The parameters a caller passes (all but the return value).
    size_t ArgCount() const { return count_ - (retval_ ? 1 : 0); }
    // Function-table slot of the member, -1 when unknown.
    int VtableSlot() const { return slot_; }
    detail::Thunk Call() const { return thunk_; }
    // The direct path for arguments that need no work, or null; reads ParamTypes().
    detail::FastThunk FastCall() const { return fast_; }
    // Each parameter's automation type, in declaration order.
    const VARTYPE* ParamTypes() const { return vts_.data(); }

private:
    Member(std::u16string_view name, DISPID id, MemberKind kind, detail::Thunk thunk,
           detail::FastThunk fast, int slot, std::span<const detail::ParamShape> shapes,
           std::initializer_list<Param> params);

    std::u16string name_;
    std::u16string help_;
    DISPID id_;
    INVOKEKIND kind_;
    bool retval_;
    detail::Thunk thunk_;
    detail::FastThunk fast_;
    std::array<VARTYPE, kMaxParams> vts_{};
    int slot_;
    size_t count_;  // params_.size(), kept for Invoke
    std::vector<Parameter> params_;
};

// A dispatch interface: name, IID, help text, members in function-table order and type flags.
class InterfaceDescription {
public:
    // Members are listed in function-table order: the first follows IDispatch's seven
    // functions. Throws std::invalid_argument when two members share DISPID and kind, when one
    // name has two DISPIDs or one DISPID two names, or when a dual interface's member sits in
    // another slot than its place in the list says.
    InterfaceDescription(std::u16string_view name, const IID& iid, std::u16string_view help,
                         std::initializer_list<Member> members,
                         WORD typeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    InterfaceDescription(const InterfaceDescription&) = delete;
    InterfaceDescription& operator=(const InterfaceDescription&) = delete;
    ~InterfaceDescription();

    std::u16string_view Name() const { return name_; }
    const IID& Iid() const { return iid_; }
    std::u16string_view HelpText() const { return help_; }
    WORD TypeFlags() const { return typeFlags_; }
    std::span<const Member> Members() const { return members_; }

    // The member Invoke with these DISPATCH_* flags calls, or null.
    const Member* Find(DISPID id, WORD flags) const;
    // The first member (in list order) with this DISPID, or null.
    const Member* FindAny(DISPID id) const;

    // IDispatch::GetIDsOfNames over the description: names[0] is a member (ASCII case does
    // not matter), names[1..] its parameters, which map to their positions. Unknown names get
    // DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;

    // IDispatch::Invoke on `iface`, a pointer to the interface class the members belong to.
    // Allocates nothing itself; coerced temporaries are freed before it returns. Arguments
    // that already have their parameters' types go to the member as they are. On success
    // *result (when given) is overwritten with the return value, or VT_EMPTY; on failure it is
    // left alone. When the member returns DISP_E_EXCEPTION, *exception (when given) takes the
    // thread's error; without it the error stays current for GetErrorInfo.
    HRESULT Invoke(void* iface, DISPID id, REFIID reserved, LCID lcid, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argError) const;

    // Invoke's plain cases without a call into the library: a method, get or put of a DISPID
    // below 4096 whose arguments need no work goes straight to the member; anything else
    // goes to Invoke. The result is Invoke's.
    HRESULT InvokeInline(void* iface, DISPID id, REFIID reserved, LCID lcid, WORD flags,
                         DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                         UINT* argError) const {
        const int kind = flags == DISPATCH_METHOD        ? 0
                         : flags == DISPATCH_PROPERTYGET ? 1
                         : flags == DISPATCH_PROPERTYPUT ? 2
                                                         : -1;
        if (kind >= 0 && id >= 0 && static_cast<size_t>(id) < quickCount_ && params &&
            (params->cArgs == 0 || params->rgvarg) && params->cNamedArgs <= params->cArgs &&
            (params->cNamedArgs == 0 || params->rgdispidNamedArgs) && reserved == IID_NULL) {
            const Member* m = quick_[static_cast<size_t>(id) * 3 + static_cast<size_t>(kind)];
            if (m && m->FastCall()) {
                HRESULT hr = S_OK;
                if (m->FastCall()(iface, *params, kind == 2, m->ParamTypes(), result, &hr)) {
                    if (hr == DISP_E_EXCEPTION && exception) FillExcepInfo(exception, hr);
                    return hr;
                }
            }
        }
        return Invoke(iface, id, reserved, lcid, flags, params, result, exception, argError);
    }

private:
    struct Index;

    // Method, get and put of each DISPID below quickCount_, three entries per DISPID.
    std::vector<const Member*> quickTable_;
    const Member* const* quick_ = nullptr;
    size_t quickCount_ = 0;

    std::u16string name_;
    IID iid_;
    std::u16string help_;
    WORD typeFlags_;
    std::vector<Member> members_;
    std::unique_ptr<const Index> index_;
};

// One interface of a coclass, with IMPLTYPEFLAG_* flags (default, source).
struct ImplementedInterface {
    const InterfaceDescription* description;
    INT flags = 0;
};

// A creatable class: name, CLSID, help text and the interfaces it implements or calls out on.
// Thread rule as for InterfaceDescription.
class CoclassDescription {
public:
    CoclassDescription(std::u16string_view name, const CLSID& clsid, std::u16string_view help,
                       std::initializer_list<ImplementedInterface> interfaces,
                       WORD typeFlags = TYPEFLAG_FCANCREATE);

    std::u16string_view Name() const { return name_; }
    const CLSID& Clsid() const { return clsid_; }
    std::u16string_view HelpText() const { return help_; }
    WORD TypeFlags() const { return typeFlags_; }
    std::span<const ImplementedInterface> Interfaces() const { return interfaces_; }
    // The interface marked both default and source (the events), or null.
    const InterfaceDescription* DefaultSource() const;
    // IProvideClassInfo2::GetGUID: the default source's IID for
    // GUIDKIND_DEFAULT_SOURCE_DISP_IID; E_INVALIDARG for other kinds, E_FAIL without one.
    HRESULT GetGUID(DWORD kind, GUID* guid) const;

private:
    std::u16string name_;
    CLSID clsid_;
    std::u16string help_;
    WORD typeFlags_;
    std::vector<ImplementedInterface> interfaces_;
};

// New type-info objects over a description (TKIND_DISPATCH, TKIND_COCLASS). The caller owns
// the reference. E_POINTER when info is null.
HRESULT CreateTypeInfo(const InterfaceDescription& description, ITypeInfo** info);
HRESULT CreateTypeInfo(const CoclassDescription& description, ITypeInfo** info);

// Implements IDispatch's four functions of interface I from the description Describe()
// returns. An object lists it in RefCounted in place of I:
//   class Thing : public RefCounted<DispatchFrom<IThing, &ThingInterface>> { ... };
template <typename I, const InterfaceDescription& (*Describe)()>
class DispatchFrom : public I {
    static_assert(std::is_base_of_v<IDispatch, I>, "DispatchFrom needs an IDispatch interface");

public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return CreateTypeInfo(Describe(), info);
    }
    HRESULT GetIDsOfNames(REFIID reserved, LPOLESTR* names, UINT count, LCID /*lcid*/,
                          DISPID* ids) override {
        if (reserved != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return Describe().GetIDsOfNames(names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID reserved, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        return Describe().InvokeInline(static_cast<I*>(this), id, reserved, lcid, flags, params,
                                       result, exception, argError);
    }

protected:
    DispatchFrom() = default;
    ~DispatchFrom() = default;
};

// Implements IProvideClassInfo2 from the coclass description Describe() returns; listed in
// RefCounted like an interface.
template <const CoclassDescription& (*Describe)()>
class ProvideClassInfoFrom : public IProvideClassInfo2 {
public:
    HRESULT GetClassInfo(ITypeInfo** info) override { return CreateTypeInfo(Describe(), info); }
    HRESULT GetGUID(DWORD kind, GUID* guid) override { return Describe().GetGUID(kind, guid); }

protected:
    ProvideClassInfoFrom() = default;
    ~ProvideClassInfoFrom() = default;
};

// The mixins answer QueryInterface as the interface they implement.
template <typename I, const InterfaceDescription& (*Describe)()>
struct InterfaceTraits<DispatchFrom<I, Describe>> : InterfaceTraits<I> {};
template <const CoclassDescription& (*Describe)()>
struct InterfaceTraits<ProvideClassInfoFrom<Describe>> : InterfaceTraits<IProvideClassInfo2> {};

}  // namespace bx::com
