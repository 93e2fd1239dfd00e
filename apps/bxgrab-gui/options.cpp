#include "options.h"

#include "device.h"

#include <QCommandLineParser>

#include <cstdlib>
#include <filesystem>

namespace bxgrab_gui {

namespace fs = std::filesystem;

std::string DefaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const fs::path base =
        config && *config ? fs::path(config) : fs::path(home && *home ? home : ".") / ".config";
    return (base / "bxgrab" / "settings.ini").string();
}

ParsedArguments ParseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "bxgrab-gui: live video, snaps and timed sequences from the camera control, with its "
        "settings panel beside the image.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version("version", "Show the version.");
    const QCommandLineOption settings("settings",
                                      "The control's settings file (default " +
                                          QString::fromStdString(DefaultSettingsPath()) + ").",
                                      "FILE");
    const QCommandLineOption camera("camera", "A camera description file.", "FILE");
    const QCommandLineOption device(
        "device",
        "The camera to open: simulated, or genicam:ID for a GenICam camera by its Aravis device "
        "id (default: env KVCAM_DEVICE, else the simulated camera).",
        "DEVICE");
    const QCommandLineOption progid("progid", "The control's ProgID (default \"Korvane Camera\").",
                                    "PROGID");
    const QCommandLineOption module(
        "module", "The control module to register when the ProgID is not registered.", "FILE");
    const QCommandLineOption saveDir(
        "save-dir", "Save images in this folder under numbered names, without asking.", "DIR");
    parser.addOptions({help, version, settings, camera, device, progid, module, saveDir});

    ParsedArguments parsed;
    if (!parser.parse(arguments)) {
        parsed.run = false;
        parsed.exitCode = 2;
        parsed.message = parser.errorText().toStdString();
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        parsed.run = false;
        parsed.exitCode = 2;
        parsed.message =
            "unexpected argument: " + parser.positionalArguments().first().toStdString();
        return parsed;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        parsed.run = false;
        parsed.message = parser.isSet(help) ? parser.helpText().toStdString()
                                            : std::string("bxgrab-gui ") + BXGRAB_VERSION;
        return parsed;
    }
    GuiOptions& o = parsed.options;
    o.settings =
        parser.isSet(settings) ? parser.value(settings).toStdString() : DefaultSettingsPath();
    o.camera = parser.value(camera).toStdString();
    o.device = parser.value(device).toStdString();
    if (parser.isSet(progid)) o.create.progid = parser.value(progid).toStdString();
    o.create.module = parser.value(module).toStdString();
    o.saveDir = parser.value(saveDir).toStdString();
    if (o.settings.empty()) {
        parsed.run = false;
        parsed.exitCode = 2;
        parsed.message = "--settings needs a file name";
    } else if (parser.isSet(device)) {
        if (const std::string problem = bxgrab::DeviceProblem(o.device); !problem.empty()) {
            parsed.run = false;
            parsed.exitCode = 2;
            parsed.message = "--device: " + problem;
        }
    }
    return parsed;
}

}  // namespace bxgrab_gui
