// The headless view: what it records and copies for each call, display rendering, overlay
// objects, its 32-bit handle, and use from a live thread while the UI thread reads it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "bxmm/host.h"
#include "bxmm/mm40.h"
#include "bxplatform/kernel.h"
#include "bxview/headless_view.h"

namespace bx::view {
namespace {

using Kind = THeadlessImageView::CallKind;

MM_VECTOR Index(int32_t frame) {
    MM_VECTOR v;
    MM_InitVector(&v, 0);
    v.d[2] = frame;
    return v;
}

// A three-frame 16-bit image whose frame f is filled with the value 1000 * (f + 1).
MM_HANDLE ThreeFrames(int32_t width, int32_t height) {
    MM_VECTOR size;
    MM_InitVector(&size, 1);
    size.d[0] = width;
    size.d[1] = height;
    size.d[2] = 3;
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    for (int f = 0; f < 3; ++f) {
        const MM_LEAF leaf = MM_GetData(image, Index(f));
        auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
        for (int i = 0; i < width * height; ++i) pixels[i] = uint16_t(1000 * (f + 1));
        MM_Unlock(leaf, 1);
    }
    return image;
}

uint16_t FirstValue(const THeadlessImageView::Frame& frame) {
    uint16_t v;
    std::memcpy(&v, frame.pixels.data(), 2);
    return v;
}

TEST(Calls, ImageVectorAndBitsAreRecordedAndCopied) {
    const MM_HANDLE image = ThreeFrames(20, 10);
    THeadlessImageView view;
    view.SetMMImage(image);
    auto frame = view.LastFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->image, image);
    EXPECT_EQ(frame->frame, 0);
    EXPECT_EQ(frame->width, 20);
    EXPECT_EQ(FirstValue(*frame), 1000);

    view.SetMMVector(Index(2));
    frame = view.LastFrame();
    EXPECT_EQ(frame->frame, 2);
    EXPECT_EQ(FirstValue(*frame), 3000);

    const MM_LEAF leaf = MM_GetData(image, Index(1));
    auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
    pixels[0] = 77;
    view.SetMMBits(pixels);
    frame = view.LastFrame();
    EXPECT_EQ(frame->frame, 1);
    EXPECT_EQ(FirstValue(*frame), 77);
    MM_Unlock(leaf, 1);

    const auto calls = view.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, Kind::Image);
    EXPECT_EQ(calls[1].kind, Kind::Vector);
    EXPECT_EQ(calls[1].vector.d[2], 2);
    EXPECT_EQ(calls[2].kind, Kind::Bits);
    EXPECT_EQ(calls[2].bits, pixels);
    for (const auto& call : calls) EXPECT_TRUE(call.frame_copied);
    EXPECT_EQ(view.CallCount(Kind::Bits), 1u);
    MM_DeleteImage(image);
}

