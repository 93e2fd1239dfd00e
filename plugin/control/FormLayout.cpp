// The form definition: every panel control with its name, parent, caption and initial state.
// Handlers are bound afterwards (BindHandlers), so setting initial states here fires nothing.
#include <string>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using namespace bx::ui;

namespace {

// Creates a control on `form` with a caption and bounds; the caption may be empty.
template <class T>
T* Make(TForm& form, const char* name, TControl* parent, const std::string& caption = {},
        int left = 0, int top = 0, int width = 0, int height = 0) {
    T* control = form.Add<T>(name, parent);
    if (!caption.empty()) control->SetCaption(caption);
    control->SetBounds(left, top, width, height);
    return control;
}

TMaskEdit* MakeMaskEdit(TForm& form, const char* name, TControl* parent, const char* mask,
                        const std::string& text, int left, int top) {
    auto* edit = Make<TMaskEdit>(form, name, parent, {}, left, top, 40, 21);
    edit->SetEditMask(mask);
    edit->SetText(text);
    return edit;
}

// A 12 x 14 padlock for the edit lock's glyph, its shackle raised when open.
TBitmap PadlockGlyph(bool open) {
    constexpr int kWidth = 12, kHeight = 14;
    constexpr uint32_t kBody = 0x00A0A0A0, kShackle = 0x00404040, kClear = 0x00FFFFFF;
    TBitmap glyph{kWidth, kHeight, std::vector<uint32_t>(kWidth * kHeight, kClear)};
    auto put = [&](int x, int y, uint32_t colour) { glyph.Pixels[y * kWidth + x] = colour; };
    for (int y = 7; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) put(x, y, kBody);
    const int lift = open ? 2 : 0;  // an open shackle stands clear of the body on one side
    for (int x = 2; x < 10; ++x) put(x, 0, kShackle);
    for (int y = 1; y < 7; ++y) {
        put(2, y, kShackle);
        if (y < 7 - lift) put(9, y, kShackle);
    }
    return glyph;
}

TUpDown* MakeUpDown(TForm& form, const char* name, TControl* parent, int min, int max, int position,
                    int left, int top) {
    auto* spin = Make<TUpDown>(form, name, parent, {}, left, top, 16, 21);
    spin->SetMin(min);
    spin->SetMax(max);
    spin->SetPosition(position);
    return spin;
}

TScrollBar* MakeScrollBar(TForm& form, const char* name, TControl* parent, int min, int max,
                          int position, int largeStep, int left, int top) {
    auto* bar = Make<TScrollBar>(form, name, parent, {}, left, top, 200, 17);
    bar->SetParams(position, min, max);
    bar->SetLargeChange(largeStep);
    return bar;
}

}  // namespace

// The form's panel and its page control with the five pages.
void PanelControls::CreatePages(TForm& f) {
    Panel1 = Make<TPanel>(f, "Panel1", nullptr, {}, 4, 4, 350, 443);
    AcquistionParameters =
        Make<TPageControl>(f, "AcquistionParameters", Panel1, {}, 0, 0, 350, 443);
    tab_Camera = Make<TTabSheet>(f, "Camera", AcquistionParameters, "Camera");
    tab_Acquire = Make<TTabSheet>(f, "Acquire", AcquistionParameters, "Acquire");
    tab_Triggers = Make<TTabSheet>(f, "Triggers", AcquistionParameters, "Triggers");
    tab_Device = Make<TTabSheet>(f, "Device", AcquistionParameters, "Device");
    tab_GrabOptions = Make<TTabSheet>(f, "GrabOptions", AcquistionParameters, "Grab Options");
    tab_GrabOptions->SetTabVisible(false);
}

