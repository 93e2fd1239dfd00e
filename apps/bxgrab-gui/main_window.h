// bxgrab-gui's window: the desktop image view in the middle with its histogram below, the
// control's settings panel embedded on the right (IBXCameraInterface::EmbedPanel into a host
// widget the toolkit knows as a window handle), and the acquisition on the toolbar: live video,
// snap, a timed grab (frames and interval as the control's NumberOfFrames and FrameRate hold
// them), abort, the host's own auto-exposure pass and saving as OME-TIFF or TIFF. The status
// bar shows live video's frame rate, the grab's progress and times, and the pixel under the
// cursor. Display limits set on the histogram go to the control as MapMin / MapMax.
//
// The control's Snap and Grab run on this thread and return when done; while they run the
// control dispatches the message queue, and with it Qt's events, so Abort stays live. Live
// video runs on the control's thread: its frame event only counts and, during auto-exposure,
// posts one measuring call at a time back here.
//
// Thread rule: GUI thread, except the live frame handler (any thread, atomics only).
#pragma once

// The COM headers come before Qt's, whose `slots` keyword would break them.
#include "auto_exposure.h"
#include "options.h"
#include "session.h"

#include <QMainWindow>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QDockWidget;
class QLabel;
class QProgressBar;
class QTimer;

namespace bx::view {
class TDesktopImageView;
class THistogramWidget;
}  // namespace bx::view

namespace bxgrab_gui {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum class Command { Live, Snap, Grab, Abort, AutoExpose, SaveOmeTiff, SaveTiff, FloatPanel };

    // Creates the control and embeds its panel; throws StartError. The toolkit's desktop
    // backend must be installed.
    explicit MainWindow(const GuiOptions& options, QWidget* parent = nullptr);
    ~MainWindow() override;

    QAction* action(Command command) const;
    bx::view::TDesktopImageView* view() const { return view_; }
    bx::view::THistogramWidget* histogram() const { return histogram_; }
    // The host widget the panel is embedded in.
    QWidget* panelArea() const { return panelArea_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* liveLabel() const { return liveLabel_; }
    QLabel* timeLabel() const { return timeLabel_; }
    QLabel* pixelLabel() const { return pixelLabel_; }
    bxgrab::Control& control() { return session_->control(); }

    bool live() const { return live_; }
    bool grabbing() const { return grabbing_; }
    bool autoExposing() const { return autoExposure_.has_value(); }
    bool panelFloating() const { return floating_; }
    // Frames live video showed since it last started. Any thread.
    uint64_t liveFrames() const { return liveFrames_.load(); }
    double liveFramesPerSecond() const { return fps_; }

    // Stops what runs, takes the panel back from the window and saves the settings; false
    // (and nothing done) while a grab runs, which it asks to abort instead. Shows a box when
    // the settings cannot be saved.
    bool Shutdown();

signals:
    void grabProgressed(long frame, long frames);
    void grabFinished(long frames, bool aborted);
    void snapFinished(bool ok);
    void imageSaved(const QString& path);
    void autoExposureFinished(const QString& outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildActions();
    void BuildStatusBar();
    void BuildTimers();
    void ConnectView();  // pixel readout, histogram and display limits
    void ConnectEvents();
    void UpdateActions();
    bool Busy() const { return grabbing_ || snapping_; }

    void SetLive(bool on);
    void Snap();
    void Grab();
    void Abort();
    void StartAutoExposure();
    void AutoExposureFrame();
    void FinishAutoExposure(const QString& outcome, bool failed = false);
    void Save(bool ome);
    void SetFloating(bool floating);
    void EmbedPanel();
    void ApplyLimits(double lower, double upper);
    void ShowRates();
    void ShowTimes();
    void OnProcessUpdate();

    // Runs `f`, showing a failing control call as a box headed `what`.
    template <class F>
    void Guarded(const QString& what, F&& f);
    void ShowError(const QString& what, const QString& detail);

    std::string saveDir_;
    bx::view::TDesktopImageView* view_ = nullptr;
    bx::view::THistogramWidget* histogram_ = nullptr;
    QWidget* panelArea_ = nullptr;
    QDockWidget* panelDock_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* liveLabel_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QLabel* pixelLabel_ = nullptr;
    QTimer* rateTimer_ = nullptr;
    QTimer* autoWatch_ = nullptr;
    QTimer* panelWatch_ = nullptr;  // a floated panel whose window the user closed
    std::unique_ptr<Session> session_;

    bool live_ = false;
    bool snapping_ = false;
    bool grabbing_ = false;
    bool abortRequested_ = false;
    bool closePending_ = false;
    bool floating_ = false;
    bool shutDown_ = false;
    long grabFrames_ = 0;
    std::optional<std::chrono::system_clock::time_point> acquired_;

    std::atomic<uint64_t> liveFrames_{0};
    uint64_t rateFrames_ = 0;
    std::chrono::steady_clock::time_point rateAt_;
    double fps_ = 0.0;

    // Auto-exposure: the pass, the frame sequence after which the next measurement counts,
    // and whether it started live video itself.
    std::optional<AutoExposure> autoExposure_;
    uint64_t autoAfter_ = 0;
    bool autoStartedLive_ = false;
    std::chrono::steady_clock::time_point autoLastFrame_;
    std::atomic<bool> autoWanted_{false};
    std::atomic<bool> autoPosted_{false};
};

}  // namespace bxgrab_gui
