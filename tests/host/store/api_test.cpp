// The MM_ interface as the control uses it: create, lock, write, read back, record, stamps,
// resize, delete, index vectors, and refusal of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "store_test_util.h"

namespace bx::mm::test {
namespace {

constexpr int32_t kTypes[] = {MM_TYPE_GREY8, MM_TYPE_GREY12, MM_TYPE_GREY16, MM_TYPE_BGR24,
                              MM_TYPE_GREY32};

class EveryType : public ::testing::TestWithParam<int32_t> {};

TEST_P(EveryType, FramesWrittenThroughLocksReadBackUnchanged) {
    const int32_t type = GetParam();
    const int32_t width = 301, height = 247, frames = 3;  // odd sizes, leaves above 64 KiB
    const MM_VECTOR size = Size3(width, height, frames);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, type, 256);
    ASSERT_NE(image, 0u);
    ASSERT_TRUE(MM_IsValidHandle(image));
    ASSERT_TRUE(MM_IsValidImageHandle(image));

    const auto info = Describe(image);
    ASSERT_TRUE(info);
    const int expected_bpp = type == MM_TYPE_GREY8    ? 1
                             : type == MM_TYPE_BGR24  ? 3
                             : type == MM_TYPE_GREY32 ? 4
                                                      : 2;
    EXPECT_EQ(info->bytes_per_pixel, expected_bpp);
    EXPECT_EQ(info->frames, frames);
    EXPECT_EQ(info->frame_bytes, size_t(width) * height * expected_bpp);
    // What the control sizes its frame copies by.
    EXPECT_EQ(MM_GetDataType(image), type);
    EXPECT_EQ(MM_GetFrameBytes(image), int64_t(width) * height * expected_bpp);

    // New pixels start at zero.
    const auto fresh = ReadFrame(image, 1);
    ASSERT_EQ(fresh.size(), info->frame_bytes);
    EXPECT_TRUE(std::all_of(fresh.begin(), fresh.end(), [](uint8_t b) { return b == 0; }));

    ASSERT_TRUE(FillPattern(image, type, width, height, frames));
    for (int32_t f = 0; f < frames; ++f) {
        const auto expected = PatternFrame(type, width, height, f);
        EXPECT_EQ(ReadFrame(image, f), expected) << "frame " << f;
        // And through a second lock of the same leaf.
        const MM_LEAF leaf = MM_GetData(image, FrameIndex(f));
        const auto* pixels = static_cast<const uint8_t*>(MM_Lock(leaf, 0));
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(std::memcmp(pixels, expected.data(), expected.size()), 0);
        EXPECT_TRUE(MM_Unlock(leaf, 0));
    }
    EXPECT_TRUE(MM_DeleteImage(image));
}

INSTANTIATE_TEST_SUITE_P(Store, EveryType, ::testing::ValuesIn(kTypes));

TEST(Create, PlainImageHasOneLeafAndDistinctLeavesPerFrame) {
    const MM_HANDLE image = MM_CreateImage(64, 48, MM_TYPE_GREY16, 256);
    ASSERT_NE(image, 0u);
    EXPECT_NE(MM_GetData(image, FrameIndex(0)), 0u);
    EXPECT_EQ(MM_GetData(image, FrameIndex(1)), 0u);

    const MM_VECTOR size = Size3(8, 8, 4);
    const MM_HANDLE seq = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    std::vector<void*> pointers;
    for (int f = 0; f < 4; ++f) {
        const MM_LEAF leaf = MM_GetData(seq, FrameIndex(f));
        pointers.push_back(MM_Lock(leaf, 0));
        ASSERT_NE(pointers.back(), nullptr);
    }
    std::sort(pointers.begin(), pointers.end());
    EXPECT_EQ(std::unique(pointers.begin(), pointers.end()), pointers.end());
    for (int f = 0; f < 4; ++f) EXPECT_TRUE(MM_Unlock(MM_GetData(seq, FrameIndex(f)), 0));
    MM_DeleteImage(image);
    MM_DeleteImage(seq);
}

TEST(Create, RefusesBadShapesAndTypes) {
    for (int32_t type : {0, 1, 2, 6, 7, 10, -3}) {
        EXPECT_EQ(MM_CreateImage(10, 10, type, 256), 0u) << type;
    }
    EXPECT_EQ(MM_CreateImage(0, 10, MM_TYPE_GREY8, 256), 0u);
    EXPECT_EQ(MM_CreateImage(10, -1, MM_TYPE_GREY8, 256), 0u);
    EXPECT_EQ(MM_CreateNDIM_ptr(nullptr, MM_TYPE_GREY8, 256), 0u);
    MM_VECTOR size = Size3(4, 4, 2);
    size.d[5] = 0;
    EXPECT_EQ(MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256), 0u);
    // Frame count or frame size beyond what the store accepts, without overflowing.
    size = Size3(4, 4, std::numeric_limits<int32_t>::max());
    size.d[3] = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256), 0u);
    EXPECT_EQ(MM_CreateImage(std::numeric_limits<int32_t>::max(),
                             std::numeric_limits<int32_t>::max(), MM_TYPE_GREY32, 256),
              0u);
}

