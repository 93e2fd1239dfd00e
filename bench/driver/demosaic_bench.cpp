// demosaic_vs_opencv: OpenCV's bilinear Bayer-to-BGR time over ours on the same full 8-bit
// mosaic, one thread each, and a check that interior pixels agree within one grey level.
#include <kvcam/kvcam.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_util.h"
#include "model.h"
#include "scene.h"
#include "settings.h"

int main() {
    cv::setNumThreads(1);
    kvcam::CameraModel model;
    model.colour = true;
    kvcam::Scene scene(model);
    kvcam::ParamValues values = kvcam::DefaultValues(model);
    values[KVCAM_PARAM_FORMAT] = KVCAM_FORMAT_BAYER8;
    const kvcam::Geometry g = kvcam::GeometryOf(model, values);
    std::vector<uint8_t> mosaic(g.FrameBytes());
    kvcam::Signal signal = kvcam::Signal::From(values);
    signal.exposureUs = 30000;
    scene.Render(g, signal, 1, mosaic.data());

    std::vector<uint8_t> ours(size_t(g.width) * g.height * 3);
    KvCamFrame in{};
    in.buffer = mosaic.data();
    in.bufferSize = static_cast<uint32_t>(mosaic.size());
    in.format = KVCAM_FORMAT_BAYER8;
    in.width = static_cast<uint32_t>(g.width);
    in.height = static_cast<uint32_t>(g.height);
    in.bayerPattern = KVCAM_BAYER_RGGB;
    KvCamFrame out{};
    out.buffer = ours.data();
    out.bufferSize = static_cast<uint32_t>(ours.size());
    out.format = KVCAM_FORMAT_RGB24;

    const cv::Mat src(g.height, g.width, CV_8UC1, mosaic.data());
    cv::Mat theirs;
    // OpenCV names a mosaic by the second row's second and third pixels: red at (0, 0) is
    // its "BG" pattern.
    const int code = cv::COLOR_BayerBG2BGR;
    const double tOurs = kvbench::MedianSeconds(51, [&] {
        if (KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &in, &out) != KVCAM_OK) std::abort();
    });
    const double tCv = kvbench::MedianSeconds(51, [&] { cv::cvtColor(src, theirs, code); });

    int worst = 0;
    long differing = 0;
    for (int y = 1; y + 1 < g.height; ++y) {
        const uint8_t* a = &ours[size_t(y) * g.width * 3];
        const uint8_t* b = theirs.ptr<uint8_t>(y);
        for (int x = 3; x < (g.width - 1) * 3; ++x) {
            const int d = std::abs(int(a[x]) - int(b[x]));
            worst = std::max(worst, d);
            differing += d != 0;
        }
    }
    std::printf(
        "interior pixels vs OpenCV: largest difference %d grey level(s), %ld channel "
        "values differ\n",
        worst, differing);
    std::printf("%dx%d mosaic: ours %.3f ms, OpenCV %.3f ms\n", g.width, g.height, tOurs * 1e3,
                tCv * 1e3);
    std::printf("ratio: demosaic_vs_opencv %.2f (%.3f vs %.3f ms)\n", tCv / tOurs, tOurs * 1e3,
                tCv * 1e3);
    return worst <= 1 ? 0 : 1;
}
