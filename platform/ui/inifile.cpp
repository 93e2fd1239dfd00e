// INI files, kept as their lines so a write changes only the line it must.
#include <bxplatform/inifile.h>
#include <bxplatform/replace_file.h>
#include <bxplatform/ui_base.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace bx::ini {

namespace {

std::mutex& FileMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool SectionNameOk(std::string_view section) {
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos &&
           !Trim(section).empty();
}

bool KeyNameOk(std::string_view key) {
    std::string_view k = Trim(key);
    // A leading '[' would make a header, a leading ';' or '#' a comment.
    return !HasLineBreak(key) && key.find('=') == std::string_view::npos && !k.empty() &&
           k.front() != '[' && k.front() != ';' && k.front() != '#';
}

// One file as lines, with the line ending and byte-order mark it used.
struct IniText {
    std::vector<std::string> lines;
    std::string eol = "\r\n";
    bool bom = false;
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

IniText Parse(std::string data) {
    IniText text;
    if (data.starts_with(kUtf8Bom)) {
        text.bom = true;
        data.erase(0, kUtf8Bom.size());
    }
    if (data.find("\r\n") == std::string::npos && data.find('\n') != std::string::npos) {
        text.eol.erase(0,
                       1);  // "\r\n" -> "\n" (assigning the literal trips a GCC 12 false warning)
    }
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text.lines.push_back(std::move(line));
        start = end + 1;
    }
    return text;
}

// What reading a file found: its text, no file at all, or a file that could not be read.
struct Loaded {
    enum class Kind { Text, Missing, Unreadable };
    Kind kind = Kind::Missing;
    IniText text;
};

Loaded LoadFile(const std::string& path) {
    // Non-blocking open, so a FIFO at the path cannot hang the caller; only regular files count.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? Loaded::Kind::Missing : Loaded::Kind::Unreadable, {}};
    }
    struct stat st {};
    std::string data;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[16384];
    while (ok) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) return {Loaded::Kind::Unreadable, {}};
    return {Loaded::Kind::Text, Parse(std::move(data))};
}

// For readers: the file's text, or nothing when it is missing or unreadable.
std::optional<IniText> Load(const std::string& path) {
    Loaded loaded = LoadFile(path);
    if (loaded.kind != Loaded::Kind::Text) return std::nullopt;
    return std::move(loaded.text);
}

// For writers: a missing file is empty, but a file that exists and cannot be read gives
// nothing, since writing the one changed key over it would lose all the rest.
std::optional<IniText> LoadForWrite(const std::string& path) {
    Loaded loaded = LoadFile(path);
    if (loaded.kind == Loaded::Kind::Unreadable) return std::nullopt;
    return std::move(loaded.text);
}

