// IBXTessvikFerroFW's camera and acquisition members: argument checks and the forwarding to
// the form's operations, with the setter pattern of the automation object.
#include <bxplatform/ui.h>

#include <algorithm>

#include "automation/BXTessvikFerroFWImpl.h"
#include "automation/Members.h"
#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

using namespace automation;

namespace {

// The mapping pair MapMin and MapMax refer to: the 8-bit format's, else the full-depth
// (high-speed) one's at the camera's largest depth, else the slow-scan one's.
struct MappingPair {
    double& Min;
    double& Max;
};
MappingPair SelectedMapping(TBXTessvikFerroFW& f) {
    if (f.CurrentMappingFormat == 3) return {f.FocusMapMin, f.FocusMapMax};
    if (f.BitDepth == f.MaxBitDepth) return {f.HighSpeedMapMin, f.HighSpeedMapMax};
    return {f.SlowScanMapMin, f.SlowScanMapMax};
}

// The grab window after a binning put on a ready camera: the full sensor.
void ResetWindowForBinning(TBXTessvikFerroFW& f) {
    if (!f.CameraReady) return;
    f.btn_Window->SetCaption("Window");
    f.GrabWindowLeft = f.GrabWindowTop = 0;
    f.GrabWindowRight = f.GrabWindowBottom = 4096;
    f.WindowedGrab = false;
}

int ChoiceIndex(const TBXTessvikFerroFW& f, int factor) {
    const auto match = std::find(f.BinningChoices.begin(), f.BinningChoices.end(), factor);
    return match == f.BinningChoices.end() ? 0 : static_cast<int>(match - f.BinningChoices.begin());
}

// The binning button of hsb_BinningFactorX's position is the checked one.
bx::ui::TRadioButton* ShowBinningPosition(TBXTessvikFerroFW& f) {
    bx::ui::TRadioButton* button =
        f.BinningButtons()[static_cast<size_t>(f.hsb_BinningFactorX->Position())];
    button->SetChecked(true);
    return button;
}

}  // namespace

