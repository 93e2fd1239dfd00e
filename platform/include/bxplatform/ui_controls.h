// The headless form toolkit: forms owning named controls, their properties and events, in the
// style of a classic desktop form toolkit. Nothing is drawn; the model keeps the real state
// (captions, checks, positions, focus, window handles) and fires the real events, so a
// control built on it behaves as it would on a desktop and can be driven by tests.
//
//   class TMyForm : public TActiveForm {
//   public:
//       TMyForm() {
//           chk_Color = Add<TCheckBox>("chk_Color", GroupBox3);
//           chk_Color->OnClick = [this](TObject* sender) { ColorClick(sender); };
//       }
//       TCheckBox* chk_Color;
//   };
//   form.Find<TCheckBox>("chk_Color")->SetChecked(true);   // fires OnClick (state changed)
//   form.Find<TCheckBox>("chk_Color")->Click();            // what a user click does
//
// Semantics kept from the classic toolkit:
// - Radio buttons with the same parent are exclusive. Checking one in code or by a click
//   fires its OnClick when it was not checked; unchecking fires nothing.
// - A check box fires OnClick whenever its state changes, in code or by a click.
// - Scroll bars and up-downs clamp positions to Min..Max and fire OnChange only when the
//   position changes. Edits fire OnChange when their text changes. Combo boxes and page
//   controls fire OnChange only for user selections (Select, SelectTab), not for code.
// - A click is mouse-down, the click itself (state change and OnClick), mouse-up, so OnMouseUp
//   handlers see the new state. Key presses are key-down, key-press (for keys that type a
//   character), key-up; with the form's KeyPreview the form's key events run first. Setting
//   the key to 0 in a handler stops the rest. Space toggles check boxes and radio buttons,
//   Return and Space click buttons; edits take typed characters (Backspace erases; entering
//   an edit selects its text, so typing then replaces it).
// - User-input methods (Click, MouseDown, MouseUp, PressKey, TypeText, ScrollTo, Select,
//   SelectTab, SetFocus) do nothing and return false on a control a user cannot reach: one
//   that is disabled or hidden, or lies in a disabled or hidden parent or on a tab sheet
//   that is not showing. A form's own Visible does not count, as headless forms are seldom
//   shown. Setters always work, as code can set any control.
// - Focus moves fire OnExit on the control losing it, then OnEnter on the one gaining it.
//   Buttons, check boxes, radio buttons, edits, scroll bars and combo boxes take the focus:
//   a left click on one focuses it before the mouse-down, and key input focuses it first, as
//   a user must (entering an edit by SetFocus or by typing selects its text; a click places
//   the caret instead).
//
// Thread rule: property getters and setters, handler slots, Find, FindControl,
// SetControlObserver and the window functions are thread-safe (a second thread may, for
// example, enable controls while the user-interface thread reads them). Handlers run on the
// thread that caused the event, without any toolkit lock held. Creating and destroying forms
// and controls, SetParent and the user-input methods are thread-bound to the user-interface
// thread.
#pragma once

#include <bxplatform/ui_base.h>
#include <bxplatform/ui_services.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bx::ui {

class TForm;
class TPopupMenu;
class TControl;

// ---- Change notification -----------------------------------------------------------------
// What changed on a control; a notification carries one or more of these bits.
using ControlChanges = uint32_t;
inline constexpr ControlChanges ccText = 1u << 0;        // caption / window text
inline constexpr ControlChanges ccGeometry = 1u << 1;    // position or size
inline constexpr ControlChanges ccState = 1u << 2;       // visible or enabled
inline constexpr ControlChanges ccValue = 1u << 3;       // checked, position and range, items
                                                         // and index, glyph, picture, mask, ...
inline constexpr ControlChanges ccAppearance = 1u << 4;  // colours, font, cursor, hint, style
inline constexpr ControlChanges ccParent = 1u << 5;      // parent control or host window
inline constexpr ControlChanges ccPages = 1u << 6;       // active page, tab visibility
inline constexpr ControlChanges ccFocus = 1u << 7;       // the control gained the focus

