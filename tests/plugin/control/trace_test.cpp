// The trace function, the log file, the fatal-error box and the consistency-check report.
#include <bxplatform/com_types.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"

using namespace ferro;
namespace fs = std::filesystem;

namespace {

// What a replacement trace sink received (a plain function pointer cannot capture).
std::mutex g_tracedMutex;
std::vector<std::string> g_traced;
void CaptureTrace(const char* text) {
    std::lock_guard lock(g_tracedMutex);
    g_traced.emplace_back(text);
}
std::vector<std::string> Traced() {
    std::lock_guard lock(g_tracedMutex);
    return g_traced;
}

// A stamped log line: thread id, time, date, text. Tests run in the C locale, whose formats
// are 24-hour time and day/month/year.
const char* const kStamp = R"((\d+) : (\d\d):(\d\d):(\d\d) (\d\d)/(\d\d)/(\d{4}) : )";

// Each test runs in a fresh current directory (where the log lands), with the debugger output
// captured, message boxes scripted and the three module-wide values restored afterwards.
class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        savedLevel_ = g_iTraceLevel;
        savedTrace_ = g_pfnTrace;
        savedBox_ = g_pfnMessageBox;
        {
            std::lock_guard lock(g_tracedMutex);
            g_traced.clear();
        }
        savedDir_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "trace_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
        previousSink_ = bx::kernel::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(debugMutex_);
            debug_.emplace_back(text);
        });
    }

    void TearDown() override {
        bx::kernel::SetDebugSink(previousSink_);
        fs::current_path(savedDir_);
        fs::remove_all(dir_);
        g_iTraceLevel = savedLevel_;
        g_pfnTrace = savedTrace_;
        g_pfnMessageBox = savedBox_;
    }

    std::vector<std::string> Debug() {
        std::lock_guard lock(debugMutex_);
        return debug_;
    }

    // The log file's bytes, or nothing when there is no file.
    static std::optional<std::string> ReadLog() {
        std::ifstream in(kLogFileName, std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

    // The log split after each CR LF.
    static std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        std::string log = ReadLog().value_or("");
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find("\r\n", start);
            end = end == std::string::npos ? log.size() : end + 2;
            lines.push_back(log.substr(start, end - start));
            start = end;
        }
        return lines;
    }

    // How many of this process's file handles refer to the log file.
    static int OpenLogHandles() {
        const fs::path log = fs::absolute(kLogFileName);
        int count = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            count += fs::read_symlink(entry.path(), error) == log ? 1 : 0;
        }
        return count;
    }

    std::shared_ptr<bx::ui::ScriptedUi> ui = std::make_shared<bx::ui::ScriptedUi>();
    bx::ui::ScopedUiBackend uiScope{ui};

private:
    int32_t savedLevel_ = 0;
    TraceSinkFn savedTrace_ = nullptr;
    MessageBoxHookFn savedBox_ = nullptr;
    fs::path savedDir_, dir_;
    bx::kernel::DebugSink previousSink_;
    std::mutex debugMutex_;
    std::vector<std::string> debug_;
};

const std::string kFatalText =
    "This application has detected a fatal internal error and must exit immediately.\n\n"
    "Please send the Vazi1VOV.LOG file (found in the current directory),\n"
    "a brief description of the events leading up to this failure and\n"
    "a summary of your computer's configuration to:\n\n"
    "Your supplier\n\n"
    "and we will endeavour to rectify the problem.  Sorry :-(";

}  // namespace

// ---- Module-wide values ------------------------------------------------------------------

TEST_F(Trace, ExportedValuesHaveTheirNamesAndDefaults) {
    EXPECT_EQ(g_iTraceLevel.load(), 1);
    EXPECT_EQ(g_pfnTrace.load(), &LogWrite);
    EXPECT_EQ(g_pfnMessageBox.load(), &FatalErrorBox);

    // A host that loads the module finds them by their exported names, and nothing else of
    // the module's internals.
    void* module = dlopen(BX_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto* level = static_cast<std::atomic<int32_t>*>(dlsym(module, "_g_iTraceLevel"));
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->load(), 1);
    EXPECT_NE(dlsym(module, "_g_pfnTrace"), nullptr);
    EXPECT_NE(dlsym(module, "_g_pfnMessageBox"), nullptr);
    EXPECT_EQ(dlsym(module, "_ZN5ferro10TraceWriteEPKcz"), nullptr);
    dlclose(module);
}

TEST_F(Trace, ReplacedSinkReceivesTheFormattedText) {
    g_pfnTrace = &CaptureTrace;
    TraceWrite("ferro %d Post Frame %s %d\r\n", 1, "TessvikGrab", 660);
    EXPECT_EQ(Traced(), std::vector<std::string>{"ferro 1 Post Frame TessvikGrab 660\r\n"});
    EXPECT_FALSE(ReadLog());
    EXPECT_TRUE(Debug().empty());
}

TEST_F(Trace, NullSinkSendsToDebuggerOnlyAndCreatesNoFile) {
    g_pfnTrace = nullptr;
    TraceWrite("Error in comms setting exposure\r\n");
    EXPECT_EQ(Debug(), std::vector<std::string>{"Error in comms setting exposure\r\n"});
    EXPECT_FALSE(fs::exists(kLogFileName));
}

