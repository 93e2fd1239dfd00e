// Live video from a GenICam camera through the driver's Aravis backend, against a plain Aravis
// stream loop on the same camera, on the real clock.
//
// genicam_rate: frames shown per second over 1,000 frames (BENCH_GENICAM_FRAMES) of the
// control's live video on Aravis's in-process fake camera (Fake_1) set to 200 frames/s, on a
// 512 x 512 window, against the frames per second a bare stream loop (push two buffers, pop,
// push back) takes from the same camera at the same size and pixel format with the same
// number of buffers (two, as live video queues). Both runs also report the frame ids missing from
// what they received and the camera's underruns.
#include <arv.h>
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"
#include "open_control.h"

namespace {

constexpr const char* kDevice = "Fake_1";
constexpr double kCameraFps = 200;
constexpr int kBuffers = 2;  // live video's two queued frames
const char* const kCamera =
    "[camera]\nbackend = genicam\ndevice = Fake_1\n[genicam]\nframe_rate = 200\n";

int FramesToTake() {
    const char* text = std::getenv("BENCH_GENICAM_FRAMES");
    const int n = text ? std::atoi(text) : 1000;
    return n > 10 ? n : 1000;
}

struct Figure {
    double fps = 0;
    uint64_t missingIds = 0;
    uint64_t underruns = 0;
    uint64_t failed = 0;
    size_t frameBytes = 0;
};

[[noreturn]] void Fail(const char* what, GError* error) {
    std::fprintf(stderr, "%s: %s\n", what, error ? error->message : "failed");
    std::exit(1);
}

// The frames the control took: their size and pixel format.
struct FrameShape {
    int width = 0, height = 0;
    int bytesPerPixel = 0;
};

// The bare loop: `frames` frames after the first, timed from the first buffer popped.
Figure MeasureAravis(int frames, const FrameShape& shape) {
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(kDevice, &error);
    if (camera == nullptr) Fail("arv_camera_new", error);
    arv_camera_set_region(camera, 0, 0, shape.width, shape.height, &error);
    if (error) Fail("region", error);
    arv_camera_set_pixel_format_from_string(camera, shape.bytesPerPixel == 2 ? "Mono16" : "Mono8",
                                            &error);
    if (error) Fail("pixel format", error);
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    if (error) Fail("acquisition mode", error);
    arv_camera_set_frame_rate(camera, kCameraFps, &error);
    if (error) Fail("frame rate", error);
    const guint payload = arv_camera_get_payload(camera, &error);
    if (error) Fail("payload", error);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    if (stream == nullptr) Fail("arv_camera_create_stream", error);
    for (int i = 0; i < kBuffers; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, &error);
    if (error) Fail("start acquisition", error);

    Figure figure;
    figure.frameBytes = payload;
    int64_t firstUs = 0, lastUs = 0;
    guint64 previousId = 0;
    int taken = -1;  // frames after the first
    while (taken < frames) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 2000000);
        if (buffer == nullptr) {
            std::fprintf(stderr, "aravis: no buffer within 2 s\n");
            std::exit(1);
        }
        if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
            const guint64 id = arv_buffer_get_frame_id(buffer);
            lastUs = bx::kernel::NowMicroseconds();
            if (++taken == 0)
                firstUs = lastUs;
            else if (id > previousId + 1)
                figure.missingIds += id - previousId - 1;
            previousId = id;
        } else {
            ++figure.failed;
        }
        arv_stream_push_buffer(stream, buffer);
    }
    guint64 completed = 0, failures = 0, underruns = 0;
    arv_stream_get_statistics(stream, &completed, &failures, &underruns);
    figure.underruns = underruns;
    arv_camera_stop_acquisition(camera, nullptr);
    g_object_unref(stream);
    g_object_unref(camera);
    figure.fps = frames * 1e6 / double(lastUs - firstUs);
    return figure;
}

struct LiveRecord {
    std::mutex mutex;
    std::vector<int64_t> shownAt;
};

