// The GenICam backend against Aravis's in-process fake camera (512 x 512 Mono8 of a
// 2048 x 2048 sensor, ExposureTimeAbs 10 us .. 10 s, GainRaw 0..10, no black level, binning
// 1..16, software trigger): the mapping of the driver's parameters to features, frames
// through grab and the stream queue, abort, and the errors of a camera that is not there.
#include <atomic>

#include "kvcam_fixture.h"

namespace {

using kvtest::Completions;
using kvtest::FrameSet;

const char* kFake = "[camera]\nbackend = genicam\ndevice = Fake_1\n[genicam]\nframe_rate = 200\n";

class GenicamTest : public kvtest::KvCamTest {
protected:
    void SetUp() override {
        KvCamTest::SetUp();
        bx::kernel::SetTimeWarp(1);  // the fake camera keeps real time
    }
    void Set(uint32_t id, int32_t value, int32_t expected = KVCAM_OK) {
        EXPECT_EQ(KvCam_SetParam(&settings, id, value), expected)
            << "param " << id << " = " << value;
    }
    std::string Text(uint32_t id) {
        char text[64];
        EXPECT_EQ(KvCam_GetText(handle, id, text, sizeof text), KVCAM_OK);
        return text;
    }
};

TEST_F(GenicamTest, IdentityAndGeometryComeFromTheCamerasFeatures) {
    Open(kFake);
    EXPECT_EQ(Text(KVCAM_TEXT_BACKEND), "genicam");
    EXPECT_EQ(Text(KVCAM_TEXT_DEVICE), "Fake_1");
    EXPECT_EQ(Text(KVCAM_TEXT_VENDOR), "Aravis");
    EXPECT_EQ(Text(KVCAM_TEXT_MODEL), "Fake");
    EXPECT_EQ(Info(KVCAM_INFO_CCD_WIDTH), 2048);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 512);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_SIZE), 512 * 512);
    EXPECT_EQ(Info(KVCAM_INFO_MAX_BIT_DEPTH), 16);
    EXPECT_EQ(Info(KVCAM_INFO_CCD_TYPE), 1);  // it offers Bayer formats
    int32_t temperature = 0;
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_TEMPERATURE, &temperature), KVCAM_ERR_NOT_SUPPORTED);
    KvCamCameraInfo list[2];
    uint32_t count = 2;
    ASSERT_EQ(KvCam_ListCameras(list, &count), KVCAM_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(list[0].model, "Fake");
}

TEST_F(GenicamTest, ParametersMapToFeaturesAndReadBackWhatTheCameraTook) {
    Open(kFake);
    int32_t low = 0, high = 0;
    ASSERT_EQ(KvCam_GetParamMin(&settings, KVCAM_PARAM_EXPOSURE, &low), KVCAM_OK);
    ASSERT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_EXPOSURE, &high), KVCAM_OK);
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 10'000'000);
    Set(KVCAM_PARAM_EXPOSURE, 3);  // clamped to the minimum, as the camera would
    EXPECT_EQ(Param(KVCAM_PARAM_EXPOSURE), 10);
    // Gain spans the camera's GainRaw range; a camera without black level takes only the
    // register that adds none.
    Set(KVCAM_PARAM_GAIN, 4095);
    Set(KVCAM_PARAM_OFFSET, 100, KVCAM_ERR_NOT_SUPPORTED);
    Set(KVCAM_PARAM_OFFSET, 4095);
    EXPECT_EQ(KvCam_IsParamSupported(handle, KVCAM_PARAM_OFFSET), KVCAM_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KvCam_IsRangeTable(&settings, KVCAM_PARAM_BINNING), KVCAM_OK);
    Set(KVCAM_PARAM_BINNING, 2);
    Set(KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO16);
    Set(KVCAM_PARAM_EXPOSURE, 2500);
    Set(KVCAM_PARAM_ROI_WIDTH, 1000);
    Set(KVCAM_PARAM_ROI_X, 24);
    Set(KVCAM_PARAM_ROI_WIDTH, 1100, KVCAM_ERR_OUT_OF_RANGE);  // past 2048 / 2
    ASSERT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_OK);
    ReadSettings();
    EXPECT_EQ(Param(KVCAM_PARAM_GAIN), 4095);
    EXPECT_EQ(Param(KVCAM_PARAM_EXPOSURE), 2500);
    EXPECT_EQ(Param(KVCAM_PARAM_BINNING_H), 2);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_WIDTH), 1000);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_X), 24);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_SIZE), 1000 * 512 * 2);
}

