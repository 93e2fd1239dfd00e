// The settings file: one INI section holding every setting the host keeps between runs.
// Loading is also what arms the control, so the camera is first touched at the end of it.
//
// One table drives both directions: each key with its default, its range rule, what loading
// does with its value and where saving takes it from. The table is in reading order; each key
// also carries its place in the writing order, which differs.
#include <bxplatform/inifile.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"
#include "support/Conversions.h"
#include "support/ScopeExit.h"

namespace ferro {

using namespace bx::ui;
using Form = TBXTessvikFerroFW;

namespace {

const std::string kSection = "KorvaneFW Camera";

// A key's default, which also says how its value is written: integer, boolean, text, float.
using SettingDefault = std::variant<int, bool, const char*, double>;
// A value read from the file or written to it.
using SettingValue = std::variant<int, bool, std::string, double>;

// What loading keeps until the steps after the reads apply it.
struct LoadContext {
    std::string ExposureText;
    std::string CcdMode = "1280 x 1024";
    std::string Range = "High";
    bool FrameIntervalHms = false;
    int Binning = 1;
    std::optional<bool> ExternalTrigger;  // unset: the file does not say
    std::optional<int> ExposureUs;        // "Exposure Time", once read as a number
    struct {
        bool Windowed = false;
        int Left = 0, Top = 0, Right = 0, Bottom = 0;
    } Window;
};

// An integer setting limited to lo..hi; anything outside becomes 0.
struct RangeRule {
    int Lo = 0, Hi = 0;
};

struct SettingKey {
    const char* Name;
    SettingDefault Default;
    std::optional<RangeRule> Range;
    void (*Load)(Form&, LoadContext&, const SettingValue&);
    SettingValue (*Save)(const Form&);  // null: the key is read, never written
    int WritePosition;                  // place in the writing order
};

int AsInt(const SettingValue& v) {
    return std::get<int>(v);
}
bool AsBool(const SettingValue& v) {
    return std::get<bool>(v);
}

void ShowExposurePart(TMaskEdit* field, int value) {
    field->SetText(IntToStr(value));
}

// The exposure text is converted once the colour mode is known. The one read that can fail:
// a non-numeric text throws the toolkit's conversion error, which switches to the fallback
// set. A number beyond an int saturates (the camera's limits then apply).
void ApplyExposureText(Form& f, LoadContext& c) {
    c.ExposureUs = support::TruncateToInt32(StrToFloat(c.ExposureText));
    f.SetExposureTime(*c.ExposureUs);
}

std::string RangeText(const Form& f) {
    return f.rbn_RangeHigh->Checked()  ? "High"
           : f.rbn_RangeMid->Checked() ? "Mid"
           : f.rbn_RangeLow->Checked() ? "Low"
                                       : "";
}

void ApplyAutoExposureLevel(Form& f, int level) {
    f.AutoExposureLevel = level;
    switch (level) {
        case 1:
            f.rbn_25->SetChecked(true), f.AutoExposureTarget = 0.25;
            break;
        case 2:
            f.rbn_50->SetChecked(true), f.AutoExposureTarget = 0.5;
            break;
        case 3:
            f.rbn_75->SetChecked(true), f.AutoExposureTarget = 0.75;
            break;
        default:
            f.rbn_100->SetChecked(true), f.AutoExposureTarget = 1.0;
            break;
    }
}

// A usable trigger time-out (whole seconds, positive) replaces the one in use.
void ApplyTriggerTimeout(Form& f, int seconds) {
    if (seconds > 0) f.ExternalTriggerTimeoutS = seconds;
    f.txt_MinTimeout->SetText(IntToStr(f.ExternalTriggerTimeoutS));
}

#define BX_LOAD                                                     \
    [](Form & f [[maybe_unused]], [[maybe_unused]] LoadContext & c, \
       [[maybe_unused]] const SettingValue& v)
#define BX_SAVE [](const Form& f) -> SettingValue
constexpr std::optional<RangeRule> kAny;

// clang-format off
const SettingKey kSettingKeys[] = {
    {"AE Max Time", 0.0, kAny, BX_LOAD { f.ExposureMaxMicroseconds = std::get<double>(v); },
     BX_SAVE { return f.ExposureMaxMicroseconds.load(); }, 0},
    {"COM Port", 0, kAny, BX_LOAD { f.cbo_ControlPort->SetItemIndex(AsInt(v)); },
     BX_SAVE { return f.cbo_ControlPort->ItemIndex(); }, 1},
    {"Controller Model", 1, kAny, BX_LOAD { f.ControllerModel = AsInt(v); },
     BX_SAVE { return f.ControllerModel; }, 2},
    {"Exposure Time", "0.015", kAny, BX_LOAD { c.ExposureText = std::get<std::string>(v); },
     BX_SAVE { return IntToStr(f.ExposureTime); }, 3},
    {"CCD Mode", "1280 x 1024", kAny, BX_LOAD { c.CcdMode = std::get<std::string>(v); },
     BX_SAVE { return std::string(f.rbn_1280_1024->Checked() ? "1280 x 1024" : "1024 x 1024"); }, 6},
    {"Range", "High", kAny, BX_LOAD { c.Range = std::get<std::string>(v); },
     BX_SAVE { return RangeText(f); }, 7},
    {"8 Bit Acquire", false, kAny, BX_LOAD { f.chk_Acquire8bit->SetChecked(AsBool(v)); },
     BX_SAVE { return f.chk_Acquire8bit->Checked(); }, 8},
    {"Color mode", false, kAny,
     BX_LOAD { f.chk_Color->SetChecked(AsBool(v)); ApplyExposureText(f, c); },
     BX_SAVE { return f.chk_Color->Checked(); }, 9},
    {"Binning Factor", 1, kAny, BX_LOAD { f.SetBinning(c.Binning = AsInt(v)); },
     BX_SAVE { return int{f.BinningFactorX}; }, 10},
    {"Brightness", 0, RangeRule{0, 4095}, BX_LOAD { f.SetGainValue(AsInt(v)); },
     BX_SAVE { return int{f.Brightness}; }, 4},
    {"Contrast", 0, RangeRule{0, 4095}, BX_LOAD { f.SetOffsetValue(AsInt(v)); },
     BX_SAVE { return int{f.Contrast}; }, 5},
    // The mapping ranges are doubles the host may set to anything; they are written saturated.
    {"Focus/8Bit Mapping Min", 0, kAny, BX_LOAD { f.FocusMapMin = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.FocusMapMin); }, 11},
    {"Focus/8Bit Mapping Max", 255, kAny, BX_LOAD { f.FocusMapMax = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.FocusMapMax); }, 12},
    {"High Speed Mapping Min", 0, kAny, BX_LOAD { f.HighSpeedMapMin = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.HighSpeedMapMin); }, 13},
    {"High Speed Mapping Max", 4095, kAny, BX_LOAD { f.HighSpeedMapMax = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.HighSpeedMapMax); }, 14},
    {"Slow Scan Mapping Min", 0, kAny, BX_LOAD { f.SlowScanMapMin = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.SlowScanMapMin); }, 15},
    {"Slow Scan Mapping Max", 16383, kAny, BX_LOAD { f.SlowScanMapMax = AsInt(v); },
     BX_SAVE { return support::TruncateToInt32(f.SlowScanMapMax); }, 16},
    {"Frame Interval (hrs)", 0, RangeRule{0, 99}, BX_LOAD { f.FrameIntervalHours = AsInt(v); },
     BX_SAVE { return f.FrameIntervalHours; }, 17},
    {"Frame Interval (min)", 0, RangeRule{0, 59}, BX_LOAD { f.FrameIntervalMinutes = AsInt(v); },
     BX_SAVE { return f.FrameIntervalMinutes; }, 18},
    {"Frame Interval (sec)", 1, RangeRule{0, 59}, BX_LOAD { f.FrameIntervalSeconds = AsInt(v); },
     BX_SAVE { return f.FrameIntervalSeconds; }, 19},
    {"Frame Interval (ms)", 0, RangeRule{0, 100000}, BX_LOAD { f.FrameIntervalMs = AsInt(v); },
     BX_SAVE { return f.FrameIntervalMs; }, 20},
    {"Frame Interval hms", false, kAny, BX_LOAD { c.FrameIntervalHms = AsBool(v); },
     BX_SAVE { return f.rbn_grab_FrameInterval->Checked(); }, 21},
    {"Exposure Time (hrs)", 0, RangeRule{0, 99},
     BX_LOAD { ShowExposurePart(f.med_grab_ExposureTime0, f.ExposureHours = AsInt(v)); },
     BX_SAVE { return f.ExposureHours.load(); }, 22},
    {"Exposure Time (min)", 0, RangeRule{0, 59},
     BX_LOAD { ShowExposurePart(f.med_grab_ExposureTime1, f.ExposureMinutes = AsInt(v)); },
     BX_SAVE { return f.ExposureMinutes.load(); }, 23},
    {"Exposure Time (sec)", 1, RangeRule{0, 59},
     BX_LOAD { ShowExposurePart(f.med_grab_ExposureTime2, f.ExposureSeconds = AsInt(v)); },
     BX_SAVE { return f.ExposureSeconds.load(); }, 24},
    {"Exposure Time (ms)", 40, RangeRule{0, 32000},
     BX_LOAD { ShowExposurePart(f.med_grab_ExposureTime3, f.ExposureMs = AsInt(v)); },
     BX_SAVE { return f.ExposureMs.load(); }, 25},
    {"Exposure Time (us)", 40, RangeRule{0, 32000},
     BX_LOAD { ShowExposurePart(f.med_grab_ExposureTime4, f.ExposureUs = AsInt(v)); },
     BX_SAVE { return f.ExposureUs.load(); }, 26},
    {"Exposure Time hms Selected", false, kAny,
     BX_LOAD { f.rbn_grab_ExposureTime->SetChecked(AsBool(v)); },
     BX_SAVE { return f.rbn_grab_ExposureTime->Checked(); }, 27},
    {"Exposure Time ms Selected", true, kAny,
     BX_LOAD { f.rbn_grab_ExposureTime1->SetChecked(AsBool(v)); },
     BX_SAVE { return f.rbn_grab_ExposureTime1->Checked(); }, 28},
    {"Exposure Time us Selected", false, kAny,
     BX_LOAD { f.rbn_ExposureTime2->SetChecked(AsBool(v)); },
     BX_SAVE { return f.rbn_ExposureTime2->Checked(); }, 29},
    {"Readout Fast", true, kAny, BX_LOAD { f.chk_Fast->SetChecked(AsBool(v)); },
     BX_SAVE { return f.chk_Fast->Checked(); }, 30},
    {"Trace Level", 0, kAny, BX_LOAD { f.TraceLevel = AsInt(v); }, nullptr, -1},
    {"AE Level", 4, kAny, BX_LOAD { ApplyAutoExposureLevel(f, AsInt(v)); },
     BX_SAVE { return f.AutoExposureLevel; }, 31},
    {"Connect at Start", true, kAny,
     BX_LOAD { f.chk_ConnectAtStart->SetChecked(AsBool(v)); f.ReconnectPort = AsBool(v); },
     BX_SAVE { return f.chk_ConnectAtStart->Checked(); }, 32},
    // Newer keys, read last and written last: older files lack them and take the defaults.
    // Without the key (an older file) the trigger buttons stay as they are.
    {"External Trigger", -1, kAny, BX_LOAD { if (AsInt(v) >= 0) c.ExternalTrigger = AsInt(v) != 0; },
     BX_SAVE { return f.rbtn_ExternalTrigger->Checked(); }, 33},
    {"External Trigger Timeout (s)", 1000, kAny, BX_LOAD { ApplyTriggerTimeout(f, AsInt(v)); },
     BX_SAVE { return f.ExternalTriggerTimeoutS.load(); }, 34},
    {"Windowed Grab", false, kAny, BX_LOAD { c.Window.Windowed = AsBool(v); },
     BX_SAVE { return f.WindowedGrab.load(); }, 35},
    {"Grab Window Left", 0, kAny, BX_LOAD { c.Window.Left = AsInt(v); },
     BX_SAVE { return f.GrabWindowLeft.load(); }, 36},
    {"Grab Window Top", 0, kAny, BX_LOAD { c.Window.Top = AsInt(v); },
     BX_SAVE { return f.GrabWindowTop.load(); }, 37},
    {"Grab Window Right", 0, kAny, BX_LOAD { c.Window.Right = AsInt(v); },
     BX_SAVE { return f.GrabWindowRight.load(); }, 38},
    {"Grab Window Bottom", 0, kAny, BX_LOAD { c.Window.Bottom = AsInt(v); },
     BX_SAVE { return f.GrabWindowBottom.load(); }, 39},
};
// clang-format on
#undef BX_LOAD
#undef BX_SAVE

