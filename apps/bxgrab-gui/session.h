// The control as bxgrab-gui hosts it: the camera description chosen, the control created by
// its ProgID with the gui's image view as its ImageWindow, its events advised, the settings
// file loaded and the camera open. bxgrab's Host does the same for a terminal (console
// message boxes, failures as exit codes); this one leaves the boxes to the desktop backend and
// reports failures as StartError for the gui to show.
//
// Thread rule: GUI thread only (the thread that made the control).
#pragma once

#include <bxmm/host.h>
#include <bxview/image_view.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "automation.h"
#include "events.h"
#include "options.h"

namespace bxgrab_gui {

// Why the gui cannot start: the text for the user.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Session {
public:
    // `view` must outlive the session. Throws StartError.
    Session(const GuiOptions& options, bx::view::TBXImageView* view);
    // Closes the camera (Quit) and releases the control.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bxgrab::Control& control() { return *control_; }
    bxgrab::ControlEvents& events() { return *events_; }
    const std::string& settingsPath() const { return settings_; }

    // SaveToRegistry to the settings file, making its folder first. Returns what went wrong,
    // empty when the file was written.
    std::string SaveSettings();

private:
    std::string settings_;
    bx::view::ImageViewRegistration registration_;
    std::unique_ptr<bxgrab::Control> control_;
    std::unique_ptr<bxgrab::ControlEvents> events_;
};

using bxgrab::AcquisitionSaveOptions;  // the OME-XML facts of an image just taken

// True for .ome.tif(f) names, false for other names.
bool IsOmeTiffName(const std::string& path);

}  // namespace bxgrab_gui
