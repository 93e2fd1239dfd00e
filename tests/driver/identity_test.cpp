// Driver lifecycle, camera identity per description, and the settings block's rules.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "kvcam_fixture.h"

namespace {

using KvCamDriver = kvtest::KvCamTest;

TEST_F(KvCamDriver, DefaultCameraIdentityAndInfo) {
    Open(nullptr);
    EXPECT_EQ(Info(KVCAM_INFO_CAMERA_TYPE), 3);
    EXPECT_EQ(Info(KVCAM_INFO_MAX_BIT_DEPTH), 12);
    EXPECT_EQ(Info(KVCAM_INFO_COOLER), 1);
    EXPECT_EQ(Info(KVCAM_INFO_MODEL_B), 0);
    EXPECT_EQ(Info(KVCAM_INFO_CCD_TYPE), 0);
    EXPECT_EQ(Info(KVCAM_INFO_CCD_WIDTH), 1392);
    EXPECT_EQ(Info(KVCAM_INFO_CCD_HEIGHT), 1040);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 1392);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_HEIGHT), 1040);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_SIZE), 1392 * 1040 * 2);
    EXPECT_EQ(Info(KVCAM_INFO_READOUT_SPEEDS), 4);
    EXPECT_EQ(KvCam_IsParamSupported(handle, KVCAM_PARAM_BINNING_H), KVCAM_OK);

    int32_t v;
    EXPECT_EQ(KvCam_GetInfo(handle, 99, &v), KVCAM_ERR_UNKNOWN_ID);
    uint16_t major = 0, minor = 0;
    ASSERT_EQ(KvCam_Version(&major, &minor), KVCAM_OK);
    EXPECT_GT(major, 0);

    // Exposure 10 us to the largest signed 32-bit microsecond count.
    ASSERT_EQ(KvCam_GetParamMin(&settings, KVCAM_PARAM_EXPOSURE, &v), KVCAM_OK);
    EXPECT_EQ(v, 10);
    ASSERT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_EXPOSURE, &v), KVCAM_OK);
    EXPECT_EQ(v, 2147483647);

    // Binning: a sparse table 1, 2, 4, 8.
    EXPECT_EQ(KvCam_IsSparseTable(&settings, KVCAM_PARAM_BINNING), KVCAM_OK);
    EXPECT_EQ(KvCam_IsRangeTable(&settings, KVCAM_PARAM_BINNING), KVCAM_ERR_NOT_THIS_KIND);
    int32_t table[32] = {};
    uint32_t n = 32;
    ASSERT_EQ(KvCam_GetParamSparseTable(&settings, KVCAM_PARAM_BINNING, table, &n), KVCAM_OK);
    ASSERT_EQ(n, 4u);
    EXPECT_EQ((std::vector<int32_t>(table, table + 4)), (std::vector<int32_t>{1, 2, 4, 8}));
    // A short table room gets what fits, and the true length.
    n = 2;
    table[2] = -7;
    ASSERT_EQ(KvCam_GetParamSparseTable(&settings, KVCAM_PARAM_BINNING, table, &n), KVCAM_OK);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(table[2], -7);
}

TEST_F(KvCamDriver, DescriptionSelectsCameraKinds) {
    Open(R"(
[camera]
type = 8
model_b = yes
cooler = no
horizontal_binning = no
[sensor]
width = 640
height = 480
colour = yes
bit_depth = 14
[binning]
kind = none
max = 4
)");
    EXPECT_EQ(Info(KVCAM_INFO_CAMERA_TYPE), 8);
    EXPECT_EQ(Info(KVCAM_INFO_MODEL_B), 1);
    EXPECT_EQ(Info(KVCAM_INFO_COOLER), 0);
    EXPECT_EQ(Info(KVCAM_INFO_CCD_TYPE), 1);
    EXPECT_EQ(Info(KVCAM_INFO_MAX_BIT_DEPTH), 14);
    EXPECT_EQ(Info(KVCAM_INFO_BAYER_PATTERN), KVCAM_BAYER_RGGB);
    EXPECT_EQ(KvCam_IsParamSupported(handle, KVCAM_PARAM_BINNING_H), KVCAM_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_BINNING_H, 2), KVCAM_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KvCam_IsSparseTable(&settings, KVCAM_PARAM_BINNING), KVCAM_ERR_NOT_THIS_KIND);
    EXPECT_EQ(KvCam_IsRangeTable(&settings, KVCAM_PARAM_BINNING), KVCAM_ERR_NOT_THIS_KIND);
    // Neither kind still takes every factor up to its maximum.
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_BINNING, 3), KVCAM_OK);
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_BINNING, 5), KVCAM_ERR_OUT_OF_RANGE);
}

