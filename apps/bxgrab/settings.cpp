// bxgrab settings: show, save and load through the control's settings file: what the control
// holds is what it writes with SaveToRegistry to a temporary file.
#include "settings.h"

#include <bxplatform/inifile.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

namespace bxgrab {
namespace {

namespace fs = std::filesystem;

// Where a value came from: the file says the same text, the file lacks the key, or the file
// says something the camera or the control did not keep (clamped, or replaced by a limit).
const char* Source(const bx::ini::TIniFile& file, const std::string& key,
                   const std::string& value) {
    if (!file.ValueExists(kSettingsSection, key)) return "default";
    return file.ReadString(kSettingsSection, key, "") == value ? "file" : "camera";
}

int Show(const Options& options) {
    Host host(options);
    const SettingsList settings = CurrentSettings(host.control());
    const bx::ini::TIniFile file(options.settings);
    size_t keyWidth = 0, valueWidth = 0;
    for (const auto& [key, value] : settings) {
        keyWidth = std::max(keyWidth, key.size());
        valueWidth = std::max(valueWidth, value.size());
    }
    for (const auto& [key, value] : settings)
        std::cout << key << std::string(keyWidth - key.size() + 2, ' ') << value
                  << std::string(valueWidth - value.size() + 2, ' ') << Source(file, key, value)
                  << "\n";
    return kOk;
}

int Save(const Options& options, const SettingsOptions& settings) {
    // The control reports no failure of its own writes; the folder checks say why one fails.
    try {
        CheckWritable(settings.file);
    } catch (const Failure& failure) {
        throw Failure{kOutput,
                      "could not write settings file " + settings.file + ": " + failure.message};
    }
    Host host(options);
    Control& c = host.control();
    ApplyAcquisitionOptions(c, settings.acquisition);
    const size_t count = CurrentSettings(c).size();
    const HRESULT hr = c.ferro().SaveToRegistry(bx::com::Bstr(settings.file).Get());
    if (FAILED(hr) || SectionSettings(settings.file, kSettingsSection).size() < count)
        throw Failure{kOutput, "could not write settings file " + settings.file +
                                   (FAILED(hr) ? ": " + ErrorText(hr) : "")};
    std::cout << "saved " << count << " settings to " << settings.file << "\n";
    return kOk;
}

int Load(const Options& options, const std::string& path) {
    // The control reads a missing file as factory settings; a mistyped name must not do that.
    std::error_code ec;
    if (fs::status(path, ec).type() == fs::file_type::not_found)
        throw Failure{kUsage, "settings file not found: " + path};
    CheckSettingsPath(path);
    Host host(options);
    Control& c = host.control();
    const SettingsList before = CurrentSettings(c);
    LoadSettings(c, path);
    const SettingsList after = CurrentSettings(c);
    int changed = 0;
    for (const auto& entry : after) {
        const std::string& key = entry.first;
        const std::string& value = entry.second;
        const auto was = std::find_if(before.begin(), before.end(),
                                      [&](const auto& s) { return s.first == key; });
        const std::string old = was == before.end() ? "(none)" : was->second;
        if (old == value) continue;
        std::cout << key << ": " << old << " -> " << value << "\n";
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