// Told about the life of every control, so a desktop can mirror the model. Calls come on the
// thread that made the change, without the toolkit lock held, and only for real changes.
class ControlObserver {
public:
    virtual ~ControlObserver() = default;
    // A control joined its form (named, owned and in its parent). Forms themselves are not
    // announced: they are known once they change or are asked for.
    virtual void ControlCreated(TControl& control) = 0;
    virtual void ControlChanged(TControl& control, ControlChanges what) = 0;
    // The control is being destroyed and its handle is dead already; use only its identity.
    virtual void ControlDestroyed(TControl& control, HWND handle) = 0;
};

// Installs the process-wide observer (null: none); returns the previous one. Notifications
// already under way may still reach the previous observer, which the shared pointer keeps.
std::shared_ptr<ControlObserver> SetControlObserver(std::shared_ptr<ControlObserver> observer);

namespace detail {
// Set while an observer is installed, so unobserved changes cost one load.
extern std::atomic<bool> control_observed;
void NotifyControlCreated(TControl& control);
void NotifyControlChanged(TControl& control, ControlChanges what);
void NotifyControlDestroyed(TControl& control, HWND handle);
inline void ChangedIfObserved(TControl& control, ControlChanges what) {
    if (what != 0 && control_observed.load(std::memory_order_acquire)) {
        NotifyControlChanged(control, what);
    }
}
}  // namespace detail

// The live control with this handle, or null. The pointer is good while the control lives;
// use it on the user-interface thread, which is the one destroying controls.
TControl* FindControl(HWND window);

// Something with a name that a form can own and find.
class TComponent : public TObject {
public:
    TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }  // fixed at creation
    TForm* Owner() const { return owner_; }            // fixed at creation
    int Tag() const;
    void SetTag(int tag);

private:
    friend class TForm;
    std::string name_;
    TForm* owner_ = nullptr;
    int tag_ = 0;
};

// A picture: size and 0x00RRGGBB pixels. Compared by content.
struct TBitmap {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    bool Empty() const { return Width == 0 || Height == 0; }
    friend bool operator==(const TBitmap&, const TBitmap&) = default;
};

// Base of every visible element; each has a window handle for its whole life.
class TControl : public TComponent {
public:
    TControl();
    ~TControl() override;

    HWND Handle() const { return handle_; }

    // Parent control (a group box, panel, tab sheet or the form). Returns false and changes
    // nothing when the new parent is this control or lies inside it.
    TControl* Parent() const;
    bool SetParent(TControl* parent);
    // Host window this control is placed in instead of its parent (0: none); see ui::SetParent.
    HWND ParentWindow() const;
    bool SetParentWindow(HWND window);
    std::vector<TControl*> Controls() const;  // children, in creation order
    // The form this control belongs to (the form itself for a form), or null.
    TForm* Form() const;

    // Caption and Text are the same window text, as in the classic toolkit.
    std::string Caption() const;
    void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool Visible() const;
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }

    // Position in the parent's client area, and size.
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int left);
    void SetTop(int top);
    // Negative sizes are taken as 0.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const;

    std::string Hint() const;
    void SetHint(const std::string& hint);
    bool ShowHint() const;
    void SetShowHint(bool show);
    TColor Color() const;  // background (brush) colour
    void SetColor(TColor color);
    TFont Font() const;
    void SetFont(const TFont& font);
    TColor FontColor() const { return Font().Color; }
    void SetFontColor(TColor color);
    TCursor Cursor() const;
    void SetCursor(TCursor cursor);
    TPopupMenu* PopupMenu() const;
    void SetPopupMenu(TPopupMenu* menu);

    // Focus.
    bool Focused() const;
    bool CanFocus() const;  // a control that takes the focus, reachable by the user
    bool SetFocus();        // false (and no change) when it cannot take the focus

    // Whether a user could reach the control now (see above).
    bool Reachable() const;

    // Structure for the toolkit's own controls; call only with the toolkit lock held.
    TControl* ParentLocked() const { return parent_; }
    HWND ParentWindowLocked() const { return parent_window_; }
    const std::vector<TControl*>& ChildrenLocked() const { return children_; }

    // ---- User input ----------------------------------------------------------------------
    // A mouse click with the button. Left: mouse-down, click, mouse-up. Right: mouse-down,
    // mouse-up, then the popup menu, if any, pops up.
    bool Click(TMouseButton button = mbLeft);
    bool MouseDown(TMouseButton button, TShiftState shift = 0, int x = 0, int y = 0);
    bool MouseUp(TMouseButton button, TShiftState shift = 0, int x = 0, int y = 0);
    // One key stroke: key-down, key-press (if the key types a character), key-up.
    bool PressKey(uint16_t key, TShiftState shift = 0);
    // Types each character as a key stroke (upper-case letters with Shift).
    bool TypeText(std::string_view text);

    TNotifyEvent OnClick;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TKeyEvent OnKeyUp;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

