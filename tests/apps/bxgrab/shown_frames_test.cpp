// What bxgrab live measures on shown frames: the frame number read back from frames the
// simulated camera really delivered (grey, and colour through the driver's demosaicing at
// every mosaic phase), the lost / repeated check over number sequences, and the brightest
// pixel with the number's corner left out.
#include <bxmm/mm40.h>
#include <shown_frames.h>

#include <cstring>
#include <vector>

#include "kvcam_fixture.h"

namespace {

using bxgrab::BrightestPixel;
using bxgrab::ColourNumberLayout;
using bxgrab::FrameCheck;
using bxgrab::FrameCheckTotals;
using bxgrab::FrameNumberOf;
using bxgrab::NumberLayout;

// ---- Frame numbers in delivered frames ------------------------------------------------------

const char* kCountedMono = R"(
[sensor]
width = 64
height = 48
frame_counter = yes
)";

const char* kCountedColour = R"(
[sensor]
width = 64
height = 48
colour = yes
frame_counter = yes
)";

class ShownFrameNumbers : public kvtest::KvCamTest {};

TEST_F(ShownFrameNumbers, GreyFramesGiveBackTheCameraNumber) {
    Open(kCountedMono);
    struct Case {
        int32_t format;
        int32_t storeType;
    };
    for (const Case& c :
         {Case{KVCAM_FORMAT_MONO16, MM_TYPE_GREY12}, Case{KVCAM_FORMAT_MONO8, MM_TYPE_GREY8}}) {
        Apply({{KVCAM_PARAM_FORMAT, c.format}, {KVCAM_PARAM_EXPOSURE, 1000}});
        for (int i = 0; i < 3; ++i) {
            const Grabbed g = Grab();
            ASSERT_EQ(g.result, KVCAM_OK);
            const auto number = FrameNumberOf(g.data.data(), g.data.size(), {c.storeType, {}});
            ASSERT_TRUE(number) << "format " << c.format;
            EXPECT_EQ(*number, g.frame.frameNumber) << "format " << c.format;
        }
    }
}

TEST_F(ShownFrameNumbers, ColourFramesGiveBackTheCameraNumberAtEveryMosaicPhase) {
    Open(kCountedColour);
    const auto sensorPattern = static_cast<uint32_t>(Info(KVCAM_INFO_BAYER_PATTERN));
    for (int y : {0, 1}) {
        for (int x : {0, 1}) {
            Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_BAYER8},
                   {KVCAM_PARAM_EXPOSURE, 1000},
                   {KVCAM_PARAM_ROI_WIDTH, 32},
                   {KVCAM_PARAM_ROI_HEIGHT, 16},
                   {KVCAM_PARAM_ROI_X, x},
                   {KVCAM_PARAM_ROI_Y, y}});
            const Grabbed raw = Grab();
            ASSERT_EQ(raw.result, KVCAM_OK);
            std::vector<uint8_t> bgr(
                KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, raw.frame.width, raw.frame.height));
            KvCamFrame colour{};
            colour.buffer = bgr.data();
            colour.bufferSize = static_cast<uint32_t>(bgr.size());
            colour.format = KVCAM_FORMAT_RGB24;
            ASSERT_EQ(KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &raw.frame, &colour), KVCAM_OK);

            const auto layout = ColourNumberLayout(sensorPattern, x, y);
            ASSERT_TRUE(layout);
            const auto number = FrameNumberOf(bgr.data(), bgr.size(), *layout);
            ASSERT_TRUE(number) << "origin " << x << "," << y;
            EXPECT_EQ(*number, raw.frame.frameNumber) << "origin " << x << "," << y;
        }
    }
}

TEST(ShownFrameNumber, FramesThatCannotHoldANumberHaveNone) {
    const std::vector<uint8_t> tiny(7, 0);
    EXPECT_FALSE(FrameNumberOf(tiny.data(), tiny.size(), {MM_TYPE_GREY16, {}}));
    EXPECT_FALSE(FrameNumberOf(nullptr, 64, {MM_TYPE_GREY8, {}}));
    // A 16-bit value above one byte is image, not number.
    std::vector<uint16_t> grey(16, 0);
    grey[1] = 300;
    EXPECT_FALSE(FrameNumberOf(reinterpret_cast<const uint8_t*>(grey.data()), grey.size() * 2,
                               {MM_TYPE_GREY16, {}}));
    EXPECT_FALSE(ColourNumberLayout(KVCAM_BAYER_NONE, 0, 0));
}

