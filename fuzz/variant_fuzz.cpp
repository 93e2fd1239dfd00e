// libFuzzer target: VariantChangeType. A source value of a random type (integers, reals of any
// bit pattern, text, booleans, dates, by-reference forms) goes to every type code; a success
// must give the target type and, for numbers, the value the conversion rules give; a failure
// must leave the destination as it was. Numbers converted to text must read back: integers
// exactly, reals to the digits the text carries.
#include <bxplatform/com_variant.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "dispatch_fuzz.h"

namespace {

using bx::fuzz::detail::Bytes;

[[noreturn]] void Broken(const char* what, VARTYPE from, VARTYPE to) {
    std::fprintf(stderr, "variant fuzz: %s (type %d to %d)\n", what, from, to);
    std::abort();
}

const VARTYPE kTargets[] = {
    VT_EMPTY, VT_NULL,    VT_I1,      VT_UI1,           VT_I2, VT_UI2, VT_BOOL, VT_I4, VT_UI4,
    VT_INT,   VT_UINT,    VT_R4,      VT_ERROR,         VT_I8, VT_UI8, VT_R8,   VT_CY, VT_DATE,
    VT_BSTR,  VT_DECIMAL, VT_VARIANT, VT_I4 | VT_BYREF, 0x0FFF};

struct IntegerType {
    VARTYPE vt;
    __int128 low, high;
};
constexpr IntegerType kIntegers[] = {
    {VT_I1, INT8_MIN, INT8_MAX},   {VT_UI1, 0, UINT8_MAX},
    {VT_I2, INT16_MIN, INT16_MAX}, {VT_UI2, 0, UINT16_MAX},
    {VT_I4, INT32_MIN, INT32_MAX}, {VT_INT, INT32_MIN, INT32_MAX},
    {VT_UI4, 0, UINT32_MAX},       {VT_UINT, 0, UINT32_MAX},
    {VT_I8, INT64_MIN, INT64_MAX}, {VT_UI8, 0, static_cast<__int128>(UINT64_MAX)}};

const IntegerType* FindInteger(VARTYPE vt) {
    for (const IntegerType& t : kIntegers) {
        if (t.vt == vt) return &t;
    }
    return nullptr;
}

bool IsInteger(VARTYPE vt) {
    return FindInteger(vt) != nullptr;
}

// The integer a VARIANT of an integer type holds, exactly.
__int128 IntegerOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_INT:
            return v.intVal;
        case VT_UINT:
            return v.uintVal;
        case VT_I8:
            return v.llVal;
        default:
            return static_cast<__int128>(v.ullVal);
    }
}

// The number a numeric source stands for, when it is one (integers exactly, reals rounded
// half to even as the conversions to integers round them).
std::optional<__int128> RoundedValue(const VARIANT& v) {
    if (IsInteger(v.vt)) return IntegerOf(v);
    if (v.vt != VT_R4 && v.vt != VT_R8) return std::nullopt;
    const double d = v.vt == VT_R4 ? double{v.fltVal} : v.dblVal;
    if (!std::isfinite(d) || std::fabs(d) > 1e30) return std::nullopt;
    return static_cast<__int128>(std::nearbyint(d));
}

BSTR Text(Bytes& in) {
    static const char16_t kAlphabet[] = u"0123456789-+.eE \tTrueFalsx\xE9";
    static const char16_t* const kWhole[] = {u"1.7976931348623157e308",
                                             u"-1.7976931348623157e308",
                                             u"4.9406564584124654e-324",
                                             u"3.4028235e38",
                                             u"18446744073709551615",
                                             u"-9223372036854775808",
                                             u" true ",
                                             u"1e400",
                                             u"nan"};
    const uint8_t pick = in.Byte();
    if (pick < 40) return SysAllocString(kWhole[pick % (sizeof kWhole / sizeof kWhole[0])]);
    const UINT length = in.Byte() % 24;
    BSTR text = SysAllocStringLen(nullptr, length);
    for (UINT i = 0; i < length; ++i) {
        text[i] = kAlphabet[in.Byte() % (sizeof kAlphabet / 2 - 1)];
    }
    return text;
}

void Source(Bytes& in, VARIANT& v) {
    VariantInit(&v);
    const uint64_t bits = uint64_t{in.Word()} << 32 | in.Word();
    static const VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I1,    VT_UI1,  VT_I2,  VT_UI2, VT_I4,
                                     VT_UI4,   VT_INT,  VT_UINT,  VT_I8,   VT_UI8, VT_R4,  VT_R8,
                                     VT_BOOL,  VT_BSTR, VT_ERROR, VT_DATE, VT_CY};
    v.vt = kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])];
    switch (v.vt) {
        case VT_BSTR:
            v.bstrVal = Text(in);
            break;
        case VT_BOOL:
            v.boolVal = bits & 1 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_R4: {
            const auto low = static_cast<uint32_t>(bits);
            std::memcpy(&v.fltVal, &low, sizeof low);
            break;
        }
        default:
            std::memcpy(&v.llVal, &bits, sizeof bits);  // the type's own bytes; the rest zero
            if (v.vt == VT_EMPTY || v.vt == VT_NULL) v.llVal = 0;
            break;
    }
}

