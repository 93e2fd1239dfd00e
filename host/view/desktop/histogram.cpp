// The histogram of a frame and the widget on which the user sets the display limits.
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

#include "../pixels.h"
#include "bxmm/host.h"
#include "bxview/desktop_view.h"

namespace bx::view {

namespace {

constexpr size_t kMaxBins = 65536;
constexpr int kMargin = 4;  // room beside the axis, so a limit line at either end can be taken

// Counts values into one bin per value (`direct`, for values below 65536) and returns the
// histogram trimmed to the values present.
THistogram Trim(const std::vector<uint64_t>& direct, uint64_t total) {
    THistogram out;
    out.total = total;
    if (total == 0) return out;
    size_t lo = 0;
    while (direct[lo] == 0) ++lo;
    size_t hi = direct.size() - 1;
    while (direct[hi] == 0) --hi;
    out.first = double(lo);
    out.counts.assign(direct.begin() + std::ptrdiff_t(lo), direct.begin() + std::ptrdiff_t(hi) + 1);
    return out;
}

}  // namespace

double THistogram::Percentile(double percent) const {
    if (total == 0) return 0.0;
    // A small tolerance, so 0.5 % of 10000 values asks for 50 of them, not 51 after rounding.
    const double wanted = double(total) * std::clamp(percent, 0.0, 100.0) / 100.0;
    const auto need =
        std::clamp<uint64_t>(uint64_t(std::ceil(wanted - 1e-9 * (1.0 + wanted))), 1, total);
    uint64_t seen = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        seen += counts[i];
        if (seen >= need) return first + bin_width * double(i);
    }
    return first + bin_width * double(counts.size() - 1);
}

THistogram MakeHistogram(const THeadlessImageView::Frame& frame, const std::optional<TRect>& region,
                         double map_min, double map_max) {
    THistogram out;
    const int bpp = mm::BytesPerPixel(frame.type);
    const bool colour = frame.type == MM_TYPE_BGR24;
    const size_t w = size_t(std::max(frame.width, 0));
    const size_t h = size_t(std::max(frame.height, 0));
    if (bpp == 0 || w == 0 || h == 0 || frame.pixels.size() != w * h * size_t(bpp)) {
        out.map_min = map_min;
        out.map_max = map_max;
        return out;
    }
    int64_t x0 = 0, y0 = 0, x1 = int64_t(w) - 1, y1 = int64_t(h) - 1;
    if (region) {
        x0 = std::max<int64_t>(x0, region->Left);
        y0 = std::max<int64_t>(y0, region->Top);
        x1 = std::min<int64_t>(x1, region->Right);
        y1 = std::min<int64_t>(y1, region->Bottom);
    }
    const uint8_t* px = frame.pixels.data();
    // Visits every value in the region.
    const auto each = [&](auto&& visit) {
        for (int64_t y = y0; y <= y1; ++y) {
            for (int64_t x = x0; x <= x1; ++x) {
                const size_t i = size_t(y) * w + size_t(x);
                if (colour) {
                    visit(uint32_t(px[3 * i]));
                    visit(uint32_t(px[3 * i + 1]));
                    visit(uint32_t(px[3 * i + 2]));
                } else {
                    visit(GreyAt(px, i, bpp));
                }
            }
        }
    };

    if (bpp <= 3) {  // grey 8, grey 12/16 and colour: every value has its own slot
        std::vector<uint64_t> direct(bpp == 2 ? 65536 : 256, 0);
        uint64_t total = 0;
        each([&](uint32_t v) {
            ++direct[v];
            ++total;
        });
        out = Trim(direct, total);
    } else {
        uint32_t lo = std::numeric_limits<uint32_t>::max();
        uint32_t hi = 0;
        uint64_t total = 0;
        each([&](uint32_t v) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            ++total;
        });
        if (total != 0) {
            const double span = double(hi) - double(lo) + 1.0;
            const size_t bins = span <= double(kMaxBins) ? size_t(span) : kMaxBins;
            out.first = lo;
            out.bin_width = span / double(bins);
            out.counts.assign(bins, 0);
            out.total = total;
            each([&](uint32_t v) {
                const auto bin = size_t((double(v) - double(lo)) / out.bin_width);
                ++out.counts[std::min(bin, bins - 1)];
            });
        }
    }
    out.map_min = map_min;
    out.map_max = map_max;
    return out;
}

// ---- THistogramWidget -----------------------------------------------------------------------

