#include <bxplatform/kernel.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace k = bx::kernel;

namespace {

// Restores the warp a test changed.
struct WarpGuard {
    double saved = k::TimeWarp();
    ~WarpGuard() { k::SetTimeWarp(saved); }
};

double RealSecondsFor(auto&& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(Clock, CounterIsMonotonicAndTenMegahertz) {
    EXPECT_EQ(k::QueryPerformanceFrequency(), 10'000'000);
    int64_t prev = k::QueryPerformanceCounter();
    for (int i = 0; i < 1000; ++i) {
        int64_t now = k::QueryPerformanceCounter();
        ASSERT_GE(now, prev);
        prev = now;
    }
}

TEST(Clock, WarpedSleepIsShortButTheClockAdvancesFully) {
    WarpGuard guard;
    ASSERT_TRUE(k::SetTimeWarp(50));
    int64_t c0 = k::QueryPerformanceCounter();
    uint64_t t0 = k::GetTickCount64();
    double real = RealSecondsFor([] { k::Sleep(1000); });
    int64_t c1 = k::QueryPerformanceCounter();
    double warpedSeconds = double(c1 - c0) / double(k::QueryPerformanceFrequency());
    EXPECT_GE(warpedSeconds, 1.0);
    EXPECT_LT(warpedSeconds, 1.5);
    EXPECT_GE(k::GetTickCount64() - t0, 1000u);
    EXPECT_GE(real, 1.0 / 50 * 0.9);
    EXPECT_LT(real, 0.5);  // far from a full second
}

TEST(Clock, ChangingTheWarpKeepsTheClockContinuous) {
    WarpGuard guard;
    int64_t before = k::NowMicroseconds();
    ASSERT_TRUE(k::SetTimeWarp(1000));
    int64_t after = k::NowMicroseconds();
    EXPECT_GE(after, before);
    EXPECT_LT(after - before, 1'000'000);  // no jump
    ASSERT_TRUE(k::SetTimeWarp(1));
    EXPECT_GE(k::NowMicroseconds(), after);
}

TEST(Clock, RejectsNonsenseWarp) {
    WarpGuard guard;
    double w = k::TimeWarp();
    EXPECT_FALSE(k::SetTimeWarp(0));
    EXPECT_FALSE(k::SetTimeWarp(-2));
    EXPECT_FALSE(k::SetTimeWarp(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(k::TimeWarp(), w);
}

TEST(Clock, SleepUntilAndBusyWaitReachTheirTarget) {
    WarpGuard guard;
    k::SetTimeWarp(20);
    int64_t target = k::NowMicroseconds() + 200'000;
    k::SleepUntilMicroseconds(target);
    EXPECT_GE(k::NowMicroseconds(), target);
    uint64_t t0 = k::GetTickCount64();
    k::BusyWaitMilliseconds(100);
    EXPECT_GE(k::GetTickCount64() - t0, 100u);
    // Past targets and non-positive durations return at once.
    EXPECT_LT(RealSecondsFor([] {
                  k::SleepUntilMicroseconds(0);
                  k::SleepMicroseconds(-5);
              }),
              0.05);
}

TEST(GlobalMemory, BlocksAreZeroFilledAndLockCounted) {
    size_t inUse = k::GlobalBlocksInUse();
    k::HGLOBAL h = k::GlobalAlloc(4096);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(k::GlobalSize(h), 4096u);
    EXPECT_EQ(k::GlobalLockCount(h), 0);
    auto* p = static_cast<unsigned char*>(k::GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
    std::memset(p, 0xAB, 4096);
    EXPECT_EQ(k::GlobalLock(h), p);
    EXPECT_EQ(k::GlobalLockCount(h), 2);
    EXPECT_TRUE(k::GlobalUnlock(h));
    EXPECT_TRUE(k::GlobalUnlock(h));
    EXPECT_FALSE(k::GlobalUnlock(h));  // count already zero
    EXPECT_EQ(k::GlobalBlocksInUse(), inUse + 1);
    EXPECT_TRUE(k::GlobalFree(h));
    EXPECT_EQ(k::GlobalBlocksInUse(), inUse);
}

TEST(GlobalMemory, LargeBlocksArePageAligned) {
    // Frame buffers go to direct disk writes, which need page-aligned memory.
    k::HGLOBAL big = k::GlobalAlloc(1392 * 1040 * 2);
    k::HGLOBAL small = k::GlobalAlloc(100);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(k::GlobalLock(big)) % 4096, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(k::GlobalLock(small)) % 64, 0u);
    k::GlobalUnlock(big);
    k::GlobalUnlock(small);
    k::GlobalFree(big);
    k::GlobalFree(small);
}

TEST(GlobalMemory, BadHandlesAreRefused) {
    EXPECT_EQ(k::GlobalAlloc(0), nullptr);
    EXPECT_EQ(k::GlobalLock(nullptr), nullptr);
    EXPECT_FALSE(k::GlobalUnlock(nullptr));
    EXPECT_FALSE(k::GlobalFree(nullptr));
    EXPECT_EQ(k::GlobalLockCount(nullptr), -1);
    k::HGLOBAL h = k::GlobalAlloc(16);
    ASSERT_TRUE(k::GlobalFree(h));
    EXPECT_FALSE(k::GlobalFree(h));  // double free refused
    EXPECT_EQ(k::GlobalLock(h), nullptr);
    EXPECT_EQ(k::GlobalSize(h), 0u);
}

TEST(GlobalMemory, FailureHooksHitTheNthCallOnly) {
    k::FailNthGlobalAlloc(2);
    k::HGLOBAL a = k::GlobalAlloc(8);
    k::HGLOBAL b = k::GlobalAlloc(8);
    k::HGLOBAL c = k::GlobalAlloc(8);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);

    k::FailNthGlobalLock(1);
    EXPECT_EQ(k::GlobalLock(a), nullptr);
    EXPECT_EQ(k::GlobalLockCount(a), 0);
    EXPECT_NE(k::GlobalLock(a), nullptr);
    EXPECT_TRUE(k::GlobalUnlock(a));

    k::FailNthGlobalLock(1);
    k::FailNthGlobalLock(0);  // disarmed
    EXPECT_NE(k::GlobalLock(c), nullptr);
    k::GlobalUnlock(c);
    k::GlobalFree(a);
    k::GlobalFree(c);
}

TEST(GlobalMemory, ConcurrentAllocAndFree) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                k::HGLOBAL h = k::GlobalAlloc(64);
                ASSERT_NE(h, nullptr);
                auto* p = static_cast<char*>(k::GlobalLock(h));
                p[0] = 1;
                k::GlobalUnlock(h);
                k::GlobalFree(h);
            }
        });
    }
    for (auto& t : threads) t.join();
}

TEST(DebugOutput, SinkReceivesTextsInOrder) {
    std::vector<std::string> seen;
    auto old = k::SetDebugSink([&](std::string_view s) { seen.emplace_back(s); });
    k::OutputDebugStringA("one");
    k::OutputDebugStringA(nullptr);
    k::OutputDebugStringA("two\n");
    k::SetDebugSink(old);
    k::OutputDebugStringA("after");
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two\n"}));
}

TEST(Threads, IdsDifferBetweenThreads) {
    uint32_t mine = k::GetCurrentThreadId();
    uint32_t other = 0;
    std::thread([&] { other = k::GetCurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(mine, other);
    EXPECT_EQ(mine, k::GetCurrentThreadId());
}

TEST(Files, AppendCreatesAndAppends) {
    std::string path = ::testing::TempDir() + "bx_append_test.txt";
    std::remove(path.c_str());
    ASSERT_TRUE(k::AppendToFile(path, "first\r\n"));
    ASSERT_TRUE(k::AppendToFile(path, "second"));
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "first\r\nsecond");
    std::remove(path.c_str());
    EXPECT_FALSE(k::AppendToFile("/nonexistent-dir/x/y.txt", "z"));
}