std::string Render(const IniText& text) {
    std::string data = text.bom ? std::string(kUtf8Bom) : std::string();
    for (const std::string& line : text.lines) {
        data += line;
        data += text.eol;
    }
    return data;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Replaces the file in one step (bxplatform/replace_file.h): the whole text goes to a
// temporary beside it, is synced and renamed over the file, and the folder is synced. Any
// failure leaves the file exactly as it was (it is never rewritten in place, which would
// truncate it first); a device, folder or link loop at the path is refused. A folder that
// cannot be synced after the rename still reports failure (see the header).
bool Save(const std::string& path, const IniText& text) {
    bx::kernel::ReplacingFile file;
    return file.Open(path) && WriteAll(file.fd(), Render(text)) && file.Commit();
}

std::optional<std::string_view> SectionHeader(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// Key of a "key=value" line, or nothing for comments, blanks and other lines.
std::optional<std::string_view> KeyOf(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(0, eq));
}

std::string ValueOf(std::string_view line) {
    std::string_view v = Trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 &&
        ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

// Line range [begin, end) of a section's body, with begin - 1 its header.
struct SectionSpan {
    size_t header;
    size_t end;
};

std::optional<SectionSpan> FindSection(const IniText& text, std::string_view section) {
    for (size_t i = 0; i < text.lines.size(); ++i) {
        auto name = SectionHeader(text.lines[i]);
        if (!name || !bx::ui::SameText(*name, Trim(section))) continue;
        size_t end = i + 1;
        while (end < text.lines.size() && !SectionHeader(text.lines[end])) ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const IniText& text, const SectionSpan& span, std::string_view key) {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        auto k = KeyOf(text.lines[i]);
        if (k && bx::ui::SameText(*k, Trim(key))) return i;
    }
    return std::nullopt;
}

std::optional<std::string> ReadValue(const std::string& section, const std::string& key,
                                     const std::string& path) {
    std::lock_guard lock(FileMutex());
    auto text = Load(path);
    if (!text) return std::nullopt;
    auto span = FindSection(*text, section);
    if (!span) return std::nullopt;
    auto line = FindKey(*text, *span, key);
    if (!line) return std::nullopt;
    return ValueOf(text->lines[*line]);
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& path) {
    return ReadValue(section, key, path).value_or(fallback);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    if (!SectionNameOk(section) || !KeyNameOk(key) || HasLineBreak(value)) return false;
    std::lock_guard lock(FileMutex());
    std::optional<IniText> loaded = LoadForWrite(path);
    if (!loaded) return false;
    IniText& text = *loaded;
    std::string line = std::string(Trim(key)) + "=" + value;
    auto span = FindSection(text, section);
    if (!span) {
        if (!text.lines.empty() && !Trim(text.lines.back()).empty()) text.lines.emplace_back();
        // Built piecewise: GCC 12 at -O3 misreads "[" + string + "]" as an overlapping copy.
        std::string header = "[";
        header += Trim(section);
        header += ']';
        text.lines.push_back(std::move(header));
        text.lines.push_back(std::move(line));
    } else if (auto at = FindKey(text, *span, key)) {
        text.lines[*at] = std::move(line);
    } else {
        // After the section's last non-blank line, so blank separators stay between sections.
        size_t insert = span->end;
        while (insert > span->header + 1 && Trim(text.lines[insert - 1]).empty()) --insert;
        text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(insert),
                          std::move(line));
    }
    return Save(path, text);
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int fallback,
                         const std::string& path) {
    auto value = ReadValue(section, key, path);
    if (!value) return fallback;
    // Leading number only, as the classic function reads it; saturates instead of overflowing.
    const char* s = value->c_str();
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    long long result = 0;
    while (std::isdigit(static_cast<unsigned char>(*s))) {
        result = result * 10 + (*s++ - '0');
        if (result > 2147483648LL) result = 2147483648LL;
    }
    if (negative) result = -result;
    if (result > 2147483647LL) result = 2147483647LL;
    return static_cast<int>(result);
}

bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& path) {
    std::lock_guard lock(FileMutex());
    auto text = Load(path);
    if (!text) return false;
    auto span = FindSection(*text, section);
    if (!span) return false;
    auto at = FindKey(*text, *span, key);
    if (!at) return false;
    text->lines.erase(text->lines.begin() + static_cast<std::ptrdiff_t>(*at));
    return Save(path, *text);
}

bool DeletePrivateProfileSection(const std::string& section, const std::string& path) {
    std::lock_guard lock(FileMutex());
    auto text = Load(path);
    if (!text) return false;
    auto span = FindSection(*text, section);
    if (!span) return false;
    text->lines.erase(text->lines.begin() + static_cast<std::ptrdiff_t>(span->header),
                      text->lines.begin() + static_cast<std::ptrdiff_t>(span->end));
    return Save(path, *text);
}

// ---- TIniFile ----------------------------------------------------------------------------

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    return GetPrivateProfileString(section, key, fallback, path_);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
    auto value = ReadValue(section, key, path_);
    return value ? ui::StrToIntDef(*value, fallback) : fallback;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key,
                           double fallback) const {
    auto value = ReadValue(section, key, path_);
    if (!value) return fallback;
    try {
        return ui::StrToFloat(*value);
    } catch (const ui::EConvertError&) {
        return fallback;
    }
}

bool TIniFile::SectionExists(const std::string& section) const {
    std::lock_guard lock(FileMutex());
    auto text = Load(path_);
    return text && FindSection(*text, section).has_value();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return ReadValue(section, key, path_).has_value();
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    return WritePrivateProfileString(section, key, value, path_);
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
    return WriteString(section, key, ui::FloatToStr(value));
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    return DeletePrivateProfileKey(section, key, path_);
}

bool TIniFile::EraseSection(const std::string& section) {
    return DeletePrivateProfileSection(section, path_);
}

}  // namespace bx::ini