// ---- Log file ----------------------------------------------------------------------------

TEST_F(Trace, LineEndsInCrLfOnlyWhenTheTextEndsInALineFeed) {
    TraceWrite("first %d\n", 1);
    TraceWrite("second");
    TraceWrite("third\r\n");

    const std::string stamp = kStamp;
    std::regex layout("^" + stamp + "first 1\r\n" + stamp + "second" + stamp + "third\r\n$");
    std::optional<std::string> log = ReadLog();
    ASSERT_TRUE(log);
    EXPECT_TRUE(std::regex_match(*log, layout)) << *log;
    EXPECT_EQ(OpenLogHandles(), 0);  // open only inside each call

    // The debugger sees each line as built, ending in its own line feed.
    std::vector<std::string> debug = Debug();
    ASSERT_EQ(debug.size(), 3u);
    EXPECT_TRUE(std::regex_match(debug[0], std::regex("^" + stamp + "first 1\n$"))) << debug[0];
    EXPECT_TRUE(std::regex_match(debug[1], std::regex("^" + stamp + "second$"))) << debug[1];
}

TEST_F(Trace, LineCarriesThreadIdLocalTimeAndDate) {
    auto stampOf = [](std::time_t t) {
        std::tm local{};
        localtime_r(&t, &local);
        char text[32];
        std::strftime(text, sizeof text, "%H:%M:%S %d/%m/%Y", &local);
        return std::string(text);
    };
    const std::time_t before = std::time(nullptr);
    LogWrite("Error in comms setting exposure\r\n");
    const std::time_t after = std::time(nullptr);

    std::smatch m;
    std::string log = ReadLog().value_or("");
    ASSERT_TRUE(std::regex_match(
        log, m, std::regex(std::string("^") + kStamp + "Error in comms setting exposure\r\n$")))
        << log;
    EXPECT_EQ(std::stoul(m[1]), bx::kernel::GetCurrentThreadId());
    const std::string written = m[2].str() + ":" + m[3].str() + ":" + m[4].str() + " " +
                                m[5].str() + "/" + m[6].str() + "/" + m[7].str();
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) matched = matched || written == stampOf(t);
    EXPECT_TRUE(matched) << written;
}

TEST_F(Trace, LinesAreAppendedToAnExistingLog) {
    {
        std::ofstream existing(kLogFileName, std::ios::binary);
        existing << "kept\r\n";
    }
    LogWrite("added\n");
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "kept\r\n");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string("^") + kStamp + "added\r\n$")));
}

TEST_F(Trace, NullTextWithNoFileOpenDoesNothing) {
    LogWrite(nullptr);
    EXPECT_FALSE(fs::exists(kLogFileName));
    EXPECT_TRUE(Debug().empty());
    // Logging works as before afterwards.
    LogWrite("after\n");
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(Trace, UnopenableLogLosesTheLineSilentlyButTheDebuggerHasIt) {
    fs::create_directory(kLogFileName);  // a directory cannot be opened for writing
    LogWrite("lost\n");
    ASSERT_EQ(Debug().size(), 1u);
    EXPECT_NE(Debug()[0].find(" : lost\n"), std::string::npos);

    // Once the file can be opened again, lines arrive: the failure left nothing stuck.
    fs::remove(kLogFileName);
    LogWrite("kept\n");
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" : kept\r\n"), std::string::npos);
}

// ---- Cutting long texts ------------------------------------------------------------------

TEST_F(Trace, LongTextsAreCutToTheBufferAndKeepTheirLineEnd) {
    const std::string longText(10'000, 'x');
    g_pfnTrace = &CaptureTrace;
    TraceWrite("%s\n", longText.c_str());
    TraceWrite("%s", longText.c_str());
    TraceWrite("%s-%d-%s\n", longText.c_str(), 42, longText.c_str());  // arguments expand past
    std::vector<std::string> traced = Traced();
    ASSERT_EQ(traced.size(), 3u);
    EXPECT_EQ(traced[0], std::string(254, 'x') + "\n");
    EXPECT_EQ(traced[1], std::string(255, 'x'));
    EXPECT_EQ(traced[2], std::string(254, 'x') + "\n");

    // The stamped line is cut the same way, and its line end survives the cut.
    LogWrite((longText + "\n").c_str());
    LogWrite(longText.c_str());
    std::string log = ReadLog().value_or("");
    EXPECT_EQ(log.size(), 255u + 255u);  // each stamped line fills its buffer
    EXPECT_TRUE(
        std::regex_match(log, std::regex(std::string("^") + kStamp + "x+\r\n" + kStamp + "x+$")));
    for (const std::string& line : Debug()) EXPECT_LE(line.size(), 255u);
}

// ---- Two threads -------------------------------------------------------------------------

TEST_F(Trace, ConcurrentTracesWriteWholeLines) {
    constexpr int kPerThread = 200;
    uint32_t ids[2] = {};
    auto tracer = [&](int which) {
        ids[which] = bx::kernel::GetCurrentThreadId();
        for (int i = 0; i < kPerThread; ++i) TraceWrite("thread %d line %d\n", which, i);
    };
    std::thread a(tracer, 0), b(tracer, 1);
    a.join();
    b.join();

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u * kPerThread);
    std::regex layout(std::string("^") + kStamp + R"(thread (\d) line (\d+)\r\n$)");
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, layout)) << line;
        const int which = std::stoi(m[8]);
        EXPECT_EQ(std::stoul(m[1]), ids[which]);
        EXPECT_EQ(std::stoi(m[9]), next[which]++);  // each thread's lines in its own order
    }
}