TEST(Handles, DeletedHandlesStayInvalidAndNumbersAreNeverReused) {
    const MM_VECTOR size = Size3(16, 16, 2);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(1));
    ASSERT_NE(leaf, 0u);
    EXPECT_TRUE(MM_IsValidHandle(leaf));
    EXPECT_FALSE(MM_IsValidImageHandle(leaf));  // a leaf is not an image
    EXPECT_NE(leaf, image);

    EXPECT_TRUE(MM_DeleteImage(image));
    EXPECT_FALSE(MM_IsValidHandle(image));
    EXPECT_FALSE(MM_IsValidImageHandle(image));
    EXPECT_FALSE(MM_IsValidHandle(leaf));
    EXPECT_EQ(MM_Lock(leaf, 0), nullptr);
    EXPECT_FALSE(MM_DeleteImage(image));
    EXPECT_FALSE(MM_SetName(image, "gone"));

    for (int i = 0; i < 5; ++i) {
        const MM_HANDLE next = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
        EXPECT_GT(next, leaf);
        EXPECT_FALSE(MM_IsValidHandle(image));
        MM_DeleteImage(next);
    }
    const auto listed = ListImages();
    EXPECT_EQ(std::find(listed.begin(), listed.end(), image), listed.end());
}

TEST(Handles, LockedLeafOutlivesDeleteUntilUnlocked) {
    const MM_VECTOR size = Size3(256, 256, 2);  // mmap-backed leaves: use after free would fault
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(1));
    auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    ASSERT_TRUE(MM_DeleteImage(image));

    pixels[0] = 1234;  // still ours until unlocked
    pixels[256 * 256 - 1] = 4321;
    EXPECT_EQ(MM_Lock(leaf, 0), nullptr);  // detached: no new locks
    EXPECT_TRUE(MM_Unlock(leaf, 1));
    EXPECT_FALSE(MM_Unlock(leaf, 1));
    EXPECT_FALSE(MM_IsValidHandle(leaf));
}

