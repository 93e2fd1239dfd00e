// The platform's worker thread: suspended start, cooperative termination, bounded waits,
// free-on-terminate and exceptions escaping Execute.
#include <bxplatform/kernel.h>
#include <bxplatform/thread.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace bx::kernel {
namespace {

class Worker : public TThread {
public:
    explicit Worker(std::function<void(Worker&)> body, std::atomic<bool>* destroyed = nullptr)
        : TThread(true), body_(std::move(body)), destroyed_(destroyed) {}
    ~Worker() override {
        WaitFor();
        if (destroyed_) *destroyed_ = true;
    }
    bool IsTerminated() const { return Terminated(); }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(Worker&)> body_;
    std::atomic<bool>* destroyed_;
};

TEST(Thread, RunsOnlyOnceResumedAndEndsWhenTerminated) {
    std::atomic<int> passes{0};
    std::atomic<uint32_t> terminatedOn{0};
    Worker worker([&](Worker& self) {
        while (!self.IsTerminated()) {
            ++passes;
            Sleep(1);
        }
    });
    worker.OnTerminate = [&](TThread*) { terminatedOn = GetCurrentThreadId(); };
    EXPECT_TRUE(worker.WaitFor(0)) << "a thread never started has nothing to wait for";
    EXPECT_EQ(passes, 0);
    worker.Resume();
    worker.Resume();  // once only
    EXPECT_FALSE(worker.WaitFor(20)) << "still running: the bounded wait gives up";
    EXPECT_FALSE(worker.Finished());
    worker.Terminate();
    EXPECT_TRUE(worker.WaitFor());
    EXPECT_TRUE(worker.Finished());
    EXPECT_GT(passes, 0);
    EXPECT_NE(terminatedOn, 0u);
    EXPECT_NE(terminatedOn, GetCurrentThreadId());
    EXPECT_EQ(worker.FatalException(), "");
}

TEST(Thread, AnEscapingExceptionEndsTheThreadAndIsKept) {
    Worker worker([](Worker&) { throw std::runtime_error("Unable To Lock Image Leaf"); });
    worker.Resume();
    ASSERT_TRUE(worker.WaitFor());
    EXPECT_EQ(worker.FatalException(), "Unable To Lock Image Leaf");
}

TEST(Thread, FreeOnTerminateDeletesItselfAndRefusesWaits) {
    std::atomic<bool> destroyed{false};
    std::atomic<bool> release{false};
    auto* worker = new Worker(
        [&](Worker&) {
            while (!release) Sleep(1);
        },
        &destroyed);
    worker->SetFreeOnTerminate(true);
    worker->Resume();
    EXPECT_FALSE(worker->WaitFor(10));  // the object may vanish; nobody may wait on it
    release = true;
    for (int i = 0; i < 5000 && !destroyed; ++i) Sleep(1);
    EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace bx::kernel
