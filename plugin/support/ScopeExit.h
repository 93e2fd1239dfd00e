// Runs a function when a scope ends, however it ends (return or exception): the one way the
// plug-in undoes a temporary change (a flag raised for a call, a handler taken off a control,
// a hold on the driver).
//
// Thread rule: a ScopeExit belongs to the thread that made it.
#pragma once

#include <utility>

namespace ferro::support {

template <typename F>
class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // Runs the function now instead of at the end of the scope (at most once).
    void RunNow() {
        if (armed_) f_();
        armed_ = false;
    }

private:
    F f_;
    bool armed_ = true;
};

// Sets `flag` to `value` for the rest of the scope and restores what it held before.
template <typename T>
[[nodiscard]] auto SetForScope(T& flag, T value) {
    T saved = std::exchange(flag, std::move(value));
    return ScopeExit([&flag, saved = std::move(saved)]() mutable { flag = std::move(saved); });
}

}  // namespace ferro::support
