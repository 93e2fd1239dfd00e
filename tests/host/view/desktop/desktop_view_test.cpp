// The desktop image view: display mapping of each pixel type, live frames coalesced into
// paints, the drawn rectangle under each zoom, and the pixel readout.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <array>
#include <atomic>
#include <optional>
#include <thread>

#include "bxview/desktop_view.h"
#include "fixtures.h"

namespace bx::view {
namespace {

using test::FrameIndex;
using test::MakeImage;

constexpr int kWaitMs = 5000;

// Shows `view` at `size` and waits until it is on the (offscreen) screen.
void Show(QWidget& view, QSize size) {
    view.resize(size);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
}

// ---- Display mapping ----------------------------------------------------------------------

struct MappingCase {
    const char* name;
    int32_t type;
    std::vector<uint8_t> bytes;  // three pixels as stored
    double map_min;
    double map_max;
    bool red_lut;  // LUT entry i = red i only, instead of the grey ramp
    std::array<QRgb, 3> expected;
};

// Little-endian bytes of `values`, each `size` bytes wide.
std::vector<uint8_t> Bytes(int size, std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) {
        for (int b = 0; b < size; ++b) out.push_back(uint8_t(v >> (8 * b)));
    }
    return out;
}

TEST(Mapping, RangeAndLutGiveTheDrawnColours) {
    // clang-format off
    const std::vector<MappingCase> cases = {
        {"grey8 full range", MM_TYPE_GREY8, {0, 100, 255}, 0, 255, false,
         {qRgb(0, 0, 0), qRgb(100, 100, 100), qRgb(255, 255, 255)}},
        {"grey8 narrowed", MM_TYPE_GREY8, {40, 100, 200}, 50, 150, false,
         {qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)}},
        {"grey16 range", MM_TYPE_GREY16, Bytes(2, {500, 2000, 4000}), 1000, 3000, false,
         {qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)}},
        {"grey16 red lut", MM_TYPE_GREY16, Bytes(2, {1000, 1500, 3000}), 1000, 3000, true,
         {qRgb(0, 0, 0), qRgb(64, 0, 0), qRgb(255, 0, 0)}},
        {"grey12 range", MM_TYPE_GREY12, Bytes(2, {0, 2048, 4095}), 0, 4095, false,
         {qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)}},
        {"grey32 range", MM_TYPE_GREY32, Bytes(4, {0, 500000, 2000000}), 0, 1000000, false,
         {qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)}},
        // Stored blue, green, red; the range applies to each channel and no LUT.
        {"colour full range", MM_TYPE_BGR24, {10, 20, 30, 0, 0, 255, 255, 255, 255}, 0, 255, true,
         {qRgb(30, 20, 10), qRgb(255, 0, 0), qRgb(255, 255, 255)}},
        {"colour narrowed", MM_TYPE_BGR24, {150, 50, 250, 100, 200, 100, 0, 0, 0}, 100, 200, false,
         {qRgb(255, 0, 128), qRgb(0, 255, 0), qRgb(0, 0, 0)}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MM_HANDLE image = MakeImage(3, 1, c.type, c.bytes);
        ASSERT_NE(image, 0u);
        MM_SetMapMin(image, c.map_min);
        MM_SetMapMax(image, c.map_max);
        if (c.red_lut) {
            std::array<int32_t, 256> lut{};
            for (int i = 0; i < 256; ++i) lut[size_t(i)] = i << 16;
            MM_SetLUT(image, lut.data());
        }
        TDesktopImageView view;
        view.resize(300, 100);  // fits at 100 screen pixels per image pixel
        view.SetMMImage(image);
        const QImage rendered = view.RenderedImage();
        ASSERT_EQ(rendered.size(), QSize(3, 1));
        const QImage painted = view.grab().toImage();
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(rendered.pixel(x, 0), c.expected[size_t(x)]) << "pixel " << x;
            EXPECT_EQ(painted.pixel(100 * x + 50, 50), c.expected[size_t(x)]) << "pixel " << x;
        }
        MM_DeleteImage(image);
    }
}

// ---- Live frames --------------------------------------------------------------------------

// Writes `value` into every pixel of the image's frame 0 and hands the locked leaf to the
// view, as a live thread does.
void Deliver(TBXImageView& view, MM_HANDLE image, uint16_t value, int pixels) {
    const MM_LEAF leaf = MM_GetData(image, FrameIndex(0));
    auto* write = static_cast<uint16_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
    for (int i = 0; i < pixels; ++i) write[i] = value;
    MM_Unlock(leaf, 1);
    const void* bits = MM_Lock(leaf, 0);
    view.SetMMBits(bits);
    MM_Unlock(leaf, 0);
}

