// The control's lifecycle: creation with its defaults, session open and close, teardown, the
// value setters and the millisecond clock.
#include <bxplatform/handles.h>
#include <bxplatform/kernel.h>
#include <bxview/image_view.h>

#include <thread>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

using namespace bx::ui;

std::atomic<TBXTessvikFerroFW*> ActiveControl{nullptr};
std::atomic<bool> LiveSettingsChanged{false};
std::atomic<bool> FrameDoneFlag{false};

TBXTessvikFerroFW::TBXTessvikFerroFW() {
    CreateControls();
    BindHandlers();
    OnCreate = [this](TObject*) { FormCreate(); };
    OnDestroy = [this](TObject*) {
        FormDestroy();
        Events.Raise(EventId::OnDestroy);
    };
    DoCreate();
}

TBXTessvikFerroFW::~TBXTessvikFerroFW() {
    // The destroy event first, then the destructor's own teardown: each release clears what
    // it released, so the second run finds nothing left to do.
    DoDestroy();
    FormDestroy();
    TBXTessvikFerroFW* self = this;
    ferro::ActiveControl.compare_exchange_strong(self, nullptr);
}

void TBXTessvikFerroFW::FormCreate() {
    // 1. Session, identity and live flags cleared.
    CameraReady = SessionOpen = InitialiseArmed = false;
    CameraCommandBusy = FrameInFlight = false;
    IsMicroDot = IsModelB = SeparateBinningSupported = IsColourCamera = false;
    FullSensorWindow = false;
    LiveActive = LiveRequested = false;
    GrabInProgress = false;
    AutoExposureTarget = 1.0;

    // 2. The "Camera" page shows; the "Triggers" tab is hidden.
    AcquistionParameters->SetActivePage(tab_Camera);
    tab_Triggers->SetTabVisible(false);

    // 3.-4.
    ferro::ActiveControl = this;
    CameraHandle = 0;
    rbn_100->SetChecked(true);

    // 5. The clock.
    ClockFrequency = bx::kernel::QueryPerformanceFrequency();
    ClockMode = ClockFrequency > 0 ? 2 : 0;

    // 6.-7.
    cbo_ControlPort->SetItemIndex(0);
    rbn_RangeHigh->SetChecked(true);
    chk_Acquire8bit->SetChecked(false);
    BitDepth = 12;
    MaxBitDepth = 12;

    // 8. Gain and offset (the camera is not ready, so nothing is sent).
    SetGainValue(255);
    hsb_Brightness->SetPosition(Brightness);
    lbl_BrightnessValue->SetCaption(IntToStr(Brightness));
    SetOffsetValue(0);
    hsb_Contrast->SetPosition(Contrast);
    lbl_ContrastValue->SetCaption(IntToStr(Contrast));

    // 9. Window, image, binning, frames, camera, frame rate and exposure defaults.
    GrabWindowLeft = GrabWindowTop = 0;
    GrabWindowRight = GrabWindowBottom = 2000;
    SensorWindowWidth = SensorWindowHeight = 2000;
    ImageWidth = ImageHeight = 2000;
    BinningFactorX = BinningFactorY = 1;
    WindowedGrab = false;
    NumberOfFrames = 10;
    Camera = 1;
    FrameRate = 400;
    ExposureTime = 400;
    GrabProgress = TimeToNextFrame = TimeElapsed = TimeRemaining = TimeToFrameCompletion = 0;

    // 10. The palette.
    BuildPalette(AcquisitionPalette, 0);
    PaletteReleased = false;

    // 11. No camera traffic yet: initialisation is not armed.
    Initialise();
}

void TBXTessvikFerroFW::Initialise() {
    if (SessionOpen) {
        ApplyRegion();
        return;
    }
    LiveRequested = false;
    LiveActive = false;
    if (InitialiseCamera()) SessionOpen = true;
}

void TBXTessvikFerroFW::Quit() {
    if (!SessionOpen) return;
    if (LiveRequested && LiveActive) StopLive(*this);
    SessionOpen = false;
}

void TBXTessvikFerroFW::UpdateCameraStatus() {
    lbl_Diagnosis->SetCaption(CameraHandle != 0 ? "Camera is working"
                                                : "Camera is not ready to use");
}

void TBXTessvikFerroFW::FormDestroy() {
    Quit();
    if (CameraHandle != 0) {
        LastCameraError = KvCam_CloseCamera(CameraHandle);
        if (LastCameraError != KVCAM_OK)
            Application().MessageBox("KvCam close error!", "Error Message", MB_OK);
        CameraHandle = 0;
        KvCam_ReleaseDriver();
    }
    CameraReady = false;
    // The palette's storage lives as long as the form, so a later palette or acquisition
    // call can never reach freed memory; teardown only marks it released.
    PaletteReleased = true;
}

void TBXTessvikFerroFW::SetExposureTime(int value) {
    if (value == ExposureTime) return;
    ExposureTime = value;
    if (!SetCameraExposure(value) && g_iTraceLevel >= 2)
        TraceWrite("Error in comms setting exposure\r\n");
}

void TBXTessvikFerroFW::SetGainValue(int value) {
    const auto gain = static_cast<int16_t>(value);
    if (gain == Brightness) return;
    Brightness = gain;
    if (hsb_Brightness->Position() != gain) {
        hsb_Brightness->SetPosition(gain);
        ud_Brightness->SetPosition(gain);
        lbl_BrightnessValue->SetCaption(IntToStr(gain));
    }
    SetCameraGain(gain);
}

void TBXTessvikFerroFW::SetOffsetValue(int value) {
    const auto offset = static_cast<int16_t>(value);
    if (offset == Contrast) return;
    Contrast = offset;
    if (hsb_Contrast->Position() != offset) {
        hsb_Contrast->SetPosition(offset);
        ud_Contrast->SetPosition(offset);
        lbl_ContrastValue->SetCaption(IntToStr(offset));
    }
    SetCameraOffset(offset);
}

void TBXTessvikFerroFW::SetBinning(int factor) {
    if (CameraReady) {
        btn_Window->SetCaption("Window");
        GrabWindowLeft = GrabWindowTop = 0;
        GrabWindowRight = GrabWindowBottom = 4096;
        WindowedGrab = false;
    }
    BinningFactorX = BinningFactorY = static_cast<int16_t>(factor);
    RebuildRegion();
}

int64_t TBXTessvikFerroFW::CurrentMilliseconds() const {
    if (ClockMode == 2 && ClockFrequency > 0)
        return bx::kernel::QueryPerformanceCounter() * 1000 / ClockFrequency;
    return static_cast<int64_t>(bx::kernel::GetTickCount64());
}

void TBXTessvikFerroFW::WaitMilliseconds(int64_t n) const {
    const int64_t start = CurrentMilliseconds();
    while (CurrentMilliseconds() - start < n) std::this_thread::yield();
}

bx::view::TBXImageView* TBXTessvikFerroFW::View() const {
    return bx::view::LookupImageView(ImageWindow);
}

bool TBXTessvikFerroFW::CameraTypeIsMicroDot() const {
    return lbl_CameraType->Caption() == "MicroDot";
}

}  // namespace ferro
