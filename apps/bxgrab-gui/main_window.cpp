#include "main_window.h"  // first: its COM headers go before Qt's

#include <bxcamera/interfaces.h>
#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/ui_desktop.h>
#include <bxview/desktop_view.h>

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <filesystem>

#include "shown_frames.h"

namespace bxgrab_gui {

namespace fs = std::filesystem;
using bxgrab::Control;
using bxgrab::ControlError;
using Clock = std::chrono::steady_clock;

namespace {

// The host widget's size: the panel's compact layout fits with the margins EmbedPanel leaves.
constexpr int kPanelWidth = 370;
constexpr int kPanelHeight = 480;
// Auto-exposure gives up when no frame arrives for this long (real time) beyond the exposure.
constexpr auto kAutoFrameGrace = std::chrono::seconds(5);

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The first free "bxgrab-NNNN<suffix>" in `dir`.
std::string NextFreeName(const std::string& dir, const std::string& suffix) {
    for (int n = 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "bxgrab-%04d", n);
        const fs::path path = fs::path(dir) / (name + suffix);
        std::error_code ec;
        if (!fs::exists(path, ec)) return path.string();
    }
}

bool EndsWith(const QString& text, const QString& suffix) {
    return text.endsWith(suffix, Qt::CaseInsensitive);
}

}  // namespace

template <class F>
void MainWindow::Guarded(const QString& what, F&& f) {
    try {
        f();
    } catch (const ControlError& error) {
        ShowError(what, error.what());
    }
}

MainWindow::MainWindow(const GuiOptions& options, QWidget* parent)
    : QMainWindow(parent), saveDir_(options.saveDir) {
    setWindowTitle("bxgrab-gui");
    view_ = new bx::view::TDesktopImageView(this);
    view_->setMinimumSize(320, 240);
    setCentralWidget(view_);

    histogram_ = new bx::view::THistogramWidget;
    auto* histogramDock = new QDockWidget("Histogram", this);
    histogramDock->setObjectName("histogramDock");
    histogramDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    histogramDock->setWidget(histogram_);
    addDockWidget(Qt::BottomDockWidgetArea, histogramDock);

    panelArea_ = new QWidget;
    panelArea_->setObjectName("panelArea");
    panelArea_->setFixedSize(kPanelWidth, kPanelHeight);
    panelDock_ = new QDockWidget("Camera", this);
    panelDock_->setObjectName("panelDock");
    panelDock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
    panelDock_->setWidget(panelArea_);
    addDockWidget(Qt::RightDockWidgetArea, panelDock_);

    BuildActions();
    BuildStatusBar();
    BuildTimers();
    ConnectView();

    session_ = std::make_unique<Session>(options, view_);
    ConnectEvents();
    try {
        EmbedPanel();
    } catch (const ControlError& error) {
        throw StartError(error.what());
    }
    UpdateActions();
}

MainWindow::~MainWindow() {
    if (!shutDown_) {
        // Closed without closeEvent (deleted directly): stop without asking anything.
        autoWanted_ = false;
        if (live_ && session_) session_->control().ferro().DisableLiveVideo();
    }
    if (session_) session_->events().ClearHandlers();
    session_.reset();  // before the view, which the control draws into
}

// ---- Building -----------------------------------------------------------------------------------

