// The histogram: counts and percentiles of a frame or region, limits dragged on the widget,
// auto contrast, and the round trip of new limits through the store back into the view.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "bxmm/host.h"
#include "bxview/desktop_view.h"
#include "fixtures.h"

namespace bx::view {
namespace {

THeadlessImageView::Frame CopyOf(MM_HANDLE image) {
    THeadlessImageView view;
    view.SetMMImage(image);
    return *view.LastFrame();
}

TEST(Histogram, CountsAndPercentilesOfFrameAndRegion) {
    // 100 x 100 pixels holding 1000 .. 10999, each once.
    const MM_HANDLE ramp = test::Ramp16(100, 100, 1000);
    const auto frame = CopyOf(ramp);
    struct Case {
        const char* name;
        std::optional<TRect> region;
        uint64_t total;
        double first;
        std::vector<std::pair<double, double>> percentiles;  // percent, value
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"whole frame", std::nullopt, 10000, 1000,
         {{0.0, 1000}, {0.5, 1049}, {50.0, 5999}, {99.5, 10949}, {100.0, 10999}}},
        // Rows 0..9: the values 1000 .. 1999.
        {"region", TRect{0, 0, 99, 9}, 1000, 1000, {{0.5, 1004}, {99.5, 1994}}},
        {"region clamped", TRect{98, 98, 500, 500}, 4, 10898, {{50.0, 10899}, {100.0, 10999}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const THistogram h = MakeHistogram(frame, c.region, 0, 65535);
        EXPECT_EQ(h.total, c.total);
        EXPECT_EQ(h.first, c.first);
        EXPECT_EQ(h.bin_width, 1.0);
        for (const auto& [percent, value] : c.percentiles) {
            EXPECT_EQ(h.Percentile(percent), value) << percent << " %";
        }
    }

    // Colour counts each channel; 32-bit data over a wide span is binned.
    const auto colour = CopyOf(test::MakeImage<uint8_t>(1, 1, MM_TYPE_BGR24, {10, 20, 30}));
    const THistogram hc = MakeHistogram(colour, std::nullopt, 0, 255);
    EXPECT_EQ(hc.total, 3u);
    EXPECT_EQ(hc.first, 10.0);
    EXPECT_EQ(hc.counts.size(), 21u);
    EXPECT_EQ(hc.Percentile(50), 20.0);
    const auto wide = CopyOf(test::MakeImage<uint32_t>(2, 1, MM_TYPE_GREY32, {5, 1000000005}));
    const THistogram hw = MakeHistogram(wide, std::nullopt, 0, 1e9);
    EXPECT_EQ(hw.total, 2u);
    ASSERT_EQ(hw.counts.size(), 65536u);
    EXPECT_EQ(hw.counts.front(), 1u);
    EXPECT_EQ(hw.counts.back(), 1u);
    EXPECT_GE(hw.Last(), 1000000005.0);
    MM_DeleteImage(ramp);
}

// The view of a 100 x 100 ramp (1000 .. 10999, display range 1000 .. 11000) feeding a
// histogram widget whose axis then spans exactly 1000 .. 11000 over 200 screen pixels
// (x = 4 + (value - 1000) / 50).
class Limits : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = test::Ramp16(100, 100, 1000);
        MM_SetMapMin(image_, 1000);
        MM_SetMapMax(image_, 11000);
        QObject::connect(&view_, &TDesktopImageView::HistogramChanged, &histogram_,
                         &THistogramWidget::SetHistogram);
        view_.resize(200, 200);
        histogram_.resize(209, 60);
        histogram_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&histogram_));
        view_.SetMMImage(image_);
        view_.Histogram();
    }
    void TearDown() override { MM_DeleteImage(image_); }

    MM_HANDLE image_ = 0;
    TDesktopImageView view_;
    THistogramWidget histogram_;
};

