// Every injected fault, from the test hooks and from the description's [faults] section.
#include "kvcam_fixture.h"

namespace {

using kvtest::Completions;

using kvtest::FrameSet;

using KvCamFault = kvtest::KvCamTest;

TEST_F(KvCamFault, NoCameraListed) {
    ASSERT_EQ(KvCamSim_UseDescription("[camera]\ncount = 0\n"), KVCAM_OK);
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    KvCamCameraInfo entry;
    uint32_t count = 1;
    ASSERT_EQ(KvCam_ListCameras(&entry, &count), KVCAM_OK);
    EXPECT_EQ(count, 0u);
    KvCamHandle h;
    EXPECT_EQ(KvCam_OpenCamera(1, &h), KVCAM_ERR_NO_CAMERA);
}

TEST_F(KvCamFault, LoadAnswersAlreadyLoadedOnce) {
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_LOAD, -1, 0, 1, 0), KVCAM_OK);
    // The driver counts as loaded after the 7, as when another client had loaded it.
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_ALREADY_LOADED);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_OK);

    // From the description it fires once per description, not once per load.
    KvCamSim_Reset();
    ASSERT_EQ(KvCamSim_UseDescription("[faults]\nload = 1\n"), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_ALREADY_LOADED);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_OK);
}

TEST_F(KvCamFault, OtherLoadFailuresLeaveTheDriverUnloaded) {
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_LOAD, -1, 0, 1, KVCAM_ERR_COMMS), KVCAM_OK);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_COMMS);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_ERR_NOT_LOADED);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_OK);
}

TEST_F(KvCamFault, ListOpenAndCloseFail) {
    ASSERT_EQ(KvCamSim_UseDescription("[faults]\nlist = 1\nopen = 1, 16\n"), KVCAM_OK);
    ASSERT_EQ(KvCam_LoadDriver(), KVCAM_OK);
    KvCamCameraInfo entry;
    uint32_t count = 1;
    EXPECT_EQ(KvCam_ListCameras(&entry, &count), KVCAM_ERR_FAILED);
    EXPECT_EQ(count, 0u);
    count = 1;
    EXPECT_EQ(KvCam_ListCameras(&entry, &count), KVCAM_OK);
    KvCamHandle h;
    EXPECT_EQ(KvCam_OpenCamera(entry.cameraId, &h), KVCAM_ERR_COMMS);
    ASSERT_EQ(KvCam_OpenCamera(entry.cameraId, &h), KVCAM_OK);

    // A failed close leaves the camera open and usable.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_CLOSE, -1, 0, 1, 0), KVCAM_OK);
    EXPECT_EQ(KvCam_CloseCamera(h), KVCAM_ERR_FAILED);
    int32_t v;
    EXPECT_EQ(KvCam_GetInfo(h, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_OK);
    EXPECT_EQ(KvCam_CloseCamera(h), KVCAM_OK);
}

TEST_F(KvCamFault, SettingsReadAndSendFailAlwaysOrNextN) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_READ_SETTINGS, -1, 0, 2, 0), KVCAM_OK);
    KvCamSettings block{};
    block.size = KVCAM_SETTINGS_SIZE;
    EXPECT_EQ(KvCam_ReadSettingsFromCam(handle, &block), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_ReadSettingsFromCam(handle, &block), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_ReadSettingsFromCam(handle, &block), KVCAM_OK);

    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_READ_DEFAULTS, -1, 0, KVCAMSIM_ALWAYS, 0), KVCAM_OK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(KvCam_ReadDefaultSettings(handle, &block), 1);

    ASSERT_EQ(
        KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_SETTINGS, -1, 0, KVCAMSIM_ALWAYS, KVCAM_ERR_COMMS),
        KVCAM_OK);
    ASSERT_EQ(KvCam_SetParam(&block, KVCAM_PARAM_GAIN, 500), KVCAM_OK);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &block), KVCAM_ERR_COMMS);
    // A refused send leaves the camera as it was.
    ReadSettings();
    EXPECT_EQ(Param(KVCAM_PARAM_GAIN), 0);
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_SETTINGS, -1, 0, 0, 0), KVCAM_OK);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &block), KVCAM_OK);
}

TEST_F(KvCamFault, OneParameterRefused) {
    Open("[sensor]\nwidth = 128\nheight = 96\n[faults]\nset_param.7 = always\n");
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_TRIGGER, 0), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_TRIGGER, 5), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_GAIN, 10), KVCAM_OK);
    // The refusal changes nothing in the block.
    EXPECT_EQ(Param(KVCAM_PARAM_TRIGGER), 0);
}

TEST_F(KvCamFault, InfoQueriesFailPerId) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_MODEL_B, 0, KVCAMSIM_ALWAYS, 0),
              KVCAM_OK);
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_COOLER, 1, 1, 0), KVCAM_OK);
    int32_t v = -5;
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_MODEL_B, &v), KVCAM_ERR_FAILED);
    EXPECT_EQ(v, -5);  // the output is left alone on failure
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_COOLER, &v), KVCAM_OK);  // skipped once
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_COOLER, &v), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_COOLER, &v), KVCAM_OK);
    EXPECT_EQ(KvCam_GetInfo(handle, KVCAM_INFO_CAMERA_TYPE, &v), KVCAM_OK);
}