TEST_F(KvCamDriver, RangeBinningAcceptsEveryFactorBetweenItsLimits) {
    Open("[binning]\nkind = range\nmin = 2\nmax = 6\n");
    EXPECT_EQ(KvCam_IsRangeTable(&settings, KVCAM_PARAM_BINNING), KVCAM_OK);
    int32_t lo, hi;
    ASSERT_EQ(KvCam_GetParamMin(&settings, KVCAM_PARAM_BINNING, &lo), KVCAM_OK);
    ASSERT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_BINNING, &hi), KVCAM_OK);
    EXPECT_EQ(lo, 2);
    EXPECT_EQ(hi, 6);
    for (int32_t b = lo; b <= hi; ++b) EXPECT_EQ(KvCam_SetParam(&settings, 3, b), KVCAM_OK);
    EXPECT_EQ(KvCam_SetParam(&settings, 3, 1), KVCAM_ERR_OUT_OF_RANGE);
    uint32_t n = 4;
    int32_t table[4];
    EXPECT_EQ(KvCam_GetParamSparseTable(&settings, 3, table, &n), KVCAM_ERR_NOT_THIS_KIND);
}

TEST_F(KvCamDriver, BadDescriptionsAreRefusedWithAReason) {
    EXPECT_EQ(KvCamSim_UseDescription("[sensor]\nwidht = 5\n"), KVCAM_ERR_OUT_OF_RANGE);
    EXPECT_NE(std::string(KvCamSim_LastError()).find("widht"), std::string::npos);
    EXPECT_EQ(KvCamSim_UseDescription("[sensor]\nbit_depth = 17\n"), KVCAM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(KvCamSim_UseDescription("[sensor]\ncolour = 1\nwidth = 101\n"),
              KVCAM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(KvCamSim_UseDescription("[exposure]\nmin_us = 100\nmax_us = 50\n"),
              KVCAM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(KvCamSim_UseDescription("[faults]\nexplode = 1\n"), KVCAM_ERR_OUT_OF_RANGE);
    // A refused text leaves the previous choice (here: the default camera) in place.
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    KvCamHandle h;
    ASSERT_EQ(KvCam_OpenCamera(1, &h), KVCAM_OK);
    int32_t width = 0;
    ASSERT_EQ(KvCam_GetInfo(h, KVCAM_INFO_CCD_WIDTH, &width), KVCAM_OK);
    EXPECT_EQ(width, 1392);
}

TEST_F(KvCamDriver, DescriptionFileFromEnvironmentAndSampleColourCamera) {
    const std::string path = ::testing::TempDir() + "/kvcam_env_camera.ini";
    {
        std::ofstream out(path);
        out << "[camera]\ntype = 4\n[sensor]\nwidth = 200\nheight = 100\n";
    }
    ASSERT_EQ(setenv("KVCAM_SIM_CONFIG", path.c_str(), 1), 0);
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    KvCamHandle h;
    ASSERT_EQ(KvCam_OpenCamera(1, &h), KVCAM_OK);
    int32_t v = 0;
    KvCam_GetInfo(h, KVCAM_INFO_CAMERA_TYPE, &v);
    EXPECT_EQ(v, 4);
    KvCam_GetInfo(h, KVCAM_INFO_CCD_WIDTH, &v);
    EXPECT_EQ(v, 200);
    ASSERT_EQ(KvCam_ReleaseDriver(), KVCAM_OK);
    // A file that cannot be read means no camera, with the reason kept.
    ASSERT_EQ(setenv("KVCAM_SIM_CONFIG", "/nonexistent/camera.ini", 1), 0);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_NO_CAMERA);
    EXPECT_NE(std::string(KvCamSim_LastError()).find("/nonexistent/camera.ini"), std::string::npos);
    unsetenv("KVCAM_SIM_CONFIG");
    std::remove(path.c_str());

    // The sample colour camera shipped with the driver loads and is a colour camera.
    KvCamSim_Reset();
    ASSERT_EQ(KvCamSim_UseDescriptionFile(KVCAM_CAMERAS_DIR "/colour.ini"), KVCAM_OK)
        << KvCamSim_LastError();
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    ASSERT_EQ(KvCam_OpenCamera(1, &h), KVCAM_OK);
    KvCam_GetInfo(h, KVCAM_INFO_CCD_TYPE, &v);
    EXPECT_EQ(v, 1);
}

TEST_F(KvCamDriver, LifecycleResults) {
    KvCamCameraInfo list[2];
    uint32_t count = 2;
    KvCamHandle h = 0;
    EXPECT_EQ(KvCam_ListCameras(list, &count), KVCAM_ERR_NOT_LOADED);
    EXPECT_EQ(KvCam_OpenCamera(1, &h), KVCAM_ERR_NOT_LOADED);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_ERR_NOT_LOADED);
    ASSERT_EQ(KvCamSim_UseDescription("[camera]\ncount = 2\n"), KVCAM_OK);
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_ALREADY_LOADED);

    // Room for one: count says two were found, only one entry is written.
    count = 1;
    list[1].cameraId = 777;
    ASSERT_EQ(KvCam_ListCameras(list, &count), KVCAM_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(list[1].cameraId, 777u);
    ASSERT_EQ(KvCam_OpenCamera(list[0].cameraId, &h), KVCAM_OK);
    EXPECT_NE(h, 0u);
    KvCamHandle again;
    EXPECT_EQ(KvCam_OpenCamera(list[0].cameraId, &again), KVCAM_ERR_ALREADY_OPEN);
    EXPECT_EQ(KvCam_OpenCamera(3, &again), KVCAM_ERR_NO_CAMERA);
    KvCamHandle second;
    ASSERT_EQ(KvCam_OpenCamera(2, &second), KVCAM_OK);
    EXPECT_NE(second, h);

    ASSERT_EQ(KvCam_CloseCamera(h), KVCAM_OK);
    int32_t v;
    EXPECT_EQ(KvCam_GetInfo(h, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_ERR_INVALID_HANDLE);
    EXPECT_EQ(KvCam_CloseCamera(h), KVCAM_ERR_INVALID_HANDLE);
    // Reopening gives a fresh handle; the stale one stays invalid.
    KvCamHandle reopened;
    ASSERT_EQ(KvCam_OpenCamera(1, &reopened), KVCAM_OK);
    EXPECT_NE(reopened, h);
    EXPECT_EQ(KvCam_GetInfo(h, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_ERR_INVALID_HANDLE);

    // Release closes whatever is open.
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_GetInfo(second, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_ERR_NOT_LOADED);
}

TEST_F(KvCamDriver, BadArgumentsGiveErrorsNotCrashes) {
    Open();
    int32_t v;
    uint32_t count = 1;
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_CAMERA_TYPE, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_GetInfo(0, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_ERR_INVALID_HANDLE);
    EXPECT_EQ(KvCam_GetInfo(0xDEADBEEF, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_ERR_INVALID_HANDLE);
    EXPECT_EQ(KvCam_ListCameras(nullptr, &count), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_ListCameras(nullptr, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_OpenCamera(1, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_Version(nullptr, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_ReadSettingsFromCam(handle, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_SetParam(nullptr, 0, 0), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_GetParam(&settings, 0, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_GetParam(&settings, 9, &v), KVCAM_ERR_UNKNOWN_ID);
    EXPECT_EQ(KvCam_GetParam(&settings, 1000, &v), KVCAM_ERR_UNKNOWN_ID);
    EXPECT_EQ(KvCam_SetParam(&settings, 17, 0), KVCAM_ERR_UNKNOWN_ID);
    EXPECT_EQ(KvCam_GrabFrame(handle, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    KvCamFrame frame{};
    EXPECT_EQ(KvCam_QueueFrame(handle, &frame, nullptr, 1, nullptr, 0), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_QueueFrame(handle, nullptr, kvtest::Completions::Callback, 1, nullptr, 0),
              KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_BayerToRgb(1, nullptr, &frame), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCam_Trigger(0), KVCAM_ERR_INVALID_HANDLE);
    EXPECT_EQ(KvCam_Abort(0), KVCAM_ERR_INVALID_HANDLE);
    EXPECT_EQ(KvCamSim_GetCounters(handle, nullptr), KVCAM_ERR_NULL_POINTER);
    EXPECT_EQ(KvCamSim_SetFault(99, -1, 0, 1, 0), KVCAM_ERR_OUT_OF_RANGE);
}

TEST_F(KvCamDriver, SettingsBlockSizeWordIsChecked) {
    Open();
    KvCamSettings block{};
    block.size = 256;
    EXPECT_EQ(KvCam_ReadSettingsFromCam(handle, &block), KVCAM_ERR_BAD_SETTINGS);
    EXPECT_EQ(KvCam_ReadDefaultSettings(handle, &block), KVCAM_ERR_BAD_SETTINGS);
    // A block with the right size word that the driver never filled is refused too.
    block.size = KVCAM_SETTINGS_SIZE;
    EXPECT_EQ(KvCam_SetParam(&block, KVCAM_PARAM_GAIN, 1), KVCAM_ERR_BAD_SETTINGS);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &block), KVCAM_ERR_BAD_SETTINGS);

    KvCamSettings good = settings;
    good.size = 261;
    int32_t v;
    EXPECT_EQ(KvCam_GetParam(&good, KVCAM_PARAM_GAIN, &v), KVCAM_ERR_BAD_SETTINGS);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &good), KVCAM_ERR_BAD_SETTINGS);
    EXPECT_EQ(sizeof(KvCamSettings), 260u);
}

TEST_F(KvCamDriver, SetParamChangesOnlyTheBlockUntilSent) {
    Open();
    Apply({{KVCAM_PARAM_GAIN, 100}});
    ASSERT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_GAIN, 200), KVCAM_OK);
    KvCamSettings fromCamera{};
    fromCamera.size = KVCAM_SETTINGS_SIZE;
    ASSERT_EQ(KvCam_ReadSettingsFromCam(handle, &fromCamera), KVCAM_OK);
    int32_t gain;
    ASSERT_EQ(KvCam_GetParam(&fromCamera, KVCAM_PARAM_GAIN, &gain), KVCAM_OK);
    EXPECT_EQ(gain, 100);
    ASSERT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_OK);
    ASSERT_EQ(KvCam_ReadSettingsFromCam(handle, &fromCamera), KVCAM_OK);
    ASSERT_EQ(KvCam_GetParam(&fromCamera, KVCAM_PARAM_GAIN, &gain), KVCAM_OK);
    EXPECT_EQ(gain, 200);

    // Factory defaults do not follow what was sent.
    ASSERT_EQ(KvCam_ReadDefaultSettings(handle, &fromCamera), KVCAM_OK);
    ASSERT_EQ(KvCam_GetParam(&fromCamera, KVCAM_PARAM_GAIN, &gain), KVCAM_OK);
    EXPECT_EQ(gain, 0);
    int32_t offset;
    ASSERT_EQ(KvCam_GetParam(&fromCamera, KVCAM_PARAM_OFFSET, &offset), KVCAM_OK);
    EXPECT_EQ(offset, 3995);
}

TEST_F(KvCamDriver, ParameterValuesAreCheckedAndExposureRounded) {
    Open(
        "[sensor]\nwidth = 128\nheight = 96\n[exposure]\nmin_us = 40\nmax_us = 1000000\n"
        "quantum_us = 25\n");
    struct Case {
        uint32_t id;
        int32_t value;
        int32_t result;
    };
    for (const Case& c : std::vector<Case>{{KVCAM_PARAM_GAIN, 4096, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_GAIN, -1, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_OFFSET, 4095, KVCAM_OK},
                                           {KVCAM_PARAM_BINNING, 3, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_READOUT_SPEED, 4, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_READOUT_SPEED, 3, KVCAM_OK},
                                           {KVCAM_PARAM_TRIGGER, 1, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_TRIGGER, 5, KVCAM_OK},
                                           {KVCAM_PARAM_FORMAT, 4, KVCAM_ERR_BAD_FORMAT},
                                           {KVCAM_PARAM_FORMAT, 8, KVCAM_ERR_BAD_FORMAT},
                                           {KVCAM_PARAM_ROI_WIDTH, 0, KVCAM_ERR_OUT_OF_RANGE},
                                           {KVCAM_PARAM_ROI_X, 128, KVCAM_ERR_OUT_OF_RANGE}}) {
        EXPECT_EQ(KvCam_SetParam(&settings, c.id, c.value), c.result)
            << "param " << c.id << " value " << c.value;
    }
    // The camera rounds to its 25 us quantum and keeps within its limits.
    const std::pair<int32_t, int32_t> rounding[] = {
        {1012, 1000}, {1013, 1025}, {5, 50}, {-20, 50}, {2000000, 1000000}};
    for (auto [requested, actual] : rounding) {
        ASSERT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_EXPOSURE, requested), KVCAM_OK);
        EXPECT_EQ(Param(KVCAM_PARAM_EXPOSURE), actual) << "requested " << requested;
    }
}

}  // namespace
