// The measuring half of auto-exposure. The histogram runs on every frame of a run over up to
// the whole frame, so it is written for speed: each row is counted into several histograms in
// turn (a run of equal values would otherwise make every increment wait for the one before),
// bins come from a mask and a shift (every divisor is a power of two), and the depth is decided
// once per row, never per pixel.
#include "panel/Histogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ferro::panel {

namespace {

constexpr uint32_t kStrongCount = 30;  // a bin this full is the peak by itself
constexpr uint32_t kCount = 10;        // a bin this full counts when a neighbour holds counts
constexpr int kTopBin = kHistogramBins - 1;

// Histograms a row is spread over in turn; their sum is the result. The more there are, the
// further apart two increments of one bin come (on a camera frame 16 beat 8, which beat 4).
constexpr int kLanes = 16;
using Lanes = std::array<std::array<uint32_t, kHistogramBins>, kLanes>;

bool IsValid(const DepthLayout& layout) {
    if (layout.BinShift < 0 || layout.BinShift > 15) return false;
    switch (layout.BytesPerPixel) {
        case 1:
        case 3:
            return (0xFFu >> layout.BinShift) <= kTopBin;
        case 2:
            return layout.ValueMask != 0 && layout.ValueMask <= 0xFFFF &&
                   (layout.ValueMask >> layout.BinShift) <= kTopBin;
        default:
            return false;
    }
}

// Every byte of a row: 8-bit grey pixels, or the three channels of 24-bit colour pixels.
void CountBytes(const uint8_t* p, size_t count, int shift, Lanes& lanes) {
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        for (int lane = 0; lane < kLanes; ++lane) ++lanes[lane][p[i + lane] >> shift];
    for (; i < count; ++i) ++lanes[0][p[i] >> shift];
}

inline uint32_t Word(const uint8_t* p) {
    uint16_t w;
    std::memcpy(&w, p, sizeof w);  // the buffer need not be aligned for words
    return w;
}

// The 16-bit words of a row, each masked to its significant bits.
void CountWords(const uint8_t* p, size_t count, uint32_t mask, int shift, Lanes& lanes) {
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes, p += 2 * kLanes)
        for (int lane = 0; lane < kLanes; ++lane)
            ++lanes[lane][(Word(p + 2 * lane) & mask) >> shift];
    for (; i < count; ++i, p += 2) ++lanes[0][(Word(p) & mask) >> shift];
}

}  // namespace

std::optional<DepthLayout> DepthLayoutFor(int depth) {
    switch (depth) {
        case 8:
            return DepthLayout{1, 2.0, 0, 1};
        case 10:
            return DepthLayout{2, 8.0, 0x3FF, 3};
        case 12:
            return DepthLayout{2, 32.0, 0xFFF, 5};
        case 14:
            return DepthLayout{2, 128.0, 0x3FFF, 7};
        case 16:
            return DepthLayout{2, 512.0, 0xFFFF, 9};
        case 24:
            return DepthLayout{3, 2.0, 0, 1};
        default:
            return std::nullopt;
    }
}

PixelRegion WholeFrame(int width, int height) {
    return PixelRegion{0, width - 1, 0, height - 1};
}

PixelRegion DrawnRegion(int left, int top, int right, int bottom, int width, int height) {
    // A rectangle wholly outside the frame, or inverted, comes out empty.
    PixelRegion region;
    region.FirstColumn = std::max(left, 0);
    region.LastColumn = std::min(right, width - 1);
    region.FirstRow = top >= height - 1 ? height : std::max(top + 1, 0);
    region.LastRow = std::min(bottom, height - 1);
    return region;
}

Histogram BuildHistogram(const void* buffer, size_t bufferBytes, int width, int height,
                         const PixelRegion& region, const DepthLayout& layout) {
    Histogram result{};
    if (buffer == nullptr || width <= 0 || height <= 0 || !IsValid(layout)) return result;
    const size_t pixelBytes = static_cast<size_t>(layout.BytesPerPixel);
    const size_t rowBytes = static_cast<size_t>(width) * pixelBytes;
    const int rows = static_cast<int>(std::min<size_t>(height, bufferBytes / rowBytes));
    const int firstColumn = std::max(region.FirstColumn, 0);
    const int lastColumn = std::min(region.LastColumn, width - 1);
    const int firstRow = std::max(region.FirstRow, 0);
    const int lastRow = std::min(region.LastRow, rows - 1);
    if (firstColumn > lastColumn || firstRow > lastRow) return result;

    Lanes lanes{};
    const auto* base = static_cast<const uint8_t*>(buffer) + firstColumn * pixelBytes;
    const size_t columns = static_cast<size_t>(lastColumn - firstColumn + 1);
    for (int row = firstRow; row <= lastRow; ++row) {
        const uint8_t* p = base + static_cast<size_t>(row) * rowBytes;
        if (pixelBytes == 2)
            CountWords(p, columns, layout.ValueMask, layout.BinShift, lanes);
        else
            CountBytes(p, columns * pixelBytes, layout.BinShift, lanes);
    }
    for (int bin = 0; bin < kHistogramBins; ++bin)
        for (const auto& lane : lanes) result[bin] += lane[bin];
    return result;
}

// Two slots, upper and lower, where 0 means empty (so a peak in bin 0 reads as "none").
int FindPeakBin(const Histogram& h) {
    int upper = 0, lower = 0;
    bool stopped = false;
    for (int i = kTopBin; i >= 0 && !stopped; --i) {
        if (h[i] >= kStrongCount) {
            upper = i;
            lower = i - 1;
            stopped = true;
        } else if (h[i] >= kCount) {
            if (upper == 0) {
                upper = i;
                lower = 0;
                continue;
            }
            upper = i + 1;
            lower = i;
            if (upper == 0 || lower == 0) continue;
            if (h[lower] != 0 && h[upper] != 0) {
                stopped = true;
            } else {
                lower = i;
                upper = 0;
            }
        }
    }
    // Bin 0 holding the strong count leaves upper empty and lower at -1: the peak is then -1.
    int peak = 0;
    if (stopped || lower == 0) peak = upper;
    if (upper == 0) peak = lower;
    return peak;
}

int FindFloorBin(const Histogram& h) {
    int upper = 0, lower = 0;
    for (int i = 0; i <= kTopBin; ++i) {
        if (h[i] < kCount) continue;
        lower = i;
        if (upper == 0) {
            upper = lower;
            lower = 0;
            continue;
        }
        upper = i - 1;
        lower = i;
        if (upper == 0 || lower == 0) continue;
        if (h[lower] != 0 && h[upper] != 0) return upper;
        upper = 0;
        lower = i;
    }
    int floor = 0;
    if (lower == 0) floor = upper;
    if (upper == 0) floor = lower;
    return floor;
}

double ExposureStepRatio(int peakBin, int floorBin, double target) {
    const double numerator = std::max(std::trunc((kTopBin - floorBin) * target), 1.0);
    double denominator = std::max(peakBin - floorBin, 1);
    if (peakBin == floorBin && floorBin > 0) denominator = peakBin;
    const double ratio = numerator / denominator;
    return peakBin == kTopBin && ratio > 1 ? 0.95 : ratio;
}

}  // namespace ferro::panel
