// The settings file: one INI section holding every setting the host keeps between runs.
// Loading is also what arms the control, so the camera is first touched at the end of it.
#include <bxplatform/inifile.h>

#include <utility>

#include "camera/DriverCall.h"
#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"

namespace ferro {

using namespace bx::ui;

namespace {

const std::string kSection = "KorvaneFW Camera";

// An integer setting limited to lo..hi; anything outside becomes 0.
int InRangeOrZero(int value, int lo, int hi) { return value < lo || value > hi ? 0 : value; }

}  // namespace

void TBXTessvikFerroFW::LoadFromRegistry(const std::string& path) {
    InitialiseArmed = false;
    bx::ini::TIniFile ini(path);

    std::string ccdMode = "1280 x 1024";
    std::string range = "High";
    bool frameIntervalHms = false;

    auto readInt = [&](const char* key, int fallback) {
        return ini.ReadInteger(kSection, key, fallback);
    };
    auto readBool = [&](const char* key, bool fallback) {
        return ini.ReadBool(kSection, key, fallback);
    };
    auto showExposureParts = [this] {
        med_grab_ExposureTime0->SetText(IntToStr(ExposureHours));
        med_grab_ExposureTime1->SetText(IntToStr(ExposureMinutes));
        med_grab_ExposureTime2->SetText(IntToStr(ExposureSeconds));
        med_grab_ExposureTime3->SetText(IntToStr(ExposureMs));
        med_grab_ExposureTime4->SetText(IntToStr(ExposureUs));
    };

    try {
        ExposureMaxMicroseconds = ini.ReadFloat(kSection, "AE Max Time", 0);
        cbo_ControlPort->SetItemIndex(readInt("COM Port", 0));
        ControllerModel = readInt("Controller Model", 1);
        const std::string exposureText = ini.ReadString(kSection, "Exposure Time", "0.015");
        ccdMode = ini.ReadString(kSection, "CCD Mode", "1280 x 1024");
        range = ini.ReadString(kSection, "Range", "High");
        chk_Acquire8bit->SetChecked(readBool("8 Bit Acquire", false));
        chk_Color->SetChecked(readBool("Color mode", false));
        // The one read that can fail: a non-numeric exposure text switches to the fallback.
        // A number beyond an int saturates (the camera's limits then apply).
        SetExposureTime(camera::TruncateToInt32(StrToFloat(exposureText)));
        SetBinning(readInt("Binning Factor", 1));
        SetGainValue(InRangeOrZero(readInt("Brightness", 0), 0, 4095));
        SetOffsetValue(InRangeOrZero(readInt("Contrast", 0), 0, 4095));
        FocusMapMin = readInt("Focus/8Bit Mapping Min", 0);
        FocusMapMax = readInt("Focus/8Bit Mapping Max", 255);
        HighSpeedMapMin = readInt("High Speed Mapping Min", 0);
        HighSpeedMapMax = readInt("High Speed Mapping Max", 4095);
        SlowScanMapMin = readInt("Slow Scan Mapping Min", 0);
        SlowScanMapMax = readInt("Slow Scan Mapping Max", 16383);
        FrameIntervalHours = InRangeOrZero(readInt("Frame Interval (hrs)", 0), 0, 99);
        FrameIntervalMinutes = InRangeOrZero(readInt("Frame Interval (min)", 0), 0, 59);
        FrameIntervalSeconds = InRangeOrZero(readInt("Frame Interval (sec)", 1), 0, 59);
        FrameIntervalMs = InRangeOrZero(readInt("Frame Interval (ms)", 0), 0, 100000);
        frameIntervalHms = readBool("Frame Interval hms", false);
        ExposureHours = InRangeOrZero(readInt("Exposure Time (hrs)", 0), 0, 99);
        ExposureMinutes = InRangeOrZero(readInt("Exposure Time (min)", 0), 0, 59);
        ExposureSeconds = InRangeOrZero(readInt("Exposure Time (sec)", 1), 0, 59);
        ExposureMs = InRangeOrZero(readInt("Exposure Time (ms)", 40), 0, 32000);
        ExposureUs = InRangeOrZero(readInt("Exposure Time (us)", 40), 0, 32000);
        showExposureParts();
        rbn_grab_ExposureTime->SetChecked(readBool("Exposure Time hms Selected", false));
        rbn_grab_ExposureTime1->SetChecked(readBool("Exposure Time ms Selected", true));
        rbn_ExposureTime2->SetChecked(readBool("Exposure Time us Selected", false));
        chk_Fast->SetChecked(readBool("Readout Fast", true));
        TraceLevel = readInt("Trace Level", 0);
        AutoExposureLevel = readInt("AE Level", 4);
        switch (AutoExposureLevel) {
            case 1: rbn_25->SetChecked(true), AutoExposureTarget = 0.25; break;
            case 2: rbn_50->SetChecked(true), AutoExposureTarget = 0.5; break;
            case 3: rbn_75->SetChecked(true), AutoExposureTarget = 0.75; break;
            default: rbn_100->SetChecked(true), AutoExposureTarget = 1.0; break;
        }
        chk_ConnectAtStart->SetChecked(readBool("Connect at Start", true));
        ReconnectPort = chk_ConnectAtStart->Checked();
    } catch (const EConvertError&) {
        FocusMapMin = 0, FocusMapMax = 255;
        HighSpeedMapMin = 0, HighSpeedMapMax = 4095;
        SlowScanMapMin = 0, SlowScanMapMax = 16383;
        cbo_ControlPort->SetItemIndex(0);
        ControllerModel = 1;
        SetExposureTime(0);  // the fallback text "0.015" truncates to 0
        RoiWindowed = 0;
        RoiBinning = {1, 1};
        SetGainValue(0);
        SetOffsetValue(255);
        range = "High";
        ccdMode = "1280 x 1024";
        FrameIntervalHours = FrameIntervalMinutes = FrameIntervalMs = 0;
        FrameIntervalSeconds = 1;
        frameIntervalHms = false;
        ExposureHours = ExposureMinutes = 0;
        ExposureSeconds = 1;
        ExposureMs = ExposureUs = 40;
        showExposureParts();
        rbn_grab_ExposureTime1->SetChecked(true);
        chk_Acquire8bit->SetChecked(false);
        TraceLevel = 0;
    }

    g_iTraceLevel = TraceLevel;
    PublishRegion();

    const bool squareWindow = ccdMode == "1024 x 1024";
    rbn_1280_1024->SetChecked(!squareWindow);
    rbn_1024_1024->SetChecked(squareWindow);

    hsb_Brightness->SetPosition(Brightness);
    lbl_BrightnessValue->SetCaption(IntToStr(Brightness));
    txt_Brightness->SetText(IntToStr(Brightness));
    hsb_Contrast->SetPosition(Contrast);
    lbl_ContrastValue->SetCaption(IntToStr(Contrast));
    txt_Contrast->SetText(IntToStr(Contrast));

    med_grab_FrameInterval->SetText(IntToStr(FrameIntervalHours));
    med_grab_FrameInterval1->SetText(IntToStr(FrameIntervalMinutes));
    med_grab_FrameInterval2->SetText(IntToStr(FrameIntervalSeconds));
    med_grab_FrameInterval3->SetText(IntToStr(FrameIntervalMs));

    // The unit buttons' handlers apply the entries. Checking a button runs its handler when
    // the check changes; when it was checked already, the handler is run here.
    TRadioButton* intervalUnit = frameIntervalHms ? rbn_grab_FrameInterval : rbn_grab_FrameInterval1;
    if (!intervalUnit->SetChecked(true)) intervalUnit->OnClick(intervalUnit);
    for (TRadioButton* unit : {rbn_grab_ExposureTime, rbn_grab_ExposureTime1, rbn_ExposureTime2}) {
        if (unit->Checked()) {
            unit->OnClick(unit);
            break;
        }
    }

    int k = 0;
    for (int i = 0; i < 4; ++i) {
        if (BinningChoices[i] == BinningFactorX) {
            k = i;
            break;
        }
    }
    lbl_BinningFactorX->SetCaption(IntToStr(BinningFactorX));
    hsb_BinningFactorX->SetPosition(k);
    TRadioButton* binButtons[] = {rbn_Bin1, rbn_bin2, rbn_bin4, rbn_bin8};
    binButtons[k]->SetChecked(true);
    SelectBinning(k);
    lbl_BinningFactorY->SetCaption(IntToStr(BinningFactorY));
    // The hidden vertical bar maps its positions to the factors 1..4 directly, not through
    // the camera's choices: its change handler would re-bin to k + 1 (3 instead of 4, say),
    // so it is only moved here.
    auto verticalChange = hsb_BinningFactorY->OnChange.Get();
    hsb_BinningFactorY->OnChange = nullptr;
    hsb_BinningFactorY->SetPosition(k);
    hsb_BinningFactorY->OnChange = std::move(verticalChange);

    InitialiseArmed = true;

    if (range == "High") rbn_RangeHigh->SetChecked(true);
    else if (range == "Mid") rbn_RangeMid->SetChecked(true);
    else if (range == "Low") rbn_RangeLow->SetChecked(true);

    InitialiseCamera();
}

bool TBXTessvikFerroFW::SaveToRegistry(const std::string& path) {
    bx::ini::TIniFile ini(path);
    auto writeInt = [&](const char* key, int value) { return ini.WriteInteger(kSection, key, value); };
    auto writeBool = [&](const char* key, bool value) { return ini.WriteBool(kSection, key, value); };
    auto writeText = [&](const char* key, const std::string& value) {
        return ini.WriteString(kSection, key, value);
    };
    std::string range = rbn_RangeHigh->Checked()  ? "High"
                        : rbn_RangeMid->Checked() ? "Mid"
                        : rbn_RangeLow->Checked() ? "Low"
                                                  : "";
    // Written in this order; the first failure ends the save, keeping what was written. The
    // mapping ranges are doubles the host may set to anything; they are written saturated.
    return ini.WriteFloat(kSection, "AE Max Time", ExposureMaxMicroseconds) &&
           writeInt("COM Port", cbo_ControlPort->ItemIndex()) &&
           writeInt("Controller Model", ControllerModel) &&
           writeText("Exposure Time", IntToStr(ExposureTime)) &&
           writeInt("Brightness", Brightness) && writeInt("Contrast", Contrast) &&
           writeText("CCD Mode", rbn_1280_1024->Checked() ? "1280 x 1024" : "1024 x 1024") &&
           writeText("Range", range) && writeBool("8 Bit Acquire", chk_Acquire8bit->Checked()) &&
           writeBool("Color mode", chk_Color->Checked()) &&
           writeInt("Binning Factor", BinningFactorX) &&
           writeInt("Focus/8Bit Mapping Min", camera::TruncateToInt32(FocusMapMin)) &&
           writeInt("Focus/8Bit Mapping Max", camera::TruncateToInt32(FocusMapMax)) &&
           writeInt("High Speed Mapping Min", camera::TruncateToInt32(HighSpeedMapMin)) &&
           writeInt("High Speed Mapping Max", camera::TruncateToInt32(HighSpeedMapMax)) &&
           writeInt("Slow Scan Mapping Min", camera::TruncateToInt32(SlowScanMapMin)) &&
           writeInt("Slow Scan Mapping Max", camera::TruncateToInt32(SlowScanMapMax)) &&
           writeInt("Frame Interval (hrs)", FrameIntervalHours) &&
           writeInt("Frame Interval (min)", FrameIntervalMinutes) &&
           writeInt("Frame Interval (sec)", FrameIntervalSeconds) &&
           writeInt("Frame Interval (ms)", FrameIntervalMs) &&
           writeBool("Frame Interval hms", rbn_grab_FrameInterval->Checked()) &&
           writeInt("Exposure Time (hrs)", ExposureHours) &&
           writeInt("Exposure Time (min)", ExposureMinutes) &&
           writeInt("Exposure Time (sec)", ExposureSeconds) &&
           writeInt("Exposure Time (ms)", ExposureMs) &&
           writeInt("Exposure Time (us)", ExposureUs) &&
           writeBool("Exposure Time hms Selected", rbn_grab_ExposureTime->Checked()) &&
           writeBool("Exposure Time ms Selected", rbn_grab_ExposureTime1->Checked()) &&
           writeBool("Exposure Time us Selected", rbn_ExposureTime2->Checked()) &&
           writeBool("Readout Fast", chk_Fast->Checked()) &&
           writeInt("AE Level", AutoExposureLevel) &&
           writeBool("Connect at Start", chk_ConnectAtStart->Checked());
}

}  // namespace ferro