// Camera page: "Window Mode", "Binning" (its scroll bars hold the choice), "Sub Window" and
// "Reset".
void PanelControls::CreateWindowAndBinning(TForm& f) {
    GroupBox10 = Make<TGroupBox>(f, "GroupBox10", tab_Camera, "Window Mode", 6, 69, 160, 81);
    rbn_1280_1024 = Make<TRadioButton>(f, "rbn_1280_1024", GroupBox10, "w 1280 : h 1024", 10, 18);
    rbn_1024_1024 = Make<TRadioButton>(f, "rbn_1024_1024", GroupBox10, "w 1024 : h 1024", 10, 40);
    rbn_1280_1024->SetChecked(true);

    GroupBox3 = Make<TGroupBox>(f, "GroupBox3", tab_Camera, "Binning", 6, 64, 160, 57);
    rbn_Bin1 = Make<TRadioButton>(f, "rbn_Bin1", GroupBox3, "1x1", 10, 13);
    rbn_bin2 = Make<TRadioButton>(f, "rbn_bin2", GroupBox3, "2x2", 10, 32);
    rbn_bin4 = Make<TRadioButton>(f, "rbn_bin4", GroupBox3, "3x3", 72, 13);
    rbn_bin8 = Make<TRadioButton>(f, "rbn_bin8", GroupBox3, "4x4", 72, 32);
    rbn_Bin1->SetChecked(true);
    hsb_BinningFactorX = MakeScrollBar(f, "hsb_BinningFactorX", GroupBox3, 0, 3, 1, 1, 0, 0);
    hsb_BinningFactorY = MakeScrollBar(f, "hsb_BinningFactorY", GroupBox3, 0, 3, 0, 1, 0, 0);
    lbl_BinningFactorX = Make<TLabel>(f, "lbl_BinningFactorX", GroupBox3, "1");
    lbl_BinningFactorY = Make<TLabel>(f, "lbl_BinningFactorY", GroupBox3, "1");
    for (TControl* hidden : std::initializer_list<TControl*>{
             hsb_BinningFactorX, hsb_BinningFactorY, lbl_BinningFactorX, lbl_BinningFactorY})
        hidden->Hide();

    gpb_Window = Make<TGroupBox>(f, "gpb_Window", tab_Camera, "Sub Window", 170, 64, 160, 57);
    btn_Window = Make<TButton>(f, "btn_Window", gpb_Window, "Window", 10, 18, 70, 25);
    lbl_Window = Make<TLabel>(f, "lbl_Window", gpb_Window, {}, 90, 22);
    btn_Reset = Make<TButton>(f, "btn_Reset", tab_Camera, "Reset", 250, 20, 70, 25);
}

// Camera page: "Exposure Time", one masked field, spin control and mode button per unit.
void PanelControls::CreateExposureGroup(TForm& f) {
    grp_grab_ExposureTime =
        Make<TGroupBox>(f, "grp_grab_ExposureTime", tab_Camera, "Exposure Time", 6, 150, 330, 38);
    {
        TGroupBox* g = grp_grab_ExposureTime;
        rbn_grab_ExposureTime = Make<TRadioButton>(f, "rbn_grab_ExposureTime", g, "m : s", 8, 14);
        rbn_grab_ExposureTime1 = Make<TRadioButton>(f, "rbn_grab_ExposureTime1", g, "ms", 60, 14);
        rbn_ExposureTime2 = Make<TRadioButton>(f, "rbn_ExposureTime2", g, "us", 100, 14);
        rbn_grab_ExposureTime2 = Make<TRadioButton>(f, "rbn_grab_ExposureTime2", g, "3");
        rbn_grab_ExposureTime3 = Make<TRadioButton>(f, "rbn_grab_ExposureTime3", g, "4");
        rbn_grab_ExposureTime2->Hide();
        rbn_grab_ExposureTime3->Hide();
        rbn_ExposureTime2->SetChecked(true);
        med_grab_ExposureTime0 =
            MakeMaskEdit(f, "med_grab_ExposureTime0", g, "!99;1;_", "", 140, 12);
        med_grab_ExposureTime0->Hide();
        med_grab_ExposureTime1 =
            MakeMaskEdit(f, "med_grab_ExposureTime1", g, "!99;1;_", " 0", 140, 12);
        med_grab_ExposureTime2 =
            MakeMaskEdit(f, "med_grab_ExposureTime2", g, "!99;1;_", " 1", 180, 12);
        med_grab_ExposureTime3 =
            MakeMaskEdit(f, "med_grab_ExposureTime3", g, "!99999;1;_", "   40", 220, 12);
        med_grab_ExposureTime4 =
            MakeMaskEdit(f, "med_grab_ExposureTime4", g, "!99999;1;_", "", 260, 12);
        UpDown1 = MakeUpDown(f, "UpDown1", g, 0, 900, 0, 200, 12);
        UpDown2 = MakeUpDown(f, "UpDown2", g, 1, 32000, 1, 240, 12);
        UpDown3 = MakeUpDown(f, "UpDown3", g, 40, 32000, 40, 300, 12);
        bb_OK = Make<TBitBtn>(f, "bb_OK", g, "OK", 300, 0, 20, 20);
        bb_Can = Make<TBitBtn>(f, "bb_Can", g, "Cancel", 320, 0, 20, 20);
        bb_OK->Hide();
        bb_Can->Hide();
        lbl_ActualExposureTime = Make<TLabel>(f, "lbl_ActualExposureTime", g, {}, 8, 36);
        lbl_ExposureTime = Make<TLabel>(f, "lbl_ExposureTime", g, {}, 120, 36);
        lbl_ExposureTime->Hide();
    }
}

