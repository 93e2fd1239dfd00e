// Frame transfer on the simulated camera: the retry rule and its question box, the colour
// path, the MicroDot software binning, and what happens when a frame does not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "camera/RowReduction.h"
#include "fixtures/control_fixture.h"
#include "support/PageWarmer.h"

using namespace ferro;
using ferro::camera::RowReduction;

namespace {

// A small quiet mono sensor: frames are quick, and with the noise switched off two frames of
// the same settings agree to within one count.
constexpr const char* kQuietMono =
    "[sensor]\nwidth = 64\nheight = 48\nread_noise = 0\ne_per_dn = 1000000000\n";
constexpr const char* kCountingMono = "[sensor]\nwidth = 64\nheight = 48\nframe_counter = yes\n";
// A MicroDot whose driver cannot bin horizontally, so the control bins each row itself.
constexpr const char* kQuietMicroDot =
    "[camera]\ntype = 8\nhorizontal_binning = no\n"
    "[sensor]\nwidth = 64\nheight = 48\ncolour = yes\nread_noise = 0\ne_per_dn = 1000000000\n";
constexpr const char* kQuietColour =
    "[camera]\ntype = 4\n"
    "[sensor]\nwidth = 64\nheight = 48\ncolour = yes\nread_noise = 0\ne_per_dn = 1000000000\n";

constexpr uint8_t kSentinel = 0xA5;

bool Untouched(const std::vector<uint8_t>& buffer) {
    return std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == kSentinel; });
}

class FrameTransfer : public ferro::testing::ControlTest {
protected:
    TBXTessvikFerroFW& Open(const char* description) {
        UseCamera(description);
        return CreateAndOpen();
    }

    // One frame straight from the driver with the camera's current settings.
    std::vector<uint8_t> DriverFrame(KvCamFrame& frame) {
        int32_t size = 0;
        EXPECT_EQ(KvCam_GetInfo(control->CameraHandle, KVCAM_INFO_IMAGE_SIZE, &size), KVCAM_OK);
        std::vector<uint8_t> pixels(static_cast<size_t>(size));
        frame = KvCamFrame{};
        frame.buffer = pixels.data();
        frame.bufferSize = static_cast<uint32_t>(size);
        EXPECT_EQ(KvCam_GrabFrame(control->CameraHandle, &frame), KVCAM_OK);
        return pixels;
    }

    uint32_t GrabbedFrames() {
        KvCamSimCounters counters{};
        EXPECT_EQ(KvCamSim_GetCounters(control->CameraHandle, &counters), KVCAM_OK);
        return counters.grabbed;
    }

    std::vector<uint8_t> FrameBuffer() const {
        int32_t size = 0;
        KvCam_GetInfo(control->CameraHandle, KVCAM_INFO_IMAGE_SIZE, &size);
        return std::vector<uint8_t>(static_cast<size_t>(size), kSentinel);
    }
};

void ExpectWithinOne(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected,
                     size_t count) {
    ASSERT_GE(actual.size(), count);
    ASSERT_GE(expected.size(), count);
    size_t off = 0;
    for (size_t i = 0; i < count; ++i)
        if (std::abs(int(actual[i]) - int(expected[i])) > 1) ++off;
    EXPECT_EQ(off, 0u) << "bytes differing by more than one count";
}

// The driver's own demosaic of a raw frame, as the reference for the control's colour paths.
std::vector<uint8_t> Demosaic(const KvCamFrame& raw) {
    std::vector<uint8_t> rgb(KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, raw.width, raw.height));
    KvCamFrame colour{};
    colour.buffer = rgb.data();
    colour.bufferSize = static_cast<uint32_t>(rgb.size());
    colour.format = KVCAM_FORMAT_RGB24;
    EXPECT_EQ(KvCam_BayerToRgb(KVCAM_DEMOSAIC_BILINEAR, &raw, &colour), KVCAM_OK);
    return rgb;
}

}  // namespace

// ---- The row reductions on their own ---------------------------------------------------------

