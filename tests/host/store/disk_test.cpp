// The disk device: frame block layout, asynchronous writes and their failures, read-back
// through leaves and the host calls, and refusal of bad requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "store_test_util.h"

namespace bx::mm::test {
namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

Buffer AlignedCopy(const std::vector<uint8_t>& data, size_t capacity) {
    Buffer buffer(static_cast<uint8_t*>(std::aligned_alloc(4096, (capacity + 4095) / 4096 * 4096)));
    std::memcpy(buffer.get(), data.data(), data.size());
    return buffer;
}

class Disk : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        path_ = std::string(BX_TEST_OUTPUT_DIR) + "/disk_" + std::to_string(getpid()) + ".img";
        ASSERT_TRUE(ConfigureDisk(path_, GetParam(), 64 << 20));
    }
    void TearDown() override {
        FailNextDiskWrites(0);
        CloseDisk();
        std::remove(path_.c_str());
    }
    std::string path_;
};

TEST_P(Disk, ImagesTakeConsecutiveSectorAlignedFrameBlocks) {
    const int32_t sector = GetParam();
    EXPECT_TRUE(MM_IsSCSIInitialised());
    EXPECT_EQ(MM_GetDiskSectorSize(), sector);

    const MM_VECTOR size = Size3(100, 50, 4);  // 10000 bytes per frame
    const MM_HANDLE a = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    const MM_HANDLE b = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    const int64_t block_bytes = MM_GetLeafSize(a);
    EXPECT_EQ(block_bytes, (10000 + sector - 1) / sector * sector);
    EXPECT_EQ(MM_GetFrameBytes(a), 10000);  // the frame, not its block
    const int64_t sectors_per_frame = block_bytes / sector;
    EXPECT_NE(MM_GetHandleSCSI_ID(a), 0);
    for (int32_t f = 0; f < 4; ++f) {
        EXPECT_EQ(MM_GetLeafOffset(a, f), MM_GetLeafOffset(a, 0) + f * sectors_per_frame);
    }
    EXPECT_EQ(MM_GetLeafOffset(a, 4), -1);
    EXPECT_EQ(MM_GetLeafOffset(a, -1), -1);
    // The two images do not overlap.
    const int64_t a_end = MM_GetLeafOffset(a, 0) + 4 * sectors_per_frame;
    const int64_t b_end = MM_GetLeafOffset(b, 0) + 4 * sectors_per_frame;
    EXPECT_TRUE(MM_GetLeafOffset(b, 0) >= a_end || MM_GetLeafOffset(a, 0) >= b_end);

    // Freed space is handed out again and reads as zeros, not as the old frames.
    ASSERT_TRUE(FillPattern(a, MM_TYPE_GREY16, 100, 50, 4));
    const int64_t a_first = MM_GetLeafOffset(a, 0);
    MM_DeleteImage(a);
    const MM_HANDLE c = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    EXPECT_EQ(MM_GetLeafOffset(c, 0), a_first);
    EXPECT_EQ(ReadFrame(c, 2), std::vector<uint8_t>(10000, 0));
    MM_DeleteImage(b);
    MM_DeleteImage(c);
}

TEST_P(Disk, BlockWritesReadBackThroughLeavesAndHostCalls) {
    const int32_t w = 173, h = 61, frames = 3;  // frame not a whole number of sectors
    const MM_VECTOR size = Size3(w, h, frames);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_BGR24, 256);
    ASSERT_NE(image, 0u);
    const int32_t id = MM_GetHandleSCSI_ID(image);
    const int64_t first = MM_GetLeafOffset(image, 0);
    const int64_t block_bytes = MM_GetLeafSize(image);
    const int64_t sectors = block_bytes / MM_GetDiskSectorSize();

    // Frame 0 from an aligned buffer, frame 1 from an unaligned one, frame 2 with the whole
    // block size like the control's streaming writes.
    std::vector<Buffer> keep;
    for (int32_t f = 0; f < frames; ++f) {
        const auto pattern = PatternFrame(MM_TYPE_BGR24, w, h, f);
        keep.push_back(AlignedCopy(pattern, size_t(block_bytes) + 1));
        const uint8_t* src = keep.back().get();
        if (f == 1) {
            std::memmove(keep.back().get() + 1, src, pattern.size());
            src = keep.back().get() + 1;
        }
        const int64_t bytes = f == 2 ? block_bytes : int64_t(pattern.size());
        ASSERT_TRUE(MM_WriteBufferToBlockWithID(id, first + f * sectors, src, bytes));
    }
    ASSERT_TRUE(MM_WaitForTransfer());
    for (int32_t f = 0; f < frames; ++f) {
        const auto expected = PatternFrame(MM_TYPE_BGR24, w, h, f);
        EXPECT_EQ(ReadFrame(image, f), expected) << f;
        const MM_LEAF leaf = MM_GetData(image, FrameIndex(f));
        const void* pixels = MM_Lock(leaf, 0);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(std::memcmp(pixels, expected.data(), expected.size()), 0) << f;
        MM_Unlock(leaf, 0);
    }
    MM_DeleteImage(image);
}

TEST_P(Disk, LockedFramesAreWrittenBackOnlyWhenModified) {
    const MM_HANDLE image = MM_CreateImage(64, 64, MM_TYPE_GREY8, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    auto* pixels = static_cast<uint8_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    pixels[100] = 42;
    EXPECT_EQ(ReadFrame(image, 0)[100], 42);  // a locked frame reads from its working copy
    ASSERT_TRUE(MM_Unlock(leaf, 1));
    EXPECT_EQ(ReadFrame(image, 0)[100], 42);

    pixels = static_cast<uint8_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[100], 42);
    pixels[100] = 7;
    ASSERT_TRUE(MM_Unlock(leaf, 0));  // not modified: the change is dropped
    EXPECT_EQ(ReadFrame(image, 0)[100], 42);

    // A write-back that fails is reported by the unlock.
    pixels = static_cast<uint8_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    pixels[100] = 9;
    FailNextDiskWrites(1);
    EXPECT_FALSE(MM_Unlock(leaf, 1));
    EXPECT_EQ(ReadFrame(image, 0)[100], 42);
    MM_DeleteImage(image);
}

