// The registry file: the tree in memory, its text form, the locked update and component
// categories (see com_registry.h).
#include <bxplatform/com_registry.h>

#include <bxplatform/replace_file.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace bx::com {

namespace {

constexpr std::string_view kHeader = "BXREG 1";
constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

thread_local std::string last_error;

HRESULT Fail(HRESULT hr, std::string text) {
    last_error = std::move(text);
    return hr;
}

std::string Fold(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// Splits a key path into its components; nullopt for an empty component or a line break,
// which the file could not hold. "" is the root (no components).
std::optional<std::vector<std::string_view>> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty()) return parts;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string_view part =
            path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (part.empty() || part.find_first_of("\r\n") != std::string_view::npos) {
            return std::nullopt;
        }
        parts.push_back(part);
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// ---- Text escapes ------------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Reads a quoted text at line[pos] (pos on the opening quote), leaving pos after the closing
// quote. nullopt when it is not one.
std::optional<std::string> ReadQuoted(std::string_view line, size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') return std::nullopt;
    std::string text;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++pos == line.size()) return std::nullopt;
        switch (line[pos]) {
            case '\\':
                text += '\\';
                break;
            case '"':
                text += '"';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

// ---- The tree ----------------------------------------------------------------------------

struct RegistryTree::Node {
    std::string name;  // as first written
    // Keyed by folded name; each holds the name as first written and the data.
    std::map<std::string, std::pair<std::string, std::string>> values;
    std::map<std::string, std::unique_ptr<Node>> children;

    Node* Child(std::string_view name) const {
        auto it = children.find(Fold(name));
        return it == children.end() ? nullptr : it->second.get();
    }
    Node* ChildOrNew(std::string_view name) {
        std::unique_ptr<Node>& slot = children[Fold(name)];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->name = std::string(name);
        }
        return slot.get();
    }
};

RegistryTree::RegistryTree() : root_(std::make_unique<Node>()) {}
RegistryTree::RegistryTree(RegistryTree&&) noexcept = default;
RegistryTree& RegistryTree::operator=(RegistryTree&&) noexcept = default;
RegistryTree::~RegistryTree() = default;

namespace {

// The node at `path`, or null (also for a malformed path).
template <typename NodeT>
NodeT* Find(NodeT* root, std::string_view path) {
    auto parts = SplitPath(path);
    if (!parts) return nullptr;
    NodeT* node = root;
    for (std::string_view part : *parts) {
        node = node->Child(part);
        if (!node) return nullptr;
    }
    return node;
}

}  // namespace

HRESULT RegistryTree::CreateKey(std::string_view path) {
    auto parts = SplitPath(path);
    if (!parts) return Fail(E_INVALIDARG, "malformed key path: " + std::string(path));
    Node* node = root_.get();
    for (std::string_view part : *parts) node = node->ChildOrNew(part);
    return S_OK;
}

HRESULT RegistryTree::SetValue(std::string_view path, std::string_view name,
                               std::string_view value) {
    if (HRESULT hr = CreateKey(path); FAILED(hr)) return hr;
    Node* node = Find(root_.get(), path);
    auto& slot = node->values[Fold(name)];
    if (slot.first.empty()) slot.first = std::string(name);
    slot.second = std::string(value);
    return S_OK;
}

std::optional<std::string> RegistryTree::QueryValue(std::string_view path,
                                                    std::string_view name) const {
    const Node* node = Find<const Node>(root_.get(), path);
    if (!node) return std::nullopt;
    auto it = node->values.find(Fold(name));
    if (it == node->values.end()) return std::nullopt;
    return it->second.second;
}

bool RegistryTree::KeyExists(std::string_view path) const {
    return Find<const Node>(root_.get(), path) != nullptr;
}

std::vector<std::string> RegistryTree::EnumKeys(std::string_view path) const {
    std::vector<std::string> names;
    if (const Node* node = Find<const Node>(root_.get(), path)) {
        for (const auto& [folded, child] : node->children) names.push_back(child->name);
    }
    return names;
}

HRESULT RegistryTree::DeleteTree(std::string_view path) {
    auto parts = SplitPath(path);
    if (!parts) return Fail(E_INVALIDARG, "malformed key path: " + std::string(path));
    if (parts->empty()) {  // the root itself stays; everything in it goes
        root_ = std::make_unique<Node>();
        return S_OK;
    }
    std::string_view leaf = parts->back();
    std::string parent_path(path.substr(0, path.size() - leaf.size()));
    if (!parent_path.empty()) parent_path.pop_back();  // the separator
    Node* parent = Find(root_.get(), parent_path);
    if (!parent || parent->children.erase(Fold(leaf)) == 0) {
        return Fail(HRESULT_FROM_WIN32(kErrorFileNotFound), "no key " + std::string(path));
    }
    return S_OK;
}

HRESULT RegistryTree::DeleteValue(std::string_view path, std::string_view name) {
    if (!SplitPath(path)) return Fail(E_INVALIDARG, "malformed key path: " + std::string(path));
    Node* node = Find(root_.get(), path);
    if (!node || node->values.erase(Fold(name)) == 0) {
        return Fail(HRESULT_FROM_WIN32(kErrorFileNotFound),
                    "no value \"" + std::string(name) + "\" in " + std::string(path));
    }
    return S_OK;
}

namespace {

// Node is the tree's private type; a template lets this helper see it through deduction.
template <typename NodeT>
void Render(const NodeT& node, const std::string& path, bool root, std::string& out) {
    if (!root || !node.values.empty()) {
        out += "\n[";
        out += path;
        out += "]\n";
        for (const auto& [folded, value] : node.values) {
            if (value.first.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, value.first);
            }
            out += '=';
            AppendQuoted(out, value.second);
            out += '\n';
        }
    }
    for (const auto& [folded, child] : node.children) {
        Render(*child, path + '\\' + child->name, false, out);
    }
}

}  // namespace

