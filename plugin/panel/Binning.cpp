// Binning and window selection on the camera page. "Binning": four buttons choosing among the
// four factors the camera offers; the choice is held by the hidden scroll bar
// hsb_BinningFactorX (position 0..3 = button), whose change handler applies the factor through
// SetBinning. "Window Mode": full sensor or a 1024 x 1024 square, which reopens the camera.
// "Sub Window": a rectangle drawn on the host's view becomes the grab window. "Reset" reopens
// the camera. None of these may change while live video runs.
#include <bxview/image_view.h>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

using bx::ui::IntToStr;

namespace {

// Extents of "no window" as this panel writes them.
constexpr int kNoWindowExtent = 2048;

void ShowBinningLabels(TBXTessvikFerroFW& form) {
    form.lbl_BinningFactorX->SetCaption(IntToStr(form.BinningFactorX));
    form.lbl_BinningFactorY->SetCaption(IntToStr(form.BinningFactorY));
}

// hsb_BinningFactorX changed: apply the factor of its position.
void BinningFactorXChange(TBXTessvikFerroFW& form) {
    bx::ui::TCursorGuard hourglass;
    const int position = form.hsb_BinningFactorX->Position();
    // Before the camera has reported its choices they are 0; a factor of 0 would later divide
    // the window size, so that position means unbinned until then.
    const int choice = form.BinningChoices[static_cast<size_t>(position)];
    form.BinningFactorX = static_cast<int16_t>(choice > 0 ? choice : 1);
    form.BinningFactorY = form.BinningFactorX.load();
    ShowBinningLabels(form);
    form.SetBinning(form.BinningFactorX);
}

// The hidden vertical choice: positions 0..3 are the factors 1..4.
void BinningFactorYChange(TBXTessvikFerroFW& form) {
    form.BinningFactorY = static_cast<int16_t>(form.hsb_BinningFactorY->Position() + 1);
    form.SetBinning(form.BinningFactorY);
    ShowBinningLabels(form);
}

// Back to the full sensor: caption "Window", no grab window.
void ClearSubWindow(TBXTessvikFerroFW& form) {
    form.btn_Window->SetCaption("Window");
    form.GrabWindowLeft = form.GrabWindowTop = 0;
    form.GrabWindowRight = form.GrabWindowBottom = kNoWindowExtent;
    form.WindowedGrab = false;
}

void BinningButtonReleased(TBXTessvikFerroFW& form, int position) {
    if (form.CameraReady) ClearSubWindow(form);
    form.SelectBinning(position);
}

void CheckWindowModeButtons(TBXTessvikFerroFW& form) {
    (form.FullSensorWindow ? form.rbn_1280_1024 : form.rbn_1024_1024)->SetChecked(true);
}

// Reopens the camera, so everything that depends on the sensor size is read afresh.
void ReinitialiseCamera(TBXTessvikFerroFW& form) {
    form.CameraReady = false;
    form.InitialiseCamera();
}

void WindowModeReleased(TBXTessvikFerroFW& form, bool fullSensor) {
    if (form.LiveActive.load(std::memory_order_acquire)) {
        CheckWindowModeButtons(form);
        bx::ui::Beep();
        return;
    }
    form.btn_Window->SetCaption("Window");
    form.WindowedGrab = false;
    form.FullSensorWindow = fullSensor;
    bx::ui::TCursorGuard hourglass;
    CheckWindowModeButtons(form);
    ReinitialiseCamera(form);
    form.UpdateCameraStatus();
}

// The drawn rectangle did not fit the present window at this binning: a fresh full frame for
// the user to draw on again, and the reason.
void RefuseSubWindow(TBXTessvikFerroFW& form) {
    try {
        form.Snap();
    } catch (const ControlFailure& failure) {
        bx::ui::Application().MessageBox(failure.what(), "Error", bx::ui::MB_OK);
    }
    form.SetGrabProgress(0);
    form.btn_Window->SetCaption("Window");
    bx::ui::Application().MessageBox(
        "The defined window is too large for the present binning mode. \nPlease  re-define "
        "window.",
        "Error", bx::ui::MB_OK);
}

// Takes the rectangle drawn on the view as the grab window. False when the panel must stop
// here (no view, nothing drawn, or a rectangle too large).
bool DefineSubWindow(TBXTessvikFerroFW& form) {
    form.btn_Window->SetCaption("Full Chip");
    bx::view::TBXImageView* view = form.View();
    if (view == nullptr) {
        bx::ui::Beep();
        return false;
    }
    bx::view::TTavikonOverlayObject* drawn = view->OverlayHandler().GetOverlayObject(0);
    bx::view::TRect rect;
    if (drawn == nullptr || !drawn->GetBoundingRect(rect)) {
        form.UpdateWindowLabel();
        form.UpdateCameraStatus();
        return false;
    }
    // The rectangle is in displayed (binned) pixels; the grab window in sensor pixels.
    const int64_t b = form.BinningFactorX;
    if (b * rect.Left > form.GrabWindowRight || b * rect.Top > form.GrabWindowBottom ||
        b * rect.Right > form.GrabWindowRight || b * rect.Bottom > form.GrabWindowBottom) {
        RefuseSubWindow(form);
        return false;
    }
    form.GrabWindowLeft = static_cast<int>(b * rect.Left);
    form.GrabWindowTop = static_cast<int>(b * rect.Top);
    form.GrabWindowRight = static_cast<int>(b * rect.Right);
    form.GrabWindowBottom = static_cast<int>(b * rect.Bottom);
    form.WindowedGrab = true;
    return true;
}

void SubWindowClick(TBXTessvikFerroFW& form) {
    if (form.LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        return;
    }
    form.UpdateCameraStatus();
    if (form.btn_Window->Caption() == "Window") {
        if (!DefineSubWindow(form)) return;
    } else {
        ClearSubWindow(form);
    }
    form.RebuildRegion();
    form.ApplyRegion();
    form.UpdateWindowLabel();
    form.UpdateCameraStatus();
}

void ResetClick(TBXTessvikFerroFW& form) {
    bx::ui::TCursorGuard hourglass;
    if (form.CameraHandle != 0 && form.LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        return;
    }
    ReinitialiseCamera(form);
}

}  // namespace

