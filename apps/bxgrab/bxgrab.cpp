// bxgrab: a command-line host for the camera control. It creates the control as an imaging
// host does (by ProgID, through the registry and the class factory, registering the module on
// first use), drives it through its automation interfaces, gives it a headless image view,
// loads a settings file, opens the camera and takes images, saving them as OME-TIFF or TIFF,
// runs live video (live.h) or takes timed sequences (grab.h), shows, saves or loads its
// settings (settings.h), asks an external controller its version (controller.h), and
// registers or unregisters the module (module.h). --events prints the control's events.
//
// Exit codes: 0 success (a live run or a grab stopped with Ctrl-C included), 2 bad command
// line, 3 camera or acquisition failure, 4 output file failure.
#include <bxmm/host.h>
#include <bxplatform/ui.h>
#include <kvcam/kvcam.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

#include "controller.h"
#include "device.h"
#include "grab.h"
#include "live.h"
#include "module.h"
#include "session.h"
#include "settings.h"

namespace fs = std::filesystem;
using namespace bxgrab;

namespace {

std::string DefaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base = config && *config
                        ? fs::path(config)
                        : fs::path(std::getenv("HOME") ? std::getenv("HOME") : ".") / ".config";
    return (base / "bxgrab" / "settings.ini").string();
}

// ---- The host session ---------------------------------------------------------------------

struct SnapOptions {
    std::string output;
    AcquisitionOptions acquisition;
};

// What the interfaces tell of the camera. The panel's identity labels are not on them; which
// backend and device are in use and the camera's identity come from the camera driver, which
// any host may ask about the camera it has open.
void PrintInfo(Control& c) {
    auto row = [](const char* name, const std::string& value) {
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ') << value
                  << "\n";
    };
    std::cout << "Camera\n";
    static const std::pair<const char*, uint32_t> kTexts[] = {
        {"backend", KVCAM_TEXT_BACKEND}, {"device", KVCAM_TEXT_DEVICE},
        {"vendor", KVCAM_TEXT_VENDOR},   {"model", KVCAM_TEXT_MODEL},
        {"serial", KVCAM_TEXT_SERIAL},   {"firmware", KVCAM_TEXT_FIRMWARE}};
    for (auto [name, id] : kTexts)
        if (const std::string text = CameraText(id); !text.empty()) row(name, text);
    const long version = c.GetLong("InterfaceVersion");
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(version));
    row("interface version", hex);
    row("module", c.modulePath());
    const long depth = c.GetLong("BitDepth");
    row("bit depth", depth == 24 ? std::string("colour (24-bit)") : std::to_string(depth));
    std::cout << "Settings\n";
    row("exposure", std::to_string(c.GetLong("ExposureTime")) + " us");
    row("gain", std::to_string(c.GetLong("Gain")));
    row("brightness", std::to_string(c.GetLong("Brightness")));
    row("offset", std::to_string(c.GetLong("Offset")));
    row("binning", std::to_string(c.GetLong("BinningFactorX")));
    row("window", std::to_string(c.GetLong("GrabWindowLeft")) + "," +
                      std::to_string(c.GetLong("GrabWindowTop")) + "," +
                      std::to_string(c.GetLong("GrabWindowRight")) + "," +
                      std::to_string(c.GetLong("GrabWindowBottom")) +
                      (c.GetBool("WindowedGrab") ? "" : " (full)"));
    row("image size", std::to_string(c.GetLong("GrabWindowWidth")) + " x " +
                          std::to_string(c.GetLong("GrabWindowHeight")));
    row("frames", std::to_string(c.GetLong("NumberOfFrames")));
    row("frame interval", std::to_string(c.GetLong("FrameRate")) + " ms");
}

