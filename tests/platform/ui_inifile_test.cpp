// INI-file access: round trips that keep everything else in the file.
#include <bxplatform/inifile.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    fs::path dir;
    std::string path;
};

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