TEST(RowReductions, AverageEachGroupOfARow) {
    const std::vector<uint8_t> src = {10, 20, 30, 250, 255, 255,  //
                                      0,  1,  2,  3,   4,   6};
    std::vector<uint8_t> dst(6, kSentinel);
    ASSERT_TRUE(camera::AverageRows(src.data(), src.size(), dst.data(), dst.size(),
                                    RowReduction{2, 6, 3, 2}));
    EXPECT_EQ(dst, (std::vector<uint8_t>{15, 140, 255, 0, 2, 5}));

    // Three to one, with the output narrower than the row allows: the tail is ignored.
    std::vector<uint8_t> one(1, kSentinel);
    ASSERT_TRUE(camera::AverageRows(src.data(), 6, one.data(), 1, RowReduction{1, 6, 1, 4}));
    EXPECT_EQ(one[0], (10 + 20 + 30 + 250) / 4);
}

TEST(RowReductions, SubsampleKeepsTheFirstPixelOfEachGroup) {
    std::vector<uint8_t> src(2 * 4 * 3);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> dst(2 * 2 * 3, kSentinel);
    ASSERT_TRUE(camera::SubsampleRows(src.data(), src.size(), dst.data(), dst.size(),
                                      RowReduction{2, 4, 2, 2}));
    EXPECT_EQ(dst, (std::vector<uint8_t>{0, 1, 2, 6, 7, 8, 12, 13, 14, 18, 19, 20}));
}

TEST(RowReductions, RefuseShapesThatReachOutsideEitherBuffer) {
    std::vector<uint8_t> src(12, 1), dst(6, kSentinel);
    // Source too short for two rows of six.
    EXPECT_FALSE(camera::AverageRows(src.data(), 11, dst.data(), dst.size(), {2, 6, 3, 2}));
    // Output too small.
    EXPECT_FALSE(camera::AverageRows(src.data(), 12, dst.data(), 5, {2, 6, 3, 2}));
    // Groups reaching past the row, zero factor, negative sizes.
    EXPECT_FALSE(camera::AverageRows(src.data(), 12, dst.data(), 6, {2, 6, 4, 2}));
    EXPECT_FALSE(camera::AverageRows(src.data(), 12, dst.data(), 6, {2, 6, 3, 0}));
    EXPECT_FALSE(camera::SubsampleRows(src.data(), 12, dst.data(), 6, {-1, 2, 1, 2}));
    EXPECT_FALSE(camera::SubsampleRows(src.data(), 11, dst.data(), 6, {2, 2, 1, 2}));
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t b) { return b == kSentinel; }));
}

TEST(RowReductions, NarrowKeepsTheTopEightBits) {
    const std::vector<uint16_t> src = {0, 15, 16, 4095, 2048};
    std::vector<uint8_t> dst(5);
    ASSERT_TRUE(camera::NarrowTo8Bit(reinterpret_cast<const uint8_t*>(src.data()), 5, 12,
                                     dst.data(), dst.size()));
    EXPECT_EQ(dst, (std::vector<uint8_t>{0, 0, 1, 255, 128}));
    EXPECT_FALSE(
        camera::NarrowTo8Bit(reinterpret_cast<const uint8_t*>(src.data()), 5, 12, dst.data(), 4));
}

TEST(PageWarmer, LeavesTheContentsAsTheyWere) {
    std::vector<uint8_t> data((3 << 20) + 123);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::vector<uint8_t> before = data;
    { support::PageWarmer warm(data.data(), data.size()); }
    EXPECT_EQ(data, before);
}

// ---- The plain grey grab ---------------------------------------------------------------------

