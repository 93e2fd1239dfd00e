// bxgrab: a command-line host for the camera control. It creates the control as an imaging
// host does, gives it a headless image view, loads a settings file, opens the camera and
// takes images, saving them as OME-TIFF or TIFF.
//
// Exit codes: 0 success, 2 bad command line, 3 camera or acquisition failure, 4 output file
// failure.
#include <bxmm/host.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"

namespace fs = std::filesystem;
using ferro::TBXTessvikFerroFW;

namespace {

enum ExitCode { kOk = 0, kUsage = 2, kCamera = 3, kOutput = 4 };

struct Failure {
    int code;
    std::string message;
};

// ---- Option values ------------------------------------------------------------------------

// "20ms", "500us", "1.5s", "250" (microseconds) -> microseconds.
std::optional<int64_t> ParseExposure(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), ::isspace), text.end());
    size_t unitAt = text.find_first_not_of("0123456789.");
    std::string number = text.substr(0, unitAt);
    std::string unit = unitAt == std::string::npos ? "us" : text.substr(unitAt);
    std::transform(unit.begin(), unit.end(), unit.begin(), ::tolower);
    double scale = 0;
    if (unit == "us" || unit == "µs")
        scale = 1;
    else if (unit == "ms")
        scale = 1e3;
    else if (unit == "s")
        scale = 1e6;
    if (number.empty() || scale == 0) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
    double us = std::round(value * scale);
    if (us < 1 || us > 2147483647.0) return std::nullopt;
    return static_cast<int64_t>(us);
}

struct Window {
    int left, top, right, bottom;
};

std::optional<Window> ParseWindow(const std::string& text) {
    Window w{};
    char c1, c2, c3;
    std::istringstream in(text);
    if (!(in >> w.left >> c1 >> w.top >> c2 >> w.right >> c3 >> w.bottom)) return std::nullopt;
    if (c1 != ',' || c2 != ',' || c3 != ',' || !in.eof()) return std::nullopt;
    if (w.left < 0 || w.top < 0 || w.right < w.left || w.bottom < w.top) return std::nullopt;
    return w;
}

int AnswerCode(const std::string& name) {
    static const std::pair<const char*, int> kAnswers[] = {
        {"default", bx::ui::ConsoleUi::kDefaultButton},
        {"ok", bx::ui::IDOK},
        {"cancel", bx::ui::IDCANCEL},
        {"abort", bx::ui::IDABORT},
        {"retry", bx::ui::IDRETRY},
        {"ignore", bx::ui::IDIGNORE},
        {"yes", bx::ui::IDYES},
        {"no", bx::ui::IDNO}};
    for (auto [key, code] : kAnswers)
        if (name == key) return code;
    return -1;
}

std::string DefaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base = config && *config
                        ? fs::path(config)
                        : fs::path(std::getenv("HOME") ? std::getenv("HOME") : ".") / ".config";
    return (base / "bxgrab" / "settings.ini").string();
}

// ---- The host session ---------------------------------------------------------------------

struct Options {
    std::string settings;
    std::string camera;
    int traceLevel = -1;
    std::string answer = "default";
};

struct SnapOptions {
    std::string output;
    std::string exposure;
    std::optional<int> gain, offset, binning;
    std::string window;
    std::string depth;
};

// A camera description with an unknown key or a bad value would only surface as the driver's
// generic start-up failure; the description's own words say which line and key are wrong.
void UseCameraDescription(const std::string& path) {
    if (!fs::is_regular_file(path))
        throw Failure{kUsage, "camera description file not found: " + path};
    const std::string absolute = fs::absolute(path).string();
    if (KvCamSim_UseDescriptionFile(absolute.c_str()) != KVCAM_OK)
        throw Failure{kUsage, std::string("bad camera description: ") + KvCamSim_LastError()};
    ::setenv("KVCAM_SIM_CONFIG", absolute.c_str(), 1);
}

// A missing settings file means factory settings; a folder or a file that cannot be read is
// a mistake the user must hear of, not a silent fall back to factory settings.
void CheckSettingsPath(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return;
    if (ec) throw Failure{kUsage, "settings file " + path + ": " + ec.message()};
    if (fs::is_directory(status)) throw Failure{kUsage, "settings path is a folder: " + path};
    if (!std::ifstream(path)) throw Failure{kUsage, "settings file cannot be read: " + path};
}

