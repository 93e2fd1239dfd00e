// bxgrab settings: the control's settings file from the command line. `show` lists every
// setting with where its value came from, `save` writes them after the acquisition options,
// and `load` reads another file into a running session and tells what changed.
//
// Thread rule: UI thread only (bxgrab's main thread).
#pragma once

#include <string>

#include "session.h"

namespace bxgrab {

struct SettingsOptions {
    enum class Action { kShow, kSave, kLoad };
    Action action = Action::kShow;
    std::string file;                // save and load: the file written or read
    AcquisitionOptions acquisition;  // save: set before the settings are written
};

// Runs the settings action; returns the exit code. Throws Failure: kOutput when a save
// cannot write its file, kUsage when the file to load does not exist or cannot be read.
int RunSettings(const Options& options, const SettingsOptions& settings);

}  // namespace bxgrab
