// The "Exposure Time" group: the exposure entered in minutes and seconds, milliseconds or
// microseconds, each unit with its own masked field, spin control and mode button. The
// control keeps one value, ExposureTime in microseconds; the fields hold it split by unit.
// Typing shows the tick/cross pair until the value is applied or discarded.
#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "control/BXTessvikGrabImpl1.h"
#include "support/Conversions.h"
#include "support/ScopeExit.h"

namespace ferro {

using bx::ui::TMaskEdit;
using bx::ui::TObject;
using bx::ui::TRadioButton;
using bx::ui::TUpDown;
using Form = TBXTessvikFerroFW;

namespace {

enum class Unit { MinSec, Ms, Us };

constexpr int64_t kUsPerSecond = 1'000'000;
constexpr int64_t kUsPerMs = 1'000;
constexpr int64_t kLargestUsEntry = 99'999;  // the microseconds field holds five digits

// The entry fields, in the order of their names (med_grab_ExposureTime0..4).
struct EntryField {
    TMaskEdit* Form::*Edit;
    std::atomic<int> Form::*Value;
    Unit Mode;
    bool ReadOnExit;    // leaving the field applies it
    bool TopRowDigits;  // only the top-row digit keys count as typing
};
enum FieldIndex { kHours, kMinutes, kSeconds, kMilliseconds, kMicroseconds };
const EntryField kFields[] = {
    {&Form::med_grab_ExposureTime0, &Form::ExposureHours, Unit::MinSec, true, false},
    {&Form::med_grab_ExposureTime1, &Form::ExposureMinutes, Unit::MinSec, true, true},
    {&Form::med_grab_ExposureTime2, &Form::ExposureSeconds, Unit::MinSec, false, false},
    {&Form::med_grab_ExposureTime3, &Form::ExposureMs, Unit::Ms, false, false},
    {&Form::med_grab_ExposureTime4, &Form::ExposureUs, Unit::Us, true, false},
};

// Brings a field and its spin control in line once: neither change echoes back into the
// other (and a refreshed field does not pop up the tick/cross pair as if the user had typed).
template <class Sync>
void Synchronise(Form& form, Sync sync) {
    bool expected = false;
    if (!form.ExposureEntrySyncing.compare_exchange_strong(expected, true)) return;
    support::ScopeExit clear([&form] { form.ExposureEntrySyncing = false; });
    sync();
}

TRadioButton* ModeButton(const Form& form, Unit unit) {
    switch (unit) {
        case Unit::MinSec:
            return form.rbn_grab_ExposureTime;
        case Unit::Ms:
            return form.rbn_grab_ExposureTime1;
        case Unit::Us:
            break;
    }
    return form.rbn_ExposureTime2;
}

void ShowEditButtons(Form& form, bool visible) {
    form.bb_OK->SetVisible(visible);
    form.bb_Can->SetVisible(visible);
}

// Right-aligned in the mask's width, as the fields start (" 0", "   40").
void WriteField(TMaskEdit* edit, int value) {
    std::string text = bx::ui::IntToStr(value);
    const size_t width = edit->MaskLength();
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    edit->SetText(text);
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

int FieldValue(const TMaskEdit* edit) {
    return bx::ui::StrToIntDef(edit->Text(), 0);
}

// Microseconds of the entry in `unit`. Two-digit minutes and hours reach past what a 32-bit
// exposure holds, so the sum is formed wide and capped; the camera limits it further.
int EntryMicroseconds(const Form& form, Unit unit) {
    int64_t us = 0;
    switch (unit) {
        case Unit::MinSec:
            us = (int64_t{form.ExposureHours} * 3600 + int64_t{form.ExposureMinutes} * 60 +
                  form.ExposureSeconds) *
                 kUsPerSecond;
            break;
        case Unit::Ms:
            us = int64_t{form.ExposureMs} * kUsPerMs;
            break;
        case Unit::Us:
            us = form.ExposureUs;
            break;
    }
    constexpr int64_t kMax = std::numeric_limits<int>::max();
    return static_cast<int>(us < 0 ? 0 : us > kMax ? kMax : us);
}

void ApplyEntry(Form& form, Unit unit) {
    form.EntryExposure = EntryMicroseconds(form, unit);
    form.SetExposureTime(form.EntryExposure);
}

// Takes a field's text into its variable. A negative value gives way to the stored one; text
// that is no number (a blank field) is replaced by the stored value and reported as false.
bool TakeField(Form& form, FieldIndex index) {
    const EntryField& field = kFields[index];
    TMaskEdit* edit = form.*field.Edit;
    int value = 0;
    if (!bx::ui::TryStrToInt(edit->Text(), value)) {
        WriteField(edit, form.*field.Value);
        return false;
    }
    if (value < 0) {
        WriteField(edit, form.*field.Value);
        value = FieldValue(edit);
    }
    form.*field.Value = value;
    return true;
}

// Reads a field and, when its unit is the chosen one (the seconds field: always), applies the
// entry. The seconds field stands for the whole minutes-and-seconds entry: the minutes shown
// may have come from the spin control without the minutes field ever being left.
void ReadField(Form& form, FieldIndex index) {
    if (index != kHours) ShowEditButtons(form, false);
    if (index == kSeconds) {
        TakeField(form, kHours);
        TakeField(form, kMinutes);
    }
    if (!TakeField(form, index)) return;
    const Unit mode = kFields[index].Mode;
    if (index == kSeconds || ModeButton(form, mode)->Checked()) ApplyEntry(form, mode);
}

// What checking a mode button does: read that unit's field, which applies it.
void ApplyMode(Form& form, Unit unit) {
    switch (unit) {
        case Unit::MinSec:
            ReadField(form, kSeconds);
            break;
        case Unit::Ms:
            ReadField(form, kMilliseconds);
            break;
        case Unit::Us:
            ReadField(form, kMicroseconds);
            break;
    }
}

// Checks the mode button of `unit`, which applies the mode through its click handler.
void ChooseMode(Form& form, Unit unit) {
    ModeButton(form, unit)->CheckAndClick();
}

// A field's text changed: move its spin control to match.
void SyncSpin(Form& form, Unit unit) {
    Synchronise(form, [&] {
        switch (unit) {
            case Unit::MinSec:
                form.UpDown1->SetPosition(FieldValue(form.med_grab_ExposureTime2) +
                                          FieldValue(form.med_grab_ExposureTime1) * 60);
                break;
            case Unit::Ms:
                form.UpDown2->SetPosition(FieldValue(form.med_grab_ExposureTime3));
                break;
            case Unit::Us:
                form.UpDown3->SetPosition(FieldValue(form.med_grab_ExposureTime4));
                break;
        }
    });
}

// A spin control moved: rewrite its field(s) from the position.
void SpinChanged(Form& form, Unit unit) {
    if (form.ExposureEntrySyncing) return;
    Synchronise(form, [&] {
        switch (unit) {
            case Unit::MinSec: {
                const int seconds = form.UpDown1->Position();
                WriteField(form.med_grab_ExposureTime1, seconds / 60);
                WriteField(form.med_grab_ExposureTime2, seconds % 60);
                break;
            }
            case Unit::Ms:
                WriteField(form.med_grab_ExposureTime3, form.UpDown2->Position());
                break;
            case Unit::Us:
                WriteField(form.med_grab_ExposureTime4, form.UpDown3->Position());
                break;
        }
    });
    ShowEditButtons(form, true);
}

bool IsDigitKey(uint16_t key, bool topRowOnly) {
    const bool topRow = key >= '0' && key <= '9';
    const bool keypad = key >= bx::ui::VK_NUMPAD0 && key <= bx::ui::VK_NUMPAD0 + 9;
    return topRow || (keypad && !topRowOnly);
}

void FieldKeyDown(Form& form, FieldIndex index, uint16_t key) {
    if (key == bx::ui::VK_RETURN) {
        if (index == kSeconds) {
            ChooseMode(form, Unit::MinSec);
        } else {
            ReadField(form, index);
        }
    } else if (IsDigitKey(key, kFields[index].TopRowDigits)) {
        ShowEditButtons(form, true);
    }
}

void BindField(Form& form, FieldIndex index) {
    const EntryField& field = kFields[index];
    TMaskEdit* edit = form.*field.Edit;
    edit->OnEnter = [&form, field](TObject*) { ModeButton(form, field.Mode)->SetChecked(true); };
    if (field.ReadOnExit) edit->OnExit = [&form, index](TObject*) { ReadField(form, index); };
    edit->OnKeyDown = [&form, index](TObject*, uint16_t& key, bx::ui::TShiftState) {
        FieldKeyDown(form, index, key);
    };
    edit->OnChange = [&form, field](TObject*) { SyncSpin(form, field.Mode); };
}

void BindSpin(Form& form, TUpDown* spin, Unit unit) {
    spin->OnChange = [&form, unit](TObject*) { SpinChanged(form, unit); };
    spin->OnClick = [&form, unit](TObject*) {
        ModeButton(form, unit)->SetChecked(true);
        ShowEditButtons(form, true);
    };
}

}  // namespace

void TBXTessvikFerroFW::RefreshExposureDisplay() {
    const int64_t exposure = ExposureTime;
    if (rbn_grab_ExposureTime->Checked() && exposure % kUsPerSecond == 0) {
        const int seconds = static_cast<int>(exposure / kUsPerSecond);
        ExposureSeconds = seconds % 60;
        ExposureMinutes = (seconds / 60) % 60;
        ExposureHours = seconds / 3600;
        WriteField(med_grab_ExposureTime2, ExposureSeconds);
        WriteField(med_grab_ExposureTime1, ExposureMinutes);
        WriteField(med_grab_ExposureTime0, ExposureHours);
        EntryExposure = EntryMicroseconds(*this, Unit::MinSec);
        return;
    }
    if ((rbn_grab_ExposureTime1->Checked() && exposure % kUsPerMs == 0) ||
        exposure > kLargestUsEntry) {
        ExposureMs = static_cast<int>(exposure / kUsPerMs);
        WriteField(med_grab_ExposureTime3, ExposureMs);
        EntryExposure = EntryMicroseconds(*this, Unit::Ms);
        rbn_grab_ExposureTime1->SetChecked(true);
        return;
    }
    ExposureUs = static_cast<int>(exposure);
    WriteField(med_grab_ExposureTime4, ExposureUs);
    EntryExposure = static_cast<int>(exposure);
    rbn_ExposureTime2->SetChecked(true);
}

void TBXTessvikFerroFW::ShowExposureLabels(double requestedUs, int32_t actualUs) {
    namespace ui = bx::ui;
    // The labels in the unit chosen on the exposure box; with none chosen they keep their text.
    auto showPair = [this](const std::string& actualText, const std::string& requestedText) {
        lbl_ActualExposureTime->SetCaption(actualText);
        lbl_ExposureTime->SetCaption(requestedText);
    };
    if (rbn_grab_ExposureTime->Checked()) {
        showPair(ui::FloatToStr(actualUs * 0.000001) + "s",
                 ui::FloatToStr(requestedUs * 0.000001) + "s");
    } else if (rbn_grab_ExposureTime1->Checked()) {
        showPair(ui::FloatToStr(actualUs * 0.001) + "ms",
                 ui::FloatToStr(requestedUs * 0.001) + "ms");
    } else if (rbn_ExposureTime2->Checked()) {
        showPair(ui::IntToStr(actualUs) + "us",
                 ui::IntToStr(support::TruncateToInt64(requestedUs)) + "us");
    }
    // The camera rounded or clamped: its value becomes the control's, shown in red.
    if (lbl_ActualExposureTime->Caption() != lbl_ExposureTime->Caption()) {
        ExposureTime = actualUs;
        RefreshExposureDisplay();
        lbl_ExposureTime->SetFontColor(ui::clRed);
    } else {
        lbl_ExposureTime->SetFontColor(ui::clWindowText);
    }
}

void TBXTessvikFerroFW::BindExposureHandlers() {
    // The Acquire page's exposure field (microseconds) applies when it loses the focus. Text
    // that is no integer raises the toolkit's conversion error and changes nothing.
    txt_ExposureTime->OnExit = [this](TObject*) {
        SetExposureTime(bx::ui::StrToInt(TrimBlanks(txt_ExposureTime->Text())));
    };

    for (FieldIndex index : {kHours, kMinutes, kSeconds, kMilliseconds, kMicroseconds})
        BindField(*this, index);
    BindSpin(*this, UpDown1, Unit::MinSec);
    BindSpin(*this, UpDown2, Unit::Ms);
    BindSpin(*this, UpDown3, Unit::Us);
    for (Unit unit : {Unit::MinSec, Unit::Ms, Unit::Us})
        ModeButton(*this, unit)->OnClick = [this, unit](TObject*) { ApplyMode(*this, unit); };

    bb_OK->OnClick = [this](TObject*) {
        // Only the mode checked now: applying it may check another one (a value the camera
        // rounded is shown in the unit that holds it), which must not apply in turn.
        for (Unit unit : {Unit::MinSec, Unit::Ms, Unit::Us}) {
            if (ModeButton(*this, unit)->Checked()) {
                ApplyMode(*this, unit);
                break;
            }
        }
        ShowEditButtons(*this, false);
        UpdateCameraStatus();
    };
    bb_Can->OnClick = [this](TObject*) {
        RefreshExposureDisplay();
        ShowEditButtons(*this, false);
    };
}

}  // namespace ferro
