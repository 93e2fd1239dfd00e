#include "session.h"

#include <bxmm/host.h>
#include <bxplatform/inifile.h>
#include <dlfcn.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "device.h"

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

// True when the description file at `path` chooses a GenICam camera ([camera] backend).
bool DescribesGenicam(const std::string& path) {
    if (path.empty() || !fs::is_regular_file(path)) return false;
    std::string backend = bx::ini::TIniFile(path).ReadString("camera", "backend", "");
    std::transform(backend.begin(), backend.end(), backend.begin(), ::tolower);
    return backend == "genicam";
}

// The --trace-level, kept over every load (-1: the file's).
int g_traceLevel = -1;

// The module's exported trace level, found in the module the registry names.
void ApplyTraceLevel(const Control& c) {
    if (g_traceLevel < 0 || c.modulePath().empty()) return;
    void* module = ::dlopen(c.modulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) return;
    if (auto* level = static_cast<std::atomic<int32_t>*>(::dlsym(module, "_g_iTraceLevel")))
        level->store(g_traceLevel);
    ::dlclose(module);  // the reference RTLD_NOLOAD took
}

// Says in one line when the camera took another value than asked.
void ReportAdjusted(const char* what, const std::string& asked, const std::string& used) {
    if (asked != used)
        std::cerr << "bxgrab: " << what << " " << asked << " asked, the camera uses " << used
                  << "\n";
}

bool IsColour(Control& c) {
    return c.GetLong("BitDepth") == 24;
}

// There is no depth property: a host changes depth as the settings file says it, by writing
// the control's settings out, changing the depth keys and loading them back.
void ApplyDepth(Control& c, const std::string& depth) {
    if (depth.empty()) return;
    const bool colour = depth != "8" && depth != "12";
    TemporaryFile file("depth");
    Control::Check(c.ferro().SaveToRegistry(bx::com::Bstr(file.path()).Get()),
                   "saving the settings");
    bx::ini::TIniFile ini(file.path());
    // Colour takes its samples from the 8-bit range, as the panel's colour choice does.
    ini.WriteBool(kSettingsSection, "Color mode", colour);
    ini.WriteString(kSettingsSection, "Range", depth == "12" ? "High" : "Low");
    if (depth == "12") ini.WriteBool(kSettingsSection, "8 Bit Acquire", false);
    // The control takes colour from any sensor; the driver knows which sensors have a mosaic.
    int32_t sensor = 1;
    if (const KvCamHandle camera = OpenCameraHandle(); colour && camera != 0)
        KvCam_GetInfo(camera, KVCAM_INFO_CCD_TYPE, &sensor);
    if (sensor != 1) throw Failure{kUsage, "this camera has a monochrome sensor"};
    LoadSettings(c, file.path());
    if (colour && !IsColour(c)) throw Failure{kUsage, "the camera does not take colour"};
}

// The binning the open camera uses, as its driver's settings say (0 when it cannot tell).
int CameraBinning() {
    const KvCamHandle camera = OpenCameraHandle();
    KvCamSettings settings{};
    settings.size = KVCAM_SETTINGS_SIZE;
    int32_t binning = 0;
    if (camera == 0 || KvCam_ReadSettingsFromCam(camera, &settings) != KVCAM_OK ||
        KvCam_GetParam(&settings, KVCAM_PARAM_BINNING, &binning) != KVCAM_OK)
        return 0;
    return binning;
}

std::string Edges(long l, long t, long r, long b) {
    return std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," +
           std::to_string(b);
}