SettingValue ReadKey(bx::ini::TIniFile& ini, const SettingKey& key) {
    return std::visit(
        [&](auto fallback) -> SettingValue {
            using T = decltype(fallback);
            if constexpr (std::is_same_v<T, int>) {
                const int value = ini.ReadInteger(kSection, key.Name, fallback);
                const bool outside = key.Range && (value < key.Range->Lo || value > key.Range->Hi);
                return outside ? 0 : value;
            } else if constexpr (std::is_same_v<T, bool>) {
                return ini.ReadBool(kSection, key.Name, fallback);
            } else if constexpr (std::is_same_v<T, const char*>) {
                return ini.ReadString(kSection, key.Name, fallback);
            } else {
                return ini.ReadFloat(kSection, key.Name, fallback);
            }
        },
        key.Default);
}

bool WriteKey(bx::ini::TIniFile& ini, const SettingKey& key, const SettingValue& value) {
    return std::visit(
        [&](const auto& v) -> bool {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int>)
                return ini.WriteInteger(kSection, key.Name, v);
            else if constexpr (std::is_same_v<T, bool>)
                return ini.WriteBool(kSection, key.Name, v);
            else if constexpr (std::is_same_v<T, std::string>)
                return ini.WriteString(kSection, key.Name, v);
            else
                return ini.WriteFloat(kSection, key.Name, v);
        },
        value);
}

