// The form's window as an embedded control's window: what the container's in-place
// activation, extents and "Properties" verb do to the form.
#include "automation/BXTessvikFerroFWImpl.h"

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

HWND FormWindow::Window() {
    return object_.Form().Handle();
}

void FormWindow::Place(HWND parent, const RECT& position) {
    TBXTessvikFerroFW& form = object_.Form();
    form.SetParentWindow(parent);
    if (parent != 0) SetBounds(position);
}

void FormWindow::SetBounds(const RECT& position) {
    object_.Form().SetBounds(position.left, position.top, position.right - position.left,
                             position.bottom - position.top);
}

SIZE FormWindow::Size() {
    const TBXTessvikFerroFW& form = object_.Form();
    return {form.Width(), form.Height()};
}

void FormWindow::SetSize(SIZE pixels) {
    TBXTessvikFerroFW& form = object_.Form();
    form.SetBounds(form.Left(), form.Top(), pixels.cx, pixels.cy);
}

void FormWindow::SetShown(bool shown) {
    object_.Form().SetVisible(shown);
}

// The control's settings are its own panel, shown as a window of its own.
HRESULT FormWindow::ShowProperties() {
    return object_.ShowConfiguration();
}

void FormWindow::SetEventsFrozen(bool frozen) {
    object_.Sinks().SetFrozen(frozen);
}

int FormWindow::PixelsPerInch() {
    return object_.Form().PixelsPerInch();
}

}  // namespace ferro
