// The type table of the control's store images.
#include "control/ImageTypes.h"

#include <bxmm/mm40.h>

namespace ferro {

std::optional<ImageTypeInfo> ImageTypeForDepth(int bitDepth) {
    switch (bitDepth) {
        case 8:
            return ImageTypeInfo{MM_TYPE_GREY8, 1, MM_TYPE_GREY8};
        case 10:
        case 12:
            return ImageTypeInfo{MM_TYPE_GREY12, 2, MM_TYPE_GREY12};
        case 14:
        case 16:
            return ImageTypeInfo{MM_TYPE_GREY16, 2, MM_TYPE_GREY16};
        case 24:
            return ImageTypeInfo{MM_TYPE_BGR24, 3, 0};
        case 32:
            return ImageTypeInfo{MM_TYPE_GREY32, 4, 0};
        default:
            return std::nullopt;
    }
}

}  // namespace ferro
