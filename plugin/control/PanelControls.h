// The settings panel's controls: one pointer per control of the form definition
// (control/FormLayout.cpp), named as the form names them. TBXTessvikFerroFW derives from this
// base; the handlers are bound by the panel/ files.
//
// Thread rule: the pointers are set once, when the form is built, and never change. The
// controls themselves may be changed from the host and the live thread (the toolkit makes
// each property change safe); user input reaches their handlers on the host thread.
#pragma once

#include <bxplatform/ui.h>

#include <array>

namespace ferro {

class PanelControls {
public:
    // The four binning buttons, in the order of BinningChoices.
    std::array<bx::ui::TRadioButton*, 4> BinningButtons() const {
        return {rbn_Bin1, rbn_bin2, rbn_bin4, rbn_bin8};
    }

    bx::ui::TPanel* Panel1 = nullptr;
    bx::ui::TPageControl* AcquistionParameters = nullptr;
    bx::ui::TTabSheet* tab_Camera = nullptr;
    bx::ui::TTabSheet* tab_Acquire = nullptr;
    bx::ui::TTabSheet* tab_Triggers = nullptr;
    bx::ui::TTabSheet* tab_Device = nullptr;
    bx::ui::TTabSheet* tab_GrabOptions = nullptr;

    // Camera page: binning, window, depth and colour, gain and offset, auto-exposure.
    bx::ui::TGroupBox* GroupBox3 = nullptr;  // "Binning"
    bx::ui::TRadioButton* rbn_Bin1 = nullptr;
    bx::ui::TRadioButton* rbn_bin2 = nullptr;
    bx::ui::TRadioButton* rbn_bin4 = nullptr;
    bx::ui::TRadioButton* rbn_bin8 = nullptr;
    bx::ui::TScrollBar* hsb_BinningFactorX = nullptr;
    bx::ui::TScrollBar* hsb_BinningFactorY = nullptr;
    bx::ui::TLabel* lbl_BinningFactorX = nullptr;
    bx::ui::TLabel* lbl_BinningFactorY = nullptr;
    bx::ui::TGroupBox* GroupBox10 = nullptr;  // "Window Mode"
    bx::ui::TRadioButton* rbn_1280_1024 = nullptr;
    bx::ui::TRadioButton* rbn_1024_1024 = nullptr;
    bx::ui::TGroupBox* gpb_Window = nullptr;  // "Sub Window"
    bx::ui::TButton* btn_Window = nullptr;
    bx::ui::TLabel* lbl_Window = nullptr;
    bx::ui::TButton* btn_Reset = nullptr;
    bx::ui::TGroupBox* GroupBox4 = nullptr;  // "Bit and Color selection"
    bx::ui::TRadioButton* rbn_RangeHigh = nullptr;
    bx::ui::TRadioButton* rbn_RangeMid = nullptr;
    bx::ui::TRadioButton* rbn_RangeLow = nullptr;
    bx::ui::TCheckBox* chk_Color = nullptr;
    bx::ui::TCheckBox* chk_Fast = nullptr;
    bx::ui::TCheckBox* chk_Acquire8bit = nullptr;
    bx::ui::TMemo* mmo_12bit = nullptr;
    bx::ui::TGroupBox* GroupBox11 = nullptr;  // "Gain and Offset Control"
    bx::ui::TScrollBar* hsb_Brightness = nullptr;
    bx::ui::TScrollBar* hsb_Contrast = nullptr;
    bx::ui::TLabel* lbl_BrightnessValue = nullptr;
    bx::ui::TLabel* lbl_ContrastValue = nullptr;
    bx::ui::TUpDown* ud_Brightness = nullptr;
    bx::ui::TUpDown* ud_Contrast = nullptr;
    bx::ui::TEdit* txt_Brightness = nullptr;
    bx::ui::TEdit* txt_Contrast = nullptr;
    bx::ui::TButton* btn_BrightDown = nullptr;
    bx::ui::TButton* btn_BrightUp = nullptr;
    bx::ui::TButton* btn_ContrastDown = nullptr;
    bx::ui::TButton* btn_ContrastUp = nullptr;
    bx::ui::TButton* btn_GainOffsetDefault = nullptr;
    bx::ui::TGroupBox* GroupBox5 = nullptr;  // "Auto Exposure"
    bx::ui::TLabel* Label16 = nullptr;
    bx::ui::TRadioButton* rbn_100 = nullptr;
    bx::ui::TRadioButton* rbn_75 = nullptr;
    bx::ui::TRadioButton* rbn_50 = nullptr;
    bx::ui::TRadioButton* rbn_25 = nullptr;
    bx::ui::TButton* btn_AutoExpose = nullptr;
    bx::ui::TButton* btn_AutoAccept = nullptr;
    bx::ui::TShape* shp_AutoEx = nullptr;