// Each kind of copy is stamped on the kernel clock between the call's start and its return.
TEST(Calls, EveryFrameCopyIsTimedOnTheKernelClock) {
    const MM_HANDLE image = ThreeFrames(20, 10);
    const MM_LEAF leaf = MM_GetData(image, Index(1));
    const void* bits = MM_Lock(leaf, 0);
    THeadlessImageView view;
    const struct {
        const char* call;
        void (*show)(THeadlessImageView&, MM_HANDLE, const void*);
    } cases[] = {
        {"SetMMImage", [](THeadlessImageView& v, MM_HANDLE h, const void*) { v.SetMMImage(h); }},
        {"SetMMVector",
         [](THeadlessImageView& v, MM_HANDLE, const void*) { v.SetMMVector(Index(2)); }},
        {"SetMMBits", [](THeadlessImageView& v, MM_HANDLE, const void* p) { v.SetMMBits(p); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const int64_t before = kernel::NowMicroseconds();
        c.show(view, image, bits);
        const int64_t after = kernel::NowMicroseconds();
        const auto frame = view.LastFrame();
        ASSERT_TRUE(frame);
        EXPECT_GE(frame->copied_at_us, before);
        EXPECT_LE(frame->copied_at_us, after);
    }
    MM_Unlock(leaf, 0);
    MM_DeleteImage(image);
}

TEST(Calls, UnknownPointersAndIndicesAreRecordedButNeverRead) {
    const MM_HANDLE image = ThreeFrames(8, 8);
    THeadlessImageView view;
    view.SetMMImage(image);
    const uint64_t before = view.LastFrame()->sequence;

    std::vector<uint16_t> stray(4);  // smaller than a frame: reading it would overrun
    view.SetMMBits(stray.data());
    view.SetMMBits(nullptr);
    view.SetMMVector(Index(3));
    view.SetMMImage(0xFFFFFFF0u);
    EXPECT_EQ(view.LastFrame()->sequence, before);
    const auto calls = view.Calls();
    ASSERT_EQ(calls.size(), 5u);
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_FALSE(calls[i].frame_copied) << i;
    EXPECT_EQ(view.ShownImage(), 0xFFFFFFF0u);
    MM_DeleteImage(image);
}

TEST(Calls, HistoryIsBoundedButCountsStayExact) {
    const MM_HANDLE image = ThreeFrames(4, 4);
    THeadlessImageView view(10);
    view.SetMMImage(image);
    for (int i = 0; i < 50; ++i) view.SetMMVector(Index(i % 3));
    EXPECT_EQ(view.Calls().size(), 10u);
    EXPECT_EQ(view.CallCount(Kind::Vector), 50u);
    EXPECT_EQ(view.CallCount(Kind::Image), 1u);
    MM_DeleteImage(image);
}

TEST(Render, DisplayRangeAndLutAreApplied) {
    const MM_HANDLE image = ThreeFrames(4, 2);
    MM_SetMapMin(image, 1000.0);
    MM_SetMapMax(image, 3000.0);
    std::vector<int32_t> lut(256);
    for (int i = 0; i < 256; ++i) lut[i] = i << 16 | (255 - i);  // red rises, blue falls
    MM_SetLUT(image, lut.data());

    THeadlessImageView view;
    EXPECT_FALSE(view.RenderLastFrame());
    view.SetMMImage(image);  // 1000: bottom of the range
    auto shown = view.RenderLastFrame();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->bgr.size(), 4u * 2 * 3);
    EXPECT_EQ(shown->bgr[0], 255);  // blue
    EXPECT_EQ(shown->bgr[2], 0);    // red
    view.SetMMVector(Index(1));     // 2000: the middle
    shown = view.RenderLastFrame();
    EXPECT_EQ(shown->bgr[2], 128);
    view.SetMMVector(Index(2));  // 3000: the top
    shown = view.RenderLastFrame();
    EXPECT_EQ(shown->bgr[2], 255);
    EXPECT_EQ(shown->bgr[0], 0);
    MM_DeleteImage(image);
}

TEST(Overlay, PlacedRectangleIsObjectZeroUntilCleared) {
    THeadlessImageView view;
    TTavikonOverlayHandler& overlays = view.OverlayHandler();
    EXPECT_EQ(overlays.GetOverlayObject(0), nullptr);
    view.PlaceOverlay({30, 40, 10, 20});  // given corner to corner, reported normalised
    TTavikonOverlayObject* object = overlays.GetOverlayObject(0);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(overlays.GetOverlayObject(1), nullptr);
    EXPECT_EQ(overlays.GetOverlayObject(-1), nullptr);
    TRect rect;
    ASSERT_TRUE(object->GetBoundingRect(rect));
    EXPECT_EQ(rect.Left, 10);
    EXPECT_EQ(rect.Top, 20);
    EXPECT_EQ(rect.Right, 30);
    EXPECT_EQ(rect.Bottom, 40);

    view.ClearOverlay();
    EXPECT_EQ(overlays.GetOverlayObject(0), nullptr);
    TRect untouched{1, 2, 3, 4};
    EXPECT_FALSE(object->GetBoundingRect(untouched));  // the old pointer is still safe
    EXPECT_EQ(untouched.Left, 1);
}

TEST(Handle, ViewIsReachedThroughItsRegisteredHandle) {
    uint32_t handle = 0;
    {
        THeadlessImageView view;
        ImageViewRegistration registration(&view);
        handle = registration.handle();
        ASSERT_NE(handle, 0u);
        EXPECT_EQ(LookupImageView(handle), &view);
    }
    EXPECT_EQ(LookupImageView(handle), nullptr);  // released with the registration
    EXPECT_EQ(LookupImageView(0), nullptr);
    ImageViewRegistration none(nullptr);
    EXPECT_EQ(none.handle(), 0u);
}

TEST(Threads, LiveThreadShowsFramesWhileUiThreadReadsAndPlacesOverlays) {
    const MM_HANDLE display = ThreeFrames(64, 48);
    THeadlessImageView view;
    view.SetMMImage(display);
    const MM_LEAF leaf = MM_GetData(display, Index(0));
    auto* pixels = static_cast<uint16_t*>(MM_Lock(leaf, 0));
    ASSERT_NE(pixels, nullptr);
    constexpr int kFrames = 300;
    std::atomic<bool> stop{false};

    std::thread live([&] {
        for (int i = 1; i <= kFrames && !stop.load(); ++i) {
            for (int p = 0; p < 64 * 48; ++p) pixels[p] = uint16_t(i);
            view.SetMMBits(pixels);
        }
    });
    // The UI thread waits (bounded) for the last frame while it reads and draws.
    uint64_t seen = 0;
    bool last_frame_seen = false;
    for (int i = 0; i < 100000 && !last_frame_seen; ++i) {
        view.PlaceOverlay({i % 10, 0, 20, 20});
        TRect rect;
        if (auto* object = view.OverlayHandler().GetOverlayObject(0)) object->GetBoundingRect(rect);
        view.RenderLastFrame();
        if (auto frame = view.WaitForFrame(seen, 1000)) {
            seen = frame->sequence;
            last_frame_seen = FirstValue(*frame) == kFrames;
        }
    }
    stop.store(true);
    live.join();
    EXPECT_TRUE(last_frame_seen);
    EXPECT_EQ(view.CallCount(Kind::Bits), uint64_t(kFrames));
    MM_Unlock(leaf, 0);
    MM_DeleteImage(display);
}

}  // namespace
}  // namespace bx::view