TEST_F(KvCamFault, ExposureLimitQueriesFail) {
    Open("[sensor]\nwidth = 128\nheight = 96\n[faults]\nget_min.2 = always\nget_max.2 = 1\n");
    int32_t v;
    EXPECT_EQ(KvCam_GetParamMin(&settings, KVCAM_PARAM_EXPOSURE, &v), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_EXPOSURE, &v), KVCAM_ERR_FAILED);
    EXPECT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_EXPOSURE, &v), KVCAM_OK);
    EXPECT_EQ(KvCam_GetParamMin(&settings, KVCAM_PARAM_BINNING, &v), KVCAM_OK);
}

TEST_F(KvCamFault, RegionRefusedOnSendButOtherSendsPass) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_REGION, -1, 0, 1, 0), KVCAM_OK);
    // A send that leaves the region alone is not affected.
    Apply({{KVCAM_PARAM_GAIN, 100}});
    ASSERT_EQ(KvCam_SetParam(&settings, KVCAM_PARAM_ROI_X, 10), KVCAM_OK);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_ERR_REFUSED);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 128);
    EXPECT_EQ(KvCam_SendSettingsToCam(handle, &settings), KVCAM_OK);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 118);
}

TEST_F(KvCamFault, GrabsFailNTimesWithTheTransientCode) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, -1, 0, 3, 0), KVCAM_OK);
    for (int i = 0; i < 3; ++i) {
        Grabbed g = Grab();
        EXPECT_EQ(g.result, KVCAM_ERR_GRAB_TRANSIENT);
        EXPECT_EQ(g.frame.errorCode, KVCAM_ERR_GRAB_TRANSIENT);
    }
    Grabbed g = Grab();
    EXPECT_EQ(g.result, KVCAM_OK);
    EXPECT_EQ(g.frame.frameNumber, 1u);
}

class KvCamQueueFault : public kvtest::KvCamTest {
protected:
    // Streams `n` frames, returning the completions in order.
    void Stream(FrameSet& set, Completions& done, std::vector<int32_t>& queueResults) {
        Apply({{KVCAM_PARAM_EXPOSURE, 1000}});
        ASSERT_EQ(KvCam_SetStreaming(handle, 1), KVCAM_OK);
        for (size_t i = 0; i < set.frames.size(); ++i) {
            queueResults.push_back(
                KvCam_QueueFrame(handle, &set.frames[i], Completions::Callback, 1, &done, i));
        }
    }
};

TEST_F(KvCamQueueFault, NthQueueCallRefused) {
    Open("[sensor]\nwidth = 64\nheight = 48\nframe_counter = yes\n[faults]\nqueue = 1, 18, 2\n");
    FrameSet set(5, 64 * 48 * 2);
    Completions done;
    std::vector<int32_t> results;
    Stream(set, done, results);
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, KVCAM_ERR_QUEUE_FULL, 0, 0}));
    ASSERT_TRUE(done.WaitFor(4));
    std::vector<uintptr_t> order;
    for (const auto& e : done.entries) order.push_back(e.userData);
    EXPECT_EQ(order, (std::vector<uintptr_t>{0, 1, 3, 4}));
    EXPECT_EQ(Counters().completed, 4u);
}

TEST_F(KvCamQueueFault, NthFrameCompletesWithAnError) {
    Open("[sensor]\nwidth = 64\nheight = 48\nframe_counter = yes\n");
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_FRAME_ERROR, -1, 2, 1, KVCAM_ERR_COMMS), 0);
    FrameSet set(5, 64 * 48 * 2);
    Completions done;
    std::vector<int32_t> results;
    Stream(set, done, results);
    ASSERT_TRUE(done.WaitFor(5));
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(done.entries[i].userData, i);
        EXPECT_EQ(done.entries[i].error, i == 2 ? KVCAM_ERR_COMMS : KVCAM_OK);
    }
    // The failed frame delivered nothing, so the numbering has no gap.
    EXPECT_EQ(set.frames[3].frameNumber, 3u);
    const KvCamSimCounters c = Counters();
    EXPECT_EQ(c.completed, 4u);
    EXPECT_EQ(c.failed, 1u);
}

TEST_F(KvCamQueueFault, NthFrameNeverCompletesUntilAborted) {
    Open("[sensor]\nwidth = 64\nheight = 48\n");
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_FRAME_LOST, -1, 1, 1, 0), KVCAM_OK);
    FrameSet set(4, 64 * 48 * 2);
    Completions done;
    std::vector<int32_t> results;
    Stream(set, done, results);
    ASSERT_TRUE(done.WaitFor(3));
    std::vector<uintptr_t> order;
    for (const auto& e : done.entries) order.push_back(e.userData);
    EXPECT_EQ(order, (std::vector<uintptr_t>{0, 2, 3}));
    EXPECT_EQ(Counters().lost, 1u);
    EXPECT_EQ(Counters().pending, 0u);
    ASSERT_EQ(KvCam_Abort(handle), KVCAM_OK);
    ASSERT_EQ(done.Count(), 4u);
    EXPECT_EQ(done.entries[3].userData, 1u);
    EXPECT_EQ(done.entries[3].error, KVCAM_ERR_ABORTED);
    EXPECT_EQ(Counters().lost, 0u);
    EXPECT_EQ(Counters().aborted, 1u);
}

TEST_F(KvCamFault, ClearFaultsDisarmsEverything) {
    Open();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, -1, 0, KVCAMSIM_ALWAYS, 0), KVCAM_OK);
    EXPECT_EQ(Grab().result, KVCAM_ERR_GRAB_TRANSIENT);
    KvCamSim_ClearFaults();
    EXPECT_EQ(Grab().result, KVCAM_OK);
}

}  // namespace
