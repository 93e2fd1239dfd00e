// bxgrab grab. The control's Grab runs on the main thread and returns only when the sequence
// is over; bxgrab follows it through the control's progress events, which it raises on this
// thread, and reaches it only through the message queue, which the control dispatches after
// each frame and while it waits (a pre-trigger phase, the disk start gate, long intervals).
//
// So nothing here calls into the control from another thread: a watcher thread polls the stop
// signals, the --seconds limit and the end of the pre-trigger phase (its time, or Enter) and
// posts a message; bxgrab's message handler, run by the control's dispatch, sets Abort or ends
// the pre-trigger phase (PreTriggerClick). Progress comes from the control's events on the
// sink (OnProcessUpdate with GrabProgress, the time updates) and the properties they name.
#include "grab.h"

#include <bxmm/host.h>
#include <bxplatform/kernel.h>
#include <kvcam/kvcam_sim.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "console.h"

namespace bxgrab {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// bxgrab's own thread messages.
constexpr uint32_t kStopMessage = bx::ui::WM_USER + 1;     // abort the grab
constexpr uint32_t kTriggerMessage = bx::ui::WM_USER + 2;  // end the pre-trigger phase

// A sequence above this share of the memory available goes through a disk device.
constexpr double kMemoryShare = 0.8;
constexpr int32_t kDefaultSectorBytes = 4096;

// ---- Options checked before the camera starts -----------------------------------------------

struct DiskDevice {
    std::string path;
    int32_t sectorBytes = kDefaultSectorBytes;
};

// DEVICE[:SECTOR]; a colon followed by anything but digits belongs to the path.
std::optional<DiskDevice> ParseDisk(const std::string& text) {
    if (text.empty()) return std::nullopt;
    DiskDevice disk{text};
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos && colon + 1 < text.size() &&
        text.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        disk.path = text.substr(0, colon);
        const long sector = std::strtol(text.c_str() + colon + 1, nullptr, 10);
        if (sector < 512 || sector > (1 << 20) || (sector & (sector - 1)) != 0)
            throw Failure{kUsage, "disk sector size must be a power of two from 512 to 1048576: " +
                                      text.substr(colon + 1)};
        disk.sectorBytes = static_cast<int32_t>(sector);
    }
    if (disk.path.empty()) throw Failure{kUsage, "--disk needs a device or file: " + text};
    return disk;
}

// The interval in whole milliseconds, as the control counts it; says so when it rounds.
int IntervalMilliseconds(const std::string& text) {
    const auto us = ParseMicroseconds(text, int64_t{INT_MAX} * 1000);
    if (!us) throw Failure{kUsage, "interval must be a time such as 100ms, 2s or 0: " + text};
    const int64_t ms = (*us + 500) / 1000;
    if (ms * 1000 != *us)
        std::cerr << "bxgrab: interval " << *us << " us asked, the grab uses " << ms << " ms\n";
    return static_cast<int>(ms);
}

// ---- The temporary device of sequences larger than memory -----------------------------------

// What the system can give without swapping: MemAvailable of /proc/meminfo, or the bytes in
// BXGRAB_MEMORY_AVAILABLE (so the automatic device can be tried on any machine).
std::optional<uint64_t> AvailableMemory() {
    if (const char* forced = std::getenv("BXGRAB_MEMORY_AVAILABLE"); forced && *forced)
        return std::strtoull(forced, nullptr, 10);
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    std::string unit;
    while (in >> key >> kib >> unit)
        if (key == "MemAvailable:") return kib * 1024;
    return std::nullopt;
}