void MainWindow::BuildActions() {
    QToolBar* bar = addToolBar("Acquisition");
    bar->setObjectName("acquisitionBar");
    bar->setMovable(false);
    auto add = [&](const char* name, const QString& text, const QString& tip) {
        QAction* a = bar->addAction(text);
        a->setObjectName(name);
        a->setToolTip(tip);
        return a;
    };
    QAction* liveAction = add("live", "Live", "Start or stop live video");
    liveAction->setCheckable(true);
    connect(liveAction, &QAction::toggled, this, [this](bool on) { SetLive(on); });
    connect(add("snap", "Snap", "Take one image"), &QAction::triggered, this, [this] { Snap(); });
    connect(add("grab", "Grab", "Take the sequence the panel sets (frames and interval)"),
            &QAction::triggered, this, [this] { Grab(); });
    connect(add("abort", "Abort", "Stop the grab or the auto-exposure pass"), &QAction::triggered,
            this, [this] { Abort(); });
    bar->addSeparator();
    connect(add("autoExpose", "Auto-expose",
                "Set the exposure so the brightest pixel is at half of full scale"),
            &QAction::triggered, this, [this] { StartAutoExposure(); });
    bar->addAction(histogram_->AutoContrastAction());
    bar->addSeparator();
    connect(add("saveOmeTiff", "Save OME-TIFF", "Save the last snap or grab as OME-TIFF"),
            &QAction::triggered, this, [this] { Save(true); });
    connect(add("saveTiff", "Save TIFF", "Save the last snap or grab as TIFF"), &QAction::triggered,
            this, [this] { Save(false); });
    bar->addSeparator();
    QAction* floatAction =
        add("floatPanel", "Float panel", "Show the camera panel in its own window");
    floatAction->setCheckable(true);
    connect(floatAction, &QAction::toggled, this, [this](bool on) { SetFloating(on); });
}

QAction* MainWindow::action(Command command) const {
    static const char* const kNames[] = {"live",       "snap",        "grab",     "abort",
                                         "autoExpose", "saveOmeTiff", "saveTiff", "floatPanel"};
    return findChild<QAction*>(kNames[static_cast<int>(command)]);
}

void MainWindow::BuildStatusBar() {
    liveLabel_ = new QLabel;
    timeLabel_ = new QLabel;
    pixelLabel_ = new QLabel;
    pixelLabel_->setMinimumWidth(160);
    progress_ = new QProgressBar;
    progress_->setMaximumWidth(200);
    progress_->setFormat("%v / %m");
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setTextVisible(false);  // until a grab gives it a count
    statusBar()->addPermanentWidget(liveLabel_);
    statusBar()->addPermanentWidget(timeLabel_);
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(pixelLabel_);
}

void MainWindow::BuildTimers() {
    rateTimer_ = new QTimer(this);
    rateTimer_->setInterval(500);
    connect(rateTimer_, &QTimer::timeout, this, [this] { ShowRates(); });
    // The user may close the floated panel's own window: the panel then comes back here.
    panelWatch_ = new QTimer(this);
    panelWatch_->setInterval(300);
    connect(panelWatch_, &QTimer::timeout, this, [this] {
        if (!floating_ || Busy()) return;
        bool shown = true;
        try {
            shown = control().GetBool("Visible");
        } catch (const ControlError&) {
        }
        if (!shown) SetFloating(false);
    });
    panelWatch_->start();
    autoWatch_ = new QTimer(this);
    autoWatch_->setInterval(250);
    connect(autoWatch_, &QTimer::timeout, this, [this] {
        if (!autoExposure_) return;
        long exposureUs = 0;
        try {
            exposureUs = control().GetLong("ExposureTime");
        } catch (const ControlError&) {
        }
        if (Clock::now() - autoLastFrame_ > kAutoFrameGrace + std::chrono::microseconds(exposureUs))
            FinishAutoExposure("Auto-exposure made no progress: no frame was shown.", true);
    });
}

void MainWindow::ConnectView() {
    connect(view_, &bx::view::TDesktopImageView::PixelHovered, this,
            [this](int x, int y, const QString& value) {
                pixelLabel_->setText(x < 0 ? QString()
                                           : QString("(%1, %2): %3").arg(x).arg(y).arg(value));
            });
    connect(view_, &bx::view::TDesktopImageView::HistogramChanged, histogram_,
            &bx::view::THistogramWidget::SetHistogram);
    connect(histogram_, &bx::view::THistogramWidget::LimitsChanged, this,
            [this](double lower, double upper) { ApplyLimits(lower, upper); });
}