TEST_F(Limits, DraggingALineReportsTheNewLimits) {
    struct Case {
        const char* name;
        int grab_x;
        int drop_x;
        double lower;
        double upper;
    };
    const std::vector<Case> cases = {
        {"lower up", 4, 44, 3000, 11000},
        {"upper down", 204, 184, 1000, 10000},
        {"lower taken near its line", 12, 44, 3000, 11000},
        {"lower stops below upper", 4, 208, 10999, 11000},
        {"upper stops above lower", 204, 0, 1000, 1001},
    };
    ASSERT_DOUBLE_EQ(histogram_.XOfValue(1000), 4.0);
    ASSERT_DOUBLE_EQ(histogram_.XOfValue(11000), 204.0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        histogram_.SetHistogram(view_.Histogram());  // lines back at 1000 and 11000
        QSignalSpy limits(&histogram_, &THistogramWidget::LimitsChanged);
        QTest::mousePress(&histogram_, Qt::LeftButton, {}, {c.grab_x, 30});
        QTest::mouseMove(&histogram_, {(c.grab_x + c.drop_x) / 2, 30});
        QTest::mouseMove(&histogram_, {c.drop_x, 30});
        QTest::mouseRelease(&histogram_, Qt::LeftButton, {}, {c.drop_x, 30});
        ASSERT_GE(limits.count(), 1);
        EXPECT_EQ(limits.last().at(0).toDouble(), c.lower);
        EXPECT_EQ(limits.last().at(1).toDouble(), c.upper);
        EXPECT_EQ(histogram_.Lower(), c.lower);
        EXPECT_EQ(histogram_.Upper(), c.upper);
    }
}

TEST_F(Limits, AutoContrastUsesThePercentilesOfTheFrameOrTheRectangle) {
    QSignalSpy limits(&histogram_, &THistogramWidget::LimitsChanged);
    histogram_.AutoContrast();
    ASSERT_EQ(limits.count(), 1);
    EXPECT_EQ(limits.at(0).at(0).toDouble(), 1049.0);
    EXPECT_EQ(limits.at(0).at(1).toDouble(), 10949.0);

    histogram_.AutoContrastAt(10, 90);
    ASSERT_EQ(limits.count(), 2);
    EXPECT_EQ(limits.at(1).at(0).toDouble(), 1999.0);
    EXPECT_EQ(limits.at(1).at(1).toDouble(), 9999.0);

    // Rows 0..9 hold 1000 .. 1999; the action in the context menu does the same.
    view_.PlaceOverlay({0, 0, 99, 9});
    view_.Refresh();
    EXPECT_EQ(view_.Histogram().total, 1000u);
    ASSERT_EQ(histogram_.Histogram().total, 1000u);
    histogram_.AutoContrastAction()->trigger();
    ASSERT_EQ(limits.count(), 3);
    EXPECT_EQ(limits.at(2).at(0).toDouble(), 1004.0);
    EXPECT_EQ(limits.at(2).at(1).toDouble(), 1994.0);
}

TEST_F(Limits, LimitsWrittenBackToTheStoreRemapTheView) {
    // The host's part: the new limits go to the store (through the control's MapMin /
    // MapMax) and the view is told to map again.
    QObject::connect(&histogram_, &THistogramWidget::LimitsChanged, [&](double lo, double hi) {
        MM_SetMapMin(image_, lo);
        MM_SetMapMax(image_, hi);
        view_.Refresh();
    });
    QTest::mousePress(&histogram_, Qt::LeftButton, {}, {4, 30});
    QTest::mouseMove(&histogram_, {44, 30});
    QTest::mouseRelease(&histogram_, Qt::LeftButton, {}, {44, 30});
    EXPECT_EQ(mm::Describe(image_)->map_min, 3000.0);
    // Pixel 5500 (x 0, row 45) is (5500 - 3000) / 8000 of the way: 79.69 -> 80.
    EXPECT_EQ(view_.RenderedImage().pixel(0, 45), qRgb(80, 80, 80));
    EXPECT_EQ(histogram_.Lower(), 3000.0);
}

}  // namespace
}  // namespace bx::view
