#include "camera/Command.h"

#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>

#include <thread>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro::camera {

namespace {

constexpr auto kSeqCst = std::memory_order_seq_cst;

bool OwnsCommand(const TBXTessvikFerroFW& form) {
    return form.CommandOwner.load(kSeqCst) == std::this_thread::get_id();
}

// Polls `pending` every millisecond until it answers false; false when the bound ran out.
template <class Pending>
bool WaitWhile(const TBXTessvikFerroFW& form, int64_t deadline, Pending pending) {
    while (pending()) {
        if (form.CurrentMilliseconds() >= deadline) return false;
        bx::kernel::Sleep(1);
    }
    return true;
}

// Takes CameraCommandBusy for this thread (nesting when it owns it already), then waits for
// the frame in flight. False, holding nothing, when either wait runs out.
bool BeginCommand(TBXTessvikFerroFW& form) {
    if (OwnsCommand(form)) {
        ++form.CommandDepth;
        return true;
    }
    const int64_t deadline = form.CurrentMilliseconds() + kHandOffTimeoutMs;
    const bool owned = WaitWhile(form, deadline, [&form] {
        bool expected = false;
        return !form.CameraCommandBusy.compare_exchange_strong(expected, true, kSeqCst);
    });
    if (!owned) return false;
    form.CommandOwner.store(std::this_thread::get_id(), kSeqCst);
    form.CommandDepth = 1;
    if (!WaitWhile(form, deadline, [&form] { return form.FrameInFlight.load(kSeqCst); })) {
        form.CommandDepth = 0;
        form.CommandOwner.store({}, kSeqCst);
        form.CameraCommandBusy.store(false, kSeqCst);
        return false;
    }
    return true;
}

void EndCommand(TBXTessvikFerroFW& form) {
    if (--form.CommandDepth > 0) return;
    form.CommandOwner.store({}, kSeqCst);
    form.CameraCommandBusy.store(false, kSeqCst);
}

}  // namespace

bool Failed(TBXTessvikFerroFW& form, int32_t result) {
    form.LastCameraError = result;
    return result != KVCAM_OK;
}

void ShowError(const std::string& text, const char* caption) {
    bx::ui::Application().MessageBox(text, caption, bx::ui::MB_OK);
}

void ShowNoIntermediateBuffer() {
    bx::ui::Application().MessageBox(
        "Unable to allocate intermediate buffer.", "Grab warning",
        bx::ui::MB_OKCANCEL | bx::ui::MB_ICONERROR | bx::ui::MB_TASKMODAL);
}

// ---- CameraCommand --------------------------------------------------------------------------

CameraCommand::CameraCommand(TBXTessvikFerroFW& form) : form_(form), held_(BeginCommand(form)) {}

CameraCommand::~CameraCommand() {
    Release();
}

void CameraCommand::Release() {
    if (held_) EndCommand(form_);
    held_ = false;
}

void CameraCommand::Settle() {
    form_.WaitMilliseconds(kSettleMs);
    Release();
}

bool CameraCommand::ReadSettings() {
    return ReadInto(KvCam_ReadSettingsFromCam);
}

bool CameraCommand::ReadDefaults() {
    return ReadInto(KvCam_ReadDefaultSettings);
}

bool CameraCommand::ReadInto(int32_t (*read)(KvCamHandle, KvCamSettings*)) {
    if (!form_.CameraSettings) {
        form_.LastCameraError = KVCAM_ERR_NULL_POINTER;
        return false;
    }
    form_.CameraSettings->size = KVCAM_SETTINGS_SIZE;
    return !Failed(form_, read(form_.CameraHandle, form_.CameraSettings.get()));
}

bool CameraCommand::SetParam(uint32_t id, int32_t value) {
    return !Failed(form_, KvCam_SetParam(form_.CameraSettings.get(), id, value));
}

bool CameraCommand::GetParam(uint32_t id, int32_t& value) {
    return !Failed(form_, KvCam_GetParam(form_.CameraSettings.get(), id, &value));
}

bool CameraCommand::Send() {
    return !Failed(form_, KvCam_SendSettingsToCam(form_.CameraHandle, form_.CameraSettings.get()));
}

bool CameraCommand::SendChange() {
    const bool live = form_.LiveActive;
    if (live) Failed(form_, KvCam_Abort(form_.CameraHandle));
    const bool sent = Send();
    if (live) form_.LiveSettingsSent();
    return sent;
}

// ---- FrameHold ------------------------------------------------------------------------------

FrameHold::FrameHold(TBXTessvikFerroFW& form) : form_(form), held_(false) {
    const int64_t deadline = form.CurrentMilliseconds() + kHandOffTimeoutMs;
    for (;;) {
        form.FrameInFlight.store(true, kSeqCst);
        if (!form.CameraCommandBusy.load(kSeqCst) || OwnsCommand(form)) {
            held_ = true;
            return;
        }
        // A command of another thread has the driver: step back until it is done.
        form.FrameInFlight.store(false, kSeqCst);
        if (!WaitWhile(form, deadline, [&form] { return form.CameraCommandBusy.load(kSeqCst); }))
            return;
    }
}

FrameHold::~FrameHold() {
    if (held_) form_.FrameInFlight.store(false, std::memory_order_release);
}

// ---- Panel commands -------------------------------------------------------------------------

bool RunParameterCommand(TBXTessvikFerroFW& form, uint32_t id, int32_t value,
                         const CommandTexts& texts, const std::function<void()>& onSuccess) {
    CameraCommand command(form);
    if (!command.Held()) return false;
    if (!command.ReadSettings()) {
        ShowError(texts.Read, kCaptionError);
        return false;
    }
    if (!command.SetParam(id, value)) {
        ShowError(texts.Set, kCaptionError);
        return false;
    }
    if (!command.Send()) {
        ShowError(texts.Send, kCaptionError);
        return false;
    }
    if (onSuccess) onSuccess();
    form.CopyDepthToLive();
    return true;
}

}  // namespace ferro::camera