TEST(Handles, LocksNestAndUnlockWithoutLockFails) {
    const MM_HANDLE image = MM_CreateImage(10, 10, MM_TYPE_GREY8, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    EXPECT_FALSE(MM_Unlock(leaf, 0));
    void* a = MM_Lock(leaf, 0);
    void* b = MM_Lock(leaf, 0);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(MM_Unlock(leaf, 1));
    EXPECT_TRUE(MM_Unlock(leaf, 0));
    EXPECT_FALSE(MM_Unlock(leaf, 0));
    MM_DeleteImage(image);
}

TEST(BadInput, UnknownHandlesAndNullPointersAreRefused) {
    const MM_HANDLE image = MM_CreateImage(10, 10, MM_TYPE_GREY8, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    for (uint32_t bad : {0u, 0xFFFFFFFFu, leaf}) {
        EXPECT_FALSE(MM_IsValidImageHandle(bad));
        EXPECT_FALSE(MM_CopyDefHeader(bad));
        EXPECT_FALSE(MM_SetMapMin(bad, 1.0));
        EXPECT_FALSE(MM_SetName(bad, "x"));
        EXPECT_FALSE(MM_WriteComment(bad, "x", 2));
        EXPECT_EQ(MM_GetData(bad, FrameIndex(0)), 0u);
        MM_STAMP stamp{};
        EXPECT_FALSE(MM_GetStamp(bad, &stamp, 0));
        EXPECT_FALSE(MM_SetStamp(bad, &stamp, 0));
        EXPECT_FALSE(MM_ResizeImage(bad, MM_VECTOR{}, Size3(1, 1, 1)));
        EXPECT_FALSE(MM_SetSize(bad, 2, 1));
        MM_VECTOR bounds{};
        EXPECT_FALSE(MM_InitBoundaries(bad, &bounds, 0));
        EXPECT_EQ(MM_GetHandleSCSI_ID(bad), 0);
        EXPECT_EQ(MM_GetLeafOffset(bad, 0), -1);
        EXPECT_EQ(MM_GetDataType(bad), 0);
        EXPECT_EQ(MM_GetFrameBytes(bad), 0);
        EXPECT_FALSE(Describe(bad));
    }
    EXPECT_EQ(MM_Lock(0, 0), nullptr);
    EXPECT_EQ(MM_Lock(image, 0), nullptr);  // an image is not a leaf
    EXPECT_FALSE(MM_Unlock(image, 0));

    MM_InitVector(nullptr, 0);
    EXPECT_FALSE(MM_SetLUT(image, nullptr));
    EXPECT_FALSE(MM_SetName(image, nullptr));
    EXPECT_FALSE(MM_SetDimName(image, 2, nullptr));
    EXPECT_FALSE(MM_SetUnits(image, 2, nullptr));
    EXPECT_FALSE(MM_WriteComment(image, nullptr, 4));
    EXPECT_FALSE(MM_GetStamp(image, nullptr, 0));
    EXPECT_FALSE(MM_SetStamp(image, nullptr, 0));
    EXPECT_FALSE(MM_SetStampPosition(nullptr, 2, 1.0));
    EXPECT_FALSE(MM_InitBoundaries(image, nullptr, 0));
    EXPECT_FALSE(MM_CalculateIndexVector(0, nullptr, nullptr));
    EXPECT_FALSE(ReadFrame(image, 0, nullptr, 100));
    MM_DeleteImage(image);
}

TEST(BadInput, OutOfRangeValuesAreRefused) {
    const MM_VECTOR size = Size3(10, 8, 3);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    for (int16_t dim : {int16_t(-1), int16_t(10), int16_t(300)}) {
        EXPECT_FALSE(MM_SetDimName(image, dim, "n"));
        EXPECT_FALSE(MM_SetUnits(image, dim, "u"));
        EXPECT_FALSE(MM_SetResolution(image, dim, 1.0));
        EXPECT_FALSE(MM_SetOrigin(image, dim, 0.0));
        EXPECT_FALSE(MM_SetSize(image, dim, 1));
        MM_STAMP stamp{};
        EXPECT_FALSE(MM_SetStampPosition(&stamp, dim, 1.0));
    }
    EXPECT_FALSE(MM_SetMapMax(image, std::nan("")));
    EXPECT_FALSE(MM_SetResolution(image, 2, std::numeric_limits<double>::infinity()));

    MM_VECTOR index = FrameIndex(3);  // one past the last frame
    EXPECT_EQ(MM_GetData(image, index), 0u);
    index = FrameIndex(-1);
    EXPECT_EQ(MM_GetData(image, index), 0u);
    index = FrameIndex(0);
    index.d[0] = 10;  // x outside the frame
    EXPECT_EQ(MM_GetData(image, index), 0u);
    index = FrameIndex(0);
    index.d[4] = 1;  // a dimension of size 1
    EXPECT_EQ(MM_GetData(image, index), 0u);

    MM_STAMP stamp{};
    EXPECT_FALSE(MM_GetStamp(image, &stamp, 3));
    EXPECT_FALSE(MM_GetStamp(image, &stamp, -1));
    EXPECT_FALSE(MM_WriteComment(image, "abc", 0));
    EXPECT_FALSE(MM_WriteComment(image, "abc", -4));
    EXPECT_FALSE(MM_ResizeImage(image, MM_VECTOR{}, Size3(10, 0, 1)));
    MM_VECTOR origin{};
    origin.d[2] = -1;
    EXPECT_FALSE(MM_ResizeImage(image, origin, Size3(10, 8, 1)));
    EXPECT_EQ(Describe(image)->frames, 3);  // refused calls change nothing
    MM_DeleteImage(image);
}

TEST(Record, HeaderFieldsAreStoredAndDefaultHeaderRestoresThem) {
    const MM_HANDLE image = MM_CreateImage(4, 4, MM_TYPE_GREY12, 256);
    ASSERT_TRUE(MM_CopyDefHeader(image));
    auto info = Describe(image);
    EXPECT_EQ(info->map_min, 0.0);
    EXPECT_EQ(info->map_max, 4095.0);
    EXPECT_EQ(info->lut[200], 200 | 200 << 8 | 200 << 16);

    EXPECT_TRUE(MM_SetMapMin(image, 12.5));
    EXPECT_TRUE(MM_SetMapMax(image, 3000.0));
    EXPECT_TRUE(MM_SetName(image, "Grabbed"));
    EXPECT_TRUE(MM_SetDimName(image, 2, "Time"));
    EXPECT_TRUE(MM_SetUnits(image, 2, "ms"));
    EXPECT_TRUE(MM_SetResolution(image, 2, 0.25));
    EXPECT_TRUE(MM_SetOrigin(image, 3, -7.0));

    // The LUT is copied: the caller frees its block right after the call.
    auto table = std::make_unique<int32_t[]>(256);
    for (int i = 0; i < 256; ++i) table[i] = (255 - i) << 16;
    EXPECT_TRUE(MM_SetLUT(image, table.get()));
    table[0] = 0x123456;
    table.reset();

    info = Describe(image);
    EXPECT_EQ(info->map_min, 12.5);
    EXPECT_EQ(info->map_max, 3000.0);
    EXPECT_EQ(info->name, "Grabbed");
    EXPECT_EQ(info->dims[2].name, "Time");
    EXPECT_EQ(info->dims[2].units, "ms");
    EXPECT_EQ(info->dims[2].resolution, 0.25);
    EXPECT_EQ(info->dims[3].origin, -7.0);
    EXPECT_EQ(info->lut[0], 255 << 16);
    EXPECT_EQ(info->lut[255], 0);

    ASSERT_TRUE(MM_WriteComment(image, "kept", 5));
    ASSERT_TRUE(MM_CopyDefHeader(image));
    info = Describe(image);
    EXPECT_EQ(info->name, "");
    EXPECT_EQ(info->map_max, 4095.0);
    EXPECT_EQ(info->dims[2].units, "");
    EXPECT_EQ(info->lut[0], 0);
    EXPECT_EQ(Comment(image), "kept");  // the description is not part of the header
    MM_DeleteImage(image);
}

TEST(Record, CommentLengthCountsTheTerminatingZero) {
    const MM_HANDLE image = MM_CreateImage(4, 4, MM_TYPE_GREY8, 256);
    EXPECT_EQ(CommentLength(image), 0);
    const std::string text = "[Created]\r\nDate=08/12/2026\r\n[Grab Parameters]\r\nExposure=-5\r\n";
    ASSERT_TRUE(MM_WriteComment(image, text.c_str(), int32_t(text.size() + 1)));
    EXPECT_EQ(Comment(image), text);
    EXPECT_EQ(CommentLength(image), int32_t(text.size() + 1));

    // A length that stops short keeps that many bytes, still terminated.
    ASSERT_TRUE(MM_WriteComment(image, "abcdef", 4));
    EXPECT_EQ(Comment(image), "abcd");
    EXPECT_EQ(CommentLength(image), 5);

    // An unterminated buffer is never read past `length` (the sanitizer build checks).
    auto raw = std::make_unique<char[]>(3);
    std::memcpy(raw.get(), "xyz", 3);
    ASSERT_TRUE(MM_WriteComment(image, raw.get(), 3));
    EXPECT_EQ(Comment(image), "xyz");
    MM_DeleteImage(image);
}

TEST(Stamps, DefaultFromIndexAndSetValuesRoundTrip) {
    const MM_VECTOR size = Size3(4, 4, 5);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    MM_STAMP stamp{};
    ASSERT_TRUE(MM_GetStamp(image, &stamp, 3));
    EXPECT_EQ(stamp.position[2], 3.0);
    MM_SetResolution(image, 2, 40.0);
    MM_SetOrigin(image, 2, 5.0);
    ASSERT_TRUE(MM_GetStamp(image, &stamp, 3));
    EXPECT_EQ(stamp.position[2], 125.0);

    // The control's triple: read, set the time along dimension 2, write back.
    for (int32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(MM_GetStamp(image, &stamp, i));
        ASSERT_TRUE(MM_SetStampPosition(&stamp, 2, 1000.0 + 33.25 * i));
        ASSERT_TRUE(MM_SetStamp(image, &stamp, i));
    }
    const auto stamps = Stamps(image);
    ASSERT_TRUE(stamps);
    ASSERT_EQ(stamps->size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ((*stamps)[i].position[2], 1000.0 + 33.25 * i);
    MM_DeleteImage(image);
}

// An image of `frames` frames whose pixels and stamps follow the pattern.
MM_HANDLE PatternImage(int32_t width, int32_t height, int32_t frames, int32_t type) {
    const MM_VECTOR size = Size3(width, height, frames);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, type, 256);
    if (!FillPattern(image, type, width, height, frames)) return 0;
    for (int32_t i = 0; i < frames; ++i) {
        MM_STAMP stamp{};
        MM_GetStamp(image, &stamp, i);
        MM_SetStampPosition(&stamp, 2, 100.0 * i + 1);
        MM_SetStamp(image, &stamp, i);
    }
    return image;
}

TEST(Resize, CuttingFramesKeepsTheFirstFramesPixelsAndStamps) {
    const MM_HANDLE image = PatternImage(320, 240, 5, MM_TYPE_GREY16);
    ASSERT_NE(image, 0u);
    const MM_LEAF dropped = MM_GetData(image, FrameIndex(4));
    ASSERT_TRUE(MM_ResizeImage(image, MM_VECTOR{}, Size3(320, 240, 3)));

    const auto info = Describe(image);
    EXPECT_EQ(info->frames, 3);
    EXPECT_EQ(info->size.d[2], 3);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(ReadFrame(image, f), PatternFrame(MM_TYPE_GREY16, 320, 240, f)) << f;
    }
    EXPECT_EQ((*Stamps(image))[2].position[2], 201.0);
    EXPECT_FALSE(MM_IsValidHandle(dropped));
    EXPECT_EQ(MM_GetData(image, FrameIndex(3)), 0u);
    MM_DeleteImage(image);
}

TEST(Resize, OriginShiftsFramesAndGrowingAddsZeroFrames) {
    const MM_HANDLE image = PatternImage(40, 30, 4, MM_TYPE_GREY8);
    MM_VECTOR origin{};
    origin.d[2] = 2;
    ASSERT_TRUE(MM_ResizeImage(image, origin, Size3(40, 30, 4)));
    EXPECT_EQ(ReadFrame(image, 0), PatternFrame(MM_TYPE_GREY8, 40, 30, 2));
    EXPECT_EQ(ReadFrame(image, 1), PatternFrame(MM_TYPE_GREY8, 40, 30, 3));
    EXPECT_EQ(ReadFrame(image, 2), std::vector<uint8_t>(40 * 30, 0));
    EXPECT_EQ((*Stamps(image))[1].position[2], 301.0);
    MM_DeleteImage(image);
}

TEST(Resize, CroppingCopiesTheOverlappingPixels) {
    const int32_t w = 50, h = 20;
    const MM_HANDLE image = PatternImage(w, h, 2, MM_TYPE_BGR24);
    MM_VECTOR origin{};
    origin.d[0] = 7;
    origin.d[1] = 3;
    ASSERT_TRUE(MM_ResizeImage(image, origin, Size3(60, 10, 2)));  // wider than what is left
    const auto full = PatternFrame(MM_TYPE_BGR24, w, h, 1);
    const auto cut = ReadFrame(image, 1);
    ASSERT_EQ(cut.size(), size_t(60 * 10 * 3));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 60; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t want = x + 7 < w ? full[((y + 3) * w + (x + 7)) * 3 + c] : uint8_t{0};
                ASSERT_EQ(cut[(y * 60 + x) * 3 + c], want) << x << "," << y;
            }
        }
    }
    MM_DeleteImage(image);
}

