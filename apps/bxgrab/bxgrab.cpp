// bxgrab: a command-line host for the camera control. It creates the control as an imaging
// host does, gives it a headless image view, loads a settings file, opens the camera and
// takes images, saving them as OME-TIFF or TIFF, runs live video (live.h) or takes timed
// sequences (grab.h), shows, saves or loads its settings (settings.h), or asks an external
// controller its version (controller.h).
//
// Exit codes: 0 success (a live run or a grab stopped with Ctrl-C included), 2 bad command
// line, 3 camera or acquisition failure, 4 output file failure.
#include <bxmm/host.h>
#include <bxplatform/ui.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "controller.h"
#include "grab.h"
#include "live.h"
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

void PrintInfo(TBXTessvikFerroFW& c) {
    auto row = [](const char* name, const std::string& value) {
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ') << value
                  << "\n";
    };
    std::cout << "Camera\n";
    row("type", c.lbl_CameraType->Caption());
    row("sensor", c.lbl_CCDType->Caption());
    row("sensor size", c.lbl_CCDDimension->Caption());
    row("max bit depth", c.lbl_SlowScanBitDepth->Caption());
    row("min bit depth", c.lbl_HighSpeedBitDepth->Caption());
    row("max binning", c.lbl_MaxBinning->Caption());
    std::string choices;
    for (int b : c.BinningChoices) choices += (choices.empty() ? "" : ", ") + std::to_string(b);
    row("binning choices", choices);
    row("exposure range", bx::ui::FloatToStr(c.ExposureMinMicroseconds) + " us to " +
                              bx::ui::FloatToStr(c.ExposureMaxMicroseconds) + " us");
    row("readout speed", c.lbl_FrameReadOutTime->Caption());
    row("driver version", c.lbl_DriverVersion->Caption());
    row("firmware version", c.lbl_FirmwareVersion->Caption());
    row("hardware version", c.lbl_HardwareVersion->Caption());
    row("status", c.lbl_Diagnosis->Caption());
    std::cout << "Settings\n";
    row("exposure", std::to_string(c.ExposureTime) + " us");
    row("gain", std::to_string(c.Brightness));
    row("offset", std::to_string(c.Contrast));
    row("binning", std::to_string(c.BinningFactorX));
    row("window", std::to_string(c.GrabWindowLeft) + "," + std::to_string(c.GrabWindowTop) + "," +
                      std::to_string(c.GrabWindowRight) + "," + std::to_string(c.GrabWindowBottom) +
                      (c.WindowedGrab ? "" : " (full)"));
    row("image size", std::to_string(c.ImageWidth) + " x " + std::to_string(c.ImageHeight));
    row("bit depth",
        c.BitDepth == 24 ? std::string("colour (24-bit)") : std::to_string(c.BitDepth));
}

int RunSnap(const Options& options, const SnapOptions& snap) {
    IsOmeTiff(snap.output);  // refuses other names before the camera starts
    CheckWritable(snap.output);
    Host host(options);
    TBXTessvikFerroFW& c = host.control();
    ApplyAcquisitionOptions(c, snap.acquisition);
    MM_HANDLE image = 0;
    const auto acquired = std::chrono::system_clock::now();
    try {
        image = static_cast<MM_HANDLE>(c.Snap());
    } catch (const ferro::ControlFailure& failure) {
        throw Failure{kCamera, std::string("snap failed: ") + failure.what() + " (camera error " +
                                   std::to_string(c.LastCameraError) + ")"};
    }
    if (image == 0) throw Failure{kCamera, "snap made no image (the camera is not ready)"};
    SaveImage(image, snap.output, AcquisitionSaveOptions(c, acquired));
    Describe(image, snap.output);
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
                   "simulated camera description file (INI) to use instead of the default");
    app.add_option("--trace-level", options.traceLevel, "trace level for the log file")
        ->check(CLI::Range(0, 10));
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? kOk : kUsage;
    }

    try {
        if (info->parsed()) {
            Host host(options);
            PrintInfo(host.control());
            return kOk;
        }
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