std::string RegistryTree::ToText() const {
    std::string out(kHeader);
    out += '\n';
    Render(*root_, std::string(kRootName), true, out);
    return out;
}

HRESULT RegistryTree::Parse(std::string_view text, RegistryTree* tree) {
    RegistryTree parsed;
    Node* section = nullptr;
    bool header_seen = false;
    size_t line_number = 0;
    auto malformed = [&](std::string_view why) {
        return Fail(REGDB_E_READREGDB,
                    "line " + std::to_string(line_number) + ": " + std::string(why));
    };
    while (!text.empty()) {
        ++line_number;
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == ';') continue;
        if (!header_seen) {
            if (line != kHeader) return malformed("not a registry file");
            header_seen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') return malformed("unterminated section");
            std::string_view path = line.substr(1, line.size() - 2);
            if (Fold(path.substr(0, kRootName.size())) != Fold(kRootName)) {
                return malformed("section outside the classes root");
            }
            path.remove_prefix(kRootName.size());
            if (!path.empty()) {
                if (path.front() != '\\') return malformed("section outside the classes root");
                path.remove_prefix(1);
                if (path.empty()) return malformed("empty key name");
            }
            if (FAILED(parsed.CreateKey(path))) return malformed("malformed key path");
            section = Find(parsed.root_.get(), path);
            continue;
        }
        if (!section) return malformed("value outside a section");
        size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else if (auto quoted = ReadQuoted(line, pos)) {
            name = std::move(*quoted);
        } else {
            return malformed("bad value name");
        }
        if (pos >= line.size() || line[pos] != '=') return malformed("'=' expected");
        ++pos;
        std::optional<std::string> data = ReadQuoted(line, pos);
        if (!data || pos != line.size()) return malformed("bad value data");
        auto& slot = section->values[Fold(name)];
        if (slot.first.empty()) slot.first = name;
        slot.second = std::move(*data);
    }
    *tree = std::move(parsed);
    return S_OK;
}

// ---- The file ----------------------------------------------------------------------------

namespace {

std::mutex settings_mutex;
std::string path_override;
std::chrono::milliseconds lock_timeout{10000};

std::string DefaultPath() {
    if (const char* file = std::getenv("BX_REGISTRY_FILE"); file && *file) return file;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : "/tmp";
        }
        config = std::string(home) + "/.config";
    }
    return config + "/bxplatform/classes.reg";
}

std::chrono::milliseconds LockTimeout() {
    std::lock_guard lock(settings_mutex);
    return lock_timeout;
}

// Reads the whole file; a missing file gives an empty text.
HRESULT ReadFile(const std::string& path, std::string* text) {
    text->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return S_OK;
        return Fail(REGDB_E_READREGDB, path + ": " + std::strerror(errno));
    }
    char buffer[16384];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            std::string why = path + ": " + std::strerror(errno);
            ::close(fd);
            return Fail(REGDB_E_READREGDB, why);
        }
        text->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return S_OK;
}

HRESULT LoadFrom(const std::string& path, RegistryTree* tree) {
    std::string text;
    if (HRESULT hr = ReadFile(path, &text); FAILED(hr)) return hr;
    HRESULT hr = RegistryTree::Parse(text, tree);
    if (FAILED(hr)) last_error = path + ": " + last_error;
    return hr;
}

HRESULT WriteFile(const std::string& path, const std::string& text) {
    bx::kernel::ReplacingFile file;
    if (!file.Open(path)) return Fail(REGDB_E_WRITEREGDB, file.error());
    std::string_view rest = text;
    while (!rest.empty()) {
        ssize_t n = ::write(file.fd(), rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(REGDB_E_WRITEREGDB, file.temp_path() + ": " + std::strerror(errno));
        }
        rest.remove_prefix(static_cast<size_t>(n));
    }
    if (!file.Commit()) return Fail(REGDB_E_WRITEREGDB, file.error());
    return S_OK;
}

