// Basic vocabulary of the headless form toolkit: window handles, rectangles, colours, cursors,
// key codes, shift states, mouse buttons, event slots and the text/number conversions the
// classic toolkit offers.
//
// Thread rule: every function and type here is thread-safe unless its comment says otherwise.
// "Thread-safe" means any thread may call it at any time; "thread-bound" means only the
// thread that owns the object (the user-interface thread) may call it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bx::ui {

// A window handle: a small non-zero integer naming a form or control. 0 names no window.
// Handles are never reused within a process, so a stale handle can never reach a new window.
using HWND = uint32_t;

// A rectangle in the classic convention: Right and Bottom lie just outside the area.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// ---- Colours -----------------------------------------------------------------------------
// A colour is 0x00BBGGRR; values with the top byte 0xFF name system colours.
using TColor = int32_t;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r | (g << 8) | (b << 16));
}
inline constexpr TColor clBlack = RGB(0, 0, 0);
inline constexpr TColor clMaroon = RGB(128, 0, 0);
inline constexpr TColor clGreen = RGB(0, 128, 0);
inline constexpr TColor clNavy = RGB(0, 0, 128);
inline constexpr TColor clGray = RGB(128, 128, 128);
inline constexpr TColor clSilver = RGB(192, 192, 192);
inline constexpr TColor clRed = RGB(255, 0, 0);
inline constexpr TColor clLime = RGB(0, 255, 0);
inline constexpr TColor clYellow = RGB(255, 255, 0);
inline constexpr TColor clBlue = RGB(0, 0, 255);
inline constexpr TColor clWhite = RGB(255, 255, 255);
inline constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
inline constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
inline constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);

// ---- Fonts -------------------------------------------------------------------------------
enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFont {
    std::string Name = "Sans";
    int Size = 8;  // points
    TColor Color = clWindowText;
    uint8_t Style = 0;    // TFontStyle bits
    uint8_t Charset = 1;  // default character set
    friend bool operator==(const TFont&, const TFont&) = default;
};

// ---- Cursors -----------------------------------------------------------------------------
using TCursor = int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHourGlass = -11;

// ---- Keyboard and mouse ------------------------------------------------------------------
// Virtual key codes used by the control and its tests (letters and top-row digits are their
// upper-case ASCII codes).
inline constexpr uint16_t VK_BACK = 8;
inline constexpr uint16_t VK_TAB = 9;
inline constexpr uint16_t VK_RETURN = 13;
inline constexpr uint16_t VK_SHIFT = 16;
inline constexpr uint16_t VK_ESCAPE = 27;
inline constexpr uint16_t VK_SPACE = 32;
inline constexpr uint16_t VK_LEFT = 37;
inline constexpr uint16_t VK_UP = 38;
inline constexpr uint16_t VK_RIGHT = 39;
inline constexpr uint16_t VK_DOWN = 40;
inline constexpr uint16_t VK_DELETE = 46;
inline constexpr uint16_t VK_NUMPAD0 = 96;  // .. VK_NUMPAD0 + 9 = 105
inline constexpr uint16_t VK_F1 = 112;

// Character a key produces when typed, or 0 for keys that produce none (arrows, F-keys).
char KeyToChar(uint16_t key, bool shift = false);
// Virtual key that types `c` (digits, letters, space, Return, Backspace, Escape), 0 otherwise.
uint16_t CharToKey(char c);

// Shift state bits passed with key and mouse events.
using TShiftState = uint8_t;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssAlt = 2;
inline constexpr TShiftState ssCtrl = 4;
inline constexpr TShiftState ssLeft = 8;
inline constexpr TShiftState ssRight = 16;
inline constexpr TShiftState ssMiddle = 32;

enum class TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
using enum TMouseButton;

// ---- Event slots -------------------------------------------------------------------------
class TObject {
public:
    virtual ~TObject() = default;
};

namespace detail {
// The one toolkit lock. It guards control state, handler slots and the window table. It is
// never held while a handler runs, so handlers may freely read and write other controls.
std::mutex& ToolkitMutex();
}  // namespace detail

// A handler slot such as OnClick. Assigning and firing are thread-safe; the handler is copied
// out under the toolkit lock and run without it.
//   button->OnClick = [this](TObject* sender) { ... };
template <class... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    Event& operator=(Handler handler) {
        std::lock_guard lock(detail::ToolkitMutex());
        handler_ = std::move(handler);
        return *this;
    }
    Handler Get() const {
        std::lock_guard lock(detail::ToolkitMutex());
        return handler_;
    }
    explicit operator bool() const { return static_cast<bool>(Get()); }
    // Runs the handler, if any. Returns whether one ran.
    bool operator()(Args... args) const {
        Handler handler = Get();
        if (!handler) return false;
        handler(std::forward<Args>(args)...);
        return true;
    }

private:
    Handler handler_;
};

// Handler signatures in the classic style.
using TNotifyEvent = Event<TObject*>;
using TKeyEvent = Event<TObject*, uint16_t&, TShiftState>;
using TKeyPressEvent = Event<TObject*, char&>;
using TMouseEvent = Event<TObject*, TMouseButton, TShiftState, int, int>;

// ---- Conversions -------------------------------------------------------------------------
// The conversion failure of StrToInt and friends.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal (or 0x/$ hexadecimal) integer with optional sign and surrounding blanks.
// Throws EConvertError ("'abc' is not a valid integer value") for anything else, including
// values outside the 32-bit range.
int StrToInt(std::string_view text);
// As StrToInt, but answers `fallback` instead of throwing.
int StrToIntDef(std::string_view text, int fallback);
// Like StrToIntDef, reporting success instead of a fallback.
bool TryStrToInt(std::string_view text, int& value);
std::string IntToStr(int64_t value);
// Whether two texts are equal without regard to ASCII case (names of components, INI keys).
bool SameText(std::string_view a, std::string_view b);
// Decimal number with optional surrounding blanks; throws EConvertError otherwise.
double StrToFloat(std::string_view text);
// Up to 15 significant digits, no trailing zeros ("0.015", "1500", "1E20").
std::string FloatToStr(double value);

}  // namespace bx::ui
