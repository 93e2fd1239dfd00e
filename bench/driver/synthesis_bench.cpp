// synthesis_headroom: how many times faster than the camera's own frame period a full
// 1392 x 1040 16-bit frame is synthesised. The camera reads it out at 20 Mpixel/s, so the
// synthesis must fit comfortably inside that period for the timing model to hold.
#include <cstdio>
#include <vector>

#include "bench_util.h"
#include "model.h"
#include "scene.h"
#include "settings.h"

int main() {
    kvcam::CameraModel model;  // the default camera: 1392 x 1040, 12 bits
    kvcam::Scene scene(model);
    const kvcam::ParamValues values = kvcam::DefaultValues(model);
    const kvcam::Geometry g = kvcam::GeometryOf(model, values);
    std::vector<uint8_t> frame(g.FrameBytes());
    uint64_t seed = 1;
    const double synth = kvbench::MedianSeconds(
        31, [&] { scene.Render(g, kvcam::Signal::From(values), seed++, frame.data()); });
    const double periodAt20M = double(g.width) * g.height / 20e6;
    std::printf("full frame %dx%d, 16-bit: synthesis %.2f ms, readout at 20 Mpixel/s %.2f ms\n",
                g.width, g.height, synth * 1e3, periodAt20M * 1e3);
    std::printf("ratio: synthesis_headroom %.2f (%.2f vs %.2f ms)\n", periodAt20M / synth,
                periodAt20M * 1e3, synth * 1e3);
    return 0;
}