// Holds the exclusive lock on "<file>.lock". flock locks belong to the open file description,
// so each holder opens the file itself and two threads of one process exclude each other too.
class FileLock {
public:
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing drops the lock
    }

    HRESULT Acquire(const std::string& path, std::chrono::milliseconds timeout) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) return Fail(REGDB_E_WRITEREGDB, path + ": " + std::strerror(errno));
        // flock has no timed wait, so poll with a growing pause (capped at 20 ms).
        auto deadline = std::chrono::steady_clock::now() + timeout;
        auto pause = std::chrono::microseconds(200);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return Fail(REGDB_E_WRITEREGDB, path + ": " + std::strerror(errno));
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return Fail(
                    HRESULT_FROM_WIN32(kErrorTimeout),
                    path + ": still locked after " + std::to_string(timeout.count()) + " ms");
            }
            std::this_thread::sleep_for(pause);
            pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
        }
        return S_OK;
    }

private:
    int fd_ = -1;
};

}  // namespace

std::string RegistryPath() {
    {
        std::lock_guard lock(settings_mutex);
        if (!path_override.empty()) return path_override;
    }
    return DefaultPath();
}

void SetRegistryPath(std::string path) {
    std::lock_guard lock(settings_mutex);
    path_override = std::move(path);
}

void SetRegistryLockTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(settings_mutex);
    lock_timeout = timeout;
}

std::string LastRegistryError() {
    return last_error;
}

HRESULT RegLoad(RegistryTree* tree) {
    last_error.clear();
    return LoadFrom(RegistryPath(), tree);
}

HRESULT RegTransaction(const std::function<HRESULT(RegistryTree&)>& edit) {
    last_error.clear();
    const std::string path = RegistryPath();
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) return Fail(REGDB_E_WRITEREGDB, folder.string() + ": " + ec.message());

    FileLock lock;
    if (HRESULT hr = lock.Acquire(path + ".lock", LockTimeout()); FAILED(hr)) return hr;
    RegistryTree tree;
    if (HRESULT hr = LoadFrom(path, &tree); FAILED(hr)) return hr;
    if (HRESULT hr = edit(tree); FAILED(hr)) return hr;
    if (HRESULT hr = WriteFile(path, tree.ToText()); FAILED(hr)) return hr;
    last_error.clear();
    return S_OK;
}

HRESULT RegCreateKey(std::string_view path) {
    return RegTransaction([&](RegistryTree& tree) { return tree.CreateKey(path); });
}

HRESULT RegSetValue(std::string_view path, std::string_view name, std::string_view value) {
    return RegTransaction([&](RegistryTree& tree) { return tree.SetValue(path, name, value); });
}

std::optional<std::string> RegQueryValue(std::string_view path, std::string_view name) {
    RegistryTree tree;
    if (FAILED(RegLoad(&tree))) return std::nullopt;
    return tree.QueryValue(path, name);
}

std::vector<std::string> RegEnumKeys(std::string_view path) {
    RegistryTree tree;
    if (FAILED(RegLoad(&tree))) return {};
    return tree.EnumKeys(path);
}

HRESULT RegDeleteTree(std::string_view path) {
    return RegTransaction([&](RegistryTree& tree) { return tree.DeleteTree(path); });
}

HRESULT RegDeleteValue(std::string_view path, std::string_view name) {
    return RegTransaction([&](RegistryTree& tree) { return tree.DeleteValue(path, name); });
}

// ---- Component categories ------------------------------------------------------------------

namespace {

constexpr std::string_view kCategories = "Component Categories\\";
constexpr std::string_view kImplemented = "Implemented Categories";
constexpr std::string_view kRequired = "Required Categories";

std::string CategoryKey(REFCATID catid) {
    return std::string(kCategories) + FormatGuid(catid);
}

std::string ClassKey(REFCLSID clsid, std::string_view relation) {
    return "CLSID\\" + FormatGuid(clsid) + "\\" + std::string(relation);
}

std::string LocaleName(LCID lcid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", unsigned(lcid));
    return text;
}

// The first `max` characters (code points) of UTF-8 text.
std::string_view CutCharacters(std::string_view text, size_t max) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts_character && characters++ == max) return text.substr(0, i);
    }
    return text;
}

