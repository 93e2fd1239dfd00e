#include "main_window.h"  // first: its COM headers go before Qt's

#include "run.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <iostream>

namespace bxgrab_gui {

namespace {

// How long a box nobody can see waits before it closes itself.
constexpr int kUnseenBoxMs = 3000;

// A start problem in a box. On a platform without a screen (offscreen, minimal) nobody can
// answer it, so it closes itself rather than keep the program waiting for ever.
void ShowStartError(const QString& text) {
    QMessageBox box(QMessageBox::Critical, "bxgrab-gui", text);
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal")
        QTimer::singleShot(kUnseenBoxMs, &box, &QMessageBox::reject);
    box.exec();
}

}  // namespace

int Run(const QStringList& arguments) {
    const ParsedArguments parsed = ParseArguments(arguments);
    if (!parsed.run) {
        // Help and version are asked for on a terminal; a mistake is shown where it is seen.
        if (parsed.exitCode == 0) {
            std::cout << parsed.message << std::endl;
        } else {
            std::cerr << "bxgrab-gui: " << parsed.message << std::endl;
            ShowStartError(QString::fromStdString(parsed.message));
        }
        return parsed.exitCode;
    }
    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(parsed.options);
    } catch (const StartError& error) {
        ShowStartError(QString("bxgrab-gui could not start.\n\n") + error.what());
        return 3;
    }
    window->show();
    return QApplication::exec();
}

}  // namespace bxgrab_gui
