// Region and binning at the sensor's edges: region limits stay ordered at every binning the
// camera offers, frames cut at the far corner stay on the sensor, and a block the camera could
// not have filled never reaches the capture.
#include <string>

#include "kvcam_fixture.h"

namespace {

struct EdgeCamera {
    const char* name;
    const char* text;
    int32_t factors;  // the camera offers 1..factors (range), else its sparse table
};

// Largest binning as large as a side, on sizes most factors do not divide, with each region
// rule and binning kind.
const EdgeCamera kEdgeCameras[] = {
    {"SparseUpToTheSide", "[sensor]\nwidth = 16\nheight = 18\n[binning]\ntable = 1, 3, 16\n", 0},
    {"RangeUpToTheShorterSide",
     "[sensor]\nwidth = 40\nheight = 18\n[binning]\nkind = range\nmax = 18\n", 18},
    {"TypeEightOddWidth",
     "[camera]\ntype = 8\n[sensor]\nwidth = 18\nheight = 20\n[binning]\nkind = range\nmax = 18\n",
     18},
    {"TypeEightVerticalOnly",
     "[camera]\ntype = 8\nhorizontal_binning = no\n[sensor]\n"
     "width = 22\nheight = 17\n[binning]\nkind = none\nmax = 17\n",
     17},
};

class KvCamBinningEdge : public kvtest::KvCamTest,
                         public ::testing::WithParamInterface<EdgeCamera> {};

TEST_P(KvCamBinningEdge, LimitsStayOrderedAndFarCornerFramesStayOnTheSensor) {
    Open(GetParam().text);
    Apply({{KVCAM_PARAM_EXPOSURE, 10}});
    const int32_t sensorW = Info(KVCAM_INFO_CCD_WIDTH), sensorH = Info(KVCAM_INFO_CCD_HEIGHT);
    std::vector<int32_t> factors(KVCAM_MAX_SPARSE_ENTRIES);
    uint32_t n = KVCAM_MAX_SPARSE_ENTRIES;
    if (GetParam().factors == 0) {
        ASSERT_EQ(KvCam_GetParamSparseTable(&settings, 3, factors.data(), &n), KVCAM_OK);
    } else {
        n = uint32_t(GetParam().factors);
        for (uint32_t i = 0; i < n; ++i) factors[i] = int32_t(i) + 1;
    }
    factors.resize(n);
    // Square binning then the vertical factor alone reach every pair, with or without a
    // horizontal parameter of its own.
    for (int32_t h : factors) {
        for (int32_t v : factors) {
            SCOPED_TRACE(std::to_string(h) + " x " + std::to_string(v));
            ASSERT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_BINNING, h), KVCAM_OK);
            ASSERT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_BINNING_V, v), KVCAM_OK);
            // Ask for the far corner: every region parameter at its largest.
            for (uint32_t id = KVCAM_PARAM_ROI_X; id <= KVCAM_PARAM_ROI_HEIGHT; ++id) {
                int32_t lo = 1, hi = 0;
                ASSERT_EQ(KvCam_GetParamMin(&settings, id, &lo), KVCAM_OK);
                ASSERT_EQ(KvCam_GetParamMax(&settings, id, &hi), KVCAM_OK);
                ASSERT_LE(lo, hi) << "parameter " << id;
                ASSERT_EQ(KvCam_SetParam(&settings, id, hi), KVCAM_OK);
            }
            ASSERT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_OK);
            Grabbed g = Grab();
            ASSERT_EQ(g.result, KVCAM_OK);
            // Every delivered pixel's bin lies on the sensor (type 8 counts X in sensor pixels).
            const int32_t x = Param(KVCAM_PARAM_ROI_X), y = Param(KVCAM_PARAM_ROI_Y);
            const int32_t right = Info(KVCAM_INFO_CAMERA_TYPE) == 8
                                      ? x + int32_t(g.frame.width) * h
                                      : (x + int32_t(g.frame.width)) * h;
            EXPECT_LE(right, sensorW);
            EXPECT_LE((y + int32_t(g.frame.height)) * v, sensorH);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Driver, KvCamBinningEdge, ::testing::ValuesIn(kEdgeCameras),
                         [](const auto& info) { return std::string(info.param.name); });

using KvCamForeignBlock = kvtest::KvCamTest;

// A block filled for a larger camera with more binning and readout speeds is refused by a
// smaller one, which goes on capturing with its own settings.
TEST_F(KvCamForeignBlock, ValuesTheCameraCannotTakeAreRefusedOnSend) {
    Open("[sensor]\nwidth = 256\nheight = 256\n[binning]\ntable = 1, 2, 32\n");
    Apply({{KVCAM_PARAM_BINNING, 32}, {KVCAM_PARAM_READOUT_SPEED, 3}});
    KvCamSettings foreign = settings;
    KvCamSim_Reset();
    Open("[sensor]\nwidth = 16\nheight = 16\n[binning]\ntable = 1, 2\n[readout]\nspeeds = 20\n");
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &foreign), KVCAM_ERR_BAD_SETTINGS);
    Grabbed g = Grab();
    ASSERT_EQ(g.result, KVCAM_OK);
    EXPECT_EQ(g.frame.width * g.frame.height, 16u * 16u);
}

}  // namespace
