// Controls: state under the toolkit lock, events fired after the lock is released.
#include <bxplatform/ui_controls.h>

#include "window_table.h"

#include <algorithm>
#include <cctype>

namespace bx::ui {

namespace {

using Lock = std::lock_guard<std::mutex>;

int Clamp(int64_t value, int min, int max) {
    return static_cast<int>(std::clamp<int64_t>(value, min, max));
}

}  // namespace

// ---- TComponent --------------------------------------------------------------------------

int TComponent::Tag() const {
    Lock lock(detail::ToolkitMutex());
    return tag_;
}

void TComponent::SetTag(int tag) {
    Lock lock(detail::ToolkitMutex());
    tag_ = tag;
}

// ---- TControl ----------------------------------------------------------------------------

TControl::TControl() : handle_(WindowAccess::Register(this)) {}

TControl::~TControl() {
    std::vector<TControl*> moved;  // controls that lose this one as their parent or host
    {
        Lock lock(detail::ToolkitMutex());
        moved = WindowAccess::UnregisterLocked(handle_);
        if (parent_ != nullptr) std::erase(parent_->children_, this);
        for (TControl* child : children_) {
            child->parent_ = nullptr;
            moved.push_back(child);
        }
        if (TForm* form = Owner(); form != nullptr && form->focused_ == this) {
            form->focused_ = nullptr;
        }
    }
    if (detail::control_observed.load(std::memory_order_acquire)) {
        for (TControl* control : moved) detail::NotifyControlChanged(*control, ccParent);
        detail::NotifyControlDestroyed(*this, handle_);
    }
}

// ---- Observer ----------------------------------------------------------------------------

namespace detail {
std::atomic<bool> control_observed{false};
}  // namespace detail

namespace {

struct ObserverSlot {
    std::mutex mutex;
    std::shared_ptr<ControlObserver> observer;
};

ObserverSlot& Observer() {
    static ObserverSlot slot;
    return slot;
}

std::shared_ptr<ControlObserver> CurrentObserver() {
    ObserverSlot& slot = Observer();
    std::lock_guard lock(slot.mutex);
    return slot.observer;
}

}  // namespace

std::shared_ptr<ControlObserver> SetControlObserver(std::shared_ptr<ControlObserver> observer) {
    ObserverSlot& slot = Observer();
    std::lock_guard lock(slot.mutex);
    std::shared_ptr<ControlObserver> previous = std::move(slot.observer);
    slot.observer = std::move(observer);
    detail::control_observed.store(slot.observer != nullptr, std::memory_order_release);
    return previous;
}

namespace detail {

void NotifyControlCreated(TControl& control) {
    if (auto observer = CurrentObserver()) observer->ControlCreated(control);
}

void NotifyControlChanged(TControl& control, ControlChanges what) {
    if (auto observer = CurrentObserver()) observer->ControlChanged(control, what);
}

void NotifyControlDestroyed(TControl& control, HWND handle) {
    if (auto observer = CurrentObserver()) observer->ControlDestroyed(control, handle);
}

}  // namespace detail

TControl* FindControl(HWND window) {
    Lock lock(detail::ToolkitMutex());
    return WindowAccess::FindLocked(window);
}

TControl* TControl::Parent() const {
    return Get(parent_);
}

bool TControl::SetParent(TControl* parent) {
    {
        Lock lock(detail::ToolkitMutex());
        if (parent == parent_) return true;
        if (parent != nullptr && WindowAccess::IsWithinLocked(parent, this)) return false;
        if (parent_ != nullptr) std::erase(parent_->children_, this);
        parent_ = parent;
        if (parent_ != nullptr) parent_->children_.push_back(this);
    }
    Changed(ccParent);
    return true;
}

HWND TControl::ParentWindow() const {
    return Get(parent_window_);
}

bool TControl::SetParentWindow(HWND window) {
    {
        Lock lock(detail::ToolkitMutex());
        if (window != 0) {
            TControl* host = WindowAccess::FindLocked(window);
            if (host == nullptr || WindowAccess::IsWithinLocked(host, this)) return false;
        }
        if (parent_window_ == window) return true;
        parent_window_ = window;
    }
    Changed(ccParent);
    return true;
}

std::vector<TControl*> TControl::Controls() const {
    return Get(children_);
}

TForm* TControl::Form() const {
    if (auto* form = dynamic_cast<TForm*>(const_cast<TControl*>(this))) return form;
    return Owner();
}

std::string TControl::Caption() const {
    return Get(text_);
}

void TControl::SetCaption(const std::string& text) {
    if (Put(text_, text, ccText)) TextChanged();
}

bool TControl::Enabled() const {
    return Get(enabled_);
}
void TControl::SetEnabled(bool enabled) {
    Put(enabled_, enabled, ccState);
}
bool TControl::Visible() const {
    return Get(visible_);
}

void TControl::SetVisible(bool visible) {
    if (Put(visible_, visible, ccState)) VisibleChanged(visible);
}

int TControl::Left() const {
    return Get(left_);
}
int TControl::Top() const {
    return Get(top_);
}
int TControl::Width() const {
    return Get(width_);
}
int TControl::Height() const {
    return Get(height_);
}
void TControl::SetLeft(int left) {
    Put(left_, left, ccGeometry);
}
void TControl::SetTop(int top) {
    Put(top_, top, ccGeometry);
}
void TControl::SetWidth(int width) {
    Put(width_, std::max(width, 0), ccGeometry);
}
void TControl::SetHeight(int height) {
    Put(height_, std::max(height, 0), ccGeometry);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    {
        Lock lock(detail::ToolkitMutex());
        width = std::max(width, 0);
        height = std::max(height, 0);
        if (left_ == left && top_ == top && width_ == width && height_ == height) return;
        left_ = left;
        top_ = top;
        width_ = width;
        height_ = height;
    }
    Changed(ccGeometry);
}

TRect TControl::BoundsRect() const {
    Lock lock(detail::ToolkitMutex());
    return TRect{left_, top_, left_ + width_, top_ + height_};
}

std::string TControl::Hint() const {
    return Get(hint_);
}
void TControl::SetHint(const std::string& hint) {
    Put(hint_, hint, ccAppearance);
}
bool TControl::ShowHint() const {
    return Get(show_hint_);
}
void TControl::SetShowHint(bool show) {
    Put(show_hint_, show, ccAppearance);
}
TColor TControl::Color() const {
    return Get(color_);
}
void TControl::SetColor(TColor color) {
    Put(color_, color, ccAppearance);
}
TFont TControl::Font() const {
    return Get(font_);
}
void TControl::SetFont(const TFont& font) {
    Put(font_, font, ccAppearance);
}

void TControl::SetFontColor(TColor color) {
    {
        Lock lock(detail::ToolkitMutex());
        if (font_.Color == color) return;
        font_.Color = color;
    }
    Changed(ccAppearance);
}

TCursor TControl::Cursor() const {
    return Get(cursor_);
}
void TControl::SetCursor(TCursor cursor) {
    Put(cursor_, cursor, ccAppearance);
}
TPopupMenu* TControl::PopupMenu() const {
    return Get(popup_);
}
void TControl::SetPopupMenu(TPopupMenu* menu) {
    Put(popup_, menu, 0);
}

bool TControl::Focused() const {
    const TForm* form = Form();
    return form != nullptr && form->ActiveControl() == this;
}

bool TControl::CanFocus() const {
    return TakesFocus() && Reachable();
}

bool TControl::SetFocus() {
    TForm* form = Form();
    if (form == nullptr) return false;
    if (form == this) {
        Screen().SetActiveForm(handle_);
        return true;
    }
    return form->SetActiveControl(this);
}

bool TControl::Reachable() const {
    Lock lock(detail::ToolkitMutex());
    for (const TControl* c = this; c != nullptr; c = WindowAccess::EffectiveParentLocked(c)) {
        if (!c->enabled_) return false;
        if (!c->visible_ && dynamic_cast<const TForm*>(c) == nullptr) return false;
        if (c != this && c->HidesChildrenLocked()) return false;
    }
    return true;
}

bool TControl::Click(TMouseButton button) {
    if (!Reachable()) return false;
    // On a desktop the focus moves on the button press, before the control sees mouse-down.
    if (button == mbLeft && TakesFocus()) SetFocus();
    const TShiftState down = button == mbLeft ? ssLeft : button == mbRight ? ssRight : ssMiddle;
    OnMouseDown(this, button, down, 0, 0);
    if (button == mbLeft) DoClick();
    OnMouseUp(this, button, 0, 0, 0);
    if (button == mbRight) {
        if (TPopupMenu* menu = PopupMenu()) menu->Popup();
    }
    return true;
}

bool TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (!Reachable()) return false;
    OnMouseDown(this, button, shift, x, y);
    return true;
}