int RunSnap(const Options& options, const SnapOptions& snap) {
    IsOmeTiff(snap.output);  // refuses other names before the camera starts
    CheckWritable(snap.output);
    Host host(options);
    Control& c = host.control();
    ApplyAcquisitionOptions(c, snap.acquisition);
    LONG image = 0;
    const auto acquired = std::chrono::system_clock::now();
    HRESULT hr = c.ferro().Snap();
    if (SUCCEEDED(hr)) hr = c.ferro().GetImage(&image);
    if (FAILED(hr)) throw Failure{kCamera, "snap failed: " + ErrorText(hr)};
    if (image == 0) throw Failure{kCamera, "snap made no image (the camera is not ready)"};
    const auto handle = static_cast<MM_HANDLE>(image);
    SaveImage(handle, snap.output, AcquisitionSaveOptions(c, handle, acquired));
    Describe(handle, snap.output);
    return kOk;
}

// The camera settings snap, live and grab take.
void AddAcquisitionOptions(CLI::App& command, AcquisitionOptions& o) {
    command.add_option("-e,--exposure", o.exposure, "exposure time, e.g. 20ms, 500us, 1.5s");
    command.add_option("-g,--gain", o.gain, "gain 0..4095")->check(CLI::Range(0, 4095));
    command.add_option("--offset", o.offset, "offset 0..4095")->check(CLI::Range(0, 4095));
    command.add_option("-b,--binning", o.binning, "binning factor");
    command.add_option("-w,--window", o.window,
                       "sub-window LEFT,TOP,RIGHT,BOTTOM in sensor pixels (0-based, inclusive)");
    command.add_option("-d,--depth", o.depth, "bit depth: 8, 12 or colour")
        ->check(CLI::IsMember({"8", "12", "colour", "color"}));
}

// A number of seconds above 0 (or, with `zeroToo`, at least 0).
CLI::Validator SecondsValidator(bool zeroToo) {
    return CLI::Validator(
        [zeroToo](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 ||
                (value == 0 && !zeroToo) || value > 1e9)
                return std::string("must be a number of seconds ") + (zeroToo ? "from" : "above") +
                       " 0, e.g. 10 or 2.5, not " + text;
            return "";
        },
        zeroToo ? "SECONDS>=0" : "SECONDS>0");
}
const CLI::Validator kPositiveSeconds = SecondsValidator(false);

CLI::App* AddLiveCommand(CLI::App& app, LiveOptions& live) {
    auto* command = app.add_subcommand("live", "run live video and keep its last frame");
    command
        ->add_option("--seconds", live.seconds,
                     "stop after this many seconds of live video (default: at Ctrl-C)")
        ->check(kPositiveSeconds);
    command->add_option("--preview", live.preview,
                        "write the last shown frame as displayed (mapping and palette), .png");
    command->add_option("--save-last", live.saveLast,
                        "save the last shown frame: .ome.tif(f) or .tif(f)");
    command
        ->add_option("--auto-exposure", live.autoExposure,
                     "run one auto-exposure pass first, to this per cent of full scale "
                     "(25, 50, 75 or 100; 50 when given alone)")
        ->expected(0, 1)
        ->default_str("50")
        ->check(CLI::IsMember({25, 50, 75, 100}));
    AddAcquisitionOptions(*command, live.acquisition);
    command->footer(
        "The status line (frames shown, frames per second, exposure, brightest pixel of the\n"
        "last shown frame) refreshes in place on a terminal; when standard output is not a\n"
        "terminal it is printed as a plain line once a second. The seconds count from the end\n"
        "of the auto-exposure pass. Ctrl-C or SIGTERM ends live video as --seconds does: the\n"
        "files are written, the summary printed, and the exit code is 0.\n"
        "On the simulated camera each frame's number is written into its first four pixels,\n"
        "so the summary can tell frames lost or shown twice; those pixels are left out of the\n"
        "brightest pixel.");
    return command;
}

