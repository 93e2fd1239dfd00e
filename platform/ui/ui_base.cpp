// Basic toolkit helpers: the toolkit lock, key/character mapping and conversions.
#include <bxplatform/ui_base.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace bx::ui {

namespace detail {
std::mutex& ToolkitMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace detail

char KeyToChar(uint16_t key, bool shift) {
    if (key >= '0' && key <= '9') return static_cast<char>(key);
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD0 + 9)
        return static_cast<char>('0' + key - VK_NUMPAD0);
    if (key >= 'A' && key <= 'Z') return static_cast<char>(shift ? key : key - 'A' + 'a');
    switch (key) {
        case VK_BACK:
            return '\b';
        case VK_RETURN:
            return '\r';
        case VK_ESCAPE:
            return 27;
        case VK_SPACE:
            return ' ';
        case VK_TAB:
            return '\t';
        default:
            return 0;
    }
}

uint16_t CharToKey(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint16_t>(c);
    if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<uint16_t>(c);
    switch (c) {
        case '\b':
            return VK_BACK;
        case '\r':
        case '\n':
            return VK_RETURN;
        case 27:
            return VK_ESCAPE;
        case ' ':
            return VK_SPACE;
        case '\t':
            return VK_TAB;
        default:
            return 0;
    }
}

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

bool TryStrToInt(std::string_view text, int& value) {
    std::string_view s = Trim(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 1 && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    int64_t magnitude = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || end != s.data() + s.size() || magnitude < 0) return false;
    int64_t result = negative ? -magnitude : magnitude;
    if (result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(result);
    return true;
}

int StrToInt(std::string_view text) {
    int value = 0;
    if (!TryStrToInt(text, value)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

int StrToIntDef(std::string_view text, int fallback) {
    int value = 0;
    return TryStrToInt(text, value) ? value : fallback;
}

std::string IntToStr(int64_t value) {
    return std::to_string(value);
}

double StrToFloat(std::string_view text) {
    std::string_view s = Trim(text);
    double value = 0;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    }
    return value;
}

std::string FloatToStr(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    return buffer;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace bx::ui
