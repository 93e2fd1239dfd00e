// The host's image view interface: what a control calls to show store images, and the overlay
// objects (rectangles the user drew on the view) it can read back.
//
// A view reaches the control as a 32-bit handle from the platform's object table, registered
// as TBXImageView (see ImageViewRegistration); the control looks it up with LookupImageView.
//
// Thread rule: thread-safe. A control calls a view from its UI thread and its live-video
// thread at once; every implementation must allow that.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bxmm/mm40.h"

namespace bx::view {

// A rectangle in displayed image pixels; right and bottom are inclusive.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

// One overlay object drawn on the view. Objects live as long as their handler, so a pointer
// from GetOverlayObject never dangles; a removed object just stops being listed.
//
// Thread rule: thread-safe.
class TTavikonOverlayObject {
public:
    // Fills `rect` with the object's bounding rectangle. False (rect untouched) once the
    // object has been removed from its view.
    bool GetBoundingRect(TRect& rect) const;

private:
    friend class TTavikonOverlayHandler;
    mutable std::mutex mutex_;
    TRect rect_;
    bool present_ = false;
};

// The overlay objects of one view, in drawing order.
//
// Thread rule: thread-safe.
class TTavikonOverlayHandler {
public:
    // The index-th object drawn, or null when there are fewer objects.
    TTavikonOverlayObject* GetOverlayObject(int index);
    // Host side: draws a rectangle (normalised so left <= right, top <= bottom) and returns
    // its object; removes every object.
    TTavikonOverlayObject* AddRectangle(const TRect& rect);
    void Clear();
    int Count() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TTavikonOverlayObject>> objects_;  // never shrinks
    std::vector<TTavikonOverlayObject*> shown_;
};

// The view a control draws into.
class TBXImageView {
public:
    virtual ~TBXImageView() = default;

    // Shows image `image` of the store, frame 0.
    virtual void SetMMImage(MM_HANDLE image) = 0;
    // Redraws the image shown from `bits`: the locked pixels of one of its frames.
    virtual void SetMMBits(const void* bits) = 0;
    // Shows the frame at `index` of the image shown.
    virtual void SetMMVector(MM_VECTOR index) = 0;

    // The view's overlay handler (its objects are what the user drew).
    TTavikonOverlayHandler& OverlayHandler() { return overlay_handler_; }

private:
    TTavikonOverlayHandler overlay_handler_;
};

// Registers a view in the platform's object table for as long as this object lives, so it can
// be handed over as a 32-bit handle.
//
// Thread rule: thread-bound (the owner); the handle itself may be used from any thread.
class ImageViewRegistration {
public:
    explicit ImageViewRegistration(TBXImageView* view);
    ~ImageViewRegistration();
    ImageViewRegistration(const ImageViewRegistration&) = delete;
    ImageViewRegistration& operator=(const ImageViewRegistration&) = delete;

    uint32_t handle() const { return handle_; }

private:
    uint32_t handle_ = 0;
};

// The view registered under `handle`, or null for 0, an unknown or released handle, or a
// handle naming something else.
TBXImageView* LookupImageView(uint32_t handle);

}  // namespace bx::view
