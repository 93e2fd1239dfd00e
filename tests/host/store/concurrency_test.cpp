// The store used from several threads at once, as the UI thread, the live thread and the disk
// writer do: the sanitizer build checks that no pointer handed out is freed under its user.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "store_test_util.h"

namespace bx::mm::test {
namespace {

TEST(Concurrency, LiveLockingSurvivesResizeDeleteAndHostReads) {
    constexpr int kRounds = 200;
    const MM_VECTOR size = Size3(256, 128, 4);
    std::atomic<MM_HANDLE> shared{MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256)};
    ASSERT_NE(shared.load(), 0u);
    std::atomic<int> locked_frames{0};
    std::atomic<bool> done{false};
    std::atomic<int> wrong_queries{0};

    // "Live thread": locks frames, writes the whole frame, unlocks.
    std::thread live([&] {
        for (int i = 0; i < kRounds * 4; ++i) {
            const MM_HANDLE image = shared.load();
            const MM_LEAF leaf = MM_GetData(image, FrameIndex(i % 4));
            auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
            if (pixels == nullptr) continue;  // frame gone meanwhile: allowed
            for (int p = 0; p < 256 * 128; ++p) pixels[p] = uint16_t(i);
            MM_Unlock(leaf, 1);
            locked_frames.fetch_add(1);
        }
    });
    // "Host": reads frames, stamps and the record while the image changes shape.
    std::thread host([&] {
        std::vector<uint8_t> frame;
        while (!done.load()) {
            const MM_HANDLE image = shared.load();
            frame = ReadFrame(image, 1);
            Stamps(image);
            Describe(image);
            ListImages();
            // Frame count changes underneath; the frame itself never does (0 once deleted).
            const int64_t bytes = MM_GetFrameBytes(image);
            const int32_t type = MM_GetDataType(image);
            if ((bytes != 0 && bytes != 256 * 128 * 2) || (type != 0 && type != MM_TYPE_GREY16)) {
                wrong_queries.fetch_add(1);
            }
        }
    });
    // "UI thread": stamps, shrinks, grows, replaces the image.
    for (int round = 0; round < kRounds; ++round) {
        const MM_HANDLE image = shared.load();
        MM_STAMP stamp{};
        MM_GetStamp(image, &stamp, 0);
        MM_SetStampPosition(&stamp, 2, round);
        MM_SetStamp(image, &stamp, 0);
        MM_SetSize(image, 2, 1 + round % 4);
        if (round % 10 == 9) {
            shared.store(MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256));
            MM_DeleteImage(image);
        }
    }
    live.join();
    done.store(true);
    host.join();
    EXPECT_GT(locked_frames.load(), 0);
    EXPECT_EQ(wrong_queries.load(), 0);
    EXPECT_TRUE(MM_IsValidImageHandle(shared.load()));
    MM_DeleteImage(shared.load());
}

TEST(Concurrency, ManyThreadsCreateAndDeleteWithDistinctHandles) {
    constexpr int kThreads = 4, kPerThread = 200;
    std::vector<std::vector<MM_HANDLE>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const MM_HANDLE h = MM_CreateImage(32, 32, MM_TYPE_GREY8, 256);
                made[t].push_back(h);
                MM_WriteComment(h, "x", 2);
                if (i % 2) MM_DeleteImage(h);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::vector<MM_HANDLE> all;
    for (auto& list : made) all.insert(all.end(), list.begin(), list.end());
    EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::unique(all.begin(), all.end()), all.end());
    for (MM_HANDLE h : all) MM_DeleteImage(h);
}

TEST(Concurrency, DiskWritesWhileAnotherThreadLocksFrames) {
    const std::string path =
        std::string(BX_TEST_OUTPUT_DIR) + "/conc_" + std::to_string(getpid()) + ".img";
    ASSERT_TRUE(ConfigureDisk(path, 4096, 256 << 20));
    const MM_VECTOR size = Size3(512, 256, 8);
    const MM_HANDLE streamed = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    const MM_HANDLE other = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    ASSERT_NE(streamed, 0u);
    ASSERT_NE(other, 0u);
    const int32_t id = MM_GetHandleSCSI_ID(streamed);
    const int64_t first = MM_GetLeafOffset(streamed, 0);
    const int64_t sectors = MM_GetLeafSize(streamed) / MM_GetDiskSectorSize();

    std::thread locker([&] {
        for (int i = 0; i < 64; ++i) {
            const MM_LEAF leaf = MM_GetData(other, FrameIndex(i % 8));
            auto* pixels = static_cast<uint8_t*>(MM_Lock(leaf, 0));
            if (pixels) std::memset(pixels, i, 512 * 256);
            MM_Unlock(leaf, 1);
        }
    });
    std::vector<std::vector<uint8_t>> frames;
    bool all_ok = true;
    for (int round = 0; round < 4; ++round) {
        for (int f = 0; f < 8; ++f) {
            frames.push_back(PatternFrame(MM_TYPE_GREY8, 512, 256, f + round));
            all_ok = MM_WriteBufferToBlockWithID(id, first + f * sectors, frames.back().data(),
                                                 int64_t(frames.back().size())) &&
                     all_ok;
        }
        all_ok = MM_WaitForTransfer() && all_ok;
    }
    locker.join();
    EXPECT_TRUE(all_ok);
    for (int f = 0; f < 8; ++f) {
        EXPECT_EQ(ReadFrame(streamed, f), PatternFrame(MM_TYPE_GREY8, 512, 256, f + 3)) << f;
    }
    MM_DeleteImage(streamed);
    MM_DeleteImage(other);
    CloseDisk();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace bx::mm::test
