// The form toolkit on a Qt Widgets desktop: every form and control of the model becomes a
// real widget, kept in step with the model both ways.
//
//   QApplication app(argc, argv);
//   bx::ui::desktop::Backend desktop;   // installs; uninstalls when it goes
//   form.Show();                        // the form appears as a window with its controls
//
// - Widgets are made for a form when it is shown, when one of its controls is placed in a
//   host window, or when asked (WidgetFor), and for controls created on it later. The model's
//   pixel geometry is used as is: every control sits at its position inside its parent's
//   widget.
// - A property set on the model shows at once when set on the GUI thread. From another
//   thread the change is queued to the GUI thread, one pending refresh per control however
//   many changes arrive, and the refresh reads the model's state when it runs (a control
//   destroyed by then is skipped).
// - User input on a widget drives the model's own input methods (Click, ClickButton,
//   ScrollTo, Select, SelectTab, SetFocus, SetText for typed text, the key events), so the
//   model's events fire with their usual semantics. Widget signals are blocked while a
//   widget is refreshed from the model, so nothing loops back.
// - Mouse presses and releases other than left clicks are posted as the model's mouse
//   messages for the control's window (WM_RBUTTONUP ...); a right-button release also pops up
//   the control's popup menu. The toolkit's message queue is dispatched from the Qt event
//   loop, and ProcessMessages on the GUI thread processes Qt's pending events first.
// - Message boxes are QMessageBoxes, beeps QApplication::beep, the screen cursor an override
//   cursor. A box asked on another thread is shown on the GUI thread while the asking thread
//   waits. Should the GUI thread not get to it within Options::box_pickup_timeout (it is
//   blocked, say waiting for that very thread), the box goes to the backend that was
//   installed before (by default the console one) rather than hang both threads.
// - GetWindowRect, on the GUI thread, answers the real screen geometry of shown widgets;
//   other threads get the model's geometry, in which a host window follows its widget's
//   moves and resizes.
//
// Thread rule: Install, Uninstall, WidgetFor, HandleOf and HostWindow are thread-bound to the
// GUI thread (the QApplication's); everything the toolkit does stays thread-safe.
#pragma once

#include <bxplatform/ui_controls.h>

#include <chrono>

class QWidget;

namespace bx::ui::desktop {

struct Options {
    // How long a box asked on another thread waits for the GUI thread to show it.
    std::chrono::milliseconds box_pickup_timeout{5000};
};

// Installs the backend: control observer, message boxes, beep, cursor, message-loop hooks.
// Needs a QApplication and its thread. Returns false (changing nothing) without one, off its
// thread, or when installed already.
bool Install(const Options& options = {});
// Removes every widget made for the model, releases the host windows and restores the
// headless behaviour. Does nothing when not installed.
void Uninstall();
bool Installed();

// Install for the life of the object.
class Backend {
public:
    explicit Backend(const Options& options = {}) : installed_(Install(options)) {}
    ~Backend() {
        if (installed_) Uninstall();
    }
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    bool Installed() const { return installed_; }

private:
    bool installed_;
};

// The control's widget, making the widgets of its form first if needed; null when not
// installed or for a control on no form.
QWidget* WidgetFor(TControl* control);
// The window handle of a widget made for a control or given as a host window; 0 otherwise.
HWND HandleOf(const QWidget* widget);

// A window handle naming one of the host's own widgets, so toolkit code can place controls in
// it (TControl::SetParentWindow, ui::SetParent): the control's widget becomes a child of
// `area` at the control's position, and goes back when placed in 0. GetWindowRect of the
// handle is the area's screen rectangle. The same area gives the same handle; the handle dies
// with the area (or Uninstall), and controls placed in it go back to their own parents.
HWND HostWindow(QWidget* area);

}  // namespace bx::ui::desktop
