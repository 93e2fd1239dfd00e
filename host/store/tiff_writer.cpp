// Saving images as OME-TIFF and plain TIFF with libtiff.
//
// libtiff writes the file through our own I/O callbacks. Every page is written as one
// uncompressed strip, which libtiff hands to the write callback straight from our buffer; the
// callbacks place each strip at a page-aligned offset (by reporting the end of the file
// rounded up to a page) so the pixels can go to disk with direct I/O, bypassing the page
// cache. Directories and the rest go through the page cache. The gaps left by the alignment
// are holes of under a page per frame. The file is written as a temporary beside the target
// and renamed over it once complete and flushed (bxplatform/replace_file.h).
#include <bxplatform/replace_file.h>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

#include "bxmm/host.h"
#include "file_io.h"
#include "store.h"

namespace bx::mm {

namespace {

constexpr uint64_t kClassicTiffLimit = 0xFFFFFFFFull;

// ---- Output file behind libtiff's client I/O ---------------------------------------------

struct OutFile {
    int fd = -1;         // the ReplacingFile's temporary, owned there
    int fd_direct = -1;  // a second descriptor of it with O_DIRECT, owned here
    uint64_t pos = 0;
    uint64_t size = 0;
    std::string error;

    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile() {
        if (fd_direct >= 0) close(fd_direct);
    }
};

OutFile* File(thandle_t h) {
    return static_cast<OutFile*>(h);
}

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
    OutFile* f = File(h);
    const ssize_t got = pread(f->fd, buf, static_cast<size_t>(n), static_cast<off_t>(f->pos));
    if (got < 0) return -1;
    f->pos += static_cast<uint64_t>(got);
    return got;
}

tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t n) {
    OutFile* f = File(h);
    const auto* data = static_cast<const uint8_t*>(buf);
    auto length = static_cast<size_t>(n);
    auto offset = static_cast<int64_t>(f->pos);
    if (f->fd_direct >= 0 && offset % kDirectAlign == 0 && IsAligned(data, kDirectAlign) &&
        length >= kDirectAlign) {
        const size_t whole = length / kDirectAlign * kDirectAlign;
        if (WriteAll(f->fd_direct, data, whole, offset)) {
            data += whole;
            length -= whole;
            offset += static_cast<int64_t>(whole);
        } else if (errno == EINVAL) {
            // This file system wants another alignment: use the page cache from now on.
            close(f->fd_direct);
            f->fd_direct = -1;
        } else {
            f->error = std::string("writing failed: ") + std::strerror(errno);
            return -1;
        }
    }
    if (length > 0 && !WriteAll(f->fd, data, length, offset)) {
        f->error = std::string("writing failed: ") + std::strerror(errno);
        return -1;
    }
    f->pos += static_cast<uint64_t>(n);
    if (f->pos > f->size) f->size = f->pos;
    return n;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    OutFile* f = File(h);
    switch (whence) {
        case SEEK_SET:
            f->pos = off;
            break;
        case SEEK_CUR:
            f->pos += off;
            break;
        case SEEK_END:
            // libtiff places every new strip and directory at the end of the file; rounding
            // the end up to a page makes those offsets aligned for direct I/O.
            f->pos = (f->fd_direct >= 0 ? RoundUp(f->size, kDirectAlign) : f->size) + off;
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    return f->pos;
}

int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t h) {
    return File(h)->size;
}
int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int ErrorHandler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    auto* f = static_cast<OutFile*>(user);
    if (f->error.empty()) f->error = std::string(module ? module : "libtiff") + ": " + text;
    return 1;
}

int WarningHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// ---- OME-XML ------------------------------------------------------------------------------

