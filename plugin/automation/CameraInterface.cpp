// The members only the family's camera interfaces have: the single-frame grab, the offset on
// the 0..4095 scale, the exposure in seconds, the settings panel embedded in a host window,
// the teardown and the live freeze. The members IBXCameraInterface shares with
// IBXTessvikFerroFW are served by that interface's implementation.
#include <bxplatform/ui.h>

#include <array>

#include "automation/BXTessvikFerroFWImpl.h"
#include "automation/Members.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using namespace automation;

namespace {

// The panel's two layouts: compact when embedded in a host window, normal in the control's own.
struct Placement {
    bx::ui::TControl* Control;
    int CompactTop, CompactLeft, CompactHeight;  // -1: unchanged
    int NormalTop, NormalLeft, NormalHeight;
};

std::array<Placement, 15> Layout(PanelControls& p) {
    return {{
        {p.GroupBox10, 20, -1, 85, 69, -1, 81},
        {p.grp_grab_ExposureTime, 116, -1, -1, 150, -1, -1},
        {p.GroupBox3, 20, 10, 85, 64, 6, 57},
        {p.rbn_Bin1, 28, 18, -1, 13, 10, -1},
        {p.rbn_bin2, 49, 18, -1, 32, 10, -1},
        {p.rbn_bin4, 28, 70, -1, 13, 72, -1},
        {p.rbn_bin8, 49, 70, -1, 32, 72, -1},
        {p.GroupBox5, 116, 10, 131, 188, 6, 93},
        {p.Label16, 26, -1, -1, 18, -1, -1},
        {p.rbn_100, 49, -1, -1, 35, -1, -1},
        {p.rbn_75, 68, -1, -1, 48, -1, -1},
        {p.rbn_50, 49, -1, -1, 35, -1, -1},
        {p.rbn_25, 68, -1, -1, 48, -1, -1},
        {p.btn_AutoExpose, 91, -1, -1, 65, -1, -1},
        {p.shp_AutoEx, 91, -1, -1, 65, -1, -1},
    }};
}

void ApplyLayout(TBXTessvikFerroFW& f, bool compact) {
    for (const Placement& p : Layout(f)) {
        const int top = compact ? p.CompactTop : p.NormalTop;
        const int left = compact ? p.CompactLeft : p.NormalLeft;
        const int height = compact ? p.CompactHeight : p.NormalHeight;
        if (top >= 0) p.Control->SetTop(top);
        if (left >= 0) p.Control->SetLeft(left);
        if (height >= 0) p.Control->SetHeight(height);
    }
}

}  // namespace

HRESULT TBXTessvikFerroFWImpl::ReservedA(LONG, LONG, LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedB(LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedC(LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedD(LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedE(LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedF(LONG, LONG, LONG, LONG, LONG) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedG() {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::ReservedH(LONG) {
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::GrabFrameIntoImage(LONG hImage, LONG frameIndex, double* elapsedMs,
                                                  VARIANT_BOOL firstFrame) {
    return Guarded(IID_IBXCameraInterface, [&] {
        form_->GrabFrameIntoImage(hImage, frameIndex, firstFrame != 0, elapsedMs);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::get_InterfaceVersion(LONG* value) {
    return Out(value, 0x0100A00E);
}

HRESULT TBXTessvikFerroFWImpl::get_Offset(LONG* value) {
    return Out(value, LONG{form_->Contrast.load()});
}
HRESULT TBXTessvikFerroFWImpl::put_Offset(LONG value) {
    return Guarded(IID_IBXCameraInterface, [&] {
        if (value == form_->Contrast) return S_OK;
        return NotifyingSet(kDispOffset, InRange(value, 0, 4095),
                            [&] { form_->SetOffsetValue(value); });
    });
}

HRESULT TBXTessvikFerroFWImpl::get_BitDepth(LONG* value) {
    return Out(value, form_->BitDepth.load());
}

HRESULT TBXTessvikFerroFWImpl::get_ExposureSeconds(double* value) {
    return Out(value, form_->ExposureTime * 1e-6);
}
HRESULT TBXTessvikFerroFWImpl::put_ExposureSeconds(double value) {
    return Guarded(IID_IBXCameraInterface, [&] {
        // The microseconds as the family's other plug-ins compute them: in single precision,
        // truncated toward zero (and kept inside the 32-bit range).
        const float us = static_cast<float>(value) * 1000000.0f;
        const LONG exposure = us >= 2147483520.0f    ? INT32_MAX
                              : us <= -2147483648.0f ? INT32_MIN
                              : us != us             ? 0
                                                     : static_cast<LONG>(us);
        if (exposure == form_->ExposureTime) return S_OK;
        return NotifyingSet(kDispExposureSeconds, true, [&] {
            form_->SetExposureTime(exposure);
            form_->RefreshExposureDisplay();
        });
    });
}

HRESULT TBXTessvikFerroFWImpl::put_EditLockEnabled(VARIANT_BOOL value) {
    form_->cmd_EditLock->SetEnabled(value != 0);
    return S_OK;
}

// The settings panel into a host window: this control becomes the active one, the groups a
// host sets itself are hidden, and the panel takes its compact layout inside the given box.
HRESULT TBXTessvikFerroFWImpl::EmbedPanel(LONG parentWindow, LONG left, LONG top, LONG width,
                                          LONG height) {
    return Guarded(IID_IBXCameraInterface, [&] {
        TBXTessvikFerroFW& f = *form_;
        ActiveControl = &f;
        f.BinningButtons()[static_cast<size_t>(f.hsb_BinningFactorX->Position())]->SetChecked(true);
        for (bx::ui::TControl* group : {static_cast<bx::ui::TControl*>(f.gpb_Window),
                                        static_cast<bx::ui::TControl*>(f.GroupBox4),
                                        static_cast<bx::ui::TControl*>(f.GroupBox11)})
            group->Hide();
        PanelParentSaved = f.Panel1->ParentWindow();
        f.Panel1->SetParentWindow(static_cast<bx::ui::HWND>(parentWindow));
        f.Show();
        f.Panel1->SetBounds(left + 10, top + 10, width - 20, height - 30);
        f.tab_Device->SetTabVisible(false);
        ApplyLayout(f, true);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::RestorePanel() {
    return Guarded(IID_IBXCameraInterface, [&] {
        TBXTessvikFerroFW& f = *form_;
        f.Panel1->SetParentWindow(PanelParentSaved);
        f.Panel1->SetBounds(4, 4, 350, 443);
        f.AcquistionParameters->SetActivePage(f.tab_Camera);
        f.tab_Device->SetTabVisible(true);
        for (bx::ui::TControl* shown : {static_cast<bx::ui::TControl*>(f.GroupBox12),
                                        static_cast<bx::ui::TControl*>(f.btn_Reset),
                                        static_cast<bx::ui::TControl*>(f.gpb_Window),
                                        static_cast<bx::ui::TControl*>(f.GroupBox4),
                                        static_cast<bx::ui::TControl*>(f.GroupBox11)})
            shown->Show();
        ApplyLayout(f, false);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::Shutdown() {
    return Guarded(IID_IBXCameraInterface2, [&] {
        form_->FormDestroy();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::FreezeLive() {
    form_->LiveFreeze = true;
    return S_OK;
}

}  // namespace ferro
