// Automation strings and UTF-8/UTF-16 conversion.
//
// Memory layout of a BSTR: [uint32 byte length][characters][two zero bytes]; the BSTR points
// at the first character. The byte length excludes the terminator, so SysStringLen does not
// depend on scanning for a zero and embedded zeros survive.
#include <bxplatform/com_string.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
constexpr size_t kTerminator = sizeof(OLECHAR);

// Allocates room for `bytes` bytes of content, fills it from `data` (or with zeros) and
// terminates it. Null when the length does not fit the 32-bit prefix or memory runs out.
BSTR AllocateBytes(const void* data, size_t bytes) {
    if (bytes > std::numeric_limits<uint32_t>::max() - kPrefix - kTerminator) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + kTerminator));
    if (!block) return nullptr;
    const uint32_t length = static_cast<uint32_t>(bytes);
    std::memcpy(block, &length, kPrefix);
    unsigned char* content = block + kPrefix;
    if (data) {
        std::memcpy(content, data, bytes);
    } else {
        std::memset(content, 0, bytes);
    }
    std::memset(content + bytes, 0, kTerminator);
    return reinterpret_cast<BSTR>(content);
}

unsigned char* BlockOf(BSTR text) {
    return reinterpret_cast<unsigned char*>(text) - kPrefix;
}

size_t TerminatedLength(const OLECHAR* text) {
    size_t n = 0;
    while (text[n] != u'\0') ++n;
    return n;
}

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

// Decodes one UTF-8 sequence at text[i], advancing i. Invalid, truncated, overlong and
// surrogate sequences give U+FFFD and consume one byte, so decoding resynchronises at the
// next byte.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int extra;
    char32_t c;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        c = lead & 0x07;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + extra >= text.size()) {  // truncated at the end
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = c << 6 | (byte(i + k) & 0x3F);
    }
    const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += extra + 1;
    return c;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::min<size_t>(
                                       TerminatedLength(text), std::numeric_limits<UINT>::max())));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    return AllocateBytes(text, size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* data, UINT bytes) {
    return AllocateBytes(data, bytes);
}

void SysFreeString(BSTR text) {
    if (text) std::free(BlockOf(text));
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (!target) return 0;
    if (!text) {
        SysFreeString(*target);
        *target = nullptr;
        return 1;
    }
    return SysReAllocStringLen(target, text, static_cast<UINT>(TerminatedLength(text)));
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (!target) return 0;
    // Allocate before freeing: `text` may point into the string being replaced.
    BSTR fresh = SysAllocStringLen(text, length);
    if (!fresh) return 0;
    SysFreeString(*target);
    *target = fresh;
    return 1;
}

UINT SysStringByteLen(BSTR text) {
    if (!text) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, BlockOf(text), kPrefix);
    return bytes;
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

namespace bx::com {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;  // unpaired surrogate
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, i));
    return out;
}

std::u16string_view BstrView(BSTR text) {
    if (!text) return {};
    return std::u16string_view(text, SysStringLen(text));
}

std::string BstrToUtf8(BSTR text) {
    return ToUtf8(BstrView(text));
}

BSTR Utf8ToBstr(std::string_view utf8) {
    std::u16string wide = ToUtf16(utf8);
    if (wide.size() > std::numeric_limits<UINT>::max()) return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// ---- Bstr ----------------------------------------------------------------------------------

namespace {

BSTR CopyOrThrow(std::u16string_view text) {
    if (text.size() > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy) throw std::bad_alloc();
    return copy;
}

}  // namespace

Bstr::Bstr(std::string_view utf8) : text_(CopyOrThrow(ToUtf16(utf8))) {}

Bstr::Bstr(std::u16string_view text) : text_(CopyOrThrow(text)) {}

Bstr::Bstr(const char* utf8) {
    if (utf8) text_ = CopyOrThrow(ToUtf16(utf8));
}

Bstr::Bstr(const OLECHAR* text) {
    if (text) text_ = CopyOrThrow(std::u16string_view(text));
}

Bstr::Bstr(const Bstr& other) {
    if (other.text_) text_ = CopyOrThrow(other.View());
}

Bstr& Bstr::operator=(const Bstr& other) {
    if (this != &other) {
        Bstr copy(other);
        Reset();
        text_ = copy.Detach();
    }
    return *this;
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
    if (this != &other) {
        Reset();
        text_ = other.Detach();
    }
    return *this;
}

Bstr Bstr::Adopt(BSTR text) noexcept {
    Bstr result;
    result.text_ = text;
    return result;
}

Bstr Bstr::CopyOf(BSTR text) {
    Bstr result;
    if (text) result.text_ = CopyOrThrow(BstrView(text));
    return result;
}

BSTR Bstr::Detach() noexcept {
    BSTR text = text_;
    text_ = nullptr;
    return text;
}

BSTR* Bstr::Out() noexcept {
    Reset();
    return &text_;
}

void Bstr::Reset() noexcept {
    SysFreeString(text_);
    text_ = nullptr;
}

}  // namespace bx::com