void ApplyWindow(Control& c, const std::string& text) {
    auto w = ParseWindow(text);
    if (!w) throw Failure{kUsage, "window must be LEFT,TOP,RIGHT,BOTTOM: " + text};
    // The full frame's size in sensor pixels, as the unwindowed grab window tells it.
    c.PutBool("WindowedGrab", false);
    const long binning = std::max(1L, c.GetLong("BinningFactorX"));
    const long width = c.GetLong("GrabWindowWidth") * binning;
    const long height = c.GetLong("GrabWindowHeight") * binning;
    if (w->right >= width || w->bottom >= height)
        throw Failure{kUsage, "window reaches beyond the " + std::to_string(width) + " x " +
                                  std::to_string(height) + " sensor"};
    c.PutLong("GrabWindowLeft", w->left);
    c.PutLong("GrabWindowTop", w->top);
    c.PutLong("GrabWindowRight", w->right);
    c.PutLong("GrabWindowBottom", w->bottom);
    c.PutBool("WindowedGrab", true);
    ReportAdjusted("window", Edges(w->left, w->top, w->right, w->bottom),
                   Edges(c.GetLong("GrabWindowLeft"), c.GetLong("GrabWindowTop"),
                         c.GetLong("GrabWindowRight"), c.GetLong("GrabWindowBottom")));
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
    // environment too. A GenICam camera numbers no frames: its description is taken as it is.
    std::string camera = options.camera;
    const char* described = std::getenv("KVCAM_SIM_CONFIG");
    if (camera.empty() && setup.frameCounter && described && *described) camera = described;
    const bool frameCounter = setup.frameCounter && !GenicamChosen() && !DescribesGenicam(camera);
    if (!camera.empty() || frameCounter) UseCameraDescription(camera, frameCounter);
    CheckSettingsPath(options.settings);
    bx::ui::SetUiBackend(
        setup.ui ? setup.ui : std::make_shared<bx::ui::ConsoleUi>(AnswerCode(options.answer)));
    try {
        control_ = std::make_unique<Control>(options.create);
        events_ = std::make_unique<ControlEvents>(*control_, options.events);
        control_->PutLong("ImageWindow", static_cast<long>(registration_.handle()));
        g_traceLevel = options.traceLevel;
        LoadSettings(*control_, options.settings);
        Control::Check(control_->ferro().Initialise(), "the camera could not be opened");
    } catch (const ControlError& error) {
        throw Failure{kCamera, error.what()};
    }
    // The control opens the camera or says why in a message box; a host sees which by the
    // image size it reports (none without a camera).
    // The driver's own reason names the device, which the control's message does not.
    if (control_->GetLong("GrabWindowWidth") <= 0) {
        const std::string reason = KvCamSim_LastError();
        throw Failure{kCamera,
                      "the camera could not be opened (" +
                          (reason.empty() ? std::string("see the message above") : reason) + ")"};
    }
}

Host::~Host() {
    if (!control_) return;
    control_->ferro().Quit();
    events_.reset();
}

void LoadSettings(Control& c, const std::string& path) {
    Control::Check(c.ferro().LoadFromRegistry(bx::com::Bstr(path).Get()), "loading " + path);
    ApplyTraceLevel(c);
}

TemporaryFile::TemporaryFile(const std::string& stem) {
    std::string name = (fs::temp_directory_path() / ("bxgrab-" + stem + "-XXXXXX")).string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw Failure{kOutput,
                      "cannot create a temporary file in " + fs::temp_directory_path().string()};
    ::close(fd);
    fs::remove(name);  // the control writes a file of its own there
    path_ = name;
}

TemporaryFile::~TemporaryFile() {
    std::error_code ec;
    fs::remove(path_, ec);
}

SettingsList SectionSettings(const std::string& path, const std::string& section) {
    SettingsList out;
    std::ifstream in(path);
    const bx::ini::TIniFile ini(path);
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), ::tolower);
        return text;
    };
    const std::string wanted = "[" + lower(section) + "]";
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == ';') continue;
        if (line[first] == '[') {
            std::string name = line.substr(first);
            name.erase(name.find_last_not_of(" \t") + 1);
            inside = lower(name) == wanted;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inside || equals == std::string::npos) continue;
        std::string key = line.substr(first, equals - first);
        key.erase(key.find_last_not_of(" \t") + 1);
        out.emplace_back(key, ini.ReadString(section, key, ""));
    }
    return out;
}

SettingsList CurrentSettings(Control& c) {
    TemporaryFile file("settings");
    try {
        Control::Check(c.ferro().SaveToRegistry(bx::com::Bstr(file.path()).Get()),
                       "saving the settings");
    } catch (const ControlError& error) {
        throw Failure{kCamera, error.what()};
    }
    SettingsList settings = SectionSettings(file.path(), kSettingsSection);
    if (settings.empty()) throw Failure{kCamera, "the control wrote no settings"};
    return settings;
}