TEST(Live, FramesArrivingBeforeThePaintAreOneRequestAndTheNewestIsPaintedOnce) {
    const MM_HANDLE image = MakeImage<uint16_t>(8, 8, MM_TYPE_GREY16, std::vector<uint16_t>(64));
    TDesktopImageView view;
    Show(view, {64, 64});
    view.SetMMImage(image);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.FramesPainted() == 1; }, kWaitMs));

    QSignalSpy painted(&view, &TDesktopImageView::FramePainted);
    const uint64_t requests = view.RepaintRequests();
    // The GUI thread is blocked in join() while the frames arrive.
    std::thread live([&] {
        for (int i = 1; i <= 50; ++i) Deliver(view, image, uint16_t(100 * i), 64);
    });
    live.join();
    EXPECT_EQ(view.FramesDelivered(), 51u);
    EXPECT_EQ(view.RepaintRequests(), requests + 1);

    ASSERT_TRUE(QTest::qWaitFor([&] { return view.FramesPainted() == 2; }, kWaitMs));
    EXPECT_EQ(view.PaintedSequence(), 51u);
    EXPECT_EQ(view.PixelValueText(3, 3), "5000");
    view.repaint();  // the same frame again is not a new one
    QCoreApplication::processEvents();
    EXPECT_EQ(view.FramesPainted(), 2u);
    ASSERT_EQ(painted.count(), 1);
    EXPECT_EQ(painted.at(0).at(0).toULongLong(), 51u);
    MM_DeleteImage(image);
}

TEST(Live, StreamWhileTheGuiRunsPaintsEachFrameAtMostOnceAndEndsOnTheNewest) {
    const MM_HANDLE image =
        MakeImage<uint16_t>(64, 64, MM_TYPE_GREY16, std::vector<uint16_t>(4096));
    TDesktopImageView view;
    Show(view, {128, 128});
    view.SetMMImage(image);
    std::vector<quint64> sequences;
    QObject::connect(&view, &TDesktopImageView::FramePainted,
                     [&](quint64 sequence) { sequences.push_back(sequence); });

    constexpr int kFrames = 400;
    std::atomic<bool> done{false};
    std::thread live([&] {
        for (int i = 1; i <= kFrames; ++i) Deliver(view, image, uint16_t(i), 4096);
        done = true;
    });
    const bool caught_up = QTest::qWaitFor(
        [&] { return done && view.PaintedSequence() == view.FramesDelivered(); }, 20000);
    live.join();
    ASSERT_TRUE(caught_up);
    EXPECT_EQ(view.FramesDelivered(), uint64_t(kFrames) + 1);
    EXPECT_EQ(view.FramesPainted(), sequences.size());
    EXPECT_LE(view.RepaintRequests(), view.FramesDelivered());
    for (size_t i = 1; i < sequences.size(); ++i) ASSERT_LT(sequences[i - 1], sequences[i]);
    EXPECT_EQ(view.PixelValueText(10, 10), QString::number(kFrames));
    MM_DeleteImage(image);
}

// ---- Drawn rectangle ----------------------------------------------------------------------

enum class Zoom { Fit, Actual, HalfOfFit, WheelAtCentre };

struct RectangleCase {
    const char* name;
    QSize widget;
    Zoom zoom;
    QPoint press;
    QPoint release;
    std::optional<TRect> expected;  // overlay object 0 afterwards
};