// Checks a converted number against the source it came from.
void CheckNumber(const VARIANT& src, const VARIANT& out, VARTYPE to) {
    if (IsInteger(to)) {
        const IntegerType& type = *FindInteger(to);
        const __int128 got = IntegerOf(out);
        if (got < type.low || got > type.high) Broken("integer outside its type", src.vt, to);
        if (auto want = RoundedValue(src); want && *want != got) {
            Broken("integer differs from the source", src.vt, to);
        }
    } else if (to == VT_R8 && src.vt == VT_R4) {
        if (!(out.dblVal == double{src.fltVal}) && !std::isnan(src.fltVal)) {
            Broken("single widened wrongly", src.vt, to);
        }
    } else if (to == VT_R4 && src.vt == VT_R8) {
        if (std::isfinite(src.dblVal) && out.fltVal != static_cast<float>(src.dblVal)) {
            Broken("double narrowed wrongly", src.vt, to);
        }
    }
}

// A number that must convert: integers and reals to any integer type that holds them.
bool MustSucceed(const VARIANT& src, VARTYPE to) {
    if (!IsInteger(to)) return false;
    auto value = RoundedValue(src);
    return value && *value >= FindInteger(to)->low && *value <= FindInteger(to)->high;
}

// Number -> text -> the number's own type.
void CheckTextRoundTrip(const VARIANT& src, const VARIANT& text) {
    if (src.vt == VT_BOOL || !(IsInteger(src.vt) || src.vt == VT_R4 || src.vt == VT_R8)) return;
    VARIANT back;
    VariantInit(&back);
    if (FAILED(VariantChangeType(&back, &text, 0, src.vt))) {
        Broken("number written as text does not read back", src.vt, VT_BSTR);
    }
    if (back.vt != src.vt) Broken("text read back as another type", src.vt, VT_BSTR);
    if (IsInteger(src.vt)) {
        if (IntegerOf(back) != IntegerOf(src))
            Broken("integer changed through text", src.vt, VT_BSTR);
        return;
    }
    // Reals carry 15 (doubles) or 7 (singles) significant digits.
    const double was = src.vt == VT_R4 ? double{src.fltVal} : src.dblVal;
    const double now = src.vt == VT_R4 ? double{back.fltVal} : back.dblVal;
    const double tolerance = src.vt == VT_R4 ? 1e-6 : 1e-14;
    if (std::fabs(now - was) > tolerance * std::fabs(was)) {
        Broken("real changed through text", src.vt, VT_BSTR);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    for (int round = 0; round < 16 && !in.Done(); ++round) {
        VARIANT src;
        Source(in, src);
        const uint8_t options = in.Byte();
        const USHORT flags = options & 1 ? VARIANT_ALPHABOOL : 0;
        // Read through a reference now and then; conversions must not mind.
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &src;
        const VARIANT* from = options & 2 ? &ref : &src;
        const bool numeric = IsInteger(src.vt) || src.vt == VT_R4 || src.vt == VT_R8;
        const bool finite = !(src.vt == VT_R4 && !std::isfinite(src.fltVal)) &&
                            !(src.vt == VT_R8 && !std::isfinite(src.dblVal));

        for (VARTYPE to : kTargets) {
            VARIANT dest;
            VariantInit(&dest);
            dest.vt = VT_I4;
            dest.lVal = 0x5A5A5A5A;
            const HRESULT hr = VariantChangeType(&dest, from, flags, to);
            if (FAILED(hr)) {
                if (dest.vt != VT_I4 || dest.lVal != 0x5A5A5A5A) {
                    Broken("failure changed the destination", src.vt, to);
                }
                if (MustSucceed(src, to)) Broken("a number that fits was refused", src.vt, to);
                if (to == VT_BSTR && numeric && finite) Broken("number has no text", src.vt, to);
                continue;
            }
            if (dest.vt != to) Broken("success gave another type", src.vt, to);
            if (IsInteger(to) || to == VT_R4 || to == VT_R8) CheckNumber(src, dest, to);
            // Infinities and NaN have a text but no way back: the text reader refuses them.
            if (to == VT_BSTR && finite) CheckTextRoundTrip(src, dest);
            if (to == VT_BOOL && numeric && RoundedValue(src) &&
                (dest.boolVal != 0) != (src.vt == VT_R4   ? src.fltVal != 0
                                        : src.vt == VT_R8 ? src.dblVal != 0
                                                          : IntegerOf(src) != 0)) {
                Broken("truth differs from the number", src.vt, to);
            }
            VariantClear(&dest);
        }

        // In place: the source itself becomes the result, or stays as it was.
        VARIANT copy;
        VariantInit(&copy);
        if (FAILED(VariantCopy(&copy, &src))) Broken("copy failed", src.vt, src.vt);
        const VARTYPE to = kTargets[options % (sizeof kTargets / sizeof kTargets[0])];
        const VARIANT before = copy;
        if (FAILED(VariantChangeType(&copy, &copy, flags, to)) &&
            std::memcmp(&before, &copy, sizeof copy) != 0) {
            Broken("failed in-place conversion changed the value", src.vt, to);
        }
        VariantClear(&copy);
        VariantClear(&src);
    }
    return 0;
}