bool TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (!Reachable()) return false;
    OnMouseUp(this, button, shift, x, y);
    return true;
}

namespace {

// One key stroke as the window sees it. `typed` is the character the stroke types (0: none).
void Stroke(TControl& control, TForm* preview, uint16_t key, TShiftState shift, char typed,
            TKeyEvent& on_down, TKeyPressEvent& on_press, TKeyEvent& on_up,
            const std::function<void(char)>& pressed) {
    uint16_t k = key;
    if (k != 0) {
        if (preview != nullptr) preview->OnKeyDown(preview, k, shift);
        if (k != 0) on_down(&control, k, shift);
        if (k == 0) return;  // a handler swallowed the key
        typed = KeyToChar(k, (shift & ssShift) != 0);
    }
    if (typed != 0) {
        char ch = typed;
        if (preview != nullptr) preview->OnKeyPress(preview, ch);
        if (ch != 0) on_press(&control, ch);
        if (ch != 0) pressed(ch);
    }
    if (k != 0) {
        if (preview != nullptr) preview->OnKeyUp(preview, k, shift);
        if (k != 0) on_up(&control, k, shift);
    }
}

}  // namespace

bool TControl::PressKey(uint16_t key, TShiftState shift) {
    if (!Reachable()) return false;
    if (TakesFocus() && !Focused()) SetFocus();  // keys go to the focused control
    TForm* form = Form();
    TForm* preview = form != nullptr && form != this && form->KeyPreview() ? form : nullptr;
    Stroke(*this, preview, key, shift, 0, OnKeyDown, OnKeyPress, OnKeyUp,
           [this](char ch) { KeyPressed(ch); });
    return true;
}

