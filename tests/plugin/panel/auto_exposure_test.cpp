// Auto-exposure: the histogram, depth table, region and searches on synthetic data, and whole
// runs against the simulated camera (called on the test thread as the live thread calls them),
// into a buffer followed by an inaccessible page, so a read past the frame crashes the test.
#include <bxview/headless_view.h>
#include <bxview/image_view.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "fixtures/control_fixture.h"
#include "panel/Histogram.h"

using namespace ferro;
using namespace ferro::panel;
using ferro::testing::ControlTest;

namespace {

Histogram Bins(const std::map<int, uint32_t>& counts) {
    Histogram h{};
    for (const auto& [bin, count] : counts) h[bin] = count;
    return h;
}

// `bytes` of memory that end right at a page no one may touch.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t bytes) : bytes_(bytes) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        mapped_ = (bytes + page - 1) / page * page + page;
        base_ = static_cast<uint8_t*>(
            mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + mapped_ - page, page, PROT_NONE);
        data_ = base_ + mapped_ - page - bytes;
    }
    ~GuardedBuffer() { munmap(base_, mapped_); }
    uint8_t* data() const { return data_; }
    size_t size() const { return bytes_; }

private:
    size_t bytes_, mapped_;
    uint8_t* base_;
    uint8_t* data_;
};

}  // namespace

// ---- Pure pieces ----------------------------------------------------------------------------

// Every value of each depth once, with the bits above the mask set (they must not count).
TEST(DepthTable, EveryValueLandsInItsTruncatedQuotientAndFullScaleInBin127) {
    const struct {
        int depth, bytesPerPixel;
        double divisor;
        uint32_t mask;
    } rows[] = {{8, 1, 2, 0},         {10, 2, 8, 0x3FF},    {12, 2, 32, 0xFFF},
                {14, 2, 128, 0x3FFF}, {16, 2, 512, 0xFFFF}, {24, 3, 2, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.depth);
        const auto layout = DepthLayoutFor(row.depth);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->BytesPerPixel, row.bytesPerPixel);
        EXPECT_EQ(layout->BinDivisor, row.divisor);
        const uint32_t top = row.mask ? row.mask : 0xFF;
        std::vector<uint16_t> words;
        std::vector<uint8_t> bytes(row.bytesPerPixel == 2 ? 0 : 3 * 86);  // 256 values, 2 zeros
        Histogram expected{};
        for (uint32_t v = 0; v <= top; ++v) {
            ++expected[static_cast<int>(v / row.divisor)];
            if (row.bytesPerPixel == 2)
                words.push_back(static_cast<uint16_t>(v | ~row.mask));
            else
                bytes[v] = static_cast<uint8_t>(v);
        }
        if (row.bytesPerPixel != 2) expected[0] += static_cast<uint32_t>(bytes.size() - 256);
        const int width = row.bytesPerPixel == 2
                              ? static_cast<int>(words.size())
                              : static_cast<int>(bytes.size()) / row.bytesPerPixel;
        const void* frame =
            row.bytesPerPixel == 2 ? static_cast<const void*>(words.data()) : bytes.data();
        EXPECT_EQ(BuildHistogram(frame, 2 * words.size() + bytes.size(), width, 1,
                                 WholeFrame(width, 1), *layout),
                  expected);
        EXPECT_EQ(static_cast<int>(top / row.divisor), 127);
    }
    for (int depth : {0, 9, 15, 32}) EXPECT_FALSE(DepthLayoutFor(depth)) << depth;
}

TEST(Histogram, ColourCountsEachChannelAndOnlyTheRegion) {
    // 3 x 2 colour frame; the region is the middle column of the second row only.
    const uint8_t frame[] = {2,  4,  6,  8,  10, 12, 14, 16, 18,  //
                             20, 22, 24, 26, 28, 30, 32, 34, 36};
    const Histogram h =
        BuildHistogram(frame, sizeof frame, 3, 2, {1, 1, 1, 1}, *DepthLayoutFor(24));
    EXPECT_EQ(h, Bins({{13, 1}, {14, 1}, {15, 1}}));
    // Words past the last full group of a row count too.
    const std::vector<uint16_t> row(37, 0xFFFF);
    EXPECT_EQ(BuildHistogram(row.data(), 74, 37, 1, WholeFrame(37, 1), *DepthLayoutFor(12)),
              Bins({{127, 37}}));
    // A buffer shorter than the frame cuts the rows it lacks.
    EXPECT_EQ(BuildHistogram(frame, 9, 3, 2, WholeFrame(3, 2), *DepthLayoutFor(24)),
              Bins({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}}));
}