// The control's live video: `frames` shown frames after the first, timed from the first, on
// the fake camera's default 512 x 512 region (the control would take the whole sensor).
Figure MeasureControl(int frames, FrameShape& shape) {
    bx::view::THeadlessImageView view(16);
    bx::view::ImageViewRegistration registration(&view);
    auto control = bench::OpenControl(kCamera, 1000, registration.handle());
    ferro::TBXTessvikFerroFW& c = *control;
    c.GrabWindowLeft = c.GrabWindowTop = 0;
    c.GrabWindowRight = c.GrabWindowBottom = 511;
    c.WindowedGrab = true;
    c.RebuildRegion();
    c.ApplyRegion();
    int32_t bytes = 0;
    KvCam_GetInfo(c.CameraHandle, KVCAM_INFO_IMAGE_SIZE, &bytes);
    KvCam_GetInfo(c.CameraHandle, KVCAM_INFO_IMAGE_WIDTH, &shape.width);
    KvCam_GetInfo(c.CameraHandle, KVCAM_INFO_IMAGE_HEIGHT, &shape.height);
    shape.bytesPerPixel =
        shape.width > 0 && shape.height > 0 ? bytes / (shape.width * shape.height) : 0;

    LiveRecord live;
    c.SetLiveFrameUpdateHandler([&live] {
        std::lock_guard lock(live.mutex);
        live.shownAt.push_back(bx::kernel::NowMicroseconds());
    });
    KvCamSimCounters before{}, after{};
    KvCamSim_GetCounters(c.CameraHandle, &before);
    ferro::StartLive(c);
    const int64_t deadline =
        bx::kernel::NowMicroseconds() + int64_t(frames / kCameraFps * 4e6) + 10000000;
    for (;;) {
        bx::kernel::Sleep(20);
        std::lock_guard lock(live.mutex);
        if (static_cast<int>(live.shownAt.size()) > frames) break;
        if (bx::kernel::NowMicroseconds() > deadline) {
            std::fprintf(stderr, "live video showed %zu of %d frames in time\n",
                         live.shownAt.size(), frames + 1);
            std::exit(1);
        }
    }
    KvCamSim_GetCounters(c.CameraHandle, &after);
    ferro::StopLive(c);
    std::lock_guard lock(live.mutex);
    Figure figure;
    figure.frameBytes = size_t(bytes);
    figure.fps = frames * 1e6 / double(live.shownAt[size_t(frames)] - live.shownAt[0]);
    figure.missingIds = after.missingFrameIds - before.missingFrameIds;
    figure.underruns = after.underruns - before.underruns;
    figure.failed = after.failed - before.failed;
    c.SetLiveFrameUpdateHandler({});
    control.reset();
    KvCamSim_Reset();
    return figure;
}

}  // namespace

int main() {
    arv_enable_interface("Fake");
    bx::kernel::SetTimeWarp(1);
    bx::ui::SetUiBackend(std::make_shared<bx::ui::ScriptedUi>());
    const int frames = FramesToTake();
    FrameShape shape;
    const Figure ours = MeasureControl(frames, shape);
    const Figure plain = MeasureAravis(frames, shape);
    std::printf(
        "control live video: %.2f frames/s, %zu-byte frames, %llu frame ids missing, "
        "%llu underruns, %llu failed\n",
        ours.fps, ours.frameBytes, (unsigned long long)ours.missingIds,
        (unsigned long long)ours.underruns, (unsigned long long)ours.failed);
    std::printf(
        "aravis stream loop: %.2f frames/s, %zu-byte frames, %llu frame ids missing, "
        "%llu underruns, %llu failed\n",
        plain.fps, plain.frameBytes, (unsigned long long)plain.missingIds,
        (unsigned long long)plain.underruns, (unsigned long long)plain.failed);
    if (ours.frameBytes != plain.frameBytes)
        std::printf("note: the frame sizes differ, the rates are not like for like\n");
    std::printf("ratio: genicam_rate %.4f (%.2f vs %.2f frames/s)\n", ours.fps / plain.fps,
                ours.fps, plain.fps);
    return 0;
}