// The well-formed UTF-8 sequence at text[i]: its length and code point, 0 when none starts
// there (a stray continuation byte, a cut-off sequence, an overlong form, a surrogate or a
// value past U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t* code) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t value = 0, least = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        value = value << 6 | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Characters an XML 1.0 document may carry at all, raw or as a reference.
bool XmlChar(uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

enum class XmlContext { Element, Attribute };

// Escapes text for the UTF-8 OME-XML. Texts are taken as UTF-8; a byte that does not start a
// well-formed sequence is taken as a Latin-1 character, so single-byte texts (a "\xB5m" typed
// on a single-byte code page) still read right. A character XML cannot carry (most control
// characters, U+FFFE, U+FFFF) becomes U+FFFD, so the reader sees that something was there.
// Carriage returns are references so readers do not fold "\r\n" into "\n"; in attribute
// values tabs and line feeds are references too, as readers turn raw ones into spaces.
std::string XmlText(std::string_view text, XmlContext context = XmlContext::Element) {
    const bool attribute = context == XmlContext::Attribute;
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(text, i, &code);
        if (length == 0) code = static_cast<unsigned char>(text[i]);
        i += length == 0 ? 1 : length;
        switch (code) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            default:
                AppendUtf8(out, XmlChar(code) ? code : 0xFFFD);
        }
    }
    return out;
}