// Camera page: "Auto Exposure" with its targets, indicator and options.
void PanelControls::CreateAutoExposureGroup(TForm& f) {
    GroupBox5 = Make<TGroupBox>(f, "GroupBox5", tab_Camera, "Auto Exposure", 6, 188, 160, 93);
    Label16 = Make<TLabel>(f, "Label16", GroupBox5, "Target % Saturation", 8, 18);
    rbn_100 = Make<TRadioButton>(f, "rbn_100", GroupBox5, "100", 8, 35);
    rbn_75 = Make<TRadioButton>(f, "rbn_75", GroupBox5, "75", 8, 48);
    rbn_50 = Make<TRadioButton>(f, "rbn_50", GroupBox5, "50", 60, 35);
    rbn_25 = Make<TRadioButton>(f, "rbn_25", GroupBox5, "25", 60, 48);
    btn_AutoExpose = Make<TButton>(f, "btn_AutoExpose", GroupBox5, "Set", 8, 65, 60, 22);
    btn_AutoExpose->SetHint("Right-click for options");
    btn_AutoExpose->SetShowHint(true);
    auto* autoExposeMenu = f.Add<TPopupMenu>("pm_AutoExpose");
    autoExposeMenu->AddItem("Show Maximum AutoExposure Dialog");
    autoExposeMenu->AddItem("Hide Maximum AutoExposure Dialog");
    btn_AutoExpose->SetPopupMenu(autoExposeMenu);
    shp_AutoEx = Make<TShape>(f, "shp_AutoEx", GroupBox5, {}, 80, 65, 20, 20);
    shp_AutoEx->SetBrushColor(clLime);
    auto* autoExposeSetup = Make<TPanel>(f, "pan_AutoEx", tab_Camera, "Autoexposure Setup");
    autoExposeSetup->Hide();
    btn_AutoAccept = Make<TButton>(f, "btn_AutoAccept", autoExposeSetup, "OK");
    btn_AutoAccept->Hide();
}