TEST(DrawnRegion, RowsStartBelowTheTopEdgeAndEverythingIsCutToTheFrame) {
    const struct {
        int left, top, right, bottom;
        PixelRegion expected;
    } rows[] = {
        {10, 20, 30, 40, {10, 30, 21, 40}},      // inside
        {-50, -50, 5000, 5000, {0, 99, 0, 79}},  // larger than the frame
        {0, 0, 2047, 2047, {0, 99, 1, 79}},      // a grab window's extent
        {150, 10, 200, 20, {150, 99, 11, 20}},   // right of the frame: no columns
        {10, 79, 20, 90, {10, 20, 80, 79}},      // top edge on the last row: no rows
        {30, 40, 10, 20, {30, 10, 41, 20}},      // inverted
    };
    for (const auto& r : rows) {
        const PixelRegion region = DrawnRegion(r.left, r.top, r.right, r.bottom, 100, 80);
        EXPECT_EQ(region, r.expected)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        const bool inside = region.FirstColumn >= 0 && region.LastColumn < 100 &&
                            region.FirstRow >= 0 && region.LastRow < 80;
        EXPECT_TRUE(region.Empty() || inside);
    }
}

TEST(PeakAndFloorSearch, FindTheTopAndBottomOfThePopulatedRange) {
    const struct {
        const char* what;
        std::map<int, uint32_t> counts;
        int peak, floor;
    } rows[] = {
        {"empty", {}, 0, 0},
        {"bin 0 alone, strong", {{0, 30}}, -1, 0},
        {"bin 0 alone, weak", {{0, 29}}, 0, 0},
        {"strong bin over dark bins", {{100, 30}, {0, 50}, {1, 50}, {2, 50}}, 100, 1},
        {"strong bin 1", {{1, 30}, {0, 500}}, 1, 1},
        {"sparse counts are ignored", {{127, 9}, {120, 9}, {50, 30}, {3, 9}, {4, 9}}, 50, 50},
        {"a pair of weak bins", {{90, 12}, {89, 12}}, 90, 89},
        {"a weak bin with a count beside it", {{90, 12}, {89, 1}}, 90, 90},
        {"weak bins with a gap", {{90, 12}, {80, 12}}, 80, 90},
        {"weak bins with a count below the upper", {{90, 12}, {89, 1}, {80, 12}}, 80, 89},
        {"a weak bin above a strong one", {{90, 12}, {60, 40}}, 60, 90},
        {"a weak bin, then weak bin 0", {{5, 12}, {0, 12}}, 1, 5},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FindPeakBin(Bins(row.counts)), row.peak) << row.what;
        EXPECT_EQ(FindFloorBin(Bins(row.counts)), row.floor) << row.what;
    }
}

TEST(ExposureStep, RatioOfTargetOverPeakAboveTheFloor) {
    const struct {
        int peak, floor;
        double target, ratio;
    } rows[] = {
        {-1, 0, 0.98, 124},       // black: the largest step
        {0, 0, 0.98, 124},        // denominator at least 1
        {62, 0, 0.5, 63.0 / 62},  // near the target
        {127, 0, 0.98, 124.0 / 127},
        {127, 125, 0.98, 0.5},     // numerator trunc(1.96)
        {40, 40, 0.5, 43.0 / 40},  // peak = floor: divide by the peak
        {3, 5, 0.5, 61},           // peak below floor: denominator 1
        {127, 0, 1.5, 0.95},       // saturated never scales up
    };
    for (const auto& r : rows)
        EXPECT_DOUBLE_EQ(ExposureStepRatio(r.peak, r.floor, r.target), r.ratio)
            << r.peak << " " << r.floor << " " << r.target;
}

// ---- Runs on the simulated camera -------------------------------------------------------------

class AutoExposure : public ControlTest {
protected:
    struct Run {
        int frames = 0;           // OnProcessUpdate with GrabProgress -3
        uint32_t grabbed = 0;     // frames the camera delivered
        bool limitEnded = false;  // AutoExposeAbort afterwards
        int lastPeak = 0;         // peak bin of the run's last frame
    };

    TBXTessvikFerroFW& Open(const std::string& camera = {}) {
        UseCamera(camera);
        TBXTessvikFerroFW& c = CreateAndOpen();
        c.ImageWindow = registration_.handle();
        c.Events.Set(EventId::OnProcessUpdate, [this] {
            if (control->GrabProgress == -3) ++frames_;
        });
        ui->Clear();
        return c;
    }

    Run RunOnce() {
        GuardedBuffer buffer(control->AcquisitionFrameBytes());
        frames_ = 0;
        const uint32_t before = Grabbed();
        control->AutoExpose(buffer.data());
        return {frames_, Grabbed() - before, control->AutoExposeAbort, PeakOf(buffer)};
    }