KvCamHandle OpenCameraHandle() {
    // Handles count up from 1 as cameras are opened; a session opens very few.
    for (KvCamHandle handle = 1; handle <= 64; ++handle) {
        int32_t type = 0;
        if (KvCam_GetInfo(handle, KVCAM_INFO_CAMERA_TYPE, &type) == KVCAM_OK) return handle;
    }
    return 0;
}

std::optional<KvCamSimCounters> CameraCounters() {
    const KvCamHandle handle = OpenCameraHandle();
    KvCamSimCounters counters{};
    if (handle == 0 || KvCamSim_GetCounters(handle, &counters) != KVCAM_OK) return std::nullopt;
    return counters;
}

std::string StreamHealthText(const KvCamSimCounters& before, const KvCamSimCounters& after) {
    return std::to_string(after.underruns - before.underruns) + " underruns, " +
           std::to_string(after.missingFrameIds - before.missingFrameIds) + " frame ids missing";
}

std::string CameraText(uint32_t textId) {
    const KvCamHandle handle = OpenCameraHandle();
    char text[256] = "";
    if (handle == 0 || KvCam_GetText(handle, textId, text, sizeof text) != KVCAM_OK) return "";
    return text;
}

bool SimulatedCameraOpen() {
    return CameraText(KVCAM_TEXT_BACKEND) == "simulated";
}

void CheckSettingsPath(const std::string& path) {
    if (path.empty()) throw Failure{kUsage, "--settings needs a file name"};
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return;
    if (ec) throw Failure{kUsage, "settings file " + path + ": " + ec.message()};
    if (fs::is_directory(status)) throw Failure{kUsage, "settings path is a folder: " + path};
    // Reading a pipe or a socket waits for a writer that may never come.
    if (fs::is_fifo(status) || fs::is_socket(status))
        throw Failure{kUsage, "settings path is not a file: " + path};
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

void ApplyAcquisitionOptions(Control& c, const AcquisitionOptions& o) {
    try {
        const bool colour = o.depth == "colour" || o.depth == "color";
        // Colour cameras of the family take colour from an unbinned mosaic.
        if (colour && o.binning && *o.binning > 1)
            throw Failure{kUsage,
                          "colour needs binning 1 on this camera (the colour mosaic does "
                          "not survive binning); use --depth 8 or 12 with --binning " +
                              std::to_string(*o.binning)};
        ApplyDepth(c, o.depth);
        if (o.binning) {
            c.PutLong("BinningFactorX", *o.binning);
            // The property keeps a factor the camera lacks when its scroll bar has nowhere
            // to move; the camera's own settings tell what it bins by.
            const int used = CameraBinning();
            if (c.GetLong("BinningFactorX") != *o.binning || (used != 0 && used != *o.binning))
                throw Failure{kUsage, "binning " + std::to_string(*o.binning) +
                                          " is not offered by this camera"};
        }
        if (colour && c.GetLong("BinningFactorX") > 1)
            throw Failure{kUsage,
                          "colour needs binning 1 on this camera; the settings hold binning " +
                              std::to_string(c.GetLong("BinningFactorX")) + " (add --binning 1)"};
        if (!o.window.empty()) ApplyWindow(c, o.window);
        if (o.gain) {
            c.PutLong("Gain", *o.gain);
            ReportAdjusted("gain", std::to_string(*o.gain), std::to_string(c.GetLong("Gain")));
        }
        if (o.offset) {
            c.PutLong("Offset", *o.offset);
            ReportAdjusted("offset", std::to_string(*o.offset),
                           std::to_string(c.GetLong("Offset")));
        }
        if (!o.exposure.empty()) {
            auto us = ParseExposure(o.exposure);
            if (!us) throw Failure{kUsage, "exposure must be a time such as 20ms, 500us or 1.5s"};
            c.PutLong("ExposureTime", static_cast<long>(*us));
            ReportAdjusted("exposure", std::to_string(*us) + " us",
                           std::to_string(c.GetLong("ExposureTime")) + " us");
        }
    } catch (const ControlError& error) {
        throw Failure{kCamera, error.what()};
    }
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