bool TControl::TypeText(std::string_view text) {
    if (!Reachable()) return false;
    if (TakesFocus() && !Focused()) SetFocus();
    TForm* form = Form();
    TForm* preview = form != nullptr && form != this && form->KeyPreview() ? form : nullptr;
    for (char c : text) {
        uint16_t key = CharToKey(c);
        TShiftState shift = (c >= 'A' && c <= 'Z') ? ssShift : 0;
        // Characters without a key of their own ('-', '.') arrive as typed characters only.
        Stroke(*this, preview, key, shift, key == 0 ? c : 0, OnKeyDown, OnKeyPress, OnKeyUp,
               [this](char ch) { KeyPressed(ch); });
    }
    return true;
}

// ---- Buttons -----------------------------------------------------------------------------

void TButton::KeyPressed(char ch) {
    if (ch == ' ' || ch == '\r') DoClick();
}

TBitmap TBitBtn::Glyph() const {
    return Get(glyph_);
}
void TBitBtn::SetGlyph(const TBitmap& glyph) {
    Put(glyph_, glyph, ccValue);
}
TBitmap TSpeedButton::Glyph() const {
    return Get(glyph_);
}
void TSpeedButton::SetGlyph(const TBitmap& glyph) {
    Put(glyph_, glyph, ccValue);
}

