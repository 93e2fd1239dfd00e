// The warped clock. Warped time = anchor_virtual + (real - anchor_real) * warp; changing the
// warp re-anchors at the current instant so the clock never jumps.
#include <bxplatform/kernel.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace bx::kernel {
namespace {

using RealClock = std::chrono::steady_clock;

struct WarpState {
    std::mutex mutex;
    RealClock::time_point anchorReal;
    double anchorVirtualNs = 0;  // warped ns since start at anchorReal
    double warp = 1.0;

    WarpState() : anchorReal(RealClock::now()) {
        if (const char* env = std::getenv("BX_TIME_WARP")) {
            char* end = nullptr;
            double w = std::strtod(env, &end);
            if (end != env && std::isfinite(w) && w > 0) warp = std::max(w, 1e-3);
        }
    }
};

WarpState& State() {
    static WarpState state;
    return state;
}

double VirtualNs(WarpState& s, RealClock::time_point real) {
    double realNs = std::chrono::duration<double, std::nano>(real - s.anchorReal).count();
    return s.anchorVirtualNs + realNs * s.warp;
}

double NowVirtualNs() {
    WarpState& s = State();
    std::lock_guard lock(s.mutex);
    return VirtualNs(s, RealClock::now());
}

// Real time point at which the warped clock reads `virtualNs`.
RealClock::time_point RealAt(double virtualNs) {
    WarpState& s = State();
    std::lock_guard lock(s.mutex);
    double realNs = (virtualNs - s.anchorVirtualNs) / s.warp;
    return s.anchorReal + std::chrono::nanoseconds(static_cast<int64_t>(realNs));
}

void SleepUntilVirtualNs(double target) {
    // Re-check after waking: the warp may have changed while we slept.
    for (;;) {
        double now = NowVirtualNs();
        if (now >= target) return;
        std::this_thread::sleep_until(RealAt(target));
    }
}

}  // namespace

int64_t QueryPerformanceFrequency() { return 10'000'000; }
int64_t QueryPerformanceCounter() { return static_cast<int64_t>(NowVirtualNs() / 100.0); }
uint64_t GetTickCount64() { return static_cast<uint64_t>(NowVirtualNs() / 1e6); }
uint32_t GetTickCount() { return static_cast<uint32_t>(GetTickCount64()); }
int64_t NowMicroseconds() { return static_cast<int64_t>(NowVirtualNs() / 1e3); }

void Sleep(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    SleepMicroseconds(static_cast<int64_t>(ms) * 1000);
}

void SleepMicroseconds(int64_t us) {
    if (us <= 0) return;
    SleepUntilVirtualNs(NowVirtualNs() + static_cast<double>(us) * 1e3);
}

void SleepUntilMicroseconds(int64_t us) { SleepUntilVirtualNs(static_cast<double>(us) * 1e3); }

void BusyWaitMilliseconds(uint32_t ms) {
    double target = NowVirtualNs() + ms * 1e6;
    while (NowVirtualNs() < target) std::this_thread::yield();
}

double TimeWarp() {
    WarpState& s = State();
    std::lock_guard lock(s.mutex);
    return s.warp;
}

bool SetTimeWarp(double warp) {
    if (!std::isfinite(warp) || warp <= 0) return false;
    WarpState& s = State();
    std::lock_guard lock(s.mutex);
    auto now = RealClock::now();
    s.anchorVirtualNs = VirtualNs(s, now);
    s.anchorReal = now;
    s.warp = std::max(warp, 1e-3);
    return true;
}

}  // namespace bx::kernel
