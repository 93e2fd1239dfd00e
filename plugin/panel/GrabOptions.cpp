// The frame interval of the Acquire page, the trigger page and the edit lock. The interval's
// four fields hold hours, minutes, seconds and milliseconds; the checked unit ("h:m:s" or
// "ms") decides which of them give FrameRate, the pause between a sequence's frames. The
// trigger mode reopens the camera, which then runs free or waits for its external trigger,
// at most the user's "Min Timeout For External Trigger (s)" per frame. The edit lock only
// records its state and tells the hook.
#include <algorithm>
#include <climits>
#include <string_view>

#include "control/BXTessvikGrabImpl1.h"
#include "support/ScopeExit.h"

namespace ferro {

using bx::ui::IntToStr;
using bx::ui::TMaskEdit;
using bx::ui::TObject;
using bx::ui::TRadioButton;
using Form = TBXTessvikFerroFW;

namespace {

constexpr int64_t kMsPerHour = 3'600'000, kMsPerMinute = 60'000, kMsPerSecond = 1000;
// The file keeps at most this many milliseconds in the "ms" unit; more is kept as h:m:s.
constexpr int kLargestMsEntry = 100'000;
constexpr int kLargestHours = 99;

enum class IntervalUnit { Hms, Ms };

struct IntervalField {
    TMaskEdit* Form::*Edit;
    int Form::*Value;
    int Max;  // a larger entry gives way to the stored value
    IntervalUnit Unit;
};

const IntervalField kIntervalFields[] = {
    {&Form::med_grab_FrameInterval, &Form::FrameIntervalHours, INT_MAX, IntervalUnit::Hms},
    {&Form::med_grab_FrameInterval1, &Form::FrameIntervalMinutes, 59, IntervalUnit::Hms},
    {&Form::med_grab_FrameInterval2, &Form::FrameIntervalSeconds, 59, IntervalUnit::Hms},
    {&Form::med_grab_FrameInterval3, &Form::FrameIntervalMs, INT_MAX, IntervalUnit::Ms},
};

TRadioButton* UnitButton(const Form& f, IntervalUnit unit) {
    return unit == IntervalUnit::Hms ? f.rbn_grab_FrameInterval : f.rbn_grab_FrameInterval1;
}

int64_t IntervalOf(const Form& f, IntervalUnit unit) {
    if (unit == IntervalUnit::Ms) return f.FrameIntervalMs;
    return f.FrameIntervalHours * kMsPerHour + f.FrameIntervalMinutes * kMsPerMinute +
           f.FrameIntervalSeconds * kMsPerSecond;
}

// The unit's interval becomes the one sequences wait.
void ApplyInterval(Form& f, IntervalUnit unit) {
    f.EntryFrameInterval = static_cast<int>(std::min<int64_t>(IntervalOf(f, unit), INT_MAX));
    f.FrameRate = f.EntryFrameInterval;
}

// Leaving a field or Return in it: its number is stored, unless it is no number, negative or
// too large, when the stored value comes back into the field.
void ReadIntervalField(Form& f, const IntervalField& field) {
    TMaskEdit* edit = f.*field.Edit;
    int value = 0;
    if (bx::ui::TryStrToInt(edit->Text(), value) && value >= 0 && value <= field.Max)
        f.*field.Value = value;
    else
        edit->SetText(IntToStr(f.*field.Value));
    if (UnitButton(f, field.Unit)->Checked()) ApplyInterval(f, field.Unit);
}

void BindIntervalField(Form& f, const IntervalField& field) {
    TMaskEdit* edit = f.*field.Edit;
    // Entering a field chooses its unit; checking the button applies it.
    edit->OnEnter = [&f, &field](TObject*) { UnitButton(f, field.Unit)->SetChecked(true); };
    edit->OnExit = [&f, &field](TObject*) { ReadIntervalField(f, field); };
    edit->OnKeyDown = [&f, &field](TObject*, uint16_t& key, bx::ui::TShiftState) {
        if (key == bx::ui::VK_RETURN) ReadIntervalField(f, field);
    };
}

void ShowIntervalFields(Form& f) {
    for (const IntervalField& field : kIntervalFields)
        (f.*field.Edit)->SetText(IntToStr(f.*field.Value));
}

// Checks the button of the trigger mode the camera is in, without running its handler.
void ShowCameraTrigger(Form& f) {
    TRadioButton* button = f.ExternalTriggerActive ? f.rbtn_ExternalTrigger : f.rbtn_FreeRun;
    auto handler = button->OnClick.Get();
    button->OnClick = nullptr;
    support::ScopeExit restore([&] { button->OnClick = std::move(handler); });
    button->SetChecked(true);
}

// "Free Running" or "External Trigger" checked: the camera is opened again in that mode.
// Live video cannot be interrupted for it: the click is refused and undone.
void TriggerModeClick(Form& f) {
    if (f.LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        ShowCameraTrigger(f);
        return;
    }
    bx::ui::TCursorGuard hourglass;
    f.CameraReady = false;
    f.InitialiseCamera();
}

// The trigger time-out in whole seconds; false for text that is no positive number.
bool ParseTriggerTimeout(std::string_view text, int& seconds) {
    return bx::ui::TryStrToInt(text, seconds) && seconds > 0;
}

void MinTimeoutKeyPress(Form& f, char& key) {
    if (f.LiveActive.load(std::memory_order_acquire)) {
        bx::ui::Beep();
        key = 0;
        return;
    }
    if (key != '\r') return;
    key = 0;
    // Return insists on a number (the toolkit's conversion error says what is wrong).
    const int seconds = bx::ui::StrToInt(f.txt_MinTimeout->Text());
    if (seconds > 0)
        f.ExternalTriggerTimeoutS = seconds;
    else
        f.txt_MinTimeout->SetText(IntToStr(f.ExternalTriggerTimeoutS));
}

// Leaving the field keeps a usable entry and quietly restores the stored one otherwise.
void MinTimeoutExit(Form& f) {
    int seconds = 0;
    if (ParseTriggerTimeout(f.txt_MinTimeout->Text(), seconds))
        f.ExternalTriggerTimeoutS = seconds;
    else
        f.txt_MinTimeout->SetText(IntToStr(f.ExternalTriggerTimeoutS));
}

void ShowLockGlyph(Form& f) {
    f.cmd_EditLock->SetGlyph((f.SettingsUnlocked ? f.img_Open : f.img_Closed)->Picture());
}

// Unlocking asks first; locking does not.
void EditLockClick(Form& f) {
    if (!f.SettingsUnlocked && bx::ui::Application().MessageBox(
                                   "Warning - Changing These Settings Affects Existing Protocols",
                                   "Consult Your User Manual", bx::ui::MB_OKCANCEL) != bx::ui::IDOK)
        return;
    f.SettingsUnlocked = !f.SettingsUnlocked;
    ShowLockGlyph(f);
    if (f.EditLockChanged) f.EditLockChanged(f.SettingsUnlocked);
}

}  // namespace

void TBXTessvikFerroFW::RefreshFrameIntervalFields() {
    const int64_t interval = std::max(FrameRate.load(), 0);
    const IntervalUnit unit =
        rbn_grab_FrameInterval->Checked() ? IntervalUnit::Hms : IntervalUnit::Ms;
    const bool fileHoldsIt = unit == IntervalUnit::Hms || interval <= kLargestMsEntry;
    if (IntervalOf(*this, unit) == interval && fileHoldsIt) return;
    if (interval <= kLargestMsEntry && (unit == IntervalUnit::Ms || interval % kMsPerSecond)) {
        FrameIntervalMs = static_cast<int>(interval);
        ShowIntervalFields(*this);
        UnitButton(*this, IntervalUnit::Ms)->CheckAndClick();
        return;
    }
    // Whole seconds, or more than the "ms" unit holds: hours, minutes and seconds (to the
    // nearest second, at most 99 hours).
    const int64_t seconds = std::min<int64_t>((interval + kMsPerSecond / 2) / kMsPerSecond,
                                              kLargestHours * 3600 + 3599);
    FrameIntervalHours = static_cast<int>(seconds / 3600);
    FrameIntervalMinutes = static_cast<int>(seconds / 60 % 60);
    FrameIntervalSeconds = static_cast<int>(seconds % 60);
    ShowIntervalFields(*this);
    UnitButton(*this, IntervalUnit::Hms)->CheckAndClick();
}

void TBXTessvikFerroFW::BindGrabOptionsHandlers() {
    for (const IntervalField& field : kIntervalFields) BindIntervalField(*this, field);
    for (IntervalUnit unit : {IntervalUnit::Hms, IntervalUnit::Ms})
        UnitButton(*this, unit)->OnClick = [this, unit](TObject*) { ApplyInterval(*this, unit); };

    for (TRadioButton* mode : {rbtn_FreeRun, rbtn_ExternalTrigger})
        mode->OnClick = [this](TObject*) { TriggerModeClick(*this); };
    txt_MinTimeout->OnKeyPress = [this](TObject*, char& key) { MinTimeoutKeyPress(*this, key); };
    txt_MinTimeout->OnExit = [this](TObject*) { MinTimeoutExit(*this); };

    ShowLockGlyph(*this);
    cmd_EditLock->OnClick = [this](TObject*) { EditLockClick(*this); };
}

}  // namespace ferro