// ---- Fatal-error box ---------------------------------------------------------------------

TEST_F(Trace, FatalErrorBoxAnsweredRetryOrIgnoreReturnsTheAnswer) {
    ui->QueueAnswers({bx::ui::IDRETRY, bx::ui::IDIGNORE});
    EXPECT_EQ(FatalErrorBox("camera vanished"), bx::ui::IDRETRY);
    EXPECT_EQ(g_pfnMessageBox.load()("second"), bx::ui::IDIGNORE);

    std::vector<bx::ui::MessageBoxRequest> boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Owner, 0u);
    EXPECT_EQ(boxes[0].Caption, "");
    EXPECT_EQ(boxes[0].Buttons(), bx::ui::MB_ABORTRETRYIGNORE);
    EXPECT_EQ(boxes[0].Text, kFatalText);

    // The text was traced first, and the log is closed again.
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(std::string("^") + kStamp + ">>> camera vanished\r\n$")));
    EXPECT_EQ(OpenLogHandles(), 0);
}

TEST_F(Trace, FatalErrorBoxAnsweredAbortEndsTheProcessWithCodeOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto scripted = std::make_shared<bx::ui::ScriptedUi>();
            scripted->QueueAnswer(bx::ui::IDABORT);
            bx::ui::SetUiBackend(scripted);
            FatalErrorBox("fatal");
        },
        ::testing::ExitedWithCode(1), "");
}

// ---- Consistency-check report ------------------------------------------------------------

TEST_F(Trace, AssertAnsweredNoOrCancelReturnsTheAnswer) {
    ui->QueueAnswers({bx::ui::IDNO, bx::ui::IDCANCEL});
    EXPECT_EQ(AssertFailed("p != 0", "atlcom.h", 123), bx::ui::IDNO);
    EXPECT_EQ(AssertFailed("p != 0", "atlcom.h", 123), bx::ui::IDCANCEL);

    std::vector<bx::ui::MessageBoxRequest> boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Caption, "_ASSERTE: ");
    EXPECT_EQ(boxes[0].Text,
              "p != 0 @ atlcom.h/123\nPress [Y]es to terminate, [N]o to continue and [C]ancel to "
              "Debug");
    EXPECT_EQ(boxes[0].Flags,
              bx::ui::MB_YESNOCANCEL | bx::ui::MB_ICONQUESTION | bx::ui::MB_TASKMODAL);
}

TEST_F(Trace, AssertAnsweredYesRaisesAnAutomationError) {
    ui->QueueAnswer(bx::ui::IDYES);
    try {
        AssertFailed("p != 0", "atlcom.h", 123);
        FAIL() << "no failure raised";
    } catch (const AutomationError& e) {
        EXPECT_STREQ(e.what(), "p != 0 failed - atlcom.h/123");
        EXPECT_EQ(e.Code(), E_FAIL);
        EXPECT_EQ(e.Source(), "atlcom.h");
    }
    // It belongs to the family the automation boundary converts.
    ui->QueueAnswer(bx::ui::IDYES);
    EXPECT_THROW(AssertFailed("q", "f.cpp", 1), ControlFailure);
}

TEST_F(Trace, AssertTextsAreCutToTheirBuffers) {
    const std::string longExpression(10'000, 'e');
    ui->QueueAnswers({bx::ui::IDNO, bx::ui::IDYES});
    EXPECT_EQ(AssertFailed(longExpression.c_str(), nullptr, 7), bx::ui::IDNO);
    const std::string suffix = "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";
    EXPECT_EQ(ui->Boxes()[0].Text, std::string(519, 'e') + suffix);
    try {
        AssertFailed(longExpression.c_str(), "file.cpp", 7);
        FAIL() << "no failure raised";
    } catch (const AutomationError& e) {
        EXPECT_EQ(std::string(e.what()), std::string(519, 'e'));
    }
}

TEST_F(Trace, CheckMacroReportsOnlyFailedConditions) {
    int value = 3;
    FERRO_ASSERTE(value == 3);
    EXPECT_EQ(ui->BoxCount(), 0u);

    // No and Cancel carry on (Cancel stops only under a debugger).
    ui->QueueAnswers({bx::ui::IDNO, bx::ui::IDCANCEL});
    FERRO_ASSERTE(value == 4);
    FERRO_ASSERTE(value == 5);
    ASSERT_EQ(ui->BoxCount(), 2u);
    EXPECT_EQ(ui->Boxes()[1].Text.rfind("value == 5 @ ", 0), 0u);
}
