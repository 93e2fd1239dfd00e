// GUID text forms.
#include <bxplatform/com_types.h>

#include <cstdio>

namespace bx::com {

std::optional<GUID> ParseGuid(std::u16string_view text) {
    if (text.size() != kGuidTextLength) return std::nullopt;
    std::string narrow(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0x7F) return std::nullopt;
        narrow[i] = static_cast<char>(text[i]);
    }
    return ParseGuid(std::string_view(narrow));
}

std::string FormatGuid(REFGUID g) {
    char text[kGuidTextLength + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::string(text, kGuidTextLength);
}

std::u16string FormatGuidUtf16(REFGUID guid) {
    std::string narrow = FormatGuid(guid);
    return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace bx::com

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
    const int needed = static_cast<int>(bx::com::kGuidTextLength) + 1;
    if (!buffer || capacity < needed) return 0;
    std::u16string text = bx::com::FormatGuidUtf16(guid);
    text.copy(buffer, text.size());
    buffer[text.size()] = u'\0';
    return needed;
}

namespace {

// Reads a zero-terminated text of at most one character more than a GUID needs, so an
// overlong or unterminated-looking input is rejected without scanning it all.
std::optional<GUID> ParseTerminated(LPCOLESTR text) {
    size_t length = 0;
    while (length <= bx::com::kGuidTextLength && text[length] != u'\0') ++length;
    return bx::com::ParseGuid(std::u16string_view(text, length));
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out) {
    if (!text || !out) return E_INVALIDARG;
    std::optional<GUID> g = ParseTerminated(text);
    if (!g) return CO_E_CLASSSTRING;
    *out = *g;
    return NOERROR;
}

HRESULT IIDFromString(LPCOLESTR text, IID* out) {
    if (!text || !out) return E_INVALIDARG;
    std::optional<GUID> g = ParseTerminated(text);
    if (!g) return E_INVALIDARG;
    *out = *g;
    return S_OK;
}