TEST_F(FrameTransfer, WithoutAReadyCameraNothingIsTouched) {
    TBXTessvikFerroFW& c = Create();
    std::vector<uint8_t> buffer(1024, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_TRUE(Untouched(buffer));
    EXPECT_FALSE(c.FrameInFlight);

    Open(kCountingMono);
    // A re-initialisation that fails after the open leaves the camera open but not ready.
    KvCamSim_SetFault(KVCAMSIM_FAULT_GET_INFO, KVCAM_INFO_COOLER, 0, 1, 0);
    ASSERT_FALSE(Reinitialise());
    ui->Clear();
    const uint32_t before = GrabbedFrames();
    control->GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_TRUE(Untouched(buffer));
    EXPECT_FALSE(control->FrameInFlight);
    EXPECT_EQ(GrabbedFrames(), before);
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(FrameTransfer, GreyFrameLandsInTheCallersBufferWithoutACopy) {
    TBXTessvikFerroFW& c = Open(kCountingMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    // A temporary would be the next global block; make it fail so any copy would show.
    bx::kernel::FailNthGlobalAlloc(1);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    bx::kernel::FailNthGlobalAlloc(0);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u);
    EXPECT_FALSE(c.FrameInFlight);

    KvCamFrame frame{};
    frame.buffer = buffer.data();
    frame.bufferSize = static_cast<uint32_t>(buffer.size());
    frame.format = KVCAM_FORMAT_MONO16;
    frame.width = static_cast<uint32_t>(c.ImageWidth);
    frame.height = static_cast<uint32_t>(c.ImageHeight);
    uint32_t first = 0, second = 0;
    ASSERT_EQ(KvCamSim_ReadFrameCounter(&frame, &first), KVCAM_OK);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    ASSERT_EQ(KvCamSim_ReadFrameCounter(&frame, &second), KVCAM_OK);
    EXPECT_GE(first, 1u);
    EXPECT_EQ(second, first + 1);
}

TEST_F(FrameTransfer, FrameInFlightIsHeldDuringTheGrabAndDroppedEvenOnAnException) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS,
                                KVCAM_ERR_FAILED),
              KVCAM_OK);
    bool heldDuringBox = false;
    ui->SetResponder([&](const bx::ui::MessageBoxRequest&) -> int {
        heldDuringBox = c.FrameInFlight.load();
        throw std::runtime_error("host went away");
    });
    EXPECT_THROW(c.GrabFrameToBuffer(buffer.data(), buffer.size()), std::runtime_error);
    EXPECT_TRUE(heldDuringBox);
    EXPECT_FALSE(c.FrameInFlight);
}

TEST_F(FrameTransfer, AFailedFormatQueryIsShownAndTheGrabStillHappens) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    c.CameraSettings->size = 0;  // a block the driver refuses to read parameters from
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    c.CameraSettings->size = KVCAM_SETTINGS_SIZE;
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "error KvCam_getsize ");
    EXPECT_EQ(ui->Boxes()[0].Caption, "");
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_FALSE(Untouched(buffer));
}

// ---- The retry rule --------------------------------------------------------------------------

TEST_F(FrameTransfer, TransientFailuresAreRetriedNineTimesAfterAPause) {
    bx::kernel::SetTimeWarp(10);  // the pauses stay measurable against scheduling noise
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();

    // Nine transient failures: retried quietly, each after 100 ms, and the tenth call works.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 9, 0), KVCAM_OK);
    int64_t start = c.CurrentMilliseconds();
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_GE(c.CurrentMilliseconds() - start, 900);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u);
    EXPECT_FALSE(Untouched(buffer));

    // Ten failures: the question comes after the nine paused retries.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 10, 0), KVCAM_OK);
    int64_t askedAfter = -1;
    start = c.CurrentMilliseconds();
    ui->SetResponder([&](const bx::ui::MessageBoxRequest&) {
        askedAfter = c.CurrentMilliseconds() - start;
        return bx::ui::IDRETRY;
    });
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_GE(askedAfter, 900);
    EXPECT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
}

TEST_F(FrameTransfer, ARetryAnswerKeepsThePauseOfATransientFailure) {
    bx::kernel::SetTimeWarp(10);
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    // Thirteen transient failures: after the first question every Retry still pauses first.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 13, 0), KVCAM_OK);
    std::vector<int64_t> asked;
    ui->SetResponder([&](const bx::ui::MessageBoxRequest&) {
        asked.push_back(c.CurrentMilliseconds());
        return bx::ui::IDRETRY;
    });
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    ASSERT_EQ(asked.size(), 4u);
    for (size_t i = 1; i < asked.size(); ++i) EXPECT_GE(asked[i] - asked[i - 1], 100) << i;
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
}

TEST_F(FrameTransfer, OtherFailuresAreRetriedWithoutPause) {
    bx::kernel::SetTimeWarp(10);
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 9, KVCAM_ERR_FAILED),
              KVCAM_OK);
    const int64_t start = c.CurrentMilliseconds();
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_LT(c.CurrentMilliseconds() - start, 900);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(FrameTransfer, RetryAsksAgainAfterEveryFurtherFailure) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    // Twelve failures, then the camera works: asked after the 10th, 11th and 12th.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 12, KVCAM_ERR_FAILED),
              KVCAM_OK);
    ui->SetResponder([](const bx::ui::MessageBoxRequest&) { return bx::ui::IDRETRY; });
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    const auto boxes = ui->Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.Text, "KvCam_GrabFrame() error!");
        EXPECT_EQ(box.Caption, "Error");
        EXPECT_EQ(box.Buttons(), bx::ui::MB_ABORTRETRYIGNORE);
    }
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_FALSE(c.GrabErrorAbort);
}