CLI::App* AddGrabCommand(CLI::App& app, GrabOptions& grab) {
    auto* command = app.add_subcommand("grab", "take a timed sequence of frames and save it");
    command->add_option("-n,--frames", grab.frames, "number of frames")
        ->required()
        ->check(CLI::Range(1, 1 << 30));
    command
        ->add_option("--interval", grab.interval,
                     "time from one frame to the next, e.g. 100ms or 2s (whole milliseconds); "
                     "0: as fast as the camera delivers")
        ->capture_default_str();
    command->add_option("-o,--output", grab.output, "output file: .ome.tif(f) or .tif(f)")
        ->required();
    command->add_flag("--recycle", grab.recycle,
                      "overwrite the frames in turn until stopped (Ctrl-C or --seconds)");
    command
        ->add_option_function<std::string>(
            "--pretrigger",
            [&grab](const std::string& seconds) {
                grab.preTrigger = true;
                if (!seconds.empty())
                    grab.preTriggerSeconds = std::strtod(seconds.c_str(), nullptr);
            },
            "run a pre-trigger phase first, for SECONDS or until Enter is pressed (or standard "
            "input ends)")
        ->expected(0, 1)
        ->type_name("[SECONDS]")
        ->check(SecondsValidator(true));
    command->add_option("--disk", grab.disk,
                        "stream the frames through this disk device or file, DEVICE[:SECTOR] "
                        "(sector bytes, default 4096)");
    command->add_option("--seconds", grab.seconds, "stop the grab after this many seconds")
        ->check(kPositiveSeconds);
    AddAcquisitionOptions(*command, grab.acquisition);
    command->footer(
        "The progress line (frame, elapsed and remaining time, time to the next frame)\n"
        "refreshes in place on a terminal; when standard output is not a terminal it is\n"
        "printed as a plain line once a second and at the last frame. Ctrl-C or SIGTERM stops\n"
        "the grab: the frames taken so far are saved and the exit code is 0. A sequence larger\n"
        "than the memory available goes through a temporary disk device next to the output.\n"
        "The OME-TIFF holds one plane per frame, each with its time from the first frame.");
    return command;
}

