// libFuzzer target: the store's OME-TIFF save. The input picks a pixel type, a small size
// (1x1, one wide row, odd widths), frames along dimensions 2 and 3, a comment and the pixel
// bytes; the saved file, read back with libtiff, must hold one page per frame with the same
// size, sample layout and pixel bytes (colour as red, green, blue), and OME-XML naming the
// sizes and the type.
#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dispatch_fuzz.h"
#include "temp_folder.h"

namespace {

using bx::fuzz::detail::Bytes;

[[noreturn]] void Broken(const char* what, int64_t frame = -1) {
    std::fprintf(stderr, "ometiff fuzz: %s (frame %lld)\n", what, static_cast<long long>(frame));
    std::abort();
}

const std::string& Path() {
    static const std::string path = bx::fuzz::TempFolder("ometiff_fuzz") + "/out.ome.tif";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TIFFSetWarningHandler(nullptr);
    Bytes in(data, size);
    static const int32_t kTypes[] = {MM_TYPE_GREY8, MM_TYPE_GREY12, MM_TYPE_GREY16, MM_TYPE_BGR24,
                                     MM_TYPE_GREY32};
    const int32_t type = kTypes[in.Byte() % 5];
    const int bpp = bx::mm::BytesPerPixel(type);
    const uint8_t shape = in.Byte();
    int32_t width, height;
    switch (shape % 4) {
        case 0:
            width = height = 1;
            break;
        case 1:  // one wide row
            width = 1 + (in.Byte() << 4 | in.Byte() >> 4) % 2048;
            height = 1;
            break;
        case 2:  // one tall column
            width = 1;
            height = 1 + in.Byte() % 200;
            break;
        default:
            width = 1 + in.Byte() % 67;
            height = 1 + in.Byte() % 41;
            break;
    }
    MM_VECTOR dims;
    MM_InitVector(&dims, 1);
    dims.d[0] = width;
    dims.d[1] = height;
    dims.d[2] = 1 + in.Byte() % 4;
    dims.d[3] = 1 + (shape >> 2) % 2;
    const int64_t frames = int64_t{dims.d[2]} * dims.d[3];
    const size_t frameBytes = size_t(width) * size_t(height) * size_t(bpp);

    const MM_HANDLE image = MM_CreateNDIM_ptr(&dims, type, 256);
    if (!image) Broken("image not created");
    std::vector<std::vector<uint8_t>> pixels(frames);
    for (int64_t f = 0; f < frames; ++f) {
        MM_VECTOR index;
        MM_InitVector(&index, 0);
        index.d[2] = int32_t(f % dims.d[2]);
        index.d[3] = int32_t(f / dims.d[2]);
        const MM_LEAF leaf = MM_GetData(image, index);
        auto* p = static_cast<uint8_t*>(MM_Lock(leaf, MM_LOCK_WRITE));
        if (!p) Broken("leaf not locked", f);
        pixels[f].resize(frameBytes);
        // The input's bytes, then a pattern once they run out.
        for (size_t i = 0; i < frameBytes; ++i) {
            pixels[f][i] = in.Done() ? uint8_t(i * 7 + f * 13) : in.Byte();
        }
        std::memcpy(p, pixels[f].data(), frameBytes);
        MM_Unlock(leaf, 1);
    }
    const std::string comment = "fuzz <&> \"comment\"";
    MM_WriteComment(image, comment.c_str(), int32_t(comment.size() + 1));

    bx::mm::SaveOptions options;
    options.direct_io = shape & 0x40;
    if (shape & 0x80) options.significant_bits = 1 + shape % (bpp == 3 ? 8 : bpp * 8);
    const std::string& path = Path();
    std::remove(path.c_str());
    if (!bx::mm::SaveOmeTiff(image, path, options)) Broken("save failed");
    MM_DeleteImage(image);

    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) Broken("saved file does not open");
    const bool rgb = type == MM_TYPE_BGR24;
    std::vector<uint8_t> strip(frameBytes);
    int64_t page = 0;
    do {
        if (page >= frames) Broken("more pages than frames", page);
        uint32_t w = 0, h = 0;
        uint16_t bits = 0, samples = 0, planar = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        if (w != uint32_t(width) || h != uint32_t(height)) Broken("page size differs", page);
        if (samples != (rgb ? 3 : 1) || bits != (rgb ? 8 : bpp * 8) ||
            planar != PLANARCONFIG_CONTIG) {
            Broken("sample layout differs", page);
        }
        if (page == 0) {
            char* description = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) || !description) {
                Broken("no OME-XML");
            }
            const std::string xml(description);
            const std::string sizes = "SizeX=\"" + std::to_string(width) + "\"";
            const std::string rows = "SizeY=\"" + std::to_string(height) + "\"";
            if (xml.find("<OME") == std::string::npos || xml.find(sizes) == std::string::npos ||
                xml.find(rows) == std::string::npos) {
                Broken("OME-XML does not name the size");
            }
        }
        // Read row by row, whatever the strip layout.
        const tmsize_t rowBytes = TIFFScanlineSize(tif);
        if (rowBytes != tmsize_t(width) * bpp) Broken("row size differs", page);
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, strip.data() + size_t(y) * size_t(rowBytes), y) < 0) {
                Broken("row unreadable", page);
            }
        }
        const std::vector<uint8_t>& want = pixels[page];
        for (size_t i = 0; i < frameBytes; ++i) {
            // The store keeps blue, green, red; the file carries red, green, blue.
            const size_t from = rgb ? i - i % 3 + (2 - i % 3) : i;
            if (strip[i] != want[from]) Broken("pixel bytes differ", page);
        }
        ++page;
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    if (page != frames) Broken("fewer pages than frames", page);
    return 0;
}
