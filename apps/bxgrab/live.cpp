// bxgrab live. The control runs live video on its own thread and raises OnLiveFrameUpdate
// there after each shown frame; bxgrab's handler for it counts, reads the frame's number (cheaply,
// from the shown image in the store) and, when asked, measures the brightest pixel or keeps the
// frame. The main thread only starts, polls and stops: it watches the time, the stop signals
// and whether live video still runs, and prints the status line.
//
// The last frame is kept by the handler itself, right after the frame was shown and before
// the next one can be: the kept copy, the rendered picture and the totals then all describe
// the same frame, and the display image the picture is rendered through still exists (the
// live thread deletes it when it stops).
//
// The auto-exposure pass is bxgrab's own: the control's pass is started from its panel, which
// its interfaces do not reach, so bxgrab measures shown frames and sets ExposureTime until the
// brightest pixel is near the target share of full scale.
#include "live.h"

#include <bxmm/host.h>
#include <bxplatform/kernel.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <kvcam/kvcam.h>

#include <ctime>

#include "console.h"
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
    explicit FrameWait(int64_t frameUs, int periods = 1) : periods_(periods) { Restart(frameUs); }
    void Restart(int64_t frameUs) {
        platformEnd_ = bx::kernel::NowMicroseconds() + periods_ * (frameUs + kFrameGraceUs);
        realEnd_ = Clock::now() + periods_ * kFrameGraceReal;
    }
    bool Over() const {
        return bx::kernel::NowMicroseconds() > platformEnd_ && Clock::now() > realEnd_;
    }

private:
    int periods_;
    int64_t platformEnd_ = 0;
    Clock::time_point realEnd_;
};

