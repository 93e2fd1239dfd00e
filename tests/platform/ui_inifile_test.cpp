// INI-file access: round trips that keep everything else in the file.
#include <bxplatform/inifile.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace bx::ini;

namespace {

class IniFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("bx_ini_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        path = (dir / "settings.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    void WriteRaw(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string ReadRaw() {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    // Every name in a folder, so a test can tell that no temporary was left behind.
    static std::set<std::string> Names(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }
    fs::path dir;
    std::string path;
};

// Runs `body` in a forked child and gives its exit code (-1 when it did not exit), so limits
// and identities set for a test do not leak into the test process.
int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ManyKeys(int count) {
    std::string text = "; camera settings\r\n[Host]\r\nWindow=3\r\n\r\n[Camera]\r\n";
    for (int i = 0; i < count; ++i)
        text += "Key" + std::to_string(i) + "=value " + std::to_string(i * 7919) + " units\r\n";
    return text + "\r\n[Tail]\r\nx=1\r\n";
}

}  // namespace

TEST_F(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(GetPrivateProfileString("KorvaneFW Camera", "Range", "High", path), "High");
    EXPECT_EQ(GetPrivateProfileInt("KorvaneFW Camera", "Brightness", 5, path), 5);
    TIniFile ini(path);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "AE Max Time", 0.5), 0.5);
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_FALSE(fs::exists(path)) << "reading never creates the file";
}

TEST_F(IniFile, WritingKeepsOtherSectionsKeysAndComments) {
    WriteRaw(
        "; host settings\r\n[Host]\r\nWindow=3\r\n\r\n[KorvaneFW Camera]\r\nRange=High\r\n"
        "Brightness=255\r\n\r\n[Tail]\r\nx=1\r\n");
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteInteger("korvanefw camera", "BRIGHTNESS", 300));  // any case
    ASSERT_TRUE(ini.WriteString("KorvaneFW Camera", "CCD Mode", "1280 x 1024"));
    ASSERT_TRUE(ini.WriteBool("New", "Color mode", true));
    EXPECT_EQ(ReadRaw(),
              "; host settings\r\n[Host]\r\nWindow=3\r\n\r\n[KorvaneFW Camera]\r\nRange=High\r\n"
              "BRIGHTNESS=300\r\nCCD Mode=1280 x 1024\r\n\r\n[Tail]\r\nx=1\r\n\r\n[New]\r\n"
              "Color mode=1\r\n");
    EXPECT_EQ(ini.ReadInteger("KorvaneFW Camera", "brightness", 0), 300);
    EXPECT_EQ(ini.ReadString("host", "window", ""), "3");
    EXPECT_TRUE(ini.ReadBool("NEW", "color MODE", false));
}

TEST_F(IniFile, TypedRoundTripAndClassicParsing) {
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteFloat("S", "AE Max Time", 0.015));
    ASSERT_TRUE(ini.WriteInteger("S", "Negative", -42));
    ASSERT_TRUE(ini.WriteBool("S", "Off", false));
    ASSERT_TRUE(ini.WriteString("S", "Text", "  padded  "));
    ASSERT_TRUE(ini.WriteString("S", "Junk", "12abc"));
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "AE Max Time", 0), 0.015);
    EXPECT_EQ(ini.ReadInteger("S", "Negative", 0), -42);
    EXPECT_FALSE(ini.ReadBool("S", "Off", true));
    EXPECT_EQ(ini.ReadString("S", "Text", ""), "padded") << "values are trimmed";
    EXPECT_EQ(ini.ReadInteger("S", "Junk", 9), 9) << "not an integer: the default";
    EXPECT_EQ(GetPrivateProfileInt("S", "Junk", 9, path), 12) << "leading number";
    EXPECT_EQ(GetPrivateProfileInt("S", "Text", 9, path), 0);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "Junk", 2.5), 2.5);
    EXPECT_TRUE(ini.ValueExists("S", "Off"));

    WriteRaw("[Q]\nquoted = \"a b\" \nnoequals\nk=v=w\n");
    EXPECT_EQ(ini.ReadString("Q", "quoted", ""), "a b");
    EXPECT_EQ(ini.ReadString("Q", "k", ""), "v=w");
    ASSERT_TRUE(ini.WriteString("Q", "k", "z"));
    EXPECT_EQ(ReadRaw(), "[Q]\nquoted = \"a b\" \nnoequals\nk=z\n") << "line ending kept";
}

TEST_F(IniFile, StructureBreakingNamesAndValuesAreRefused) {
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteString("S", "a", "1"));
    const std::string before = ReadRaw();
    EXPECT_FALSE(ini.WriteString("S", "b", "1\r\n[Evil]\r\nx=2"));
    EXPECT_FALSE(ini.WriteString("S", "b=c", "1"));
    EXPECT_FALSE(ini.WriteString("S", "[b", "1"));
    EXPECT_FALSE(ini.WriteString("S]x", "b", "1"));
    EXPECT_FALSE(ini.WriteString("S", "", "1"));
    EXPECT_EQ(ReadRaw(), before);
    EXPECT_FALSE(ini.SectionExists("Evil"));
}

