// Snap, GetImage and GrabFrameIntoImage against the simulated camera, the real image store
// and a headless view.
#include <gtest/gtest.h>

#include "fixtures/acquisition_fixture.h"

using namespace ferro;
using ferro::testing::AcquisitionTest;
using ferro::testing::FailureText;
using ferro::testing::kSmallCountingCamera;
using CallKind = bx::view::THeadlessImageView::CallKind;

// ---- Snap ------------------------------------------------------------------------------------

using Snap = AcquisitionTest;

TEST_F(Snap, RaisesItsEventsAndProgressInOrder) {
    TBXTessvikFerroFW& c = OpenWithView();
    RecordEvents();
    // What the host can see at the frame events: the grab is marked, the view is not yet set.
    bool grabMarkedAtPreFrame = false;
    uint64_t viewCallsAtPostFrame = 99;
    c.Events.Set(EventId::OnPreFrameTriggerClick, [&] {
        events.push_back("PreFrame");
        grabMarkedAtPreFrame = c.GrabInProgress;
    });
    c.Events.Set(EventId::OnPostFrameTriggerClick, [&] {
        events.push_back("PostFrame");
        viewCallsAtPostFrame = view.CallCount(CallKind::Image);
    });

    const int32_t image = c.Snap();
    ASSERT_NE(image, 0);
    EXPECT_EQ(events,
              (std::vector<std::string>{"PreAcquisition", "Progress -1", "Progress 0", "PreFrame",
                                        "PostFrame", "PostAcquisition", "Progress 1"}));
    EXPECT_TRUE(grabMarkedAtPreFrame);
    EXPECT_EQ(viewCallsAtPostFrame, 0u);
    EXPECT_EQ(view.ShownImage(), static_cast<MM_HANDLE>(image));
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(c.GrabProgress, 1);
}

TEST_F(Snap, DeliversARealCameraFrameWithItsRecord) {
    TBXTessvikFerroFW& c = OpenWithView();
    c.Abort = true;
    const int32_t image = c.Snap();
    EXPECT_FALSE(c.Abort);
    EXPECT_EQ(c.GetImage(), image);
    EXPECT_EQ(c.AcquisitionImage, image);

    const auto info = bx::mm::Describe(static_cast<MM_HANDLE>(image));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, MM_TYPE_GREY12);
    EXPECT_EQ(info->size.d[0], c.ImageWidth);
    EXPECT_EQ(info->size.d[1], c.ImageHeight);
    EXPECT_EQ(info->name, "Grabbed");
    EXPECT_EQ(c.BytesPerPixel, 2);
    EXPECT_EQ(c.CurrentMappingFormat, MM_TYPE_GREY12);
    for (int dim = 2; dim < MM_MAX_DIMS; ++dim) {
        EXPECT_EQ(info->dims[dim].name, "") << dim;
        EXPECT_DOUBLE_EQ(info->dims[dim].resolution, 1.0);
    }

    // The pixels are a camera frame: a scene, not a fill, numbered by the camera.
    const std::vector<uint8_t> pixels = bx::mm::ReadFrame(static_cast<MM_HANDLE>(image), 0);
    EXPECT_GT(DistinctBytes(pixels), 16u);
    const uint32_t first = FrameCounter(static_cast<MM_HANDLE>(image), 0);
    EXPECT_GE(first, 1u);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);

    // A second Snap makes a second image; the first stays for the host.
    const int32_t second = c.Snap();
    EXPECT_NE(second, image);
    EXPECT_TRUE(MM_IsValidImageHandle(static_cast<MM_HANDLE>(image)));
    EXPECT_EQ(c.GetImage(), second);
    EXPECT_GT(FrameCounter(static_cast<MM_HANDLE>(second), 0), first);
}

TEST_F(Snap, DescriptionHasFifteenLinesAndIsStoredWithItsTerminator) {
    UseCamera("");  // the default 1392 x 1040 sensor
    TBXTessvikFerroFW& c = CreateAndOpen();
    const int32_t image = c.Snap();
    const auto comment = bx::mm::Comment(static_cast<MM_HANDLE>(image));
    ASSERT_TRUE(comment);
    EXPECT_EQ(bx::mm::CommentLength(static_cast<MM_HANDLE>(image)),
              static_cast<int32_t>(comment->size() + 1));
    const auto lines = Lines(*comment);
    ASSERT_EQ(lines.size(), 15u) << *comment;
    EXPECT_EQ(lines[0], "[Created]");
    EXPECT_EQ(lines[3], "[Grab Parameters]");
    EXPECT_EQ(lines[4], "Camera=KorvaneFW");
    const std::vector<std::string> window(lines.begin() + 5, lines.end());
    EXPECT_EQ(window,
              (std::vector<std::string>{
                  "Window Left=0", "Window Top=0", "Window Right=1391", "Window Bottom=1039",
                  "Window Width=1392", "Window Height=1040", "Binning=1", "Image Width=1392",
                  "Image Height=1040", "Exposure=" + std::to_string(c.ExposureTime)}));
}