// A device file next to the output, so it lies on a file system that takes the output too;
// removed when the grab is over.
class TemporaryDevice {
public:
    explicit TemporaryDevice(const std::string& output) {
        const fs::path target = fs::absolute(output);
        std::string name =
            (target.parent_path() / ("." + target.filename().string() + ".frames-XXXXXX")).string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0)
            throw Failure{kOutput, "cannot create a temporary disk device in " +
                                       target.parent_path().string() + ": " + std::strerror(errno)};
        ::close(fd);
        path_ = name;
    }
    ~TemporaryDevice() {
        bx::mm::CloseDisk();
        std::error_code ec;
        fs::remove(path_, ec);
    }
    TemporaryDevice(const TemporaryDevice&) = delete;
    TemporaryDevice& operator=(const TemporaryDevice&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string Megabytes(uint64_t bytes) {
    return Fixed(bytes / 1e6, 1) + " MB";
}

// Configures the disk device asked for, or a temporary one when the sequence would not fit in
// memory. True when the grab goes through a device.
// The bytes of one frame: the grab window's size at the camera's depth.
uint64_t FrameBytes(Control& c) {
    const long depth = c.GetLong("BitDepth");
    const uint64_t pixel = depth == 24 ? 3 : depth <= 8 ? 1 : 2;
    return uint64_t(std::max(0L, c.GetLong("GrabWindowWidth"))) *
           uint64_t(std::max(0L, c.GetLong("GrabWindowHeight"))) * pixel;
}

bool PrepareDisk(Control& c, const GrabOptions& g, const std::optional<DiskDevice>& disk,
                 std::optional<TemporaryDevice>& temporary) {
    if (disk) {
        if (!bx::mm::ConfigureDisk(disk->path, disk->sectorBytes, 0))
            throw Failure{kOutput, "cannot use " + disk->path + " as the disk device"};
        std::cout << "grab: frames go to the disk device " << disk->path << std::endl;
        return true;
    }
    const uint64_t bytes = uint64_t(g.frames) * FrameBytes(c);
    const auto available = AvailableMemory();
    if (!available || bytes <= *available * kMemoryShare) return false;
    temporary.emplace(g.output);
    std::error_code ec;
    const auto space = fs::space(fs::path(temporary->path()).parent_path(), ec);
    // The device holds the frames once and the output once more.
    if (!ec && space.available < 2 * bytes)
        throw Failure{kOutput, "the sequence of " + Megabytes(bytes) +
                                   " exceeds the memory available and the folder of the output "
                                   "has no room for it twice (" +
                                   Megabytes(space.available) + " free)"};
    if (!bx::mm::ConfigureDisk(temporary->path(), kDefaultSectorBytes, 0))
        throw Failure{kOutput, "cannot use " + temporary->path() + " as the disk device"};
    std::cout << "grab: the sequence of " << Megabytes(bytes) << " exceeds the memory available ("
              << Megabytes(*available) << "); frames go through " << temporary->path() << std::endl;
    return true;
}

// ---- What the handlers and the watcher share --------------------------------------------------

struct GrabState {
    // Set before the grab starts.
    int frames = 0;
    bool recycle = false;
    bool disk = false;
    bool preTrigger = false;
    std::optional<double> preTriggerSeconds, seconds;
    int64_t startUs = 0;  // when Grab was called
    std::optional<KvCamSimCounters> cameraBefore;

    // Main thread only (the handlers).
    bool stopRequested = false;  // the stop message arrived: Abort stays set
    bool lastShown = false;      // the last frame's progress line was printed
    Clock::time_point nextLine{};
    std::optional<std::chrono::system_clock::time_point> acquired;  // timed frames began
    int64_t timedStartUs = 0;

    // Shared with the watcher.
    std::atomic<int64_t> phaseStartUs{0};  // the pre-trigger phase began; 0 before
    std::atomic<bool> triggerPosted{false}, stopPosted{false}, timeUp{false};
};

// True when Enter was pressed or standard input ended (nobody is left to press it).
bool EnterPressed() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0) return false;
    if (in.revents & POLLNVAL) return true;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    return n <= 0 || std::memchr(buffer, '\n', static_cast<size_t>(n)) != nullptr;
}