bool TButtonControl::Checked() const {
    return Get(checked_);
}

void TButtonControl::KeyPressed(char ch) {
    if (ch == ' ') DoClick();
}

bool TButtonControl::CheckAndClick() {
    if (SetChecked(true)) return true;
    OnClick(this);
    return false;
}

bool TCheckBox::SetChecked(bool checked) {
    if (!Put(checked_, checked, ccValue)) return false;
    OnClick(this);
    return true;
}

bool TRadioButton::SetChecked(bool checked) {
    std::vector<TRadioButton*> unchecked;
    {
        Lock lock(detail::ToolkitMutex());
        if (checked_ == checked) return false;
        checked_ = checked;
        if (checked && ParentLocked() != nullptr) {
            for (TControl* sibling : ParentLocked()->ChildrenLocked()) {
                auto* radio = dynamic_cast<TRadioButton*>(sibling);
                if (radio != nullptr && radio != this && radio->checked_) {
                    radio->checked_ = false;
                    unchecked.push_back(radio);
                }
            }
        }
    }
    for (TRadioButton* radio : unchecked) radio->Changed(ccValue);
    Changed(ccValue);
    if (checked) OnClick(this);
    return true;
}

// ---- Edits -------------------------------------------------------------------------------

bool TCustomEdit::ReadOnly() const {
    return Get(read_only_);
}
void TCustomEdit::SetReadOnly(bool read_only) {
    Put(read_only_, read_only, ccValue);
}
int TCustomEdit::MaxLength() const {
    return Get(max_length_);
}
void TCustomEdit::SetMaxLength(int length) {
    Put(max_length_, std::max(length, 0), ccValue);
}
void TCustomEdit::SelectAll() {
    Put(selected_all_, true, 0);
}

void TCustomEdit::DoEnter() {
    SelectAll();
    TControl::DoEnter();
}

void TCustomEdit::DoClick() {
    Put(selected_all_, false, 0);  // the click places the caret
    OnClick(this);
}

bool TCustomEdit::Accepts(char /*ch*/, size_t /*position*/) const {
    return true;
}

void TCustomEdit::KeyPressed(char ch) {
    std::string text;
    {
        Lock lock(detail::ToolkitMutex());
        if (read_only_) return;
        text = selected_all_ ? std::string() : TextLocked();
        if (ch == '\b') {
            if (!text.empty() && !selected_all_) text.pop_back();
        } else if (static_cast<unsigned char>(ch) >= 32 && ch != 127) {
            if (max_length_ > 0 && text.size() >= static_cast<size_t>(max_length_)) return;
            text.push_back(ch);
        } else {
            return;  // Return, Escape, Tab: for handlers, not for the text
        }
    }
    if (ch != '\b' && !Accepts(ch, text.size() - 1)) return;
    Put(selected_all_, false, 0);
    SetText(text);
}

std::string TMaskEdit::EditMask() const {
    return Get(mask_);
}
void TMaskEdit::SetEditMask(const std::string& mask) {
    Put(mask_, mask, ccValue);
}

namespace {

// The positions of a mask: one class character per position, modifiers dropped; an escaped
// literal is kept as \x01 followed by the character.
std::string MaskPositions(const std::string& mask) {
    std::string positions;
    for (size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        if (c == ';') break;
        if (c == '!' || c == '>' || c == '<') continue;
        if (c == '\\' && i + 1 < mask.size()) {
            positions.push_back('\x01');  // marks the next character as a literal
            positions.push_back(mask[++i]);
            continue;
        }
        positions.push_back(c);
    }
    return positions;
}

bool ClassAccepts(char cls, char ch) {
    const auto u = static_cast<unsigned char>(ch);
    switch (cls) {
        case '0':
        case '9':
            return std::isdigit(u) || (cls == '9' && ch == ' ');
        case '#':
            return std::isdigit(u) || ch == '+' || ch == '-' || ch == ' ';
        case 'L':
        case 'l':
            return std::isalpha(u);
        case 'A':
        case 'a':
            return std::isalnum(u);
        case 'C':
        case 'c':
            return true;
        default:
            return ch == cls;  // literal position
    }
}

}  // namespace