TEST_F(Snap, RefusalsAndFailuresLeaveNoGrabBehind) {
    TBXTessvikFerroFW& c = OpenWithView();
    const size_t images = bx::mm::ListImages().size();

    // Live video running: beep and fail, nothing made.
    c.LiveActive = true;
    EXPECT_EQ(FailureText([&] { c.Snap(); }), "Focus In Progress");
    EXPECT_EQ(ui->BeepCount(), 1u);
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(bx::mm::ListImages().size(), images);
    c.LiveActive = false;

    // No session: a beep and no image, reported as success.
    const int32_t kept = c.AcquisitionImage;
    c.Quit();
    EXPECT_EQ(c.Snap(), 0);
    EXPECT_EQ(ui->BeepCount(), 2u);
    EXPECT_EQ(c.AcquisitionImage, kept);
    c.Initialise();

    // A depth without an image type: the acquisition event went out, nothing was created.
    RecordEvents();
    c.BitDepth = 11;
    EXPECT_EQ(FailureText([&] { c.Snap(); }), "Unknown Image Type");
    EXPECT_EQ(events, (std::vector<std::string>{"PreAcquisition", "Progress -1"}));
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(bx::mm::ListImages().size(), images);

    // The store refuses the image (the host shrank the frame to nothing from its handler).
    c.BitDepth = 12;
    c.Events.Set(EventId::OnPreAcquisitionTriggerClick, [&] { c.ImageWidth = 0; });
    EXPECT_EQ(FailureText([&] { c.Snap(); }), "Image Allocation Failure");
    EXPECT_EQ(c.AcquisitionImage, 0);
    EXPECT_EQ(c.GrabProgress, -1);
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(bx::mm::ListImages().size(), images);
}

TEST_F(Snap, AWindowWidenedByAnEventHandlerDoesNotOverrunTheFrame) {
    TBXTessvikFerroFW& c = OpenWithView();
    c.SelectBinning(1);  // binning 2: a quarter-size frame
    const int32_t binnedWidth = c.ImageWidth;
    // The host unbins from its pre-frame handler and the camera is told: it now sends frames
    // four times the size of the image already made.
    c.Events.Set(EventId::OnPreFrameTriggerClick, [&] {
        c.SelectBinning(0);
        c.ApplyRegion();
    });
    int grabResult = -1;
    MM_HANDLE made = 0;
    c.Events.Set(EventId::OnPostFrameTriggerClick, [&] {
        grabResult = c.LastCameraError;
        made = static_cast<MM_HANDLE>(c.AcquisitionImage);
    });
    // The frame does not fit, so nothing is written, and the host learns that the Snap failed
    // rather than getting an empty image.
    EXPECT_THROW(
        try { c.Snap(); } catch (const ControlFailure& f) {
            EXPECT_STREQ(f.what(), "Unable To Grab Frame");
            throw;
        },
        ControlFailure);
    ASSERT_GT(c.ImageWidth, binnedWidth);
    EXPECT_EQ(grabResult, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_NE(made, 0u);
    EXPECT_FALSE(MM_IsValidImageHandle(made)) << "the undelivered image is deleted";
    EXPECT_EQ(c.AcquisitionImage, 0);
    EXPECT_FALSE(c.GrabInProgress);
}

TEST_F(Snap, AFrameTheCameraDidNotDeliverFailsTheSnap) {
    TBXTessvikFerroFW& c = OpenWithView();
    ui->SetResponder([](const bx::ui::MessageBoxRequest&) { return bx::ui::IDIGNORE; });
    ASSERT_EQ(KvCamSim_SetFault(KVCAMSIM_FAULT_GRAB, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS,
                                KVCAM_ERR_FAILED),
              KVCAM_OK);
    const size_t before = bx::mm::ListImages().size();
    EXPECT_EQ(FailureText([&] { c.Snap(); }), "Unable To Grab Frame");
    EXPECT_EQ(bx::mm::ListImages().size(), before) << "the empty image is not left behind";
    EXPECT_EQ(c.AcquisitionImage, 0);
    EXPECT_EQ(FailureText([&] { c.GetImage(); }), "no acquisition image present!");
}

TEST_F(Snap, ARefusedRegionAfterAGoodGrabIsNotAGrabFailure) {
    TBXTessvikFerroFW& c = OpenWithView();
    // Once the frame is in, every settings send fails: the closing region re-send is refused.
    c.Events.Set(EventId::OnPostFrameTriggerClick, [] {
        KvCamSim_SetFault(KVCAMSIM_FAULT_SEND_SETTINGS, KVCAMSIM_ANY_ID, 0, KVCAMSIM_ALWAYS, 0);
    });
    const int32_t image = c.Snap();
    EXPECT_NE(image, 0);
    EXPECT_NE(c.LastCameraError, KVCAM_OK) << "the re-send did fail";
    EXPECT_EQ(c.GetImage(), image);
    EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(static_cast<MM_HANDLE>(image), 0)), 1u);
}