protected:
    // Reads a field under the toolkit lock.
    template <class T>
    T Get(const T& field) const {
        std::lock_guard lock(detail::ToolkitMutex());
        return field;
    }
    // Writes a field under the toolkit lock; returns whether it changed. A change is told to
    // the observer as `what` (0: a field nobody displays).
    template <class T>
    bool Put(T& field, T value, ControlChanges what) {
        {
            std::lock_guard lock(detail::ToolkitMutex());
            if (field == value) return false;
            field = std::move(value);
        }
        Changed(what);
        return true;
    }
    // Tells the observer, if any, that this control changed; call without the toolkit lock.
    void Changed(ControlChanges what) { detail::ChangedIfObserved(*this, what); }

    // What a left click does after mouse-down; default: OnClick.
    virtual void DoClick() { OnClick(this); }
    // Whether the control can hold the keyboard focus; default: no.
    virtual bool TakesFocus() const { return false; }
    // Default handling of a typed character, after OnKeyPress; default: nothing.
    virtual void KeyPressed(char /*ch*/) {}
    // Called after the window text changed (outside the lock); default: nothing.
    virtual void TextChanged() {}
    // Focus arrival and departure; defaults fire OnEnter / OnExit.
    virtual void DoEnter() { OnEnter(this); }
    virtual void DoExit() { OnExit(this); }
    // Whether this control hides its children from the user (tab sheets not showing).
    // Called with the toolkit lock held.
    virtual bool HidesChildrenLocked() const { return false; }
    // Window text, for derived controls; call with the toolkit lock held.
    std::string& TextLocked() { return text_; }
    // Called after Visible changed (outside the lock); default: nothing.
    virtual void VisibleChanged(bool /*visible*/) {}

private:
    friend class TForm;
    friend struct WindowAccess;

    const HWND handle_;
    TControl* parent_ = nullptr;
    HWND parent_window_ = 0;
    std::vector<TControl*> children_;
    std::string text_;
    bool enabled_ = true;
    bool visible_ = true;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::string hint_;
    bool show_hint_ = false;
    TColor color_ = clBtnFace;
    TFont font_;
    TCursor cursor_ = crDefault;
    TPopupMenu* popup_ = nullptr;
};

class TLabel : public TControl {};
class TGroupBox : public TControl {};
class TPanel : public TControl {};

class TButton : public TControl {
protected:
    void KeyPressed(char ch) override;
    bool TakesFocus() const override { return true; }
};

// A button with a picture beside its caption.
class TBitBtn : public TButton {
public:
    TBitmap Glyph() const;
    void SetGlyph(const TBitmap& glyph);

private:
    TBitmap glyph_;
};

// A flat tool button showing a picture.
class TSpeedButton : public TControl {
public:
    TBitmap Glyph() const;
    void SetGlyph(const TBitmap& glyph);

private:
    TBitmap glyph_;
};

// Common part of check boxes and radio buttons.
class TButtonControl : public TControl {
public:
    bool Checked() const;
    // Changes the state; returns whether it changed (and so whether OnClick may have run).
    virtual bool SetChecked(bool checked) = 0;
    // Checks the control and makes sure its OnClick ran exactly once: through the state
    // change, or, when it was checked already, called here. Returns whether the state changed.
    bool CheckAndClick();

protected:
    void KeyPressed(char ch) override;
    bool TakesFocus() const override { return true; }
    bool checked_ = false;
};

class TCheckBox : public TButtonControl {
public:
    // Fires OnClick when the state changes.
    bool SetChecked(bool checked) override;

protected:
    void DoClick() override { SetChecked(!Checked()); }
};