TEST(Resize, FrameBytesFollowTheFrameNotTheFrameCount) {
    const MM_VECTOR size = Size3(64, 48, 3);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_BGR24, 256);
    ASSERT_EQ(MM_GetFrameBytes(image), 64 * 48 * 3);
    ASSERT_TRUE(MM_SetSize(image, 2, 7));
    EXPECT_EQ(MM_GetFrameBytes(image), 64 * 48 * 3);
    MM_VECTOR origin{};
    origin.d[0] = 10;
    ASSERT_TRUE(MM_ResizeImage(image, origin, Size3(101, 20, 2)));  // wider than before
    EXPECT_EQ(MM_GetFrameBytes(image), 101 * 20 * 3);
    EXPECT_EQ(MM_GetFrameBytes(image), int64_t(ReadFrame(image, 1).size()));
    EXPECT_EQ(MM_GetDataType(image), MM_TYPE_BGR24);
    ASSERT_TRUE(MM_DeleteImage(image));
    EXPECT_EQ(MM_GetFrameBytes(image), 0);
    EXPECT_EQ(MM_GetDataType(image), 0);
}

TEST(Resize, LockedLeafStaysValidWhenResizedAway) {
    const MM_HANDLE image = PatternImage(128, 128, 3, MM_TYPE_GREY32);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(2));
    auto* pixels = static_cast<uint32_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    ASSERT_TRUE(MM_SetSize(image, 2, 1));
    pixels[128 * 128 - 1] = 7;
    EXPECT_TRUE(MM_Unlock(leaf, 1));
    EXPECT_FALSE(MM_IsValidHandle(leaf));
    EXPECT_EQ(Describe(image)->frames, 1);
    EXPECT_EQ(ReadFrame(image, 0), PatternFrame(MM_TYPE_GREY32, 128, 128, 0));
    MM_DeleteImage(image);
}

