// bxgrab live. The control runs live video on its own thread and calls bxgrab's frame handler
// there after each shown frame; the handler counts, reads the frame's number (cheaply, from
// the shown image in the store) and, when asked, measures the brightest pixel or keeps the
// frame. The main thread only starts, polls and stops: it watches the time, the stop signals
// and whether live video still runs, and prints the status line.
//
// The last frame is kept by the handler itself, right after the frame was shown and before
// the next one can be: the kept copy, the rendered picture and the totals then all describe
// the same frame, and the display image the picture is rendered through still exists (the
// live thread deletes it when it stops).
#include "live.h"

#include <bxmm/host.h>
#include <bxplatform/kernel.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "console.h"
#include "live/BXTessvikFocus.h"
#include "png_file.h"
#include "shown_frames.h"

namespace bxgrab {

namespace {

using bx::view::THeadlessImageView;
using Clock = std::chrono::steady_clock;

// How long a wait for a frame allows beyond the frame's exposure, on the platform clock...
constexpr int64_t kFrameGraceUs = 2'000'000;
// ... and at least in real time: a simulated frame also costs processor time, which the
// time warp does not shorten.
constexpr auto kFrameGraceReal = std::chrono::seconds(2);

// The bound of a wait for the next frame of `frameUs` (exposure and readout).
class FrameWait {
public:
    explicit FrameWait(int64_t frameUs) { Restart(frameUs); }
    void Restart(int64_t frameUs) {
        platformEnd_ = bx::kernel::NowMicroseconds() + frameUs + kFrameGraceUs;
        realEnd_ = Clock::now() + kFrameGraceReal;
    }
    bool Over() const {
        return bx::kernel::NowMicroseconds() > platformEnd_ && Clock::now() > realEnd_;
    }

private:
    int64_t platformEnd_ = 0;
    Clock::time_point realEnd_;
};

// A frame's exposure as the camera takes it, in microseconds (the grace covers the readout).
int64_t FrameMicroseconds(const TBXTessvikFerroFW& c) {
    return std::max<int64_t>(int64_t(c.ActualExposureMs.load()) * 1000, c.ExposureTime.load());
}

// ---- What the frame handler records ---------------------------------------------------------

// Shared by the frame handler (live thread) and the main thread. They share atomics only; the
// kept frame, its time and the picture are written by the handler before it sets `kept`
// (release) and read by the main thread after it saw `kept` (acquire).
struct LiveTally {
    // Set before live video starts.
    bool numbered = false;                     // frames carry the camera's frame number
    std::optional<NumberLayout> colourLayout;  // where a colour frame keeps it
    bool wantPicture = false;

    // Main-thread requests, taken by the handler at the next frame.
    std::atomic<bool> restart{false};  // count anew (after the auto-exposure pass)
    std::atomic<int64_t> startUs{0};   // when counting (re)started
    std::atomic<bool> measure{false};  // measure the brightest pixel
    std::atomic<bool> keep{false};     // keep this frame and count no more

    // Handler results.
    std::atomic<uint64_t> shown{0}, lost{0}, repeated{0}, unnumbered{0};
    std::atomic<int64_t> lastShownUs{0};
    std::atomic<uint32_t> brightest{0};
    std::atomic<bool> measured{false};
    std::atomic<bool> kept{false};
    std::optional<THeadlessImageView::Frame> frame;
    std::optional<THeadlessImageView::Rendered> picture;
    std::chrono::system_clock::time_point frameShownAt;  // when the kept frame was shown

    // The handler's own.
    FrameCheck check;

