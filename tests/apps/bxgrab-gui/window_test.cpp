// bxgrab-gui end to end: live video, the embedded and floated panel, the sub-window drawn on
// the view, snap and save read back by an independent reader, a grab with progress and abort,
// display limits, the settings file across a restart, and failures reaching the user in boxes.
#include "gui_fixture.h"

#include <bxmm/host.h>
#include <kvcam/kvcam_sim.h>

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

#include "run.h"
#include "shown_frames.h"

namespace gui_testing {
namespace {

// The frame number the small camera wrote into the view's newest frame.
std::optional<uint32_t> ShownNumber(const bx::view::TDesktopImageView& view) {
    const auto frame = view.LastFrame();
    if (!frame) return std::nullopt;
    return bxgrab::FrameNumberOf(frame->pixels.data(), frame->pixels.size(),
                                 bxgrab::NumberLayout{frame->type, {}});
}

bool Inside(const QWidget* widget, const QWidget* ancestor) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w == ancestor) return true;
    return false;
}

TEST_F(GuiTest, LiveVideoShowsFreshFramesAndItsRate) {
    Open();
    action(Command::Live)->trigger();
    ASSERT_TRUE(window().live());
    EXPECT_FALSE(action(Command::Snap)->isEnabled());  // one acquisition at a time
    ASSERT_TRUE(WaitFor([&] { return window().liveFrames() >= 5; }));
    ASSERT_TRUE(WaitFor([&] { return window().view()->FramesPainted() >= 2; }));
    // Painted frames are new camera frames, not one frame drawn again.
    const auto first = ShownNumber(*window().view());
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(WaitFor([&] {
        const auto now = ShownNumber(*window().view());
        return now && *now > *first;
    }));
    ASSERT_TRUE(WaitFor([&] { return window().liveLabel()->text().contains("fps"); }));
    EXPECT_GT(window().liveFramesPerSecond(), 0.0);
    Screenshot("live");

    action(Command::Live)->trigger();
    EXPECT_FALSE(window().live());
    EXPECT_FALSE(action(Command::Live)->isChecked());
    EXPECT_TRUE(action(Command::Snap)->isEnabled());
    EXPECT_TRUE(window().liveLabel()->text().startsWith("Live stopped"));
}

TEST_F(GuiTest, GainFromThePanelReachesTheCamera) {
    Open();
    bx::ui::TForm* form = PanelForm();
    ASSERT_NE(form, nullptr) << "no panel widget in the host area";
    auto* panel = form->Find<bx::ui::TControl>("Panel1");
    ASSERT_NE(panel, nullptr);
    QWidget* panelWidget = bx::ui::desktop::WidgetFor(panel);
    ASSERT_NE(panelWidget, nullptr);
    EXPECT_TRUE(Inside(panelWidget, window().panelArea()));
    EXPECT_TRUE(panelWidget->isVisible());
    QWidget* formWidget = bx::ui::desktop::WidgetFor(form);
    ASSERT_NE(formWidget, nullptr);
    EXPECT_FALSE(formWidget->isVisible());  // no empty form window beside the main window

    // The embedded layout leaves the gain group out; the model still takes the value.
    auto* gain = form->Find<bx::ui::TScrollBar>("hsb_Brightness");
    ASSERT_NE(gain, nullptr);
    gain->SetPosition(1234);
    EXPECT_EQ(control().GetLong("Gain"), 1234);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 1234);

    // Floated, the whole panel shows: the user moves the gain bar itself.
    action(Command::FloatPanel)->trigger();
    ASSERT_TRUE(window().panelFloating());
    auto* bar = qobject_cast<QScrollBar*>(bx::ui::desktop::WidgetFor(gain));
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
    EXPECT_FALSE(Inside(panelWidget, window().panelArea()));
    EXPECT_TRUE(formWidget->isVisible());
    bar->setValue(2000);
    EXPECT_EQ(control().GetLong("Gain"), 2000);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_GAIN), 2000);
    Screenshot("floating panel", formWidget);

    // And back into the window, by the action or by closing the panel's own window.
    action(Command::FloatPanel)->trigger();
    EXPECT_FALSE(window().panelFloating());
    EXPECT_TRUE(Inside(panelWidget, window().panelArea()));
    EXPECT_FALSE(formWidget->isVisible());
    action(Command::FloatPanel)->trigger();
    ASSERT_TRUE(WaitFor([&] { return formWidget->isVisible(); }));
    formWidget->close();
    ASSERT_TRUE(WaitFor([&] { return !window().panelFloating(); }));
    EXPECT_FALSE(action(Command::FloatPanel)->isChecked());
    EXPECT_TRUE(Inside(panelWidget, window().panelArea()));
}