void MainWindow::ConnectEvents() {
    bxgrab::ControlEvents& events = session_->events();
    // Live thread: count, and during auto-exposure hand one frame at a time to the GUI thread.
    events.Set("OnLiveFrameUpdate", [this] {
        liveFrames_.fetch_add(1);
        if (autoWanted_.load() && !autoPosted_.exchange(true))
            QMetaObject::invokeMethod(
                this,
                [this] {
                    autoPosted_ = false;
                    AutoExposureFrame();
                },
                Qt::QueuedConnection);
    });
    // Grab events come on this thread while Grab runs.
    events.Set("OnProcessUpdate", [this] { OnProcessUpdate(); });
    for (const char* name :
         {"OnTimeElapsedUpdate", "OnTimeRemainingUpdate", "OnTimeToNextFrameUpdate"})
        events.Set(name, [this] { ShowTimes(); });
}

void MainWindow::UpdateActions() {
    const bool idle = !Busy();
    action(Command::Live)->setEnabled(idle);
    action(Command::Snap)->setEnabled(idle && !live_);
    action(Command::Grab)->setEnabled(idle && !live_);
    action(Command::Abort)->setEnabled(grabbing_ || autoExposure_.has_value());
    action(Command::AutoExpose)->setEnabled(idle && !autoExposure_);
    action(Command::SaveOmeTiff)->setEnabled(idle && !live_);
    action(Command::SaveTiff)->setEnabled(idle && !live_);
    action(Command::FloatPanel)->setEnabled(idle);
}

void MainWindow::ShowError(const QString& what, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, "bxgrab-gui", what, QMessageBox::Ok, this);
    box.setInformativeText(detail);
    box.exec();
}

// ---- The panel ----------------------------------------------------------------------------------

void MainWindow::EmbedPanel() {
    auto common = bx::com::QueryAs<IBXCameraInterface>(control().unknown());
    const bx::ui::HWND host = bx::ui::desktop::HostWindow(panelArea_);
    if (!common || host == 0) {
        ShowError("The camera panel cannot be shown here.",
                  "The control has no common camera interface, or the desktop is not ready.");
        return;
    }
    Control::Check(common->EmbedPanel(static_cast<LONG>(host), 0, 0, panelArea_->width(),
                                      panelArea_->height()),
                   "Embedding the camera panel");
    // Embedding shows the control's form as well; only its panel belongs in this window.
    Control::Check(control().ferro().HideConfiguration(), "Embedding the camera panel");
}

void MainWindow::SetFloating(bool floating) {
    if (floating == floating_) return;
    Guarded("The camera panel could not be moved.", [&] {
        auto common = bx::com::QueryAs<IBXCameraInterface>(control().unknown());
        if (floating) {
            if (common) Control::Check(common->RestorePanel(), "Taking the panel back");
            Control::Check(control().ferro().ShowConfiguration(), "Showing the panel");
            panelDock_->hide();
        } else {
            Control::Check(control().ferro().HideConfiguration(), "Hiding the panel");
            panelDock_->show();
            EmbedPanel();
        }
        floating_ = floating;
    });
    QAction* a = action(Command::FloatPanel);
    const QSignalBlocker blocker(a);
    a->setChecked(floating_);
}

// ---- Live video and auto-exposure ---------------------------------------------------------------

void MainWindow::SetLive(bool on) {
    if (on != live_) {
        if (on) {
            liveFrames_ = 0;
            rateFrames_ = 0;
            rateAt_ = Clock::now();
            fps_ = 0;
            const HRESULT hr = control().ferro().EnableLiveVideo();
            if (FAILED(hr)) {
                ShowError("Live video could not start.", Text(bxgrab::ErrorText(hr)));
            } else {
                live_ = true;
                liveLabel_->setText("Live: starting");
                rateTimer_->start();
            }
        } else {
            if (autoExposure_) {
                autoStartedLive_ = false;  // stopped here, not by the pass
                FinishAutoExposure("Auto-exposure stopped with live video.");
            }
            control().ferro().DisableLiveVideo();
            live_ = false;
            rateTimer_->stop();
            ShowRates();
            liveLabel_->setText(QString("Live stopped: %1 frames").arg(liveFrames_.load()));
        }
    }
    QAction* a = action(Command::Live);
    const QSignalBlocker blocker(a);
    a->setChecked(live_);
    UpdateActions();
}

