// Automation values: VARIANT (a tagged value of one of the automation types), the argument
// block of IDispatch::Invoke (DISPPARAMS), its exception record (EXCEPINFO), the variant
// functions (init, clear, copy, type conversion), DispGetParam for reading Invoke arguments,
// and the owning wrapper bx::com::Variant.
//
// Thread rule: the functions are thread-safe; a given VARIANT is thread-bound to its owner.
//
// A VARIANT owns what it holds: a BSTR is freed and an interface released by VariantClear.
// A by-reference VARIANT (VT_BYREF | type) only points at a value owned elsewhere.
#pragma once

#include <bxplatform/com_string.h>
#include <bxplatform/com_types.h>

#include <concepts>
#include <string_view>

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;  // days since 30 December 1899; carried but not converted

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Type codes, with the classic values.
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // booleans become "True"/"False", not -1/0
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;        // VT_I8
        LONG lVal;             // VT_I4
        BYTE bVal;             // VT_UI1
        SHORT iVal;            // VT_I2
        FLOAT fltVal;          // VT_R4
        DOUBLE dblVal;         // VT_R8
        VARIANT_BOOL boolVal;  // VT_BOOL
        SCODE scode;           // VT_ERROR
        LONGLONG cyVal;        // VT_CY, scaled by 10000
        DATE date;             // VT_DATE
        BSTR bstrVal;          // VT_BSTR
        IUnknown* punkVal;     // VT_UNKNOWN
        IDispatch* pdispVal;   // VT_DISPATCH
        int8_t cVal;           // VT_I1
        USHORT uiVal;          // VT_UI2
        ULONG ulVal;           // VT_UI4
        ULONGLONG ullVal;      // VT_UI8
        INT intVal;            // VT_INT
        UINT uintVal;          // VT_UINT

        BYTE* pbVal;  // VT_BYREF | ...
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        LONGLONG* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        int8_t* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// ---- Invoke argument block and exception record -------------------------------------------

// Arguments of one Invoke. rgvarg holds them in reverse order: the last argument is
// rgvarg[0]. Named arguments come first in rgvarg and are matched by rgdispidNamedArgs; a
// property put passes its value as one named argument with DISPID_PROPERTYPUT.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

// Filled by Invoke when it returns DISP_E_EXCEPTION; the caller frees the strings.
struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Invoke flags.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Reserved member identifiers.
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// ---- Variant functions ---------------------------------------------------------------------
// All return E_INVALIDARG for a null VARIANT pointer and DISP_E_BADVARTYPE for a type code
// they do not handle (arrays, VT_DECIMAL, VT_BYREF alone, ...), leaving the destination as it
// was. A destination must hold a valid value (VariantInit it first): on success its old
// content is cleared.

// Makes the VARIANT empty without looking at what it held.
void VariantInit(VARIANT* v);
// Frees what the VARIANT owns (BSTR, interface reference) and makes it empty.
HRESULT VariantClear(VARIANT* v);
// Deep copy: a BSTR is duplicated, an interface gets a reference; a by-reference VARIANT is
// copied as the reference. On failure `dest` is left unchanged.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// As VariantCopy, but a by-reference source is copied as the value it points at.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// Converts `src` to type `vt` into `dest` (which may be `src`). By-reference sources are
// read through. Supported: empty, null, all integer types, VT_R4, VT_R8, VT_BOOL, VT_BSTR,
// VT_ERROR (to itself only), VT_UNKNOWN <-> VT_DISPATCH. Results:
//   DISP_E_OVERFLOW      value out of the target's range (reals are rounded half to even);
//   DISP_E_TYPEMISMATCH  text that is not a number or boolean, null to a value, and other
//                        pairs that have no conversion;
//   DISP_E_BADVARTYPE    a type code that is not handled (including a by-reference target).
// Numbers are written and read with '.' as decimal point whatever the locale.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags, VARTYPE vt);

// Reads argument `position` (0 = first in the caller's order) of an Invoke, converted to `vt`,
// into *result (which must be initialised; it is overwritten). A named argument whose DISPID
// equals `position` takes precedence. Returns DISP_E_PARAMNOTFOUND when there is no such
// argument, or the conversion's failure with *argError set to the index in rgvarg.
HRESULT DispGetParam(const DISPPARAMS* params, UINT position, VARTYPE vt, VARIANT* result,
                     UINT* argError);

namespace bx::com {

// Owns one VARIANT and is one, so `&v` can be passed wherever a VARIANT* is expected. Copies
// are deep. Constructors that allocate throw std::bad_alloc when memory runs out.
class Variant : public VARIANT {
public:
    Variant() noexcept { VariantInit(this); }
    Variant(const VARIANT& other);  // deep copy
    Variant(const Variant& other) : Variant(static_cast<const VARIANT&>(other)) {}
    Variant(Variant&& other) noexcept;
    Variant& operator=(const Variant& other);
    Variant& operator=(Variant&& other) noexcept;
    ~Variant() { VariantClear(this); }

    // VT_BOOL. Only a real bool: a stray pointer must not turn into a boolean silently.
    template <typename T>
    requires std::same_as<T, bool> Variant(T value)
    noexcept {
        VariantInit(this);
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    Variant(int16_t value) noexcept;      // VT_I2
    Variant(int32_t value) noexcept;      // VT_I4
    Variant(int64_t value) noexcept;      // VT_I8
    Variant(uint8_t value) noexcept;      // VT_UI1
    Variant(uint32_t value) noexcept;     // VT_UI4
    Variant(float value) noexcept;        // VT_R4
    Variant(double value) noexcept;       // VT_R8
    Variant(std::string_view utf8);       // VT_BSTR
    Variant(const char* utf8);            // VT_BSTR (null gives a null BSTR)
    Variant(std::u16string_view text);    // VT_BSTR
    Variant(const OLECHAR* text);         // VT_BSTR (null gives a null BSTR)
    Variant(const Bstr& text);            // VT_BSTR, copied
    Variant(IDispatch* object) noexcept;  // VT_DISPATCH, takes a reference
    Variant(IUnknown* object) noexcept;   // VT_UNKNOWN, takes a reference

    // A VT_ERROR value; DISP_E_PARAMNOTFOUND is how an omitted optional argument is passed.
    static Variant Error(SCODE code) noexcept;
    // A by-reference VARIANT pointing at `target`, which must outlive it.
    static Variant RefTo(VARIANT* target) noexcept;
    static Variant RefTo(LONG* target) noexcept;
    static Variant RefTo(DOUBLE* target) noexcept;
    static Variant RefTo(VARIANT_BOOL* target) noexcept;
    static Variant RefTo(BSTR* target) noexcept;

    // Converts in place; on failure the value is unchanged.
    HRESULT ChangeType(VARTYPE type, USHORT flags = 0);
    void Clear() noexcept { VariantClear(this); }
    // Takes over `other`'s content (which becomes empty) without copying.
    void Attach(VARIANT* other) noexcept;
    // Gives up the content; the caller clears the result.
    VARIANT Detach() noexcept;
};

}  // namespace bx::com