TEST_F(GuiTest, RectangleDrawnOnTheViewBecomesTheSubWindow) {
    Open();
    SnapAndShow();
    bx::view::TDesktopImageView* view = window().view();
    QSignalSpy drawn(view, &bx::view::TDesktopImageView::RectangleDrawn);
    const QPoint from = view->ImageToWidget(QPointF(10.5, 8.5)).toPoint();
    const QPoint to = view->ImageToWidget(QPointF(73.5, 55.5)).toPoint();
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    ASSERT_EQ(drawn.count(), 1);
    const auto rect = drawn.at(0).at(0).value<bx::view::TRect>();
    ASSERT_EQ(rect.Left, 10);
    ASSERT_EQ(rect.Bottom, 55);
    // The pixel under the cursor is in the status bar.
    QTest::mouseMove(view, view->ImageToWidget(QPointF(20.5, 30.5)).toPoint());
    EXPECT_EQ(window().pixelLabel()->text(), "(20, 30): " + view->PixelValueText(20, 30));

    // "Sub Window" is on the full panel.
    auto* subWindow = PanelControl<bx::ui::TButton>("btn_Window");
    ASSERT_NE(subWindow, nullptr);
    action(Command::FloatPanel)->trigger();
    auto* button = qobject_cast<QPushButton*>(bx::ui::desktop::WidgetFor(subWindow));
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(WaitFor([&] { return button->isVisible(); }));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(control().GetBool("WindowedGrab"));
    Screenshot("floating panel", button->window());
    action(Command::FloatPanel)->trigger();

    SnapAndShow();
    const auto frame = view->LastFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->width, 64);
    EXPECT_EQ(frame->height, 48);
}

TEST_F(GuiTest, SnapSavesOmeTiffAndTiffThatAnotherReaderReads) {
    Open();
    SnapAndShow();
    LONG image = 0;
    ASSERT_EQ(control().ferro().GetImage(&image), S_OK);
    const auto handle = static_cast<MM_HANDLE>(image);
    const auto info = bx::mm::Describe(handle);
    ASSERT_TRUE(info.has_value());
    const std::vector<uint8_t> pixels = bx::mm::ReadFrame(handle, 0);
    ASSERT_FALSE(pixels.empty());
    const fs::path expected = dir_ / "expected.raw";
    std::ofstream(expected, std::ios::binary)
        .write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));

    QSignalSpy saved(&window(), &MainWindow::imageSaved);
    action(Command::SaveOmeTiff)->trigger();
    action(Command::SaveTiff)->trigger();
    ASSERT_EQ(saved.count(), 2);
    const QString ome = saved.at(0).at(0).toString();
    const QString tiff = saved.at(1).at(0).toString();
    EXPECT_TRUE(ome.endsWith(".ome.tif"));
    EXPECT_TRUE(tiff.endsWith(".tif") && !tiff.endsWith(".ome.tif"));

    for (const QString& path : {ome, tiff}) {
        QProcess check;
        check.start("/usr/bin/python3",
                    {BX_CHECK_SAVED_SCRIPT, path, QString::fromStdString(expected),
                     QString::number(info->size.d[0]), QString::number(info->size.d[1]),
                     QString::number(info->bytes_per_pixel),
                     QString::number(control().GetLong("BitDepth"))});
        ASSERT_TRUE(check.waitForFinished(60000));
        EXPECT_EQ(check.exitCode(), 0)
            << path.toStdString() << ": " << check.readAllStandardOutput().toStdString()
            << check.readAllStandardError().toStdString();
    }
}

