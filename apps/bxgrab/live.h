// bxgrab live: live video until a time is up or the user stops it, with a status line, an
// optional auto-exposure pass first, and the last shown frame kept as a picture and as an
// image file.
//
// Thread rule: UI thread only (bxgrab's main thread).
#pragma once

#include <optional>
#include <string>

#include "session.h"

namespace bxgrab {

struct LiveOptions {
    AcquisitionOptions acquisition;
    std::optional<double> seconds;    // platform-clock seconds; none: until Ctrl-C
    std::string preview;              // PNG of the last shown frame as displayed
    std::string saveLast;             // OME-TIFF (or TIFF) of the last shown frame
    std::optional<int> autoExposure;  // target in per cent: 25, 50, 75 or 100
};

// Runs live video; returns the exit code. Ctrl-C (SIGINT) and SIGTERM end it cleanly, with
// the files written and the summary printed, and exit 0. Throws Failure before live video
// starts.
int RunLive(const Options& options, const LiveOptions& live);

}  // namespace bxgrab
