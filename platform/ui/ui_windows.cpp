// Window handles: the table of live windows and the queries on it.
#include "window_table.h"

#include <unordered_map>

namespace bx::ui {

namespace {

struct WindowTable {
    std::unordered_map<HWND, TControl*> windows;
    HWND last = 0;
};

WindowTable& Table() {
    static WindowTable table;
    return table;
}

}  // namespace

HWND WindowAccess::Register(TControl* control) {
    std::lock_guard lock(detail::ToolkitMutex());
    WindowTable& table = Table();
    // Numbers only grow, so a handle kept after its window died never names a new window.
    HWND handle = ++table.last;
    table.windows.emplace(handle, control);
    return handle;
}

std::vector<TControl*> WindowAccess::UnregisterLocked(HWND handle) {
    WindowTable& table = Table();
    table.windows.erase(handle);
    // Controls placed in this window fall back to their own parents.
    std::vector<TControl*> placed;
    for (auto& [h, control] : table.windows) {
        if (control->parent_window_ == handle) {
            control->parent_window_ = 0;
            placed.push_back(control);
        }
    }
    return placed;
}

TControl* WindowAccess::FindLocked(HWND handle) {
    if (handle == 0) return nullptr;
    auto& windows = Table().windows;
    auto it = windows.find(handle);
    return it == windows.end() ? nullptr : it->second;
}

TControl* WindowAccess::EffectiveParentLocked(const TControl* control) {
    if (control->parent_window_ != 0) {
        if (TControl* host = FindLocked(control->parent_window_)) return host;
    }
    return control->parent_;
}

bool WindowAccess::IsWithinLocked(const TControl* control, const TControl* ancestor) {
    // Parent links are kept acyclic by SetParent, so the walk ends at a top-level window.
    for (const TControl* c = control; c != nullptr; c = EffectiveParentLocked(c)) {
        if (c == ancestor) return true;
    }
    return false;
}

TRect WindowAccess::ScreenRectLocked(const TControl* control) {
    int x = 0, y = 0;
    for (const TControl* c = control; c != nullptr; c = EffectiveParentLocked(c)) {
        x += c->left_;
        y += c->top_;
    }
    return TRect{x, y, x + control->width_, y + control->height_};
}

bool WindowAccess::VisibleLocked(const TControl* control) {
    for (const TControl* c = control; c != nullptr; c = EffectiveParentLocked(c)) {
        if (!c->visible_) return false;
    }
    return true;
}

bool IsWindow(HWND window) {
    std::lock_guard lock(detail::ToolkitMutex());
    return WindowAccess::FindLocked(window) != nullptr;
}

bool GetWindowRect(HWND window, TRect* rect) {
    if (rect == nullptr) return false;
    if (DesktopWindowRect(window, rect)) return true;
    std::lock_guard lock(detail::ToolkitMutex());
    const TControl* control = WindowAccess::FindLocked(window);
    if (control == nullptr) return false;
    *rect = WindowAccess::ScreenRectLocked(control);
    return true;
}

bool IsWindowVisible(HWND window) {
    std::lock_guard lock(detail::ToolkitMutex());
    const TControl* control = WindowAccess::FindLocked(window);
    return control != nullptr && WindowAccess::VisibleLocked(control);
}

HWND GetParent(HWND window) {
    std::lock_guard lock(detail::ToolkitMutex());
    const TControl* control = WindowAccess::FindLocked(window);
    if (control == nullptr) return 0;
    const TControl* parent = WindowAccess::EffectiveParentLocked(control);
    return parent ? parent->Handle() : 0;
}

HWND SetParent(HWND window, HWND parent) {
    TControl* control;
    HWND previous_handle;
    bool moved;
    {
        std::lock_guard lock(detail::ToolkitMutex());
        control = WindowAccess::FindLocked(window);
        if (control == nullptr) return 0;
        TControl* host = WindowAccess::FindLocked(parent);
        if (parent != 0 && (host == nullptr || WindowAccess::IsWithinLocked(host, control))) {
            return 0;
        }
        const TControl* previous = WindowAccess::EffectiveParentLocked(control);
        previous_handle = previous ? previous->Handle() : 0;
        moved = control->ParentWindowLocked() != parent;
        WindowAccess::SetParentWindowLocked(control, parent);
    }
    if (moved) detail::ChangedIfObserved(*control, ccParent);
    return previous_handle;
}

}  // namespace bx::ui