// A frame's exposure as the camera takes it, in microseconds (the grace covers the readout).
int64_t FrameMicroseconds(Control& c) {
    return c.GetLong("ExposureTime");
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
    std::atomic<int32_t> brightestType{0};  // the store type of the frame measured
    std::atomic<bool> measured{false};
    std::atomic<bool> kept{false};
    std::optional<THeadlessImageView::Frame> frame;
    std::optional<THeadlessImageView::Rendered> picture;
    std::chrono::system_clock::time_point frameShownAt;  // when the kept frame was shown

    // The handler's own.
    FrameCheck check;
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
    int32_t type() const { return type_; }
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
            t.brightestType.store(pixels.type(), std::memory_order_release);
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

std::string StatusText(const LiveTally& t, long exposureUs) {
    std::string text = "live: " + std::to_string(t.shown.load()) + " frames, " +
                       Fixed(FramesPerSecond(t, bx::kernel::NowMicroseconds()), 1) +
                       " fps, exposure " + std::to_string(exposureUs) + " us, brightest ";
    return text + (t.measured.load() ? std::to_string(t.brightest.load()) : std::string("-"));
}

// Which frames carry a readable number, and where a colour frame keeps it. Binned frames may
// have been thinned in software, taking the number's pixels apart: they are not checked.
void PrepareNumbering(LiveTally& t, Control& c) {
    const KvCamHandle camera = OpenCameraHandle();
    t.numbered = SimulatedCameraOpen() && c.GetLong("BinningFactorX") == 1;
    int32_t pattern = KVCAM_BAYER_NONE;
    if (t.numbered && c.GetLong("BitDepth") == 24 &&
        KvCam_GetInfo(camera, KVCAM_INFO_BAYER_PATTERN, &pattern) == KVCAM_OK) {
        const bool windowed = c.GetBool("WindowedGrab");
        t.colourLayout =
            ColourNumberLayout(static_cast<uint32_t>(pattern),
                               windowed ? static_cast<uint32_t>(c.GetLong("GrabWindowLeft")) : 0,
                               windowed ? static_cast<uint32_t>(c.GetLong("GrabWindowTop")) : 0);
    }
}

// ---- Auto-exposure ----------------------------------------------------------------------------

// The brightest value a frame of this store type can hold.
uint32_t FullScale(int32_t type, long bitDepth) {
    if (type == MM_TYPE_GREY8 || type == MM_TYPE_BGR24 || bitDepth <= 0 || bitDepth > 16)
        return 255;
    return (1u << bitDepth) - 1;
}

// Measures the next frame shown after `after` frames; false when none comes in a frame's time.
bool MeasureFrame(Control& c, LiveTally& t, uint64_t after, const StopSignals& stop) {
    // Two frames may be needed (the one in flight at a change, then the next): a longer bound.
    const FrameWait wait(FrameMicroseconds(c), 3);
    while (t.shown.load() <= after) {
        if (stop.Caught() || wait.Over()) return false;
        bx::kernel::Sleep(1);
    }
    t.measured = false;
    t.measure = true;
    while (!t.measured.load()) {
        if (stop.Caught() || wait.Over()) return false;
        bx::kernel::Sleep(1);
    }
    return true;
}

// One auto-exposure pass while live video runs: each step measures a frame taken with the
// exposure in use (one frame after a change, which may still have been in flight) and scales
// the exposure towards the target; it settles within a tenth of the target, or when the
// exposure can change no more. A stop signal ends the pass early. Throws Failure when the
// pass sees no frames.
void RunAutoExposure(Control& c, int percent, LiveTally& t, const StopSignals& stop) {
    constexpr int kMaxSteps = 40;
    constexpr long kMaxExposureUs = 10'000'000;
    const long bitDepth = c.GetLong("BitDepth");
    int steps = 0;
    bool stopped = false;
    for (uint64_t after = t.shown.load(); steps < kMaxSteps; ++steps) {
        if (stop.Caught()) {
            stopped = true;
            break;
        }
        if (!MeasureFrame(c, t, after, stop)) {
            if (stop.Caught()) {
                stopped = true;
                break;
            }
            throw Failure{kCamera, "auto-exposure made no progress (no frame was shown)"};
        }
        const double full = FullScale(t.brightestType.load(), bitDepth);
        const double target = full * percent / 100.0;
        const double brightest = t.brightest.load();
        if (std::abs(brightest - target) <= target * 0.1 ||
            (percent == 100 && brightest >= full * 0.9)) {
            ++steps;
            break;
        }
        const long exposure = c.GetLong("ExposureTime");
        // A saturated frame says only "too bright": halve.
        const double scale = brightest >= full ? 0.5 : target / std::max(brightest, 1.0);
        const long wanted =
            std::clamp<long>(std::lround(exposure * std::min(scale, 16.0)), 1, kMaxExposureUs);
        c.PutLong("ExposureTime", wanted);
        if (c.GetLong("ExposureTime") == exposure) {
            ++steps;
            break;  // at a limit of the camera
        }
        after = t.shown.load() + 1;
    }
    std::cout << "auto-exposure: target " << percent << " %, "
              << (stopped ? "stopped at " : "settled at ") << c.GetLong("ExposureTime")
              << " us after " << steps << " frames" << std::endl;
}

// ---- Files ------------------------------------------------------------------------------------

// bxgrab's own record of a live frame, in the shape of the control's acquisition records: the
// live display image carries none, so the values come from the control's properties.
std::string FrameRecord(Control& c, const std::string& progid,
                        std::chrono::system_clock::time_point shownAt) {
    const std::time_t clock = std::chrono::system_clock::to_time_t(shownAt);
    std::tm now{};
    localtime_r(&clock, &now);
    char date[32], time[32];
    std::strftime(date, sizeof date, "%d/%m/%Y", &now);
    std::strftime(time, sizeof time, "%H:%M:%S", &now);
    std::string text = std::string("[Created]\r\nDate=") + date + "\r\nTime=" + time +
                       "\r\n[Grab Parameters]\r\nCamera=" + progid + "\r\n";
    for (const char* name :
         {"GrabWindowLeft", "GrabWindowTop", "GrabWindowRight", "GrabWindowBottom",
          "BinningFactorX", "GrabWindowWidth", "GrabWindowHeight"})
        text += std::string(name) + "=" + std::to_string(c.GetLong(name)) + "\r\n";
    return text + "Exposure=" + std::to_string(c.GetLong("ExposureTime")) + "\r\n";
}

// The kept frame as a one-plane store image with the acquisition record, saved and described.
void SaveLastFrame(const THeadlessImageView::Frame& f,
                   std::chrono::system_clock::time_point shownAt, const std::string& path,
                   Control& c, const std::string& progid) {
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
    const std::string header = FrameRecord(c, progid, shownAt);
    MM_WriteComment(image, header.c_str(), static_cast<int32_t>(header.size() + 1));
    SaveImage(image, path, AcquisitionSaveOptions(c, image, shownAt));
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
Ending Watch(Control& c, LiveTally& t, const LiveOptions& o, const StopSignals& stop,
             StatusLine& status) {
    const int64_t startUs = bx::kernel::NowMicroseconds();
    // Live video that shows no frame for a frame's time has ended by itself.
    uint64_t shown = t.shown.load();
    FrameWait frames(FrameMicroseconds(c));
    const auto period =
        status.terminal() ? std::chrono::milliseconds(250) : std::chrono::seconds(1);
    auto nextStatus = Clock::now() + period;
    for (;;) {
        if (stop.Caught()) return Ending::Signal;
        if (const uint64_t now = t.shown.load(); now != shown) {
            shown = now;
            frames.Restart(FrameMicroseconds(c));
        } else if (frames.Over()) {
            return Ending::Failed;
        }
        const int64_t elapsedUs = bx::kernel::NowMicroseconds() - startUs;
        if (o.seconds && elapsedUs >= *o.seconds * 1e6) return Ending::TimeUp;
        if (Clock::now() >= nextStatus) {
            status.Show(StatusText(t, c.GetLong("ExposureTime")));
            t.measure = true;  // for the next line
            nextStatus += period;
        }
        int64_t napUs = 20'000;
        if (o.seconds) napUs = std::clamp<int64_t>(int64_t(*o.seconds * 1e6) - elapsedUs, 1, napUs);
        bx::kernel::SleepMicroseconds(napUs);
    }
}

// Asks the handler to keep the next frame and waits for it, bounded by one frame's time.
bool KeepLastFrame(Control& c, LiveTally& t) {
    t.keep.store(true, std::memory_order_release);
    const FrameWait wait(FrameMicroseconds(c));
    while (!t.kept.load(std::memory_order_acquire)) {
        if (wait.Over()) return false;
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
                  << after->failed - before->failed << ")\n"
                  << "camera stream: " << StreamHealthText(*before, *after) << "\n";
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

void Start(Control& c) {
    const HRESULT hr = c.ferro().EnableLiveVideo();
    if (FAILED(hr)) throw Failure{kCamera, "live video failed: " + ErrorText(hr)};
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
    Control& c = host.control();
    ApplyAcquisitionOptions(c, o.acquisition);
    PrepareNumbering(t, c);
    const THeadlessImageView& view = host.view();
    host.events().Set("OnLiveFrameUpdate", [&t, &view] { OnFrameShown(t, view); });

    Start(c);
    if (o.autoExposure) RunAutoExposure(c, *o.autoExposure, t, stop);
    t.startUs = bx::kernel::NowMicroseconds();
    t.measure = true;
    t.restart = true;
    const auto before = CameraCounters();
    const Ending ending = stop.Caught() ? Ending::Signal : Watch(c, t, o, stop, status);
    const bool kept = ending != Ending::Failed && KeepLastFrame(c, t);
    c.ferro().DisableLiveVideo();
    host.events().Set("OnLiveFrameUpdate", {});
    const auto after = CameraCounters();
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
        if (!o.saveLast.empty())
            SaveLastFrame(*t.frame, t.frameShownAt, o.saveLast, c, options.create.progid);
    }
    return kOk;
}

}  // namespace bxgrab
