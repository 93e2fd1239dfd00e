// Host-side access to the image store: what a host program (and the tests) use to look at the
// images the control made, save them, and set up the disk device. The control never calls
// these; it uses only the MM_ C interface of mm40.h.
//
// Thread rule: every function is thread-safe.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bxmm/mm40.h"

namespace bx::mm {

// Bytes per pixel of a data type code, 0 for an unknown code.
int BytesPerPixel(int32_t type);

struct DimensionInfo {
    std::string name;
    std::string units;
    double resolution = 1.0;
    double origin = 0.0;
};

// A snapshot of an image's record.
struct ImageInfo {
    MM_HANDLE handle = 0;
    int32_t type = 0;
    int bytes_per_pixel = 0;
    MM_VECTOR size{};        // elements 2..9 multiply to `frames`
    int64_t frames = 0;      // number of leaves
    size_t frame_bytes = 0;  // width * height * bytes_per_pixel
    std::string name;
    double map_min = 0.0;
    double map_max = 0.0;
    std::array<int32_t, 256> lut{};
    std::array<DimensionInfo, MM_MAX_DIMS> dims;
    int32_t disk_id = 0;  // 0 for an in-memory image
};

// Handles of every live image, in creation order.
std::vector<MM_HANDLE> ListImages();
std::optional<ImageInfo> Describe(MM_HANDLE image);

// The stored comment without its terminating zero; nullopt for an unknown image.
std::optional<std::string> Comment(MM_HANDLE image);
// Stored comment length counting the terminating zero (0 when none was written).
int32_t CommentLength(MM_HANDLE image);

// Stamps of every frame, in linear frame order; nullopt for an unknown image.
std::optional<std::vector<MM_STAMP>> Stamps(MM_HANDLE image);

// Copies the pixels of linear frame `frame` into `dst` (`bytes` must be at least the frame
// size). Works for in-memory and disk images; a locked disk frame is read from its lock copy.
// Block writes still in flight may not be seen yet: call MM_WaitForTransfer first. Waits
// while another thread write-holds the leaf (MM_LOCK_WRITE), so the frame is copied whole.
bool ReadFrame(MM_HANDLE image, int64_t frame, void* dst, size_t bytes);
std::vector<uint8_t> ReadFrame(MM_HANDLE image, int64_t frame);  // empty on failure

// Where a locked leaf pointer belongs. Lets a view check a pixel pointer handed to it.
struct LockedLeaf {
    MM_HANDLE image = 0;  // 0 when the leaf was detached by a delete or resize
    MM_LEAF leaf = 0;
    int64_t frame = -1;
    size_t bytes = 0;
};
// When `pixels` is the start of a currently locked leaf, copies that leaf's bytes into `out`
// and describes it. The copy is made while the leaf's memory is held, so it is safe even if
// another thread unlocks it meanwhile, and waits while another thread write-holds the leaf
// (MM_LOCK_WRITE), so the copy is one whole frame.
std::optional<LockedLeaf> CopyLockedPixels(const void* pixels, std::vector<uint8_t>& out);

// ---- Saving -------------------------------------------------------------------------------

enum class BigTiff { Auto, Always, Never };

struct SaveOptions {
    // Auto writes BigTIFF when a classic file would pass 4 GiB.
    BigTiff big_tiff = BigTiff::Auto;
    // Writes pixel data with aligned direct I/O when the file system allows it.
    bool direct_io = true;

    // What the store cannot know by itself, for the OME-XML of SaveOmeTiff (SaveTiff ignores
    // them). Each is written only when set and usable; otherwise its attribute is left out.
    //
    // Bits of each sample that carry data (12 for 12-bit data in 16-bit pixels; 8 for 24-bit
    // colour, per channel): Pixels@SignificantBits. Usable from 1 to the sample's bits.
    std::optional<int> significant_bits;
    // The exposure of every plane, in seconds: each Plane's ExposureTime, in "s". Usable when
    // finite, not negative and within float range.
    std::optional<double> exposure_seconds;
    // When the image was acquired: Image/AcquisitionDate, written as UTC
    // ("2026-08-12T09:30:05.250Z", to the millisecond). Usable for the years 1 to 9999.
    std::optional<std::chrono::system_clock::time_point> acquisition_time;
};

struct SaveResult {
    bool ok = false;
    std::string error;  // what failed, with the path and the system's reason
    bool big_tiff = false;
    explicit operator bool() const { return ok; }
};

// How both saves treat the output path: the file is written to a temporary in the folder of
// the final target, flushed to disk, renamed over the target and the folder flushed, so the
// path holds either the old file or the complete new one, even after a crash. A symbolic
// link at the path is followed (through chains) and the file it names is replaced; the links
// stay. A replaced file keeps its permission bits. A path naming something other than a
// regular file is refused. On failure the temporary is removed and what was at the path (or
// its absence) is untouched; the one exception is a failed flush of the folder after the
// rename, whose error says that the new file is in place.
//
// One plane per frame (linear order; frames of dimensions 3..9 become further time points),
// UTF-8 OME-XML in the first page's description with the pixel type, sizes, per-plane DeltaT
// from the stamps' dimension-2 positions (in dimension 2's time units, milliseconds unless
// they name another; a plane whose time is not finite or out of float range has no DeltaT)
// and the comment as a comment annotation. The SaveOptions' significant bits, exposure and
// acquisition time are written as they describe.
//
// The pixel size comes from the resolution and units of dimensions 0 and 1, each on its own:
// a dimension has a physical size when its resolution is a positive float and either its
// units name a length (pm, nm, um or µm, mm, cm, m; then at any resolution, 1 included) or it
// has no units and a resolution other than 1 (taken in OME's default unit, the micrometre).
// The default header (no units, resolution 1) and other units ("pixel", for one) give no
// PhysicalSizeX / PhysicalSizeY.
//
// Texts are read as UTF-8 (a byte outside any UTF-8 sequence as Latin-1); characters XML
// cannot carry become U+FFFD. 24-bit images are written as RGB.
// Each frame is taken whole: a save waits while another thread write-holds it, and a locked
// frame is copied before it is written out, so a writer waits for a copy, not for the disk.
SaveResult SaveOmeTiff(MM_HANDLE image, const std::string& path, const SaveOptions& options = {});
// Plain multi-page TIFF (one page per frame), the comment's bytes as they are stored as the
// first page's ImageDescription.
SaveResult SaveTiff(MM_HANDLE image, const std::string& path, const SaveOptions& options = {});

// ---- Disk device --------------------------------------------------------------------------

// Configures the disk device: a regular file (created when missing) or a block device, and
// its sector size (a power of two, 512..1 MiB). `capacity_bytes` bounds a file (0: 1 TiB);
// a block device's own size always bounds it. Replaces a device configured before once its
// writes have finished; images already on the old device keep reading from it. False when the
// path cannot be opened or the sector size is wrong.
bool ConfigureDisk(const std::string& path, int32_t sector_bytes, int64_t capacity_bytes = 0);
// Stops putting new images on the device (existing disk images keep working).
void CloseDisk();
// Fault hook: the next `count` device writes fail (0 disarms).
void FailNextDiskWrites(int count);

}  // namespace bx::mm