TEST_F(FrameTransfer, AbortAndIgnoreStopWithTheBufferAsItWas) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer = FrameBuffer();
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS,
                                KVCAM_ERR_FAILED),
              KVCAM_OK);
    ui->QueueAnswers({bx::ui::IDABORT, bx::ui::IDIGNORE});
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_TRUE(c.GrabErrorAbort);
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_FAILED);
    EXPECT_TRUE(Untouched(buffer));

    // Ignore stops as well, without the abort; each grab starts with the flag cleared.
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_FALSE(c.GrabErrorAbort);
    EXPECT_EQ(ui->BoxCount(), 2u);
    EXPECT_TRUE(Untouched(buffer));
}

// ---- Frames that do not fit ------------------------------------------------------------------

TEST_F(FrameTransfer, SixteenBitFrameIsNarrowedIntoAnEightBitBuffer) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    KvCamFrame reference{};
    const std::vector<uint8_t> raw = DriverFrame(reference);
    ASSERT_EQ(reference.format, static_cast<uint32_t>(KVCAM_FORMAT_MONO16));
    const size_t pixels = size_t{reference.width} * reference.height;

    std::vector<uint8_t> buffer(pixels, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    std::vector<uint8_t> expected(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t v = static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        expected[i] = static_cast<uint8_t>(v >> (reference.bitDepth - 8));
    }
    ExpectWithinOne(buffer, expected, pixels);
}

TEST_F(FrameTransfer, AFrameThatCannotFitIsNotWritten) {
    TBXTessvikFerroFW& c = Open(kQuietMono);
    std::vector<uint8_t> buffer(100, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Untouched(buffer));

    c.GrabFrameToBuffer(nullptr, 1 << 20);
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_BUFFER_TOO_SMALL);
}

// ---- Colour and the MicroDot -----------------------------------------------------------------

TEST_F(FrameTransfer, ColourGrabDemosaicsIntoTwentyFourBits) {
    TBXTessvikFerroFW& c = Open(kQuietColour);
    c.chk_Color->SetChecked(true);
    ASSERT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8);
    c.BitDepth = 12;  // the grab itself must make it 24

    KvCamFrame raw{};
    const std::vector<uint8_t> mosaic = DriverFrame(raw);  // raw.buffer points into it
    const std::vector<uint8_t> expected = Demosaic(raw);
    const size_t colourSize = expected.size();

    std::vector<uint8_t> buffer(colourSize, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(c.BitDepth, 24);
    ExpectWithinOne(buffer, expected, colourSize);

    // Too small for the colour frame: nothing written.
    std::vector<uint8_t> small(colourSize - 1, kSentinel);
    c.GrabFrameToBuffer(small.data(), small.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Untouched(small));

    // A failed colour grab is not retried, asks nothing and leaves the buffer alone.
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 1, 0), KVCAM_OK);
    std::vector<uint8_t> kept(colourSize, kSentinel);
    c.GrabFrameToBuffer(kept.data(), kept.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_GRAB_TRANSIENT);
    EXPECT_TRUE(Untouched(kept));
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(FrameTransfer, AFailedLargeColourGrabStillLeavesTheBufferAlone) {
    // Large enough for the destination's pages to be warmed during the grab.
    TBXTessvikFerroFW& c = Open(
        "[camera]\ntype = 4\n[sensor]\nwidth = 640\nheight = 600\n"
        "colour = yes\n");
    c.chk_Color->SetChecked(true);
    std::vector<uint8_t> buffer(size_t{640} * 600 * 3, kSentinel);
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, 1, KVCAM_ERR_FAILED),
              KVCAM_OK);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_FAILED);
    EXPECT_TRUE(Untouched(buffer));

    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_FALSE(Untouched(buffer));
}

TEST_F(FrameTransfer, ConvertBayerFrameTurnsAReceivedMosaicIntoColourInPlace) {
    TBXTessvikFerroFW& c = Open(kQuietColour);
    c.chk_Color->SetChecked(true);
    KvCamFrame raw{};
    const std::vector<uint8_t> mosaic = DriverFrame(raw);
    const std::vector<uint8_t> expected = Demosaic(raw);
    const size_t colourSize = expected.size();

    std::vector<uint8_t> buffer(colourSize, kSentinel);
    std::copy(mosaic.begin(), mosaic.end(), buffer.begin());
    c.ConvertBayerFrame(buffer.data(), buffer.size(), static_cast<uint32_t>(mosaic.size()), raw);
    EXPECT_EQ(buffer, expected);

    // A raw size beyond the buffer is refused before anything is read.
    std::vector<uint8_t> small(mosaic.size() - 1, kSentinel);
    c.ConvertBayerFrame(small.data(), small.size(), static_cast<uint32_t>(mosaic.size()), raw);
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Untouched(small));
}

