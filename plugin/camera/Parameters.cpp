// Camera parameter commands: exposure, gain, offset and the region with its binning. Each one
// reads the camera's settings into the form's block, changes parameters there, sends the
// block back and reads back what the camera made of it, so the fields, the panel and live
// video follow what the camera really accepted. All of them run as camera commands
// (camera/Command.h).
#include <algorithm>
#include <array>

#include "camera/Command.h"
#include "control/BXTessvikGrabImpl1.h"
#include "support/Conversions.h"
#include "support/ScopeExit.h"

namespace ferro {

using camera::CameraCommand;

namespace {

constexpr int kOffsetRange = 4095;  // the camera's offset runs opposite to the panel's

// Gain and offset: one parameter, no messages.
bool SendOneParameter(TBXTessvikFerroFW& form, uint32_t id, double value) {
    if (!form.CameraIsReady()) return false;
    CameraCommand command(form);
    if (!command.Held()) return false;
    command.ReadSettings();  // a failed read leaves the block this control sent last
    if (!command.SetParam(id, support::TruncateToInt32(value))) return false;
    if (!command.SendChange()) return false;
    command.Settle();
    return true;
}

// The parameter that carries the binning: a MicroDot bins through the vertical factor.
uint32_t BinningParameter(bool microDot) {
    return microDot ? KVCAM_PARAM_BINNING_V : KVCAM_PARAM_BINNING;
}

constexpr std::array<uint32_t, 4> kRegionParameters = {
    KVCAM_PARAM_ROI_X, KVCAM_PARAM_ROI_Y, KVCAM_PARAM_ROI_WIDTH, KVCAM_PARAM_ROI_HEIGHT};

// The region on its way to the camera, in driver units once converted.
struct Region {
    int x = 0, y = 0, w = 0, h = 0;
    RoiRect Rect() const { return {x, y, w, h}; }
    std::array<int*, 4> Fields() { return {&x, &y, &w, &h}; }
};

// Cuts the requested region to the sensor (an inverted one becomes one pixel) and returns it
// as 0-based sensor pixels.
Region ClampRequestedRoi(TBXTessvikFerroFW& form) {
    RoiEdges& roi = form.RequestedRoi;
    roi.Left = std::min(std::max(roi.Left, 1), form.CcdWidth);
    roi.Top = std::min(std::max(roi.Top, 1), form.CcdHeight);
    roi.Right = std::min(std::max(roi.Right, roi.Left), form.CcdWidth);
    roi.Bottom = std::min(std::max(roi.Bottom, roi.Top), form.CcdHeight);
    return {roi.Left - 1, roi.Top - 1, roi.Right - roi.Left + 1, roi.Bottom - roi.Top + 1};
}

// Sensor pixels to driver units: binned pixels, except X and width of a MicroDot (sensor
// pixels on the binning grid). A region narrower than one binned pixel would be refused after
// the binning has already been sent; it becomes the smallest region the binning allows.
void ToDriverUnits(Region& r, int b, bool microDot) {
    if (microDot) {
        r.x = r.x / b * b;
        r.w = r.w / b * b;
    } else {
        r.x /= b;
        r.w /= b;
    }
    r.y /= b;
    r.h /= b;
    r.w = std::max(r.w, microDot ? b : 1);
    r.h = std::max(r.h, 1);
}

// The region and binning the camera holds now, for a refusal before any region was accepted:
// there is no accepted region to fall back to, and an all-zero one would carry a binning of
// 0 that the image width and the window label are divided by. The camera took the binning
// (only the region was refused), so that binning and the region it kept are the truth; what
// cannot be read back is taken as the whole sensor at the binning just sent.
SentRoi CameraHeldRegion(TBXTessvikFerroFW& form, CameraCommand& command, int sentBinning,
                         bool microDot) {
    SentRoi held;
    held.Binning = {sentBinning, sentBinning};
    const int sensorWidth = form.CcdWidth / sentBinning;
    held.Rect = {0, 0, microDot ? sensorWidth * sentBinning : sensorWidth,
                 form.CcdHeight / sentBinning};
    if (!command.ReadSettings()) return held;
    int32_t value = 0;
    if (command.GetParam(BinningParameter(microDot), value) && value >= 1)
        held.Binning = {value, value};
    int* fields[] = {&held.Rect.X, &held.Rect.Y, &held.Rect.Width, &held.Rect.Height};
    for (size_t i = 0; i < kRegionParameters.size(); ++i)
        if (command.GetParam(kRegionParameters[i], value)) *fields[i] = value;
    return held;
}

// The camera accepted the region: what it made of it becomes the region. The same region as
// last time means nothing changed, so the binning goes back to the one that came with it,
// unless the camera says it now bins otherwise (a new binning can give the same numbers for a
// different part of the sensor).
void TakeAcceptedRegion(TBXTessvikFerroFW& form, CameraCommand& command, Region& r, bool microDot) {
    int32_t value = 0;
    auto fields = r.Fields();
    for (size_t i = 0; i < kRegionParameters.size(); ++i)
        if (command.GetParam(kRegionParameters[i], value)) *fields[i] = value;
    int32_t heldBinning = 0;
    const bool binningKept = !command.GetParam(BinningParameter(microDot), heldBinning) ||
                             heldBinning == form.LastSentRoi.Binning.X;
    if (r.Rect() == form.LastSentRoi.Rect && binningKept) {
        form.RoiBinning = form.LastSentRoi.Binning;
    } else {
        form.LastSentRoi = {r.Rect(), form.RoiBinning};
        form.CameraRoi = r.Rect();
    }
}

// The camera refused the region: back to the last one it accepted.
void RestoreLastRegion(TBXTessvikFerroFW& form, CameraCommand& command, Region& r, int b,
                       bool microDot) {
    if (form.LastSentRoi.Binning.X < 1)
        form.LastSentRoi = CameraHeldRegion(form, command, b, microDot);
    form.RoiBinning = form.LastSentRoi.Binning;
    form.CameraRoi = form.LastSentRoi.Rect;
    r = {form.CameraRoi.X, form.CameraRoi.Y, form.CameraRoi.Width, form.CameraRoi.Height};
}

// Back to 1-based sensor pixels, for the requested and the applied region.
void PublishAppliedRoi(TBXTessvikFerroFW& form, const Region& r, bool microDot) {
    const int b = form.RoiBinning.X;
    RoiEdges& applied = form.AppliedRoi;
    applied.Left = microDot ? r.x + 1 : r.x * b + 1;
    applied.Top = r.y * b + 1;
    applied.Right = (microDot ? r.w : r.w * b) + applied.Left - 1;
    applied.Bottom = r.h * b + applied.Top - 1;
    form.RequestedRoi = applied;
}

// After a refusal: check the binning button of the restored binning (the first when none
// offers it) and run its handler. The handler may apply a region of its own, so it runs once
// the command has published the restored region and let go of the driver: whatever it
// applies is the last word.
void SelectRestoredBinning(TBXTessvikFerroFW& form) {
    const auto match =
        std::find(form.BinningChoices.begin(), form.BinningChoices.end(), form.RoiBinning.X);
    const size_t position = match == form.BinningChoices.end()
                                ? 0
                                : static_cast<size_t>(match - form.BinningChoices.begin());
    auto running = support::SetForScope(form.RegionFallbackRunning, true);
    form.BinningButtons()[position]->SetChecked(true);
    form.SelectBinning(static_cast<int>(position));
}

}  // namespace

bool TBXTessvikFerroFW::SetCameraGain(double gain) {
    return SendOneParameter(*this, KVCAM_PARAM_GAIN, gain);
}

bool TBXTessvikFerroFW::SetCameraOffset(double offset) {
    return SendOneParameter(*this, KVCAM_PARAM_OFFSET, kOffsetRange - offset);
}

bool TBXTessvikFerroFW::SetCameraExposure(double requestedUs) {
    using camera::kCaptionErrorMessage;
    using camera::ShowError;
    if (!CameraIsReady()) return false;
    CameraCommand command(*this);
    if (!command.Held()) return false;

    // Clamp to the camera's limits. SetExposureTime keeps ExposureTime in step and runs this
    // command once more with the clamped value; this one then repeats it. The maximum can come
    // from the settings file; one below the minimum would bounce the two clamps off each other
    // without end, so the minimum wins.
    auto clampTo = [this](double limit) {
        const uint32_t e = support::TruncateToUnsigned32(limit);
        SetExposureTime(static_cast<int>(std::min<uint32_t>(e, INT32_MAX)));
        return e;
    };
    const double minimum = ExposureMinMicroseconds;
    const double maximum = std::max<double>(ExposureMaxMicroseconds, minimum);
    uint32_t e = support::TruncateToUnsigned32(requestedUs);
    if (e < minimum) e = clampTo(minimum);
    if (e > maximum) e = clampTo(maximum);

    if (!command.ReadSettings()) {
        ShowError("Fail in reading camera settings!", kCaptionErrorMessage);
        return false;
    }
    if (!command.SetParam(KVCAM_PARAM_EXPOSURE,
                          static_cast<int32_t>(std::min<uint32_t>(e, INT32_MAX)))) {
        ShowError("Fail in setting exposure parameter!", kCaptionErrorMessage);
        return false;
    }
    if (!command.SendChange()) {
        ShowError("Fail in setting exposure!", kCaptionErrorMessage);
        return false;
    }
    int32_t actual = 0;
    if (!command.GetParam(KVCAM_PARAM_EXPOSURE, actual)) {
        ShowError("Fail in getting exposure parameter!", kCaptionErrorMessage);
        return false;
    }
    ActualExposureMs = actual / 1000;
    ShowExposureLabels(requestedUs, actual);
    FastClick();  // every exposure change re-applies the readout speed
    command.Settle();
    return true;
}

bool TBXTessvikFerroFW::ApplyRegion() {
    if (!CameraIsReady()) return false;
    bool refused = false;
    {
        CameraCommand command(*this);
        if (!command.Held()) return false;
        Region region = ClampRequestedRoi(*this);
        command.ReadSettings();  // a failed read leaves the block this control sent last
        const bool microDot = CameraTypeIsMicroDot();
        const int b = RoiBinning.X;
        // The binning goes first: the region's limits follow it. A factor below 1 is never
        // divided by, whatever the driver says of it.
        if (!command.SetParam(BinningParameter(microDot), b) || b < 1) return false;
        // A MicroDot that bins columns itself is told to: its image is a bin wide per column
        // (without that the control bins the columns in software).
        if (microDot && SeparateBinningSupported && !command.SetParam(KVCAM_PARAM_BINNING_H, b))
            return false;
        if (!command.Send()) return false;
        ToDriverUnits(region, b, microDot);
        auto fields = region.Fields();
        for (size_t i = 0; i < kRegionParameters.size(); ++i)
            if (!command.SetParam(kRegionParameters[i], *fields[i])) return false;

        refused = !command.Send();
        if (refused) {
            RestoreLastRegion(*this, command, region, b, microDot);
        } else {
            TakeAcceptedRegion(*this, command, region, microDot);
        }
        StopStreaming();
        PublishAppliedRoi(*this, region, microDot);
        SetCameraGain(Brightness);
        SetCameraOffset(Contrast);
        SetCameraExposure(ExposureTime);
        PublishRegion();
    }
    if (refused && !RegionFallbackRunning) SelectRestoredBinning(*this);
    return true;
}

void TBXTessvikFerroFW::RebuildRegion() {
    {
        // The region group belongs to the command holder; a transfer stuck past the bound
        // leaves it as it is.
        CameraCommand command(*this);
        if (!command.Held()) return;
        RoiWindowed = WindowedGrab;
        RequestedRoi = {GrabWindowLeft + 1, GrabWindowTop + 1, GrabWindowRight + 1,
                        GrabWindowBottom + 1};
        RoiBinning = {BinningFactorX, BinningFactorY};
    }
    // A grab or live video sends the region itself when it next starts.
    if (GrabInProgress || LiveActive) return;
    ApplyRegion();
    UpdateWindowLabel();
}

void TBXTessvikFerroFW::StopStreaming() {
    if (CameraHandle != 0) camera::Failed(*this, KvCam_SetStreaming(CameraHandle, 0));
    Acquire8Bit = chk_Acquire8bit->Checked();
    CopyDepthToLive();
}

void TBXTessvikFerroFW::PublishRegion() {
    CameraCommand command(*this);  // nests inside ApplyRegion's own
    SensorWindowWidth = CcdWidth;
    SensorWindowHeight = CcdHeight;
    // A MicroDot's driver width is in sensor pixels.
    ImageWidth = CameraTypeIsMicroDot() && RoiBinning.X >= 1 ? CameraRoi.Width / RoiBinning.X
                                                             : CameraRoi.Width;
    ImageHeight = CameraRoi.Height;
    GrabWindowLeft = RequestedRoi.Left - 1;
    GrabWindowRight = RequestedRoi.Right - 1;
    GrabWindowTop = RequestedRoi.Top - 1;
    GrabWindowBottom = RequestedRoi.Bottom - 1;
    BinningFactorX = static_cast<int16_t>(RoiBinning.X);
    BinningFactorY = static_cast<int16_t>(RoiBinning.Y);
}

}  // namespace ferro
