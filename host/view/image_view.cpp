#include "bxview/image_view.h"

#include <algorithm>

#include "bxplatform/handles.h"

namespace bx::view {

bool TTavikonOverlayObject::GetBoundingRect(TRect& rect) const {
    std::lock_guard lock(mutex_);
    if (!present_) return false;
    rect = rect_;
    return true;
}

TTavikonOverlayObject* TTavikonOverlayHandler::GetOverlayObject(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(shown_.size())) return nullptr;
    return shown_[index];
}

TTavikonOverlayObject* TTavikonOverlayHandler::AddRectangle(const TRect& rect) {
    std::lock_guard lock(mutex_);
    // Reuse a removed object before making a new one, so placing and clearing in a loop does
    // not grow the list; objects are never freed while the handler lives.
    TTavikonOverlayObject* object = nullptr;
    for (auto& candidate : objects_) {
        if (std::find(shown_.begin(), shown_.end(), candidate.get()) == shown_.end()) {
            object = candidate.get();
            break;
        }
    }
    if (object == nullptr) {
        objects_.push_back(std::make_unique<TTavikonOverlayObject>());
        object = objects_.back().get();
    }
    {
        std::lock_guard object_lock(object->mutex_);
        object->rect_ = {std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom),
                         std::max(rect.Left, rect.Right), std::max(rect.Top, rect.Bottom)};
        object->present_ = true;
    }
    shown_.push_back(object);
    return object;
}

void TTavikonOverlayHandler::Clear() {
    std::lock_guard lock(mutex_);
    for (auto* object : shown_) {
        std::lock_guard object_lock(object->mutex_);
        object->present_ = false;
    }
    shown_.clear();
}

int TTavikonOverlayHandler::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(shown_.size());
}

ImageViewRegistration::ImageViewRegistration(TBXImageView* view)
    : handle_(view ? ObjectHandles().Register<TBXImageView>(view) : 0) {}

ImageViewRegistration::~ImageViewRegistration() {
    if (handle_ != 0) ObjectHandles().Release(handle_);
}

TBXImageView* LookupImageView(uint32_t handle) {
    return handle == 0 ? nullptr : ObjectHandles().Lookup<TBXImageView>(handle);
}

}  // namespace bx::view
