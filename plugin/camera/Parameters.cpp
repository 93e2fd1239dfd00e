// Camera parameter commands: exposure, gain, offset and the region with its binning. Each one
// reads the camera's settings into the form's block, changes parameters there, sends the
// block back and reads back what the camera made of it, so the fields, the panel and live
// video follow what the camera really accepted.
//
// Every command holds the driver through CameraCommandBusy: the live thread queues no frame
// while it is set, and the command first waits for the frame in flight to finish.
#include <bxplatform/kernel.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "camera/DriverCall.h"
#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

using camera::Failed;
using camera::kCaptionErrorMessage;
using camera::ShowError;

namespace {

constexpr int kOffsetRange = 4095;  // the camera's offset runs opposite to the panel's
constexpr int64_t kSettleMs = 5;    // lets the camera take new settings before the next frame

// The command running on this thread, for nesting: a region change re-sends gain, offset and
// exposure, and a clamped exposure re-enters itself through SetExposureTime. Only the
// outermost command waits for the frame in flight and clears CameraCommandBusy, so an inner
// one finishing never hands the driver to the live thread while the outer one still uses it.
thread_local const TBXTessvikFerroFW* t_commandOwner = nullptr;
thread_local int t_commandDepth = 0;

// Set while the binning button of a refused region runs. Its handler applies a region again;
// should the camera refuse that one too, the fallback must not start over, or a camera that
// refuses every region would recurse without end.
thread_local bool t_regionFallbackRunning = false;

// One command's hold on the driver, released on every way out.
class CommandScope {
public:
    explicit CommandScope(TBXTessvikFerroFW& form)
        : form_(form), held_(form.BeginCameraCommand()) {}
    ~CommandScope() { Release(); }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

