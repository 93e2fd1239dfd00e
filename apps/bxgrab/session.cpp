#include "session.h"

#include <bxmm/host.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "control/ImageTypes.h"
#include "control/Trace.h"

namespace bxgrab {

namespace fs = std::filesystem;

namespace {

std::optional<int64_t> ParseExposure(const std::string& text) {
    auto us = ParseMicroseconds(text, 2147483647);
    if (!us || *us < 1) return std::nullopt;
    return us;
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

// A camera description with an unknown key or a bad value would only surface as the driver's
// generic start-up failure; the description's own words say which line and key are wrong.
// With `frameCounter` the frame-number key is added after the file's text (a later key wins
// over an earlier one, and the file's line numbers stay as they are). `path` may be empty:
// the embedded default camera then gets the key alone.
void UseCameraDescription(const std::string& path, bool frameCounter) {
    std::string text;
    if (!path.empty()) {
        if (!fs::is_regular_file(path))
            throw Failure{kUsage, "camera description file not found: " + path};
        const std::string absolute = fs::absolute(path).string();
        if (KvCamSim_UseDescriptionFile(absolute.c_str()) != KVCAM_OK)
            throw Failure{kUsage, std::string("bad camera description: ") + KvCamSim_LastError()};
        ::setenv("KVCAM_SIM_CONFIG", absolute.c_str(), 1);
        if (!frameCounter) return;
        std::ifstream in(absolute, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    text += "\n[sensor]\nframe_counter = yes\n";
    if (KvCamSim_UseDescription(text.c_str()) != KVCAM_OK)
        throw Failure{kUsage, std::string("bad camera description: ") + KvCamSim_LastError()};
}

// The control hosted with a headless view, settings loaded and the camera open.

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

}  // namespace

std::optional<int64_t> ParseMicroseconds(std::string text, int64_t maxUs) {
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
    if (us > static_cast<double>(maxUs)) return std::nullopt;
    return static_cast<int64_t>(us);
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

Host::Host(const Options& options, const SessionSetup& setup) {
    // Live video's frame check needs the number in the frames of a camera described by the
    // environment too.
    std::string camera = options.camera;
    const char* described = std::getenv("KVCAM_SIM_CONFIG");
    if (camera.empty() && setup.frameCounter && described && *described) camera = described;
    if (!camera.empty() || setup.frameCounter) UseCameraDescription(camera, setup.frameCounter);
    CheckSettingsPath(options.settings);
    bx::ui::SetUiBackend(
        setup.ui ? setup.ui : std::make_shared<bx::ui::ConsoleUi>(AnswerCode(options.answer)));
    control_ = std::make_unique<TBXTessvikFerroFW>();
    control_->ImageWindow = registration_.handle();
    control_->LoadFromRegistry(options.settings);
    if (options.traceLevel >= 0) g_iTraceLevel = options.traceLevel;
    control_->Initialise();
    if (!control_->SessionOpen)
        throw Failure{kCamera, "the camera could not be opened (see the message above)"};
}

Host::~Host() {
    if (control_) control_->Quit();
}

void CheckSettingsPath(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return;
    if (ec) throw Failure{kUsage, "settings file " + path + ": " + ec.message()};
    if (fs::is_directory(status)) throw Failure{kUsage, "settings path is a folder: " + path};
    if (!std::ifstream(path)) throw Failure{kUsage, "settings file cannot be read: " + path};
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

void ApplyAcquisitionOptions(TBXTessvikFerroFW& c, const AcquisitionOptions& o) {
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

bx::mm::SaveOptions AcquisitionSaveOptions(const TBXTessvikFerroFW& c,
                                           std::chrono::system_clock::time_point acquired) {
    bx::mm::SaveOptions options;
    const int depth = ferro::AcquisitionDepth(c.BitDepth, c.Acquire8Bit);
    options.significant_bits = depth == 24 ? 8 : depth;
    options.exposure_seconds = c.ExposureTime.load() / 1e6;
    options.acquisition_time = acquired;
    return options;
}

void SaveImage(MM_HANDLE image, const std::string& path, const bx::mm::SaveOptions& options) {
    const auto saved = IsOmeTiff(path) ? bx::mm::SaveOmeTiff(image, path, options)
                                       : bx::mm::SaveTiff(image, path, options);
    if (!saved) throw Failure{kOutput, "could not save " + path + ": " + saved.error};
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

}  // namespace bxgrab