// The control hosted with a headless view, settings loaded and the camera open.
class Host {
public:
    explicit Host(const Options& options) {
        if (!options.camera.empty()) UseCameraDescription(options.camera);
        CheckSettingsPath(options.settings);
        bx::ui::SetUiBackend(std::make_shared<bx::ui::ConsoleUi>(AnswerCode(options.answer)));
        control_ = std::make_unique<TBXTessvikFerroFW>();
        control_->ImageWindow = registration_.handle();
        control_->LoadFromRegistry(options.settings);
        if (options.traceLevel >= 0) g_iTraceLevel = options.traceLevel;
        control_->Initialise();
        if (!control_->SessionOpen)
            throw Failure{kCamera, "the camera could not be opened (see the message above)"};
    }

    ~Host() {
        if (control_) control_->Quit();
    }

    TBXTessvikFerroFW& control() { return *control_; }

private:
    bx::view::THeadlessImageView view_;
    bx::view::ImageViewRegistration registration_{&view_};
    std::unique_ptr<TBXTessvikFerroFW> control_;
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

void CheckWritable(const std::string& output) {
    fs::path dir = fs::absolute(output).parent_path();
    if (!fs::is_directory(dir))
        throw Failure{kOutput, "output folder does not exist: " + dir.string()};
    if (::access(dir.c_str(), W_OK) != 0)
        throw Failure{kOutput, "output folder is not writable: " + dir.string()};
    if (fs::is_directory(output)) throw Failure{kOutput, "output path is a folder: " + output};
}

bool IsOmeTiff(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    auto endsWith = [&](const std::string& suffix) {
        return lower.size() >= suffix.size() &&
               lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".ome.tif") || endsWith(".ome.tiff")) return true;
    if (endsWith(".tif") || endsWith(".tiff")) return false;
    throw Failure{kUsage, "output must end in .ome.tif, .ome.tiff, .tif or .tiff: " + path};
}

// Says in one line when the camera took another value than asked.
void ReportAdjusted(const char* what, const std::string& asked, const std::string& used) {
    if (asked != used)
        std::cerr << "bxgrab: " << what << " " << asked << " asked, the camera uses " << used
                  << "\n";
}

void ApplyDepth(TBXTessvikFerroFW& c, const std::string& depth) {
    if (depth.empty()) return;
    if (depth == "8") {
        c.chk_Color->SetChecked(false);
        c.rbn_RangeLow->SetChecked(true);
    } else if (depth == "12") {
        c.chk_Color->SetChecked(false);
        c.rbn_RangeHigh->SetChecked(true);
    } else {
        if (!c.IsColourCamera) throw Failure{kUsage, "this camera has a monochrome sensor"};
        c.chk_Color->SetChecked(true);
    }
}

void ApplyWindow(TBXTessvikFerroFW& c, const std::string& text) {
    auto w = ParseWindow(text);
    if (!w) throw Failure{kUsage, "window must be LEFT,TOP,RIGHT,BOTTOM: " + text};
    if (w->right >= c.CcdWidth || w->bottom >= c.CcdHeight)
        throw Failure{kUsage, "window reaches beyond the " + std::to_string(c.CcdWidth) + " x " +
                                  std::to_string(c.CcdHeight) + " sensor"};
    c.GrabWindowLeft = w->left;
    c.GrabWindowTop = w->top;
    c.GrabWindowRight = w->right;
    c.GrabWindowBottom = w->bottom;
    c.WindowedGrab = true;
    c.RebuildRegion();
    auto edges = [](int l, int t, int r, int b) {
        return std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," +
               std::to_string(b);
    };
    ReportAdjusted("window", edges(w->left, w->top, w->right, w->bottom),
                   edges(c.GrabWindowLeft, c.GrabWindowTop, c.GrabWindowRight, c.GrabWindowBottom));
}

