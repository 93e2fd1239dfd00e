// Diagnostics shared by every part of the module and open to the host: a trace level, a trace
// function with a replaceable sink, the default sink that stamps each line and appends it to
// the log file "Vazi1VOV.LOG" in the current directory, a fatal-error hook, and the report
// routine of internal consistency checks.
//
// The three module-wide values are exported data, so a host (or a sibling module sharing the
// convention) can read the level and replace the hooks. Their export names carry a leading
// underscore: _g_iTraceLevel, _g_pfnTrace, _g_pfnMessageBox.
//
// Thread rule: everything here is thread-safe. Callers compare g_iTraceLevel before tracing;
// TraceWrite itself never looks at it.
#pragma once

#include <atomic>
#include <cstdint>

// Sink of TraceWrite: one zero-terminated 8-bit text.
using TraceSinkFn = void (*)(const char* text);
// Fatal-error hook: one zero-terminated 8-bit text; returns the button answered.
using MessageBoxHookFn = int16_t (*)(const char* text);

// Atomics of these types have exactly the plain value's layout, so a host reading the export
// as a plain int or function pointer sees the same bytes.
static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t) &&
              std::atomic<int32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<TraceSinkFn>) == sizeof(TraceSinkFn) &&
              std::atomic<TraceSinkFn>::is_always_lock_free);

extern "C" {
// Current trace level; 1 until settings are loaded, then the settings file's "Trace Level".
__attribute__((visibility("default"))) extern std::atomic<int32_t> g_iTraceLevel __asm__(
    "_g_iTraceLevel");
// Sink of TraceWrite; LogWrite by default. Null sends traces to the debugger output only.
__attribute__((visibility("default"))) extern std::atomic<TraceSinkFn> g_pfnTrace __asm__(
    "_g_pfnTrace");
// Fatal-error hook for users of the module; FatalErrorBox by default. The control itself
// never calls it.
__attribute__((visibility("default"))) extern std::atomic<MessageBoxHookFn> g_pfnMessageBox __asm__(
    "_g_pfnMessageBox");
}

namespace ferro {

// Name of the log file, relative to the process's current directory.
inline constexpr const char* kLogFileName = "Vazi1VOV.LOG";
// Every trace text is cut to fit this buffer, terminator included.
inline constexpr int kTraceBufferSize = 256;

// Formats a printf-style text (cut to 255 characters; a format ending in a line feed keeps
// its line feed when cut) and hands it to g_pfnTrace, or to the debugger output when that is
// null.
void TraceWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The default trace sink. Builds the line "<thread id> : <time> <date> : <text>", sends it to
// the debugger output, then appends it to the log file; a text ending in a line feed ends in
// CR LF in the file, any other text gets no line end. The file is opened and closed within the
// call; a file that cannot be opened loses the line silently. A null text closes the file if
// one is open.
//
// Time and date use the process's LC_TIME locale (as the host set it with setlocale): its
// time (%X) and date (%x) formats. In the plain C/POSIX locale, which names no preference,
// they are 24-hour "HH:MM:SS" and day/month/year "DD/MM/YYYY".
void LogWrite(const char* text);

// The default fatal-error hook: traces ">>> <text>", closes the log, and asks the user with an
// Abort/Retry/Ignore box (no owner, the system's caption, a fixed text asking for the log).
// Abort ends the process with exit code 1; otherwise returns the answer (4 Retry, 5 Ignore).
int16_t FatalErrorBox(const char* text);

// Reports a failed consistency check "<expression> @ <file>/<line>" in a task-modal
// Yes/No/Cancel question box captioned "_ASSERTE: ". Yes throws AutomationError
// "<expression> failed - <file>/<line>" with E_FAIL and the file as source; No returns 7 (go
// on); Cancel returns 2 (the caller should break into the debugger).
int AssertFailed(const char* expression, const char* file, int line);

// Stops in the debugger when one is attached; does nothing otherwise (a stop without a
// debugger would end the process).
void BreakIntoDebugger();

}  // namespace ferro

// Checks a condition the code relies on; reports a failure through AssertFailed.
#define FERRO_ASSERTE(expr)                                                   \
    do {                                                                      \
        if (!(expr) && ::ferro::AssertFailed(#expr, __FILE__, __LINE__) == 2) \
            ::ferro::BreakIntoDebugger();                                     \
    } while (false)