    // The peak bin of a fresh frame at the exposure the run left.
    int PeakNow() {
        GuardedBuffer buffer(control->AcquisitionFrameBytes());
        EXPECT_EQ(control->GrabFrameToBuffer(buffer.data(), buffer.size()), KVCAM_OK);
        return PeakOf(buffer);
    }

    int PeakOf(const GuardedBuffer& buffer) const {
        const TBXTessvikFerroFW& c = *control;
        const auto layout = DepthLayoutFor(c.Acquire8Bit ? 8 : c.BitDepth.load());
        return FindPeakBin(BuildHistogram(buffer.data(), buffer.size(), c.ImageWidth, c.ImageHeight,
                                          WholeFrame(c.ImageWidth, c.ImageHeight), *layout));
    }

    uint32_t Grabbed() const {
        KvCamSimCounters counters{};
        KvCamSim_GetCounters(control->CameraHandle, &counters);
        return counters.grabbed;
    }

    bx::view::THeadlessImageView view;

private:
    bx::view::ImageViewRegistration registration_{&view};
    int frames_ = 0;
};

// The last frame measured is at or below the target and not far from it; the exposure the run
// leaves (a step aimed at the target from that frame) does not overshoot it by more than the
// floor the step measures from.
TEST_F(AutoExposure, SettlesJustBelowEachTarget) {
    TBXTessvikFerroFW& c = Open();
    const struct {
        bx::ui::TRadioButton* button;
        double targetBin;
    } rows[] = {{c.rbn_100, 0.98 * 127},
                {c.rbn_75, 0.75 * 127},
                {c.rbn_50, 0.5 * 127},
                {c.rbn_25, 0.25 * 127}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button->Caption());
        ASSERT_TRUE(row.button->Click());
        const Run run = RunOnce();
        EXPECT_FALSE(run.limitEnded);
        EXPECT_LE(run.frames, 10);
        EXPECT_EQ(run.grabbed, static_cast<uint32_t>(run.frames));
        EXPECT_LE(run.lastPeak, row.targetBin);
        EXPECT_GE(run.lastPeak, 0.5 * row.targetBin);
        EXPECT_LE(PeakNow(), row.targetBin + 2);
        // 100 % is lowered to 98 % for good.
        if (row.button == c.rbn_100) {
            EXPECT_DOUBLE_EQ(c.AutoExposureTarget, 0.98);
        }
    }
}

TEST_F(AutoExposure, BlackFrameRunsToTheMaximumExposure) {
    TBXTessvikFerroFW& c = Open("[sensor]\nblob_level = 0\n[exposure]\nmax_us = 2000000\n");
    const Run run = RunOnce();
    EXPECT_TRUE(run.limitEnded);
    EXPECT_EQ(c.ExposureTime, 2000000);
    EXPECT_LE(run.frames, 40);
}

TEST_F(AutoExposure, SaturatedAtTheMinimumEndsAtOnceAtTheMinimum) {
    TBXTessvikFerroFW& c = Open("[sensor]\nblob_level = 50\n[exposure]\nmin_us = 20000\n");
    const Run run = RunOnce();
    EXPECT_EQ(run.frames, 1);
    EXPECT_TRUE(run.limitEnded);
    EXPECT_EQ(c.ExposureTime, 20000);
}

TEST_F(AutoExposure, ColourFramesSettleBelowTheTarget) {
    TBXTessvikFerroFW& c = Open(
        "[camera]\ntype = 4\n[sensor]\ncolour = yes\n[exposure]\nquantum_us = 10\n"
        "[defaults]\nformat = 4\n");
    c.chk_Color->SetChecked(true);
    ASSERT_TRUE(c.rbn_50->Click());
    const Run run = RunOnce();
    EXPECT_EQ(c.BytesPerPixel, 3);
    EXPECT_FALSE(run.limitEnded);
    EXPECT_LE(run.lastPeak, 0.5 * 127);
    EXPECT_GE(run.lastPeak, 0.5 * 0.5 * 127);
    EXPECT_LE(PeakNow(), 0.5 * 127 + 2);
}

// The frame is read only inside the buffer whatever the rectangle says, and a rectangle over a
// dim part of the frame makes the exposure longer than the whole frame does.
TEST_F(AutoExposure, TheRegionStaysInsideTheFrameAndFollowsTheDrawnRectangle) {
    TBXTessvikFerroFW& c = Open();
    ASSERT_TRUE(c.rbn_50->Click());
    RunOnce();
    const int wholeFrame = c.ExposureTime;
    view.PlaceOverlay({-100, -100, 5000, 5000});
    RunOnce();
    EXPECT_NEAR(c.ExposureTime, wholeFrame, 0.15 * wholeFrame);
    // The background (a few per cent of the brightest blob) in the bottom right corner.
    view.PlaceOverlay(
        {c.ImageWidth - 40, c.ImageHeight - 40, c.ImageWidth + 100, c.ImageHeight + 100});
    RunOnce();
    EXPECT_GT(c.ExposureTime, 3 * wholeFrame);
}