void MainWindow::ShowRates() {
    const auto now = Clock::now();
    const uint64_t frames = liveFrames_.load();
    const double seconds = std::chrono::duration<double>(now - rateAt_).count();
    if (seconds > 0) fps_ = double(frames - rateFrames_) / seconds;
    rateFrames_ = frames;
    rateAt_ = now;
    if (live_)
        liveLabel_->setText(QString("Live: %1 frames, %2 fps").arg(frames).arg(fps_, 0, 'f', 1));
}

void MainWindow::StartAutoExposure() {
    if (autoExposure_ || Busy()) return;
    autoStartedLive_ = !live_;
    if (!live_) SetLive(true);
    if (!live_) return;
    autoExposure_.emplace(50);
    autoAfter_ = view_->FrameSequence();
    autoLastFrame_ = Clock::now();
    autoWanted_ = true;
    autoWatch_->start();
    statusBar()->showMessage("Auto-exposure: measuring");
    UpdateActions();
}

void MainWindow::AutoExposureFrame() {
    if (!autoExposure_ || view_->FrameSequence() <= autoAfter_) return;
    const auto frame = view_->LastFrame();
    if (!frame || frame->pixels.empty()) return;
    autoLastFrame_ = Clock::now();
    Guarded("Auto-exposure failed.", [&] {
        Control& c = control();
        const uint32_t brightest =
            bxgrab::BrightestPixel(frame->pixels.data(), frame->pixels.size(), frame->type,
                                   frame->width, frame->height, true);
        const long exposure = c.GetLong("ExposureTime");
        const AutoExposure::Step step = autoExposure_->Measured(
            brightest, FullScale(frame->type, c.GetLong("BitDepth")), exposure);
        const QString after = QString(" at %1 us after %2 frames");
        switch (step.outcome) {
            case AutoExposure::Outcome::SetExposure:
                c.PutLong("ExposureTime", step.next_us);
                if (c.GetLong("ExposureTime") == exposure) {
                    FinishAutoExposure("Auto-exposure: at the camera's limit" +
                                       after.arg(exposure).arg(autoExposure_->steps()));
                    return;
                }
                // The frame in flight may still have the old exposure: measure the one after.
                autoAfter_ = view_->FrameSequence() + 1;
                statusBar()->showMessage(
                    QString("Auto-exposure: trying %1 us").arg(c.GetLong("ExposureTime")));
                return;
            case AutoExposure::Outcome::Settled:
                FinishAutoExposure("Auto-exposure: settled" +
                                   after.arg(exposure).arg(autoExposure_->steps()));
                return;
            case AutoExposure::Outcome::AtLimit:
                FinishAutoExposure("Auto-exposure: at its limit" +
                                   after.arg(exposure).arg(autoExposure_->steps()));
                return;
            case AutoExposure::Outcome::TooManySteps:
                FinishAutoExposure("Auto-exposure: did not settle" +
                                   after.arg(exposure).arg(autoExposure_->steps()));
                return;
        }
    });
}

void MainWindow::FinishAutoExposure(const QString& outcome, bool failed) {
    if (!autoExposure_) return;
    autoWanted_ = false;
    autoExposure_.reset();
    autoWatch_->stop();
    if (autoStartedLive_ && live_) SetLive(false);
    autoStartedLive_ = false;
    statusBar()->showMessage(outcome);
    UpdateActions();
    emit autoExposureFinished(outcome);
    if (failed) ShowError("Auto-exposure failed.", outcome);
}

// ---- Snap and grab ----------------------------------------------------------------------------

