// What a save does to the output path: a failed save leaves what was there untouched, a
// successful one replaces the file a symbolic link names and keeps the link. Failures are
// real: a file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored so the write fails with EFBIG
// instead of ending the process) stops the write part-way. Permission bits would not do, as
// the tests may run as root.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "store_test_util.h"

namespace bx::mm::test {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

struct Saver {
    const char* label;
    SaveResult (*save)(MM_HANDLE, const std::string&, const SaveOptions&);
    bool direct_io;
};

void PrintTo(const Saver& saver, std::ostream* os) {
    *os << saver.label;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Names NamesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class SaveReplace : public ::testing::TestWithParam<Saver> {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::path(BX_TEST_OUTPUT_DIR) /
               ("replace_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
        fs::create_directories(dir_);
        const MM_VECTOR size = Size3(256, 256, 4);  // 512 KiB of pixels
        image_ = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
        ASSERT_TRUE(FillPattern(image_, MM_TYPE_GREY16, 256, 256, 4));
        // What a good save writes, to compare files saved another way with.
        ASSERT_TRUE(Save(dir_ / "reference.tif"));
        reference_ = ReadBytes(dir_ / "reference.tif");
        fs::remove(dir_ / "reference.tif");
    }
    void TearDown() override {
        MM_DeleteImage(image_);
        fs::remove_all(dir_);  // links are removed, never followed
    }

    SaveResult Save(const fs::path& path) {
        SaveOptions options;
        options.direct_io = GetParam().direct_io;
        return GetParam().save(image_, path.string(), options);
    }
    // A save stopped part-way by a 64 KiB file-size limit.
    SaveResult FailingSave(const fs::path& path) {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = 64 << 10;
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const SaveResult result = Save(path);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        return result;
    }

    fs::path dir_;
    MM_HANDLE image_ = 0;
    std::string reference_;
};

TEST_P(SaveReplace, FailedSaveKeepsTheOldFileByteForByte) {
    const fs::path out = dir_ / "out.tif";
    std::string old(20000, '\0');
    for (size_t i = 0; i < old.size(); ++i) old[i] = char(i * 31 + 7);
    std::ofstream(out, std::ios::binary) << old;
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(out.c_str(), &before), 0);

    const SaveResult saved = FailingSave(out);
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.error.find(out.string()), std::string::npos) << saved.error;
    EXPECT_NE(saved.error.find(std::strerror(EFBIG)), std::string::npos) << saved.error;
    EXPECT_EQ(ReadBytes(out), old);
    struct stat after {};
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);      // the very same file, not a copy
    EXPECT_EQ(NamesIn(dir_), Names{"out.tif"});  // no temporary left

    // With room again the file is replaced in full, keeping its permission bits.
    ASSERT_TRUE(Save(out));
    EXPECT_EQ(ReadBytes(out), reference_);
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(NamesIn(dir_), Names{"out.tif"});

    fs::remove(out);
    EXPECT_FALSE(FailingSave(out));
    EXPECT_TRUE(NamesIn(dir_).empty()) << "no file where there was none";
}

TEST_P(SaveReplace, SaveThroughLinksReplacesTheTargetAndKeepsTheLinks) {
    fs::create_directories(dir_ / "real");
    const fs::path target = dir_ / "real" / "target.tif";
    std::ofstream(target) << "old target";
    fs::create_symlink("real/target.tif", dir_ / "hop");  // relative to the link's folder
    fs::create_symlink(dir_ / "hop", dir_ / "out.tif");   // absolute
    fs::create_symlink("new.tif", dir_ / "dangling.tif");

    ASSERT_TRUE(Save(dir_ / "out.tif"));
    EXPECT_EQ(ReadBytes(target), reference_);
    EXPECT_EQ(fs::read_symlink(dir_ / "out.tif"), dir_ / "hop");
    EXPECT_EQ(fs::read_symlink(dir_ / "hop"), "real/target.tif");
    EXPECT_EQ(NamesIn(dir_ / "real"), Names{"target.tif"});

    // A failure through the links leaves target and links as they were.
    EXPECT_FALSE(FailingSave(dir_ / "out.tif"));
    EXPECT_EQ(ReadBytes(target), reference_);
    EXPECT_EQ(NamesIn(dir_ / "real"), Names{"target.tif"});

    // A dangling link gets the file it names.
    ASSERT_TRUE(Save(dir_ / "dangling.tif"));
    EXPECT_EQ(ReadBytes(dir_ / "new.tif"), reference_);
    EXPECT_TRUE(fs::is_symlink(dir_ / "out.tif") && fs::is_symlink(dir_ / "hop") &&
                fs::is_symlink(dir_ / "dangling.tif"));
    EXPECT_EQ(NamesIn(dir_), (Names{"dangling.tif", "hop", "new.tif", "out.tif", "real"}));
}

TEST_P(SaveReplace, PathsThatCannotBeReplacedAreRefusedUntouched) {
    fs::create_symlink("b", dir_ / "a");
    fs::create_symlink("a", dir_ / "b");
    fs::create_directories(dir_ / "folder.tif");
    const struct {
        fs::path path;
        std::string reason;
    } cases[] = {
        {dir_ / "a", std::strerror(ELOOP)},
        {dir_ / "folder.tif", "not a regular file"},
        {dir_ / "missing" / "x.tif", std::strerror(ENOENT)},
    };
    for (const auto& c : cases) {
        const SaveResult saved = Save(c.path);
        EXPECT_FALSE(saved) << c.path;
        EXPECT_NE(saved.error.find(c.reason), std::string::npos) << saved.error;
    }
    EXPECT_EQ(NamesIn(dir_), (Names{"a", "b", "folder.tif"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "folder.tif"));
}

INSTANTIATE_TEST_SUITE_P(Store, SaveReplace,
                         ::testing::Values(Saver{"OmeTiff", SaveOmeTiff, true},
                                           Saver{"OmeTiffBuffered", SaveOmeTiff, false},
                                           Saver{"Tiff", SaveTiff, true},
                                           Saver{"TiffBuffered", SaveTiff, false}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace bx::mm::test