TEST_F(GenicamTest, GrabDeliversOneFrameWithItsOwnIdAndTime) {
    Open(kFake);
    const int64_t before = bx::kernel::NowMicroseconds();
    Grabbed first = Grab();
    Grabbed second = Grab();
    ASSERT_EQ(first.result, KVCAM_OK);
    ASSERT_EQ(second.result, KVCAM_OK);
    EXPECT_EQ(first.frame.width, 512u);
    EXPECT_EQ(first.frame.format, uint32_t(KVCAM_FORMAT_MONO8));
    EXPECT_NE(first.Mean(0, 0, 512, 512), first.Pixel(0, 0));  // a picture, not a fill
    EXPECT_GT(second.frame.frameNumber, first.frame.frameNumber);
    EXPECT_GE(first.frame.timestamp, before - 1'000'000);
    EXPECT_LE(first.frame.timestamp, second.frame.timestamp);
    // A buffer too small for the image is refused; a grab from the camera's thread is too.
    KvCamFrame small{};
    std::vector<uint8_t> room(100);
    small.buffer = room.data();
    small.bufferSize = 100;
    EXPECT_EQ(KvCam_GrabFrame(handle, &small), KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Counters().grabbed, 2u);
}

TEST_F(GenicamTest, QueuedFramesStreamInOrderWithoutGaps) {
    Open(kFake);
    FrameSet set(6, static_cast<size_t>(Info(KVCAM_INFO_IMAGE_SIZE)));
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    for (size_t i = 0; i < set.frames.size(); ++i)
        ASSERT_EQ(KvCam_QueueFrame(handle, &set.frames[i], Completions::Callback, 1, &done, i),
                  KVCAM_OK);
    ASSERT_TRUE(done.WaitFor(6));
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(done.entries[i].userData, i);
        EXPECT_EQ(done.entries[i].error, KVCAM_OK);
        if (i > 0) {
            EXPECT_EQ(set.frames[i].frameNumber, set.frames[i - 1].frameNumber + 1);
        }
    }
    const KvCamSimCounters c = Counters();
    EXPECT_EQ(c.completed, 6u);
    EXPECT_EQ(c.missingFrameIds, 0u);
    EXPECT_EQ(c.pending, 0u);
}

TEST_F(GenicamTest, AbortHandsEveryBufferBackAndNoneIsWrittenAfter) {
    // Two frames a second: the first completes, the others are still waiting at the abort.
    Open("[camera]\nbackend = genicam\ndevice = Fake_1\n[genicam]\nframe_rate = 2\n");
    FrameSet set(3, static_cast<size_t>(Info(KVCAM_INFO_IMAGE_SIZE)));
    Completions done;
    ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
    for (size_t i = 0; i < 3; ++i)
        ASSERT_EQ(KvCam_QueueFrame(handle, &set.frames[i], Completions::Callback, 1, &done, i),
                  KVCAM_OK);
    ASSERT_TRUE(done.WaitFor(1));
    ASSERT_EQ(KvCam_Abort(handle), KVCAM_OK);
    ASSERT_EQ(done.entries.size(), 3u);  // the callbacks ran before Abort returned
    EXPECT_EQ(done.entries[0].error, KVCAM_OK);
    EXPECT_EQ(done.entries[2].error, KVCAM_ERR_ABORTED);
    // The camera streams on, with no buffer of ours to write into.
    for (auto& buffer : set.buffers) std::fill(buffer.begin(), buffer.end(), 0xA5);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    for (auto& buffer : set.buffers)
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xA5; }));
    const KvCamSimCounters c = Counters();
    EXPECT_EQ(c.aborted, 2u);
    EXPECT_GE(c.underruns, 1u);
}

TEST_F(GenicamTest, AMissingDeviceOrFeatureSaysWhatIsMissing) {
    struct Case {
        const char* description;
        int32_t openResult;  // the load fails for a missing device, the open for a feature
        const char* said;
    };
    const Case cases[] = {
        {"[camera]\nbackend = genicam\ndevice = NoSuchCamera\n", -1, "no camera 'NoSuchCamera'"},
        {"[camera]\nbackend = genicam\ndevice = Fake_1\n[features]\nexposure = ExposureNever\n",
         KVCAM_ERR_NO_CAMERA, "no feature 'ExposureNever'"},
    };
    for (const Case& c : cases) {
        KvCamSim_Reset();
        ASSERT_EQ(KvCamSim_UseDescription(c.description), KVCAM_OK) << KvCamSim_LastError();
        const int32_t load = KvCam_LoadDriver();
        if (c.openResult < 0) {
            EXPECT_EQ(load, KVCAM_ERR_NO_CAMERA);
        } else {
            ASSERT_EQ(load, KVCAM_OK);
            EXPECT_EQ(KvCam_OpenCamera(1, &handle), c.openResult);
        }
        EXPECT_NE(std::string(KvCamSim_LastError()).find(c.said), std::string::npos)
            << KvCamSim_LastError();
    }
    // The variable names the backend too, and a malformed one is refused with its text.
    KvCamSim_Reset();
    ::setenv("KVCAM_DEVICE", "genicam", 1);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_NO_CAMERA);
    EXPECT_NE(std::string(KvCamSim_LastError()).find("KVCAM_DEVICE"), std::string::npos);
    ::setenv("KVCAM_DEVICE", "genicam:Fake_1", 1);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    ::unsetenv("KVCAM_DEVICE");
}

}  // namespace