// ---- Lost and repeated frames ---------------------------------------------------------------

struct CheckCase {
    const char* name;
    std::vector<std::optional<uint32_t>> numbers;
    FrameCheckTotals expected;
};

class FrameCheckSequences : public ::testing::TestWithParam<CheckCase> {};

TEST_P(FrameCheckSequences, CountLostAndRepeatedFrames) {
    FrameCheck check;
    for (const auto& n : GetParam().numbers) check.Add(n);
    const FrameCheckTotals& got = check.totals();
    const FrameCheckTotals& want = GetParam().expected;
    EXPECT_EQ(got.shown, want.shown);
    EXPECT_EQ(got.lost, want.lost);
    EXPECT_EQ(got.repeated, want.repeated);
    EXPECT_EQ(got.unnumbered, want.unnumbered);
}

constexpr std::nullopt_t kUnreadable = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Numbers, FrameCheckSequences,
    ::testing::Values(
        CheckCase{"consecutive", {7, 8, 9, 10}, {4, 0, 0, 0}},
        CheckCase{"first_number_is_not_a_loss", {500, 501}, {2, 0, 0, 0}},
        CheckCase{"gap", {1, 2, 5, 6}, {4, 2, 0, 0}},
        CheckCase{"shown_twice", {1, 2, 2, 3}, {4, 0, 1, 0}},
        CheckCase{"older_frame_again", {1, 2, 3, 2, 4}, {5, 0, 1, 0}},
        CheckCase{
            "unreadable_frame_may_hold_the_skipped_number", {1, kUnreadable, 3}, {3, 0, 0, 1}},
        CheckCase{"unreadable_frame_explains_one_number_only", {1, kUnreadable, 4}, {3, 1, 0, 1}},
        CheckCase{"unreadable_first", {kUnreadable, 4, 5}, {3, 0, 0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Brightest pixel ------------------------------------------------------------------------

struct BrightCase {
    const char* name;
    int32_t type;
    int x, y, channel;  // where the bright value goes
    bool skipNumber;
    uint32_t expected;
};

class BrightestPixelOf : public ::testing::TestWithParam<BrightCase> {};

TEST_P(BrightestPixelOf, FindsTheBrightValueUnlessTheNumberCornerHidesIt) {
    const BrightCase& c = GetParam();
    constexpr int kWidth = 8, kHeight = 4;
    const int channels = c.type == MM_TYPE_BGR24 ? 3 : 1;
    const int bytes = c.type == MM_TYPE_GREY16 ? 2 : 1;
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * channels * bytes, 0);
    auto put = [&](int x, int y, int channel, uint32_t value) {
        const size_t at = ((size_t(y) * kWidth + x) * channels + channel) * bytes;
        std::memcpy(&frame[at], &value, bytes);  // little-endian, as stored
    };
    put(kWidth - 1, kHeight - 1, 0, 10);  // the dim rest of the frame
    put(c.x, c.y, c.channel, c.type == MM_TYPE_GREY16 ? 4000 : 200);
    EXPECT_EQ(BrightestPixel(frame.data(), frame.size(), c.type, kWidth, kHeight, c.skipNumber),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BrightestPixelOf,
    ::testing::Values(BrightCase{"grey16_anywhere", MM_TYPE_GREY16, 5, 2, 0, true, 4000},
                      BrightCase{"grey16_in_number", MM_TYPE_GREY16, 3, 0, 0, true, 10},
                      BrightCase{"grey16_in_number_counted", MM_TYPE_GREY16, 3, 0, 0, false, 4000},
                      BrightCase{"grey16_beside_number", MM_TYPE_GREY16, 4, 0, 0, true, 4000},
                      BrightCase{"grey8_second_row", MM_TYPE_GREY8, 0, 1, 0, true, 200},
                      BrightCase{"colour_blue_counts", MM_TYPE_BGR24, 6, 3, 0, true, 200},
                      BrightCase{"colour_red_counts", MM_TYPE_BGR24, 6, 3, 2, true, 200},
                      BrightCase{"colour_spread_of_number", MM_TYPE_BGR24, 4, 1, 2, true, 10},
                      BrightCase{"colour_beside_spread", MM_TYPE_BGR24, 5, 1, 1, true, 200},
                      BrightCase{"colour_third_row", MM_TYPE_BGR24, 0, 2, 0, true, 200}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