// Camera page: "Bit and Color selection".
void PanelControls::CreateDepthGroup(TForm& f) {
    GroupBox4 =
        Make<TGroupBox>(f, "GroupBox4", tab_Camera, "Bit and Color selection", 170, 188, 160, 93);
    rbn_RangeHigh = Make<TRadioButton>(f, "rbn_RangeHigh", GroupBox4, "12", 10, 51);
    rbn_RangeMid = Make<TRadioButton>(f, "rbn_RangeMid", GroupBox4, "10 bits", 60, 51);
    rbn_RangeLow = Make<TRadioButton>(f, "rbn_RangeLow", GroupBox4, "8", 110, 51);
    rbn_RangeMid->Hide();
    rbn_RangeHigh->SetChecked(true);
    chk_Color = Make<TCheckBox>(f, "chk_Color", GroupBox4, "Color", 10, 31);
    chk_Fast = Make<TCheckBox>(f, "chk_Fast", GroupBox4, "Fast", 10, 70);
    chk_Fast->SetChecked(true);
    chk_Fast->Hide();
    chk_Acquire8bit = Make<TCheckBox>(f, "chk_Acquire8bit", GroupBox4, "Acquire 8 bits", 60, 70);
    chk_Acquire8bit->Hide();
    chk_Acquire8bit->SetEnabled(false);
    mmo_12bit = Make<TMemo>(f, "mmo_12bit", tab_Camera, {}, 170, 282, 160, 50);
    mmo_12bit->SetLines({"Please Note: to ensure stable operation enter",
                         "focus mode after changing from 8 to 12 bit",
                         "acquisition (click to hide this mesage)"});
    mmo_12bit->Hide();
}

// Camera page: "Gain and Offset Control".
void PanelControls::CreateGainOffsetGroup(TForm& f) {
    GroupBox11 =
        Make<TGroupBox>(f, "GroupBox11", tab_Camera, "Gain and Offset Control", 6, 330, 330, 80);
    {
        TGroupBox* g = GroupBox11;
        Make<TLabel>(f, "lbl_Gain", g, "Gain:", 8, 18);
        Make<TLabel>(f, "lbl_Offset", g, "Offset:", 8, 48);
        hsb_Brightness = MakeScrollBar(f, "hsb_Brightness", g, 0, 4095, 0, 100, 50, 18);
        hsb_Contrast = MakeScrollBar(f, "hsb_Contrast", g, 0, 4095, 0, 100, 50, 48);
        lbl_BrightnessValue = Make<TLabel>(f, "lbl_BrightnessValue", g, "255", 260, 18);
        lbl_ContrastValue = Make<TLabel>(f, "lbl_ContrastValue", g, "255", 260, 48);
        txt_Brightness = Make<TEdit>(f, "txt_Brightness", g);
        txt_Contrast = Make<TEdit>(f, "txt_Contrast", g);
        ud_Brightness = MakeUpDown(f, "ud_Brightness", g, 0, 4095, 0, 0, 0);
        ud_Contrast = MakeUpDown(f, "ud_Contrast", g, 0, 4095, 0, 0, 0);
        ud_Brightness->SetAssociate(txt_Brightness);
        ud_Contrast->SetAssociate(txt_Contrast);
        btn_BrightDown = Make<TButton>(f, "btn_BrightDown", g, "<<");
        btn_BrightUp = Make<TButton>(f, "btn_BrightUp", g, ">>");
        btn_ContrastDown = Make<TButton>(f, "btn_ContrastDown", g, "<<");
        btn_ContrastUp = Make<TButton>(f, "btn_ContrastUp", g, ">>");
        btn_BrightDown->SetHint("-10");
        btn_BrightUp->SetHint("+10");
        btn_ContrastDown->SetHint("-10");
        btn_ContrastUp->SetHint("+10");
        for (TCustomEdit* edit :
             {static_cast<TCustomEdit*>(txt_Brightness), static_cast<TCustomEdit*>(txt_Contrast)})
            edit->SetReadOnly(true);
        for (TControl* hidden : std::initializer_list<TControl*>{
                 txt_Brightness, txt_Contrast, ud_Brightness, ud_Contrast, btn_BrightDown,
                 btn_BrightUp, btn_ContrastDown, btn_ContrastUp})
            hidden->Hide();
        btn_GainOffsetDefault = Make<TButton>(f, "btn_GainOffsetDefault", g,
                                              "Set to Factory Defaults", 50, 60, 150, 18);
    }
}