    // Exposure time group.
    bx::ui::TGroupBox* grp_grab_ExposureTime = nullptr;      // "Exposure Time"
    bx::ui::TRadioButton* rbn_grab_ExposureTime = nullptr;   // "m : s"
    bx::ui::TRadioButton* rbn_grab_ExposureTime1 = nullptr;  // "ms"
    bx::ui::TRadioButton* rbn_ExposureTime2 = nullptr;       // "us"
    bx::ui::TRadioButton* rbn_grab_ExposureTime2 = nullptr;  // hidden "3"
    bx::ui::TRadioButton* rbn_grab_ExposureTime3 = nullptr;  // hidden "4"
    bx::ui::TMaskEdit* med_grab_ExposureTime0 = nullptr;     // hours (hidden)
    bx::ui::TMaskEdit* med_grab_ExposureTime1 = nullptr;     // minutes
    bx::ui::TMaskEdit* med_grab_ExposureTime2 = nullptr;     // seconds
    bx::ui::TMaskEdit* med_grab_ExposureTime3 = nullptr;     // milliseconds
    bx::ui::TMaskEdit* med_grab_ExposureTime4 = nullptr;     // microseconds
    bx::ui::TUpDown* UpDown1 = nullptr;
    bx::ui::TUpDown* UpDown2 = nullptr;
    bx::ui::TUpDown* UpDown3 = nullptr;
    bx::ui::TBitBtn* bb_OK = nullptr;
    bx::ui::TBitBtn* bb_Can = nullptr;
    bx::ui::TLabel* lbl_ActualExposureTime = nullptr;
    bx::ui::TLabel* lbl_ExposureTime = nullptr;

    // Acquire page.
    bx::ui::TEdit* txt_ExposureTime = nullptr;
    bx::ui::TGroupBox* GroupBox12 = nullptr;  // "Frame Interval"
    bx::ui::TRadioButton* rbn_grab_FrameInterval = nullptr;
    bx::ui::TRadioButton* rbn_grab_FrameInterval1 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval1 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval2 = nullptr;
    bx::ui::TMaskEdit* med_grab_FrameInterval3 = nullptr;
    bx::ui::TSpeedButton* cmd_EditLock = nullptr;
    bx::ui::TImage* img_Open = nullptr;
    bx::ui::TImage* img_Closed = nullptr;

    // Triggers page.
    bx::ui::TRadioButton* rbtn_FreeRun = nullptr;
    bx::ui::TRadioButton* rbtn_ExternalTrigger = nullptr;
    bx::ui::TEdit* txt_MinTimeout = nullptr;

    // Device page.
    bx::ui::TLabel* lbl_Diagnosis = nullptr;
    bx::ui::TLabel* lbl_CameraType = nullptr;
    bx::ui::TLabel* lbl_CCDType = nullptr;
    bx::ui::TLabel* lbl_CCDDimension = nullptr;
    bx::ui::TLabel* lbl_SlowScanBitDepth = nullptr;
    bx::ui::TLabel* lbl_HighSpeedBitDepth = nullptr;
    bx::ui::TLabel* lbl_MaxBinning = nullptr;
    bx::ui::TLabel* lbl_DriverVersion = nullptr;
    bx::ui::TLabel* lbl_FirmwareVersion = nullptr;
    bx::ui::TLabel* lbl_HardwareVersion = nullptr;
    bx::ui::TLabel* lbl_FrameReadOutTime = nullptr;
    bx::ui::TGroupBox* grp_Controller = nullptr;  // "Controller", never shown
    bx::ui::TComboBox* cbo_ControlPort = nullptr;
    bx::ui::TCheckBox* chk_ConnectAtStart = nullptr;
    bx::ui::TLabel* lbl_ComStatus = nullptr;
    bx::ui::TLabel* lbl_Version = nullptr;

protected:
    // Builds every control of the form definition on `form`, with its name, parent, caption
    // and initial state (control/FormLayout.cpp). No handler is bound yet, so nothing fires.
    void CreateControls(bx::ui::TForm& form);

private:
    void CreatePages(bx::ui::TForm& form);
    void CreateWindowAndBinning(bx::ui::TForm& form);
    void CreateExposureGroup(bx::ui::TForm& form);
    void CreateAutoExposureGroup(bx::ui::TForm& form);
    void CreateDepthGroup(bx::ui::TForm& form);
    void CreateGainOffsetGroup(bx::ui::TForm& form);
    void CreateAcquirePage(bx::ui::TForm& form);
    void CreateTriggersPage(bx::ui::TForm& form);
    void CreateGrabOptionsPage(bx::ui::TForm& form);
    void CreateDevicePage(bx::ui::TForm& form);
};

}  // namespace ferro
