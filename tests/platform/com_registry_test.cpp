// The class registry: the file's text form, case-blind keys, locked updates that lose nothing
// between processes and threads, the file's location, and component categories.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using bx::com::RegistryTree;

namespace {

constexpr CATID kCameras = bx::com::GuidLiteral("{7D2A4B60-1C3E-4F58-9A0B-2E4C6D8F0A01}");
constexpr CATID kGrabbers = bx::com::GuidLiteral("{7D2A4B60-1C3E-4F58-9A0B-2E4C6D8F0A02}");
constexpr CLSID kFirst = bx::com::GuidLiteral("{7D2A4B60-1C3E-4F58-9A0B-2E4C6D8F0B01}");
constexpr CLSID kSecond = bx::com::GuidLiteral("{7D2A4B60-1C3E-4F58-9A0B-2E4C6D8F0B02}");

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each test gets its own registry file in a fresh folder.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "bxreg-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ / "classes.reg";
        bx::com::SetRegistryPath(file_.string());
    }
    void TearDown() override {
        bx::com::SetRegistryPath("");
        bx::com::SetRegistryLockTimeout(std::chrono::seconds(10));
        fs::remove_all(dir_);
    }

    fs::path dir_;
    fs::path file_;
};

}  // namespace

TEST_F(Registry, ValuesSurviveTheFileWithEscapesAndNonAsciiText) {
    const std::string path = "CLSID\\{X}\\InprocServer32";
    const std::string tricky = "C:\\a dir\\\"quoted\"\nsecond line\r\xC3\xA9";
    ASSERT_EQ(bx::com::RegSetValue(path, "", "/opt/cam plug/lib.so"), S_OK);
    ASSERT_EQ(bx::com::RegSetValue(path, "Tricky \"name\"", tricky), S_OK);
    EXPECT_EQ(bx::com::RegQueryValue(path, ""), "/opt/cam plug/lib.so");
    EXPECT_EQ(bx::com::RegQueryValue(path, "Tricky \"name\""), tricky);

    std::string text = ReadAll(file_);
    EXPECT_EQ(text.rfind("BXREG 1\n", 0), 0u) << text;
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\CLSID\\{X}\\InprocServer32]\n"
                        "@=\"/opt/cam plug/lib.so\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Tricky \\\"name\\\"\"=\"C:\\\\a dir\\\\\\\"quoted\\\"\\nsecond line\\r"),
              std::string::npos)
        << text;
}

TEST_F(Registry, KeysAndNamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    ASSERT_EQ(bx::com::RegSetValue("CLSID\\{ab}", "ThreadingModel", "Both"), S_OK);
    ASSERT_EQ(bx::com::RegSetValue("clsid\\{AB}", "threadingmodel", "Apartment"), S_OK);
    EXPECT_EQ(bx::com::RegEnumKeys(""), std::vector<std::string>{"CLSID"});
    EXPECT_EQ(bx::com::RegEnumKeys("Clsid"), std::vector<std::string>{"{ab}"});
    EXPECT_EQ(bx::com::RegQueryValue("CLSID\\{ab}", "THREADINGMODEL"), "Apartment");
    EXPECT_NE(ReadAll(file_).find("\"ThreadingModel\"=\"Apartment\""), std::string::npos);
}

TEST_F(Registry, EmptyKeysPersistAndDeleteTreeTakesEverythingBelow) {
    ASSERT_EQ(bx::com::RegCreateKey("CLSID\\{c}\\Control"), S_OK);
    ASSERT_EQ(bx::com::RegSetValue("CLSID\\{c}\\Verb\\0", "", "Properties,0,2"), S_OK);
    ASSERT_EQ(bx::com::RegSetValue("CLSID\\{d}", "", "other"), S_OK);
    EXPECT_EQ(bx::com::RegEnumKeys("CLSID\\{c}"), (std::vector<std::string>{"Control", "Verb"}));

    EXPECT_EQ(bx::com::RegDeleteTree("CLSID\\{C}"), S_OK);
    EXPECT_EQ(bx::com::RegEnumKeys("CLSID"), std::vector<std::string>{"{d}"});
    EXPECT_EQ(bx::com::RegDeleteTree("CLSID\\{c}"),
              HRESULT_FROM_WIN32(bx::com::kErrorFileNotFound));
    EXPECT_EQ(bx::com::RegDeleteValue("CLSID\\{d}", ""), S_OK);
    EXPECT_EQ(bx::com::RegQueryValue("CLSID\\{d}", ""), std::nullopt);
    EXPECT_EQ(bx::com::RegDeleteValue("CLSID\\{d}", ""),
              HRESULT_FROM_WIN32(bx::com::kErrorFileNotFound));
}

TEST_F(Registry, MalformedPathsAreRefused) {
    for (const char* path : {"\\CLSID", "CLSID\\", "CLSID\\\\x", "bad\nname"}) {
        EXPECT_EQ(bx::com::RegSetValue(path, "", "v"), E_INVALIDARG) << path;
    }
    EXPECT_FALSE(fs::exists(file_)) << "a refused change writes nothing";
}

