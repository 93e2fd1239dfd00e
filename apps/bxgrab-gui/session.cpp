#include "session.h"

#include <bxmm/mm40.h>
#include <kvcam/kvcam_sim.h>

#include "device.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bxgrab_gui {

namespace fs = std::filesystem;
using bxgrab::Control;
using bxgrab::ControlError;

namespace {

// A bad description would only show as the driver's generic "no camera"; its own words say
// which line and key are wrong. The environment variable makes the control's own driver load
// (a later reopen from the panel, say) read the same file.
void UseCameraDescription(const std::string& path) {
    if (path.empty()) return;
    if (!fs::is_regular_file(path)) throw StartError("Camera description file not found: " + path);
    const std::string absolute = fs::absolute(path).string();
    if (KvCamSim_UseDescriptionFile(absolute.c_str()) != KVCAM_OK)
        throw StartError(std::string("Bad camera description: ") + KvCamSim_LastError());
    ::setenv("KVCAM_SIM_CONFIG", absolute.c_str(), 1);
}

// A missing file means factory settings; a folder or an unreadable file is a mistake the user
// must hear of rather than a silent fall back.
void CheckSettingsPath(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return;
    if (ec) throw StartError("Settings file " + path + ": " + ec.message());
    if (fs::is_directory(status)) throw StartError("The settings path is a folder: " + path);
    // Reading a pipe or a socket waits for a writer that may never come.
    if (fs::is_fifo(status) || fs::is_socket(status))
        throw StartError("The settings path is not a file: " + path);
    if (!std::ifstream(path)) throw StartError("The settings file cannot be read: " + path);
}

}  // namespace

Session::Session(const GuiOptions& options, bx::view::TBXImageView* view)
    : settings_(options.settings), registration_(view) {
    if (!options.device.empty()) bxgrab::UseDevice(options.device);
    UseCameraDescription(options.camera);
    CheckSettingsPath(settings_);
    try {
        control_ = std::make_unique<Control>(options.create);
        events_ = std::make_unique<bxgrab::ControlEvents>(*control_, false);
        control_->PutLong("ImageWindow", static_cast<long>(registration_.handle()));
        // A desktop shows every frame of a grab as it comes.
        control_->PutBool("DisplayEnabled", true);
        Control::Check(control_->ferro().LoadFromRegistry(bx::com::Bstr(settings_).Get()),
                       "Loading " + settings_);
        Control::Check(control_->ferro().Initialise(), "The camera could not be opened");
    } catch (const ControlError& error) {
        throw StartError(error.what());
    }
    // The control opens the camera or says why in its own message box; a host sees which by
    // the image size it reports (none without a camera).
    if (control_->GetLong("GrabWindowWidth") <= 0) {
        // The driver's own reason names the device, which the control's message does not.
        const std::string reason = KvCamSim_LastError();
        throw StartError("The camera could not be opened (" +
                         (reason.empty() ? std::string("the control said why") : reason) + ").");
    }
}

Session::~Session() {
    if (!control_) return;
    control_->ferro().Quit();
    events_.reset();
}

std::string Session::SaveSettings() {
    std::error_code ec;
    const fs::path folder = fs::absolute(settings_).parent_path();
    fs::create_directories(folder, ec);
    if (ec) return "cannot make the folder " + folder.string() + ": " + ec.message();
    const HRESULT hr = control_->ferro().SaveToRegistry(bx::com::Bstr(settings_).Get());
    if (FAILED(hr)) return bxgrab::ErrorText(hr);
    // The control reports no failure of its own writes.
    if (!fs::is_regular_file(settings_, ec)) return "the control wrote no file at " + settings_;
    return {};
}

bool IsOmeTiffName(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    for (const std::string suffix : {".ome.tif", ".ome.tiff"})
        if (lower.size() >= suffix.size() &&
            lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

}  // namespace bxgrab_gui
