// The desktop image view: painting of the newest frame copy, zoom, the drawn rectangle, the
// pixel readout and the histogram it reports.
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "../pixels.h"
#include "bxmm/host.h"
#include "bxview/desktop_view.h"

namespace bx::view {

namespace {

constexpr size_t kHistory = 256;  // calls kept in the record; a live stream needs no more
constexpr double kMinScale = 1.0 / 64.0;
constexpr double kMaxScale = 64.0;
constexpr int kClickSlop = 3;  // widget pixels a press may move and still count as a click

bool SameRect(const std::optional<TRect>& a, const std::optional<TRect>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->Left == b->Left && a->Top == b->Top && a->Right == b->Right && a->Bottom == b->Bottom;
}

}  // namespace

TDesktopImageView::TDesktopImageView(QWidget* parent)
    : QWidget(parent), THeadlessImageView(kHistory) {
    qRegisterMetaType<bx::view::TRect>();
    qRegisterMetaType<bx::view::THistogram>();
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(32, 32);
}

TDesktopImageView::~TDesktopImageView() = default;

// ---- Copying calls ----------------------------------------------------------------------------

void TDesktopImageView::SetMMImage(MM_HANDLE image) {
    THeadlessImageView::SetMMImage(image);
    RequestRepaint();
}

void TDesktopImageView::SetMMBits(const void* bits) {
    THeadlessImageView::SetMMBits(bits);
    RequestRepaint();
}

void TDesktopImageView::SetMMVector(MM_VECTOR index) {
    THeadlessImageView::SetMMVector(index);
    RequestRepaint();
}

void TDesktopImageView::RequestRepaint() {
    // One request at a time: the GUI thread takes the newest frame when it paints, so frames
    // copied while a request waits need none of their own.
    if (request_waiting_.exchange(true)) return;
    ++requests_;
    QMetaObject::invokeMethod(
        this,
        [this] {
            request_waiting_ = false;
            update();
        },
        Qt::QueuedConnection);
}

// ---- Mapping ----------------------------------------------------------------------------------

bool TDesktopImageView::HistogramWanted() const {
    return isSignalConnected(QMetaMethod::fromSignal(&TDesktopImageView::HistogramChanged));
}

void TDesktopImageView::Update(bool histogram) {
    const uint64_t newest = FrameSequence();
    std::optional<Frame> fresh;
    if (newest > taken_) {
        fresh = LastFrame();
        if (fresh) taken_ = fresh->sequence;
    }
    if (fresh || (remap_ && shown_)) {
        const Frame& frame = fresh ? *fresh : *shown_;
        const auto info = mm::Describe(frame.image);
        // A frame of an image deleted meanwhile has no display range to show it with: it is
        // skipped and the previous picture stays.
        if (info) {
            if (image_.width() != frame.width || image_.height() != frame.height) {
                image_ = QImage(frame.width, frame.height, QImage::Format_RGB32);
            }
            if (RenderFrame(frame, *info, image_.bits(), 4)) {
                if (fresh) shown_ = std::move(fresh);
                histogram_.map_min = info->map_min;
                histogram_.map_max = info->map_max;
                histogram_current_ = false;
            }
        }
        remap_ = false;
    }
    if (!histogram) return;
    const auto region = Region();
    if (shown_ && (!histogram_current_ || !SameRect(region, histogram_region_))) {
        histogram_ = MakeHistogram(*shown_, region, histogram_.map_min, histogram_.map_max);
        histogram_region_ = region;
        histogram_current_ = true;
        emit HistogramChanged(histogram_);
    }
}

void TDesktopImageView::Refresh() {
    remap_ = true;
    histogram_current_ = false;
    update();
}

QImage TDesktopImageView::RenderedImage() {
    Update(HistogramWanted());
    return image_;
}

THistogram TDesktopImageView::Histogram() {
    Update(true);
    return histogram_;
}

std::optional<TRect> TDesktopImageView::Region() {
    TRect rect;
    const auto* object = OverlayHandler().GetOverlayObject(0);
    if (object == nullptr || !object->GetBoundingRect(rect)) return std::nullopt;
    return rect;
}

QString TDesktopImageView::PixelValueText(int x, int y) const {
    if (!shown_ || x < 0 || y < 0 || x >= shown_->width || y >= shown_->height) return {};
    const size_t i = size_t(y) * size_t(shown_->width) + size_t(x);
    const uint8_t* px = shown_->pixels.data();
    if (shown_->type == MM_TYPE_BGR24) {
        return QStringLiteral("%1, %2, %3").arg(px[3 * i + 2]).arg(px[3 * i + 1]).arg(px[3 * i]);
    }
    return QString::number(GreyAt(px, i, mm::BytesPerPixel(shown_->type)));
}

// ---- Placement --------------------------------------------------------------------------------

TDesktopImageView::Placement TDesktopImageView::Place() const {
    if (image_.isNull()) return {};
    const double w = image_.width();
    const double h = image_.height();
    switch (mode_) {
        case ZoomMode::Fit: {
            const double s = std::max(std::min(width() / w, height() / h), kMinScale);
            return {s, QPointF((width() - w * s) / 2, (height() - h * s) / 2)};
        }
        case ZoomMode::Actual:
            // Whole pixels, so each image pixel lands on exactly one screen pixel.
            return {1.0, QPointF(std::floor((width() - w) / 2), std::floor((height() - h) / 2))};
        case ZoomMode::Free:
            break;
    }
    return free_;
}

double TDesktopImageView::Scale() const {
    return Place().scale;
}

QPointF TDesktopImageView::WidgetToImage(QPointF point) const {
    const Placement p = Place();
    return (point - p.origin) / p.scale;
}

QPointF TDesktopImageView::ImageToWidget(QPointF point) const {
    const Placement p = Place();
    return p.origin + point * p.scale;
}

void TDesktopImageView::ZoomToFit() {
    mode_ = ZoomMode::Fit;
    update();
}

void TDesktopImageView::ZoomActual() {
    mode_ = ZoomMode::Actual;
    update();
}

void TDesktopImageView::SetScale(double scale, QPointF anchor) {
    const Placement now = Place();
    const QPointF fixed = (anchor - now.origin) / now.scale;
    free_.scale = std::clamp(scale, kMinScale, kMaxScale);
    free_.origin = anchor - fixed * free_.scale;
    mode_ = ZoomMode::Free;
    update();
}

TRect TDesktopImageView::RectBetween(QPointF a, QPointF b) const {
    const auto clamp = [](double v, int size) {
        return std::clamp(int(std::floor(v)), 0, std::max(size - 1, 0));
    };
    const int ax = clamp(a.x(), image_.width());
    const int bx = clamp(b.x(), image_.width());
    const int ay = clamp(a.y(), image_.height());
    const int by = clamp(b.y(), image_.height());
    return {std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
}

// ---- Painting ---------------------------------------------------------------------------------

void TDesktopImageView::paintEvent(QPaintEvent*) {
    Update(HistogramWanted());
    QPainter p(this);
    p.fillRect(rect(), QColor(48, 48, 48));
    if (image_.isNull() || !shown_) return;

    const Placement place = Place();
    // No smoothing: zoomed in, each image pixel stays a square of one value.
    p.drawImage(QRectF(place.origin, QSizeF(image_.width(), image_.height()) * place.scale),
                image_);
    const auto outline = [&](const TRect& r) {
        const QPointF a = ImageToWidget(QPointF(r.Left, r.Top));
        const QPointF b = ImageToWidget(QPointF(r.Right + 1, r.Bottom + 1));
        p.drawRect(QRectF(a, b).adjusted(0, 0, -1, -1));
    };
    p.setBrush(Qt::NoBrush);
    if (const auto region = Region()) {
        p.setPen(QPen(QColor(255, 220, 0), 0));
        outline(*region);
    }
    if (drag_ == Drag::Rectangle) {
        p.setPen(QPen(QColor(255, 220, 0), 0, Qt::DashLine));
        outline(RectBetween(WidgetToImage(press_at_), WidgetToImage(drag_at_)));
    }
    p.end();

    const uint64_t sequence = shown_->sequence;
    if (sequence != painted_sequence_.load()) {
        painted_sequence_ = sequence;
        ++painted_;
        emit FramePainted(sequence);
        if (hover_) ReportPixel(*hover_);  // the value under a still cursor may have changed
    }
}

// ---- Mouse ------------------------------------------------------------------------------------

void TDesktopImageView::ReportPixel(QPointF widget_point) {
    const QPointF at = WidgetToImage(widget_point);
    const int x = int(std::floor(at.x()));
    const int y = int(std::floor(at.y()));
    const QString value = PixelValueText(x, y);
    if (value.isEmpty()) {
        emit PixelHovered(-1, -1, QString());
    } else {
        emit PixelHovered(x, y, value);
    }
}

void TDesktopImageView::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (event->button() == Qt::LeftButton && !image_.isNull()) {
        const QPointF in = WidgetToImage(at);
        if (in.x() >= 0 && in.y() >= 0 && in.x() < image_.width() && in.y() < image_.height()) {
            drag_ = Drag::Rectangle;
            press_at_ = drag_at_ = at;
        }
    } else if (event->button() == Qt::MiddleButton && !image_.isNull()) {
        free_ = Place();
        mode_ = ZoomMode::Free;
        drag_ = Drag::Pan;
        press_at_ = at;
    } else {
        QWidget::mousePressEvent(event);
    }
}

void TDesktopImageView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    hover_ = at;
    ReportPixel(at);
    if (drag_ == Drag::Rectangle) {
        drag_at_ = at;
        update();
    } else if (drag_ == Drag::Pan) {
        free_.origin += at - press_at_;
        press_at_ = at;
        update();
    }
}

void TDesktopImageView::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (drag_ == Drag::Rectangle && event->button() == Qt::LeftButton) {
        drag_ = Drag::None;
        OverlayHandler().Clear();
        if ((at - press_at_).manhattanLength() < kClickSlop) {
            emit RectangleCleared();
        } else {
            const TRect rect = RectBetween(WidgetToImage(press_at_), WidgetToImage(at));
            OverlayHandler().AddRectangle(rect);
            emit RectangleDrawn(rect);
        }
        update();
    } else if (drag_ == Drag::Pan && event->button() == Qt::MiddleButton) {
        drag_ = Drag::None;
    } else {
        QWidget::mouseReleaseEvent(event);
    }
}

void TDesktopImageView::wheelEvent(QWheelEvent* event) {
    if (image_.isNull()) return;
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) SetScale(Scale() * std::pow(1.25, steps), event->position());
    event->accept();
}

void TDesktopImageView::leaveEvent(QEvent* event) {
    hover_.reset();
    emit PixelHovered(-1, -1, QString());
    QWidget::leaveEvent(event);
}

}  // namespace bx::view
