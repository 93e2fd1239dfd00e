// Starting and stopping live video, the auto-exposure button, and the form operations that
// reach into a running live thread.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>

#include <initializer_list>
#include <memory>
#include <utility>

#include "camera/Command.h"
#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

namespace {

// How long a stop waits for a frame in flight beyond its exposure.
constexpr int64_t kStopGraceMs = 2000;

// The depth choices and "Color" after live video (or a failed start): free again, unless the
// camera is a MicroDot (colour 8-bit only); "Color" only at binning 1.
void ReleaseDepthChoices(TBXTessvikFerroFW& c) {
    if (c.IsMicroDot) return;
    c.SetDepthChoicesEnabled(true);
    c.chk_Color->SetEnabled(c.rbn_Bin1->Checked());
}

// The controls that change geometry or trigger mode, disabled while live video runs.
void SetGeometryControlsEnabled(TBXTessvikFerroFW& c, bool enabled) {
    const std::initializer_list<bx::ui::TControl*> controls = {
        c.rbtn_ExternalTrigger, c.rbtn_FreeRun, c.btn_Window, c.rbn_1280_1024, c.rbn_1024_1024};
    for (bx::ui::TControl* control : controls) control->SetEnabled(enabled);
    for (bx::ui::TRadioButton* button : c.BinningButtons()) button->SetEnabled(enabled);
}

// Waits for the thread to end and deletes it. False (the thread stays in LiveThread, never
// freed while it may run) when it did not end within the bound.
bool JoinLiveThread(TBXTessvikFerroFW& c, uint32_t boundMs) {
    BXTessvikFocus* thread = c.LiveThread;
    if (thread == nullptr) return true;
    thread->Terminate();
    if (!thread->WaitFor(boundMs)) return false;
    delete thread;
    c.LiveThread = nullptr;
    return true;
}

// A thread that ended itself (a refused queue call, an auto-exposure-only pass) is deleted;
// one that has only just told itself to end is waited for, which is short.
void ReapEndedThread(TBXTessvikFerroFW& c) {
    if (c.LiveThread != nullptr && (c.LiveThread->Finished() || c.LiveThread->Terminated()))
        JoinLiveThread(c, camera::kHandOffTimeoutMs);
}

// The thread with the control's settings copied in, its images made. Throws on failure.
std::unique_ptr<BXTessvikFocus> MakeLiveThread(TBXTessvikFerroFW& c, int32_t frameBytes) {
    auto thread = std::make_unique<BXTessvikFocus>(c);
    thread->SetLiveFrameHandler(c.Events.Get(EventId::OnLiveFrameUpdate));
    thread->SetPriority(bx::kernel::ThreadPriority::Normal);
    thread->ImageWidth = c.ImageWidth;
    thread->ImageHeight = c.ImageHeight;
    thread->View = c.View();
    thread->AutoExposeHandler = [&c](void* buffer) { c.AutoExpose(buffer); };
    thread->DepthBits = c.BitDepth.load();
    thread->Force8Bit = c.Acquire8Bit.load();
    thread->FocusMapMin = c.FocusMapMin;
    thread->FocusMapMax = c.FocusMapMax;
    thread->HighSpeedMapMin = c.HighSpeedMapMin;
    thread->HighSpeedMapMax = c.HighSpeedMapMax;
    thread->SlowScanMapMin = c.SlowScanMapMin;
    thread->SlowScanMapMax = c.SlowScanMapMax;
    thread->FrameBytes = frameBytes;
    thread->CameraHandle = c.CameraHandle;
    *thread->Palette = LutEntries(c.AcquisitionPalette);
    thread->PrepareDisplayImage();
    thread->PrepareFrameImage();
    return thread;
}

// Starts the thread; with `autoExposeOnly` it runs one auto-exposure pass and ends.
short BeginLive(TBXTessvikFerroFW& c, bool autoExposeOnly) {
    if (!c.SessionOpen || !c.CameraReady) return 0;
    if (c.GrabInProgress) throw ControlFailure("Grab In Progress.");
    // A second start while running would orphan the running thread.
    if (c.LiveActive) return 0;
    // A thread still in LiveThread has ended or is ending (it cleared LiveActive): wait for
    // it, so it is never replaced while it runs.
    if (!JoinLiveThread(c, camera::kHandOffTimeoutMs))
        throw ControlFailure("Cannot Allocate Focus Image");
    c.SetDepthChoicesEnabled(false);
    c.chk_Color->SetEnabled(false);
    int32_t frameBytes = 0;
    camera::Failed(c, KvCam_GetInfo(c.CameraHandle, KVCAM_INFO_IMAGE_SIZE, &frameBytes));
    c.ApplyRegion();
    c.StopStreaming();
    try {
        camera::Failed(c, KvCam_SetStreaming(c.CameraHandle, 1));
        std::unique_ptr<BXTessvikFocus> thread = MakeLiveThread(c, frameBytes);
        c.DoPreFrameTriggerClick();
        c.DoPreAcquisitionTriggerClick();
        c.AutoExposeOnly = autoExposeOnly;
        thread->StopAfterAutoExpose = autoExposeOnly;
        thread->AutoExposeRequest = autoExposeOnly;
        // Locked and live before the thread runs, so a failure of its first frame, which ends
        // live video and unlocks them, is not overwritten.
        SetGeometryControlsEnabled(c, false);
        c.LiveRequested = c.LiveActive = true;
        c.LiveThread = thread.release();
        c.LiveThread->Resume();
    } catch (const std::exception&) {
        c.LiveRequested = c.LiveActive = c.AutoExposeOnly = false;
        SetGeometryControlsEnabled(c, true);
        ReleaseDepthChoices(c);
        throw ControlFailure("Cannot Allocate Focus Image");
    }
    return 0;
}

int StopLiveOn(TBXTessvikFerroFW& c, bool onLiveThread) {
    std::unique_lock lock(c.LiveStopMutex, std::defer_lock);
    if (onLiveThread) {
        if (!lock.try_lock()) return 0;  // the host thread is stopping live video already
    } else {
        lock.lock();
    }
    c.LiveFreeze = false;
    if (!onLiveThread) ReapEndedThread(c);
    if (!c.SessionOpen) return 0;
    ReleaseDepthChoices(c);
    if (!c.LiveActive) return 0;
    if (!onLiveThread) c.AutoExposeAbort = true;  // a run in progress ends at its next frame
    // Bounded: a frame that never completes must not hold the stop for ever.
    const int64_t deadline = c.CurrentMilliseconds() + c.ActualExposureMs + kStopGraceMs;
    while (c.FrameInFlight.load() && c.CurrentMilliseconds() < deadline) bx::kernel::Sleep(1);
    c.DoPostFrameTriggerClick();
    c.DoPostAcquisitionTriggerClick();
    if (!onLiveThread) JoinLiveThread(c, camera::kHandOffTimeoutMs);
    c.LiveActive = c.LiveRequested = c.AutoExposeOnly = false;
    SetGeometryControlsEnabled(c, true);
    c.ApplyRegion();
    c.StopStreaming();
    return 0;
}

}  // namespace

