// The desktop image view (Qt 6 Widgets, library bx_view_desktop): a widget that shows the
// store image a control draws into, and a histogram widget on which the user sets the display
// limits.
//
// TDesktopImageView is a QWidget and a TBXImageView at once: a host puts it in its window and
// registers it (ImageViewRegistration) for the control. It builds on the headless view's frame
// copying, so the frame copies, their sequence numbers and the call record work as documented
// in headless_view.h; what it adds is painting:
//
//   - the newest copied frame is mapped through the image's display range and LUT, read from
//     the store when the frame is drawn (RenderFrame), and drawn zoomed to fit (the default),
//     at 1:1 or at a free scale (mouse wheel about the cursor, middle button to pan), always
//     keeping the image's aspect;
//   - the left mouse button draws one rectangle (press, drag, release), which becomes overlay
//     object 0 in image pixels, replacing any earlier object; a click without a drag removes
//     it. Overlay object 0 is drawn as an outline, whoever placed it;
//   - the pixel under the cursor is reported with PixelHovered;
//   - the histogram of the shown frame, or of overlay object 0's rectangle when there is one,
//     is reported with HistogramChanged (connect it to THistogramWidget::SetHistogram).
//
// Display limits set on the histogram widget are only reported (LimitsChanged): the host
// writes them through the control (MapMin / MapMax), which updates the store's display range,
// and then calls Refresh so the view maps the frame again with the new range.
//
// Live frames: the copying calls (SetMMImage, SetMMBits, SetMMVector) may come from any
// thread and never wait for the GUI thread. Each copies its frame and, unless a request is
// already waiting, posts one repaint request to the GUI thread; a paint draws the newest frame
// copied by then, so frames that arrive faster than the screen is painted are skipped, and a
// frame already painted is never counted again. FramesPainted / FramesDelivered is the share
// of delivered frames that reached the screen.
//
// The histogram is computed when a frame is painted only while something is connected to
// HistogramChanged (or when Histogram is called), so a view without one costs nothing extra.
//
// Thread rule: the TBXImageView calls and the counters are thread-safe; everything else
// belongs to the GUI thread. The copying calls post to the widget, so they must have ended
// (the live thread stopped, the registration released) before the widget is destroyed.
#pragma once

#include <QAction>
#include <QImage>
#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "bxview/headless_view.h"

namespace bx::view {

// Counts of the pixel values of a frame or a region of it: every pixel of a grey image, every
// channel value of a colour image.
struct THistogram {
    double first = 0.0;      // lower edge of bin 0
    double bin_width = 1.0;  // 1 when each bin holds one integer value (first + index)
    std::vector<uint64_t> counts;
    uint64_t total = 0;
    // The image's display range when the histogram was made.
    double map_min = 0.0;
    double map_max = 0.0;

    // The lower edge of the first bin at which at least `percent` % of all values (at least
    // one) are counted; with one value per bin, the smallest value v such that `percent` % of
    // the values are <= v. 0 when the histogram is empty.
    double Percentile(double percent) const;
    // The values covered: from `first` to the upper edge of the last bin.
    double Last() const { return first + bin_width * double(counts.size()); }
};

// The histogram of `frame` inside `region` (image pixels, inclusive, clamped to the frame),
// or of the whole frame without one. Integer data spanning at most 65536 values gets one bin
// per value; a wider span is split into 65536 equal bins.
THistogram MakeHistogram(const THeadlessImageView::Frame& frame, const std::optional<TRect>& region,
                         double map_min, double map_max);

class TDesktopImageView : public QWidget, public THeadlessImageView {
    Q_OBJECT

public:
    enum class ZoomMode {
        Fit,     // the whole image, as large as the widget allows (the default)
        Actual,  // one screen pixel per image pixel, centred
        Free,    // a scale and position set by the wheel or by panning
    };

    explicit TDesktopImageView(QWidget* parent = nullptr);
    ~TDesktopImageView() override;

    // ---- TBXImageView: any thread ----
    void SetMMImage(MM_HANDLE image) override;
    void SetMMBits(const void* bits) override;
    void SetMMVector(MM_VECTOR index) override;

    // ---- Counters: any thread ----
    // Frames copied from the store (the headless view's frame sequence).
    uint64_t FramesDelivered() const { return FrameSequence(); }
    // Distinct frames painted on the screen; a repaint of the same frame does not count.
    uint64_t FramesPainted() const { return painted_.load(); }
    // Sequence number of the frame painted last (0 before the first).
    uint64_t PaintedSequence() const { return painted_sequence_.load(); }
    // Repaint requests posted to the GUI thread by the copying calls.
    uint64_t RepaintRequests() const { return requests_.load(); }

