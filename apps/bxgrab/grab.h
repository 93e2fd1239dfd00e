// bxgrab grab: a timed sequence of frames through the control's Grab, with a progress line,
// an optional pre-trigger phase, a disk device for sequences larger than memory, and the
// frames saved as one OME-TIFF (or TIFF) plane each.
//
// Thread rule: UI thread only (bxgrab's main thread).
#pragma once

#include <optional>
#include <string>

#include "session.h"

namespace bxgrab {

struct GrabOptions {
    AcquisitionOptions acquisition;
    int frames = 0;
    std::string interval = "0";  // time between frames, as the exposure is written
    std::string output;
    bool recycle = false;
    // The pre-trigger phase: asked for at all, and how long it runs (platform-clock seconds);
    // with no time it ends when the user presses Enter.
    bool preTrigger = false;
    std::optional<double> preTriggerSeconds;
    std::string disk;               // DEVICE[:SECTOR]; empty: memory, or a temporary device
    std::optional<double> seconds;  // platform-clock seconds until the grab is aborted
};

// Runs the grab and saves what it acquired; returns the exit code. Ctrl-C (SIGINT) and
// SIGTERM abort the grab, the frames taken so far are saved and the exit code is 0. Throws
// Failure before the camera starts for a bad option or an unwritable output, and after the
// grab when nothing could be saved.
int RunGrab(const Options& options, const GrabOptions& grab);

}  // namespace bxgrab
