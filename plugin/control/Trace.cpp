// The trace function, the log file sink, the fatal-error box and the consistency-check report.
#include "control/Trace.h"

#include <bxplatform/com_types.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "control/Failures.h"

std::atomic<int32_t> g_iTraceLevel{1};
std::atomic<TraceSinkFn> g_pfnTrace{&ferro::LogWrite};
std::atomic<MessageBoxHookFn> g_pfnMessageBox{&ferro::FatalErrorBox};

namespace ferro {
namespace {

constexpr const char* kFatalErrorText =
    "This application has detected a fatal internal error and must exit immediately.\n\n"
    "Please send the Vazi1VOV.LOG file (found in the current directory),\n"
    "a brief description of the events leading up to this failure and\n"
    "a summary of your computer's configuration to:\n\n"
    "Your supplier\n\n"
    "and we will endeavour to rectify the problem.  Sorry :-(";

constexpr int kAssertBufferSize = 520;

// The log file handle, open only inside one LogWrite call. The lock keeps one call from
// writing through a handle another call has closed; it guards the file only, so a debugger
// sink that traces again does not deadlock.
std::mutex g_logMutex;
int g_logFile = -1;

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

bool IsPlainCLocale() {
    const char* name = std::setlocale(LC_TIME, nullptr);
    return !name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// Formats the current local time and date into the two buffers.
void FormatNow(char (&time)[64], char (&date)[64]) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // The C locale's own %x is month/day/two-digit-year; it stands for "no locale chosen",
    // so an unambiguous day/month/year with the full year serves better in a log.
    const bool plain = IsPlainCLocale();
    if (std::strftime(time, sizeof time, plain ? "%H:%M:%S" : "%X", &local) == 0) time[0] = 0;
    if (std::strftime(date, sizeof date, plain ? "%d/%m/%Y" : "%x", &local) == 0) date[0] = 0;
}

void CloseLogFile() {
    if (g_logFile >= 0) {
        ::close(g_logFile);
        g_logFile = -1;
    }
}

// Opens the log file as the one writer (open-always, positioned at its end). False when the
// file cannot be opened or another process holds it.
bool OpenLogFile() {
    int fd = ::open(kLogFileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    g_logFile = fd;
    return true;
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a full disk loses the rest of the line, as an unopenable file would
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

void TraceWrite(const char* format, ...) {
    char buffer[kTraceBufferSize];
    if (!format) format = "";
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[0] = 0;
    } else if (wanted >= kTraceBufferSize) {
        // Cut: keep the line end a format ends with, so the log stays one line per trace.
        const size_t length = std::strlen(format);
        if (length > 0 && format[length - 1] == '\n') buffer[kTraceBufferSize - 2] = '\n';
    }

    if (TraceSinkFn sink = g_pfnTrace.load(std::memory_order_acquire)) {
        sink(buffer);
    } else {
        bx::kernel::OutputDebugStringA(buffer);
    }
}

void LogWrite(const char* text) {
    if (!text) {
        std::lock_guard lock(g_logMutex);
        CloseLogFile();
        return;
    }

    // A text ending in a line feed ends in CR LF in the file; one that already ends in CR LF
    // keeps its single CR (a doubled CR would break the line in two for some readers). Build
    // the line without its line end, leaving room in the buffer for the two line-end bytes,
    // so a cut line still ends its line.
    size_t bodyLength = std::strlen(text);
    const bool endsLine = bodyLength > 0 && text[bodyLength - 1] == '\n';
    const bool hadCarriageReturn = endsLine && bodyLength > 1 && text[bodyLength - 2] == '\r';
    bodyLength -= (endsLine ? 1 : 0) + (hadCarriageReturn ? 1 : 0);
    const int bodyLimit = static_cast<int>(std::min<size_t>(bodyLength, kTraceBufferSize));

    char time[64], date[64];
    FormatNow(time, date);
    char line[kTraceBufferSize];
    const int room = endsLine ? kTraceBufferSize - 2 : kTraceBufferSize;
    int length = std::snprintf(line, room, "%lu : %s %s : %.*s",
                               static_cast<unsigned long>(bx::kernel::GetCurrentThreadId()), time,
                               date, bodyLimit, text);
    if (length < 0) return;
    length = std::min(length, room - 1);

    // The debugger gets the line with the text's own line end, the file CR LF.
    if (endsLine) {
        if (hadCarriageReturn) line[length++] = '\r';
        line[length] = '\n';
        line[length + 1] = 0;
    }
    bx::kernel::OutputDebugStringA(line);
    if (endsLine) {
        if (!hadCarriageReturn) line[length++] = '\r';  // else the CR is in place already
        line[length++] = '\n';
        line[length] = 0;
    }
    std::lock_guard lock(g_logMutex);
    if (g_logFile < 0 && !OpenLogFile()) return;
    WriteAll(g_logFile, line, static_cast<size_t>(length));
    CloseLogFile();
}

int16_t FatalErrorBox(const char* text) {
    TraceWrite(">>> %s\n", OrEmpty(text));
    LogWrite(nullptr);
    const int answer = bx::ui::MessageBox(0, kFatalErrorText, "", bx::ui::MB_ABORTRETRYIGNORE);
    if (answer == bx::ui::IDABORT) std::_Exit(1);
    return static_cast<int16_t>(answer);
}

int AssertFailed(const char* expression, const char* file, int line) {
    char check[kAssertBufferSize];
    std::snprintf(check, sizeof check, "%s @ %s/%d", OrEmpty(expression), OrEmpty(file), line);
    const std::string boxText =
        std::string(check) + "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";
    const int answer = bx::ui::MessageBox(
        0, boxText,
        "_ASSERTE: ", bx::ui::MB_YESNOCANCEL | bx::ui::MB_ICONQUESTION | bx::ui::MB_TASKMODAL);
    if (answer == bx::ui::IDYES) {
        char message[kAssertBufferSize];
        std::snprintf(message, sizeof message, "%s failed - %s/%d", OrEmpty(expression),
                      OrEmpty(file), line);
        throw AutomationError(message, E_FAIL, OrEmpty(file));
    }
    return answer;
}

void BreakIntoDebugger() {
    // A debugger shows itself as the tracer of this process.
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == "TracerPid:") {
            long tracer = 0;
            status >> tracer;
            if (tracer != 0) std::raise(SIGTRAP);
            return;
        }
    }
}

}  // namespace ferro