    // ---- GUI thread ----
    ZoomMode Zoom() const { return mode_; }
    void ZoomToFit();
    void ZoomActual();
    // Free zoom: `scale` screen pixels per image pixel, keeping the image point under widget
    // point `anchor` where it is.
    void SetScale(double scale, QPointF anchor);
    // Screen pixels per image pixel, as drawn now (1 before the first frame).
    double Scale() const;
    // Between widget coordinates and image pixel coordinates (pixel (x, y) covers x..x+1).
    QPointF WidgetToImage(QPointF point) const;
    QPointF ImageToWidget(QPointF point) const;

    // The newest frame mapped for display (QImage::Format_RGB32), mapped now when it has not
    // been yet; a null image before the first frame.
    QImage RenderedImage();
    // The histogram of the newest frame (or of overlay object 0's rectangle).
    THistogram Histogram();
    // The value text PixelHovered gives for image pixel (x, y) of the frame shown: the grey
    // value, or "r, g, b" for colour; empty outside the image.
    QString PixelValueText(int x, int y) const;

public slots:
    // Maps the frame shown again, reading the display range and LUT from the store, and
    // recomputes its histogram: call after changing them, or after placing an overlay.
    void Refresh();

signals:
    // A frame not painted before reached the screen.
    void FramePainted(quint64 sequence);
    // The image pixel under the cursor and its value; (-1, -1, "") off the image.
    void PixelHovered(int x, int y, const QString& value);
    // The user drew a rectangle (now overlay object 0), or removed it with a click.
    void RectangleDrawn(const bx::view::TRect& rect);
    void RectangleCleared();
    // The histogram of the frame or rectangle shown changed.
    void HistogramChanged(const bx::view::THistogram& histogram);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Placement {
        double scale = 1.0;
        QPointF origin;  // widget position of the image's top-left corner
    };

    void RequestRepaint();
    // Brings the mapped image up to the newest frame and the store's range and LUT, and, when
    // `histogram`, the histogram up to that and to overlay object 0.
    void Update(bool histogram);
    bool HistogramWanted() const;
    Placement Place() const;
    std::optional<TRect> Region();  // overlay object 0's rectangle, if any
    TRect RectBetween(QPointF a, QPointF b) const;
    void ReportPixel(QPointF widget_point);

    std::atomic<bool> request_waiting_{false};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> painted_{0};
    std::atomic<uint64_t> painted_sequence_{0};

    // GUI thread only.
    uint64_t taken_ = 0;          // sequence of the newest frame taken for mapping
    std::optional<Frame> shown_;  // the frame mapped into image_
    QImage image_;
    bool remap_ = false;
    THistogram histogram_;
    std::optional<TRect> histogram_region_;
    bool histogram_current_ = false;
    ZoomMode mode_ = ZoomMode::Fit;
    Placement free_;
    enum class Drag { None, Rectangle, Pan } drag_ = Drag::None;
    QPointF press_at_;  // widget coordinates
    QPointF drag_at_;
    std::optional<QPointF> hover_;
};

// A histogram with the display limits drawn as two lines the user drags with the left mouse
// button (the nearer line is taken). The drawn value axis covers the histogram's values and
// its display range; it stays fixed while a line is dragged.
//
// Thread rule: GUI thread.
class THistogramWidget : public QWidget {
    Q_OBJECT

public:
    explicit THistogramWidget(QWidget* parent = nullptr);

    const THistogram& Histogram() const { return histogram_; }
    double Lower() const { return lower_; }
    double Upper() const { return upper_; }
    // Percentiles AutoContrast uses without arguments (defaults 0.5 and 99.5).
    void SetAutoContrastPercentiles(double low_percent, double high_percent);
    // "Auto contrast", also in the widget's context menu, for a host's toolbar or menu.
    QAction* AutoContrastAction() const { return auto_action_; }

    // Between widget x and value, as drawn now.
    double XOfValue(double value) const;
    double ValueAtX(double x) const;

    QSize sizeHint() const override;

public slots:
    // Shows `histogram`; the limit lines move to its display range unless the user is
    // dragging one.
    void SetHistogram(const bx::view::THistogram& histogram);
    // Sets the limits to the given percentiles of the histogram shown and reports them.
    void AutoContrast();
    void AutoContrastAt(double low_percent, double high_percent);

signals:
    // The user moved a limit, or auto contrast set both. Integer data gives whole values.
    void LimitsChanged(double lower, double upper);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetAxis();
    void MoveLimit(double x);

    THistogram histogram_;
    double axis_lo_ = 0.0;
    double axis_hi_ = 1.0;
    double lower_ = 0.0;
    double upper_ = 1.0;
    double low_percent_ = 0.5;
    double high_percent_ = 99.5;
    enum class Grab { None, Lower, Upper } grab_ = Grab::None;
    double press_x_ = 0.0;
    QAction* auto_action_ = nullptr;
};

}  // namespace bx::view

Q_DECLARE_METATYPE(bx::view::TRect)
Q_DECLARE_METATYPE(bx::view::THistogram)