    // Auto-exposure frames (raised on the live thread).
    std::atomic<uint64_t> autoExposureFrames{0};
};

// The pixels of the image the view shows, locked in the store for the object's life: the
// frame just shown, read where it lies rather than copied.
class ShownPixels {
public:
    explicit ShownPixels(const THeadlessImageView& view) : image_(view.ShownImage()) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        leaf_ = MM_GetData(image_, index);
        if (leaf_ == 0) return;
        data_ = static_cast<const uint8_t*>(MM_Lock(leaf_, 0));
        if (data_ == nullptr) return;
        MM_VECTOR bounds;
        MM_InitBoundaries(image_, &bounds, 0);
        width_ = bounds.d[0];
        height_ = bounds.d[1];
        type_ = MM_GetDataType(image_);
        bytes_ = static_cast<size_t>(std::max<int64_t>(0, MM_GetFrameBytes(image_)));
    }
    ~ShownPixels() {
        if (data_ != nullptr) MM_Unlock(leaf_, 0);
    }
    ShownPixels(const ShownPixels&) = delete;
    ShownPixels& operator=(const ShownPixels&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    std::optional<uint32_t> Number(const LiveTally& t) const {
        if (type_ == MM_TYPE_BGR24)
            return t.colourLayout ? FrameNumberOf(data_, bytes_, *t.colourLayout) : std::nullopt;
        return FrameNumberOf(data_, bytes_, NumberLayout{type_, {}});
    }
    uint32_t Brightest(bool skipNumber) const {
        return BrightestPixel(data_, bytes_, type_, width_, height_, skipNumber);
    }

private:
    MM_HANDLE image_ = 0;
    MM_LEAF leaf_ = 0;
    const uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
    int32_t type_ = 0, width_ = 0, height_ = 0;
};

// The frame handler: runs on the live thread after each shown frame.
void OnFrameShown(LiveTally& t, const THeadlessImageView& view) {
    if (t.kept.load(std::memory_order_acquire)) return;
    const int64_t now = bx::kernel::NowMicroseconds();
    if (t.restart.exchange(false, std::memory_order_acq_rel)) t.check = FrameCheck{};
    const bool keep = t.keep.load(std::memory_order_acquire);
    std::optional<uint32_t> number;
    {
        const ShownPixels pixels(view);
        if (pixels && t.numbered) number = pixels.Number(t);
        if (pixels && (keep || t.measure.exchange(false, std::memory_order_acq_rel))) {
            t.brightest.store(pixels.Brightest(t.numbered), std::memory_order_release);
            t.measured.store(true, std::memory_order_release);
        }
    }
    t.check.Add(number);
    const FrameCheckTotals& totals = t.check.totals();
    t.lost.store(totals.lost, std::memory_order_release);
    t.repeated.store(totals.repeated, std::memory_order_release);
    t.unnumbered.store(totals.unnumbered, std::memory_order_release);
    t.lastShownUs.store(now, std::memory_order_release);
    t.shown.store(totals.shown, std::memory_order_release);
    if (keep) {
        t.frameShownAt = std::chrono::system_clock::now();
        t.frame = view.LastFrame();
        if (t.wantPicture) t.picture = view.RenderLastFrame();
        t.kept.store(true, std::memory_order_release);
    }
}

// ---- Reading the run ------------------------------------------------------------------------

double FramesPerSecond(const LiveTally& t, int64_t untilUs) {
    const double seconds = (untilUs - t.startUs.load(std::memory_order_acquire)) / 1e6;
    return seconds > 0 ? t.shown.load(std::memory_order_acquire) / seconds : 0.0;
}

std::string StatusText(const LiveTally& t, const TBXTessvikFerroFW& c) {
    std::string text = "live: " + std::to_string(t.shown.load()) + " frames, " +
                       Fixed(FramesPerSecond(t, bx::kernel::NowMicroseconds()), 1) +
                       " fps, exposure " + std::to_string(c.ExposureTime.load()) +
                       " us, brightest ";
    return text + (t.measured.load() ? std::to_string(t.brightest.load()) : std::string("-"));
}

// The camera's frame counts, when the camera is the simulated one.
std::optional<KvCamSimCounters> CameraCounters(const TBXTessvikFerroFW& c) {
    KvCamSimCounters counters{};
    if (KvCamSim_GetCounters(c.CameraHandle, &counters) != KVCAM_OK) return std::nullopt;
    return counters;
}

// Which frames carry a readable number, and where a colour frame keeps it.
void PrepareNumbering(LiveTally& t, const TBXTessvikFerroFW& c) {
    // Software binning thins the delivered rows, taking the number's pixels apart.
    t.numbered = CameraCounters(c).has_value() && !(c.IsMicroDot && c.RoiBinning.X > 1);
    int32_t pattern = KVCAM_BAYER_NONE;
    if (t.numbered && c.IsColourCamera &&
        KvCam_GetInfo(c.CameraHandle, KVCAM_INFO_BAYER_PATTERN, &pattern) == KVCAM_OK)
        t.colourLayout =
            ColourNumberLayout(static_cast<uint32_t>(pattern), c.CameraRoi.X, c.CameraRoi.Y);
}

// ---- Auto-exposure ----------------------------------------------------------------------------

bx::ui::TRadioButton* TargetButton(TBXTessvikFerroFW& c, int percent) {
    switch (percent) {
        case 25:
            return c.rbn_25;
        case 75:
            return c.rbn_75;
        case 100:
            return c.rbn_100;
        default:
            return c.rbn_50;
    }
}

// One auto-exposure pass while live video runs: the panel's target, then its button, whose
// caption reads "Stop" until the pass ends. A stop signal ends the pass early (the button
// again). Throws Failure when the pass makes no progress or live video ends meanwhile.
void RunAutoExposure(TBXTessvikFerroFW& c, int percent, LiveTally& t, const StopSignals& stop) {
    TargetButton(c, percent)->CheckAndClick();
    if (!c.btn_AutoExpose->Click()) throw Failure{kCamera, "auto-exposure could not be started"};
    bool stopAsked = false;
    uint64_t frames = t.autoExposureFrames.load();
    FrameWait progress(FrameMicroseconds(c));
    while (c.btn_AutoExpose->Caption() == "Stop") {
        if (!c.LiveActive) throw Failure{kCamera, "live video ended during auto-exposure"};
        if (stop.Caught() && !stopAsked) {
            stopAsked = true;
            c.btn_AutoExpose->Click();  // the pass ends at its next frame
        }
        if (const uint64_t seen = t.autoExposureFrames.load(); seen != frames) {
            frames = seen;
            progress.Restart(FrameMicroseconds(c));
        }
        // A pass that takes no frame in a frame's time has stalled.
        if (progress.Over()) throw Failure{kCamera, "auto-exposure made no progress"};
        bx::kernel::Sleep(2);
    }
    std::cout << "auto-exposure: target " << percent << " %, "
              << (stopAsked ? "stopped at " : "settled at ") << c.ExposureTime.load()
              << " us after " << t.autoExposureFrames.load() << " frames" << std::endl;
}

// ---- Files ------------------------------------------------------------------------------------

// The kept frame as a one-plane store image with the acquisition record, saved and described.
void SaveLastFrame(const THeadlessImageView::Frame& f,
                   std::chrono::system_clock::time_point shownAt, const std::string& path,
                   const TBXTessvikFerroFW& c) {
    const MM_HANDLE image = MM_CreateImage(f.width, f.height, f.type, 256);
    if (image == 0) throw Failure{kOutput, "no memory for a copy of the last frame"};
    struct Deleter {
        MM_HANDLE h;
        ~Deleter() { MM_DeleteImage(h); }
    } deleter{image};
    MM_CopyDefHeader(image);
    MM_VECTOR index;
    MM_InitVector(&index, 0);
    const MM_LEAF leaf = MM_GetData(image, index);
    auto* bits = static_cast<uint8_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
    if (bits == nullptr) throw Failure{kOutput, "cannot write the copy of the last frame"};
    std::memcpy(bits, f.pixels.data(),
                std::min<size_t>(f.pixels.size(), size_t(MM_GetFrameBytes(image))));
    MM_Unlock(leaf, 1);
    MM_SetName(image, "live");
    const std::string header = c.BuildAcquisitionHeader(false);
    MM_WriteComment(image, header.c_str(), static_cast<int32_t>(header.size() + 1));
    SaveImage(image, path, AcquisitionSaveOptions(c, shownAt));
    Describe(image, path);
}

void WritePreview(const THeadlessImageView::Rendered& picture, const std::string& path) {
    const std::string error = WriteBgrPng(path, picture.width, picture.height, picture.bgr);
    if (!error.empty()) throw Failure{kOutput, "could not write " + path + ": " + error};
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    std::cout << path << ": " << picture.width << " x " << picture.height << ", RGB PNG, "
              << (ec ? 0 : bytes) << " bytes" << std::endl;
}

void CheckOutputs(const LiveOptions& o) {
    if (!o.preview.empty()) {
        const std::string& p = o.preview;
        std::string lower = p;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".png") != 0)
            throw Failure{kUsage, "preview must end in .png: " + p};
        CheckWritable(p);
    }
    if (!o.saveLast.empty()) {
        IsOmeTiff(o.saveLast);
        CheckWritable(o.saveLast);
    }
}