TEST(Rectangle, DragBecomesOverlayZeroInImagePixels) {
    const TRect placed{1, 1, 2, 2};  // placed by the host before each drag
    // The image is 100 x 50 pixels.
    // clang-format off
    const std::vector<RectangleCase> cases = {
        // Fit: 4 screen pixels per image pixel.
        {"fit", {400, 200}, Zoom::Fit, {40, 20}, {201, 101}, TRect{10, 5, 50, 25}},
        {"fit dragged up-left", {400, 200}, Zoom::Fit, {201, 101}, {40, 20}, TRect{10, 5, 50, 25}},
        // Fit in a taller widget: the image starts 50 screen pixels down.
        {"fit with offset", {400, 300}, Zoom::Fit, {40, 70}, {201, 151}, TRect{10, 5, 50, 25}},
        {"clamped to the image", {400, 300}, Zoom::Fit, {360, 230}, {399, 299},
         TRect{90, 45, 99, 49}},
        // 1:1, centred: the image starts at (150, 75).
        {"actual size", {400, 200}, Zoom::Actual, {160, 80}, {170, 95}, TRect{10, 5, 20, 20}},
        // Half the fitting scale, about the top-left corner: 2 screen pixels per pixel.
        {"free zoom", {400, 200}, Zoom::HalfOfFit, {20, 10}, {100, 60}, TRect{10, 5, 50, 30}},
        // One wheel step up at the centre: 5 screen pixels per pixel, pixel (50, 25) stays at
        // (200, 100), so the image starts at (-50, -25). (QTest reads (0, 0) as the centre.)
        {"wheel zoom", {400, 200}, Zoom::WheelAtCentre, {1, 1}, {200, 100}, TRect{10, 5, 50, 25}},
        {"press off the image is ignored", {400, 300}, Zoom::Fit, {40, 20}, {200, 150}, placed},
        {"click removes the rectangle", {400, 200}, Zoom::Fit, {40, 20}, {41, 20}, std::nullopt},
    };
    // clang-format on
    const MM_HANDLE image = MakeImage(100, 50, MM_TYPE_GREY8, std::vector<uint8_t>(5000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDesktopImageView view;
        Show(view, c.widget);
        view.SetMMImage(image);
        view.RenderedImage();
        if (c.zoom == Zoom::Actual) view.ZoomActual();
        if (c.zoom == Zoom::HalfOfFit) view.SetScale(view.Scale() / 2, QPointF(0, 0));
        if (c.zoom == Zoom::WheelAtCentre) {
            const QPointF centre(200, 100);
            QWheelEvent wheel(centre, view.mapToGlobal(centre), {}, {0, 120}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&view, &wheel);
        }
        view.PlaceOverlay(placed);
        QSignalSpy drawn(&view, &TDesktopImageView::RectangleDrawn);

        QTest::mousePress(&view, Qt::LeftButton, {}, c.press);
        QTest::mouseMove(&view, (c.press + c.release) / 2);
        QTest::mouseMove(&view, c.release);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, c.release);

        TRect got;
        const auto* object = view.OverlayHandler().GetOverlayObject(0);
        ASSERT_EQ(object != nullptr && object->GetBoundingRect(got), c.expected.has_value());
        EXPECT_EQ(view.OverlayHandler().Count(), c.expected ? 1 : 0);
        if (!c.expected) continue;
        EXPECT_EQ(got.Left, c.expected->Left);
        EXPECT_EQ(got.Top, c.expected->Top);
        EXPECT_EQ(got.Right, c.expected->Right);
        EXPECT_EQ(got.Bottom, c.expected->Bottom);
        const bool kept = got.Left == placed.Left && got.Top == placed.Top &&
                          got.Right == placed.Right && got.Bottom == placed.Bottom;
        EXPECT_EQ(drawn.count(), kept ? 0 : 1);
    }
    MM_DeleteImage(image);
}

// ---- Pixel readout ------------------------------------------------------------------------

TEST(Readout, CursorReportsThePixelAndItsValue) {
    struct Case {
        QPoint at;
        int x, y;
        QString value;
    };
    // A 4 x 2 grey16 image shown at 100 screen pixels per pixel, 50 pixels down.
    const MM_HANDLE grey = test::Ramp16(4, 2, 1000);
    const std::vector<Case> cases = {
        {{10, 60}, 0, 0, "1000"},
        {{399, 249}, 3, 1, "1007"},
        {{250, 160}, 2, 1, "1006"},
        {{250, 20}, -1, -1, ""},  // above the image
    };
    TDesktopImageView view;
    Show(view, {400, 300});
    view.SetMMImage(grey);
    view.RenderedImage();
    QSignalSpy hovered(&view, &TDesktopImageView::PixelHovered);
    for (const auto& c : cases) {
        QTest::mouseMove(&view, c.at);
        ASSERT_GE(hovered.count(), 1);
        const auto args = hovered.takeLast();
        EXPECT_EQ(args.at(0).toInt(), c.x) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(args.at(1).toInt(), c.y);
        EXPECT_EQ(args.at(2).toString(), c.value);
        hovered.clear();
    }

    const MM_HANDLE colour = MakeImage<uint8_t>(1, 1, MM_TYPE_BGR24, {10, 20, 30});
    view.SetMMImage(colour);
    view.RenderedImage();
    EXPECT_EQ(view.PixelValueText(0, 0), "30, 20, 10");  // red, green, blue
    MM_DeleteImage(grey);
    MM_DeleteImage(colour);
}

}  // namespace
}  // namespace bx::view