TEST(Index, CalculateIndexVectorWalksEveryFrameOnce) {
    MM_VECTOR size = Size3(6, 5, 3);
    size.d[3] = 2;
    size.d[5] = 2;
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    MM_VECTOR bounds;
    MM_InitVector(&bounds, 0);
    ASSERT_TRUE(MM_InitBoundaries(image, &bounds, 0));
    for (int d = 0; d < MM_MAX_DIMS; ++d) EXPECT_EQ(bounds.d[d], size.d[d]);

    std::vector<MM_LEAF> leaves;
    for (int32_t n = 0; n < 12; ++n) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        ASSERT_TRUE(MM_CalculateIndexVector(n, &index, &bounds)) << n;
        EXPECT_EQ(index.d[2], n % 3);
        leaves.push_back(MM_GetData(image, index));
        ASSERT_NE(leaves.back(), 0u);
    }
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(std::unique(leaves.begin(), leaves.end()), leaves.end());

    // Past the end: refused, and the index written cannot reach a frame either.
    for (int32_t bad : {12, 1000, -1}) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        EXPECT_FALSE(MM_CalculateIndexVector(bad, &index, &bounds)) << bad;
        EXPECT_EQ(MM_GetData(image, index), 0u) << bad;
    }
    MM_VECTOR zero_bounds;
    MM_InitVector(&zero_bounds, 0);
    MM_VECTOR index;
    EXPECT_FALSE(MM_CalculateIndexVector(0, &index, &zero_bounds));
    EXPECT_EQ(MM_GetData(image, index), 0u);
    MM_DeleteImage(image);
}

TEST(Index, InitVectorFillsEveryElement) {
    MM_VECTOR v;
    MM_InitVector(&v, 7);
    for (int32_t e : v.d) EXPECT_EQ(e, 7);
}

TEST(Host, ListImagesShowsLiveImagesInCreationOrder) {
    const MM_HANDLE a = MM_CreateImage(2, 2, MM_TYPE_GREY8, 256);
    const MM_HANDLE b = MM_CreateImage(2, 2, MM_TYPE_GREY8, 256);
    auto listed = ListImages();
    auto pa = std::find(listed.begin(), listed.end(), a);
    auto pb = std::find(listed.begin(), listed.end(), b);
    ASSERT_NE(pa, listed.end());
    ASSERT_NE(pb, listed.end());
    EXPECT_LT(pa, pb);
    MM_DeleteImage(a);
    listed = ListImages();
    EXPECT_EQ(std::find(listed.begin(), listed.end(), a), listed.end());
    MM_DeleteImage(b);
}

}  // namespace
}  // namespace bx::mm::test
