// The record every acquired image carries: its type by bit depth, the creation record
// (default header, display range, dimension labels, name, description), the palette copy and
// the end-of-sequence record (labels, per-frame time stamps, cut to the frames acquired).
#include "control/ImageTypes.h"

#include <bxmm/mm40.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

namespace {

constexpr int32_t kCreateFlags = 256;
constexpr int16_t kTimeDimension = 2;
constexpr int16_t kFirstExtraDimension = 3;
constexpr int16_t kLastDimension = MM_MAX_DIMS - 1;

void LabelDimension(int32_t image, int16_t dim, const char* name, const char* units) {
    MM_SetDimName(image, dim, name);
    MM_SetUnits(image, dim, units);
    MM_SetResolution(image, dim, 1.0);
    MM_SetOrigin(image, dim, 0.0);
}

void ClearDimensions(int32_t image, int16_t first) {
    for (int16_t dim = first; dim <= kLastDimension; ++dim) LabelDimension(image, dim, "", "");
}

// Date and time of day as the description shows them. The platform's date separator is "/"
// and its long time format is the 24-hour "HH:MM:SS" (those of the C locale), so both are
// written directly rather than through the locale's %x/%X, whose order would vary.
std::string DateText(const std::tm& now) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", now.tm_mday, now.tm_mon + 1,
                  now.tm_year + 1900);
    return text;
}

std::string TimeText(const std::tm& now) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
    return text;
}

}  // namespace

size_t TBXTessvikFerroFW::AcquisitionFrameBytes() const {
    const auto type = ImageTypeForDepth(AcquisitionDepth(BitDepth, Acquire8Bit));
    if (!type || ImageWidth <= 0 || ImageHeight <= 0) return 0;
    return static_cast<size_t>(ImageWidth) * static_cast<size_t>(ImageHeight) *
           static_cast<size_t>(type->BytesPerPixel);
}

std::string TBXTessvikFerroFW::BuildAcquisitionHeader(bool withFrameRate) const {
    const std::time_t clock = std::time(nullptr);
    std::tm now{};
    localtime_r(&clock, &now);

    std::string text;
    auto line = [&text](const std::string& content) { text += content + "\r\n"; };
    auto value = [&line](const char* key, long number) {
        line(std::string(key) + std::to_string(number));
    };
    line("[Created]");
    line("Date=" + DateText(now));
    line("Time=" + TimeText(now));
    line("[Grab Parameters]");
    line("Camera=KorvaneFW");
    value("Window Left=", GrabWindowLeft);
    value("Window Top=", GrabWindowTop);
    value("Window Right=", GrabWindowRight);
    value("Window Bottom=", GrabWindowBottom);
    value("Window Width=", SensorWindowWidth);
    value("Window Height=", SensorWindowHeight);
    value("Binning=", BinningFactorX);
    value("Image Width=", ImageWidth);
    value("Image Height=", ImageHeight);
    value("Exposure=", ExposureTime);
    if (withFrameRate) value("Frame Rate=", FrameRate);
    return text;
}

int32_t TBXTessvikFerroFW::CreateAcquisitionImage(ImageKind kind, const char* unknownTypeText) {
    // The 8-bit choice overrides the depth for good: the field keeps 8 afterwards.
    if (Acquire8Bit) BitDepth = 8;
    const auto type = ImageTypeForDepth(BitDepth);
    if (!type) throw ControlFailure(unknownTypeText ? unknownTypeText : "Unknown Image Type");

    int32_t image = 0;
    if (kind == ImageKind::Single) {
        image = MM_CreateImage(ImageWidth, ImageHeight, type->StoreType, kCreateFlags);
    } else {
        MM_VECTOR size;
        MM_InitVector(&size, 1);
        size.d[0] = ImageWidth;
        size.d[1] = ImageHeight;
        size.d[2] = NumberOfFrames;
        image = MM_CreateNDIM_ptr(&size, type->StoreType, kCreateFlags);
    }
    AcquisitionImage = image;
    BytesPerPixel = type->BytesPerPixel;
    if (type->MappingFormat != 0) CurrentMappingFormat = type->MappingFormat;
    if (image == 0 || !MM_IsValidHandle(static_cast<uint32_t>(image))) {
        AcquisitionImage = 0;
        throw ControlFailure("Image Allocation Failure");
    }

    WriteCreationHeader(image);
    if (kind == ImageKind::Single) {
        ClearDimensions(image, kTimeDimension);
        const std::string header = BuildAcquisitionHeader(false);
        // The stored length counts the terminating zero, which is stored too.
        MM_WriteComment(image, header.c_str(), static_cast<int32_t>(header.size() + 1));
    }
    return image;
}

void TBXTessvikFerroFW::WriteCreationHeader(int32_t image) const {
    MM_CopyDefHeader(image);
    if (CurrentMappingFormat == MM_TYPE_GREY8) {
        MM_SetMapMin(image, FocusMapMin);
        MM_SetMapMax(image, FocusMapMax);
    } else if (BitDepth == MaxBitDepth) {
        MM_SetMapMin(image, HighSpeedMapMin);
        MM_SetMapMax(image, HighSpeedMapMax);
    } else {
        MM_SetMapMin(image, SlowScanMapMin);
        MM_SetMapMax(image, SlowScanMapMax);
    }
    MM_SetName(image, "Grabbed");
}

void TBXTessvikFerroFW::ApplyAcquisitionPalette(int32_t image) const {
    SetImageLut(static_cast<uint32_t>(image), LutEntries(AcquisitionPalette));
}

void TBXTessvikFerroFW::FinishSequenceRecord(int32_t image, std::span<const double> timeStamps,
                                             int framesAcquired, bool cut) {
    LabelDimension(image, kTimeDimension, "Time", "ms");
    ClearDimensions(image, kFirstExtraDimension);

    for (int i = 0; i < NumberOfFrames; ++i) {
        MM_STAMP stamp{};
        if (!MM_GetStamp(image, &stamp, i)) break;  // past the image's last frame
        const double at = static_cast<size_t>(i) < timeStamps.size() ? timeStamps[i] : 0.0;
        MM_SetStampPosition(&stamp, kTimeDimension, at);
        MM_SetStamp(image, &stamp, i);
    }

    // An image cannot have zero frames; an empty sequence is its caller's to delete.
    if (!cut || framesAcquired < 1) return;
    MM_VECTOR origin, size;
    MM_InitVector(&origin, 0);
    MM_InitBoundaries(image, &size, 0);
    size.d[kTimeDimension] = std::min(size.d[kTimeDimension], framesAcquired);
    MM_ResizeImage(image, origin, size);
    ClearDimensions(image, kFirstExtraDimension);
}

}  // namespace ferro