// A key line starting with '#' reads as a comment, so such a key could be written but never
// read back.
TEST_F(IniFile, AKeyThatWouldReadAsACommentIsRefused) {
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteString("S", "a#b", "1")) << "'#' inside a key is fine";
    EXPECT_EQ(ini.ReadString("S", "a#b", ""), "1");
    const std::string before = ReadRaw();
    EXPECT_FALSE(ini.WriteString("S", "#b", "1"));
    EXPECT_FALSE(ini.WriteString("S", std::string(" #k\\\0y", 6), "1"));
    EXPECT_EQ(ReadRaw(), before);
}

TEST_F(IniFile, DeleteKeysAndSections) {
    TIniFile ini(path);
    ini.WriteString("A", "x", "1");
    ini.WriteString("A", "y", "2");
    ini.WriteString("B", "z", "3");
    EXPECT_TRUE(ini.DeleteKey("A", "X"));
    EXPECT_FALSE(ini.DeleteKey("A", "x"));
    EXPECT_TRUE(ini.EraseSection("b"));
    EXPECT_FALSE(ini.SectionExists("B"));
    EXPECT_EQ(ini.ReadString("A", "y", ""), "2");
}

TEST_F(IniFile, UnwritablePathReportsFailure) {
    TIniFile ini((dir / "missing-dir" / "x.ini").string());
    EXPECT_FALSE(ini.WriteString("S", "k", "v"));
}

TEST_F(IniFile, AWriteThatRunsOutOfSpaceLeavesTheFileByteForByte) {
    const std::string before = ManyKeys(300);
    WriteRaw(before);
    // A file-size limit below the file's size fails the write part-way, as a full disk does.
    const int code = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlim_t half = before.size() / 2;
        const rlimit limit{half, half};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        return TIniFile(path).WriteString("Camera", "Key150", "changed") ? 1 : 0;
    });
    ASSERT_EQ(code, 0) << "the failed write must report failure";
    EXPECT_EQ(ReadRaw(), before);
    EXPECT_EQ(Names(dir), std::set<std::string>{"settings.ini"}) << "temporary removed";

    EXPECT_TRUE(TIniFile(path).WriteString("Camera", "Key150", "changed")) << "without the limit";
}

TEST_F(IniFile, SymbolicLinksAreFollowedAndKept) {
    fs::create_directories(dir / "real");
    std::ofstream(dir / "real" / "settings.ini", std::ios::binary) << "[S]\nk=old\nother=1\n";
    fs::create_symlink("real/settings.ini", dir / "hop.ini");  // relative to its folder
    fs::create_symlink(dir / "hop.ini", dir / "link.ini");
    ASSERT_TRUE(TIniFile((dir / "link.ini").string()).WriteString("S", "k", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini") && fs::is_symlink(dir / "hop.ini"));
    std::stringstream target;
    target << std::ifstream(dir / "real" / "settings.ini", std::ios::binary).rdbuf();
    EXPECT_EQ(target.str(), "[S]\nk=new\nother=1\n");
    EXPECT_EQ(Names(dir / "real"), std::set<std::string>{"settings.ini"});

    fs::create_symlink("b.ini", dir / "a.ini");  // a loop is refused and stays as it was
    fs::create_symlink("a.ini", dir / "b.ini");
    EXPECT_FALSE(TIniFile((dir / "a.ini").string()).WriteString("S", "k", "v"));
    EXPECT_TRUE(fs::is_symlink(dir / "a.ini") && fs::is_symlink(dir / "b.ini"));
}

TEST_F(IniFile, ByteOrderMarkAndPermissionsAreKept) {
    WriteRaw("\xEF\xBB\xBF[Camera]\r\nRange=High\r\n");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path, mode);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Camera", "Range", ""), "High") << "the first section is found";
    ASSERT_TRUE(ini.WriteString("camera", "Range", "Low"));
    EXPECT_EQ(ReadRaw(), "\xEF\xBB\xBF[Camera]\r\nRange=Low\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, mode);
}

TEST_F(IniFile, AFileThatCannotBeReadIsNotWrittenOver) {
    const std::string before = ManyKeys(20);
    WriteRaw(before);
    fs::permissions(path, fs::perms::owner_write);
    fs::permissions(dir, fs::perms::all);  // so another user may rename in the folder
    const bool root = ::geteuid() == 0;
    const int code = InChild([&] {
        // Permission bits do not stop root, so the child becomes an ordinary user first.
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
        if (::access(dir.c_str(), W_OK | X_OK) != 0) return 3;
        return TIniFile(path).WriteString("Camera", "Key1", "changed") ? 1 : 0;
    });
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    if (code == 3) GTEST_SKIP() << "the test folder is not reachable for an ordinary user";
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ReadRaw(), before);
    EXPECT_EQ(Names(dir), std::set<std::string>{"settings.ini"});
}

TEST_F(IniFile, AFifoAtThePathIsNeitherWaitedOnNorReplaced) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("S", "k", "fallback"), "fallback");
    EXPECT_FALSE(ini.WriteString("S", "k", "v"));
    EXPECT_EQ(fs::symlink_status(path).type(), fs::file_type::fifo);
    EXPECT_EQ(Names(dir), std::set<std::string>{"settings.ini"});
}