TEST_F(FrameTransfer, MicroDotGreyRowsAreBinnedInSoftware) {
    TBXTessvikFerroFW& c = Open(kQuietMicroDot);
    ASSERT_EQ(c.lbl_CameraType->Caption(), "MicroDot");
    c.chk_Color->SetChecked(false);  // grey 8-bit frames
    c.SetBinning(2);
    ASSERT_TRUE(c.SoftwareBinningApplies());
    ASSERT_EQ(c.ImageWidth * 2, c.CameraRoi.Width);

    KvCamFrame raw{};
    const std::vector<uint8_t> rows = DriverFrame(raw);
    ASSERT_EQ(raw.width, static_cast<uint32_t>(c.CameraRoi.Width));
    const size_t outBytes = size_t(c.ImageWidth) * c.ImageHeight;
    std::vector<uint8_t> expected(outBytes);
    for (int r = 0; r < c.ImageHeight; ++r)
        for (int x = 0; x < c.ImageWidth; ++x) {
            const size_t in = size_t(r) * raw.width + 2 * x;
            expected[size_t(r) * c.ImageWidth + x] = uint8_t((rows[in] + rows[in + 1]) / 2);
        }

    std::vector<uint8_t> buffer(outBytes, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    ExpectWithinOne(buffer, expected, outBytes);
}

TEST_F(FrameTransfer, MicroDotColourKeepsTheFirstPixelOfEachGroup) {
    TBXTessvikFerroFW& c = Open(kQuietMicroDot);
    ASSERT_TRUE(c.chk_Color->Checked());
    c.SetBinning(2);
    ASSERT_TRUE(c.SoftwareBinningApplies());

    KvCamFrame raw{};
    const std::vector<uint8_t> rows = DriverFrame(raw);
    const std::vector<uint8_t> full = Demosaic(raw);
    const size_t outBytes = size_t(c.ImageWidth) * c.ImageHeight * 3;
    std::vector<uint8_t> expected(outBytes);
    for (int r = 0; r < c.ImageHeight; ++r)
        for (int x = 0; x < c.ImageWidth; ++x)
            for (int k = 0; k < 3; ++k)
                expected[(size_t(r) * c.ImageWidth + x) * 3 + k] =
                    full[(size_t(r) * raw.width + 2 * x) * 3 + k];

    std::vector<uint8_t> buffer(outBytes, kSentinel);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_EQ(c.BitDepth, 24);
    ExpectWithinOne(buffer, expected, outBytes);
}

TEST_F(FrameTransfer, NoSoftwareBinningWhenTheDriverBinsHorizontally) {
    TBXTessvikFerroFW& c =
        Open("[camera]\ntype = 8\nhorizontal_binning = yes\n[sensor]\nwidth = 64\nheight = 48\n");
    c.SetBinning(2);
    EXPECT_TRUE(c.SeparateBinningSupported);
    EXPECT_FALSE(c.SoftwareBinningApplies());
    c.SetBinning(1);
    c.SeparateBinningSupported = false;
    EXPECT_FALSE(c.SoftwareBinningApplies());  // binning 1 needs no reduction
}

TEST_F(FrameTransfer, AFailedTemporaryIsReportedNotACrash) {
    TBXTessvikFerroFW& c = Open(kQuietMicroDot);
    c.chk_Color->SetChecked(false);
    c.SetBinning(2);
    std::vector<uint8_t> buffer(size_t(c.ImageWidth) * c.ImageHeight, kSentinel);
    bx::kernel::FailNthGlobalAlloc(1);
    c.GrabFrameToBuffer(buffer.data(), buffer.size());
    bx::kernel::FailNthGlobalAlloc(0);
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->Boxes()[0].Text, "Unable to allocate intermediate buffer.");
    EXPECT_EQ(ui->Boxes()[0].Caption, "Grab warning");
    EXPECT_NE(c.LastCameraError, KVCAM_OK);
    EXPECT_TRUE(Untouched(buffer));
}