size_t TMaskEdit::MaskLength() const {
    std::string positions = MaskPositions(EditMask());
    return positions.size() -
           static_cast<size_t>(std::count(positions.begin(), positions.end(), '\x01'));
}

bool TMaskEdit::Accepts(char ch, size_t position) const {
    std::string positions = MaskPositions(EditMask());
    if (positions.empty()) return true;
    size_t index = 0;
    for (size_t i = 0; i < positions.size(); ++i, ++index) {
        bool literal = positions[i] == '\x01';
        if (literal) ++i;
        if (index == position) return literal ? ch == positions[i] : ClassAccepts(positions[i], ch);
    }
    return false;  // beyond the mask
}

std::vector<std::string> TMemo::Lines() const {
    std::string text = Text();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines[i];
    }
    SetText(text);
}

void TMemo::AddLine(const std::string& line) {
    std::vector<std::string> lines = Lines();
    lines.push_back(line);
    SetLines(lines);
}

// ---- Scroll bar --------------------------------------------------------------------------

int TScrollBar::Min() const {
    return Get(min_);
}
int TScrollBar::Max() const {
    return Get(max_);
}
int TScrollBar::Position() const {
    return Get(position_);
}
int TScrollBar::SmallChange() const {
    return Get(small_);
}
int TScrollBar::LargeChange() const {
    return Get(large_);
}
TScrollBarKind TScrollBar::Kind() const {
    return Get(kind_);
}
void TScrollBar::SetSmallChange(int step) {
    Put(small_, step, ccValue);
}
void TScrollBar::SetLargeChange(int step) {
    Put(large_, step, ccValue);
}
void TScrollBar::SetKind(TScrollBarKind kind) {
    Put(kind_, kind, ccValue);
}

bool TScrollBar::ApplyRange(int position, bool keep_position, std::optional<int> min,
                            std::optional<int> max) {
    bool moved, ranged;
    {
        Lock lock(detail::ToolkitMutex());
        int new_min = min.value_or(min_), new_max = max.value_or(max_);
        if (new_min > new_max) return false;
        int p = Clamp(keep_position ? position_ : position, new_min, new_max);
        moved = p != position_;
        ranged = new_min != min_ || new_max != max_;
        min_ = new_min;
        max_ = new_max;
        position_ = p;
    }
    if (moved || ranged) Changed(ccValue);
    if (moved) OnChange(this);
    return true;
}

bool TScrollBar::SetPosition(int position) {
    bool moved;
    {
        Lock lock(detail::ToolkitMutex());
        int p = Clamp(position, min_, max_);
        moved = p != position_;
        position_ = p;
    }
    if (moved) Changed(ccValue);
    if (moved) OnChange(this);
    return moved;
}

bool TScrollBar::SetMin(int min) {
    return ApplyRange(0, true, min, std::nullopt);
}
bool TScrollBar::SetMax(int max) {
    return ApplyRange(0, true, std::nullopt, max);
}

bool TScrollBar::SetParams(int position, int min, int max) {
    return ApplyRange(position, false, min, max);
}

bool TScrollBar::ScrollTo(int position) {
    if (!Reachable()) return false;
    SetPosition(position);
    return true;
}

bool TScrollBar::ScrollBy(int delta) {
    if (!Reachable()) return false;
    SetPosition(Clamp(static_cast<int64_t>(Position()) + delta, Min(), Max()));
    return true;
}