HRESULT MarkClass(RegistryTree& tree, REFCLSID clsid, std::string_view relation,
                  std::span<const CATID> catids) {
    for (const CATID& catid : catids) {
        if (HRESULT hr = tree.CreateKey(ClassKey(clsid, relation) + "\\" + FormatGuid(catid));
            FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT UnmarkClass(RegistryTree& tree, REFCLSID clsid, std::string_view relation,
                    std::span<const CATID> catids) {
    const std::string key = ClassKey(clsid, relation);
    for (const CATID& catid : catids) {
        std::string mark = key + "\\" + FormatGuid(catid);
        if (tree.KeyExists(mark)) tree.DeleteTree(mark);
    }
    if (tree.KeyExists(key) && tree.EnumKeys(key).empty() && !tree.QueryValue(key, "")) {
        tree.DeleteTree(key);
    }
    return S_OK;
}

std::vector<GUID> GuidKeys(const RegistryTree& tree, std::string_view path) {
    std::vector<GUID> guids;
    for (const std::string& name : tree.EnumKeys(path)) {
        if (std::optional<GUID> g = ParseGuid(std::string_view(name))) guids.push_back(*g);
    }
    return guids;
}

std::vector<CATID> CategoriesOf(REFCLSID clsid, std::string_view relation) {
    RegistryTree tree;
    if (FAILED(RegLoad(&tree))) return {};
    return GuidKeys(tree, ClassKey(clsid, relation));
}

}  // namespace

HRESULT RegisterCategory(RegistryTree& tree, REFCATID catid, LCID lcid,
                         std::string_view description) {
    return tree.SetValue(CategoryKey(catid), LocaleName(lcid),
                         CutCharacters(description, kCategoryDescriptionMax));
}

HRESULT RegisterCategory(REFCATID catid, LCID lcid, std::string_view description) {
    return RegTransaction(
        [&](RegistryTree& tree) { return RegisterCategory(tree, catid, lcid, description); });
}

HRESULT UnRegisterCategories(RegistryTree& tree, std::span<const CATID> catids) {
    for (const CATID& catid : catids) {
        if (tree.KeyExists(CategoryKey(catid))) tree.DeleteTree(CategoryKey(catid));
    }
    return S_OK;
}

HRESULT UnRegisterCategories(std::span<const CATID> catids) {
    return RegTransaction([&](RegistryTree& tree) { return UnRegisterCategories(tree, catids); });
}

HRESULT RegisterClassImplCategories(RegistryTree& tree, REFCLSID clsid,
                                    std::span<const CATID> catids) {
    return MarkClass(tree, clsid, kImplemented, catids);
}

HRESULT RegisterClassImplCategories(REFCLSID clsid, std::span<const CATID> catids) {
    return RegTransaction(
        [&](RegistryTree& tree) { return MarkClass(tree, clsid, kImplemented, catids); });
}

HRESULT RegisterClassReqCategories(RegistryTree& tree, REFCLSID clsid,
                                   std::span<const CATID> catids) {
    return MarkClass(tree, clsid, kRequired, catids);
}

HRESULT RegisterClassReqCategories(REFCLSID clsid, std::span<const CATID> catids) {
    return RegTransaction(
        [&](RegistryTree& tree) { return MarkClass(tree, clsid, kRequired, catids); });
}

HRESULT UnRegisterClassImplCategories(RegistryTree& tree, REFCLSID clsid,
                                      std::span<const CATID> catids) {
    return UnmarkClass(tree, clsid, kImplemented, catids);
}

HRESULT UnRegisterClassImplCategories(REFCLSID clsid, std::span<const CATID> catids) {
    return RegTransaction(
        [&](RegistryTree& tree) { return UnmarkClass(tree, clsid, kImplemented, catids); });
}

HRESULT UnRegisterClassReqCategories(RegistryTree& tree, REFCLSID clsid,
                                     std::span<const CATID> catids) {
    return UnmarkClass(tree, clsid, kRequired, catids);
}

HRESULT UnRegisterClassReqCategories(REFCLSID clsid, std::span<const CATID> catids) {
    return RegTransaction(
        [&](RegistryTree& tree) { return UnmarkClass(tree, clsid, kRequired, catids); });
}

std::optional<std::string> CategoryDescription(REFCATID catid, LCID lcid) {
    return RegQueryValue(CategoryKey(catid), LocaleName(lcid));
}

std::vector<CLSID> ClassesImplementingCategory(REFCATID catid) {
    RegistryTree tree;
    if (FAILED(RegLoad(&tree))) return {};
    std::vector<CLSID> classes;
    const std::string mark = "\\" + std::string(kImplemented) + "\\" + FormatGuid(catid);
    for (const CLSID& clsid : GuidKeys(tree, "CLSID")) {
        if (tree.KeyExists("CLSID\\" + FormatGuid(clsid) + mark)) classes.push_back(clsid);
    }
    return classes;
}

std::vector<CATID> ImplementedCategoriesOf(REFCLSID clsid) {
    return CategoriesOf(clsid, kImplemented);
}

std::vector<CATID> RequiredCategoriesOf(REFCLSID clsid) {
    return CategoriesOf(clsid, kRequired);
}

}  // namespace bx::com