THistogramWidget::THistogramWidget(QWidget* parent) : QWidget(parent) {
    qRegisterMetaType<bx::view::THistogram>();
    auto_action_ = new QAction(tr("Auto contrast"), this);
    connect(auto_action_, &QAction::triggered, this, &THistogramWidget::AutoContrast);
    addAction(auto_action_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setMinimumSize(64, 32);
    SetAxis();
}

QSize THistogramWidget::sizeHint() const {
    return {256 + 2 * kMargin, 96};
}

void THistogramWidget::SetAutoContrastPercentiles(double low_percent, double high_percent) {
    low_percent_ = low_percent;
    high_percent_ = high_percent;
}

void THistogramWidget::SetHistogram(const THistogram& histogram) {
    histogram_ = histogram;
    if (grab_ == Grab::None) {
        lower_ = histogram.map_min;
        upper_ = histogram.map_max;
        SetAxis();
    }
    update();
}

void THistogramWidget::SetAxis() {
    axis_lo_ = std::min(lower_, upper_);
    axis_hi_ = std::max(lower_, upper_);
    if (histogram_.total != 0) {
        axis_lo_ = std::min(axis_lo_, histogram_.first);
        axis_hi_ = std::max(axis_hi_, histogram_.Last());
    }
    if (axis_hi_ <= axis_lo_) axis_hi_ = axis_lo_ + 1.0;
}

double THistogramWidget::XOfValue(double value) const {
    const double span = std::max(1, width() - 1 - 2 * kMargin);
    return kMargin + (value - axis_lo_) / (axis_hi_ - axis_lo_) * span;
}

double THistogramWidget::ValueAtX(double x) const {
    const double span = std::max(1, width() - 1 - 2 * kMargin);
    return axis_lo_ + (x - kMargin) / span * (axis_hi_ - axis_lo_);
}

void THistogramWidget::AutoContrast() {
    AutoContrastAt(low_percent_, high_percent_);
}

void THistogramWidget::AutoContrastAt(double low_percent, double high_percent) {
    if (histogram_.total == 0) return;
    lower_ = histogram_.Percentile(low_percent);
    upper_ = std::max(histogram_.Percentile(high_percent), lower_ + 1.0);
    update();
    emit LimitsChanged(lower_, upper_);
}

void THistogramWidget::MoveLimit(double x) {
    // Every pixel type holds integers, so limits move in whole values.
    double v = std::round(ValueAtX(x));
    v = std::clamp(v, std::floor(axis_lo_), std::ceil(axis_hi_));
    double lower = lower_;
    double upper = upper_;
    if (grab_ == Grab::Lower) {
        lower = std::min(v, upper_ - 1.0);
    } else {
        upper = std::max(v, lower_ + 1.0);
    }
    if (lower == lower_ && upper == upper_) return;
    lower_ = lower;
    upper_ = upper;
    update();
    emit LimitsChanged(lower_, upper_);
}

void THistogramWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const double x = event->position().x();
    press_x_ = x;
    const double xl = XOfValue(lower_);
    const double xu = XOfValue(upper_);
    // Lines drawn on the same spot are told apart by the side the press is on.
    if (std::abs(x - xl) < std::abs(x - xu)) {
        grab_ = Grab::Lower;
    } else if (std::abs(x - xl) > std::abs(x - xu)) {
        grab_ = Grab::Upper;
    } else {
        grab_ = x < xl ? Grab::Lower : Grab::Upper;
    }
}

void THistogramWidget::mouseMoveEvent(QMouseEvent* event) {
    if (grab_ != Grab::None) MoveLimit(event->position().x());
}

void THistogramWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (grab_ == Grab::None || event->button() != Qt::LeftButton) return;
    // A click on a line without moving it leaves the limit where it is.
    if (event->position().x() != press_x_) MoveLimit(event->position().x());
    grab_ = Grab::None;
}

void THistogramWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(32, 32, 32));
    const int top = 2;
    const int bottom = height() - 2;
    const int columns = std::max(0, width());
    if (histogram_.total != 0 && columns > 0) {
        // Bins are summed per screen column; heights are logarithmic so sparse values show.
        std::vector<uint64_t> column(size_t(columns), 0);
        for (size_t i = 0; i < histogram_.counts.size(); ++i) {
            if (histogram_.counts[i] == 0) continue;
            const double v = histogram_.first + histogram_.bin_width * double(i);
            const int c = int(std::floor(XOfValue(v)));
            if (c >= 0 && c < columns) column[size_t(c)] += histogram_.counts[i];
        }
        const double peak = std::log1p(double(*std::max_element(column.begin(), column.end())));
        p.setPen(QColor(170, 170, 170));
        for (int c = 0; c < columns; ++c) {
            if (column[size_t(c)] == 0 || peak <= 0) continue;
            const double f = std::log1p(double(column[size_t(c)])) / peak;
            p.drawLine(c, bottom, c, bottom - int(std::round(f * (bottom - top))));
        }
    }
    // The display mapping: dark below the lower limit, rising to bright at the upper.
    const double xl = XOfValue(lower_);
    const double xu = XOfValue(upper_);
    QPainterPath ramp;
    ramp.moveTo(0, bottom);
    ramp.lineTo(xl, bottom);
    ramp.lineTo(xu, top);
    ramp.lineTo(width(), top);
    p.setPen(QPen(QColor(230, 200, 60), 1));
    p.drawPath(ramp);
    p.setPen(QPen(QColor(80, 140, 255), 2));
    p.drawLine(QPointF(xl, 0), QPointF(xl, height()));
    p.setPen(QPen(QColor(255, 90, 80), 2));
    p.drawLine(QPointF(xu, 0), QPointF(xu, height()));
}

}  // namespace bx::view