TEST(RegistryText, MalformedTextIsRefused) {
    const char* cases[] = {
        "[HKEY_CLASSES_ROOT\\a]\n",  // no header
        "BXREG 1\n@=\"value before any section\"\n",
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a\n",              // unterminated section
        "BXREG 1\n[HKEY_LOCAL_MACHINE\\a]\n",            // outside the classes root
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a\\\\b]\n",        // empty key name
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a]\n@=\"open\n",   // unterminated quote
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a]\n@=\"\\q\"\n",  // unknown escape
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a]\n@=\"x\" trailing\n",
        "BXREG 1\n[HKEY_CLASSES_ROOT\\a]\nName=\"unquoted name\"\n",
    };
    for (const char* text : cases) {
        RegistryTree tree;
        tree.SetValue("kept", "", "yes");
        EXPECT_EQ(RegistryTree::Parse(text, &tree), REGDB_E_READREGDB) << text;
        EXPECT_EQ(tree.QueryValue("kept", ""), "yes") << "a failed parse leaves the tree";
        EXPECT_FALSE(bx::com::LastRegistryError().empty());
    }
}

TEST(RegistryText, CommentsBlankLinesAndWindowsLineEndsAreRead) {
    RegistryTree tree;
    ASSERT_EQ(RegistryTree::Parse("; written by hand\r\nBXREG 1\r\n\r\n[HKEY_CLASSES_ROOT\\P]\r\n"
                                  "@=\"v\"\r\n",
                                  &tree),
              S_OK);
    EXPECT_EQ(tree.QueryValue("p", ""), "v");
}

TEST_F(Registry, AMalformedFileIsNeverOverwritten) {
    const std::string garbage = "something a person should look at\n";
    std::ofstream(file_) << garbage;
    EXPECT_EQ(bx::com::RegSetValue("CLSID\\{e}", "", "x"), REGDB_E_READREGDB);
    EXPECT_NE(bx::com::LastRegistryError().find(file_.string()), std::string::npos);
    EXPECT_EQ(ReadAll(file_), garbage);
}

TEST_F(Registry, AFailedTransactionWritesNothing) {
    ASSERT_EQ(bx::com::RegSetValue("Keep", "", "old"), S_OK);
    HRESULT hr = bx::com::RegTransaction([](RegistryTree& tree) {
        tree.SetValue("Keep", "", "new");
        tree.SetValue("Added", "", "x");
        return E_ABORT;
    });
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_EQ(bx::com::RegQueryValue("Keep", ""), "old");
    EXPECT_FALSE(bx::com::RegQueryValue("Added", ""));
}

