// bxgrab-gui from its command line to its exit code: the options read, the window opened and
// the event loop run. --help and --version print and return 0; mistakes and start failures
// are shown in a message box (and the exit code says which: 2 the command line, 3 the camera
// or the control).
//
// Thread rule: the GUI thread, with the QApplication made and the toolkit's desktop backend
// installed.
#pragma once

#include <QStringList>

namespace bxgrab_gui {

int Run(const QStringList& arguments);

}  // namespace bxgrab_gui