TEST_F(Snap, EightBitChoiceOverridesTheDepthAndTheFrameIsNarrowed) {
    TBXTessvikFerroFW& c = OpenWithView();
    c.HighSpeedMapMin = 10, c.HighSpeedMapMax = 4000;
    c.FocusMapMin = 3, c.FocusMapMax = 200;
    c.chk_Acquire8bit->SetChecked(true);  // the camera still sends 16-bit frames
    const int32_t image = c.Snap();
    EXPECT_EQ(c.BitDepth, 8);
    EXPECT_EQ(c.BytesPerPixel, 1);
    EXPECT_EQ(c.CurrentMappingFormat, MM_TYPE_GREY8);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    const auto info = bx::mm::Describe(static_cast<MM_HANDLE>(image));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, MM_TYPE_GREY8);
    EXPECT_DOUBLE_EQ(info->map_min, 3);
    EXPECT_DOUBLE_EQ(info->map_max, 200);
    EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(static_cast<MM_HANDLE>(image), 0)), 4u);
}

TEST_F(Snap, PaletteGoesToGreyAndDeepImagesButNotToColour) {
    TBXTessvikFerroFW& c =
        OpenWithView("[camera]\ntype = 4\n[sensor]\nwidth = 64\nheight = 48\ncolour = yes\n");
    c.SetAcquisitionPalette(3);  // red ramp
    std::array<int32_t, 256> red{};
    for (int i = 0; i < 256; ++i) red[i] = i << 16;

    const auto grey = bx::mm::Describe(static_cast<MM_HANDLE>(c.Snap()));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->lut, red);

    c.BitDepth = 32;
    const auto deep = bx::mm::Describe(static_cast<MM_HANDLE>(c.Snap()));
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->type, MM_TYPE_GREY32);
    EXPECT_EQ(deep->lut, red);

    c.chk_Color->SetChecked(true);
    ASSERT_EQ(c.BitDepth, 24);
    c.SetExposureTime(20000);  // bright enough for a scene in 8-bit colour
    const int32_t colourImage = c.Snap();
    const auto colour = bx::mm::Describe(static_cast<MM_HANDLE>(colourImage));
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->type, MM_TYPE_BGR24);
    EXPECT_NE(colour->lut, red);  // the store's own default table
    EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(static_cast<MM_HANDLE>(colourImage), 0)), 16u);
}

// ---- GetImage --------------------------------------------------------------------------------

TEST_F(Snap, GetImageNeedsALiveAcquisitionImage) {
    TBXTessvikFerroFW& c = Create();
    EXPECT_EQ(FailureText([&] { c.GetImage(); }), "no acquisition image present!");

    control.reset();
    TBXTessvikFerroFW& opened = OpenWithView();
    const int32_t image = opened.Snap();
    EXPECT_EQ(opened.GetImage(), image);
    MM_DeleteImage(static_cast<MM_HANDLE>(image));  // the host may drop it
    EXPECT_EQ(FailureText([&] { opened.GetImage(); }), "no acquisition image present!");
}

// ---- GrabFrameIntoImage ----------------------------------------------------------------------

class GrabIntoImage : public AcquisitionTest {
protected:
    MM_HANDLE HostImage(int frames, int32_t width = 0, int32_t height = 0,
                        int32_t type = MM_TYPE_GREY12) {
        MM_VECTOR size;
        MM_InitVector(&size, 1);
        size.d[0] = width ? width : control->ImageWidth.load();
        size.d[1] = height ? height : control->ImageHeight.load();
        size.d[2] = frames;
        return MM_CreateNDIM_ptr(&size, type, 256);
    }
};

TEST_F(GrabIntoImage, TheHostImagesOwnPixelsSizeWhatIsWritten) {
    TBXTessvikFerroFW& c = OpenWithView();  // acquiring 12-bit
    // An 8-bit host frame gets the frame narrowed to its top 8 bits, and nothing beyond it.
    const MM_HANDLE narrow = HostImage(1, 0, 0, MM_TYPE_GREY8);
    double elapsed = -1;
    c.GrabFrameIntoImage(static_cast<int32_t>(narrow), 0, true, &elapsed);
    EXPECT_EQ(c.LastCameraError, KVCAM_OK);
    EXPECT_GT(DistinctBytes(bx::mm::ReadFrame(narrow, 0)), 1u);
    EXPECT_GE(elapsed, 0.0);
    // Pixels the frame cannot become are refused before anything is written.
    for (int32_t type : {MM_TYPE_BGR24, MM_TYPE_GREY32}) {
        const MM_HANDLE other = HostImage(1, 0, 0, type);
        EXPECT_EQ(FailureText([&] {
                      c.GrabFrameIntoImage(static_cast<int32_t>(other), 0, true, &elapsed);
                  }),
                  "Image Type Mismatch")
            << type;
        EXPECT_EQ(DistinctBytes(bx::mm::ReadFrame(other, 0)), 1u) << type;
        EXPECT_FALSE(c.GrabInProgress);
    }
}