// The keys in writing order.
std::vector<const SettingKey*> WritingOrder() {
    std::vector<const SettingKey*> keys;
    for (const SettingKey& key : kSettingKeys)
        if (key.Save != nullptr) keys.push_back(&key);
    std::sort(keys.begin(), keys.end(), [](const SettingKey* a, const SettingKey* b) {
        return a->WritePosition < b->WritePosition;
    });
    return keys;
}

// What replaces the rest of the keys when a value cannot be read (an exposure text that is
// no number). "AE Level" and "Connect at Start" keep what they had.
void ApplyFallbackSet(Form& f, LoadContext& c) {
    f.FocusMapMin = 0, f.FocusMapMax = 255;
    f.HighSpeedMapMin = 0, f.HighSpeedMapMax = 4095;
    f.SlowScanMapMin = 0, f.SlowScanMapMax = 16383;
    f.cbo_ControlPort->SetItemIndex(0);
    f.ControllerModel = 1;
    f.SetExposureTime(0);  // the fallback text "0.015" truncates to 0
    f.RoiWindowed = 0;
    f.RoiBinning = {1, 1};
    f.SetGainValue(0);
    f.SetOffsetValue(255);
    c.Range = "High";
    c.CcdMode = "1280 x 1024";
    f.FrameIntervalHours = f.FrameIntervalMinutes = f.FrameIntervalMs = 0;
    f.FrameIntervalSeconds = 1;
    c.FrameIntervalHms = false;
    const int parts[] = {0, 0, 1, 40, 40};  // hours, minutes, seconds, ms, us
    std::atomic<int>* fields[] = {&f.ExposureHours, &f.ExposureMinutes, &f.ExposureSeconds,
                                  &f.ExposureMs, &f.ExposureUs};
    TMaskEdit* edits[] = {f.med_grab_ExposureTime0, f.med_grab_ExposureTime1,
                          f.med_grab_ExposureTime2, f.med_grab_ExposureTime3,
                          f.med_grab_ExposureTime4};
    for (size_t i = 0; i < std::size(parts); ++i) *fields[i] = parts[i];
    for (size_t i = 0; i < std::size(parts); ++i) ShowExposurePart(edits[i], parts[i]);
    f.rbn_grab_ExposureTime1->SetChecked(true);
    f.chk_Acquire8bit->SetChecked(false);
    f.TraceLevel = 0;
}

