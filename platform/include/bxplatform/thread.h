// The platform's worker thread: a classic thread object with cooperative termination.
//
// A subclass overrides Execute and polls Terminated() at its own checkpoints. The object is
// made suspended or running; Resume starts a suspended one (once). WaitFor waits, with a bound,
// until Execute has returned and joins the operating-system thread. DoTerminate runs on the
// thread after Execute (it calls OnTerminate). An exception escaping Execute ends the thread;
// its text is kept in FatalException().
//
// Free-on-terminate: the thread deletes its own object once Execute has returned. Nobody may
// touch such an object after Resume, since it can be gone at any moment, so WaitFor refuses
// (answers false at once) for it. An owner that wants to wait keeps free-on-terminate off and
// deletes the object after WaitFor.
//
// Thread rule: Terminate, Terminated, Finished and ThreadId are thread-safe. Resume, WaitFor,
// SetPriority and SetFreeOnTerminate belong to the owner's thread. The destructor, when the
// thread is still running, asks it to terminate and waits for it without a bound (unless it
// runs on the thread itself).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace bx::kernel {

enum class ThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// WaitFor without a bound.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a suspended thread; does nothing once started.
    void Resume();
    // Asks the thread to end at its next checkpoint.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    // Execute (and DoTerminate) have returned.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    // Waits up to `timeoutMs` warped milliseconds for the thread to finish, then joins it.
    // True when it finished (also for a thread never started: there is nothing to wait for).
    // False on time-out, when called on the thread itself, or for a free-on-terminate thread.
    bool WaitFor(uint32_t timeoutMs = kInfinite);

    // The priority is recorded and reported; the scheduler of this platform runs every
    // worker at the same priority without privileges.
    void SetPriority(ThreadPriority priority) { priority_ = priority; }
    ThreadPriority Priority() const { return priority_; }
    void SetFreeOnTerminate(bool free) { free_on_terminate_ = free; }
    bool FreeOnTerminate() const { return free_on_terminate_; }
    // Operating-system id of the thread, 0 before it started.
    uint32_t ThreadId() const { return thread_id_.load(std::memory_order_acquire); }
    // The text of an exception that escaped Execute ("" when none). Valid once Finished.
    std::string FatalException() const;

    // Runs on the thread after Execute, from DoTerminate.
    std::function<void(TThread*)> OnTerminate;

protected:
    virtual void Execute() = 0;
    virtual void DoTerminate();

private:
    void Run();

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint32_t> thread_id_{0};
    bool started_ = false;
    bool free_on_terminate_ = false;
    ThreadPriority priority_ = ThreadPriority::Normal;
    mutable std::mutex mutex_;
    std::condition_variable finished_cv_;
    std::string fatal_;
};

}  // namespace bx::kernel
