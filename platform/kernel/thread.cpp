// The worker thread object (see thread.h).
#include "bxplatform/thread.h"

#include <chrono>
#include <exception>

#include "bxplatform/kernel.h"

namespace bx::kernel {

TThread::TThread(bool createSuspended) {
    if (!createSuspended) Resume();
}

TThread::~TThread() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // free-on-terminate: the thread is deleting its own object
        return;
    }
    Terminate();
    thread_.join();
}

void TThread::Resume() {
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Terminate() {
    terminated_.store(true, std::memory_order_release);
}

bool TThread::WaitFor(uint32_t timeoutMs) {
    if (!started_) return true;
    if (free_on_terminate_) return false;
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) return false;
    {
        std::unique_lock lock(mutex_);
        const auto done = [this] { return finished_.load(std::memory_order_acquire); };
        if (timeoutMs == kInfinite) {
            finished_cv_.wait(lock, done);
        } else {
            // The bound is in warped milliseconds, like every wait of the platform.
            const auto real = std::chrono::duration<double, std::milli>(timeoutMs / TimeWarp());
            if (!finished_cv_.wait_for(lock, real, done)) return false;
        }
    }
    if (thread_.joinable()) thread_.join();
    return true;
}

std::string TThread::FatalException() const {
    std::lock_guard lock(mutex_);
    return fatal_;
}

void TThread::DoTerminate() {
    if (OnTerminate) OnTerminate(this);
}

void TThread::Run() {
    thread_id_.store(GetCurrentThreadId(), std::memory_order_release);
    std::string fatal;
    try {
        Execute();
    } catch (const std::exception& e) {
        fatal = e.what();
    } catch (...) {
        fatal = "unknown exception";
    }
    try {
        DoTerminate();
    } catch (...) {
        // A failing OnTerminate must not take the process down with it.
    }
    if (free_on_terminate_) {
        delete this;
        return;
    }
    std::lock_guard lock(mutex_);
    fatal_ = std::move(fatal);
    finished_.store(true, std::memory_order_release);
    finished_cv_.notify_all();
}

}  // namespace bx::kernel
