// The host session every bxgrab command runs in: the control created by its ProgID and
// driven through its automation interfaces, with bxgrab's own headless image view, the
// settings file loaded and the camera open; and the acquisition options that snap and live
// share.
//
// Thread rule: UI thread only (bxgrab's main thread), except where a function says so.
#pragma once

#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <kvcam/kvcam_sim.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation.h"
#include "events.h"

namespace bxgrab {

// Exit codes: 0 success, 2 bad command line, 3 camera or acquisition failure, 4 output file
// failure.
enum ExitCode { kOk = 0, kUsage = 2, kCamera = 3, kOutput = 4 };

// What ends a command: its exit code and the one line that says why.
struct Failure {
    int code;
    std::string message;
};

// Options every command takes.
struct Options {
    std::string settings;
    std::string camera;
    std::string device;  // --device: "simulated" or "genicam:<id>"; empty: the environment's
    int traceLevel = -1;
    std::string answer = "default";
    CreateOptions create;  // the ProgID and the module to register on first use
    bool events = false;   // print every event the control raises
};

// What to take: the camera settings snap and live set before they start.
struct AcquisitionOptions {
    std::string exposure;
    std::optional<int> gain, offset, binning;
    std::string window;
    std::string depth;
};

// A time such as "20ms", "500us", "1.5s" or "250" (microseconds, when no unit is given) in
// whole microseconds; nullopt for other text or for more than `maxUs`.
std::optional<int64_t> ParseMicroseconds(std::string text, int64_t maxUs);

// The answer code of an --answer name; -1 for an unknown name.
int AnswerCode(const std::string& name);

// How a session is set up beyond the common options.
struct SessionSetup {
    // The simulated camera writes each frame's number into its first pixels, so shown
    // frames can be checked for losses and repeats.
    bool frameCounter = false;
    // The user-interface backend; null means the console backend answering --answer.
    std::shared_ptr<bx::ui::UiBackend> ui;
};

// The control hosted with bxgrab's view, settings loaded and the camera open. Throws
// Failure when the description, the settings path, the control or the camera is unusable.
class Host {
public:
    explicit Host(const Options& options, const SessionSetup& setup = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    Control& control() { return *control_; }
    ControlEvents& events() { return *events_; }
    // The view the control shows its frames in. Thread-safe.
    bx::view::THeadlessImageView& view() { return view_; }

private:
    bx::view::THeadlessImageView view_;
    bx::view::ImageViewRegistration registration_{&view_};
    std::unique_ptr<Control> control_;
    std::unique_ptr<ControlEvents> events_;
};

// Sets the camera as the options ask and says in one line each value the camera took
// differently. Throws Failure (kUsage) for values this camera cannot take.
void ApplyAcquisitionOptions(Control& c, const AcquisitionOptions& o);

// The control's settings as it writes them (SaveToRegistry to a temporary file): the keys of
// its section in the order written, with their values. Throws Failure (kCamera) when the
// control writes none.
using SettingsList = std::vector<std::pair<std::string, std::string>>;
inline const std::string kSettingsSection = "KorvaneFW Camera";
SettingsList CurrentSettings(Control& c);
// The keys of `section` in `path`, in file order, with their values.
SettingsList SectionSettings(const std::string& path, const std::string& section);

// A file name in the temporary folder, removed (if made) when the object goes.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& stem);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// LoadFromRegistry(path), keeping the --trace-level (a load sets the file's level).
void LoadSettings(Control& c, const std::string& path);

// The camera driver's handle of the camera the control has open, 0 when none answers. The
// control does not hand out its camera; the driver, which the host shares with it, is asked
// which handle it knows. Used only for what the interfaces do not tell: the sensor kind, the
// mosaic pattern, the camera's identity texts and its frame counts.
KvCamHandle OpenCameraHandle();
// The frame and stream counts of the open camera; nullopt when no camera is open.
std::optional<KvCamSimCounters> CameraCounters();
// The stream health between two counts: "<n> underruns, <m> frame ids missing" (both 0 on the
// simulated camera).
std::string StreamHealthText(const KvCamSimCounters& before, const KvCamSimCounters& after);
// A KvCam_GetText text (KVCAM_TEXT_...) of the open camera; empty when there is none.
std::string CameraText(uint32_t textId);
// True when the open camera is the simulated one (which can number its frames).
bool SimulatedCameraOpen();

// A missing settings file means factory settings; throws Failure (kUsage) for a folder or a
// file that cannot be read, a mistake the user must hear of rather than a silent fall back.
void CheckSettingsPath(const std::string& path);
// Throws Failure (kOutput) unless `output` can be written in an existing, writable folder.
void CheckWritable(const std::string& output);
// True for .ome.tif(f), false for .tif(f); throws Failure (kUsage) for other names.
bool IsOmeTiff(const std::string& path);
// Saves `image` as OME-TIFF or TIFF by the name of `path` (IsOmeTiff). Throws Failure
// (kOutput) when the save fails.
void SaveImage(MM_HANDLE image, const std::string& path, const bx::mm::SaveOptions& options);
// Prints one line about a saved image: size, type, pixel range, file size.
void Describe(MM_HANDLE image, const std::string& path);

}  // namespace bxgrab
