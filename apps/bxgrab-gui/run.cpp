#include "main_window.h"  // first: its COM headers go before Qt's

#include "run.h"

#include <QApplication>
#include <QMessageBox>

#include <iostream>

namespace bxgrab_gui {

int Run(const QStringList& arguments) {
    const ParsedArguments parsed = ParseArguments(arguments);
    if (!parsed.run) {
        // Help and version are asked for on a terminal; a mistake is shown where it is seen.
        if (parsed.exitCode == 0) {
            std::cout << parsed.message << std::endl;
        } else {
            std::cerr << "bxgrab-gui: " << parsed.message << std::endl;
            QMessageBox::critical(nullptr, "bxgrab-gui", QString::fromStdString(parsed.message));
        }
        return parsed.exitCode;
    }
    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(parsed.options);
    } catch (const StartError& error) {
        QMessageBox::critical(nullptr, "bxgrab-gui",
                              QString("bxgrab-gui could not start.\n\n") + error.what());
        return 3;
    }
    window->show();
    return QApplication::exec();
}

}  // namespace bxgrab_gui
