#include "scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace kvcam {

namespace {

// Standard normal quantiles at the centres of 4096 equal-probability cells: indexing it with
// 12 random bits draws an (almost) Gaussian number with one table load.
const std::array<float, 4096>& NormalTable() {
    static const std::array<float, 4096> table = [] {
        std::array<float, 4096> t{};
        for (size_t i = 0; i < t.size(); ++i) {
            const double p = (static_cast<double>(i) + 0.5) / t.size();
            // Inverse normal CDF by Newton steps on erfc; 4096 evaluations at start-up.
            double x = 0.0;
            for (int it = 0; it < 60; ++it) {
                const double cdf = 0.5 * std::erfc(-x / std::sqrt(2.0));
                const double pdf = std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI);
                const double step = (cdf - p) / std::max(pdf, 1e-300);
                x -= std::clamp(step, -1.0, 1.0);
                if (std::fabs(step) < 1e-12) break;
            }
            t[i] = static_cast<float>(x);
        }
        return t;
    }();
    return table;
}

// xorshift64*: fast, good enough for noise, seeded per frame.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull | 1) {}
    uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
};

struct Blob {
    float cx, cy;  // centre, fraction of the sensor
    float sigma;   // fraction of the shorter side
    float amplitude;
    float rgb[3];
};

constexpr Blob kBlobs[] = {
    {0.25f, 0.30f, 0.030f, 0.85f, {1.0f, 0.15f, 0.10f}},
    {0.55f, 0.25f, 0.045f, 0.75f, {0.15f, 1.0f, 0.20f}},
    {0.78f, 0.42f, 0.025f, 0.85f, {0.20f, 0.30f, 1.0f}},
    {0.40f, 0.66f, 0.060f, 0.50f, {1.0f, 1.0f, 1.0f}},
    {0.62f, 0.78f, 0.020f, 0.70f, {1.0f, 0.80f, 0.20f}},
    {0.88f, 0.15f, 0.012f, 0.80f, {1.0f, 1.0f, 1.0f}},
    {0.15f, 0.78f, 0.018f, 1.00f, {1.0f, 1.0f, 1.0f}},  // the brightest: peak 1.0
};
constexpr float kBackgroundTint[3] = {0.8f, 1.0f, 1.2f};

float Background(float u, float v) {
    const float w = 2.0f * v - 1.0f;
    return 0.03f + 0.03f * u + 0.03f * (1.0f - w * w);
}

}  // namespace

Signal Signal::From(const ParamValues& v) {
    Signal s;
    s.exposureUs = v[KVCAM_PARAM_EXPOSURE];
    s.gainRegister = v[KVCAM_PARAM_GAIN];
    s.offsetRegister = v[KVCAM_PARAM_OFFSET];
    return s;
}

Scene::Scene(const CameraModel& model) : model_(model) {}

float Scene::SensorValue(int32_t x, int32_t y) {
    return Sensor()[static_cast<size_t>(y) * model_.width + x];
}

const std::vector<float>& Scene::Sensor() {
    if (!sensor_.empty()) return sensor_;
    const int32_t W = model_.width, H = model_.height;
    const float shorter = static_cast<float>(std::min(W, H));
    // Three planes (one for a monochrome sensor); the mosaic picks one per pixel at the end.
    const int planes = model_.colour ? 3 : 1;
    std::vector<float> rgb(static_cast<size_t>(W) * H * planes);
    for (int32_t y = 0; y < H; ++y) {
        const float v = (y + 0.5f) / H;
        for (int32_t x = 0; x < W; ++x) {
            const float u = (x + 0.5f) / W;
            float base = Background(u, v);
            // Fine detail: a one-pixel checkerboard beside a six-pixel grating.
            if (u > 0.05f && u < 0.20f && v > 0.05f && v < 0.20f) {
                base += u < 0.125f ? 0.25f * ((x + y) & 1)
                                   : 0.125f * (1.0f + std::sin(2.0f * float(M_PI) * x / 6.0f));
            }
            for (int p = 0; p < planes; ++p) {
                rgb[(static_cast<size_t>(y) * W + x) * planes + p] =
                    planes == 1 ? base : base * kBackgroundTint[p] * 0.9f;
            }
        }
    }
    for (const Blob& b : kBlobs) {
        const float cx = b.cx * W, cy = b.cy * H, sigma = b.sigma * shorter;
        const int32_t r = static_cast<int32_t>(std::ceil(4.0f * sigma));
        const int32_t x0 = std::max(0, int32_t(cx) - r), x1 = std::min(W, int32_t(cx) + r + 1);
        const int32_t y0 = std::max(0, int32_t(cy) - r), y1 = std::min(H, int32_t(cy) + r + 1);
        // The brightest blob is scaled so that background plus blob peaks at exactly 1.0.
        const float amp = b.amplitude >= 1.0f ? 1.0f - Background(b.cx, b.cy) : b.amplitude;
        for (int32_t y = y0; y < y1; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                const float dx = x + 0.5f - cx, dy = y + 0.5f - cy;
                const float g = amp * std::exp(-(dx * dx + dy * dy) / (2.0f * sigma * sigma));
                for (int p = 0; p < planes; ++p) {
                    rgb[(static_cast<size_t>(y) * W + x) * planes + p] +=
                        planes == 1 ? g : g * b.rgb[p];
                }
            }
        }
    }
    if (planes == 1) {
        sensor_ = std::move(rgb);
    } else {
        // RGGB mosaic: red on even rows and columns, blue on odd rows and columns.
        sensor_.resize(static_cast<size_t>(W) * H);
        for (int32_t y = 0; y < H; ++y) {
            for (int32_t x = 0; x < W; ++x) {
                const int channel = (y & 1) + (x & 1);  // 0 red, 1 green, 2 blue
                sensor_[static_cast<size_t>(y) * W + x] =
                    rgb[(static_cast<size_t>(y) * W + x) * 3 + channel];
            }
        }
    }
    return sensor_;
}

