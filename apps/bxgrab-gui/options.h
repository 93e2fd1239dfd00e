// bxgrab-gui's command line: the options it shares with bxgrab (--settings, --camera,
// --device, --progid, --module) and its own --save-dir, which saves without asking for a file
// name.
//
// Thread rule: any thread (pure functions).
#pragma once

// The COM headers come before Qt's, whose `slots` keyword would break them.
#include "automation.h"

#include <QStringList>

#include <string>

namespace bxgrab_gui {

struct GuiOptions {
    // The control's settings file, loaded at start and saved at exit.
    std::string settings;
    // A camera description file; empty: the driver's choice (KVCAM_SIM_CONFIG or its
    // built-in camera).
    std::string camera;
    // The camera to open: "simulated" or "genicam:<device id>"; empty: the environment's
    // KVCAM_DEVICE, else the simulated camera.
    std::string device;
    bxgrab::CreateOptions create;
    // Save images here under numbered names instead of asking for a name; empty: ask.
    std::string saveDir;
};

// What the command line asks for: options to run with, or text to show and an exit code.
struct ParsedArguments {
    GuiOptions options;
    bool run = true;
    int exitCode = 0;     // when !run: 0 for --help and --version, 2 for a mistake
    std::string message;  // when !run: the help, the version or what is wrong
};

// $XDG_CONFIG_HOME/bxgrab/settings.ini, else ~/.config/bxgrab/settings.ini (bxgrab's too).
std::string DefaultSettingsPath();

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
ParsedArguments ParseArguments(const QStringList& arguments);

}  // namespace bxgrab_gui
