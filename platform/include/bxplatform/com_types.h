// Component-object basics: the fixed-width scalar names of the automation API, result codes
// (HRESULT) and globally unique identifiers (GUID) with their registry text form.
//
// Thread rule: everything here is a value type or a pure function and is thread-safe.
//
// The names live in the global namespace because code written against the classic automation
// API uses them unqualified; helpers of our own are in bx::com. Every width here is fixed:
// LONG and ULONG are 32 bits even though `long` is 64 bits on this platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// ---- Scalar names ------------------------------------------------------------------------

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOL = int32_t;  // 32-bit truth value of the C API: 0 false, anything else true

using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = uint32_t;   // locale identifier
using DISPID = int32_t;  // member identifier of a dispatch interface
using MEMBERID = DISPID;

// UTF-16 code unit and string pointers of the automation API.
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// Interfaces, declared fully in com_object.h (ITypeInfo arrives with the type description).
class IUnknown;
class IDispatch;
class ITypeInfo;

// ---- Result codes ------------------------------------------------------------------------
// Bit 31 set means failure. The values are the classic ones, so codes can be compared with
// those any host or tool prints.

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

namespace bx::com {
constexpr HRESULT MakeCode(uint32_t bits) {
    return static_cast<HRESULT>(bits);
}
}  // namespace bx::com

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT NOERROR = 0;

inline constexpr HRESULT E_NOTIMPL = bx::com::MakeCode(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = bx::com::MakeCode(0x80004002);
inline constexpr HRESULT E_POINTER = bx::com::MakeCode(0x80004003);
inline constexpr HRESULT E_ABORT = bx::com::MakeCode(0x80004004);
inline constexpr HRESULT E_FAIL = bx::com::MakeCode(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = bx::com::MakeCode(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = bx::com::MakeCode(0x80070005);
inline constexpr HRESULT E_HANDLE = bx::com::MakeCode(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = bx::com::MakeCode(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = bx::com::MakeCode(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = bx::com::MakeCode(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = bx::com::MakeCode(0x80040111);
inline constexpr HRESULT CO_E_CLASSSTRING = bx::com::MakeCode(0x800401F3);

inline constexpr HRESULT CONNECT_E_NOCONNECTION = bx::com::MakeCode(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = bx::com::MakeCode(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = bx::com::MakeCode(0x80040202);
// Shares its value with CONNECT_E_ADVISELIMIT, as it always has: the two come from
// different facilities' ranges that overlap.
inline constexpr HRESULT SELFREG_E_CLASS = bx::com::MakeCode(0x80040201);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = bx::com::MakeCode(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = bx::com::MakeCode(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = bx::com::MakeCode(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = bx::com::MakeCode(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = bx::com::MakeCode(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = bx::com::MakeCode(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = bx::com::MakeCode(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = bx::com::MakeCode(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = bx::com::MakeCode(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = bx::com::MakeCode(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = bx::com::MakeCode(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = bx::com::MakeCode(0x8002000F);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = bx::com::MakeCode(0x8002802B);

// Registry, class creation and threading-model results.
inline constexpr HRESULT REGDB_E_READREGDB = bx::com::MakeCode(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = bx::com::MakeCode(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = bx::com::MakeCode(0x80040152);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = bx::com::MakeCode(0x80040154);
inline constexpr HRESULT CO_E_DLLNOTFOUND = bx::com::MakeCode(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = bx::com::MakeCode(0x800401F9);
inline constexpr HRESULT RPC_E_CHANGED_MODE = bx::com::MakeCode(0x80010106);

// Wraps an operating-system error number (facility 7), as registry and file failures report.
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t code) {
    return static_cast<int32_t>(code) <= 0 ? static_cast<HRESULT>(code)
                                           : bx::com::MakeCode((code & 0xFFFF) | 0x80070000);
}

// ---- GUID --------------------------------------------------------------------------------

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i) {
            if (a.Data4[i] != b.Data4[i]) return false;
        }
        return true;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

namespace bx::com {

// Length of the registry form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" without terminator.
inline constexpr size_t kGuidTextLength = 38;

// Parses the registry form exactly: braces, 32 hex digits (either case) and the four dashes
// in their places, nothing before or after. Anything else gives nullopt.
constexpr std::optional<GUID> ParseGuid(std::string_view text) {
    if (text.size() != kGuidTextLength || text.front() != '{' || text.back() != '}') {
        return std::nullopt;
    }
    size_t pos = 1;
    bool ok = true;
    // Reads `digits` hex digits at pos, then expects the character `then` (0 for none).
    auto field = [&](int digits, char then) {
        uint32_t value = 0;
        for (int i = 0; i < digits; ++i, ++pos) {
            char c = text[pos];
            uint32_t nibble = c >= '0' && c <= '9'   ? uint32_t(c - '0')
                              : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
                              : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
                                                     : 16u;
            if (nibble == 16) ok = false;
            value = value << 4 | (nibble & 0xF);
        }
        if (then != 0 && text[pos++] != then) ok = false;
        return value;
    };
    GUID g{};
    g.Data1 = field(8, '-');
    g.Data2 = static_cast<uint16_t>(field(4, '-'));
    g.Data3 = static_cast<uint16_t>(field(4, '-'));
    g.Data4[0] = static_cast<uint8_t>(field(2, 0));
    g.Data4[1] = static_cast<uint8_t>(field(2, '-'));
    for (int i = 2; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(field(2, 0));
    if (!ok) return std::nullopt;
    return g;
}

// UTF-16 text in registry form; any character outside ASCII makes it malformed.
std::optional<GUID> ParseGuid(std::u16string_view text);

// Registry form with upper-case hex digits, e.g. "{00020400-0000-0000-C000-000000000046}".
std::string FormatGuid(REFGUID guid);
std::u16string FormatGuidUtf16(REFGUID guid);

// A GUID written in registry form in source code; malformed text fails to compile.
consteval GUID GuidLiteral(std::string_view text) {
    std::optional<GUID> g = ParseGuid(text);
    if (!g) throw "malformed GUID literal";
    return *g;
}

}  // namespace bx::com

inline constexpr IID IID_NULL{};
inline constexpr IID IID_IUnknown = bx::com::GuidLiteral("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IDispatch = bx::com::GuidLiteral("{00020400-0000-0000-C000-000000000046}");
inline constexpr CLSID CLSID_NULL{};

// Writes the registry form and a terminating zero into `buffer` of `capacity` characters.
// Returns the characters written including the terminator (39), or 0 when the buffer is null
// or too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
// Parse registry-form text. Null arguments give E_INVALIDARG; malformed text gives
// CO_E_CLASSSTRING (CLSIDFromString) or E_INVALIDARG (IIDFromString) and leaves *out unset.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out);
HRESULT IIDFromString(LPCOLESTR text, IID* out);