class TRadioButton : public TButtonControl {
public:
    // Checking unchecks the radio buttons with the same parent and fires OnClick when the
    // button was not checked; unchecking fires nothing.
    bool SetChecked(bool checked) override;

protected:
    void DoClick() override { SetChecked(true); }
};

// Common part of single-line edits, masked edits and memos.
class TCustomEdit : public TControl {
public:
    bool ReadOnly() const;
    void SetReadOnly(bool read_only);
    // Longest text a user may type (0: no limit); code may set longer texts.
    int MaxLength() const;
    void SetMaxLength(int length);
    // Marks the whole text selected, so the next typed character replaces it.
    void SelectAll();

    TNotifyEvent OnChange;

protected:
    void KeyPressed(char ch) override;
    void TextChanged() override { OnChange(this); }
    void DoEnter() override;
    void DoClick() override;
    bool TakesFocus() const override { return true; }
    // Whether a user may type `ch` as the character at `position` of the new text.
    virtual bool Accepts(char ch, size_t position) const;

private:
    bool read_only_ = false;
    int max_length_ = 0;
    bool selected_all_ = false;
};

class TEdit : public TCustomEdit {};

// An edit whose typed input follows a mask such as "!99;1;_": the part before the first ';'
// lists one character class per position (0 digit, 9 digit or blank, # digit, sign or blank,
// L/l letter, A/a letter or digit, C/c any character; '!', '>', '<' are modifiers and take no
// position; anything else is a literal position). Code may set any text.
class TMaskEdit : public TCustomEdit {
public:
    std::string EditMask() const;
    void SetEditMask(const std::string& mask);
    // Number of positions the mask has (0 without a mask).
    size_t MaskLength() const;

protected:
    bool Accepts(char ch, size_t position) const override;

private:
    std::string mask_;
};

// A multi-line edit; its text is its lines joined with "\r\n".
class TMemo : public TCustomEdit {
public:
    std::vector<std::string> Lines() const;
    void SetLines(const std::vector<std::string>& lines);
    void AddLine(const std::string& line);
};

enum class TScrollBarKind : uint8_t { sbHorizontal, sbVertical };
using enum TScrollBarKind;

class TScrollBar : public TControl {
public:
    int Min() const;
    int Max() const;
    int Position() const;
    int SmallChange() const;
    int LargeChange() const;
    TScrollBarKind Kind() const;
    // Clamps to Min..Max; fires OnChange when the position changes. Returns whether it did.
    bool SetPosition(int position);
    // Range changes; the position is clamped into the new range (firing OnChange if it moves).
    // Return false and change nothing when min > max.
    bool SetMin(int min);
    bool SetMax(int max);
    bool SetParams(int position, int min, int max);
    void SetSmallChange(int step);
    void SetLargeChange(int step);
    void SetKind(TScrollBarKind kind);

    // User input: drag the thumb to a position, or step by a number of positions.
    bool ScrollTo(int position);
    bool ScrollBy(int delta);

    TNotifyEvent OnChange;

protected:
    bool TakesFocus() const override { return true; }

private:
    // Sets range and position under one lock; fires OnChange when the position moved.
    bool ApplyRange(int position, bool keep_position, std::optional<int> min,
                    std::optional<int> max);
    int min_ = 0, max_ = 100, position_ = 0, small_ = 1, large_ = 1;
    TScrollBarKind kind_ = sbHorizontal;
};

enum class TUDBtnType : uint8_t { btNext, btPrev };
using enum TUDBtnType;

// A spin control; its position can be mirrored into an associated edit.
class TUpDown : public TControl {
public:
    int Min() const;
    int Max() const;
    int Position() const;
    int Increment() const;
    bool Wrap() const;
    TCustomEdit* Associate() const;
    // Clamps to Min..Max (or wraps, with Wrap); fires OnChange when the position changes and
    // writes it into the associated edit. Returns whether it changed.
    bool SetPosition(int position);
    // Return false and change nothing when min > max.
    bool SetMin(int min);
    bool SetMax(int max);
    void SetIncrement(int step);
    void SetWrap(bool wrap);
    void SetAssociate(TCustomEdit* edit);

    // User input: press the up (btNext) or down (btPrev) arrow: mouse-down, step by Increment,
    // OnClick, mouse-up.
    bool ClickButton(TUDBtnType button);