std::string Number(double value) {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

// A number as an xs:float, or none. A value that is not finite, or that a float cannot hold
// (a reader would take it as infinite), is not a value anyone can use: the attribute is then
// left out rather than carrying a made-up number or a word no reader accepts.
std::optional<std::string> XsFloat(double value) {
    if (!std::isfinite(value) || std::fabs(value) > double(std::numeric_limits<float>::max())) {
        return std::nullopt;
    }
    return Number(value);
}

// An OME PositiveFloat: an xs:float that stays above zero when a reader takes it as a float.
std::optional<std::string> PositiveFloat(double value) {
    if (!(value >= double(std::numeric_limits<float>::min()))) return std::nullopt;
    return XsFloat(value);
}

// A stamp time as DeltaT, or none (see XsFloat).
std::optional<std::string> DeltaT(double time) {
    return XsFloat(time);
}

const char* OmePixelType(int32_t type) {
    switch (type) {
        case MM_TYPE_GREY12:
        case MM_TYPE_GREY16:
            return "uint16";
        case MM_TYPE_GREY32:
            return "uint32";
        default:
            return "uint8";
    }
}

// OME's symbol for the image's time units; milliseconds when they are not a known unit.
const char* OmeTimeUnit(const std::string& units) {
    for (const char* known : {"s", "ms", "ns", "min", "h"}) {
        if (units == known) return known;
    }
    if (units == "us" || units == "\xB5s" || units == "\xC2\xB5s") return "\xC2\xB5s";
    return "ms";
}

// OME's symbol for a dimension's length units; null when they are no length OME knows.
const char* OmeLengthUnit(const std::string& units) {
    for (const char* known : {"pm", "nm", "mm", "cm", "m"}) {
        if (units == known) return known;
    }
    if (units == "um" || units == "\xB5m" || units == "\xC2\xB5m") return "\xC2\xB5m";
    return nullptr;
}

// PhysicalSizeX or PhysicalSizeY with its unit, or nothing (see SaveOmeTiff for when a
// dimension has a pixel size).
std::string PhysicalSize(const char* axis, const DimensionInfo& dim) {
    const char* unit = OmeLengthUnit(dim.units);
    if (unit == nullptr) {
        if (!dim.units.empty() || dim.resolution == 1.0) return "";
        unit = "\xC2\xB5m";
    }
    const auto size = PositiveFloat(dim.resolution);
    if (!size) return "";
    return std::string(" PhysicalSize") + axis + "=\"" + *size + "\" PhysicalSize" + axis +
           "Unit=\"" + unit + "\"";
}

// An xs:dateTime in UTC to the millisecond; none outside the years 1 to 9999.
std::optional<std::string> XsDateTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    if (!date.ok() || date.year() < year{1} || date.year() > year{9999}) return std::nullopt;
    const hh_mm_ss clock{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return std::string(text);
}

// Pixels@SignificantBits when the host gave a count the samples can hold.
std::string SignificantBits(const ImageInfo& info, const SaveOptions& options) {
    const int sample_bits = info.type == MM_TYPE_BGR24 ? 8 : info.bytes_per_pixel * 8;
    const auto bits = options.significant_bits;
    if (!bits || *bits < 1 || *bits > sample_bits) return "";
    return " SignificantBits=\"" + std::to_string(*bits) + "\"";
}

// Each plane's ExposureTime, in seconds, when the host gave a usable one.
std::string ExposureTime(const SaveOptions& options) {
    if (!options.exposure_seconds || *options.exposure_seconds < 0) return "";
    const auto seconds = XsFloat(*options.exposure_seconds);
    return seconds ? " ExposureTime=\"" + *seconds + "\" ExposureTimeUnit=\"s\"" : "";
}

std::string OmeXml(const ImageInfo& info, const std::string& comment, bool has_comment,
                   const std::vector<MM_STAMP>& stamps, const SaveOptions& options) {
    const bool rgb = info.type == MM_TYPE_BGR24;
    const std::string frames = std::to_string(info.frames);
    std::string xml;
    xml.reserve(1024 + stamps.size() * 80 + comment.size());
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml +=
        "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
        "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" Creator=\"bx_mm40\">\n";
    xml += "<Image ID=\"Image:0\" Name=\"" + XmlText(info.name, XmlContext::Attribute) + "\">\n";
    if (options.acquisition_time) {
        if (const auto date = XsDateTime(*options.acquisition_time)) {
            xml += "<AcquisitionDate>" + *date + "</AcquisitionDate>\n";
        }
    }
    // Every frame of dimensions 2..9 becomes one time point, in linear frame order.
    xml += "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"";
    xml += OmePixelType(info.type);
    xml += "\" SizeX=\"" + std::to_string(info.size.d[0]) + "\" SizeY=\"" +
           std::to_string(info.size.d[1]) + "\" SizeZ=\"1\" SizeC=\"" + (rgb ? "3" : "1") +
           "\" SizeT=\"" + frames + "\" BigEndian=\"false\"" +
           (rgb ? " Interleaved=\"true\"" : "") + SignificantBits(info, options) +
           PhysicalSize("X", info.dims[0]) + PhysicalSize("Y", info.dims[1]) + ">\n";
    xml += std::string("<Channel ID=\"Channel:0:0\" SamplesPerPixel=\"") + (rgb ? "3" : "1") +
           "\"/>\n";
    xml += "<TiffData IFD=\"0\" PlaneCount=\"" + frames + "\"/>\n";
    const std::string unit = OmeTimeUnit(info.dims[2].units);
    const std::string exposure = ExposureTime(options);
    for (size_t t = 0; t < stamps.size(); ++t) {
        xml += "<Plane TheZ=\"0\" TheC=\"0\" TheT=\"" + std::to_string(t) + "\"";
        if (const auto delta = DeltaT(stamps[t].position[2])) {
            xml += " DeltaT=\"" + *delta + "\" DeltaTUnit=\"" + unit + "\"";
        }
        xml += exposure + "/>\n";
    }
    xml += "</Pixels>\n";
    if (has_comment) xml += "<AnnotationRef ID=\"Annotation:0\"/>\n";
    xml += "</Image>\n";
    if (has_comment) {
        xml += "<StructuredAnnotations>\n<CommentAnnotation ID=\"Annotation:0\"><Value>";
        xml += XmlText(comment);
        xml += "</Value></CommentAnnotation>\n</StructuredAnnotations>\n";
    }
    xml += "</OME>\n";
    return xml;
}

// ---- Writing ------------------------------------------------------------------------------

// Writes every frame as one page, the description on the first. False when a frame cannot
// be read or has changed size meanwhile, or when writing fails (the error then lands in the
// OutFile).
bool WritePages(TIFF* tif, MM_HANDLE image, const ImageInfo& info, const std::string* description) {
    const bool rgb = info.type == MM_TYPE_BGR24;
    const int samples = rgb ? 3 : 1;
    const int bits = rgb ? 8 : info.bytes_per_pixel * 8;
    const auto width = static_cast<uint32_t>(info.size.d[0]);
    const auto height = static_cast<uint32_t>(info.size.d[1]);
    PixelBlock scratch;  // disk frames are read here
    PixelBlock rgb_buffer =
        rgb ? PixelBlock::Allocate(info.frame_bytes, kDirectAlign) : PixelBlock();
    if (rgb && !rgb_buffer) {
        File(TIFFClientdata(tif))->error = "out of memory";
        return false;
    }

    Store& store = Store::Get();
    // Slow: a locked frame comes as a copy, so a writer working on it waits for a memcpy, not
    // for the file.
    const auto write_strip = [&](const uint8_t* pixels, size_t bytes) {
        if (bytes != info.frame_bytes) return false;  // resized while saving
        const uint8_t* src = pixels;
        if (rgb) {
            // The store keeps blue, green, red; TIFF wants red, green, blue.
            uint8_t* dst = rgb_buffer.data();
            for (size_t i = 0; i < bytes; i += 3) {
                dst[i] = pixels[i + 2];
                dst[i + 1] = pixels[i + 1];
                dst[i + 2] = pixels[i];
            }
            src = dst;
        }
        // Uncompressed data in native byte order is written as is, never modified.
        return TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(src),
                                     static_cast<tmsize_t>(bytes)) == static_cast<tmsize_t>(bytes);
    };
    bool ok = true;
    for (int64_t frame = 0; ok && frame < info.frames; ++frame) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
        if (frame == 0 && description != nullptr) {
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description->c_str());
        }
        ok = store.WithFrame(image, frame, scratch, Store::FrameUse::Slow, write_strip);
        ok = ok && TIFFWriteDirectory(tif);
    }
    return ok;
}

