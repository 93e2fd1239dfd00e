// What the long-running commands (live, grab) share on the console: the stop signals, the
// status line and the console backend that keeps message boxes off it.
//
// Thread rule: StatusLine is thread-safe; StopSignals is made and ended on the main thread,
// Caught may be read from any thread.
#pragma once

#include <bxplatform/ui.h>

#include <csignal>
#include <mutex>
#include <string>

namespace bxgrab {

// Ctrl-C and SIGTERM only raise a flag for the command to poll, so a run always ends through
// its own stop and the files are written whole. Further signals during the stop and the
// saves are absorbed the same way.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal caught (SIGINT or SIGTERM), 0 while none came. Any thread.
    int Caught() const;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// "stopped by Ctrl-C" or "stopped by SIGTERM".
const char* StoppedText(int signal);

// On a terminal one line rewritten in place; otherwise plain lines (the caller paces them).
class StatusLine {
public:
    explicit StatusLine(bool terminal) : terminal_(terminal) {}

    bool terminal() const { return terminal_; }
    void Show(const std::string& text);
    // Ends an in-place line, so what follows stands on its own line.
    void Break();

private:
    std::mutex mutex_;
    const bool terminal_;
    bool open_ = false;
};

// The console backend, quiet about beeps (auto-exposure beeps once a frame) and keeping
// message boxes off the status line.
class StatusConsoleUi : public bx::ui::ConsoleUi {
public:
    StatusConsoleUi(int answer, StatusLine& status) : ConsoleUi(answer), status_(status) {}
    int ShowMessageBox(const bx::ui::MessageBoxRequest& box) override {
        status_.Break();
        return ConsoleUi::ShowMessageBox(box);
    }
    void Beep(unsigned) override {}

private:
    StatusLine& status_;
};

// `value` with `digits` decimals.
std::string Fixed(double value, int digits);

}  // namespace bxgrab
