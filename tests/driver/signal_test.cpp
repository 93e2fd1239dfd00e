// What the camera delivers: signal against exposure, gain and offset, noise, clipping,
// region and binning, formats and the frame counter.
#include <algorithm>
#include <array>
#include <cmath>

#include "kvcam_fixture.h"

namespace {

// Almost noiseless (huge conversion factor, no read noise): pixels can be compared one by one.
const char* kQuiet = R"(
[sensor]
width = 128
height = 96
e_per_dn = 100000
read_noise = 0
)";

class KvCamSignal : public kvtest::KvCamTest {
protected:
    // Mean over the whole frame minus the black level the offset register adds.
    double SignalAboveBlack(int32_t exposureUs, int32_t gain, int32_t offsetRegister = 3995) {
        Apply({{KVCAM_PARAM_EXPOSURE, exposureUs},
               {KVCAM_PARAM_GAIN, gain},
               {KVCAM_PARAM_OFFSET, offsetRegister}});
        Grabbed g = Grab();
        EXPECT_EQ(g.result, KVCAM_OK);
        return g.Mean(0, 0, g.frame.width, g.frame.height) - (4095 - offsetRegister);
    }
};

TEST_F(KvCamSignal, SignalIsProportionalToExposureAndGain) {
    Open();
    const double base = SignalAboveBlack(8000, 0);
    ASSERT_GT(base, 20.0);
    // Frame means average thousands of pixels, so shot and read noise move them well under 1 %.
    EXPECT_NEAR(SignalAboveBlack(16000, 0) / base, 2.0, 0.02);
    EXPECT_NEAR(SignalAboveBlack(4000, 0) / base, 0.5, 0.01);
    // Gain register 273 is exactly twice unity (linear from 1x at 0 to 16x at 4095).
    EXPECT_NEAR(SignalAboveBlack(8000, 273) / base, 2.0, 0.02);
    EXPECT_NEAR(SignalAboveBlack(1000, 4095) / SignalAboveBlack(1000, 0), 16.0, 0.3);
}

TEST_F(KvCamSignal, BrightestBlobsReachAboutSixtyPercentAtTwentyMilliseconds) {
    Open(kQuiet);
    Apply({{KVCAM_PARAM_EXPOSURE, 20000}, {KVCAM_PARAM_GAIN, 0}, {KVCAM_PARAM_OFFSET, 4095}});
    Grabbed g = Grab();
    ASSERT_EQ(g.result, KVCAM_OK);
    uint16_t peak = 0;
    for (uint32_t y = 0; y < g.frame.height; ++y)
        for (uint32_t x = 0; x < g.frame.width; ++x) peak = std::max(peak, g.At16(x, y));
    EXPECT_NEAR(peak / 4095.0, 0.6, 0.05);
}

TEST_F(KvCamSignal, OffsetRegisterIsInverted) {
    Open();
    // Each step below 4095 adds one grey level: register 4095 - v adds v.
    const double at100 = SignalAboveBlack(2000, 0, 3995) + 100;
    const double at300 = SignalAboveBlack(2000, 0, 3795) + 300;
    EXPECT_NEAR(at300 - at100, 200.0, 1.0);
}

TEST_F(KvCamSignal, ShotNoiseFollowsTheSignal) {
    Open("[sensor]\nwidth = 128\nheight = 96\ne_per_dn = 4\nread_noise = 2\n");
    Apply({{KVCAM_PARAM_EXPOSURE, 20000}, {KVCAM_PARAM_GAIN, 0}, {KVCAM_PARAM_OFFSET, 3995}});
    Grabbed a = Grab(), b = Grab();
    ASSERT_EQ(a.result, KVCAM_OK);
    ASSERT_EQ(b.result, KVCAM_OK);
    // Two frames of the same scene differ only by noise: the variance of their difference is
    // twice the per-pixel variance, signal / 4 + 2^2 at unity gain.
    double diffVar = 0, expected = 0;
    for (uint32_t y = 0; y < a.frame.height; ++y) {
        for (uint32_t x = 0; x < a.frame.width; ++x) {
            const double d = double(a.At16(x, y)) - b.At16(x, y);
            diffVar += d * d;
            const double signal = (a.At16(x, y) + b.At16(x, y)) / 2.0 - 100;
            expected += 2 * (std::max(signal, 0.0) / 4.0 + 4.0);
        }
    }
    EXPECT_NEAR(diffVar / expected, 1.0, 0.1);
    EXPECT_NE(a.frame.frameNumber, b.frame.frameNumber);
}

