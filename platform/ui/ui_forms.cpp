// Forms: ownership of components, lookup by name, focus and the form's own properties.
#include <bxplatform/ui_controls.h>

#include "window_table.h"

#include <cctype>
#include <stdexcept>

namespace bx::ui {

namespace {

using Lock = std::lock_guard<std::mutex>;

}  // namespace

TForm::TForm() {
    Lock lock(detail::ToolkitMutex());
    visible_ = false;
}

TForm::~TForm() {
    // Newest first, each outside the lock (a control's destructor takes it to unlink itself),
    // so children go before the containers they sit in.
    for (;;) {
        std::unique_ptr<TComponent> last;
        {
            Lock lock(detail::ToolkitMutex());
            if (components_.empty()) break;
            last = std::move(components_.back());
            components_.pop_back();
        }
    }
    if (Screen().ActiveForm() == Handle()) Screen().SetActiveForm(0);
}

void TForm::Adopt(std::unique_ptr<TComponent> component, std::string name, TControl* parent) {
    if (!name.empty() && FindComponent(name) != nullptr) {
        throw std::invalid_argument("a component named '" + name + "' already exists");
    }
    if (auto* control = dynamic_cast<TControl*>(component.get())) {
        TControl* container = parent != nullptr ? parent : this;
        if (container->Form() != this) {
            throw std::invalid_argument("the parent of '" + name + "' belongs to another form");
        }
        if (dynamic_cast<TTabSheet*>(control) && !dynamic_cast<TPageControl*>(container)) {
            throw std::invalid_argument("tab sheet '" + name + "' needs a page control as parent");
        }
        control->SetParent(container);
    }
    auto* control = dynamic_cast<TControl*>(component.get());
    {
        Lock lock(detail::ToolkitMutex());
        component->name_ = std::move(name);
        component->owner_ = this;
        components_.push_back(std::move(component));
    }
    if (control != nullptr && detail::control_observed.load(std::memory_order_acquire)) {
        detail::NotifyControlCreated(*control);
    }
}

TComponent* TForm::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    Lock lock(detail::ToolkitMutex());
    for (const auto& component : components_) {
        if (SameText(component->name_, name)) return component.get();
    }
    return nullptr;
}

std::vector<TComponent*> TForm::Components() const {
    Lock lock(detail::ToolkitMutex());
    std::vector<TComponent*> all;
    for (const auto& component : components_) all.push_back(component.get());
    return all;
}

TControl* TForm::ActiveControl() const {
    return Get(focused_);
}

bool TForm::SetActiveControl(TControl* control) {
    if (control != nullptr &&
        (control->Form() != this || control == this || !control->CanFocus())) {
        return false;
    }
    TControl* previous;
    {
        Lock lock(detail::ToolkitMutex());
        previous = focused_;
        if (previous == control) return true;
        focused_ = control;
    }
    if (control != nullptr) detail::ChangedIfObserved(*control, ccFocus);
    if (previous != nullptr) previous->DoExit();
    if (control != nullptr) control->DoEnter();
    return true;
}

void TForm::DoCreate() {
    {
        Lock lock(detail::ToolkitMutex());
        if (created_) return;
        created_ = true;
    }
    OnCreate(this);
}

void TForm::DoDestroy() {
    {
        Lock lock(detail::ToolkitMutex());
        if (destroyed_) return;
        destroyed_ = true;
    }
    OnDestroy(this);
}

bool TForm::Created() const {
    return Get(created_);
}
bool TForm::Destroyed() const {
    return Get(destroyed_);
}

void TForm::VisibleChanged(bool visible) {
    if (visible) {
        Screen().SetActiveForm(Handle());
        OnShow(this);
    } else {
        if (Screen().ActiveForm() == Handle()) Screen().SetActiveForm(0);
        OnHide(this);
    }
}

bool TForm::Active() const {
    return Screen().ActiveForm() == Handle();
}

bool TForm::KeyPreview() const {
    return Get(key_preview_);
}
void TForm::SetKeyPreview(bool preview) {
    Put(key_preview_, preview, 0);
}
bool TForm::AutoScroll() const {
    return Get(auto_scroll_);
}
void TForm::SetAutoScroll(bool on) {
    Put(auto_scroll_, on, 0);
}
TFormBorderStyle TForm::BorderStyle() const {
    return Get(border_style_);
}
void TForm::SetBorderStyle(TFormBorderStyle style) {
    Put(border_style_, style, ccAppearance);
}
int TForm::PixelsPerInch() const {
    return Get(pixels_per_inch_);
}
void TForm::SetPixelsPerInch(int ppi) {
    Put(pixels_per_inch_, ppi, 0);
}
TPrintScale TForm::PrintScale() const {
    return Get(print_scale_);
}
void TForm::SetPrintScale(TPrintScale scale) {
    Put(print_scale_, scale, 0);
}
bool TForm::Scaled() const {
    return Get(scaled_);
}
void TForm::SetScaled(bool scaled) {
    Put(scaled_, scaled, 0);
}
std::string TForm::HelpFile() const {
    return Get(help_file_);
}
void TForm::SetHelpFile(const std::string& file) {
    Put(help_file_, file, 0);
}
TWindowState TForm::WindowState() const {
    return Get(window_state_);
}
void TForm::SetWindowState(TWindowState state) {
    Put(window_state_, state, ccAppearance);
}

TActiveForm::TActiveForm() = default;
TActiveFormBorderStyle TActiveForm::AxBorderStyle() const {
    return Get(ax_border_style_);
}
void TActiveForm::SetAxBorderStyle(TActiveFormBorderStyle style) {
    Put(ax_border_style_, style, ccAppearance);
}
bool TActiveForm::DropTarget() const {
    return Get(drop_target_);
}
void TActiveForm::SetDropTarget(bool on) {
    Put(drop_target_, on, 0);
}

}  // namespace bx::ui
