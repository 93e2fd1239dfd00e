// bxgrab settings: show, save and load through the control's settings file.
#include "settings.h"

#include <bxplatform/inifile.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

namespace bxgrab {
namespace {

namespace fs = std::filesystem;
using Settings = std::vector<TBXTessvikFerroFW::SettingText>;

// Where a value came from: the file says the same text, the file lacks the key, or the file
// says something the camera or the control did not keep (clamped, or replaced by a limit).
const char* Source(const bx::ini::TIniFile& file, const TBXTessvikFerroFW::SettingText& s) {
    const std::string& section = TBXTessvikFerroFW::SettingsSection();
    if (!file.ValueExists(section, s.Key)) return "default";
    return file.ReadString(section, s.Key, "") == s.Value ? "file" : "camera";
}

int Show(const Options& options) {
    Host host(options);
    const Settings settings = host.control().SettingsAsText();
    const bx::ini::TIniFile file(options.settings);
    size_t keyWidth = 0, valueWidth = 0;
    for (const auto& s : settings) {
        keyWidth = std::max(keyWidth, s.Key.size());
        valueWidth = std::max(valueWidth, s.Value.size());
    }
    for (const auto& s : settings)
        std::cout << s.Key << std::string(keyWidth - s.Key.size() + 2, ' ') << s.Value
                  << std::string(valueWidth - s.Value.size() + 2, ' ') << Source(file, s) << "\n";
    return kOk;
}

int Save(const Options& options, const SettingsOptions& settings) {
    Host host(options);
    TBXTessvikFerroFW& c = host.control();
    ApplyAcquisitionOptions(c, settings.acquisition);
    if (!c.SaveToRegistry(settings.file)) {
        // The control does not say why; the folder checks usually can.
        std::string why;
        try {
            CheckWritable(settings.file);
        } catch (const Failure& failure) {
            why = ": " + failure.message;
        }
        throw Failure{kOutput, "could not write settings file " + settings.file + why};
    }
    std::cout << "saved " << c.SettingsAsText().size() << " settings to " << settings.file << "\n";
    return kOk;
}

int Load(const Options& options, const std::string& path) {
    // The control reads a missing file as factory settings; a mistyped name must not do that.
    std::error_code ec;
    if (fs::status(path, ec).type() == fs::file_type::not_found)
        throw Failure{kUsage, "settings file not found: " + path};
    CheckSettingsPath(path);
    Host host(options);
    TBXTessvikFerroFW& c = host.control();
    const Settings before = c.SettingsAsText();
    c.LoadFromRegistry(path);
    const Settings after = c.SettingsAsText();
    int changed = 0;
    for (const auto& now : after) {
        const auto was = std::find_if(before.begin(), before.end(),
                                      [&](const auto& s) { return s.Key == now.Key; });
        const std::string old = was == before.end() ? "(none)" : was->Value;
        if (old == now.Value) continue;
        std::cout << now.Key << ": " << old << " -> " << now.Value << "\n";
        ++changed;
    }
    if (changed == 0) std::cout << "no setting changed\n";
    return kOk;
}

}  // namespace

int RunSettings(const Options& options, const SettingsOptions& settings) {
    switch (settings.action) {
        case SettingsOptions::Action::kShow:
            return Show(options);
        case SettingsOptions::Action::kSave:
            return Save(options, settings);
        case SettingsOptions::Action::kLoad:
            return Load(options, settings.file);
    }
    return kUsage;
}

}  // namespace bxgrab