void TBXTessvikFerroFW::SelectBinning(int position) {
    const auto buttons = BinningButtons();
    if (position < 0 || position >= static_cast<int>(buttons.size())) return;
    if (LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        buttons[static_cast<size_t>(hsb_BinningFactorX->Position())]->SetChecked(true);
        return;
    }
    // A click on the choice already held still applies it: the click has just cleared the grab
    // window, and the camera must be told so.
    if (!hsb_BinningFactorX->SetPosition(position)) BinningFactorXChange(*this);
    UpdateCameraStatus();
    if (position == 0) {
        if (!IsMicroDot) chk_Color->SetEnabled(true);
    } else if (!CameraTypeIsMicroDot() && CameraReady) {
        // Colour is offered unbinned only (the mosaic does not survive binning). Unchecking
        // runs the colour handler, which returns the camera to the chosen depth.
        chk_Color->SetChecked(false);
        chk_Color->SetEnabled(false);
    }
}

void TBXTessvikFerroFW::BindBinningHandlers() {
    const auto buttons = BinningButtons();
    for (size_t i = 0; i < buttons.size(); ++i) {
        const int position = static_cast<int>(i);
        buttons[i]->OnMouseUp = [this, position](bx::ui::TObject*, bx::ui::TMouseButton,
                                                 bx::ui::TShiftState, int,
                                                 int) { BinningButtonReleased(*this, position); };
    }
    hsb_BinningFactorX->OnChange = [this](bx::ui::TObject*) { BinningFactorXChange(*this); };
    hsb_BinningFactorY->OnChange = [this](bx::ui::TObject*) { BinningFactorYChange(*this); };

    rbn_1280_1024->OnMouseUp = [this](bx::ui::TObject*, bx::ui::TMouseButton, bx::ui::TShiftState,
                                      int, int) { WindowModeReleased(*this, true); };
    rbn_1024_1024->OnMouseUp = [this](bx::ui::TObject*, bx::ui::TMouseButton, bx::ui::TShiftState,
                                      int, int) { WindowModeReleased(*this, false); };
    btn_Window->OnClick = [this](bx::ui::TObject*) { SubWindowClick(*this); };
    btn_Reset->OnClick = [this](bx::ui::TObject*) { ResetClick(*this); };
}

}  // namespace ferro
