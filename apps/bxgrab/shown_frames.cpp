#include "shown_frames.h"

#include <bxmm/mm40.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <cstring>

namespace bxgrab {

namespace {

enum Channel : uint8_t { kBlue = 0, kGreen = 1, kRed = 2 };

// Channels per value and bytes per channel of the store types live video shows.
struct Shape {
    int channels = 0;
    int bytes = 0;
};

Shape ShapeOf(int32_t type) {
    switch (type) {
        case MM_TYPE_GREY8:
            return {1, 1};
        case MM_TYPE_GREY12:
        case MM_TYPE_GREY16:
            return {1, 2};
        case MM_TYPE_BGR24:
            return {3, 1};
        case MM_TYPE_GREY32:
            return {1, 4};
        default:
            return {};
    }
}

template <typename T>
uint32_t MaxOf(const uint8_t* p, size_t count) {
    T best = 0;
    for (size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, p + i * sizeof(T), sizeof(T));
        best = std::max(best, v);
    }
    return best;
}

uint32_t MaxOfValues(const uint8_t* p, size_t count, int bytes) {
    switch (bytes) {
        case 1:
            return count ? *std::max_element(p, p + count) : 0;
        case 2:
            return MaxOf<uint16_t>(p, count);
        default:
            return MaxOf<uint32_t>(p, count);
    }
}

}  // namespace

std::optional<NumberLayout> ColourNumberLayout(uint32_t sensorPattern, int x, int y) {
    // The colour of each cell of the sensor's 2 x 2 mosaic, by the colour of its first pixel.
    static constexpr Channel kCells[4][2][2] = {
        {{kRed, kGreen}, {kGreen, kBlue}},  // RGGB
        {{kGreen, kRed}, {kBlue, kGreen}},  // GRBG
        {{kGreen, kBlue}, {kRed, kGreen}},  // GBRG
        {{kBlue, kGreen}, {kGreen, kRed}},  // BGGR
    };
    if (sensorPattern < KVCAM_BAYER_RGGB || sensorPattern > KVCAM_BAYER_BGGR || x < 0 || y < 0)
        return std::nullopt;
    NumberLayout layout{MM_TYPE_BGR24, {}};
    for (int i = 0; i < 4; ++i)
        layout.channels[i] = kCells[sensorPattern - KVCAM_BAYER_RGGB][y & 1][(x + i) & 1];
    return layout;
}

std::optional<uint32_t> FrameNumberOf(const uint8_t* pixels, size_t bytes,
                                      const NumberLayout& layout) {
    const Shape shape = ShapeOf(layout.type);
    const size_t pixelBytes = size_t(shape.channels) * shape.bytes;
    if (pixels == nullptr || pixelBytes == 0 || pixelBytes > 3 || bytes < 4 * pixelBytes)
        return std::nullopt;
    // The driver's own decoder reads the grey layouts; a colour frame's four bytes are
    // gathered into a grey row first.
    uint8_t gathered[4];
    KvCamFrame frame{};
    frame.width = 4;
    frame.height = 1;
    if (layout.type == MM_TYPE_BGR24) {
        for (int i = 0; i < 4; ++i) gathered[i] = pixels[3 * i + layout.channels[i]];
        frame.buffer = gathered;
        frame.bufferSize = sizeof gathered;
        frame.format = KVCAM_FORMAT_MONO8;
    } else {
        frame.buffer = const_cast<uint8_t*>(pixels);
        frame.bufferSize = static_cast<uint32_t>(4 * pixelBytes);
        frame.format = shape.bytes == 2 ? KVCAM_FORMAT_MONO16 : KVCAM_FORMAT_MONO8;
    }
    uint32_t number = 0;
    if (KvCamSim_ReadFrameCounter(&frame, &number) != KVCAM_OK) return std::nullopt;
    return number;
}

uint32_t BrightestPixel(const uint8_t* pixels, size_t bytes, int32_t type, int width, int height,
                        bool skipNumber) {
    const Shape shape = ShapeOf(type);
    if (pixels == nullptr || shape.bytes == 0 || width <= 0 || height <= 0) return 0;
    const size_t rowValues = size_t(width) * shape.channels;
    const size_t rowBytes = rowValues * shape.bytes;
    const int rows = static_cast<int>(std::min<size_t>(height, bytes / rowBytes));
    const bool colour = type == MM_TYPE_BGR24;
    const int skipRows = skipNumber ? (colour ? 2 : 1) : 0;
    const size_t skipValues = skipNumber ? size_t(colour ? 5 : 4) * shape.channels : 0;
    uint32_t best = 0;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = pixels + rowBytes * y;
        const size_t from = y < skipRows ? std::min(skipValues, rowValues) : 0;
        best = std::max(best, MaxOfValues(row + from * shape.bytes, rowValues - from, shape.bytes));
    }
    return best;
}

void FrameCheck::Add(std::optional<uint32_t> number) {
    ++totals_.shown;
    if (!number) {
        ++totals_.unnumbered;
        ++unnumberedSinceLast_;
        return;
    }
    if (last_) {
        if (*number <= *last_) {
            ++totals_.repeated;
            return;
        }
        // A frame shown without a readable number may well have held a skipped one.
        const uint64_t skipped = *number - *last_ - 1;
        totals_.lost += skipped - std::min<uint64_t>(skipped, unnumberedSinceLast_);
    }
    last_ = number;
    unnumberedSinceLast_ = 0;
}

}  // namespace bxgrab