CLI::App* AddSettingsCommand(CLI::App& app, SettingsOptions& settings) {
    using Action = SettingsOptions::Action;
    auto* command = app.add_subcommand("settings", "show, save or load the camera settings");
    command->require_subcommand(1);
    auto* show = command->add_subcommand(
        "show", "list every setting with its value and source: file, default or camera");
    show->callback([&settings] { settings.action = Action::kShow; });
    show->footer(
        "The source is \"file\" when the --settings file holds the value shown, \"default\"\n"
        "when it lacks the key, and \"camera\" when it holds another value that the camera\n"
        "or the control changed (a limit of this camera, say).");
    auto* save = command->add_subcommand(
        "save", "set the acquisition options, then write every setting to FILE");
    save->add_option("FILE", settings.file, "settings file (INI) to write")->required();
    AddAcquisitionOptions(*save, settings.acquisition);
    save->callback([&settings] { settings.action = Action::kSave; });
    save->footer("Other sections and keys already in FILE are kept.");
    auto* load = command->add_subcommand(
        "load", "load FILE over the --settings file and list the settings it changed");
    load->add_option("FILE", settings.file, "settings file (INI) to load; it must exist")
        ->required();
    load->callback([&settings] { settings.action = Action::kLoad; });
    load->footer("Each changed setting is printed as \"key: old -> new\".");
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"bxgrab: take images through the camera control"};
    app.set_version_flag("--version", std::string("bxgrab ") + BXGRAB_VERSION);
    app.require_subcommand(1);
    Options options;
    options.settings = DefaultSettingsPath();
    app.add_option("--settings", options.settings, "settings file (INI); a missing file is fine")
        ->capture_default_str();
    app.add_option("--camera", options.camera,
                   "camera description file (INI) to use instead of the default");
    app.add_option("--device", options.device,
                   "camera to open: simulated, or genicam:ID for a GenICam camera by its Aravis "
                   "device id (genicam:Fake_1, genicam:192.168.1.20); default: env KVCAM_DEVICE, "
                   "else the simulated camera")
        ->check(CLI::Validator([](std::string& text) { return DeviceProblem(text); }, "DEVICE"));
    app.add_option("--trace-level", options.traceLevel, "trace level for the log file")
        ->check(CLI::Range(0, 10));
    app.add_option("--progid", options.create.progid, "ProgID of the camera control to create")
        ->capture_default_str();
    app.add_option("--module", options.create.module,
                   "control module to register when the ProgID is not registered (default: "
                   "../lib/libRIROVoruzarUZ.so beside bxgrab, or env BXGRAB_MODULE)");
    app.add_flag("--events", options.events,
                 "print every event the control raises: name, DISPID, thread, values");
    app.add_option("--answer", options.answer,
                   "answer to message boxes: default, ok, cancel, abort, retry, ignore, yes, no")
        ->check(CLI::IsMember({"default", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"}))
        ->capture_default_str();

    auto* info = app.add_subcommand("info", "show the camera's identity, limits and settings");
    SnapOptions snap;
    auto* snapCmd = app.add_subcommand("snap", "take one image and save it");
    snapCmd->add_option("-o,--output", snap.output, "output file: .ome.tif(f) or .tif(f)")
        ->required();
    AddAcquisitionOptions(*snapCmd, snap.acquisition);
    LiveOptions live;
    auto* liveCmd = AddLiveCommand(app, live);
    GrabOptions grab;
    auto* grabCmd = AddGrabCommand(app, grab);
    SettingsOptions settings;
    auto* settingsCmd = AddSettingsCommand(app, settings);
    ControllerOptions controller;
    auto* controllerCmd =
        app.add_subcommand("controller", "ask an external controller on a COM port its version");
    controllerCmd->add_option("--port", controller.port, "port name COMn")->required();
    controllerCmd->add_option("--send", controller.send,
                              "send TEXT (followed by CR LF) and print the reply line instead");
    controllerCmd->footer(
        "COMn is the device BX_COMn names in the environment (BX_COM1=/dev/ttyUSB0), else\n"
        "/dev/ttyS{n-1}. The camera is not opened.");

    auto* registerCmd =
        app.add_subcommand("register", "register the control module in the class registry");
    auto* unregisterCmd =
        app.add_subcommand("unregister", "remove the control module's class from the registry");
    for (auto* command : {registerCmd, unregisterCmd}) {
        command->add_option("--module", options.create.module, "the control module's file");
        command->footer(
            "The module is --module, else env BXGRAB_MODULE, else libRIROVoruzarUZ.so in the lib\n"
            "folder beside bxgrab's. The registry file is env BX_REGISTRY_FILE, else\n"
            "$XDG_CONFIG_HOME/bxplatform/classes.reg.");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? kOk : kUsage;
    }
    if (!options.device.empty()) UseDevice(options.device);

    try {
        if (info->parsed()) {
            Host host(options);
            PrintInfo(host.control());
            return kOk;
        }
        if (registerCmd->parsed()) return RunRegister(options.create.module, false);
        if (unregisterCmd->parsed()) return RunRegister(options.create.module, true);
        if (snapCmd->parsed()) return RunSnap(options, snap);
        if (liveCmd->parsed()) return RunLive(options, live);
        if (grabCmd->parsed()) return RunGrab(options, grab);
        if (settingsCmd->parsed()) return RunSettings(options, settings);
        if (controllerCmd->parsed()) return RunController(options, controller);
    } catch (const Failure& failure) {
        std::cerr << "bxgrab: " << failure.message << "\n";
        return failure.code;
    } catch (const std::exception& e) {
        std::cerr << "bxgrab: " << e.what() << "\n";
        return kCamera;
    }
    return kUsage;
}