TEST_F(GuiTest, GrabShowsProgressAndTheToolbarAbortsIt) {
    Open();
    // What the panel's Acquire page would set.
    control().PutLong("NumberOfFrames", 20);
    control().PutLong("FrameRate", 500);
    std::vector<long> progress;
    bool abortPosted = false;
    QObject::connect(&window(), &MainWindow::grabProgressed, [&](long frame, long frames) {
        EXPECT_EQ(frames, 20);
        progress.push_back(frame);
        // A click while Grab runs: it must reach the toolbar through the control's dispatch.
        if (frame >= 6 && !abortPosted) {
            abortPosted = true;
            QTimer::singleShot(0, action(Command::Abort), &QAction::trigger);
        }
    });
    QSignalSpy finished(&window(), &MainWindow::grabFinished);
    const uint64_t shownBefore = window().view()->FramesDelivered();
    action(Command::Grab)->trigger();  // returns when the grab is over

    ASSERT_EQ(finished.count(), 1);
    const long taken = finished.at(0).at(0).toLongLong();
    EXPECT_TRUE(finished.at(0).at(1).toBool());
    EXPECT_GE(taken, 6);
    EXPECT_LT(taken, 20);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GE(window().view()->FramesDelivered() - shownBefore, uint64_t(taken));  // shown as taken
    EXPECT_EQ(window().progressBar()->maximum(), 20);
    EXPECT_GE(window().progressBar()->value(), 6);
    EXPECT_TRUE(window().timeLabel()->text().startsWith("elapsed"))
        << window().timeLabel()->text().toStdString();
    EXPECT_TRUE(action(Command::Grab)->isEnabled());
    EXPECT_FALSE(action(Command::Abort)->isEnabled());
}

TEST_F(GuiTest, HistogramLimitsGoToTheControlAndTheView) {
    Open();
    SnapAndShow();
    bx::view::THistogramWidget* histogram = window().histogram();
    ASSERT_TRUE(WaitFor([&] { return histogram->Histogram().total > 0; }));
    histogram->AutoContrastAt(10, 90);
    double min = -1, max = -1;
    ASSERT_EQ(control().ferro().get_MapMin(&min), S_OK);
    ASSERT_EQ(control().ferro().get_MapMax(&max), S_OK);
    EXPECT_EQ(min, histogram->Lower());
    EXPECT_EQ(max, histogram->Upper());
    EXPECT_LT(min, max);
    // The view maps with the new range.
    EXPECT_TRUE(WaitFor([&] {
        const bx::view::THistogram shown = window().view()->Histogram();
        return shown.map_min == min && shown.map_max == max;
    }));
}

TEST_F(GuiTest, SettingsAreSavedAtExitAndLoadedAtStart) {
    Open();
    control().PutLong("ExposureTime", 12340);
    const long used = control().GetLong("ExposureTime");
    window_->close();
    window_.reset();
    ASSERT_TRUE(fs::is_regular_file(options_.settings));

    Open(0);
    EXPECT_EQ(control().GetLong("ExposureTime"), used);
}

TEST_F(GuiTest, ACameraFailureDuringASnapIsShownInABox) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0),
              KVCAM_OK);
    QSignalSpy snapped(&window(), &MainWindow::snapFinished);
    action(Command::Snap)->trigger();
    ASSERT_EQ(snapped.count(), 1);
    EXPECT_FALSE(snapped.at(0).at(0).toBool());
    KvCamSim_ClearFaults();
    // The control's own box (through the desktop backend), then the gui's with the error text.
    expectedBoxes_ = 2;
    ASSERT_EQ(boxes_.texts.size(), 2u) << ::testing::PrintToString(boxes_.texts);
    EXPECT_NE(boxes_.texts[0].find("KvCam_GrabFrame"), std::string::npos) << boxes_.texts[0];
    EXPECT_EQ(boxes_.texts[1].rfind("The snap failed. | Unable To Grab Frame", 0), 0u)
        << boxes_.texts[1];
}

TEST_F(GuiTest, StartFailuresAreShownInABox) {
    expectedBoxes_ = 2;
    EXPECT_EQ(bxgrab_gui::Run({"bxgrab-gui", "--camera", "/no/such/camera.ini", "--settings",
                               QString::fromStdString(options_.settings)}),
              3);
    EXPECT_EQ(bxgrab_gui::Run({"bxgrab-gui", "--no-such-option"}), 2);
    EXPECT_EQ(bxgrab_gui::Run({"bxgrab-gui", "--version"}), 0);  // printed, no box
    ASSERT_EQ(boxes_.texts.size(), 2u);
    EXPECT_NE(boxes_.texts[0].find("/no/such/camera.ini"), std::string::npos) << boxes_.texts[0];
    EXPECT_NE(boxes_.texts[1].find("no-such-option"), std::string::npos) << boxes_.texts[1];
}

}  // namespace
}  // namespace gui_testing