TEST_P(Disk, FailedWritesAreReportedByTheWaitAndLeaveTheBlockAlone) {
    const MM_HANDLE image = MM_CreateImage(128, 32, MM_TYPE_GREY8, 256);
    const int32_t id = MM_GetHandleSCSI_ID(image);
    const int64_t block = MM_GetLeafOffset(image, 0);
    std::vector<uint8_t> ones(128 * 32, 1), twos(128 * 32, 2);

    ASSERT_TRUE(MM_WriteBufferToBlockWithID(id, block, ones.data(), int64_t(ones.size())));
    ASSERT_TRUE(MM_WaitForTransfer());

    FailNextDiskWrites(1);
    ASSERT_TRUE(MM_WriteBufferToBlockWithID(id, block, twos.data(), int64_t(twos.size())));
    EXPECT_FALSE(MM_WaitForTransfer());
    EXPECT_EQ(ReadFrame(image, 0), ones);

    // The failure is reported once; the retry succeeds.
    ASSERT_TRUE(MM_WriteBufferToBlockWithID(id, block, twos.data(), int64_t(twos.size())));
    EXPECT_TRUE(MM_WaitForTransfer());
    EXPECT_EQ(ReadFrame(image, 0), twos);

    // A failure among several queued writes is not hidden by later successes.
    FailNextDiskWrites(1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(MM_WriteBufferToBlockWithID(id, block, ones.data(), int64_t(ones.size())));
    }
    EXPECT_FALSE(MM_WaitForTransfer());
    EXPECT_TRUE(MM_WaitForTransfer());  // nothing pending, nothing failed since
    MM_DeleteImage(image);
}

TEST_P(Disk, BadRequestsAreRefused) {
    const MM_HANDLE image = MM_CreateImage(16, 16, MM_TYPE_GREY8, 256);
    const int32_t id = MM_GetHandleSCSI_ID(image);
    std::vector<uint8_t> data(256, 9);
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(0, 0, data.data(), 256));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id + 1000, 0, data.data(), 256));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, 0, nullptr, 256));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, 0, data.data(), 0));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, 0, data.data(), -5));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, -1, data.data(), 256));
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, INT64_MAX, data.data(), 256));
    const int64_t capacity_sectors = (64 << 20) / MM_GetDiskSectorSize();
    EXPECT_FALSE(MM_WriteBufferToBlockWithID(id, capacity_sectors, data.data(), 256));
    EXPECT_TRUE(MM_WaitForTransfer());

    // The device is full: creation fails cleanly.
    const MM_VECTOR too_big = Size3(4096, 4096, 8);  // 128 MiB on a 64 MiB device
    EXPECT_EQ(MM_CreateNDIM_ptr(&too_big, MM_TYPE_GREY8, 256), 0u);
    MM_DeleteImage(image);
}

TEST_P(Disk, ResizeDropsTrailingFramesOnly) {
    const MM_VECTOR size = Size3(40, 40, 5);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    ASSERT_TRUE(FillPattern(image, MM_TYPE_GREY8, 40, 40, 5));
    EXPECT_FALSE(MM_ResizeImage(image, MM_VECTOR{}, Size3(40, 40, 6)));
    EXPECT_FALSE(MM_ResizeImage(image, MM_VECTOR{}, Size3(20, 40, 5)));
    ASSERT_TRUE(MM_ResizeImage(image, MM_VECTOR{}, Size3(40, 40, 2)));
    EXPECT_EQ(Describe(image)->frames, 2);
    EXPECT_EQ(ReadFrame(image, 1), PatternFrame(MM_TYPE_GREY8, 40, 40, 1));
    EXPECT_EQ(MM_GetLeafOffset(image, 2), -1);
    MM_DeleteImage(image);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, Disk, ::testing::Values(512, 4096));

TEST(DiskSetup, WithoutDeviceImagesStayInMemory) {
    CloseDisk();
    EXPECT_FALSE(MM_IsSCSIInitialised());
    EXPECT_EQ(MM_GetDiskSectorSize(), 0);
    EXPECT_TRUE(MM_WaitForTransfer());  // nothing to wait for
    const MM_HANDLE image = MM_CreateImage(8, 8, MM_TYPE_GREY8, 256);
    EXPECT_EQ(MM_GetHandleSCSI_ID(image), 0);
    EXPECT_EQ(MM_GetLeafSize(image), 0);
    EXPECT_EQ(MM_GetLeafOffset(image, 0), -1);
    MM_DeleteImage(image);
}

TEST(DiskSetup, BadConfigurationsAreRefused) {
    const std::string path =
        std::string(BX_TEST_OUTPUT_DIR) + "/bad_" + std::to_string(getpid()) + ".img";
    EXPECT_FALSE(ConfigureDisk(path, 1000));  // not a power of two
    EXPECT_FALSE(ConfigureDisk(path, 256));
    EXPECT_FALSE(ConfigureDisk(std::string(BX_TEST_OUTPUT_DIR) + "/no/such/dir/x.img", 512));
    EXPECT_FALSE(ConfigureDisk(BX_TEST_OUTPUT_DIR, 512));  // a directory
    EXPECT_FALSE(MM_IsSCSIInitialised());
}

}  // namespace
}  // namespace bx::mm::test
