// INI-file access in the classic private-profile style: "[Section]" lines followed by
// "key=value" lines. Section and key names match without regard to case; values are trimmed
// of surrounding blanks and of one pair of enclosing quotes. A missing file reads as empty; a
// UTF-8 byte-order mark is skipped on reading and kept on writing.
//
// Writing keeps every other section, key, comment, blank line and the line ending (CR LF or LF)
// as they were, and replaces the file in one step: the new text goes to a temporary file in the
// same folder, is synced to disk and renamed over the file, then the folder is synced. A reader
// never sees a half-written file, and a write that fails (disk full, file-size limit, folder not
// writable) returns false, removes the temporary and leaves the file exactly as it was. The
// replacement keeps the file's permissions (and its owner, where the writer may set it). A path
// that is a symbolic link (or a chain of them) updates the file at the end of the chain and
// keeps the links. A write is refused, leaving everything as it was, when the file exists but
// cannot be read (writing over it would lose its other keys), when the path is not a regular
// file (a device or folder), or when the links form a loop. One failure comes after the file
// was replaced: when the folder cannot be synced, the write returns false although the new
// text is in place, since it may not survive a power cut.
//
// Lines whose first non-blank character is ';' or '#' are comments.
//
// Names and values containing line breaks, keys containing '=' or starting with '[', ';' or
// '#', and section names containing ']' are refused (the write returns false and the file is
// unchanged), since they would change the file's structure.
//
// Thread rule: thread-safe; operations on the same file are serialised within the process.
#pragma once

#include <string>

namespace bx::ini {

// The value of `key` in `section`, or `fallback` when the file, section or key is missing.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& path);
// Sets `key` in `section`, creating the file, section and key as needed. False when the file
// cannot be written or a name or value is refused (see above).
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);
// The value's leading decimal number (with sign); `fallback` when the key is missing, 0 when
// the value does not start with a number.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int fallback,
                         const std::string& path);
// Removes a key or a whole section; false when absent or the file cannot be written.
bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& path);
bool DeletePrivateProfileSection(const std::string& section, const std::string& path);

// Typed access to one file in the classic toolkit's style.
class TIniFile {
public:
    explicit TIniFile(std::string path) : path_(std::move(path)) {}
    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // Whole-value integer (decimal or 0x hexadecimal); `fallback` when missing or not one.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    // Any non-zero integer is true; `fallback` when missing or not an integer.
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;
    // Decimal number; `fallback` when missing or not a number.
    double ReadFloat(const std::string& section, const std::string& key, double fallback) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);  // "1"/"0"
    bool WriteFloat(const std::string& section, const std::string& key, double value);
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);

private:
    std::string path_;
};

}  // namespace bx::ini
