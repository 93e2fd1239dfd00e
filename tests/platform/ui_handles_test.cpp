// The 32-bit handle table.
#include <bxplatform/handles.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {
struct View {
    int id;
};
struct Other {};
}  // namespace

TEST(HandleTable, RegisteredObjectsAreFoundUnderTheirType) {
    bx::HandleTable table;
    View view{7};
    uint32_t h = table.Register(&view);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(table.Lookup<View>(h), &view);
    EXPECT_EQ(table.Lookup<void>(h), &view);
    EXPECT_EQ(table.Lookup<Other>(h), nullptr) << "another type never sees the object";
    EXPECT_EQ(table.Register<View>(nullptr), 0u);
    EXPECT_EQ(table.Lookup<View>(0), nullptr);
    EXPECT_EQ(table.Lookup<View>(h + 1000), nullptr);
}

TEST(HandleTable, ReleasedHandlesFindNothingAndAreNeverReused) {
    bx::HandleTable table;
    View a{1}, b{2};
    uint32_t ha = table.Register(&a);
    EXPECT_TRUE(table.Release(ha));
    EXPECT_FALSE(table.Release(ha));
    EXPECT_EQ(table.Lookup<View>(ha), nullptr);
    std::set<uint32_t> seen{ha};
    for (int i = 0; i < 100; ++i) {
        uint32_t h = table.Register(&b);
        EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " given out twice";
        if (i % 2 == 0) table.Release(h);
    }
    EXPECT_EQ(table.Size(), 50u);
}

TEST(HandleTable, ConcurrentRegistrationGivesDistinctHandles) {
    bx::HandleTable& table = bx::ObjectHandles();
    View view{3};
    constexpr int kThreads = 4, kEach = 1000;
    std::vector<std::vector<uint32_t>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                uint32_t h = table.Register(&view);
                got[t].push_back(h);
                if (table.Lookup<View>(h) != &view) got[t].push_back(0);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<uint32_t> all;
    for (auto& list : got) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(all.count(0), 0u);
    for (uint32_t h : all) table.Release(h);
}