short StartLive(TBXTessvikFerroFW& control) {
    ferro::ActiveControl = &control;
    if (control.AutoExposeOnly) return 1;
    return BeginLive(control, false);
}

int StopLive(TBXTessvikFerroFW& control) {
    return StopLiveOn(control, false);
}

int StopLiveFromLiveThread(TBXTessvikFerroFW& control) {
    return StopLiveOn(control, true);
}

void TBXTessvikFerroFW::EndLiveThread() {
    std::lock_guard lock(LiveStopMutex);
    if (LiveThread == nullptr) return;
    AutoExposeAbort = true;
    // Every wait of the thread is bounded, so it ends; the control must not go before it.
    JoinLiveThread(*this, bx::kernel::kInfinite);
    LiveActive = LiveRequested = AutoExposeOnly = false;
}

void TBXTessvikFerroFW::AutoExposeClick() {
    if (btn_AutoExpose->Caption() == "Stop") {
        AutoExposeAbort = true;  // a run under way ends at its next frame
        // A run asked for but not begun would clear that when it starts: withdraw it instead.
        if (LiveThread != nullptr && LiveThread->AutoExposeRequest.exchange(false)) {
            btn_AutoExpose->SetCaption("Set");
            if (AutoExposeOnly) StopLive(*this);
        }
        return;
    }
    if (!CameraIsReady(NotReady::Beep, true) || GrabInProgress) {
        if (GrabInProgress) bx::ui::Beep();
        return;
    }
    btn_AutoExpose->SetCaption("Stop");
    if (LiveActive && LiveThread != nullptr) {
        LiveThread->AutoExposeRequest = true;
        return;
    }
    try {
        ferro::ActiveControl = this;
        BeginLive(*this, true);
    } catch (const std::exception& e) {
        btn_AutoExpose->SetCaption("Set");
        bx::ui::Application().MessageBox(e.what(), camera::kCaptionError, bx::ui::MB_OK);
    }
    if (!LiveActive) btn_AutoExpose->SetCaption("Set");
}

void TBXTessvikFerroFW::BindLiveHandlers() {
    btn_AutoExpose->OnClick = [this](bx::ui::TObject*) { AutoExposeClick(); };
}

void TBXTessvikFerroFW::SetLiveFrameUpdateHandler(EventHandler handler) {
    // The live thread calls its own copy of the handler after each frame, so a running thread
    // must get the new one too.
    if (LiveThread) LiveThread->SetLiveFrameHandler(handler);
    Events.Set(EventId::OnLiveFrameUpdate, std::move(handler));
}

void TBXTessvikFerroFW::LiveSettingsSent() {
    if (LiveThread != nullptr) LiveThread->FrameCount = 0;
    LiveSettingsChanged = true;
}

void TBXTessvikFerroFW::CopyDepthToLive() {
    if (LiveThread == nullptr) return;
    LiveThread->DepthBits = BitDepth.load();
    LiveThread->Force8Bit = Acquire8Bit.load();
}

void TBXTessvikFerroFW::CopyMappingToLive() {
    if (LiveThread == nullptr) return;
    LiveThread->FocusMapMin = FocusMapMin;
    LiveThread->FocusMapMax = FocusMapMax;
    LiveThread->HighSpeedMapMin = HighSpeedMapMin;
    LiveThread->HighSpeedMapMax = HighSpeedMapMax;
    LiveThread->SlowScanMapMin = SlowScanMapMin;
    LiveThread->SlowScanMapMax = SlowScanMapMax;
}

}  // namespace ferro
