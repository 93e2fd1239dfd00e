// Pieces of the auto-exposure search that do not need the form: how each acquisition depth
// is read, the region a frame is measured over, the 128-bin intensity histogram, the search
// for the top and bottom of its populated range, and the exposure ratio one step takes.
//
// Thread rule: thread-safe (pure functions).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace ferro::panel {

inline constexpr int kHistogramBins = 128;
using Histogram = std::array<uint32_t, kHistogramBins>;

// How pixels of one acquisition depth are read: bytes per pixel, the bin divisor and the mask
// of the significant bits of a 16-bit word (0: a byte is used whole). Every divisor is a power
// of two, so the bin is (value & mask) >> BinShift; the full scale of each depth is bin 127.
struct DepthLayout {
    int BytesPerPixel = 0;
    double BinDivisor = 0;
    uint32_t ValueMask = 0;
    int BinShift = 0;
};

// The layout of depth 8, 10, 12, 14, 16 or 24 (after Acquire8Bit has forced 8); none for any
// other depth.
std::optional<DepthLayout> DepthLayoutFor(int depth);

// Inclusive columns and rows of a frame; empty when first > last on either axis.
struct PixelRegion {
    int FirstColumn = 0, LastColumn = -1;
    int FirstRow = 0, LastRow = -1;
    bool Empty() const { return FirstColumn > LastColumn || FirstRow > LastRow; }
    friend bool operator==(const PixelRegion&, const PixelRegion&) = default;
};

// The whole frame of `width` x `height` pixels.
PixelRegion WholeFrame(int width, int height);

// The region of a rectangle drawn on the view (inclusive edges in frame pixels): columns left
// through right and rows top + 1 through bottom, cut to the frame, so a rectangle reaching
// past the frame (or drawn before the frame shrank) never reads outside it.
PixelRegion DrawnRegion(int left, int top, int right, int bottom, int width, int height);

// Counts the pixels of `region` in a frame whose rows are `width` pixels long. Grey 8-bit and
// 24-bit colour frames count every byte (so a colour pixel counts each of its three channels);
// 16-bit words count their masked value. The region is cut to the frame and to `bufferBytes`;
// a layout that is not one of DepthLayoutFor's gives an empty histogram.
Histogram BuildHistogram(const void* buffer, size_t bufferBytes, int width, int height,
                         const PixelRegion& region, const DepthLayout& layout);

// The top of the populated range: scanning down from bin 127, the first bin with at least 30
// counts, or a pair of bins each with a count of which the lower holds at least 10. 0 when no
// bin qualifies; -1 when bin 0 alone holds 30 counts or more.
int FindPeakBin(const Histogram& histogram);

// The bottom of the populated range: scanning up from bin 0, a bin with at least 10 counts
// opens a candidate and the next such bin i settles the floor at i - 1 when bins i - 1 and i
// both hold counts; a candidate still open when the scan ends is the floor; 0 when none.
int FindFloorBin(const Histogram& histogram);

// Factor by which one search step scales the exposure so that the peak moves to `target`
// (a fraction of full scale) over the floor; a saturated peak never scales it up.
double ExposureStepRatio(int peakBin, int floorBin, double target);

}  // namespace ferro::panel