// The window mode buttons, the gain and offset controls and the frame interval fields.
void ShowLoadedValues(Form& f, const LoadContext& c) {
    const bool squareWindow = c.CcdMode == "1024 x 1024";
    f.rbn_1280_1024->SetChecked(!squareWindow);
    f.rbn_1024_1024->SetChecked(squareWindow);

    f.hsb_Brightness->SetPosition(f.Brightness);
    f.lbl_BrightnessValue->SetCaption(IntToStr(f.Brightness));
    f.txt_Brightness->SetText(IntToStr(f.Brightness));
    f.hsb_Contrast->SetPosition(f.Contrast);
    f.lbl_ContrastValue->SetCaption(IntToStr(f.Contrast));
    f.txt_Contrast->SetText(IntToStr(f.Contrast));

    f.med_grab_FrameInterval->SetText(IntToStr(f.FrameIntervalHours));
    f.med_grab_FrameInterval1->SetText(IntToStr(f.FrameIntervalMinutes));
    f.med_grab_FrameInterval2->SetText(IntToStr(f.FrameIntervalSeconds));
    f.med_grab_FrameInterval3->SetText(IntToStr(f.FrameIntervalMs));
}

// The trigger button's handler reopens a ready camera when the mode changes (a second load).
void ApplyTriggerMode(Form& f, const LoadContext& c) {
    if (c.ExternalTrigger)
        (*c.ExternalTrigger ? f.rbtn_ExternalTrigger : f.rbtn_FreeRun)->SetChecked(true);
}

