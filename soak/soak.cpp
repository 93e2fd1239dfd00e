// bx_soak: drives the camera control the way a host does, many times over, and checks that
// nothing piles up. The control is created by its ProgID through the registry and the class
// factory and driven through its automation interfaces only (bxgrab's Control), with a
// headless image view, on the simulated camera with the clock warped so runs are fast.
//
// Phases: live video started and stopped, snaps, short grabs with a random fault injected in
// the driver (message boxes answered with their default button), and the control registered,
// created, opened and destroyed. Each phase runs a few warm-up cycles, then measures threads,
// open file descriptors, images in the store and resident memory before and after its
// cycles. It fails when any count grows, when resident memory grows beyond a tolerance, or
// when one operation takes longer than the watchdog's bound (which aborts the run: a hang has
// no end to wait for).
//
// The grab phase also starts and stops live video with a fault armed, since only live video
// queues frames (the queue, frame error and frame lost points).
//
// Usage: bx_soak [--scale F] [--warp W] [--seed N] [--timeout SECONDS] [--rss-mb MB]
//                [--small-camera] [--module FILE]
// --scale multiplies every phase's cycle count; BX_SOAK_VERBOSE=1 prints each operation
// slower than half a second.
// Exit codes: 0 all phases passed, 1 a phase failed, 2 bad command line, 3 the run could not
// go on (no control, no camera, a camera that did not open again); a hang aborts.
#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/com_registry.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <bxview/image_view.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "automation.h"
#include "events.h"
#include "module.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bxgrab::Control;
using bxgrab::ControlError;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// ---- Process figures ------------------------------------------------------------------------