// The watcher thread: turns what it notices into messages for the main thread.
void Watch(GrabState& s, const StopSignals& stop, const std::stop_token& done) {
    while (!done.stop_requested()) {
        const int64_t now = bx::kernel::NowMicroseconds();
        if (!s.stopPosted) {
            const bool timeUp = s.seconds && now - s.startUs >= *s.seconds * 1e6;
            if (stop.Caught() || timeUp) {
                s.timeUp = timeUp && !stop.Caught();
                s.stopPosted = true;
                bx::ui::PostThreadMessage(kStopMessage);
            }
        }
        const int64_t phase = s.phaseStartUs.load();
        if (phase != 0 && !s.triggerPosted) {
            const bool over =
                s.preTriggerSeconds ? now - phase >= *s.preTriggerSeconds * 1e6 : EnterPressed();
            if (over) {
                s.triggerPosted = true;
                bx::ui::PostThreadMessage(kTriggerMessage);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// bxgrab's message handler for its grab, registered for the grab's lifetime.
class GrabMessages {
public:
    GrabMessages(Control& c, GrabState& s)
        : id_(bx::ui::AddMessageHandler([&c, &s](const bx::ui::TMessage& m) {
              if (m.Window != 0) return;
              if (m.Msg == kStopMessage) {
                  s.stopRequested = true;
                  c.PutBool("Abort", true);
              }
              // Ends the pre-trigger phase on a stop too, so an abort during it is not left
              // waiting; the disk start gate opens at a right button release.
              if ((m.Msg == kStopMessage || m.Msg == kTriggerMessage) &&
                  c.GetLong("GrabProgress") == -2) {
                  if (s.preTrigger)
                      c.ferro().PreTriggerClick();
                  else if (m.Msg == kStopMessage)
                      bx::ui::PostThreadMessage(bx::ui::WM_RBUTTONUP);
              }
          })) {}
    ~GrabMessages() { bx::ui::RemoveMessageHandler(id_); }
    GrabMessages(const GrabMessages&) = delete;
    GrabMessages& operator=(const GrabMessages&) = delete;

private:
    int id_;
};

// ---- Progress -------------------------------------------------------------------------------

std::string ProgressText(Control& c, const GrabState& s) {
    const long p = c.GetLong("GrabProgress");
    if (p == -1) return "grab: starting";
    if (p == -2) return s.preTrigger ? "grab: pre-trigger" : "grab: waiting at the disk gate";
    std::string text = "grab: frame " + std::to_string(std::max(p, 0L)) + " of " +
                       std::to_string(s.frames) + ", elapsed " +
                       std::to_string(c.GetLong("TimeElapsed")) + " s";
    if (!s.recycle) text += ", remaining " + std::to_string(c.GetLong("TimeRemaining")) + " s";
    return text + ", next frame in " + std::to_string(c.GetLong("TimeToNextFrame")) + " s";
}

// Refreshes the progress line: in place ten times a second at most on a terminal, else a line
// a second; and the last frame's line whenever it comes.
void ShowProgress(Control& c, GrabState& s, StatusLine& status) {
    const auto now = Clock::now();
    const bool last = !s.recycle && c.GetLong("GrabProgress") == s.frames && !s.lastShown;
    if (!last && now < s.nextLine) return;
    s.lastShown = s.lastShown || last;
    status.Show(ProgressText(c, s));
    s.nextLine = now + (status.terminal() ? std::chrono::milliseconds(100)
                                          : std::chrono::milliseconds(1000));
}

void StartPreTrigger(GrabState& s, StatusLine& status) {
    s.phaseStartUs = std::max<int64_t>(1, bx::kernel::NowMicroseconds());
    status.Break();
    if (s.preTriggerSeconds)
        std::cout << "grab: pre-trigger; the timed frames start in "
                  << Fixed(*s.preTriggerSeconds, 1) << " s" << std::endl;
    else
        std::cout << "grab: pre-trigger; press Enter to start the timed frames" << std::endl;
}

void OnProcessUpdate(Control& c, GrabState& s, StatusLine& status) {
    // Grab clears Abort as it begins; a stop that arrived before then still holds.
    if (s.stopRequested && !c.GetBool("Abort")) c.PutBool("Abort", true);
    const long p = c.GetLong("GrabProgress");
    if (p == -2 && s.preTrigger && s.phaseStartUs == 0) {
        StartPreTrigger(s, status);
    } else if (p == -2 && s.disk) {
        // The disk path opens its start gate at a right button release; posted now, the
        // message is dispatched by the gate rather than before it.
        bx::ui::PostThreadMessage(bx::ui::WM_RBUTTONUP);
    } else if (p == 0 && !s.acquired) {
        s.acquired = std::chrono::system_clock::now();
        s.timedStartUs = bx::kernel::NowMicroseconds();
    }
    ShowProgress(c, s, status);
}

void SetProgressHandlers(Control& c, ControlEvents& events, GrabState& s, StatusLine& status) {
    events.Set("OnProcessUpdate", [&c, &s, &status] { OnProcessUpdate(c, s, status); });
    for (const char* name :
         {"OnTimeToNextFrameUpdate", "OnTimeElapsedUpdate", "OnTimeRemainingUpdate"})
        events.Set(name, [&c, &s, &status] { ShowProgress(c, s, status); });
}

// ---- The run --------------------------------------------------------------------------------

struct Outcome {
    MM_HANDLE image = 0;
    std::string failure;  // why Grab failed; empty when it did not
};

Outcome RunSequence(Control& c, ControlEvents& events, GrabState& s, const StopSignals& stop,
                    StatusLine& status) {
    SetProgressHandlers(c, events, s, status);
    const GrabMessages messages(c, s);
    s.startUs = bx::kernel::NowMicroseconds();
    std::jthread watcher([&s, &stop](std::stop_token done) { Watch(s, stop, done); });
    Outcome outcome;
    const HRESULT hr = c.ferro().Grab();
    if (FAILED(hr)) outcome.failure = ErrorText(hr);
    // After a failure too: the frames before it are still the image's.
    LONG image = 0;
    if (SUCCEEDED(c.ferro().GetImage(&image)) && MM_IsValidImageHandle(image))
        outcome.image = static_cast<MM_HANDLE>(image);
    else
        SetErrorInfo(0, nullptr);  // "no image" is no news after the grab's own failure
    watcher.request_stop();
    watcher.join();
    events.ClearHandlers();
    if (status.terminal()) status.Show(ProgressText(c, s));  // the end values
    status.Break();
    return outcome;
}

// What the camera did during the grab, so frames it delivered beyond the image show.
void PrintCameraCounts(const std::optional<KvCamSimCounters>& before,
                       const std::optional<KvCamSimCounters>& after) {
    if (!before || !after) return;
    std::cout << "camera frames delivered: " << after->completed - before->completed << " queued, "
              << after->grabbed - before->grabbed << " grabbed (aborted "
              << after->aborted - before->aborted << ", failed " << after->failed - before->failed
              << ")\ncamera stream: " << StreamHealthText(*before, *after) << std::endl;
}

std::string Seconds(int64_t us) {
    return Fixed(std::max<int64_t>(0, us) / 1e6, 2) + " s";
}

void PrintSummary(const GrabState& s, int64_t frames, int signal, int64_t endUs) {
    const std::string took = Seconds(s.acquired ? endUs - s.timedStartUs : 0);
    std::cout << "grab: ";
    if (signal != 0)
        std::cout << StoppedText(signal) << " after " << frames << " of " << s.frames << " frames, "
                  << took;
    else if (s.timeUp)
        std::cout << "time up after " << Seconds(endUs - s.startUs) << ", " << frames
                  << " frames kept";
    else
        std::cout << frames << " frames in " << took;
    if (s.recycle) std::cout << " (recycled)";
    std::cout << std::endl;
}

// Saves what the grab acquired and says how it went; a failed grab that acquired frames is
// saved too, and then exits with the camera failure.
int Finish(Control& c, const GrabState& s, const Outcome& outcome, int signal,
           const std::string& output) {
    const int64_t endUs = bx::kernel::NowMicroseconds();
    PrintCameraCounts(s.cameraBefore, CameraCounters());
    const std::string cameraError;
    if (outcome.image == 0) {
        if (!outcome.failure.empty())
            throw Failure{kCamera, "grab failed: " + outcome.failure + cameraError};
        if (signal != 0 || s.timeUp)
            throw Failure{kCamera, std::string(signal ? StoppedText(signal) : "time up") +
                                       " before the first frame: nothing to save"};
        throw Failure{kCamera, "grab made no image (the camera is not ready)"};
    }
    const auto info = bx::mm::Describe(outcome.image);
    const int64_t frames = info ? info->frames : 0;
    if (!outcome.failure.empty())
        std::cerr << "bxgrab: grab failed after " << frames << " of " << s.frames
                  << " frames: " << outcome.failure << cameraError << "; saving those frames\n";
    else
        PrintSummary(s, frames, signal, endUs);
    SaveImage(outcome.image, output,
              AcquisitionSaveOptions(c, outcome.image,
                                     s.acquired.value_or(std::chrono::system_clock::now())));
    Describe(outcome.image, output);
    return outcome.failure.empty() ? kOk : kCamera;
}

}  // namespace

int RunGrab(const Options& options, const GrabOptions& g) {
    IsOmeTiff(g.output);  // refuses other names before the camera starts
    CheckWritable(g.output);
    const int intervalMs = IntervalMilliseconds(g.interval);
    const std::optional<DiskDevice> disk = ParseDisk(g.disk);
    StatusLine status(::isatty(STDOUT_FILENO) == 1);
    const StopSignals stop;
    GrabState s;
    s.frames = g.frames;
    s.recycle = g.recycle;
    s.preTrigger = g.preTrigger;
    s.preTriggerSeconds = g.preTriggerSeconds;
    s.seconds = g.seconds;
    // Outlives the host, so the device goes only when nothing uses it any more.
    std::optional<TemporaryDevice> temporary;
    Host host(options,
              {false, std::make_shared<StatusConsoleUi>(AnswerCode(options.answer), status)});
    Control& c = host.control();
    ApplyAcquisitionOptions(c, g.acquisition);
    c.PutLong("NumberOfFrames", g.frames);
    c.PutLong("FrameRate", intervalMs);
    c.PutBool("Recycle", g.recycle);
    c.PutBool("PreTrigger", g.preTrigger);
    s.disk = PrepareDisk(c, g, disk, temporary);
    s.cameraBefore = CameraCounters();
    const Outcome outcome = RunSequence(c, host.events(), s, stop, status);
    return Finish(c, s, outcome, stop.Caught(), g.output);
}

}  // namespace bxgrab