TEST_F(KvCamSignal, PixelsClipAtTheBitDepth) {
    Open();
    Apply({{KVCAM_PARAM_EXPOSURE, 400000}, {KVCAM_PARAM_GAIN, 4095}, {KVCAM_PARAM_OFFSET, 0}});
    Grabbed g = Grab();
    ASSERT_EQ(g.result, KVCAM_OK);
    uint16_t lo = 65535, hi = 0;
    for (uint32_t y = 0; y < g.frame.height; ++y) {
        for (uint32_t x = 0; x < g.frame.width; ++x) {
            lo = std::min(lo, g.At16(x, y));
            hi = std::max(hi, g.At16(x, y));
        }
    }
    EXPECT_EQ(hi, 4095);
    EXPECT_EQ(lo, 4095);  // everything saturates; nothing wraps round
    EXPECT_EQ(g.frame.bitDepth, 12u);

    Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO8}});
    Grabbed g8 = Grab();
    ASSERT_EQ(g8.result, KVCAM_OK);
    EXPECT_EQ(*std::min_element(g8.data.begin(), g8.data.end()), 255);
}

TEST_F(KvCamSignal, RegionSelectsPartOfTheSensor) {
    Open(kQuiet);
    Apply({{KVCAM_PARAM_EXPOSURE, 15000}});
    Grabbed full = Grab();
    Apply({{KVCAM_PARAM_ROI_X, 20},
           {KVCAM_PARAM_ROI_Y, 10},
           {KVCAM_PARAM_ROI_WIDTH, 40},
           {KVCAM_PARAM_ROI_HEIGHT, 30}});
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 40);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_HEIGHT), 30);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_SIZE), 40 * 30 * 2);
    Grabbed part = Grab();
    ASSERT_EQ(part.result, KVCAM_OK);
    ASSERT_EQ(part.frame.width, 40u);
    ASSERT_EQ(part.frame.height, 30u);
    int worst = 0;
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x)
            worst = std::max(worst, std::abs(int(part.At16(x, y)) - full.At16(x + 20, y + 10)));
    EXPECT_LE(worst, 3);
}

TEST_F(KvCamSignal, BinningSumsChargeAndShrinksTheRegion) {
    Open(kQuiet);
    Apply({{KVCAM_PARAM_EXPOSURE, 5000}, {KVCAM_PARAM_OFFSET, 3995}});
    Grabbed full = Grab();
    Apply({{KVCAM_PARAM_BINNING, 2}});
    // The full-sensor region no longer fits at binning 2: the camera cuts it and says so.
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_WIDTH), 64);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_HEIGHT), 48);
    Apply({{KVCAM_PARAM_ROI_X, 10},
           {KVCAM_PARAM_ROI_Y, 5},
           {KVCAM_PARAM_ROI_WIDTH, 20},
           {KVCAM_PARAM_ROI_HEIGHT, 16}});
    Grabbed binned = Grab();
    ASSERT_EQ(binned.result, KVCAM_OK);
    ASSERT_EQ(binned.frame.width, 20u);
    ASSERT_EQ(binned.frame.height, 16u);
    int worst = 0;
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 20; ++x) {
            // Binned region X 10 starts at sensor column 20; one black level per read pixel.
            int sum = 0;
            for (uint32_t i = 0; i < 2; ++i)
                for (uint32_t j = 0; j < 2; ++j)
                    sum += full.At16(20 + 2 * x + j, 10 + 2 * y + i) - 100;
            worst = std::max(worst, std::abs(binned.At16(x, y) - 100 - sum));
        }
    }
    EXPECT_LE(worst, 6);
}

TEST_F(KvCamSignal, RegionIsFittedToTheSensorOnSend) {
    Open();
    Apply({{KVCAM_PARAM_BINNING, 2}, {KVCAM_PARAM_ROI_X, 60}, {KVCAM_PARAM_ROI_WIDTH, 64}});
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_X), 60);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_WIDTH), 4);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 4);
    int32_t maxX;
    ASSERT_EQ(KvCam_GetParamMax(&settings, KVCAM_PARAM_ROI_X, &maxX), KVCAM_OK);
    EXPECT_EQ(maxX, 63);
}

TEST_F(KvCamSignal, TypeEightCountsRegionXInSensorPixels) {
    Open("[camera]\ntype = 8\nhorizontal_binning = no\n[sensor]\nwidth = 128\nheight = 96\n");
    // Binning by the vertical parameter leaves rows binned and columns at full resolution.
    Apply({{KVCAM_PARAM_BINNING_V, 2}});
    Apply({{KVCAM_PARAM_ROI_X, 21},
           {KVCAM_PARAM_ROI_WIDTH, 41},
           {KVCAM_PARAM_ROI_Y, 5},
           {KVCAM_PARAM_ROI_HEIGHT, 20}});
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_X), 21);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_WIDTH), 41);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 41);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_HEIGHT), 20);
    // Square binning rounds X and width down to whole bins and delivers binned columns.
    Apply({{KVCAM_PARAM_BINNING, 2}});
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_X), 20);
    EXPECT_EQ(Param(KVCAM_PARAM_ROI_WIDTH), 40);
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_WIDTH), 20);
}