size_t CountEntries(const char* dir) {
    std::error_code ec;
    size_t n = 0;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

long ResidentKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct Figures {
    size_t threads = 0, fds = 0, images = 0;
    long rssKb = 0;
};

Figures Measure() {
    Figures f;
    f.threads = CountEntries("/proc/self/task");
    f.fds = CountEntries("/proc/self/fd");
    f.images = bx::mm::ListImages().size();
    f.rssKb = ResidentKb();
    return f;
}

// ---- Watchdog -------------------------------------------------------------------------------

// One thread that aborts the run when an operation outlives its bound; a hung call never
// returns, so nothing else could report it.
class Watchdog {
public:
    explicit Watchdog(double seconds) : bound_(seconds) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // Times one operation, keeping the slowest since the last ResetSlowest.
    template <class F>
    void Time(const std::string& what, F&& operation) {
        {
            std::lock_guard lock(mutex_);
            what_ = what;
            started_ = Clock::now();
            busy_ = true;
        }
        try {
            operation();
        } catch (...) {
            std::lock_guard lock(mutex_);
            busy_ = false;
            throw;
        }
        std::lock_guard lock(mutex_);
        busy_ = false;
        const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        if (seconds > slowest_) slowest_ = seconds, slowestWhat_ = what_;
        if (verbose_ && seconds > 0.5)
            std::fprintf(stderr, "slow: %s %.3f s\n", what_.c_str(), seconds);
    }
    void ResetSlowest() {
        std::lock_guard lock(mutex_);
        slowest_ = 0;
        slowestWhat_.clear();
    }
    std::pair<double, std::string> Slowest() {
        std::lock_guard lock(mutex_);
        return {slowest_, slowestWhat_};
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            wake_.wait_for(lock, std::chrono::milliseconds(200));
            if (busy_ && Clock::now() - started_ > std::chrono::duration<double>(bound_)) {
                std::fprintf(stderr, "bx_soak: HANG: %s took more than %.0f s; aborting\n",
                             what_.c_str(), bound_);
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    const double bound_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false, busy_ = false;
    std::string what_, slowestWhat_;
    double slowest_ = 0;
    const bool verbose_ = std::getenv("BX_SOAK_VERBOSE") != nullptr;
    Clock::time_point started_;
    std::thread thread_;
};

// Message boxes answered with their default button, counted (a recording backend would grow).
class DefaultAnswers : public bx::ui::UiBackend {
public:
    int ShowMessageBox(const bx::ui::MessageBoxRequest& box) override {
        ++boxes;
        return box.DefaultAnswer();
    }
    void Beep(unsigned) override {}
    std::atomic<uint64_t> boxes{0};
};

// ---- The host -------------------------------------------------------------------------------

struct Settings {
    double scale = 1;
    double warp = 50;
    unsigned seed = 1;
    double timeout = kSanitized ? 120 : 30;  // a sanitized debug build renders frames slowly
    double rssMb = 20;
    bool smallCamera = false;  // a 256 x 192 sensor: cheap frames for the test suite's run
    std::string module = BX_PLUGIN_MODULE;
};

// The control as a host holds it: created by ProgID, given a view, its events advised and the
// camera opened; the camera closed (Quit) and everything released when it goes.
class Session {
public:
    explicit Session(const Settings& s)
        : control_(bxgrab::CreateOptions{"Korvane Camera", s.module}) {
        events_ = std::make_unique<bxgrab::ControlEvents>(control_, false);
        control_.PutLong("ImageWindow", static_cast<long>(registration_.handle()));
        events_->Set("OnLiveFrameUpdate", [this] { ++shown; });
        // Factory settings, as a host with no settings file yet loads them: a load is what
        // arms the camera's initialisation.
        const std::string none =
            (fs::temp_directory_path() / ("bx_soak-" + std::to_string(::getpid()) + "-none.ini"))
                .string();
        Control::Check(control_.ferro().LoadFromRegistry(bx::com::Bstr(none).Get()),
                       "LoadFromRegistry");
        Open();
    }
    ~Session() {
        control_.ferro().Quit();
        events_.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Control& control() { return control_; }
    // Opens the camera; false when the control has none (it then said why in a message box).
    bool Open() {
        Control::Check(control_.ferro().Initialise(), "Initialise");
        return Ready();
    }
    bool Ready() { return control_.GetLong("GrabWindowWidth") > 0; }

    std::atomic<uint64_t> shown{0};

private:
    bx::view::THeadlessImageView view_;
    bx::view::ImageViewRegistration registration_{&view_};
    Control control_;
    std::unique_ptr<bxgrab::ControlEvents> events_;
};

// Hands an image the control gave the host back to the store, as a host does once it is done.
void Release(Control& c) {
    LONG image = 0;
    if (SUCCEEDED(c.ferro().GetImage(&image)) && MM_IsValidImageHandle(image))
        MM_DeleteImage(static_cast<MM_HANDLE>(image));
    SetErrorInfo(0, nullptr);
}

// ---- Phases ---------------------------------------------------------------------------------

struct Phase {
    std::string name;
    int cycles;
    int warmup;
    std::function<void(int cycle, Watchdog& dog)> cycle;
};

struct Result {
    std::string name;
    int cycles = 0;
    Figures start, end;
    double seconds = 0, slowest = 0;
    std::string slowestWhat;
    std::vector<std::string> problems;
};

// Threads a stopped operation ends are joined on their own schedule; give them a moment.
Figures Settled(const Figures& start) {
    Figures f = Measure();
    for (int i = 0; i < 50 && (f.threads > start.threads || f.fds > start.fds); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        f = Measure();
    }
    return f;
}

Result RunPhase(const Phase& p, Watchdog& dog, const Settings& s) {
    Result r{p.name, p.cycles};
    for (int i = 0; i < p.warmup; ++i) p.cycle(-1 - i, dog);
    r.start = Measure();
    dog.ResetSlowest();
    const auto t0 = Clock::now();
    for (int i = 0; i < p.cycles; ++i) p.cycle(i, dog);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::tie(r.slowest, r.slowestWhat) = dog.Slowest();
    r.end = Settled(r.start);
    if (r.end.threads > r.start.threads) r.problems.push_back("threads grew");
    if (r.end.fds > r.start.fds) r.problems.push_back("file descriptors grew");
    if (r.end.images > r.start.images) r.problems.push_back("store images grew");
    // A sanitizer's allocator keeps freed memory in quarantine; its leak check judges there.
    if (!kSanitized && r.end.rssKb - r.start.rssKb > static_cast<long>(s.rssMb * 1024))
        r.problems.push_back("resident memory grew beyond " + std::to_string(int(s.rssMb)) + " MB");
    return r;
}

std::string Text(size_t a, size_t b) {
    return std::to_string(a) + " -> " + std::to_string(b);
}

void Print(const Result& r) {
    char rss[64];
    std::snprintf(rss, sizeof rss, "%.1f -> %.1f MB", r.start.rssKb / 1024.0, r.end.rssKb / 1024.0);
    std::printf("| %-14s | %6d | %-9s | %-9s | %-9s | %-20s | %8.1f s | %7.3f s (%s) | %s |\n",
                r.name.c_str(), r.cycles, Text(r.start.threads, r.end.threads).c_str(),
                Text(r.start.fds, r.end.fds).c_str(), Text(r.start.images, r.end.images).c_str(),
                rss, r.seconds, r.slowest, r.slowestWhat.c_str(),
                r.problems.empty() ? "ok"
                                   : ("FAIL: " +
                                      [&] {
                                          std::string all;
                                          for (const auto& p : r.problems)
                                              all += (all.empty() ? "" : ", ") + p;
                                          return all;
                                      }())
                                         .c_str());
    std::fflush(stdout);
}

int Scaled(double scale, int count) {
    return std::max(1, static_cast<int>(count * scale + 0.5));
}

// A check inside a cycle: the phase cannot go on meaningfully when it fails.
void Require(bool condition, const std::string& what, int cycle) {
    if (condition) return;
    throw std::runtime_error(what + " (cycle " + std::to_string(cycle) + ")");
}

std::optional<Settings> ParseArguments(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](double& into, double min) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            into = std::strtod(argv[++i], &end);
            return *end == '\0' && into >= min && into < 1e6;
        };
        double seed = 0;
        if (arg == "--scale" && number(s.scale, 1e-4)) continue;
        if (arg == "--warp" && number(s.warp, 1)) continue;
        if (arg == "--timeout" && number(s.timeout, 1)) continue;
        if (arg == "--rss-mb" && number(s.rssMb, 0)) continue;
        if (arg == "--seed" && number(seed, 0)) {
            s.seed = static_cast<unsigned>(seed);
            continue;
        }
        if (arg == "--small-camera") {
            s.smallCamera = true;
            continue;
        }
        if (arg == "--module" && i + 1 < argc) {
            s.module = argv[++i];
            continue;
        }
        std::fprintf(stderr,
                     "usage: bx_soak [--scale F] [--warp W] [--seed N] [--timeout SECONDS] "
                     "[--rss-mb MB] [--small-camera] [--module FILE]\n"
                     "bad or incomplete argument: %s\n",
                     arg.c_str());
        return std::nullopt;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseArguments(argc, argv);
    if (!parsed) return 2;
    const Settings s = *parsed;
    bx::kernel::SetTimeWarp(s.warp);
    KvCamSim_Reset();
    ::unsetenv("KVCAM_SIM_CONFIG");
    if (s.smallCamera) KvCamSim_UseDescription("[sensor]\nwidth = 256\nheight = 192\n");
    const fs::path registry =
        fs::temp_directory_path() / ("bx_soak_" + std::to_string(::getpid()) + ".reg");
    bx::com::SetRegistryPath(registry.string());
    auto answers = std::make_shared<DefaultAnswers>();
    bx::ui::SetUiBackend(answers);
    std::mt19937 random(s.seed);

    // Started before any measurement, so its own thread is in every count.
    Watchdog dog(s.timeout);
    std::vector<Result> results;
    int status = 0;
    try {
        auto session = std::make_unique<Session>(s);
        Require(session->Ready(), "the simulated camera did not open", 0);
        Control& c = session->control();
        c.PutLong("ExposureTime", 1000);

        const Phase live{"live", Scaled(s.scale, 1000), 3, [&](int cycle, Watchdog& w) {
                             const uint64_t before = session->shown.load();
                             w.Time("EnableLiveVideo", [&] {
                                 Control::Check(c.ferro().EnableLiveVideo(), "EnableLiveVideo");
                             });
                             // At least one frame shown, or the start did not really start
                             // anything.
                             w.Time("the first live frame", [&] {
                                 while (session->shown.load() == before)
                                     std::this_thread::sleep_for(std::chrono::microseconds(200));
                             });
                             w.Time("DisableLiveVideo", [&] {
                                 Control::Check(c.ferro().DisableLiveVideo(), "DisableLiveVideo");
                             });
                             (void)cycle;
                         }};
        const Phase snap{"snap", Scaled(s.scale, 1000), 3, [&](int cycle, Watchdog& w) {
                             w.Time("Snap", [&] {
                                 Control::Check(c.ferro().Snap(), "Snap");
                                 LONG image = 0;
                                 Control::Check(c.ferro().GetImage(&image), "GetImage");
                                 Require(MM_IsValidImageHandle(image), "Snap gave no image", cycle);
                                 MM_DeleteImage(static_cast<MM_HANDLE>(image));
                             });
                         }};
        static const int32_t kFaults[] = {KVCAMSIM_FAULT_QUEUE, KVCAMSIM_FAULT_FRAME_ERROR,
                                          KVCAMSIM_FAULT_FRAME_LOST, KVCAMSIM_FAULT_GRAB};
        int failedGrabs = 0, shortGrabs = 0, reopened = 0;
        static const int32_t kCounts[] = {1, 2, 3, KVCAMSIM_ALWAYS};
        // A fault at a random point after a random number of good calls, for a random number
        // of calls: single failures are retried away, longer runs end the grab or the stream.
        auto arm = [&](bool armed) {
            const int32_t point = kFaults[random() % 4];
            const int32_t skip = static_cast<int32_t>(random() % 6);
            const int32_t count = kCounts[random() % 4];
            if (armed) KvCamSim_SetFault(point, KVCAMSIM_ANY_ID, skip, count, 0);
            return "fault " + std::to_string(point) + ", skip " + std::to_string(skip) +
                   ", count " + std::to_string(count);
        };
        const Phase grab{"grab+faults", Scaled(s.scale, 100), 1, [&](int cycle, Watchdog& w) {
                             const long frames = 3 + static_cast<long>(random() % 3);
                             c.PutLong("NumberOfFrames", frames);
                             c.PutLong("FrameRate", 0);
                             const std::string what = "Grab (" + arm(cycle >= 0) + ")";
                             w.Time(what, [&] {
                                 if (FAILED(c.ferro().Grab())) ++failedGrabs;
                                 if (c.GetLong("GrabProgress") < frames) ++shortGrabs;
                                 SetErrorInfo(0, nullptr);
                                 Release(c);
                             });
                             KvCamSim_ClearFaults();
                             // Live video reaches the queued-frame points (queue, frame error,
                             // frame lost).
                             const std::string live = "live video (" + arm(cycle >= 0) + ")";
                             w.Time("EnableLiveVideo, " + live, [&] {
                                 c.ferro().EnableLiveVideo();
                                 SetErrorInfo(0, nullptr);
                             });
                             std::this_thread::sleep_for(std::chrono::milliseconds(5));
                             w.Time("DisableLiveVideo, " + live, [&] {
                                 c.ferro().DisableLiveVideo();
                                 SetErrorInfo(0, nullptr);
                             });
                             KvCamSim_ClearFaults();
                             // A fault may leave the control without its camera; a host opens it
                             // again.
                             if (!session->Ready()) {
                                 ++reopened;
                                 w.Time("Initialise after a fault", [&] { session->Open(); });
                                 Require(session->Ready(),
                                         "the camera did not open again after " + what, cycle);
                             }
                         }};
        std::printf(
            "| phase          | cycles | threads   | fds       | images    | resident memory      "
            "| wall time  | slowest operation | result |\n|---|---|---|---|---|---|---|---|---|\n");
        for (const Phase* p : {&live, &snap, &grab}) {
            results.push_back(RunPhase(*p, dog, s));
            Print(results.back());
        }
        std::printf(
            "grab+faults: %d grabs failed, %d ended early, camera reopened %d times, "
            "%llu message boxes answered\n",
            failedGrabs, shortGrabs, reopened,
            static_cast<unsigned long long>(answers->boxes.load()));
        session.reset();

        const Phase lifecycle{
            "create/destroy", Scaled(s.scale, 200), 2, [&](int cycle, Watchdog& w) {
                w.Time("register, create, open, destroy", [&] {
                    std::string why;
                    const HRESULT hr = bxgrab::CallRegistration(s.module, false, &why);
                    Require(SUCCEEDED(hr), "registration failed: " + why, cycle);
                    Session once(s);
                    Require(once.Ready(), "the camera did not open", cycle);
                });
            }};
        results.push_back(RunPhase(lifecycle, dog, s));
        Print(results.back());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bx_soak: %s\n", e.what());
        status = 3;
    }
    std::error_code ec;
    fs::remove(registry, ec);
    fs::remove(registry.string() + ".lock", ec);
    for (const Result& r : results)
        if (!r.problems.empty()) status = status ? status : 1;
    std::printf("bx_soak: %s\n", status == 0 ? "all phases passed" : "FAILED");
    return status;
}