// ---- The run ----------------------------------------------------------------------------------

enum class Ending { TimeUp, Signal, Failed };

// Polls until the time is up, a stop signal came or live video ended by itself, refreshing
// the status line (in place four times a second on a terminal, else a line a second).
Ending Watch(TBXTessvikFerroFW& c, LiveTally& t, const LiveOptions& o, const StopSignals& stop,
             StatusLine& status) {
    const int64_t startUs = bx::kernel::NowMicroseconds();
    const auto period =
        status.terminal() ? std::chrono::milliseconds(250) : std::chrono::seconds(1);
    auto nextStatus = Clock::now() + period;
    for (;;) {
        if (stop.Caught()) return Ending::Signal;
        if (!c.LiveActive) return Ending::Failed;
        const int64_t elapsedUs = bx::kernel::NowMicroseconds() - startUs;
        if (o.seconds && elapsedUs >= *o.seconds * 1e6) return Ending::TimeUp;
        if (Clock::now() >= nextStatus) {
            status.Show(StatusText(t, c));
            t.measure = true;  // for the next line
            nextStatus += period;
        }
        int64_t napUs = 20'000;
        if (o.seconds) napUs = std::clamp<int64_t>(int64_t(*o.seconds * 1e6) - elapsedUs, 1, napUs);
        bx::kernel::SleepMicroseconds(napUs);
    }
}