    // False when the frame in flight never finished: the command must not talk to the driver.
    bool Held() const { return held_; }
    void Release() {
        if (held_) form_.EndCameraCommand();
        held_ = false;
    }

private:
    TBXTessvikFerroFW& form_;
    bool held_;
};

// Reads the camera's current settings into the form's block (size word first, as the driver
// wants it). Without a block there is nothing to read into; the read then fails.
bool ReadSettings(TBXTessvikFerroFW& form) {
    if (!form.CameraSettings) {
        form.LastCameraError = KVCAM_ERR_NULL_POINTER;
        return false;
    }
    form.CameraSettings->size = KVCAM_SETTINGS_SIZE;
    return !Failed(form, KvCam_ReadSettingsFromCam(form.CameraHandle, form.CameraSettings.get()));
}

bool SetParam(TBXTessvikFerroFW& form, uint32_t id, int32_t value) {
    return !Failed(form, KvCam_SetParam(form.CameraSettings.get(), id, value));
}

bool GetParam(TBXTessvikFerroFW& form, uint32_t id, int32_t& value) {
    return !Failed(form, KvCam_GetParam(form.CameraSettings.get(), id, &value));
}

// Sends the block. While live video runs, the queued live frames are dropped first and the
// live thread is told to restart its stream afterwards. The restart is asked for even when
// the send failed: the frames are gone either way, and without it live video would stall.
bool SendSettings(TBXTessvikFerroFW& form) {
    const bool live = form.LiveActive;
    if (live) Failed(form, KvCam_Abort(form.CameraHandle));
    const bool sent =
        !Failed(form, KvCam_SendSettingsToCam(form.CameraHandle, form.CameraSettings.get()));
    if (live) {
        if (form.LiveThread != nullptr) form.LiveThread->FrameCount = 0;
        LiveSettingsChanged = true;
    }
    return sent;
}

// Gain and offset: one parameter, no messages.
bool SendOneParameter(TBXTessvikFerroFW& form, uint32_t id, double value) {
    if (!form.CameraReady) return false;
    CommandScope command(form);
    if (!command.Held()) return false;
    ReadSettings(form);  // a failed read leaves the block this control sent last
    if (!SetParam(form, id, camera::TruncateToInt32(value))) return false;
    if (!SendSettings(form)) return false;
    command.Release();
    form.WaitMilliseconds(kSettleMs);
    return true;
}

// The parameter that carries the binning: a MicroDot bins through the vertical factor.
uint32_t BinningParameter(bool microDot) {
    return microDot ? KVCAM_PARAM_BINNING_V : KVCAM_PARAM_BINNING;
}

constexpr std::array<uint32_t, 4> kRegionParameters = {
    KVCAM_PARAM_ROI_X, KVCAM_PARAM_ROI_Y, KVCAM_PARAM_ROI_WIDTH, KVCAM_PARAM_ROI_HEIGHT};

// The region and binning the camera holds now, for a refusal before any region was accepted:
// there is no accepted region to fall back to, and an all-zero one would carry a binning of
// 0 that the image width and the window label are divided by. The camera took the binning
// (only the region was refused), so that binning and the region it kept are the truth; what
// cannot be read back is taken as the whole sensor at the binning just sent.
SentRoi CameraHeldRegion(TBXTessvikFerroFW& form, int sentBinning, bool microDot) {
    SentRoi held;
    held.Binning = {sentBinning, sentBinning};
    const int sensorWidth = form.CcdWidth / sentBinning;
    held.Rect = {0, 0, microDot ? sensorWidth * sentBinning : sensorWidth,
                 form.CcdHeight / sentBinning};
    if (!ReadSettings(form)) return held;
    int32_t value = 0;
    if (GetParam(form, BinningParameter(microDot), value) && value >= 1) {
        held.Binning = {value, value};
    }
    int* fields[] = {&held.Rect.X, &held.Rect.Y, &held.Rect.Width, &held.Rect.Height};
    for (size_t i = 0; i < kRegionParameters.size(); ++i) {
        if (GetParam(form, kRegionParameters[i], value)) *fields[i] = value;
    }
    return held;
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool TBXTessvikFerroFW::BeginCameraCommand() {
    if (t_commandOwner == this) {
        ++t_commandDepth;
        return true;
    }
    CameraCommandBusy = true;
    // A frame transfer that never finishes must not hang the user interface: after the bound
    // the command gives up and hands the driver back.
    const int64_t deadline = CurrentMilliseconds() + kFrameInFlightTimeoutMs;
    while (FrameInFlight) {
        if (CurrentMilliseconds() >= deadline) {
            CameraCommandBusy = false;
            return false;
        }
        bx::kernel::Sleep(1);
    }
    t_commandOwner = this;
    t_commandDepth = 1;
    return true;
}

void TBXTessvikFerroFW::EndCameraCommand() {
    if (t_commandOwner == this) {
        if (--t_commandDepth > 0) return;
        t_commandOwner = nullptr;
    }
    CameraCommandBusy = false;
}

bool TBXTessvikFerroFW::SetCameraGain(double gain) {
    return SendOneParameter(*this, KVCAM_PARAM_GAIN, gain);
}

bool TBXTessvikFerroFW::SetCameraOffset(double offset) {
    return SendOneParameter(*this, KVCAM_PARAM_OFFSET, kOffsetRange - offset);
}

bool TBXTessvikFerroFW::SetCameraExposure(double requestedUs) {
    namespace ui = bx::ui;
    if (!CameraReady) return false;
    CommandScope command(*this);
    if (!command.Held()) return false;

    // Clamp to the camera's limits. SetExposureTime keeps ExposureTime in step and runs this
    // command once more with the clamped value; this one then repeats it.
    auto clampTo = [this](double limit) {
        const uint32_t e = camera::TruncateToUnsigned32(limit);
        SetExposureTime(static_cast<int>(std::min<uint32_t>(e, INT32_MAX)));
        return e;
    };
    // The maximum can come from the settings file (a load on a ready camera keeps the file's
    // value); one below the minimum would bounce the two clamps off each other without end,
    // so the minimum wins.
    const double maximum = std::max(ExposureMaxMicroseconds, ExposureMinMicroseconds);
    uint32_t e = camera::TruncateToUnsigned32(requestedUs);
    if (e < ExposureMinMicroseconds) e = clampTo(ExposureMinMicroseconds);
    if (e > maximum) e = clampTo(maximum);

    if (!ReadSettings(*this)) {
        ShowError("Fail in reading camera settings!", kCaptionErrorMessage);
        return false;
    }
    if (!SetParam(*this, KVCAM_PARAM_EXPOSURE,
                  static_cast<int32_t>(std::min<uint32_t>(e, INT32_MAX)))) {
        ShowError("Fail in setting exposure parameter!", kCaptionErrorMessage);
        return false;
    }
    if (!SendSettings(*this)) {
        ShowError("Fail in setting exposure!", kCaptionErrorMessage);
        return false;
    }
    int32_t actual = 0;
    if (!GetParam(*this, KVCAM_PARAM_EXPOSURE, actual)) {
        ShowError("Fail in getting exposure parameter!", kCaptionErrorMessage);
        return false;
    }
    ActualExposureMs = actual / 1000;

    // The labels in the unit chosen on the exposure box; with none chosen they keep their text.
    auto showPair = [this](const std::string& actualText, const std::string& requestedText) {
        lbl_ActualExposureTime->SetCaption(actualText);
        lbl_ExposureTime->SetCaption(requestedText);
    };
    if (rbn_grab_ExposureTime->Checked()) {
        showPair(ui::FloatToStr(actual * 0.000001) + "s",
                 ui::FloatToStr(requestedUs * 0.000001) + "s");
    } else if (rbn_grab_ExposureTime1->Checked()) {
        showPair(ui::FloatToStr(actual * 0.001) + "ms", ui::FloatToStr(requestedUs * 0.001) + "ms");
    } else if (rbn_ExposureTime2->Checked()) {
        showPair(ui::IntToStr(actual) + "us",
                 ui::IntToStr(camera::TruncateToInt64(requestedUs)) + "us");
    }
    // The camera rounded or clamped: its value becomes the control's, shown in red.
    if (lbl_ActualExposureTime->Caption() != lbl_ExposureTime->Caption()) {
        ExposureTime = actual;
        RefreshExposureDisplay();
        lbl_ExposureTime->SetFontColor(ui::clRed);
    } else {
        lbl_ExposureTime->SetFontColor(ui::clWindowText);
    }

    FastClick();  // every exposure change re-applies the readout speed
    WaitMilliseconds(kSettleMs);
    return true;
}

bool TBXTessvikFerroFW::ApplyRegion() {
    if (!CameraReady) return false;
    bool refused = false;
    {
        CommandScope command(*this);
        if (!command.Held()) return false;

        // Cut the requested region to the sensor; an inverted one becomes one pixel.
        RoiEdges& roi = RequestedRoi;
        roi.Left = std::min(std::max(roi.Left, 1), CcdWidth);
        roi.Top = std::min(std::max(roi.Top, 1), CcdHeight);
        roi.Right = std::min(std::max(roi.Right, roi.Left), CcdWidth);
        roi.Bottom = std::min(std::max(roi.Bottom, roi.Top), CcdHeight);
        int x = roi.Left - 1, y = roi.Top - 1;
        int w = roi.Right - roi.Left + 1, h = roi.Bottom - roi.Top + 1;

        ReadSettings(*this);  // a failed read leaves the block this control sent last
        const bool microDot = CameraTypeIsMicroDot();
        const int b = RoiBinning.X;
        // The binning goes first: the region's limits follow it. A factor below 1 is never
        // divided by, whatever the driver says of it.
        if (!SetParam(*this, BinningParameter(microDot), b) || b < 1) return false;
        if (Failed(*this, KvCam_SendSettingsToCam(CameraHandle, CameraSettings.get()))) {
            return false;
        }

        // Driver units: binned pixels, except X and width of a MicroDot (sensor pixels on the
        // binning grid).
        if (microDot) {
            x = x / b * b;
            w = w / b * b;
        } else {
            x /= b;
            w /= b;
        }
        y /= b;
        h /= b;
        // A region narrower than one binned pixel would be refused after the binning has
        // already been sent; it becomes the smallest region the binning allows instead.
        w = std::max(w, microDot ? b : 1);
        h = std::max(h, 1);
        int* region[] = {&x, &y, &w, &h};
        for (size_t i = 0; i < kRegionParameters.size(); ++i) {
            if (!SetParam(*this, kRegionParameters[i], *region[i])) return false;
        }

        if (Failed(*this, KvCam_SendSettingsToCam(CameraHandle, CameraSettings.get()))) {
            // Refused: fall back to the last region the camera accepted.
            refused = true;
            if (LastSentRoi.Binning.X < 1) LastSentRoi = CameraHeldRegion(*this, b, microDot);
            RoiBinning = LastSentRoi.Binning;
            CameraRoi = LastSentRoi.Rect;
            x = CameraRoi.X;
            y = CameraRoi.Y;
            w = CameraRoi.Width;
            h = CameraRoi.Height;
        } else {
            // The camera fits the region and writes what it took into the block.
            int32_t value = 0;
            for (size_t i = 0; i < kRegionParameters.size(); ++i) {
                if (GetParam(*this, kRegionParameters[i], value)) *region[i] = value;
            }
            // The same region as last time means nothing changed, so the binning goes back
            // to the one that came with it, unless the camera says it now bins otherwise
            // (a new binning can give the same numbers for a different part of the sensor).
            int32_t heldBinning = 0;
            const bool binningKept = !GetParam(*this, BinningParameter(microDot), heldBinning) ||
                                     heldBinning == LastSentRoi.Binning.X;
            const RoiRect accepted{x, y, w, h};
            if (accepted == LastSentRoi.Rect && binningKept) {
                RoiBinning = LastSentRoi.Binning;
            } else {
                LastSentRoi = {accepted, RoiBinning};
                CameraRoi = accepted;
            }
        }

        StopStreaming();

        // Back to 1-based sensor pixels.
        const int applied = RoiBinning.X;
        AppliedRoi.Left = microDot ? x + 1 : x * applied + 1;
        AppliedRoi.Top = y * applied + 1;
        AppliedRoi.Right = (microDot ? w : w * applied) + AppliedRoi.Left - 1;
        AppliedRoi.Bottom = h * applied + AppliedRoi.Top - 1;
        RequestedRoi = AppliedRoi;

        SetCameraGain(Brightness);
        SetCameraOffset(Contrast);
        SetCameraExposure(ExposureTime);
        PublishRegion();
    }
    if (refused && !t_regionFallbackRunning) {
        // Check the binning button of the restored binning (the first when none offers it)
        // and run its handler. The handler may apply a region of its own, so it runs once
        // this command has published the restored one and let go of the driver: whatever it
        // applies is the last word.
        const std::array<bx::ui::TRadioButton*, 4> buttons = {rbn_Bin1, rbn_bin2, rbn_bin4,
                                                              rbn_bin8};
        const auto match = std::find(BinningChoices.begin(), BinningChoices.end(), RoiBinning.X);
        const size_t position =
            match == BinningChoices.end() ? 0 : static_cast<size_t>(match - BinningChoices.begin());
        t_regionFallbackRunning = true;
        struct ResetFlag {
            ~ResetFlag() { t_regionFallbackRunning = false; }
        } resetFlag;
        buttons[position]->SetChecked(true);
        SelectBinning(static_cast<int>(position));
    }
    return true;
}

void TBXTessvikFerroFW::RebuildRegion() {
    RoiWindowed = WindowedGrab;
    RequestedRoi = {GrabWindowLeft + 1, GrabWindowTop + 1, GrabWindowRight + 1,
                    GrabWindowBottom + 1};
    RoiBinning = {BinningFactorX, BinningFactorY};
    // A grab or live video sends the region itself when it next starts.
    if (GrabInProgress || LiveActive) return;
    ApplyRegion();
    UpdateWindowLabel();
}

void TBXTessvikFerroFW::StopStreaming() {
    if (CameraHandle != 0) Failed(*this, KvCam_SetStreaming(CameraHandle, 0));
    Acquire8Bit = chk_Acquire8bit->Checked();
    if (LiveThread != nullptr) LiveThread->Force8Bit = Acquire8Bit;
}

void TBXTessvikFerroFW::PublishRegion() {
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

void TBXTessvikFerroFW::BindCameraHandlers() {
    // The Acquire page's exposure field (microseconds) applies when it loses the focus. Text
    // that is no integer raises the toolkit's conversion error and changes nothing.
    txt_ExposureTime->OnExit = [this](bx::ui::TObject*) {
        SetExposureTime(bx::ui::StrToInt(TrimBlanks(txt_ExposureTime->Text())));
    };
}

}  // namespace ferro