TEST_F(GrabIntoImage, FillsFramesOneIndexAtATime) {
    TBXTessvikFerroFW& c = OpenWithView();
    c.DisplayEnabled = true;
    const MM_HANDLE image = HostImage(3);
    RecordEvents();

    double first = -1, second = -1;
    c.GrabFrameIntoImage(static_cast<int32_t>(image), 0, true, &first);
    EXPECT_EQ(events, (std::vector<std::string>{"PreFrame", "Frame", "PostFrame"}));
    const auto lines = Lines(bx::mm::Comment(image).value_or(""));
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines.back(), "Frame Rate=" + std::to_string(c.FrameRate));
    EXPECT_EQ(view.ShownImage(), image);
    EXPECT_GE(first, 0.0);

    c.GrabFrameIntoImage(static_cast<int32_t>(image), 1, false, &second);
    EXPECT_GE(second, first);
    EXPECT_EQ(view.CallCount(CallKind::Vector), 1u);
    EXPECT_EQ(view.Calls().back().vector.d[2], 1);
    EXPECT_FALSE(c.GrabInProgress);
    EXPECT_EQ(FrameCounter(image, 1), FrameCounter(image, 0) + 1);
    EXPECT_EQ(DistinctBytes(bx::mm::ReadFrame(image, 2)), 1u);  // not touched yet

    // Frame 0 again without the first flag: no new description, time from the same start.
    const std::string description = *bx::mm::Comment(image);
    MM_WriteComment(image, "host note", 10);
    double third = -1;
    c.GrabFrameIntoImage(static_cast<int32_t>(image), 0, false, &third);
    EXPECT_EQ(bx::mm::Comment(image), "host note");
    EXPECT_GE(third, second);
    EXPECT_NE(description, "host note");
}

TEST_F(GrabIntoImage, DoesNothingWithoutASessionOrDuringAGrab) {
    TBXTessvikFerroFW& c = OpenWithView();
    const MM_HANDLE image = HostImage(1);
    RecordEvents();
    double elapsed = -7;
    c.GrabInProgress = true;
    c.GrabFrameIntoImage(static_cast<int32_t>(image), 0, true, &elapsed);
    c.GrabInProgress = false;
    c.Quit();
    c.GrabFrameIntoImage(static_cast<int32_t>(image), 0, true, &elapsed);
    EXPECT_EQ(elapsed, -7);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(bx::mm::CommentLength(image), 0);
    EXPECT_EQ(DistinctBytes(bx::mm::ReadFrame(image, 0)), 1u);
}

TEST_F(GrabIntoImage, BadImagesAndIndicesFailAndLeaveNoGrabBehind) {
    TBXTessvikFerroFW& c = OpenWithView();
    const MM_HANDLE image = HostImage(2);
    double elapsed = 0;
    EXPECT_EQ(FailureText([&] { c.GrabFrameIntoImage(0, 0, true, &elapsed); }),
              "Invalid Acquisition Image");
    EXPECT_EQ(FailureText([&] { c.GrabFrameIntoImage(12345, 0, true, &elapsed); }),
              "Invalid Acquisition Image");
    for (int32_t index : {2, 99, -1}) {
        EXPECT_EQ(FailureText([&] {
                      c.GrabFrameIntoImage(static_cast<int32_t>(image), index, false, &elapsed);
                  }),
                  "Unable to Get Image Frame Handle")
            << index;
        EXPECT_FALSE(c.GrabInProgress);
    }
}

TEST_F(GrabIntoImage, AHostFrameSmallerThanTheCameraFrameIsNotOverrun) {
    TBXTessvikFerroFW& c = OpenWithView();
    const MM_HANDLE image = HostImage(1, 16, 16);
    double elapsed = -1;
    EXPECT_THROW(c.GrabFrameIntoImage(static_cast<int32_t>(image), 0, true, &elapsed),
                 ControlFailure);
    EXPECT_EQ(c.LastCameraError, KVCAM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(DistinctBytes(bx::mm::ReadFrame(image, 0)), 1u);
    EXPECT_EQ(elapsed, -1) << "a failed grab reports no time";
    EXPECT_TRUE(MM_IsValidImageHandle(image)) << "the host's image is never deleted";
    EXPECT_FALSE(c.GrabInProgress);
}