SaveResult Failed(std::string why) {
    SaveResult result;
    result.error = std::move(why);
    return result;
}

// The whole file goes to a temporary beside the target and replaces the target only once it
// is complete and durable, so a failed save (a full disk, a write error, an image deleted
// meanwhile) leaves whatever was at the path as it was.
SaveResult Save(MM_HANDLE image, const std::string& path, const SaveOptions& options, bool ome) {
    Store& store = Store::Get();
    const auto info = store.Describe(image);
    int32_t comment_length = 0;
    const auto comment = store.Comment(image, &comment_length);
    const auto stamps = store.Stamps(image);
    if (!info || !comment || !stamps) return Failed("unknown image");
    const bool has_comment = comment_length > 0;
    const std::string description =
        ome ? OmeXml(*info, *comment, has_comment, *stamps, options) : *comment;

    // Worst case per page: the strip rounded to a page, its directory page and the padding.
    const uint64_t estimate =
        RoundUp(description.size(), kDirectAlign) +
        uint64_t(info->frames) * (RoundUp(info->frame_bytes, kDirectAlign) + 2 * kDirectAlign) +
        kDirectAlign;
    SaveResult result;
    result.big_tiff = options.big_tiff == BigTiff::Always ||
                      (options.big_tiff == BigTiff::Auto && estimate > kClassicTiffLimit);
    if (!result.big_tiff && estimate > kClassicTiffLimit) {
        return Failed("image too large for a classic TIFF");
    }

    bx::kernel::ReplacingFile file;
    if (!file.Open(path)) return Failed(file.error());
    OutFile out;
    out.fd = file.fd();
    if (options.direct_io) {
        out.fd_direct = open(file.temp_path().c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    }

    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> open_options(
        TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(open_options.get(), ErrorHandler, &out);
    TIFFOpenOptionsSetWarningHandlerExtR(open_options.get(), WarningHandler, nullptr);
    TIFF* tif =
        TIFFClientOpenExt(path.c_str(), result.big_tiff ? "w8" : "w", &out, ReadProc, WriteProc,
                          SeekProc, CloseProc, SizeProc, MapProc, UnmapProc, open_options.get());
    if (tif == nullptr) {
        return Failed(path + ": " + (out.error.empty() ? "cannot start the TIFF" : out.error));
    }
    const bool written = WritePages(tif, image, *info, ome || has_comment ? &description : nullptr);
    TIFFClose(tif);  // flushes what is left
    if (!written || !out.error.empty()) {
        return Failed(path + ": " +
                      (out.error.empty() ? "the image changed or could not be read" : out.error));
    }
    if (!file.Commit()) return Failed(file.error());
    result.ok = true;
    return result;
}

}  // namespace

SaveResult SaveOmeTiff(MM_HANDLE image, const std::string& path, const SaveOptions& options) {
    return Save(image, path, options, true);
}

SaveResult SaveTiff(MM_HANDLE image, const std::string& path, const SaveOptions& options) {
    return Save(image, path, options, false);
}

}  // namespace bx::mm
