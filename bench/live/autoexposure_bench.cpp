// Auto-exposure figures:
//   histogram_vs_opencv   OpenCV's calcHist (128 bins over 0..4095, one thread) time over the
//                         control's histogram time, both over the same full 12-bit frame of the
//                         simulated camera (1392 x 1040, 16-bit words); the two must agree.
//   autoexposure_frames   the 40-frame allowance over the median number of frames a run takes
//                         on the default simulated camera, over the four targets at gain
//                         registers 0, 255 and 1000.
#include <bxplatform/kernel.h>
#include <bxplatform/ui.h>
#include <bxview/headless_view.h>
#include <bxview/image_view.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../driver/bench_util.h"
#include "control/BXTessvikGrabImpl1.h"
#include "panel/Histogram.h"

#ifdef BX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kFrameAllowance = 40;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One 12-bit frame of the default simulated camera at an exposure that fills about 60 % of
// full scale: real background, blobs and noise, as the histogram meets them.
bool GrabSceneFrame(std::vector<uint16_t>& pixels, int& width, int& height) {
    KvCamSim_Reset();
    KvCamCameraInfo list[1];
    uint32_t count = 1;
    KvCamHandle camera = 0;
    KvCamSettings settings{};
    settings.size = KVCAM_SETTINGS_SIZE;
    if (KvCam_LoadDriver() != KVCAM_OK || KvCam_ListCameras(list, &count) != KVCAM_OK ||
        count == 0 || KvCam_OpenCamera(list[0].cameraId, &camera) != KVCAM_OK ||
        KvCam_ReadSettingsFromCam(camera, &settings) != KVCAM_OK ||
        KvCam_SetParam(&settings, KVCAM_PARAM_EXPOSURE, 20000) != KVCAM_OK ||
        KvCam_SendSettingsToCam(camera, &settings) != KVCAM_OK)
        return false;
    int32_t bytes = 0;
    KvCam_GetInfo(camera, KVCAM_INFO_IMAGE_SIZE, &bytes);
    pixels.assign(static_cast<size_t>(bytes) / 2, 0);
    KvCamFrame frame{};
    frame.buffer = pixels.data();
    frame.bufferSize = static_cast<uint32_t>(bytes);
    const bool ok = KvCam_GrabFrame(camera, &frame) == KVCAM_OK;
    width = static_cast<int>(frame.width);
    height = static_cast<int>(frame.height);
    KvCamSim_Reset();
    return ok;
}

#ifdef BX_BENCH_OPENCV
// The figure's ratio line; empty when the two histograms disagree or there is no frame.
std::string HistogramFigure() {
    std::vector<uint16_t> pixels;
    int width = 0, height = 0;
    if (!GrabSceneFrame(pixels, width, height)) {
        std::fprintf(stderr, "no frame from the simulated camera\n");
        return {};
    }
    const auto layout = *ferro::panel::DepthLayoutFor(12);
    const auto region = ferro::panel::WholeFrame(width, height);
    ferro::panel::Histogram ours{};
    const double tOurs = kvbench::MedianSeconds(101, [&] {
        ours = ferro::panel::BuildHistogram(pixels.data(), pixels.size() * 2, width, height, region,
                                            layout);
    });

    cv::setNumThreads(1);
    const cv::Mat image(height, width, CV_16UC1, pixels.data());
    const int channels[] = {0};
    const int bins[] = {ferro::panel::kHistogramBins};
    const float range[] = {0, 4096};
    const float* ranges[] = {range};
    cv::Mat theirs;
    const double tCv = kvbench::MedianSeconds(101, [&] {
        cv::calcHist(&image, 1, channels, cv::Mat(), theirs, 1, bins, ranges, true, false);
    });
    for (int b = 0; b < ferro::panel::kHistogramBins; ++b) {
        if (static_cast<double>(ours[b]) != theirs.at<float>(b)) {
            std::fprintf(stderr, "bin %d: ours %u, OpenCV %.0f\n", b, ours[b], theirs.at<float>(b));
            return {};
        }
    }
    std::printf("%dx%d 12-bit frame, 128 bins: ours %.3f ms, OpenCV calcHist %.3f ms\n", width,
                height, tOurs * 1e3, tCv * 1e3);
    char line[160];
    std::snprintf(line, sizeof line, "ratio: histogram_vs_opencv %.2f (%.3f vs %.3f ms)",
                  tCv / tOurs, tOurs * 1e3, tCv * 1e3);
    return line;
}
#endif

// Frames of one run per target at gain register `gain`; empty when the camera did not open.
std::vector<double> FramesPerTarget(int gain) {
    using ferro::TBXTessvikFerroFW;
    KvCamSim_Reset();
    const std::string path = "/tmp/bx_bench_autoexposure_" + std::to_string(getpid()) + ".ini";
    std::ofstream(path, std::ios::trunc)
        << "[KorvaneFW Camera]\nBrightness=" << gain << "\nContrast=0\nExposure Time=400\n";
    auto control = std::make_unique<TBXTessvikFerroFW>();
    control->LoadFromRegistry(path);
    control->Initialise();
    std::remove(path.c_str());
    if (!control->SessionOpen) return {};

    bx::view::THeadlessImageView view;
    bx::view::ImageViewRegistration registration(&view);
    control->ImageWindow = registration.handle();
    int frames = 0;
    control->Events.Set(ferro::EventId::OnProcessUpdate, [&] {
        if (control->GrabProgress == -3) ++frames;
    });
    std::vector<uint8_t> buffer(control->AcquisitionFrameBytes());
    std::vector<double> result;
    for (bx::ui::TRadioButton* target :
         {control->rbn_100, control->rbn_75, control->rbn_50, control->rbn_25}) {
        target->Click();
        frames = 0;
        control->AutoExpose(buffer.data());
        std::printf("gain %4d, target %3s%%: %2d frames, exposure %d us%s\n", gain,
                    target->Caption().c_str(), frames, control->ExposureTime.load(),
                    control->AutoExposeAbort ? " (ended at a limit)" : "");
        result.push_back(frames);
    }
    control.reset();
    KvCamSim_Reset();
    return result;
}

}  // namespace

int main() {
    bx::ui::ScopedUiBackend quiet(std::make_shared<bx::ui::ScriptedUi>());
    int status = 0;
    std::string histogramLine;

#ifdef BX_BENCH_OPENCV
    histogramLine = HistogramFigure();
    if (histogramLine.empty()) status = 1;
#else
    std::printf("OpenCV not built in: histogram_vs_opencv skipped\n");
#endif

    bx::kernel::SetTimeWarp(100);  // the camera's frame time is not what is measured here
    std::vector<double> frames;
    for (int gain : {0, 255, 1000}) {
        const std::vector<double> some = FramesPerTarget(gain);
        if (some.empty()) {
            std::fprintf(stderr, "camera did not open at gain %d\n", gain);
            return 1;
        }
        frames.insert(frames.end(), some.begin(), some.end());
    }
    const double median = Median(frames);
    if (!histogramLine.empty()) std::printf("%s\n", histogramLine.c_str());
    std::printf("ratio: autoexposure_frames %.2f (%.1f vs %d frames)\n", kFrameAllowance / median,
                median, kFrameAllowance);
    return status;
}
