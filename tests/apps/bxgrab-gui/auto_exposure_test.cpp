// The host's auto-exposure pass: its arithmetic against a model camera, and the pass the
// toolbar runs on live video from the simulated camera.
#include "gui_fixture.h"

#include <bxmm/mm40.h>

#include <QSignalSpy>
#include <QStatusBar>

#include <algorithm>

#include "auto_exposure.h"
#include "shown_frames.h"

namespace gui_testing {
namespace {

using bxgrab_gui::AutoExposure;

// A camera whose brightest pixel grows with the exposure until it saturates.
uint32_t Brightest(long exposureUs, double perUs, uint32_t full) {
    return static_cast<uint32_t>(std::min<double>(full, exposureUs * perUs));
}

TEST(AutoExposureSteps, SettlesWithinATenthOfTheTargetFromEitherSide) {
    constexpr uint32_t kFull = 4095;
    for (const long start : {10L, 1'000'000L}) {  // far too dark, saturated
        AutoExposure pass(50);
        long exposure = start;
        AutoExposure::Step step{AutoExposure::Outcome::SetExposure, start};
        while (step.outcome == AutoExposure::Outcome::SetExposure) {
            exposure = step.next_us;
            step = pass.Measured(Brightest(exposure, 0.1, kFull), kFull, exposure);
        }
        EXPECT_EQ(step.outcome, AutoExposure::Outcome::Settled) << "from " << start;
        EXPECT_NEAR(Brightest(exposure, 0.1, kFull), kFull / 2.0, kFull * 0.05) << "from " << start;
        EXPECT_LT(pass.steps(), 12) << "from " << start;
    }
}

TEST(AutoExposureSteps, StopsAtItsLimitAndWhenNothingHelps) {
    // Black frames: the exposure grows sixteen-fold at most per step, up to the limit.
    AutoExposure dark(50);
    const auto first = dark.Measured(0, 255, 1000);
    ASSERT_EQ(first.outcome, AutoExposure::Outcome::SetExposure);
    EXPECT_EQ(first.next_us, 16000);
    EXPECT_EQ(dark.Measured(0, 255, AutoExposure::kMaxExposureUs).outcome,
              AutoExposure::Outcome::AtLimit);
    // A frame that never changes: the pass gives up after its steps.
    AutoExposure stuck(50);
    AutoExposure::Step step{};
    for (int i = 0; i < AutoExposure::kMaxSteps; ++i) step = stuck.Measured(10, 255, 1000);
    EXPECT_EQ(step.outcome, AutoExposure::Outcome::TooManySteps);
}

TEST(AutoExposureSteps, FullScaleFollowsTheStoredType) {
    EXPECT_EQ(bxgrab_gui::FullScale(MM_TYPE_GREY8, 12), 255u);
    EXPECT_EQ(bxgrab_gui::FullScale(MM_TYPE_BGR24, 24), 255u);
    EXPECT_EQ(bxgrab_gui::FullScale(MM_TYPE_GREY16, 12), 4095u);
}

TEST_F(GuiTest, AutoExposeFromTheToolbarSettlesOnLiveVideo) {
    Open();
    QSignalSpy finished(&window(), &MainWindow::autoExposureFinished);
    action(Command::AutoExpose)->trigger();
    EXPECT_TRUE(window().live());  // started for the pass
    EXPECT_TRUE(action(Command::Abort)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 1; }, 60000));
    const std::string outcome = finished.at(0).at(0).toString().toStdString();
    EXPECT_EQ(outcome.rfind("Auto-exposure: settled", 0), 0u) << outcome;
    EXPECT_FALSE(window().live());  // and stopped after it

    // A snap at the exposure found is near half of full scale.
    SnapAndShow();
    const auto frame = window().view()->LastFrame();
    ASSERT_TRUE(frame.has_value());
    const double full = bxgrab_gui::FullScale(frame->type, control().GetLong("BitDepth"));
    const double brightest = bxgrab::BrightestPixel(frame->pixels.data(), frame->pixels.size(),
                                                    frame->type, frame->width, frame->height, true);
    EXPECT_NEAR(brightest, full / 2, full * 0.1);
}

}  // namespace
}  // namespace gui_testing