// A saved sub-window, once the camera is open at the saved binning (which clears the window).
void ApplySubWindow(Form& f, const LoadContext& c) {
    if (!c.Window.Windowed || !f.CameraReady) return;
    f.GrabWindowLeft = c.Window.Left;
    f.GrabWindowTop = c.Window.Top;
    f.GrabWindowRight = c.Window.Right;
    f.GrabWindowBottom = c.Window.Bottom;
    f.WindowedGrab = true;
    f.btn_Window->SetCaption("Full Chip");
    f.RebuildRegion();
}

// The entry fields as they show the exposure and the frame interval in use: a load applies
// the checked unit's fields, so a field left from an earlier entry would bring back its value.
void RefreshEntryFields(Form& f) {
    f.RefreshExposureDisplay();
    f.RefreshFrameIntervalFields();
}

std::string ValueText(const SettingValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int>)
                return IntToStr(v);
            else if constexpr (std::is_same_v<T, bool>)
                return v ? "1" : "0";
            else if constexpr (std::is_same_v<T, std::string>)
                return v;
            else
                return FloatToStr(v);
        },
        value);
}

// The unit buttons' handlers apply the frame interval and the exposure entries.
void ApplyUnits(Form& f, const LoadContext& c) {
    (c.FrameIntervalHms ? f.rbn_grab_FrameInterval : f.rbn_grab_FrameInterval1)->CheckAndClick();
    for (TRadioButton* unit :
         {f.rbn_grab_ExposureTime, f.rbn_grab_ExposureTime1, f.rbn_ExposureTime2}) {
        if (unit->Checked()) {
            unit->OnClick(unit);
            break;
        }
    }
}