// ---- Up-down -----------------------------------------------------------------------------

int TUpDown::Min() const {
    return Get(min_);
}
int TUpDown::Max() const {
    return Get(max_);
}
int TUpDown::Position() const {
    return Get(position_);
}
int TUpDown::Increment() const {
    return Get(increment_);
}
bool TUpDown::Wrap() const {
    return Get(wrap_);
}
TCustomEdit* TUpDown::Associate() const {
    return Get(associate_);
}
void TUpDown::SetIncrement(int step) {
    Put(increment_, step, ccValue);
}
void TUpDown::SetWrap(bool wrap) {
    Put(wrap_, wrap, ccValue);
}

void TUpDown::SetAssociate(TCustomEdit* edit) {
    Put(associate_, edit, ccValue);
    if (edit != nullptr) edit->SetText(IntToStr(Position()));
}

bool TUpDown::StorePosition(int64_t position) {
    TCustomEdit* associate;
    int stored;
    {
        Lock lock(detail::ToolkitMutex());
        stored = Clamp(position, min_, max_);
        if (stored == position_) return false;
        position_ = stored;
        associate = associate_;
    }
    Changed(ccValue);
    if (associate != nullptr) associate->SetText(IntToStr(stored));
    OnChange(this);
    return true;
}

bool TUpDown::SetPosition(int position) {
    return StorePosition(position);
}

bool TUpDown::ApplyRange(std::optional<int> min, std::optional<int> max) {
    int position;
    bool ranged;
    {
        Lock lock(detail::ToolkitMutex());
        int new_min = min.value_or(min_), new_max = max.value_or(max_);
        if (new_min > new_max) return false;
        ranged = new_min != min_ || new_max != max_;
        min_ = new_min;
        max_ = new_max;
        position = position_;
    }
    if (ranged) Changed(ccValue);
    StorePosition(position);  // re-clamps into the new range
    return true;
}

bool TUpDown::SetMin(int min) {
    return ApplyRange(min, std::nullopt);
}
bool TUpDown::SetMax(int max) {
    return ApplyRange(std::nullopt, max);
}

bool TUpDown::ClickButton(TUDBtnType button) {
    if (!Reachable()) return false;
    OnMouseDown(this, mbLeft, ssLeft, 0, 0);
    int64_t next;
    {
        Lock lock(detail::ToolkitMutex());
        next = static_cast<int64_t>(position_) + (button == btNext ? increment_ : -increment_);
        if (wrap_ && next > max_) next = min_;
        if (wrap_ && next < min_) next = max_;
    }
    StorePosition(next);
    OnClick(this);
    OnMouseUp(this, mbLeft, 0, 0, 0);
    return true;
}

// ---- Combo box ---------------------------------------------------------------------------

std::vector<std::string> TComboBox::Items() const {
    return Get(items_);
}

void TComboBox::SetItems(const std::vector<std::string>& items) {
    {
        Lock lock(detail::ToolkitMutex());
        if (items_ == items && index_ == -1 && TextLocked().empty()) return;
        items_ = items;
        index_ = -1;
        TextLocked().clear();
    }
    Changed(ccValue | ccText);
}

void TComboBox::AddItem(const std::string& item) {
    {
        Lock lock(detail::ToolkitMutex());
        items_.push_back(item);
    }
    Changed(ccValue);
}

void TComboBox::ClearItems() {
    SetItems({});
}

int TComboBox::ItemCount() const {
    Lock lock(detail::ToolkitMutex());
    return static_cast<int>(items_.size());
}

int TComboBox::ItemIndex() const {
    return Get(index_);
}

bool TComboBox::SetItemIndex(int index) {
    {
        Lock lock(detail::ToolkitMutex());
        if (index < -1 || index >= static_cast<int>(items_.size())) return false;
        std::string text = index >= 0 ? items_[static_cast<size_t>(index)] : std::string();
        if (index_ == index && TextLocked() == text) return true;
        index_ = index;
        TextLocked() = std::move(text);
    }
    Changed(ccValue | ccText);
    return true;
}