const std::vector<float>& Scene::Binned(const Geometry& g) {
    Geometry key = g;
    key.format = 0;
    key.bytesPerPixel = 0;
    if (binnedValid_ && key == binnedFor_) return binned_;
    const std::vector<float>& s = Sensor();
    binned_.assign(static_cast<size_t>(g.width) * g.height, 0.0f);
    // Binning sums charge: each delivered pixel is the sum of its binH x binV sensor pixels.
    // Only pixels on the sensor take part, so no geometry can read past the sensor's picture
    // (the settings already keep bins on the sensor; this holds even if they did not).
    const int64_t W = model_.width, H = model_.height;
    for (int32_t oy = 0; oy < g.height; ++oy) {
        float* row = &binned_[static_cast<size_t>(oy) * g.width];
        const int64_t top = g.originY + int64_t{oy} * g.binV;
        for (int64_t sy = std::max<int64_t>(top, 0); sy < std::min(top + g.binV, H); ++sy) {
            const float* src = &s[static_cast<size_t>(sy * W)];
            for (int32_t ox = 0; ox < g.width; ++ox) {
                const int64_t left = g.originX + int64_t{ox} * g.binH;
                const int64_t right = std::min(left + g.binH, W);
                float sum = 0.0f;
                for (int64_t sx = std::max<int64_t>(left, 0); sx < right; ++sx) sum += src[sx];
                row[ox] += sum;
            }
        }
    }
    binnedFor_ = key;
    binnedValid_ = true;
    return binned_;
}

void Scene::Render(const Geometry& g, const Signal& s, uint64_t frameSeed, void* out) {
    const std::vector<float>& scene = Binned(g);
    const float full = static_cast<float>((1 << model_.bitDepth) - 1);
    const double gain = s.GainFactor();
    // DN per unit of scene value: the brightest blob reaches blobLevel of full scale at the
    // reference exposure and unity gain.
    const float k = static_cast<float>(s.exposureUs / model_.referenceExposureUs *
                                       model_.blobLevel * full * gain);
    // Shot noise: variance in DN grows with the signal by gain / (electrons per DN).
    const float a = static_cast<float>(gain / model_.electronsPerDn);
    const float r2 = static_cast<float>(model_.readNoiseDn * gain * model_.readNoiseDn * gain);
    const float black = static_cast<float>(4095 - s.offsetRegister) + 0.5f;  // + rounding
    const int shift = g.format == KVCAM_FORMAT_MONO16 ? 0 : model_.bitDepth - 8;

    const std::array<float, 4096>& table = NormalTable();
    Rng rng(frameSeed ^ (uint64_t{model_.seed} << 32));
    noiseRow_.resize(static_cast<size_t>(g.width) + 4);
    float* noise = noiseRow_.data();

    for (int32_t y = 0; y < g.height; ++y) {
        // Random draws are serial; doing them first leaves a branch-free arithmetic loop the
        // compiler vectorises.
        for (int32_t x = 0; x < g.width; x += 4) {
            const uint64_t r = rng.Next();
            noise[x] = table[r & 4095];
            noise[x + 1] = table[(r >> 16) & 4095];
            noise[x + 2] = table[(r >> 32) & 4095];
            noise[x + 3] = table[(r >> 48) & 4095];
        }
        const float* src = &scene[static_cast<size_t>(y) * g.width];
        if (g.format == KVCAM_FORMAT_MONO16) {
            uint16_t* dst = static_cast<uint16_t*>(out) + static_cast<size_t>(y) * g.width;
            for (int32_t x = 0; x < g.width; ++x) {
                const float mean = k * src[x];
                float v = black + mean + std::sqrt(a * mean + r2) * noise[x];
                v = std::min(std::max(v, 0.0f), full);
                dst[x] = static_cast<uint16_t>(static_cast<int32_t>(v));
            }
        } else {
            uint8_t* dst = static_cast<uint8_t*>(out) + static_cast<size_t>(y) * g.width;
            for (int32_t x = 0; x < g.width; ++x) {
                const float mean = k * src[x];
                float v = black + mean + std::sqrt(a * mean + r2) * noise[x];
                v = std::min(std::max(v, 0.0f), full);
                dst[x] = static_cast<uint8_t>(static_cast<int32_t>(v) >> shift);
            }
        }
    }
}

void WriteFrameCounter(void* buffer, uint32_t bytesPerPixel, uint32_t pixels, uint32_t counter) {
    for (uint32_t i = 0; i < 4 && i < pixels; ++i) {
        const uint8_t byte = static_cast<uint8_t>(counter >> (8 * i));
        if (bytesPerPixel == 2) {
            static_cast<uint16_t*>(buffer)[i] = byte;
        } else {
            static_cast<uint8_t*>(buffer)[i] = byte;
        }
    }
}

}  // namespace kvcam