    TNotifyEvent OnChange;

private:
    bool ApplyRange(std::optional<int> min, std::optional<int> max);
    // Stores a clamped position; mirrors it into the associate and fires OnChange if it moved.
    bool StorePosition(int64_t position);
    int min_ = 0, max_ = 100, position_ = 0, increment_ = 1;
    bool wrap_ = false;
    TCustomEdit* associate_ = nullptr;
};

enum class TComboBoxStyle : uint8_t { csDropDown, csDropDownList };
using enum TComboBoxStyle;

class TComboBox : public TControl {
public:
    std::vector<std::string> Items() const;
    // Replaces the items; the selection is cleared.
    void SetItems(const std::vector<std::string>& items);
    void AddItem(const std::string& item);
    void ClearItems();
    int ItemCount() const;
    // -1 when nothing is selected.
    int ItemIndex() const;
    // Selects in code (no event); the text becomes the item's. Returns false and changes
    // nothing for an index outside -1..ItemCount()-1.
    bool SetItemIndex(int index);
    TComboBoxStyle Style() const;
    void SetStyle(TComboBoxStyle style);

    // User input: pick an item from the list; fires OnChange when the selection changes.
    bool Select(int index);

    TNotifyEvent OnChange;

protected:
    bool TakesFocus() const override { return true; }

private:
    std::vector<std::string> items_;
    int index_ = -1;
    TComboBoxStyle style_ = csDropDown;
};

enum class TShapeType : uint8_t { stRectangle, stSquare, stRoundRect, stEllipse, stCircle };
using enum TShapeType;

class TShape : public TControl {
public:
    TColor BrushColor() const;
    void SetBrushColor(TColor color);
    TColor PenColor() const;
    void SetPenColor(TColor color);
    TShapeType Shape() const;
    void SetShape(TShapeType shape);

private:
    TColor brush_ = clWhite;
    TColor pen_ = clBlack;
    TShapeType shape_ = stRectangle;
};

class TImage : public TControl {
public:
    TBitmap Picture() const;
    void SetPicture(const TBitmap& picture);

private:
    TBitmap picture_;
};

class TPageControl;

// A page of a page control: the page control must be its parent.
class TTabSheet : public TControl {
public:
    TPageControl* PageControl() const;
    // Index among the page control's pages, or -1.
    int PageIndex() const;
    bool TabVisible() const;
    // Hiding the tab of the showing page shows the next page with a visible tab instead
    // (the previous one when none follows; none when no tab is visible).
    void SetTabVisible(bool visible);

    ~TTabSheet() override;

protected:
    bool HidesChildrenLocked() const override;

private:
    TPageControl* PageControlLocked() const;
    // The showing page lost its tab: shows the next page with a tab, else the previous one.
    void ShowNextPageLocked();
    bool tab_visible_ = true;
};

class TPageControl : public TControl {
public:
    std::vector<TTabSheet*> Pages() const;
    int PageCount() const;
    TTabSheet* Page(int index) const;  // null when out of range
    // The showing page: the first page added, until changed.
    TTabSheet* ActivePage() const;
    int ActivePageIndex() const;
    // Shows a page in code (no event), even one whose tab is hidden. Returns false for a page
    // that is not one of this control's pages (null shows none).
    bool SetActivePage(TTabSheet* page);
    bool SetActivePageIndex(int index);

    // User input: click a page's tab (the tab must be visible); fires OnChange when the page
    // changes.
    bool SelectTab(TTabSheet* page);

    TNotifyEvent OnChange;

private:
    friend class TTabSheet;
    TTabSheet* ActivePageLocked() const;
    std::vector<TTabSheet*> PagesLocked() const;
    TTabSheet* active_ = nullptr;
    bool active_chosen_ = false;
};

// ---- Menus -------------------------------------------------------------------------------
class TMenuItem : public TObject {
public:
    explicit TMenuItem(std::string caption);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    bool Checked() const;
    void SetChecked(bool checked);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool Visible() const;
    void SetVisible(bool visible);
    // User input: choose the item; does nothing and returns false when disabled or hidden.
    bool Click();

    TNotifyEvent OnClick;

private:
    std::string caption_;
    bool checked_ = false, enabled_ = true, visible_ = true;
};