TComboBoxStyle TComboBox::Style() const {
    return Get(style_);
}
void TComboBox::SetStyle(TComboBoxStyle style) {
    Put(style_, style, ccValue);
}

bool TComboBox::Select(int index) {
    if (!Reachable()) return false;
    int before = ItemIndex();
    if (!SetItemIndex(index)) return false;
    if (index != before) OnChange(this);
    return true;
}

// ---- Shape and image ---------------------------------------------------------------------

TColor TShape::BrushColor() const {
    return Get(brush_);
}
void TShape::SetBrushColor(TColor color) {
    Put(brush_, color, ccAppearance);
}
TColor TShape::PenColor() const {
    return Get(pen_);
}
void TShape::SetPenColor(TColor color) {
    Put(pen_, color, ccAppearance);
}
TShapeType TShape::Shape() const {
    return Get(shape_);
}
void TShape::SetShape(TShapeType shape) {
    Put(shape_, shape, ccValue);
}

TBitmap TImage::Picture() const {
    return Get(picture_);
}
void TImage::SetPicture(const TBitmap& picture) {
    Put(picture_, picture, ccValue);
}

// ---- Page control ------------------------------------------------------------------------

TTabSheet::~TTabSheet() {
    TPageControl* pages;
    {
        Lock lock(detail::ToolkitMutex());
        pages = PageControlLocked();
        if (pages == nullptr || pages->active_ != this) return;
        pages->active_ = nullptr;
    }
    pages->Changed(ccPages);
}

TPageControl* TTabSheet::PageControlLocked() const {
    return dynamic_cast<TPageControl*>(ParentLocked());
}

TPageControl* TTabSheet::PageControl() const {
    Lock lock(detail::ToolkitMutex());
    return PageControlLocked();
}

int TTabSheet::PageIndex() const {
    Lock lock(detail::ToolkitMutex());
    TPageControl* pages = PageControlLocked();
    if (pages == nullptr) return -1;
    std::vector<TTabSheet*> all = pages->PagesLocked();
    auto it = std::find(all.begin(), all.end(), this);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
}

bool TTabSheet::TabVisible() const {
    return Get(tab_visible_);
}

void TTabSheet::SetTabVisible(bool visible) {
    TPageControl* pages;
    {
        Lock lock(detail::ToolkitMutex());
        if (tab_visible_ == visible) return;
        tab_visible_ = visible;
        pages = PageControlLocked();
        if (!visible && pages != nullptr && pages->ActivePageLocked() == this) ShowNextPageLocked();
    }
    Changed(ccPages);
    if (pages != nullptr) pages->Changed(ccPages);
}

void TTabSheet::ShowNextPageLocked() {
    TPageControl* pages = PageControlLocked();
    std::vector<TTabSheet*> all = pages->PagesLocked();
    auto self = std::find(all.begin(), all.end(), this);
    TTabSheet* next = nullptr;
    for (auto it = self + 1; it != all.end() && next == nullptr; ++it) {
        if ((*it)->tab_visible_) next = *it;
    }
    for (auto it = self; it != all.begin() && next == nullptr;) {
        --it;
        if ((*it)->tab_visible_) next = *it;
    }
    pages->active_ = next;
    pages->active_chosen_ = true;
}

bool TTabSheet::HidesChildrenLocked() const {
    TPageControl* pages = PageControlLocked();
    return pages != nullptr && pages->ActivePageLocked() != this;
}

std::vector<TTabSheet*> TPageControl::PagesLocked() const {
    std::vector<TTabSheet*> pages;
    for (TControl* child : ChildrenLocked()) {
        if (auto* page = dynamic_cast<TTabSheet*>(child)) pages.push_back(page);
    }
    return pages;
}

