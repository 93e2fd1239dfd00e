// The "Auto Exposure" group: the four targets ("100", "75", "50", "25" per cent of full
// scale) and the run that searches for the exposure at which the brightest significant part
// of the frame reaches the target. A run starts at the shortest exposure, grabs a frame,
// measures its histogram (panel/Histogram.h) and scales the exposure by how far the peak is
// from the target, bisecting between the brightest exposure found too dark and the darkest
// found too bright once it has overshot. It ends when the exposure settles, a limit is reached
// or 40 frames were taken.
//
// A run is started by the live thread (btn_AutoExpose's click asks it for one) and runs there
// while streaming is stopped, so it touches only atomics, panel controls and the operations
// marked "also live thread".
//
// The region measured is the rectangle drawn on the view, if any, else the whole frame: the
// camera already delivers only the grab window, so the frame is the window. Either way the
// region is cut to the ImageWidth x ImageHeight frame in the buffer.
#include <bxplatform/ui.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "control/BXTessvikGrabImpl1.h"
#include "panel/Histogram.h"
#include "support/Conversions.h"
#include "support/ScopeExit.h"

namespace ferro {

using Form = TBXTessvikFerroFW;

namespace {

constexpr int kMaxFrames = 40;
// A target this high would chase a peak that can only be reached by saturating; it is lowered.
constexpr double kLowerTargetFrom = 0.99;
constexpr double kHighestTarget = 0.98;
constexpr double kNear = 0.1;  // exposures within this fraction of each other count as settled
constexpr int kTopBin = panel::kHistogramBins - 1;
constexpr bx::ui::TColor kRunning = bx::ui::RGB(255, 0, 0);
constexpr bx::ui::TColor kAtRest = bx::ui::RGB(0, 128, 0);

// The working values of one run.
struct Search {
    int Iteration = 0;
    double DarkExposure = 1.0;     // largest exposure found not brighter than the target
    double BrightExposure = 1e10;  // smallest exposure found brighter than the target
    double LastExposure = 0;       // set by the previous step
    int PreviousExposure = -1;     // the two before it
    int EarlierExposure = -1;
    int PeakBin = 0;
    int FloorBin = 0;
    bool Done = false;
};

int ToExposure(double us) {
    return support::TruncateToInt32(us);
}

bool Near(double a, double b, double reference) {
    return std::abs(a - b) / reference <= kNear;
}

void RestoreCaption(Form& form) {
    if (form.btn_AutoExpose->Caption() == "Stop") form.btn_AutoExpose->SetCaption("Set");
}

void Finish(Form& form, Search& search) {
    search.Done = true;
    RestoreCaption(form);
}

// A limit ends the run with the exposure at that limit.
void EndAtLimit(Form& form, double limitUs) {
    form.SetExposureTime(ToExposure(limitUs));
    form.AutoExposeAbort = true;
    RestoreCaption(form);
}

[[noreturn]] void FailUnknownImageType(Form& form) {
    form.GrabInProgress = false;
    throw ControlFailure("Unknown Image Type");
}

// One frame into `buffer`, which holds `bytes` bytes of it afterwards; the depth's layout.
panel::DepthLayout GrabFrame(Form& form, void* buffer, size_t& bytes) {
    form.ApplyRegion();
    if (form.ExposureTime == 0) form.SetExposureTime(ToExposure(form.ExposureMinMicroseconds));
    const auto layout = panel::DepthLayoutFor(form.Acquire8Bit ? 8 : form.BitDepth.load());
    if (!layout) FailUnknownImageType(form);
    form.BytesPerPixel = layout->BytesPerPixel;

    form.SetGrabProgress(-3);
    form.DoPreFrameTriggerClick();
    bytes = form.AcquisitionFrameBytes();
    form.GrabFrameToBuffer(buffer, bytes);
    form.DoPostFrameTriggerClick();
    form.GrabInProgress = false;
    form.Abort = false;
    return *layout;
}

// The histogram over the drawn rectangle, or the whole frame; its peak and floor.
void Measure(Form& form, bx::view::TBXImageView& view, const void* buffer, size_t bytes,
             const panel::DepthLayout& layout, Search& search) {
    const int width = form.ImageWidth, height = form.ImageHeight;
    panel::PixelRegion region = panel::WholeFrame(width, height);
    bx::view::TRect drawn;
    bx::view::TTavikonOverlayObject* overlay = view.OverlayHandler().GetOverlayObject(0);
    if (overlay != nullptr && overlay->GetBoundingRect(drawn))
        region =
            panel::DrawnRegion(drawn.Left, drawn.Top, drawn.Right, drawn.Bottom, width, height);
    if (form.BytesPerPixel < 1 || form.BytesPerPixel > 3) FailUnknownImageType(form);
    const panel::Histogram histogram =
        panel::BuildHistogram(buffer, bytes, width, height, region, layout);
    search.PeakBin = panel::FindPeakBin(histogram);
    search.FloorBin = panel::FindFloorBin(histogram);
}

// The target as a fraction of full scale, 100 % lowered for good.
double Target(Form& form) {
    if (form.AutoExposureTarget >= kLowerTargetFrom) form.AutoExposureTarget = kHighestTarget;
    return form.AutoExposureTarget;
}

// Updates the brackets and ends the run when the frame just measured is good enough (or too
// bright at the shortest exposure). True when the run ended.
bool Judge(Form& form, Search& s, double targetBin) {
    const int exposure = form.ExposureTime;
    const int peak = s.PeakBin;
    if (s.Iteration == 1) s.LastExposure = s.PreviousExposure = exposure;
    if (peak <= targetBin && exposure > s.DarkExposure) s.DarkExposure = exposure;
    if (peak > targetBin && exposure < s.BrightExposure) s.BrightExposure = exposure;

    // A black frame (peak 0) never counts as settled.
    const bool settled = s.Iteration > 2 && peak != 0;
    if (exposure <= form.ExposureMinMicroseconds && peak >= targetBin) {
        EndAtLimit(form, form.ExposureMinMicroseconds);
        return true;
    }
    if (std::abs(int64_t{s.PreviousExposure} - exposure) <= 1 && peak <= targetBin && settled) {
        Finish(form, s);
        return true;
    }
    if (Near(s.BrightExposure, s.DarkExposure, s.DarkExposure) && peak < kTopBin && settled) {
        form.SetExposureTime(ToExposure(s.DarkExposure));
        Finish(form, s);
        return true;
    }
    return false;
}

// Sets the next exposure: scaled towards the target, or, once the search has overshot, the
// midpoint of the bracket. True when the maximum exposure ended the run.
bool TakeStep(Form& form, Search& s, double target, double targetBin) {
    const int exposure = form.ExposureTime;
    double next = std::trunc(exposure * panel::ExposureStepRatio(s.PeakBin, s.FloorBin, target));
    if (s.Iteration >= 2 && s.PeakBin >= targetBin) {
        if (exposure <= s.DarkExposure)
            next = s.DarkExposure;
        else if (exposure >= s.BrightExposure)
            next = std::trunc((s.DarkExposure + s.BrightExposure) / 2);
        else
            next = std::trunc((s.DarkExposure + exposure) / 2);
    }
    if (s.Iteration >= 2 && next > s.BrightExposure)
        next = std::trunc((s.DarkExposure + s.BrightExposure) / 2);
    if (next > form.ExposureMaxMicroseconds) {
        EndAtLimit(form, form.ExposureMaxMicroseconds);
        return true;
    }
    form.SetExposureTime(ToExposure(std::max(next, 1.0)));
    return false;
}

// Ends the run when the new exposure is close to the last one or to the bracket, or when the
// search swings back to where it was two steps ago; otherwise moves the history on.
void Settle(Form& form, Search& s) {
    const double exposure = form.ExposureTime;
    const bool settled = s.Iteration > 2 && s.PeakBin != 0;
    if (Near(s.LastExposure, exposure, exposure) && s.PeakBin < kTopBin && settled) {
        Finish(form, s);
        return;
    }
    if (Near(s.DarkExposure, exposure, s.DarkExposure) && settled) {
        form.SetExposureTime(ToExposure(s.DarkExposure));
        Finish(form, s);
        return;
    }
    s.EarlierExposure = s.PreviousExposure;
    s.PreviousExposure = ToExposure(s.LastExposure);
    s.LastExposure = exposure;
    if (Near(s.EarlierExposure, exposure, exposure) && settled) {
        form.SetExposureTime(std::min(form.ExposureTime.load(), s.PreviousExposure));
        Finish(form, s);
    }
}

}  // namespace

void TBXTessvikFerroFW::AutoExpose(void* buffer) {
    Search search;
    AutoExposeAbort = false;
    shp_AutoEx->SetBrushColor(kRunning);
    // A failure ends the run too: the panel must not be left showing a run that is over.
    auto panelAtRest = support::ScopeExit([this] {
        shp_AutoEx->SetBrushColor(kAtRest);
        RestoreCaption(*this);
    });
    SetExposureTime(ToExposure(ExposureMinMicroseconds));

    while (!search.Done && search.Iteration < kMaxFrames && !AutoExposeAbort) {
        bx::ui::Beep();
        ++search.Iteration;
        size_t bytes = 0;
        const panel::DepthLayout layout = GrabFrame(*this, buffer, bytes);
        bx::view::TBXImageView* view = View();
        if (view == nullptr) {
            bx::ui::Beep();
            break;
        }
        view->SetMMBits(buffer);
        Measure(*this, *view, buffer, bytes, layout, search);
        const double target = Target(*this);
        const double targetBin = target * kTopBin;
        if (Judge(*this, search, targetBin)) continue;
        if (TakeStep(*this, search, target, targetBin)) continue;
        Settle(*this, search);
    }

    DoPreFrameTriggerClick();
    panelAtRest.RunNow();
    RefreshExposureDisplay();
}

void TBXTessvikFerroFW::AutoExposureTargetClick() {
    struct Choice {
        bx::ui::TRadioButton* Form::*Button;
        double Target;
        int Level;
    };
    static constexpr Choice kChoices[] = {{&Form::rbn_100, 1.0, 4},
                                          {&Form::rbn_75, 0.75, 3},
                                          {&Form::rbn_50, 0.5, 2},
                                          {&Form::rbn_25, 0.25, 1}};
    for (const Choice& choice : kChoices) {
        if (!(this->*choice.Button)->Checked()) continue;
        AutoExposureTarget = choice.Target;
        AutoExposureLevel = choice.Level;
        break;
    }
    UpdateCameraStatus();
}

void TBXTessvikFerroFW::AutoAcceptClick() {
    if (auto* setup = Find<bx::ui::TPanel>("pan_AutoEx")) setup->Hide();
    AutoExposureTargetClick();
}

void TBXTessvikFerroFW::BindAutoExposureHandlers() {
    for (bx::ui::TRadioButton* target : {rbn_100, rbn_75, rbn_50, rbn_25})
        target->OnClick = [this](bx::ui::TObject*) { AutoExposureTargetClick(); };
    btn_AutoAccept->OnClick = [this](bx::ui::TObject*) { AutoAcceptClick(); };
    // The dialog these name has no behaviour yet; the items only keep the choice.
    if (bx::ui::TPopupMenu* menu = btn_AutoExpose->PopupMenu()) {
        if (bx::ui::TMenuItem* show = menu->FindItem("Show Maximum AutoExposure Dialog"))
            show->OnClick = [this](bx::ui::TObject*) { ShowMaximumExposureDialog = true; };
        if (bx::ui::TMenuItem* hide = menu->FindItem("Hide Maximum AutoExposure Dialog"))
            hide->OnClick = [this](bx::ui::TObject*) { ShowMaximumExposureDialog = false; };
    }
}

}  // namespace ferro
