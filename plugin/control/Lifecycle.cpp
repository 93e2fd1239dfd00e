// The control's lifecycle: creation with its defaults, session open and close, teardown, the
// value setters and the millisecond clock.
//
// The lifecycle states, and the flags that make them:
//
//   State      Flags                                           Entered by          Left by
//   Created    InitialiseArmed, CameraReady false; handle 0    FormCreate          loading settings
//   Armed      InitialiseArmed; CameraReady false              end of loading      initialisation
//   Ready      InitialiseArmed, CameraReady; handle != 0       initialisation ok   re-init,
//   teardown Not ready  InitialiseArmed; CameraReady false, and the     initialisation      the
//   next
//              last initialisation failed                      failed              initialisation
//   Torn down  CameraReady false, handle 0, palette released   FormDestroy         -
//
// SessionOpen (Initialise / Quit), LiveActive and GrabInProgress are orthogonal to these
// states; live video and grabs start only when Ready. A re-initialisation request (the window
// mode, "Reset" and trigger buttons) clears CameraReady and so goes back to Armed; loading the
// settings again clears InitialiseArmed for the duration of the load and keeps a ready camera.
// State() derives the state from the flags; CameraIsReady() is the one guard of operations
// that need a ready camera.
#include <bxplatform/handles.h>
#include <bxplatform/kernel.h>
#include <bxview/image_view.h>

#include <thread>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"

namespace ferro {

using namespace bx::ui;

std::atomic<TBXTessvikFerroFW*> ActiveControl{nullptr};
std::atomic<bool> LiveSettingsChanged{false};
std::atomic<bool> FrameDoneFlag{false};

TBXTessvikFerroFW::TBXTessvikFerroFW() {
    CreateControls(*this);
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
    CameraReady = SessionOpen = InitialiseArmed = InitialisationFailed = false;
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
    FrameRate = 400;
    ExposureTime = 400;
    GrabProgress = TimeToNextFrame = TimeElapsed = TimeRemaining = TimeToFrameCompletion = 0;

    // 10. The palette.
    BuildPalette(AcquisitionPalette, 0);
    PaletteReleased = false;

    // 11. No camera traffic yet: initialisation is not armed.
    Initialise();
}

LifecycleState TBXTessvikFerroFW::State() const {
    if (PaletteReleased) return LifecycleState::TornDown;
    if (CameraReady && CameraHandle != 0) return LifecycleState::Ready;
    if (!InitialiseArmed) return LifecycleState::Created;
    return InitialisationFailed ? LifecycleState::NotReady : LifecycleState::Armed;
}

bool TBXTessvikFerroFW::CameraIsReady(NotReady reaction, bool needsSession) const {
    if (CameraReady && (!needsSession || SessionOpen)) return true;
    if (reaction == NotReady::Beep) bx::ui::Beep();
    return false;
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
    EndLiveThread();
    OpenControllerPort({});  // the controller's port closes with the control
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

namespace {

// Gain or offset: stores the value, brings its panel controls in line and sends it.
template <class Send>
void SetPanelValue(std::atomic<int16_t>& field, TScrollBar* bar, TUpDown* spin, TLabel* label,
                   int value, Send send) {
    const auto v = static_cast<int16_t>(value);
    if (v == field) return;
    field = v;
    if (bar->Position() != v) {
        bar->SetPosition(v);
        spin->SetPosition(v);
        label->SetCaption(IntToStr(v));
    }
    send(v);
}

}  // namespace

void TBXTessvikFerroFW::SetGainValue(int value) {
    SetPanelValue(Brightness, hsb_Brightness, ud_Brightness, lbl_BrightnessValue, value,
                  [this](int16_t v) { SetCameraGain(v); });
}

void TBXTessvikFerroFW::SetOffsetValue(int value) {
    SetPanelValue(Contrast, hsb_Contrast, ud_Contrast, lbl_ContrastValue, value,
                  [this](int16_t v) { SetCameraOffset(v); });
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
