// Internal: the table of live windows and the geometry walks over it. Every function whose
// name ends in Locked expects the caller to hold detail::ToolkitMutex().
#pragma once

#include <bxplatform/ui_controls.h>

namespace bx::ui {

// Asks the desktop hook for a window's real screen rectangle (see DesktopHooks::WindowRect).
bool DesktopWindowRect(HWND window, TRect* rect);

struct WindowAccess {
    // Gives a new control its handle and enters it in the table.
    static HWND Register(TControl* control);
    // Removes the handle; returns the controls that were placed in that window.
    static std::vector<TControl*> UnregisterLocked(HWND handle);
    static TControl* FindLocked(HWND handle);
    // The control's effective parent: the host window it was placed in, else its parent.
    static TControl* EffectiveParentLocked(const TControl* control);
    // Whether `ancestor` is `control` or one of its effective ancestors.
    static bool IsWithinLocked(const TControl* control, const TControl* ancestor);
    static TRect ScreenRectLocked(const TControl* control);
    static bool VisibleLocked(const TControl* control);
    static void SetParentWindowLocked(TControl* control, HWND window) {
        control->parent_window_ = window;
    }
};

}  // namespace bx::ui