TEST_F(KvCamSignal, EightBitFormatDeliversTheTopBits) {
    Open(kQuiet);
    Apply({{KVCAM_PARAM_EXPOSURE, 15000}});
    Grabbed wide = Grab();
    Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_MONO8}});
    EXPECT_EQ(Info(KVCAM_INFO_IMAGE_SIZE), 128 * 96);
    Grabbed narrow = Grab();
    ASSERT_EQ(narrow.result, KVCAM_OK);
    EXPECT_EQ(narrow.frame.format, uint32_t(KVCAM_FORMAT_MONO8));
    EXPECT_EQ(narrow.frame.bitDepth, 8u);
    int worst = 0;
    for (uint32_t y = 0; y < 96; ++y)
        for (uint32_t x = 0; x < 128; ++x)
            worst = std::max(worst, std::abs(narrow.At8(x, y) - (wide.At16(x, y) >> 4)));
    EXPECT_LE(worst, 1);
}

TEST_F(KvCamSignal, ColourSensorDeliversAMosaicThatFollowsTheRegion) {
    Open(
        "[sensor]\nwidth = 256\nheight = 192\ncolour = yes\ne_per_dn = 100000\n"
        "read_noise = 0\n");
    Apply({{KVCAM_PARAM_FORMAT, KVCAM_FORMAT_BAYER8}, {KVCAM_PARAM_EXPOSURE, 25000}});
    Grabbed g = Grab();
    ASSERT_EQ(g.result, KVCAM_OK);
    EXPECT_EQ(g.frame.format, uint32_t(KVCAM_FORMAT_BAYER8));
    EXPECT_EQ(g.frame.bayerPattern, uint32_t(KVCAM_BAYER_RGGB));

    // Demosaiced, the scene's coloured blobs keep their colour.
    std::vector<uint8_t> rgb(KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, 256, 192));
    KvCamFrame out{};
    out.buffer = rgb.data();
    out.bufferSize = static_cast<uint32_t>(rgb.size());
    out.format = KVCAM_FORMAT_RGB24;
    ASSERT_EQ(KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &g.frame, &out), KVCAM_OK);
    auto bgr = [&](double u, double v) {
        const size_t i = (size_t(v * 192) * 256 + size_t(u * 256)) * 3;
        return std::array<int, 3>{rgb[i], rgb[i + 1], rgb[i + 2]};
    };
    auto red = bgr(0.25, 0.30), green = bgr(0.55, 0.25), blue = bgr(0.78, 0.42);
    EXPECT_GT(red[2], 2 * std::max(red[0], red[1]));
    EXPECT_GT(green[1], 2 * std::max(green[0], green[2]));
    EXPECT_GT(blue[0], 2 * std::max(blue[1], blue[2]));

    // An odd region origin starts the mosaic on green.
    Apply({{KVCAM_PARAM_ROI_X, 1}, {KVCAM_PARAM_ROI_WIDTH, 100}});
    EXPECT_EQ(Grab().frame.bayerPattern, uint32_t(KVCAM_BAYER_GRBG));
    Apply({{KVCAM_PARAM_ROI_Y, 1}, {KVCAM_PARAM_ROI_HEIGHT, 100}});
    EXPECT_EQ(Grab().frame.bayerPattern, uint32_t(KVCAM_BAYER_BGGR));
    // Binned charge mixes the colours: no mosaic any more.
    Apply({{KVCAM_PARAM_BINNING, 2}});
    EXPECT_EQ(Grab().frame.bayerPattern, uint32_t(KVCAM_BAYER_NONE));
}

TEST_F(KvCamSignal, FrameCounterNumbersEveryDeliveredFrame) {
    Open("[sensor]\nwidth = 64\nheight = 48\nframe_counter = yes\n");
    for (int32_t format : {KVCAM_FORMAT_MONO16, KVCAM_FORMAT_MONO8}) {
        Apply({{KVCAM_PARAM_FORMAT, format}});
        for (int i = 0; i < 3; ++i) {
            Grabbed g = Grab();
            ASSERT_EQ(g.result, KVCAM_OK);
            uint32_t counter = 0;
            ASSERT_EQ(KvCamSim_ReadFrameCounter(&g.frame, &counter), KVCAM_OK);
            EXPECT_EQ(counter, g.frame.frameNumber);
        }
    }
    EXPECT_EQ(Counters().grabbed, 6u);
    EXPECT_EQ(Grab().frame.frameNumber, 7u);
}

TEST_F(KvCamSignal, SmallBufferIsRefusedAndLeftUntouched) {
    Open();
    std::vector<uint8_t> data(100, 0xAB);
    KvCamFrame f{};
    f.buffer = data.data();
    f.bufferSize = static_cast<uint32_t>(data.size());
    EXPECT_EQ(KvCam_GrabFrame(handle, &f), KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xAB; }));
    f.buffer = nullptr;
    EXPECT_EQ(KvCam_GrabFrame(handle, &f), KVCAM_ERR_BUFFER_TOO_SMALL);
}

}  // namespace
