// The gui tests' fixture: a fresh folder per test (registry file, settings, camera
// description, saved images, screenshots), the window opened on a small simulated camera, and
// a watcher that answers every message box and keeps its text, so a box nobody expected fails
// the test instead of hanging it.
#pragma once

#include "main_window.h"  // first: its COM headers go before Qt's

#include <bxplatform/ui_controls.h>
#include <bxplatform/ui_desktop.h>
#include <bxview/desktop_view.h>
#include <gtest/gtest.h>
#include <kvcam/kvcam.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gui_testing {

namespace fs = std::filesystem;
using bxgrab_gui::MainWindow;
using Command = MainWindow::Command;

// A small camera writing its frame number into each frame, so frames prove they are fresh.
inline constexpr const char* kSmallCamera =
    "[sensor]\nwidth = 128\nheight = 96\nframe_counter = yes\n";

// Processes events until `done` holds or `ms` pass; the result is `done()`.
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QTest::qWait(5);
    }
    return true;
}

// Answers every message box shown, keeping "text | informative text" and, with a folder, a
// screenshot of each box.
class BoxWatcher {
public:
    BoxWatcher() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start();
    }
    std::vector<std::string> texts;
    fs::path folder;

private:
    void Answer() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            texts.push_back((box->text() + " | " + box->informativeText()).toStdString());
            if (!folder.empty())
                box->grab().save(QString::fromStdString(
                    (folder / ("box " + std::to_string(texts.size()) + ".png")).string()));
            box->done(box->defaultButton() ? box->standardButton(box->defaultButton())
                                           : QMessageBox::Ok);
        }
    }
    QTimer timer_;
};

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(BX_GUI_TEST_OUTPUT) /
               (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        boxes_.folder = dir_;
        // Each test runs in a process of its own; the module registers in this file.
        ::setenv("BX_REGISTRY_FILE", (dir_ / "classes.reg").c_str(), 1);
        std::ofstream(dir_ / "camera.ini") << kSmallCamera;
        options_.settings = (dir_ / "config" / "settings.ini").string();
        options_.camera = (dir_ / "camera.ini").string();
        options_.create.module = BX_PLUGIN_MODULE;
        options_.saveDir = dir_.string();
    }

    void TearDown() override {
        if (window_) {
            Screenshot("window");
            window_->close();
            window_.reset();
        }
        EXPECT_EQ(boxes_.texts.size(), expectedBoxes_)
            << "message boxes: " << ::testing::PrintToString(boxes_.texts);
    }

    // Opens the window; a non-zero `exposureUs` replaces the control's factory exposure (a
    // few microseconds: black frames) as a user would on the panel.
    void Open(long exposureUs = 20000) {
        window_ = std::make_unique<MainWindow>(options_);
        window_->resize(1100, 720);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        if (exposureUs != 0) control().PutLong("ExposureTime", exposureUs);
    }

    void Screenshot(const std::string& name, QWidget* widget = nullptr) {
        QWidget* w = widget ? widget : window_.get();
        EXPECT_TRUE(w->grab().save(QString::fromStdString((dir_ / (name + ".png")).string())));
    }

    MainWindow& window() { return *window_; }
    bxgrab::Control& control() { return window_->control(); }
    QAction* action(Command c) { return window_->action(c); }

    // The control's form, reached from the panel's widgets in the host area.
    bx::ui::TForm* PanelForm() {
        for (QWidget* w : window_->panelArea()->findChildren<QWidget*>())
            if (bx::ui::TControl* c = bx::ui::FindControl(bx::ui::desktop::HandleOf(w)))
                return c->Form();
        return nullptr;
    }
    template <class T>
    T* PanelControl(const char* name) {
        bx::ui::TForm* form = PanelForm();
        return form ? form->Find<T>(name) : nullptr;
    }

    // Snaps and waits until the view has painted the new frame.
    void SnapAndShow() {
        const uint64_t before = window_->view()->FramesPainted();
        action(Command::Snap)->trigger();
        ASSERT_TRUE(WaitFor([&] { return window_->view()->FramesPainted() > before; }));
    }

    // What the open simulated camera holds for `param` (its settings block).
    static std::optional<int32_t> CameraParam(uint32_t param) {
        for (KvCamHandle handle = 1; handle <= 64; ++handle) {
            KvCamSettings settings{};
            settings.size = KVCAM_SETTINGS_SIZE;
            if (KvCam_ReadSettingsFromCam(handle, &settings) != KVCAM_OK) continue;
            int32_t value = 0;
            if (KvCam_GetParam(&settings, param, &value) == KVCAM_OK) return value;
        }
        return std::nullopt;
    }

    fs::path dir_;
    bxgrab_gui::GuiOptions options_;
    BoxWatcher boxes_;
    size_t expectedBoxes_ = 0;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace gui_testing
