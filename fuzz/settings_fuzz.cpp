// libFuzzer target: the settings file. The input is written as a file and read through
// TIniFile; every key the text holds must read as the rules in inifile.h say (first section of
// a name, first key of a name, names without regard to case, values trimmed and unquoted
// once). Then every value is written to a fresh file and must read back by the same rules
// (a value with surrounding blanks or quotes loses them again, as in the classic format), and
// one key made of the input's first bytes must read back whenever its write is accepted.
#include <bxplatform/inifile.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "temp_folder.h"

namespace {

[[noreturn]] void Broken(const char* what, const std::string& section, const std::string& key) {
    std::fprintf(stderr, "settings fuzz: %s ([%s] %s)\n", what, section.c_str(), key.c_str());
    std::abort();
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A value as the reader gives it: trimmed, then one pair of enclosing quotes taken off.
std::string AsRead(std::string_view v) {
    v = Trim(v);
    if (v.size() >= 2 &&
        ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

struct Entry {
    std::string section, key, value;
};

// What the text holds, worked out independently of the reader.
std::vector<Entry> Expected(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<Entry> entries;
    std::map<std::string, bool> seenSections;  // lower-case name -> this is its first section
    std::map<std::pair<std::string, std::string>, bool> seenKeys;
    std::string section;
    bool inSection = false, firstOfName = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view t = Trim(line);
        if (t.size() >= 2 && t.front() == '[' && t.find(']') != std::string_view::npos) {
            section = std::string(Trim(t.substr(1, t.find(']') - 1)));
            inSection = true;
            firstOfName = seenSections.emplace(Lower(section), true).second;
            continue;
        }
        if (!inSection || !firstOfName || t.empty() || t.front() == ';' || t.front() == '#' ||
            t.front() == '[' || t.find('=') == std::string_view::npos) {
            continue;
        }
        std::string key(Trim(t.substr(0, t.find('='))));
        if (!seenKeys.emplace(std::pair(Lower(section), Lower(key)), true).second) continue;
        entries.push_back({section, key, AsRead(line.substr(line.find('=') + 1))});
    }
    return entries;
}

const std::string& Folder() {
    return bx::fuzz::TempFolder("settings_fuzz");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string inPath = Folder() + "/in.ini", outPath = Folder() + "/out.ini";
    if (FILE* f = std::fopen(inPath.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    } else {
        std::abort();
    }
    std::remove(outPath.c_str());

    const bx::ini::TIniFile in(inPath);
    const std::vector<Entry> entries = Expected(text);
    const std::string missing("\x01missing");
    for (const Entry& e : entries) {
        if (!in.SectionExists(e.section)) Broken("section not found", e.section, e.key);
        if (in.ReadString(e.section, e.key, missing) != e.value) {
            Broken("value read wrong", e.section, e.key);
        }
        // The typed readers on arbitrary text, for the sanitizers.
        (void)in.ReadInteger(e.section, e.key, 0);
        (void)in.ReadBool(e.section, e.key, false);
        (void)in.ReadFloat(e.section, e.key, 0.0);
    }

    bx::ini::TIniFile out(outPath);
    std::vector<const Entry*> written;
    for (const Entry& e : entries) {
        const bool refusable = Trim(e.section).empty() || e.key.empty() ||
                               HasLineBreak(e.section) || HasLineBreak(e.key) ||
                               HasLineBreak(e.value);
        if (out.WriteString(e.section, e.key, e.value)) {
            written.push_back(&e);
        } else if (!refusable) {
            Broken("write refused", e.section, e.key);
        }
    }
    for (const Entry* e : written) {
        if (out.ReadString(e->section, e->key, missing) != AsRead(e->value)) {
            Broken("value changed by writing it back", e->section, e->key);
        }
    }

    // A key of any bytes: a write the file accepts must read back.
    const std::string key = text.substr(0, 12);
    bx::ini::TIniFile probe(Folder() + "/probe.ini");
    std::remove(probe.FileName().c_str());
    if (probe.WriteString("probe", key, "v") && probe.ReadString("probe", key, missing) != "v") {
        Broken("accepted key does not read back", "probe", key);
    }
    return 0;
}