TEST_F(AutoExposure, WithoutAViewTheRunEndsAfterOneFrameWithABeep) {
    TBXTessvikFerroFW& c = Open();
    c.ImageWindow = 0;
    const Run run = RunOnce();
    EXPECT_EQ(run.frames, 1);
    EXPECT_EQ(ui->BeepCount(), 2u);  // the frame's own, then the missing view's
    EXPECT_EQ(c.shp_AutoEx->BrushColor(), bx::ui::RGB(0, 128, 0));
}

TEST_F(AutoExposure, IndicatorIsRedWhileRunningAndCaptionReturnsToSet) {
    TBXTessvikFerroFW& c = Open();
    std::vector<bx::ui::TColor> during;
    std::vector<std::string> events;
    c.Events.Set(EventId::OnPreFrameTriggerClick, [&] {
        during.push_back(c.shp_AutoEx->BrushColor());
        events.push_back("Pre");
    });
    c.Events.Set(EventId::OnPostFrameTriggerClick, [&] { events.push_back("Post"); });
    c.btn_AutoExpose->SetCaption("Stop");
    RunOnce();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.back(), "Pre");  // the run's end raises the pre-frame event once more
    EXPECT_EQ(events[events.size() - 2], "Post");
    EXPECT_EQ(during.front(), bx::ui::RGB(255, 0, 0));
    EXPECT_EQ(c.shp_AutoEx->BrushColor(), bx::ui::RGB(0, 128, 0));
    EXPECT_EQ(c.btn_AutoExpose->Caption(), "Set");
    EXPECT_EQ(ui->BeepCount(), events.size() / 2);  // one per frame
}

TEST_F(AutoExposure, AbortEndsTheRunAfterTheCurrentFrame) {
    TBXTessvikFerroFW& c = Open();
    int frames = 0;
    c.Events.Set(EventId::OnPostFrameTriggerClick, [&] {
        if (++frames == 2) c.AutoExposeAbort = true;  // what a second click on "Stop" does
    });
    EXPECT_EQ(RunOnce().frames, 2);
}

TEST_F(AutoExposure, UnknownDepthFailsAndClearsGrabInProgress) {
    TBXTessvikFerroFW& c = Open();
    c.BitDepth = 32;
    c.GrabInProgress = true;
    std::vector<uint8_t> buffer(16);
    try {
        c.AutoExpose(buffer.data());
        ADD_FAILURE() << "no failure";
    } catch (const ControlFailure& failure) {
        EXPECT_STREQ(failure.what(), "Unknown Image Type");
    }
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(Grabbed(), 0u);
    EXPECT_EQ(c.shp_AutoEx->BrushColor(), bx::ui::RGB(0, 128, 0)) << "the run is over";
}

TEST_F(AutoExposure, TargetButtonsAcceptButtonAndMenuItems) {
    TBXTessvikFerroFW& c = Open();
    const struct {
        bx::ui::TRadioButton* button;
        double target;
        int level;
    } rows[] = {{c.rbn_75, 0.75, 3}, {c.rbn_50, 0.5, 2}, {c.rbn_25, 0.25, 1}, {c.rbn_100, 1.0, 4}};
    for (const auto& row : rows) {
        ASSERT_TRUE(row.button->Click());
        EXPECT_DOUBLE_EQ(c.AutoExposureTarget, row.target) << row.button->Caption();
        EXPECT_EQ(c.AutoExposureLevel, row.level) << row.button->Caption();
    }
    // The accept button hides the setup panel and takes the checked choice.
    auto* setup = c.Find<bx::ui::TPanel>("pan_AutoEx");
    setup->Show();
    c.btn_AutoAccept->Show();
    c.rbn_50->SetChecked(true);
    c.AutoExposureTarget = 1.0;
    ASSERT_TRUE(c.btn_AutoAccept->Click());
    EXPECT_FALSE(setup->Visible());
    EXPECT_DOUBLE_EQ(c.AutoExposureTarget, 0.5);

    bx::ui::TPopupMenu* menu = c.btn_AutoExpose->PopupMenu();
    ASSERT_TRUE(menu->FindItem("Show Maximum AutoExposure Dialog")->Click());
    EXPECT_TRUE(c.ShowMaximumExposureDialog);
    ASSERT_TRUE(menu->FindItem("Hide Maximum AutoExposure Dialog")->Click());
    EXPECT_FALSE(c.ShowMaximumExposureDialog);
}