TTabSheet* TPageControl::ActivePageLocked() const {
    if (active_chosen_) return active_;
    std::vector<TTabSheet*> pages = PagesLocked();
    return pages.empty() ? nullptr : pages.front();
}

std::vector<TTabSheet*> TPageControl::Pages() const {
    Lock lock(detail::ToolkitMutex());
    return PagesLocked();
}

int TPageControl::PageCount() const {
    return static_cast<int>(Pages().size());
}

TTabSheet* TPageControl::Page(int index) const {
    std::vector<TTabSheet*> pages = Pages();
    return index >= 0 && index < static_cast<int>(pages.size()) ? pages[static_cast<size_t>(index)]
                                                                : nullptr;
}

TTabSheet* TPageControl::ActivePage() const {
    Lock lock(detail::ToolkitMutex());
    return ActivePageLocked();
}

int TPageControl::ActivePageIndex() const {
    TTabSheet* page = ActivePage();
    return page ? page->PageIndex() : -1;
}

bool TPageControl::SetActivePage(TTabSheet* page) {
    {
        Lock lock(detail::ToolkitMutex());
        if (page != nullptr && page->ParentLocked() != this) return false;
        const bool same = ActivePageLocked() == page;
        active_ = page;
        active_chosen_ = true;
        if (same) return true;
    }
    Changed(ccPages);
    return true;
}

bool TPageControl::SetActivePageIndex(int index) {
    TTabSheet* page = Page(index);
    return (page != nullptr || index == -1) && SetActivePage(page);
}

bool TPageControl::SelectTab(TTabSheet* page) {
    if (page == nullptr || page->PageControl() != this || !page->TabVisible() || !Reachable()) {
        return false;
    }
    TTabSheet* before = ActivePage();
    SetActivePage(page);
    if (page != before) OnChange(this);
    return true;
}

// ---- Menus -------------------------------------------------------------------------------

TMenuItem::TMenuItem(std::string caption) : caption_(std::move(caption)) {}

std::string TMenuItem::Caption() const {
    Lock lock(detail::ToolkitMutex());
    return caption_;
}

void TMenuItem::SetCaption(const std::string& caption) {
    Lock lock(detail::ToolkitMutex());
    caption_ = caption;
}

bool TMenuItem::Checked() const {
    Lock lock(detail::ToolkitMutex());
    return checked_;
}

void TMenuItem::SetChecked(bool checked) {
    Lock lock(detail::ToolkitMutex());
    checked_ = checked;
}

bool TMenuItem::Enabled() const {
    Lock lock(detail::ToolkitMutex());
    return enabled_;
}

void TMenuItem::SetEnabled(bool enabled) {
    Lock lock(detail::ToolkitMutex());
    enabled_ = enabled;
}

bool TMenuItem::Visible() const {
    Lock lock(detail::ToolkitMutex());
    return visible_;
}

void TMenuItem::SetVisible(bool visible) {
    Lock lock(detail::ToolkitMutex());
    visible_ = visible;
}

bool TMenuItem::Click() {
    if (!Enabled() || !Visible()) return false;
    OnClick(this);
    return true;
}

TMenuItem* TPopupMenu::AddItem(const std::string& caption) {
    Lock lock(detail::ToolkitMutex());
    items_.push_back(std::make_unique<TMenuItem>(caption));
    return items_.back().get();
}

std::vector<TMenuItem*> TPopupMenu::Items() const {
    Lock lock(detail::ToolkitMutex());
    std::vector<TMenuItem*> items;
    for (const auto& item : items_) items.push_back(item.get());
    return items;
}

TMenuItem* TPopupMenu::FindItem(std::string_view caption) const {
    for (TMenuItem* item : Items()) {
        if (item->Caption() == caption) return item;
    }
    return nullptr;
}

void TPopupMenu::Popup(int /*x*/, int /*y*/) {
    OnPopup(this);
}

}  // namespace bx::ui
