// Automation strings (BSTR): UTF-16 text with a 32-bit byte length stored just before the first
// character and a terminating zero after the last, so a BSTR can be read as a plain
// zero-terminated string and may still hold embedded zeros. A null BSTR means the empty string
// everywhere. Also: conversions between UTF-16 and 8-bit (UTF-8) text, and the owning wrapper
// bx::com::Bstr.
//
// Thread rule: the functions are thread-safe; a given string (and a Bstr object) is
// thread-bound to whoever owns it.
#pragma once

#include <bxplatform/com_types.h>

#include <string>
#include <string_view>

using BSTR = OLECHAR*;

// Allocates a copy of the zero-terminated `text`; null text gives null.
BSTR SysAllocString(const OLECHAR* text);
// Allocates `length` characters copied from `text`, or zero-filled when text is null. Embedded
// zeros are kept. Returns null when out of memory or when the byte length would not fit in
// 32 bits.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Allocates `bytes` bytes copied from `data` (zero-filled when null), plus a zero terminator.
BSTR SysAllocStringByteLen(const char* data, UINT bytes);
// Frees a BSTR; null is fine.
void SysFreeString(BSTR text);
// Replaces *target with a copy of `text` (which may point into *target). Returns 1 on success,
// 0 when target is null or memory runs out; *target is then unchanged.
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
// Length in characters / in bytes, without the terminator; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

namespace bx::com {

// Conversions between UTF-16 and UTF-8. Malformed input (an unpaired surrogate, an invalid
// or overlong UTF-8 sequence) becomes U+FFFD rather than failing or being dropped silently.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view utf8);

// Full content of a BSTR (embedded zeros included); null gives an empty view.
std::u16string_view BstrView(BSTR text);
std::string BstrToUtf8(BSTR text);
// New BSTR holding `utf8`; the caller frees it. Null when memory runs out.
BSTR Utf8ToBstr(std::string_view utf8);

// Owns one BSTR (or none). Copies are deep. Constructors that allocate throw std::bad_alloc
// when memory runs out.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8);
    explicit Bstr(std::u16string_view text);
    // Zero-terminated texts; null gives a null Bstr.
    explicit Bstr(const char* utf8);
    explicit Bstr(const OLECHAR* text);
    Bstr(const Bstr& other);
    Bstr(Bstr&& other) noexcept : text_(other.Detach()) {}
    Bstr& operator=(const Bstr& other);
    Bstr& operator=(Bstr&& other) noexcept;
    ~Bstr() { SysFreeString(text_); }

    // Takes ownership of `text` without copying.
    static Bstr Adopt(BSTR text) noexcept;
    // Deep copy of `text`, embedded zeros and all.
    static Bstr CopyOf(BSTR text);

    BSTR Get() const noexcept { return text_; }
    // Gives up ownership; the caller frees the result.
    BSTR Detach() noexcept;
    // Frees the current text and returns the slot, for functions that return a new BSTR
    // through an out pointer.
    BSTR* Out() noexcept;
    void Reset() noexcept;

    bool IsNull() const noexcept { return text_ == nullptr; }
    UINT Length() const noexcept { return SysStringLen(text_); }
    std::u16string_view View() const noexcept { return BstrView(text_); }
    std::string ToUtf8() const { return BstrToUtf8(text_); }

    // Compares contents; null equals empty, as everywhere else.
    friend bool operator==(const Bstr& a, const Bstr& b) { return a.View() == b.View(); }
    friend bool operator==(const Bstr& a, std::u16string_view b) { return a.View() == b; }

private:
    BSTR text_ = nullptr;
};

}  // namespace bx::com
