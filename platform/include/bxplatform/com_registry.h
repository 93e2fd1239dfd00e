// The registry of component classes: keys under a classes root (class identifiers, ProgIDs,
// component categories) with string values, kept in one text file so that every process of
// the user sees the same registrations. Modules write it when they register themselves;
// hosts read it to find and create classes.
//
// Keys are addressed by paths relative to the classes root, components separated by a
// backslash: "CLSID\{...}\InprocServer32"; "" is the root. Key and value names are matched
// without regard to ASCII case and keep the case they were first written with. A value name
// "" is the key's default value. Text is UTF-8.
//
// The file: env BX_REGISTRY_FILE if set, else $XDG_CONFIG_HOME/bxplatform/classes.reg
// ($XDG_CONFIG_HOME defaulting to $HOME/.config); SetRegistryPath overrides both. Its text:
//   BXREG 1
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @="default value"
//   "Name"="value"
// with \\, \", \n and \r escaped inside the quotes; blank lines and lines starting with ';'
// are ignored. Every key has its own section, parents first.
//
// Every change is one locked read-modify-write: an exclusive flock on "<file>.lock" (waited
// for up to the lock timeout, 10 s unless set), the file re-read under the lock, the change
// applied, the whole text written to a temporary beside the file, synced and renamed over it.
// So concurrent writers in several processes and threads lose nothing, and readers (which
// take no lock) see the old file or the new one, never a part. A malformed file is never
// overwritten: changes fail with REGDB_E_READREGDB until someone repairs or removes it.
//
// Failure codes: E_INVALIDARG for a malformed path (an empty component, a line break in a
// name), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for deleting what is not there,
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the lock stays taken, REGDB_E_READREGDB and
// REGDB_E_WRITEREGDB for a file that cannot be read or written (LastRegistryError says why).
//
// Thread rule: the free functions are thread-safe (and safe across processes). A RegistryTree
// object is thread-bound.
#pragma once

#include <bxplatform/com_types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using CATID = GUID;
using REFCATID = const GUID&;

namespace bx::com {

inline constexpr DWORD kErrorFileNotFound = 2;
inline constexpr DWORD kErrorTimeout = 1460;

// The registry's content in memory: what a transaction edits, or a snapshot for reading.
class RegistryTree {
public:
    RegistryTree();
    RegistryTree(RegistryTree&&) noexcept;
    RegistryTree& operator=(RegistryTree&&) noexcept;
    ~RegistryTree();

    // Creates the key and any missing parents; S_OK also when it exists.
    HRESULT CreateKey(std::string_view path);
    // Writes a value, creating the key (and its parents) as needed.
    HRESULT SetValue(std::string_view path, std::string_view name, std::string_view value);
    std::optional<std::string> QueryValue(std::string_view path, std::string_view name) const;
    bool KeyExists(std::string_view path) const;
    // Names of the key's subkeys, ordered without regard to case; empty for a missing key.
    std::vector<std::string> EnumKeys(std::string_view path) const;
    // Removes the key with everything below it.
    HRESULT DeleteTree(std::string_view path);
    HRESULT DeleteValue(std::string_view path, std::string_view name);

    // The file text, and back. Parse fails with REGDB_E_READREGDB on a malformed text (and
    // leaves *tree unchanged); an empty text is an empty registry.
    std::string ToText() const;
    static HRESULT Parse(std::string_view text, RegistryTree* tree);

private:
    struct Node;
    std::unique_ptr<Node> root_;
};

// The file in use, and overrides for tests and tools ("" goes back to the environment).
std::string RegistryPath();
void SetRegistryPath(std::string path);
void SetRegistryLockTimeout(std::chrono::milliseconds timeout);
// Why the calling thread's last registry call failed (empty after a success).
std::string LastRegistryError();

// Reads the whole registry, without the lock. A missing file is an empty registry.
HRESULT RegLoad(RegistryTree* tree);
// One locked update: `edit` changes the tree read under the lock; when it succeeds the tree is
// written back, when it fails nothing is written and its code is returned. An edit that wants
// the changes made before a failure kept returns S_OK and reports its failure by other means.
HRESULT RegTransaction(const std::function<HRESULT(RegistryTree&)>& edit);

// Single changes (each one transaction) and reads (each reading the file).
HRESULT RegCreateKey(std::string_view path);
HRESULT RegSetValue(std::string_view path, std::string_view name, std::string_view value);
std::optional<std::string> RegQueryValue(std::string_view path, std::string_view name);
std::vector<std::string> RegEnumKeys(std::string_view path);
HRESULT RegDeleteTree(std::string_view path);
HRESULT RegDeleteValue(std::string_view path, std::string_view name);

// ---- Component categories ------------------------------------------------------------------
// A category is a kind of class (hosts find camera plug-ins by the category they implement).
// "Component Categories\{catid}" holds its description per locale, in a value named by the
// locale in hex ("409"); a class lists its categories under "CLSID\{clsid}\Implemented
// Categories\{catid}" and "...\Required Categories\{catid}" (categories a host must support to
// use it). Each function has a form that edits a tree inside a transaction and a form that is
// its own transaction.

// Descriptions longer than this many characters are cut.
inline constexpr size_t kCategoryDescriptionMax = 127;

HRESULT RegisterCategory(RegistryTree& tree, REFCATID catid, LCID lcid,
                         std::string_view description);
HRESULT RegisterCategory(REFCATID catid, LCID lcid, std::string_view description);
// Removes the categories' keys (descriptions in every locale); classes keep their marks.
HRESULT UnRegisterCategories(RegistryTree& tree, std::span<const CATID> catids);
HRESULT UnRegisterCategories(std::span<const CATID> catids);

HRESULT RegisterClassImplCategories(RegistryTree& tree, REFCLSID clsid,
                                    std::span<const CATID> catids);
HRESULT RegisterClassImplCategories(REFCLSID clsid, std::span<const CATID> catids);
HRESULT RegisterClassReqCategories(RegistryTree& tree, REFCLSID clsid,
                                   std::span<const CATID> catids);
HRESULT RegisterClassReqCategories(REFCLSID clsid, std::span<const CATID> catids);
// Remove the marks; the "Implemented/Required Categories" key goes with its last mark. A mark
// that is not there is no failure.
HRESULT UnRegisterClassImplCategories(RegistryTree& tree, REFCLSID clsid,
                                      std::span<const CATID> catids);
HRESULT UnRegisterClassImplCategories(REFCLSID clsid, std::span<const CATID> catids);
HRESULT UnRegisterClassReqCategories(RegistryTree& tree, REFCLSID clsid,
                                     std::span<const CATID> catids);
HRESULT UnRegisterClassReqCategories(REFCLSID clsid, std::span<const CATID> catids);

// The description of a category in exactly that locale.
std::optional<std::string> CategoryDescription(REFCATID catid, LCID lcid);
// Registered classes that implement `catid`, in class-identifier text order.
std::vector<CLSID> ClassesImplementingCategory(REFCATID catid);
// The categories a class implements / requires.
std::vector<CATID> ImplementedCategoriesOf(REFCLSID clsid);
std::vector<CATID> RequiredCategoriesOf(REFCLSID clsid);

}  // namespace bx::com
