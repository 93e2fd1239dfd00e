// The store used from several threads at once, as the UI thread, the live thread and the disk
// writer do: the sanitizer build checks that no pointer handed out is freed under its user,
// and readers of a leaf rewritten under MM_LOCK_WRITE only ever see whole frames.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bxview/headless_view.h"
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

    // "Live thread": write-locks frames, writes the whole frame, unlocks (the host reads them).
    std::thread live([&] {
        for (int i = 0; i < kRounds * 4; ++i) {
            const MM_HANDLE image = shared.load();
            const MM_LEAF leaf = MM_GetData(image, FrameIndex(i % 4));
            auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
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

// A frame is whole when every pixel holds the value of one write.
bool Uniform(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2) return false;
    std::vector<uint16_t> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.data(), values.size() * 2);
    return std::all_of(values.begin(), values.end(), [&](uint16_t v) { return v == values[0]; });
}

uint16_t FirstValue(const std::vector<uint8_t>& bytes) {
    uint16_t v = 0;
    std::memcpy(&v, bytes.data(), sizeof v);
    return v;
}

// As the live thread does: one display leaf locked for the whole run, each frame written into
// it under the write bracket, while host threads read the leaf by frame number and through a
// view handed the locked pointer. Without the bracket a reader copies half of two frames.
TEST(WholeFrames, ReadersOfAWriteBracketedLeafSeeOnlyWholeFrames) {
    constexpr int kWidth = 512, kHeight = 256, kWrites = 300;
    const MM_HANDLE image = MM_CreateImage(kWidth, kHeight, MM_TYPE_GREY16, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    auto* display = static_cast<uint16_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(display, nullptr);
    bx::view::THeadlessImageView view(16);
    std::atomic<int> readers_started{0};
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, backwards{0}, reads{0};

    // Each reader checks every copy is whole and, being one thread, never older than the last.
    auto check = [&](const std::vector<uint8_t>& frame, uint16_t& last) {
        if (frame.empty()) return;
        if (!Uniform(frame)) torn.fetch_add(1);
        if (FirstValue(frame) < last) backwards.fetch_add(1);
        last = FirstValue(frame);
        reads.fetch_add(1);
    };
    std::thread by_number([&] {
        uint16_t last = 0;
        readers_started.fetch_add(1);
        while (!done.load()) check(ReadFrame(image, 0), last);
    });
    std::thread by_view([&] {
        uint16_t last = 0;
        readers_started.fetch_add(1);
        while (!done.load()) {
            view.SetMMBits(display);
            if (auto frame = view.LastFrame()) check(frame->pixels, last);
        }
    });
    while (readers_started.load() < 2) std::this_thread::yield();
    bool same_pointer = true;
    for (int i = 1; i <= kWrites; ++i) {
        auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
        same_pointer = same_pointer && pixels == display;
        std::fill(display, display + kWidth * kHeight, uint16_t(i));
        MM_Unlock(leaf, 1);
    }
    done.store(true);
    by_number.join();
    by_view.join();
    EXPECT_TRUE(same_pointer);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " frames read";
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_EQ(FirstValue(ReadFrame(image, 0)), kWrites);
    MM_Unlock(leaf, 0);
    MM_DeleteImage(image);
}

TEST(WholeFrames, WriteHoldExcludesOtherWritersButNotItsOwnThread) {
    const MM_HANDLE image = MM_CreateImage(64, 64, MM_TYPE_GREY8, 256);
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    void* pixels = MM_Lock(leaf, MM_LOCK_WRITE);
    ASSERT_NE(pixels, nullptr);
    // The holder's own thread: a second hold is refused rather than waiting for itself, a
    // plain lock nests, and its own reads do not wait.
    EXPECT_EQ(MM_Lock(leaf, MM_LOCK_WRITE), nullptr);
    EXPECT_EQ(MM_Lock(leaf, 0), pixels);
    EXPECT_EQ(ReadFrame(image, 0).size(), 64u * 64u);
    EXPECT_TRUE(MM_Unlock(leaf, 0));  // ends the write hold together with one lock
    EXPECT_EQ(MM_Lock(leaf, MM_LOCK_WRITE), pixels);

    std::atomic<bool> released{false};
    std::atomic<bool> waited{false};
    std::thread other([&] {
        void* p = MM_Lock(leaf, MM_LOCK_WRITE);
        waited.store(released.load());  // it ran only after the holder let go
        if (p) MM_Unlock(leaf, 0);
    });
    std::memset(pixels, 7, 64 * 64);
    released.store(true);
    EXPECT_TRUE(MM_Unlock(leaf, 1));
    other.join();
    EXPECT_TRUE(waited.load());
    EXPECT_TRUE(MM_Unlock(leaf, 0));   // the first plain lock
    EXPECT_FALSE(MM_Unlock(leaf, 0));  // and no more
    MM_DeleteImage(image);
}

// A leaf cut from its image while write-held: a waiting writer gives up, a waiting reader
// reads what the image holds now, and the holder finishes on its pointer and unlocks.
TEST(WholeFrames, LeafDetachedWhileWriteHeldReleasesEveryWaiter) {
    const struct {
        const char* how;
        bool (*detach)(MM_HANDLE);
        size_t read_bytes;  // of frame 1 afterwards
    } cases[] = {
        {"delete", [](MM_HANDLE h) { return MM_DeleteImage(h) != 0; }, 0},
        {"drop frame", [](MM_HANDLE h) { return MM_SetSize(h, 2, 1) != 0; }, 0},
        {"reshape", [](MM_HANDLE h) { return MM_SetSize(h, 0, 32) != 0; }, 32 * 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        const MM_VECTOR size = Size3(64, 64, 2);
        const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
        const MM_LEAF leaf = MM_GetData(image, FrameIndex(1));
        auto* pixels = static_cast<uint8_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
        ASSERT_NE(pixels, nullptr);
        std::atomic<bool> writer_got_leaf{true};
        std::atomic<size_t> read_bytes{1};
        std::thread writer([&] {
            void* p = MM_Lock(leaf, MM_LOCK_WRITE);
            writer_got_leaf.store(p != nullptr);
            if (p) MM_Unlock(leaf, 0);
        });
        std::thread reader([&] { read_bytes.store(ReadFrame(image, 1).size()); });
        ASSERT_TRUE(c.detach(image));
        writer.join();
        reader.join();
        EXPECT_FALSE(writer_got_leaf.load());
        EXPECT_EQ(read_bytes.load(), c.read_bytes);
        std::memset(pixels, 1, 64 * 64);
        EXPECT_TRUE(MM_Unlock(leaf, 1));
        MM_DeleteImage(image);
    }
}

}  // namespace
}  // namespace bx::mm::test