// Acquire page: exposure field, frame interval and the edit lock.
void PanelControls::CreateAcquirePage(TForm& f) {
    Make<TLabel>(f, "lbl_AcquireExposure", tab_Acquire, "Exposure (us):", 8, 12);
    txt_ExposureTime = Make<TEdit>(f, "txt_ExposureTime", tab_Acquire, {}, 100, 8, 80, 21);
    GroupBox12 = Make<TGroupBox>(f, "GroupBox12", tab_Acquire, "Frame Interval", 6, 40, 330, 60);
    {
        TGroupBox* g = GroupBox12;
        med_grab_FrameInterval = MakeMaskEdit(f, "med_grab_FrameInterval", g, "!99;1;_", "", 8, 30);
        med_grab_FrameInterval1 =
            MakeMaskEdit(f, "med_grab_FrameInterval1", g, "!99;1;_", "", 50, 30);
        med_grab_FrameInterval2 =
            MakeMaskEdit(f, "med_grab_FrameInterval2", g, "!99;1;_", "", 92, 30);
        med_grab_FrameInterval3 =
            MakeMaskEdit(f, "med_grab_FrameInterval3", g, "!9999999;1;_", "", 150, 30);
        rbn_grab_FrameInterval = Make<TRadioButton>(f, "rbn_grab_FrameInterval", g, "h:m:s", 8, 12);
        rbn_grab_FrameInterval1 =
            Make<TRadioButton>(f, "rbn_grab_FrameInterval1", g, "ms", 150, 12);
        rbn_grab_FrameInterval1->SetChecked(true);
    }
    GroupBox12->Hide();
    cmd_EditLock = Make<TSpeedButton>(f, "cmd_EditLock", tab_Acquire, {}, 300, 8, 23, 23);
    cmd_EditLock->SetHint("Unlock/Lock settings to avoid accidental changes");
    cmd_EditLock->Hide();
    img_Open = Make<TImage>(f, "img_Open", tab_Acquire);
    img_Closed = Make<TImage>(f, "img_Closed", tab_Acquire);
    img_Open->SetPicture(PadlockGlyph(true));
    img_Closed->SetPicture(PadlockGlyph(false));
    img_Open->Hide();
    img_Closed->Hide();
}

// The hidden "Grab Options" page: entry fields nothing reads (the exposure field that acts
// is the Acquire page's).
void PanelControls::CreateGrabOptionsPage(TForm& f) {
    struct Row {
        const char* caption;
        const char* name;
    };
    const Row rows[] = {{"Number of Frames", "med_opt_NumberOfFrames"},
                        {"Frame Rate", "med_opt_FrameRate"},
                        {"Exposure Time", "med_opt_ExposureTime"},
                        {"Start Trigger", "med_opt_StartTrigger"},
                        {"Stop Trigger", "med_opt_StopTrigger"},
                        {"Pre-Trigger Frames", "med_opt_PreTriggerFrames"},
                        {"Post-Trigger Frames", "med_opt_PostTriggerFrames"}};
    TGroupBox* g =
        Make<TGroupBox>(f, "grp_GrabOptions", tab_GrabOptions, "Grab Options", 6, 6, 330, 220);
    int top = 18;
    for (const Row& row : rows) {
        Make<TLabel>(f, (std::string("lbl") + (row.name + 3)).c_str(), g, row.caption, 8, top);
        MakeMaskEdit(f, row.name, g, "!9999999;1;_", "", 150, top);
        top += 24;
    }
    Make<TCheckBox>(f, "chk_opt_Recycle", g, "Recycle", 8, top);
}

