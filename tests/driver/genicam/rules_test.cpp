// The GenICam backend's settings-block rules over hand-made camera limits: what a camera with
// or without a feature takes, how registers spread over a feature's range, and the pixel
// format names. No camera is needed.
#include <gtest/gtest.h>

#include "genicam/rules.h"

namespace {

using namespace kvcam;
using namespace kvcam::genicam;

Bounds Range(double min, double max, double inc, bool isFloat = false) {
    return Bounds{true, isFloat, min, max, inc};
}

// A 1000 x 800 sensor with Width/Height in steps of 8, binning 1..4, exposure in 20 us steps.
Limits Camera() {
    Limits l;
    l.sensorWidth = 1000;
    l.sensorHeight = 800;
    l.width = Range(8, 1000, 8);
    l.height = Range(8, 800, 8);
    l.offsetX = l.offsetY = Range(0, 992, 1);
    l.binH = l.binV = Range(1, 4, 1);
    l.exposure = Range(15, 1e6, 20, true);
    l.gain = Range(0, 24, 0, true);
    l.mono8 = "Mono8";
    l.mono16 = "Mono12";
    l.mono16Bits = 12;
    return l;
}

ParamValues Block() {
    ParamValues v{};
    v[KVCAM_PARAM_BINNING] = v[KVCAM_PARAM_BINNING_H] = v[KVCAM_PARAM_BINNING_V] = 1;
    return v;
}

TEST(GenicamRules, ParametersAreCheckedAgainstWhatTheCameraHas) {
    struct Case {
        const char* what;
        uint32_t id;
        int32_t value;
        int32_t result;
        int32_t stored;  // the value the block holds afterwards
    };
    const Case cases[] = {
        {"exposure onto the camera's grid", KVCAM_PARAM_EXPOSURE, 1000, KVCAM_OK, 995},
        {"exposure below the minimum", KVCAM_PARAM_EXPOSURE, 1, KVCAM_OK, 15},
        {"gain register", KVCAM_PARAM_GAIN, 4095, KVCAM_OK, 4095},
        {"gain register past 4095", KVCAM_PARAM_GAIN, 4096, KVCAM_ERR_OUT_OF_RANGE, 0},
        {"no black level: the neutral offset", KVCAM_PARAM_OFFSET, 4095, KVCAM_OK, 4095},
        {"no black level: any other", KVCAM_PARAM_OFFSET, 100, KVCAM_ERR_NOT_SUPPORTED, 0},
        {"no trigger at all", KVCAM_PARAM_TRIGGER, KVCAM_TRIGGER_SOFTWARE, KVCAM_ERR_NOT_SUPPORTED,
         0},
        {"no colour format", KVCAM_PARAM_FORMAT, KVCAM_FORMAT_BAYER8, KVCAM_ERR_BAD_FORMAT, 0},
        {"mono 16 is the camera's Mono12", KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16, KVCAM_OK, 3},
        {"the widest region", KVCAM_PARAM_ROI_WIDTH, 1000, KVCAM_OK, 1000},
        {"past the sensor", KVCAM_PARAM_ROI_WIDTH, 1001, KVCAM_ERR_OUT_OF_RANGE, 0},
        {"binning past the camera's", KVCAM_PARAM_BINNING, 5, KVCAM_ERR_OUT_OF_RANGE, 1},
    };
    const Limits l = Camera();
    for (const Case& c : cases) {
        ParamValues v = Block();
        EXPECT_EQ(ApplyParam(l, v, c.id, c.value), c.result) << c.what;
        EXPECT_EQ(v[c.id], c.stored) << c.what;
    }
}

TEST(GenicamRules, RegionLimitsFollowTheBinning) {
    const Limits l = Camera();
    ParamValues v = Block();
    ASSERT_EQ(ApplyParam(l, v, KVCAM_PARAM_BINNING, 4), KVCAM_OK);
    EXPECT_EQ(v[KVCAM_PARAM_BINNING_H], 4);
    EXPECT_EQ(v[KVCAM_PARAM_BINNING], 4);
    int32_t maxW = 0, maxX = 0;
    ASSERT_EQ(ParamMax(l, v, KVCAM_PARAM_ROI_WIDTH, maxW), KVCAM_OK);
    ASSERT_EQ(ParamMax(l, v, KVCAM_PARAM_ROI_X, maxX), KVCAM_OK);
    EXPECT_EQ(maxW, 250);
    EXPECT_EQ(maxX, 250 - 8);
    // A camera that does not bin offers the one factor as a table.
    Limits plain = l;
    plain.binH = plain.binV = Bounds{};
    EXPECT_FALSE(BinningIsRange(plain));
    EXPECT_EQ(ApplyParam(plain, v, KVCAM_PARAM_BINNING, 2), KVCAM_ERR_OUT_OF_RANGE);
}

TEST(GenicamRules, RegistersSpreadOverTheFeaturesRange) {
    const Bounds integer = Range(0, 10, 1);
    const Bounds real = Range(-3, 21, 0, true);
    EXPECT_EQ(FeatureOfRegister(integer, 4095), 10);
    EXPECT_EQ(FeatureOfRegister(integer, 2048), 5);  // integer features are rounded
    EXPECT_DOUBLE_EQ(FeatureOfRegister(real, 0), -3);
    for (int32_t reg : {0, 1, 1000, 4095})
        EXPECT_EQ(RegisterOfFeature(real, FeatureOfRegister(real, reg)), reg) << reg;
    EXPECT_EQ(RegisterOfFeature(Range(5, 5, 1), 5), 0);  // a range of one value
}

TEST(GenicamRules, PixelFormatNamesGiveDepthAndMosaic) {
    const std::pair<const char*, std::pair<int32_t, int32_t>> names[] = {
        {"Mono8", {8, KVCAM_BAYER_NONE}},      {"Mono12", {12, KVCAM_BAYER_NONE}},
        {"Mono16", {16, KVCAM_BAYER_NONE}},    {"BayerRG8", {8, KVCAM_BAYER_RGGB}},
        {"BayerGR8", {8, KVCAM_BAYER_GRBG}},   {"BayerGB16", {16, KVCAM_BAYER_GBRG}},
        {"BayerBG12", {12, KVCAM_BAYER_BGGR}}, {"RGB8", {8, KVCAM_BAYER_NONE}},
    };
    for (const auto& [name, expected] : names) {
        EXPECT_EQ(BitsOfEntry(name), expected.first) << name;
        EXPECT_EQ(PatternOfEntry(name), expected.second) << name;
    }
}

}  // namespace