void ApplySnapOptions(TBXTessvikFerroFW& c, const SnapOptions& o) {
    const bool colour = o.depth == "colour" || o.depth == "color";
    if (o.binning) {
        const auto& choices = c.BinningChoices;
        const auto choice = std::find(choices.begin(), choices.end(), *o.binning);
        if (choice == choices.end())
            throw Failure{
                kUsage, "binning " + std::to_string(*o.binning) + " is not offered by this camera"};
        if (colour && *o.binning > 1 && !c.IsMicroDot)
            throw Failure{kUsage,
                          "colour needs binning 1 on this camera (the colour mosaic does "
                          "not survive binning); use --depth 8 or 12 with --binning " +
                              std::to_string(*o.binning)};
        c.SelectBinning(static_cast<int>(choice - choices.begin()));
    }
    ApplyDepth(c, o.depth);
    if (colour && c.BinningFactorX > 1 && !c.IsMicroDot)
        throw Failure{kUsage, "colour needs binning 1 on this camera; the settings hold binning " +
                                  std::to_string(c.BinningFactorX) + " (add --binning 1)"};
    if (!o.window.empty()) ApplyWindow(c, o.window);
    if (o.gain) {
        c.SetGainValue(*o.gain);
        ReportAdjusted("gain", std::to_string(*o.gain), std::to_string(c.Brightness));
    }
    if (o.offset) {
        c.SetOffsetValue(*o.offset);
        ReportAdjusted("offset", std::to_string(*o.offset), std::to_string(c.Contrast));
    }
    if (!o.exposure.empty()) {
        auto us = ParseExposure(o.exposure);
        if (!us) throw Failure{kUsage, "exposure must be a time such as 20ms, 500us or 1.5s"};
        c.SetExposureTime(static_cast<int>(*us));
        ReportAdjusted("exposure", std::to_string(*us) + " us",
                       std::to_string(c.ExposureTime) + " us");
    }
}

void Describe(MM_HANDLE image, const std::string& path) {
    auto info = bx::mm::Describe(image);
    if (!info) return;
    const char* type = info->type == MM_TYPE_BGR24   ? "24-bit colour"
                       : info->type == MM_TYPE_GREY8 ? "8-bit grey"
                                                     : "16-bit grey";
    std::vector<uint8_t> pixels = bx::mm::ReadFrame(image, 0);
    long lo = 0, hi = 0;
    if (!pixels.empty()) {
        if (info->bytes_per_pixel == 2) {
            auto* p = reinterpret_cast<const uint16_t*>(pixels.data());
            auto [mn, mx] = std::minmax_element(p, p + pixels.size() / 2);
            lo = *mn, hi = *mx;
        } else {
            auto [mn, mx] = std::minmax_element(pixels.begin(), pixels.end());
            lo = *mn, hi = *mx;
        }
    }
    std::error_code ec;
    auto bytes = fs::file_size(path, ec);
    std::cout << path << ": " << info->size.d[0] << " x " << info->size.d[1] << ", " << type
              << ", pixels " << lo << ".." << hi << ", " << (ec ? 0 : bytes) << " bytes\n";
}

int RunSnap(const Options& options, const SnapOptions& snap) {
    const bool ome = IsOmeTiff(snap.output);
    CheckWritable(snap.output);
    Host host(options);
    TBXTessvikFerroFW& c = host.control();
    ApplySnapOptions(c, snap);
    MM_HANDLE image = 0;
    try {
        image = static_cast<MM_HANDLE>(c.Snap());
    } catch (const ferro::ControlFailure& failure) {
        throw Failure{kCamera, std::string("snap failed: ") + failure.what() + " (camera error " +
                                   std::to_string(c.LastCameraError) + ")"};
    }
    if (image == 0) throw Failure{kCamera, "snap made no image (the camera is not ready)"};
    auto saved =
        ome ? bx::mm::SaveOmeTiff(image, snap.output) : bx::mm::SaveTiff(image, snap.output);
    if (!saved) throw Failure{kOutput, "could not save " + snap.output + ": " + saved.error};
    Describe(image, snap.output);
    return kOk;
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
    snapCmd->add_option("-e,--exposure", snap.exposure, "exposure time, e.g. 20ms, 500us, 1.5s");
    snapCmd->add_option("-g,--gain", snap.gain, "gain 0..4095")->check(CLI::Range(0, 4095));
    snapCmd->add_option("--offset", snap.offset, "offset 0..4095")->check(CLI::Range(0, 4095));
    snapCmd->add_option("-b,--binning", snap.binning, "binning factor");
    snapCmd->add_option("-w,--window", snap.window,
                        "sub-window LEFT,TOP,RIGHT,BOTTOM in sensor pixels (0-based, inclusive)");
    snapCmd->add_option("-d,--depth", snap.depth, "bit depth: 8, 12 or colour")
        ->check(CLI::IsMember({"8", "12", "colour", "color"}));

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
    } catch (const Failure& failure) {
        std::cerr << "bxgrab: " << failure.message << "\n";
        return failure.code;
    } catch (const std::exception& e) {
        std::cerr << "bxgrab: " << e.what() << "\n";
        return kCamera;
    }
    return kUsage;
}
