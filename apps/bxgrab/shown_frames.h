// What bxgrab measures on the frames live video shows: the camera's frame number that the
// simulated camera writes into a frame's first four pixels, the check that turns those
// numbers into lost and repeated frames, and the brightest pixel.
//
// Thread rule: the functions are pure and safe from any thread; a FrameCheck is
// thread-bound (the live thread feeds it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace bxgrab {

// Where the four frame-number bytes sit in a shown frame of store type `type`: grey frames
// hold one byte per pixel value; a 24-bit frame is the camera's colour mosaic turned into
// blue, green and red, and each of the four first pixels keeps its own mosaic colour exactly,
// so `channels[i]` is that colour's byte (0 blue, 1 green, 2 red) of pixel i.
struct NumberLayout {
    int32_t type = 0;
    std::array<uint8_t, 4> channels{};
};

// The layout of a colour frame whose first pixel lies at sensor column `x`, row `y` of a
// mosaic whose sensor pattern is `sensorPattern` (KVCAM_BAYER_*); nullopt when there is no
// mosaic.
std::optional<NumberLayout> ColourNumberLayout(uint32_t sensorPattern, int x, int y);

// The frame number of a shown frame (`bytes` of pixels); nullopt when the frame is too small
// or holds no readable number.
std::optional<uint32_t> FrameNumberOf(const uint8_t* pixels, size_t bytes,
                                      const NumberLayout& layout);

// The brightest stored value of a `width` x `height` frame of store type `type` (over the
// three channels of a colour frame). With `skipNumber` the pixels the frame number occupies
// are left out, and in colour also those its demosaicing spreads into (a 5 x 2 corner).
uint32_t BrightestPixel(const uint8_t* pixels, size_t bytes, int32_t type, int width, int height,
                        bool skipNumber);

struct FrameCheckTotals {
    uint64_t shown = 0;
    // Numbers skipped between consecutive shown frames (less the frames between them
    // whose number could not be read).
    uint64_t lost = 0;
    uint64_t repeated = 0;    // a number not after the last one: shown twice (or out of order)
    uint64_t unnumbered = 0;  // frames without a readable number (not compared)
};

// Follows the numbers of consecutive shown frames. The camera numbers every frame it
// delivers, so a skipped number is a frame the camera completed that was never shown.
class FrameCheck {
public:
    void Add(std::optional<uint32_t> number);
    const FrameCheckTotals& totals() const { return totals_; }

private:
    std::optional<uint32_t> last_;
    uint64_t unnumberedSinceLast_ = 0;
    FrameCheckTotals totals_;
};

}  // namespace bxgrab