// The binning choice that holds BinningFactorX (the first when none does, as on the first
// load, before the camera has reported its choices).
void ApplyBinningChoice(Form& f) {
    const auto match =
        std::find(f.BinningChoices.begin(), f.BinningChoices.end(), f.BinningFactorX);
    const int k =
        match == f.BinningChoices.end() ? 0 : static_cast<int>(match - f.BinningChoices.begin());
    f.lbl_BinningFactorX->SetCaption(IntToStr(f.BinningFactorX));
    f.hsb_BinningFactorX->SetPosition(k);
    f.BinningButtons()[static_cast<size_t>(k)]->SetChecked(true);
    f.SelectBinning(k);
    f.lbl_BinningFactorY->SetCaption(IntToStr(f.BinningFactorY));
    // The hidden vertical bar maps its positions to the factors 1..4 directly, not through
    // the camera's choices: its change handler would re-bin to k + 1 (3 instead of 4, say),
    // so it is only moved here.
    auto verticalChange = f.hsb_BinningFactorY->OnChange.Get();
    f.hsb_BinningFactorY->OnChange = nullptr;
    support::ScopeExit restore([&] { f.hsb_BinningFactorY->OnChange = std::move(verticalChange); });
    f.hsb_BinningFactorY->SetPosition(k);
}

void ApplyRange(Form& f, const std::string& range) {
    if (range == "High")
        f.rbn_RangeHigh->SetChecked(true);
    else if (range == "Mid")
        f.rbn_RangeMid->SetChecked(true);
    else if (range == "Low")
        f.rbn_RangeLow->SetChecked(true);
    // Colour sets its own format and depth: a range button checked after it (a second load)
    // must not leave the camera sending grey frames.
    if (f.chk_Color->Checked()) f.ColorClick();
}

}  // namespace

void TBXTessvikFerroFW::LoadFromRegistry(const std::string& path) {
    InitialiseArmed = false;
    LoadContext context;
    {
        bx::ini::TIniFile ini(path);
        try {
            for (const SettingKey& key : kSettingKeys) key.Load(*this, context, ReadKey(ini, key));
        } catch (const EConvertError&) {
            ApplyFallbackSet(*this, context);
        }
    }
    g_iTraceLevel = TraceLevel;
    PublishRegion();
    ShowLoadedValues(*this, context);
    CopyMappingToLive();
    ApplyUnits(*this, context);
    // The exposure in use when the file was written wins over the entry fields, which a host
    // setting the exposure (or another tool writing the file) may have left behind.
    if (context.ExposureUs && ExposureTime != *context.ExposureUs) {
        SetExposureTime(*context.ExposureUs);
        RefreshExposureDisplay();
    }
    ApplyTriggerMode(*this, context);
    ApplyBinningChoice(*this);
    InitialiseArmed = true;
    ApplyRange(*this, context.Range);
    InitialiseCamera();
    // A first load picks the binning button before the camera has told its choices; now
    // that it has, the saved binning is taken again.
    if (CameraReady && BinningFactorX != context.Binning &&
        std::find(BinningChoices.begin(), BinningChoices.end(), context.Binning) !=
            BinningChoices.end()) {
        BinningFactorX = static_cast<int16_t>(context.Binning);
        ApplyBinningChoice(*this);
    }
    ApplySubWindow(*this, context);
}

bool TBXTessvikFerroFW::SaveToRegistry(const std::string& path) {
    RefreshEntryFields(*this);
    bx::ini::TIniFile ini(path);
    // The first failure ends the save, keeping what was written.
    for (const SettingKey* key : WritingOrder())
        if (!WriteKey(ini, *key, key->Save(*this))) return false;
    return true;
}

std::vector<TBXTessvikFerroFW::SettingText> TBXTessvikFerroFW::SettingsAsText() {
    RefreshEntryFields(*this);
    std::vector<SettingText> out;
    for (const SettingKey* key : WritingOrder())
        out.push_back({key->Name, ValueText(key->Save(*this))});
    return out;
}

const std::string& TBXTessvikFerroFW::SettingsSection() {
    return kSection;
}

}  // namespace ferro