// Asks the handler to keep the next frame and waits for it, bounded by one frame's time.
bool KeepLastFrame(TBXTessvikFerroFW& c, LiveTally& t) {
    t.keep.store(true, std::memory_order_release);
    const FrameWait wait(FrameMicroseconds(c));
    while (!t.kept.load(std::memory_order_acquire)) {
        if (!c.LiveActive || wait.Over()) return false;
        bx::kernel::Sleep(1);
    }
    return true;
}

const char* EndingText(Ending ending, int signal) {
    if (ending == Ending::Failed) return "live video failed";
    if (ending == Ending::TimeUp) return "time up";
    return StoppedText(signal);
}

void PrintSummary(const LiveTally& t, Ending ending, int signal,
                  const std::optional<KvCamSimCounters>& before,
                  const std::optional<KvCamSimCounters>& after) {
    const int64_t endUs = t.lastShownUs.load();
    std::cout << "live: " << EndingText(ending, signal) << " after "
              << Fixed(std::max<int64_t>(0, endUs - t.startUs.load()) / 1e6, 1) << " s\n"
              << "frames shown: " << t.shown.load() << "\n"
              << "frames per second: " << Fixed(FramesPerSecond(t, endUs), 1) << "\n";
    if (before && after)
        std::cout << "camera frames completed: " << after->completed - before->completed
                  << " (aborted " << after->aborted - before->aborted << ", failed "
                  << after->failed - before->failed << ")\n";
    const uint64_t shown = t.shown.load(), unnumbered = t.unnumbered.load();
    if (!t.numbered || (shown > 0 && unnumbered == shown)) {
        std::cout << "frames lost: not checked ("
                  << (t.numbered ? "no frame carried a readable number"
                                 : "this camera writes no frame number")
                  << ")\nframes shown twice: not checked\n";
    } else {
        std::cout << "frames lost: " << t.lost.load() << "\n"
                  << "frames shown twice: " << t.repeated.load() << "\n";
        if (t.unnumbered.load() > 0)
            std::cout << "frames without a readable number: " << t.unnumbered.load() << "\n";
    }
    std::cout << std::flush;
}

void Start(TBXTessvikFerroFW& c) {
    try {
        ferro::StartLive(c);
    } catch (const std::exception& e) {
        throw Failure{kCamera, std::string("live video failed: ") + e.what() + " (camera error " +
                                   std::to_string(c.LastCameraError) + ")"};
    }
    if (!c.LiveActive) throw Failure{kCamera, "live video did not start (the camera is not ready)"};
}

}  // namespace

int RunLive(const Options& options, const LiveOptions& o) {
    CheckOutputs(o);
    StatusLine status(::isatty(STDOUT_FILENO) == 1);
    const StopSignals stop;
    // Outlives the host, so the live thread never calls a handler whose state has gone.
    LiveTally t;
    t.wantPicture = !o.preview.empty();
    Host host(options,
              {true, std::make_shared<StatusConsoleUi>(AnswerCode(options.answer), status)});
    TBXTessvikFerroFW& c = host.control();
    ApplyAcquisitionOptions(c, o.acquisition);
    PrepareNumbering(t, c);
    const THeadlessImageView& view = host.view();
    c.SetLiveFrameUpdateHandler([&t, &view] { OnFrameShown(t, view); });
    c.Events.Set(ferro::EventId::OnProcessUpdate, [&t, &c] {
        if (c.GrabProgress.load() == -3) t.autoExposureFrames.fetch_add(1);
    });

    Start(c);
    if (o.autoExposure) RunAutoExposure(c, *o.autoExposure, t, stop);
    t.startUs = bx::kernel::NowMicroseconds();
    t.measure = true;
    t.restart = true;
    const auto before = CameraCounters(c);
    const Ending ending = stop.Caught() ? Ending::Signal : Watch(c, t, o, stop, status);
    const bool kept = ending != Ending::Failed && KeepLastFrame(c, t);
    ferro::StopLive(c);
    const auto after = CameraCounters(c);
    status.Break();
    PrintSummary(t, ending, stop.Caught(), before, after);

    if (ending == Ending::Failed)
        throw Failure{kCamera, "live video stopped by itself (see the message above)"};
    if (!o.preview.empty() || !o.saveLast.empty()) {
        if (!kept || !t.frame) throw Failure{kCamera, "no frame was shown: nothing to save"};
        if (!o.preview.empty()) {
            if (!t.picture) throw Failure{kOutput, "the last frame could not be rendered"};
            WritePreview(*t.picture, o.preview);
        }
        if (!o.saveLast.empty()) SaveLastFrame(*t.frame, t.frameShownAt, o.saveLast, c);
    }
    return kOk;
}

}  // namespace bxgrab