void MainWindow::Snap() {
    if (Busy() || live_) return;
    snapping_ = true;
    UpdateActions();
    acquired_ = std::chrono::system_clock::now();
    const HRESULT hr = control().ferro().Snap();
    snapping_ = false;
    UpdateActions();
    if (FAILED(hr)) {
        ShowError("The snap failed.", Text(bxgrab::ErrorText(hr)));
    } else {
        Guarded("The snap failed.", [&] {
            statusBar()->showMessage(QString("Snap: %1 x %2")
                                         .arg(control().GetLong("GrabWindowWidth"))
                                         .arg(control().GetLong("GrabWindowHeight")));
        });
    }
    emit snapFinished(SUCCEEDED(hr));
    if (closePending_) close();
}

void MainWindow::OnProcessUpdate() {
    if (!grabbing_ || QThread::currentThread() != thread()) return;
    Guarded("The grab's progress could not be read.", [&] {
        Control& c = control();
        // Grab clears Abort as it begins; an abort asked for before then still holds.
        if (abortRequested_ && !c.GetBool("Abort")) c.PutBool("Abort", true);
        const long p = c.GetLong("GrabProgress");
        if (p == 0 && !acquired_) acquired_ = std::chrono::system_clock::now();
        progress_->setValue(static_cast<int>(std::clamp(p, 0L, grabFrames_)));
        if (p == -2) statusBar()->showMessage("Grab: waiting for the trigger");
        emit grabProgressed(p, grabFrames_);
    });
}

void MainWindow::ShowTimes() {
    if (!grabbing_ || QThread::currentThread() != thread()) return;
    Guarded("The grab's times could not be read.", [&] {
        Control& c = control();
        timeLabel_->setText(QString("elapsed %1 s, remaining %2 s, next frame in %3 s")
                                .arg(c.GetLong("TimeElapsed"))
                                .arg(c.GetLong("TimeRemaining"))
                                .arg(c.GetLong("TimeToNextFrame")));
    });
}

void MainWindow::Grab() {
    if (Busy() || live_) return;
    long frames = 0, interval = 0;
    try {
        frames = control().GetLong("NumberOfFrames");
        interval = control().GetLong("FrameRate");
    } catch (const ControlError& error) {
        ShowError("The grab could not start.", error.what());
        return;
    }
    grabbing_ = true;
    abortRequested_ = false;
    grabFrames_ = std::max(frames, 1L);
    acquired_.reset();
    progress_->setRange(0, static_cast<int>(grabFrames_));
    progress_->setValue(0);
    progress_->setTextVisible(true);
    timeLabel_->clear();
    statusBar()->showMessage(QString("Grab: %1 frames, one every %2 ms").arg(frames).arg(interval));
    UpdateActions();
    const HRESULT hr = control().ferro().Grab();
    const std::string failure = FAILED(hr) ? bxgrab::ErrorText(hr) : std::string();
    grabbing_ = false;
    UpdateActions();
    // After a failure too: the frames before it are still the image's.
    long taken = 0;
    LONG image = 0;
    if (SUCCEEDED(control().ferro().GetImage(&image)) && MM_IsValidImageHandle(image)) {
        if (const auto info = bx::mm::Describe(static_cast<MM_HANDLE>(image)))
            taken = static_cast<long>(info->frames);
    } else {
        SetErrorInfo(0, nullptr);  // "no image" is no news after the grab's own failure
    }
    if (!acquired_) acquired_ = std::chrono::system_clock::now();
    statusBar()->showMessage(QString("Grab: %1 of %2 frames%3")
                                 .arg(taken)
                                 .arg(frames)
                                 .arg(abortRequested_ ? " (aborted)" : ""));
    if (!failure.empty() && !abortRequested_)
        ShowError(QString("The grab failed after %1 of %2 frames.").arg(taken).arg(frames),
                  Text(failure));
    emit grabFinished(taken, abortRequested_);
    if (closePending_) close();
}