// Triggers page: trigger mode and the minimum time-out.
void PanelControls::CreateTriggersPage(TForm& f) {
    Make<TGroupBox>(f, "grp_TriggerMode", tab_Triggers, "Mode", 6, 6, 330, 120);
    rbtn_FreeRun = Make<TRadioButton>(f, "rbtn_FreeRun", tab_Triggers, "Free Running", 16, 24);
    rbtn_ExternalTrigger =
        Make<TRadioButton>(f, "rbtn_ExternalTrigger", tab_Triggers, "External Trigger", 16, 44);
    rbtn_FreeRun->SetChecked(true);
    Make<TLabel>(f, "lbl_MinTimeout", tab_Triggers, "Min Timeout For External Trigger (s)", 16, 70);
    txt_MinTimeout = Make<TEdit>(f, "txt_MinTimeout", tab_Triggers, "1000", 16, 88, 80, 21);
}

// Device page: the identity labels and the hidden controller group.
void PanelControls::CreateDevicePage(TForm& f) {
    struct DeviceRow {
        const char* caption;
        const char* name;
        TLabel** field;
    };
    const DeviceRow rows[] = {
        {"Status:", "lbl_Diagnosis", &lbl_Diagnosis},
        {"Camera Type:", "lbl_CameraType", &lbl_CameraType},
        {"CCD Type:", "lbl_CCDType", &lbl_CCDType},
        {"CCD Dimension:", "lbl_CCDDimension", &lbl_CCDDimension},
        {"Max Bit Depth:", "lbl_SlowScanBitDepth", &lbl_SlowScanBitDepth},
        {"Min Bit Depth:", "lbl_HighSpeedBitDepth", &lbl_HighSpeedBitDepth},
        {"Max Binning:", "lbl_MaxBinning", &lbl_MaxBinning},
        {"Driver Version:", "lbl_DriverVersion", &lbl_DriverVersion},
        {"Firmware Version:", "lbl_FirmwareVersion", &lbl_FirmwareVersion},
        {"Hardware Version:", "lbl_HardwareVersion", &lbl_HardwareVersion},
        {"Readout Speed:", "lbl_FrameReadOutTime", &lbl_FrameReadOutTime},
    };
    int top = 8;
    for (const DeviceRow& row : rows) {
        Make<TLabel>(f, (std::string("cap_") + row.name).c_str(), tab_Device, row.caption, 8, top);
        *row.field = Make<TLabel>(f, row.name, tab_Device, {}, 130, top);
        top += 20;
    }
    lbl_FrameReadOutTime->Hide();

    grp_Controller =
        Make<TGroupBox>(f, "grp_Controller", tab_Device, "Controller", 6, top, 330, 90);
    cbo_ControlPort = Make<TComboBox>(f, "cbo_ControlPort", grp_Controller, {}, 8, 18, 80, 21);
    cbo_ControlPort->SetStyle(csDropDownList);
    cbo_ControlPort->SetItems({"NONE", "COM1", "COM2", "COM3", "COM4"});
    chk_ConnectAtStart =
        Make<TCheckBox>(f, "chk_ConnectAtStart", grp_Controller, "Reconnect at Start", 100, 20);
    lbl_ComStatus = Make<TLabel>(f, "lbl_ComStatus", grp_Controller, "Not Connected", 8, 45);
    lbl_Version = Make<TLabel>(f, "lbl_Version", grp_Controller, {}, 8, 65);
    grp_Controller->Hide();
}

void PanelControls::CreateControls(TForm& f) {
    f.SetBounds(0, 0, 358, 451);
    CreatePages(f);
    CreateWindowAndBinning(f);
    CreateExposureGroup(f);
    CreateAutoExposureGroup(f);
    CreateDepthGroup(f);
    CreateGainOffsetGroup(f);
    CreateAcquirePage(f);
    CreateTriggersPage(f);
    CreateGrabOptionsPage(f);
    CreateDevicePage(f);
    AcquistionParameters->SetActivePage(tab_Camera);
}

void TBXTessvikFerroFW::BindHandlers() {
    BindDepthGainHandlers();
    BindExposureHandlers();
    BindBinningHandlers();
    BindAutoExposureHandlers();
    BindLiveHandlers();
    BindControllerHandlers();
    BindGrabOptionsHandlers();
}

}  // namespace ferro