class TPopupMenu : public TComponent {
public:
    TMenuItem* AddItem(const std::string& caption);
    std::vector<TMenuItem*> Items() const;
    TMenuItem* FindItem(std::string_view caption) const;  // null when absent
    // Pops up (what a right click on a control using the menu does): fires OnPopup.
    void Popup(int x = 0, int y = 0);

    TNotifyEvent OnPopup;

private:
    std::vector<std::unique_ptr<TMenuItem>> items_;
};

// ---- Forms -------------------------------------------------------------------------------
enum class TFormBorderStyle : uint8_t {
    bsNone,
    bsSingle,
    bsSizeable,
    bsDialog,
    bsToolWindow,
    bsSizeToolWin
};
using enum TFormBorderStyle;
enum class TPrintScale : uint8_t { poNone, poProportional, poPrintToFit };
using enum TPrintScale;
enum class TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
using enum TWindowState;

// A form: a top-level window owning named components. Forms start hidden.
class TForm : public TControl {
public:
    TForm();
    ~TForm() override;  // destroys the components; does not fire OnDestroy (see DoDestroy)

    // Creates a component owned by this form. Controls are placed in `parent` (the form when
    // null). Throws std::invalid_argument when another component already has the name (names
    // compare without regard to case; empty names are allowed and never found).
    template <class T>
    T* Add(std::string name, TControl* parent = nullptr) {
        auto component = std::make_unique<T>();
        T* raw = component.get();
        Adopt(std::move(component), std::move(name), parent);
        return raw;
    }
    // Component by name (case-insensitive), or null.
    TComponent* FindComponent(std::string_view name) const;
    // Component by name and type; null when absent or of another type.
    template <class T>
    T* Find(std::string_view name) const {
        return dynamic_cast<T*>(FindComponent(name));
    }
    std::vector<TComponent*> Components() const;

    // The control with the focus, or null.
    TControl* ActiveControl() const;
    bool SetActiveControl(TControl* control);

    // Runs OnCreate once (later calls do nothing). The creator calls it when the form is
    // fully built, as the classic toolkit does after construction.
    void DoCreate();
    // Runs OnDestroy once. Call it before destruction (a derived form's destructor is the
    // place): a handler cannot safely run from the base destructor.
    void DoDestroy();
    bool Created() const;
    bool Destroyed() const;

    // Show() fires OnShow and makes the form the screen's active form; Hide() fires OnHide.
    bool Active() const;  // the screen's active form

    bool KeyPreview() const;
    void SetKeyPreview(bool preview);
    bool AutoScroll() const;
    void SetAutoScroll(bool on);
    TFormBorderStyle BorderStyle() const;
    void SetBorderStyle(TFormBorderStyle style);
    int PixelsPerInch() const;
    void SetPixelsPerInch(int ppi);
    TPrintScale PrintScale() const;
    void SetPrintScale(TPrintScale scale);
    bool Scaled() const;
    void SetScaled(bool scaled);
    std::string HelpFile() const;
    void SetHelpFile(const std::string& file);
    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;

protected:
    void VisibleChanged(bool visible) override;

private:
    friend class TControl;
    void Adopt(std::unique_ptr<TComponent> component, std::string name, TControl* parent);

    std::vector<std::unique_ptr<TComponent>> components_;
    TControl* focused_ = nullptr;
    bool created_ = false, destroyed_ = false;
    bool key_preview_ = false, auto_scroll_ = false, scaled_ = true;
    TFormBorderStyle border_style_ = bsSizeable;
    int pixels_per_inch_ = 96;
    TPrintScale print_scale_ = poProportional;
    std::string help_file_;
    TWindowState window_state_ = wsNormal;
};

enum class TActiveFormBorderStyle : uint8_t { afbNone, afbSingle, afbSunken, afbRaised };
using enum TActiveFormBorderStyle;

// A form hosted as an embeddable control inside another program's window.
class TActiveForm : public TForm {
public:
    TActiveForm();
    TActiveFormBorderStyle AxBorderStyle() const;
    void SetAxBorderStyle(TActiveFormBorderStyle style);
    bool DropTarget() const;
    void SetDropTarget(bool on);

private:
    TActiveFormBorderStyle ax_border_style_ = afbNone;
    bool drop_target_ = false;
};

}  // namespace bx::ui