void MainWindow::Abort() {
    if (grabbing_) {
        abortRequested_ = true;
        Guarded("The grab could not be aborted.", [&] { control().PutBool("Abort", true); });
    }
    if (autoExposure_) FinishAutoExposure("Auto-exposure stopped.");
}

// ---- Saving and display -----------------------------------------------------------------------

void MainWindow::Save(bool ome) {
    if (Busy() || live_) return;
    LONG image = 0;
    const HRESULT hr = control().ferro().GetImage(&image);
    if (FAILED(hr) || !MM_IsValidImageHandle(image)) {
        ShowError("There is no image to save yet: snap or grab one first.",
                  FAILED(hr) ? Text(bxgrab::ErrorText(hr)) : QString());
        return;
    }
    const std::string suffix = ome ? ".ome.tif" : ".tif";
    std::string path;
    if (!saveDir_.empty()) {
        path = NextFreeName(saveDir_, suffix);
    } else {
        QString chosen = QFileDialog::getSaveFileName(
            this, ome ? "Save as OME-TIFF" : "Save as TIFF", QString(),
            ome ? "OME-TIFF (*.ome.tif *.ome.tiff)" : "TIFF (*.tif *.tiff)");
        if (chosen.isEmpty()) return;
        const bool named = ome ? IsOmeTiffName(chosen.toStdString())
                               : EndsWith(chosen, ".tif") || EndsWith(chosen, ".tiff");
        if (!named) chosen += Text(suffix);
        path = chosen.toStdString();
    }
    const auto handle = static_cast<MM_HANDLE>(image);
    Guarded("The image could not be saved.", [&] {
        const bx::mm::SaveOptions options = AcquisitionSaveOptions(
            control(), handle, acquired_.value_or(std::chrono::system_clock::now()));
        const auto saved = ome ? bx::mm::SaveOmeTiff(handle, path, options)
                               : bx::mm::SaveTiff(handle, path, options);
        if (!saved) {
            ShowError("Could not save " + Text(path), Text(saved.error));
            return;
        }
        statusBar()->showMessage("Saved " + Text(path));
        emit imageSaved(Text(path));
    });
}

void MainWindow::ApplyLimits(double lower, double upper) {
    Guarded("The display limits could not be set.", [&] {
        Control& c = control();
        // Each limit must stay on its side of the other as it moves.
        double max = 0;
        Control::Check(c.ferro().get_MapMax(&max), "MapMax");
        const bool raising = lower > max;
        if (raising) c.Put("MapMax", bx::com::Variant(upper));
        c.Put("MapMin", bx::com::Variant(lower));
        if (!raising) c.Put("MapMax", bx::com::Variant(upper));
    });
    // The control maps live frames and later acquisitions with them; the image already shown
    // keeps the range it was stored with until the host, who owns the view, sets it too.
    if (const MM_HANDLE shown = view_->ShownImage(); MM_IsValidImageHandle(shown)) {
        MM_SetMapMin(shown, lower);
        MM_SetMapMax(shown, upper);
    }
    view_->Refresh();
}

// ---- Ending -------------------------------------------------------------------------------------

bool MainWindow::Shutdown() {
    if (shutDown_) return true;
    if (grabbing_ || snapping_) {
        closePending_ = true;
        Abort();
        return false;
    }
    if (autoExposure_) FinishAutoExposure("Auto-exposure stopped.");
    if (live_) SetLive(false);
    auto common = bx::com::QueryAs<IBXCameraInterface>(control().unknown());
    if (floating_)
        control().ferro().HideConfiguration();
    else if (common)
        common->RestorePanel();
    shutDown_ = true;
    const std::string failure = session_->SaveSettings();
    if (!failure.empty())
        ShowError("The settings could not be saved to " + Text(session_->settingsPath()),
                  Text(failure));
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (Shutdown())
        event->accept();
    else
        event->ignore();
}

}  // namespace bxgrab_gui
