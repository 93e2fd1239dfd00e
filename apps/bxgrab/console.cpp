#include "console.h"

#include <atomic>
#include <iostream>
#include <sstream>

namespace bxgrab {

namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int signal) {
    g_stopSignal.store(signal, std::memory_order_release);
}

}  // namespace

StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

int StopSignals::Caught() const {
    return g_stopSignal.load(std::memory_order_acquire);
}

const char* StoppedText(int signal) {
    return signal == SIGTERM ? "stopped by SIGTERM" : "stopped by Ctrl-C";
}

void StatusLine::Show(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (terminal_) {
        std::cout << "\r" << text << "\x1b[K" << std::flush;
        open_ = true;
    } else {
        std::cout << text << std::endl;
    }
}

void StatusLine::Break() {
    std::lock_guard lock(mutex_);
    if (open_) std::cout << std::endl;
    open_ = false;
}

std::string Fixed(double value, int digits) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(digits);
    out << value;
    return out.str();
}

}  // namespace bxgrab
