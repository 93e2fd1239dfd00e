// bxgrab-gui: a desktop host for the camera control (see main_window.h).
#include <bxplatform/ui_desktop.h>

#include <QApplication>

#include "run.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("bxgrab-gui");
    // The control's forms become widgets and its message boxes QMessageBoxes.
    bx::ui::desktop::Backend desktop;
    return bxgrab_gui::Run(QApplication::arguments());
}