// ---- Stored values --------------------------------------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_BlackLevel(SHORT* value) {
    return Out(value, form_->BlackLevel);
}
HRESULT TBXTessvikFerroFWImpl::put_BlackLevel(SHORT value) {
    return Put(kDispBlackLevel, InRange(value, 0, 255), [&] { form_->BlackLevel = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_WhiteLevel(SHORT* value) {
    return Out(value, form_->WhiteLevel);
}
HRESULT TBXTessvikFerroFWImpl::put_WhiteLevel(SHORT value) {
    return Put(kDispWhiteLevel, InRange(value, 0, 255), [&] { form_->WhiteLevel = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_Saturation(SHORT* value) {
    return Out(value, form_->Saturation);
}
HRESULT TBXTessvikFerroFWImpl::put_Saturation(SHORT value) {
    return Put(kDispSaturation, InRange(value, 0, 255), [&] { form_->Saturation = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_FrameRate(LONG* value) {
    return Out(value, form_->FrameRate.load());
}
HRESULT TBXTessvikFerroFWImpl::put_FrameRate(LONG value) {
    return Put(kDispFrameRate, true, [&] { form_->FrameRate = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_Recycle(VARIANT_BOOL* value) {
    return OutBool(value, form_->Recycle);
}
HRESULT TBXTessvikFerroFWImpl::put_Recycle(VARIANT_BOOL value) {
    return Put(kDispRecycle, true, [&] { form_->Recycle = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_Abort(VARIANT_BOOL* value) {
    return OutBool(value, form_->Abort);
}
HRESULT TBXTessvikFerroFWImpl::put_Abort(VARIANT_BOOL value) {
    return Put(kDispAbort, true, [&] { form_->Abort = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_Channel(SHORT* value) {
    return Out(value, form_->Channel);
}
// Accepted and announced, but nothing changes: the control has one channel.
HRESULT TBXTessvikFerroFWImpl::put_Channel(SHORT) {
    return Put(kDispChannel, true, [] {});
}
HRESULT TBXTessvikFerroFWImpl::get_Camera(TessvikFerroCameraType* value) {
    return Out(value, static_cast<TessvikFerroCameraType>(form_->Camera));
}
HRESULT TBXTessvikFerroFWImpl::put_Camera(TessvikFerroCameraType value) {
    return Put(kDispCamera, InRange(value, 1, 4), [&] { form_->Camera = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_NumberOfFrames(LONG* value) {
    return Out(value, form_->NumberOfFrames.load());
}
HRESULT TBXTessvikFerroFWImpl::put_NumberOfFrames(LONG value) {
    return Put(kDispNumberOfFrames, value >= 1, [&] { form_->NumberOfFrames = value; });
}
HRESULT TBXTessvikFerroFWImpl::get_PostTriggerFrames(LONG* value) {
    return Out(value, form_->PostTriggerFrames);
}
HRESULT TBXTessvikFerroFWImpl::put_PostTriggerFrames(LONG value) {
    return Put(kDispPostTriggerFrames, true,
               [&] { form_->PostTriggerFrames = value != 0 ? 1 : 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_PreTriggerFrames(LONG* value) {
    return Out(value, form_->PreTriggerFrames);
}
HRESULT TBXTessvikFerroFWImpl::put_PreTriggerFrames(LONG value) {
    return Put(kDispPreTriggerFrames, true, [&] { form_->PreTriggerFrames = value != 0 ? 1 : 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_PostTrigger(VARIANT_BOOL* value) {
    return OutBool(value, form_->PostTrigger);
}
HRESULT TBXTessvikFerroFWImpl::put_PostTrigger(VARIANT_BOOL value) {
    return Put(kDispPostTrigger, true, [&] { form_->PostTrigger = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_PreTrigger(VARIANT_BOOL* value) {
    return OutBool(value, form_->PreTrigger);
}
HRESULT TBXTessvikFerroFWImpl::put_PreTrigger(VARIANT_BOOL value) {
    return Put(kDispPreTrigger, true, [&] { form_->PreTrigger = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_FrameTrigger(VARIANT_BOOL* value) {
    return OutBool(value, form_->FrameTrigger);
}
HRESULT TBXTessvikFerroFWImpl::put_FrameTrigger(VARIANT_BOOL value) {
    return Put(kDispFrameTrigger, true, [&] { form_->FrameTrigger = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_DisplayEnabled(VARIANT_BOOL* value) {
    return OutBool(value, form_->DisplayEnabled);
}
HRESULT TBXTessvikFerroFWImpl::put_DisplayEnabled(VARIANT_BOOL value) {
    return Put(kDispDisplayEnabled, true, [&] { form_->DisplayEnabled = value != 0; });
}
HRESULT TBXTessvikFerroFWImpl::get_CurrentMappingFormat(LONG* value) {
    return Out(value, form_->CurrentMappingFormat);
}
HRESULT TBXTessvikFerroFWImpl::put_CurrentMappingFormat(LONG value) {
    form_->CurrentMappingFormat = value;  // a plain setter
    return S_OK;
}

// ---- Camera values through the form's setters -----------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_Brightness(SHORT* value) {
    return Out(value, form_->Brightness.load());
}
HRESULT TBXTessvikFerroFWImpl::put_Brightness(SHORT value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == form_->Brightness) return S_OK;
        return NotifyingSet(kDispBrightness, InRange(value, 0, 255),
                            [&] { form_->SetGainValue(value); });
    });
}
HRESULT TBXTessvikFerroFWImpl::get_Gain(LONG* value) {
    return Out(value, LONG{form_->Brightness.load()});
}
HRESULT TBXTessvikFerroFWImpl::put_Gain(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == form_->Brightness) return S_OK;
        return NotifyingSet(kDispGain, InRange(value, 0, 4095),
                            [&] { form_->SetGainValue(value); });
    });
}
HRESULT TBXTessvikFerroFWImpl::get_Contrast(SHORT* value) {
    return Out(value, form_->Contrast.load());
}
HRESULT TBXTessvikFerroFWImpl::put_Contrast(SHORT value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == form_->Contrast) return S_OK;
        return NotifyingSet(kDispContrast, InRange(value, 0, 255),
                            [&] { form_->SetOffsetValue(value); });
    });
}
HRESULT TBXTessvikFerroFWImpl::get_ExposureTime(LONG* value) {
    return Out(value, form_->ExposureTime.load());
}
HRESULT TBXTessvikFerroFWImpl::put_ExposureTime(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == form_->ExposureTime) return S_OK;
        return NotifyingSet(kDispExposureTime, true, [&] {
            form_->SetExposureTime(value);
            form_->RefreshExposureDisplay();
        });
    });
}

// ---- Binning ------------------------------------------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_BinningFactorX(LONG* value) {
    return Out(value, LONG{form_->BinningFactorX.load()});
}
// Any factor is taken; the scroll bar goes to the factor's place among the camera's choices
// (the first when it is none of them), and its change handler then applies that choice.
HRESULT TBXTessvikFerroFWImpl::put_BinningFactorX(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        TBXTessvikFerroFW& f = *form_;
        if (value == f.BinningFactorX) return S_OK;
        const int index = ChoiceIndex(f, value);
        return NotifyingSet(kDispBinningFactorX, true, [&] {
            ResetWindowForBinning(f);
            f.SetBinning(value);
            f.hsb_BinningFactorX->SetPosition(index);
            ShowBinningPosition(f);
            bx::ui::TRadioButton* button = f.BinningButtons()[static_cast<size_t>(index)];
            if (f.ActiveControl() != button) button->SetFocus();
        });
    });
}
HRESULT TBXTessvikFerroFWImpl::get_BinningFactorY(LONG* value) {
    return Out(value, LONG{form_->BinningFactorY.load()});
}
HRESULT TBXTessvikFerroFWImpl::put_BinningFactorY(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        TBXTessvikFerroFW& f = *form_;
        if (value == f.BinningFactorX) return S_OK;
        return NotifyingSet(kDispBinningFactorY, value <= 4, [&] {
            ResetWindowForBinning(f);
            f.SetBinning(value);
            f.hsb_BinningFactorY->SetPosition(ChoiceIndex(f, value));
            ShowBinningPosition(f);
        });
    });
}

// ---- Grab window ----------------------------------------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_GrabWindowLeft(LONG* value) {
    return Out(value, form_->GrabWindowLeft.load());
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowLeft(LONG value) {
    return Put(kDispGrabWindowLeft, true, [&] {
        form_->GrabWindowLeft = value;
        form_->RebuildRegion();
    });
}
HRESULT TBXTessvikFerroFWImpl::get_GrabWindowTop(LONG* value) {
    return Out(value, form_->GrabWindowTop.load());
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowTop(LONG value) {
    return Put(kDispGrabWindowTop, true, [&] {
        form_->GrabWindowTop = value;
        form_->RebuildRegion();
    });
}
HRESULT TBXTessvikFerroFWImpl::get_GrabWindowRight(LONG* value) {
    return Out(value, form_->GrabWindowRight.load());
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowRight(LONG value) {
    return Put(kDispGrabWindowRight, true, [&] {
        form_->GrabWindowRight = value;
        form_->RebuildRegion();
    });
}
HRESULT TBXTessvikFerroFWImpl::get_GrabWindowBottom(LONG* value) {
    return Out(value, form_->GrabWindowBottom.load());
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowBottom(LONG value) {
    return Put(kDispGrabWindowBottom, true, [&] {
        form_->GrabWindowBottom = value;
        form_->RebuildRegion();
    });
}
HRESULT TBXTessvikFerroFWImpl::get_GrabWindowWidth(LONG* value) {
    return Out(value, form_->ImageWidth * form_->BinningFactorX);
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowWidth(LONG) {
    return Put(kDispGrabWindowWidth, false, [] {});
}
HRESULT TBXTessvikFerroFWImpl::get_GrabWindowHeight(LONG* value) {
    return Out(value, form_->ImageHeight * form_->BinningFactorY);
}
HRESULT TBXTessvikFerroFWImpl::put_GrabWindowHeight(LONG) {
    return Put(kDispGrabWindowHeight, false, [] {});
}
HRESULT TBXTessvikFerroFWImpl::get_WindowedGrab(VARIANT_BOOL* value) {
    return OutBool(value, form_->WindowedGrab);
}
HRESULT TBXTessvikFerroFWImpl::put_WindowedGrab(VARIANT_BOOL value) {
    return Put(kDispWindowedGrab, true, [&] {
        form_->WindowedGrab = value != 0;
        form_->RebuildRegion();
        form_->ApplyRegion();
    });
}

// ---- Progress values: stored through the form's setters, which raise their events --------

HRESULT TBXTessvikFerroFWImpl::get_GrabProgress(LONG* value) {
    return Out(value, form_->GrabProgress.load());
}
HRESULT TBXTessvikFerroFWImpl::put_GrabProgress(LONG value) {
    return Put(kDispGrabProgress, true, [&] { form_->SetGrabProgress(value); });
}
HRESULT TBXTessvikFerroFWImpl::get_TimeToNextFrame(LONG* value) {
    return Out(value, form_->TimeToNextFrame.load());
}
HRESULT TBXTessvikFerroFWImpl::put_TimeToNextFrame(LONG value) {
    return Put(kDispTimeToNextFrame, true, [&] { form_->SetTimeToNextFrame(value); });
}
HRESULT TBXTessvikFerroFWImpl::get_TimeElapsed(LONG* value) {
    return Out(value, form_->TimeElapsed.load());
}
HRESULT TBXTessvikFerroFWImpl::put_TimeElapsed(LONG value) {
    return Put(kDispTimeElapsed, true, [&] { form_->SetTimeElapsed(value); });
}
HRESULT TBXTessvikFerroFWImpl::get_TimeRemaining(LONG* value) {
    return Out(value, form_->TimeRemaining.load());
}
HRESULT TBXTessvikFerroFWImpl::put_TimeRemaining(LONG value) {
    return Put(kDispTimeRemaining, true, [&] { form_->SetTimeRemaining(value); });
}
HRESULT TBXTessvikFerroFWImpl::get_TimeToFrameCompletion(LONG* value) {
    return Out(value, form_->TimeToFrameCompletion.load());
}
HRESULT TBXTessvikFerroFWImpl::put_TimeToFrameCompletion(LONG value) {
    return Put(kDispTimeToFrameCompletion, true, [&] { form_->SetTimeToFrameCompletion(value); });
}

// ---- Display mapping ------------------------------------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_MapMin(double* value) {
    return Out(value, SelectedMapping(*form_).Min);
}
HRESULT TBXTessvikFerroFWImpl::put_MapMin(double value) {
    return Put(kDispMapMin, true, [&] {
        SelectedMapping(*form_).Min = value;
        form_->CopyMappingToLive();  // a running live display changes at once
    });
}
HRESULT TBXTessvikFerroFWImpl::get_MapMax(double* value) {
    return Out(value, SelectedMapping(*form_).Max);
}
HRESULT TBXTessvikFerroFWImpl::put_MapMax(double value) {
    return Put(kDispMapMax, true, [&] {
        SelectedMapping(*form_).Max = value;
        form_->CopyMappingToLive();
    });
}

// The camera reports no temperature: the getters leave the caller's value as it was.
HRESULT TBXTessvikFerroFWImpl::get_ActualTemperature(double*) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::put_ActualTemperature(double) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::get_Temperture(double*) {
    return S_OK;
}
HRESULT TBXTessvikFerroFWImpl::put_Temperture(double) {
    return S_OK;
}

// ---- Windows --------------------------------------------------------------------------------

HRESULT TBXTessvikFerroFWImpl::get_DisplayWindow(LONG* value) {
    return Out(value, static_cast<LONG>(form_->DisplayWindow));
}
HRESULT TBXTessvikFerroFWImpl::put_DisplayWindow(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        const auto window = static_cast<bx::ui::HWND>(value);
        bx::ui::TRect rect{};
        const bool exists = bx::ui::IsWindow(window) && bx::ui::GetWindowRect(window, &rect);
        return NotifyingSet(kDispDisplayWindow, exists, [&] {
            TBXTessvikFerroFW& f = *form_;
            f.DisplayWindow = window;
            f.DisplayWindowLeft = rect.Left;
            f.DisplayWindowTop = rect.Top;
            f.DisplayWindowWidth = rect.Right - rect.Left + 1;
            f.DisplayWindowHeight = rect.Bottom - rect.Top + 1;
        });
    });
}
HRESULT TBXTessvikFerroFWImpl::get_ImageWindow(LONG* value) {
    return Out(value, static_cast<LONG>(form_->ImageWindow));
}
// The view is named by its handle in the host's handle table, never by an address.
HRESULT TBXTessvikFerroFWImpl::put_ImageWindow(LONG value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (notifier_.RequestEdit(kDispImageWindow) == S_FALSE) return S_FALSE;
        if (value == 0) {
            form_->gpb_Window->SetEnabled(false);  // no view to draw a window on
            return S_FALSE;
        }
        form_->ImageWindow = form_->SelectionView = static_cast<uint32_t>(value);
        notifier_.Changed(kDispImageWindow);
        return S_OK;
    });
}

}  // namespace ferro