TEST_F(Registry, ALockHeldTooLongFailsTheChangeAfterTheTimeout) {
    ASSERT_EQ(bx::com::RegSetValue("Before", "", "1"), S_OK);
    // flock locks belong to an open file description, so this one excludes the registry's own
    // even within this process.
    int fd = ::open((file_.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    bx::com::SetRegistryLockTimeout(std::chrono::milliseconds(100));
    EXPECT_EQ(bx::com::RegSetValue("Blocked", "", "1"), HRESULT_FROM_WIN32(bx::com::kErrorTimeout));
    EXPECT_EQ(bx::com::RegQueryValue("Before", ""), "1") << "reads take no lock";
    ::close(fd);
    EXPECT_EQ(bx::com::RegSetValue("Blocked", "", "1"), S_OK);
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                std::string key = "Writer" + std::to_string(c) + "\\Key" + std::to_string(i);
                if (FAILED(bx::com::RegSetValue(key, "", std::to_string(i)))) ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryTree tree;
    ASSERT_EQ(bx::com::RegLoad(&tree), S_OK);
    for (int c = 0; c < 2; ++c) {
        std::string writer = "Writer" + std::to_string(c);
        int wrong = 0;
        for (int i = 0; i < kEach; ++i) {
            if (tree.QueryValue(writer + "\\Key" + std::to_string(i), "") != std::to_string(i)) {
                ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << writer << ": keys lost or wrong";
    }
}

TEST_F(Registry, TwoThreadsWritingAtOnceLoseNothing) {
    constexpr int kEach = 100;
    auto write = [](int t) {
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(
                bx::com::RegSetValue("T" + std::to_string(t) + "\\K" + std::to_string(i), "", "v"),
                S_OK);
        }
    };
    std::thread a(write, 0), b(write, 1);
    a.join();
    b.join();
    EXPECT_EQ(bx::com::RegEnumKeys("T0").size(), size_t{kEach});
    EXPECT_EQ(bx::com::RegEnumKeys("T1").size(), size_t{kEach});
}

TEST_F(Registry, ABatchIsOneUpdate) {
    HRESULT hr = bx::com::RegTransaction([](RegistryTree& tree) {
        for (int i = 0; i < 15; ++i) {
            if (HRESULT h = tree.SetValue("CLSID\\{f}\\K" + std::to_string(i), "", "v"); FAILED(h))
                return h;
        }
        return S_OK;
    });
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(bx::com::RegEnumKeys("CLSID\\{f}").size(), 15u);
}

TEST_F(Registry, TheFileIsFoundThroughTheEnvironment) {
    struct Case {
        const char* file;
        const char* config;
        const char* home;
        std::string expected;
    };
    const std::string d = dir_.string();
    const Case cases[] = {
        {"/x/own.reg", "/cfg", "/home/u", "/x/own.reg"},
        {nullptr, "/cfg", "/home/u", "/cfg/bxplatform/classes.reg"},
        {nullptr, "", "/home/u", "/home/u/.config/bxplatform/classes.reg"},
        {nullptr, nullptr, "/home/u", "/home/u/.config/bxplatform/classes.reg"},
    };
    auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    auto set = [](const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    };
    auto file = saved("BX_REGISTRY_FILE"), config = saved("XDG_CONFIG_HOME"), home = saved("HOME");
    bx::com::SetRegistryPath("");
    for (const Case& c : cases) {
        set("BX_REGISTRY_FILE", c.file ? std::optional<std::string>(c.file) : std::nullopt);
        set("XDG_CONFIG_HOME", c.config ? std::optional<std::string>(c.config) : std::nullopt);
        set("HOME", std::string(c.home));
        EXPECT_EQ(bx::com::RegistryPath(), c.expected);
    }
    // The folder is made on the first change.
    set("BX_REGISTRY_FILE", std::nullopt);
    set("XDG_CONFIG_HOME", d + "/new config");
    EXPECT_EQ(bx::com::RegSetValue("K", "", "v"), S_OK);
    EXPECT_TRUE(fs::exists(dir_ / "new config" / "bxplatform" / "classes.reg"));
    set("BX_REGISTRY_FILE", file);
    set("XDG_CONFIG_HOME", config);
    set("HOME", home);
}

TEST_F(Registry, CategoriesAreDescribedPerLocaleAndCutTo127Characters) {
    // 130 characters, the last ones two bytes each in UTF-8, so a byte cut would split one.
    std::string long_text(125, 'x');
    for (int i = 0; i < 5; ++i) long_text += "\xC3\xA9";
    ASSERT_EQ(bx::com::RegisterCategory(kCameras, 0x409, long_text), S_OK);
    ASSERT_EQ(bx::com::RegisterCategory(kCameras, 0x407, "Kameras"), S_OK);

    std::string cat = "Component Categories\\" + bx::com::FormatGuid(kCameras);
    EXPECT_EQ(bx::com::RegQueryValue(cat, "409"), std::string(125, 'x') + "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(bx::com::CategoryDescription(kCameras, 0x407), "Kameras");
    EXPECT_EQ(bx::com::CategoryDescription(kCameras, 0x40C), std::nullopt);
}

TEST_F(Registry, HostsFindClassesByTheCategoryTheyImplement) {
    const CATID both[] = {kCameras, kGrabbers};
    const CATID cameras[] = {kCameras};
    ASSERT_EQ(bx::com::RegisterClassImplCategories(kFirst, both), S_OK);
    ASSERT_EQ(bx::com::RegisterClassImplCategories(kSecond, cameras), S_OK);
    ASSERT_EQ(bx::com::RegisterClassReqCategories(kSecond, std::span<const CATID>(both + 1, 1)),
              S_OK);
    EXPECT_TRUE(bx::com::RegQueryValue("CLSID\\" + bx::com::FormatGuid(kFirst) +
                                           "\\Implemented Categories\\" +
                                           bx::com::FormatGuid(kGrabbers),
                                       "") == std::nullopt);  // a mark is a key, not a value
    EXPECT_EQ(bx::com::ClassesImplementingCategory(kCameras),
              (std::vector<CLSID>{kFirst, kSecond}));
    EXPECT_EQ(bx::com::ClassesImplementingCategory(kGrabbers), std::vector<CLSID>{kFirst});
    EXPECT_EQ(bx::com::RequiredCategoriesOf(kSecond), std::vector<CATID>{kGrabbers});

    ASSERT_EQ(bx::com::UnRegisterClassImplCategories(kSecond, cameras), S_OK);
    EXPECT_EQ(bx::com::ClassesImplementingCategory(kCameras), std::vector<CLSID>{kFirst});
    EXPECT_EQ(bx::com::RegEnumKeys("CLSID\\" + bx::com::FormatGuid(kSecond)),
              std::vector<std::string>{"Required Categories"})
        << "the emptied Implemented Categories key goes";
    EXPECT_EQ(bx::com::UnRegisterClassImplCategories(kSecond, cameras), S_OK) << "twice is fine";
}

TEST_F(Registry, UnregisteringACategoryLeavesTheClassesMarks) {
    const CATID cameras[] = {kCameras};
    ASSERT_EQ(bx::com::RegisterCategory(kCameras, 0x409, "Cameras"), S_OK);
    ASSERT_EQ(bx::com::RegisterClassImplCategories(kFirst, cameras), S_OK);
    ASSERT_EQ(bx::com::UnRegisterCategories(cameras), S_OK);
    EXPECT_EQ(bx::com::CategoryDescription(kCameras, 0x409), std::nullopt);
    EXPECT_EQ(bx::com::ImplementedCategoriesOf(kFirst), std::vector<CATID>{kCameras});
}
