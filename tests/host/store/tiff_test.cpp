// Saved OME-TIFF and TIFF files, read back by an independent reader (tifffile, through
// check_tiff.py): shape, data type, pixels, per-plane DeltaT, description and comment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include "store_test_util.h"

namespace bx::mm::test {
namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

struct Expectation {
    std::string path;
    std::string kind;
    int32_t type = 0;
    int32_t width = 0, height = 0, frames = 0;
    std::string name;
    std::string comment;
    std::vector<double> deltas;  // NaN: the plane must carry no time
    bool bigtiff = false;
    // Unset: the file must carry no such attribute.
    std::optional<int> significant_bits;
    std::optional<double> exposure_seconds;
    std::string acquisition_date;  // ISO 8601; empty: none
    struct PhysicalSize {
        double size;
        std::string unit;
    };
    std::optional<PhysicalSize> physical_size_x, physical_size_y;
};

std::string JsonNumber(double value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

// The acquisition keys of the expectations, each after a comma.
std::string AcquisitionJson(const Expectation& want) {
    std::string json;
    if (want.significant_bits) {
        json += ", \"significant_bits\": " + std::to_string(*want.significant_bits);
    }
    if (want.exposure_seconds) {
        json += ", \"exposure_seconds\": " + JsonNumber(*want.exposure_seconds);
    }
    if (!want.acquisition_date.empty()) {
        json += ", \"acquisition_date\": " + JsonString(want.acquisition_date);
    }
    const auto size = [&](const char* key, const std::optional<Expectation::PhysicalSize>& s) {
        if (s) {
            json += std::string(", \"") + key + "\": [" + JsonNumber(s->size) + ", " +
                    JsonString(s->unit) + "]";
        }
    };
    size("physical_size_x", want.physical_size_x);
    size("physical_size_y", want.physical_size_y);
    return json;
}

// Runs the independent reader on the file; its messages go to the test log.
int CheckWithTifffile(const Expectation& want) {
    const std::string json_path = want.path + ".json";
    {
        std::ofstream json(json_path);
        json << "{\"path\": " << JsonString(want.path) << ", \"kind\": \"" << want.kind
             << "\", \"type\": " << want.type << ", \"width\": " << want.width
             << ", \"height\": " << want.height << ", \"frames\": " << want.frames
             << ", \"name\": " << JsonString(want.name)
             << ", \"comment\": " << JsonString(want.comment)
             << ", \"bigtiff\": " << (want.bigtiff ? "true" : "false") << AcquisitionJson(want)
             << ", \"deltas\": [";
        for (size_t i = 0; i < want.deltas.size(); ++i) {
            char buf[40];
            if (std::isnan(want.deltas[i])) {
                std::snprintf(buf, sizeof buf, "%snull", i ? ", " : "");
            } else {
                std::snprintf(buf, sizeof buf, "%s%.17g", i ? ", " : "", want.deltas[i]);
            }
            json << buf;
        }
        json << "]}\n";
    }
    const std::string command =
        std::string("/usr/bin/python3 ") + BX_CHECK_TIFF_SCRIPT + " '" + json_path + "'";
    const int status = std::system(command.c_str());
    if (status == 0) std::remove(json_path.c_str());  // kept for a look when the check fails
    return status;
}

std::string OutputPath(const std::string& name) {
    return std::string(BX_TEST_OUTPUT_DIR) + "/" + name + "_" + std::to_string(getpid());
}

// An image with the test pattern, uneven stamps, a name and a multi-line description.
Expectation MakeImage(MM_HANDLE* image, int32_t type, int32_t width, int32_t height,
                      int32_t frames) {
    Expectation want;
    want.type = type;
    want.width = width;
    want.height = height;
    want.frames = frames;
    want.name = "Grabbed";
    want.comment = "[Created]\r\nDate=08/12/2026\r\n[Grab Parameters]\r\nCamera=<A&B>\r\n";
    const MM_VECTOR size = Size3(width, height, frames);
    *image = MM_CreateNDIM_ptr(&size, type, 256);
    if (*image == 0 || !FillPattern(*image, type, width, height, frames)) {
        ADD_FAILURE() << "cannot make the image";
        return want;
    }
    MM_SetName(*image, want.name.c_str());
    MM_SetUnits(*image, 2, "ms");
    MM_WriteComment(*image, want.comment.c_str(), int32_t(want.comment.size() + 1));
    for (int32_t i = 0; i < frames; ++i) {
        const double t = i * 100.125 + (i % 2 ? 3.5 : 0.0);
        MM_STAMP stamp{};
        MM_GetStamp(*image, &stamp, i);
        MM_SetStampPosition(&stamp, 2, t);
        MM_SetStamp(*image, &stamp, i);
        want.deltas.push_back(t);
    }
    return want;
}

struct Case {
    int32_t type;
    bool ome;
};

class SaveEveryType : public ::testing::TestWithParam<Case> {};

TEST_P(SaveEveryType, ReaderSeesShapeTypePixelsTimesAndDescription) {
    const auto [type, ome] = GetParam();
    MM_HANDLE image = 0;
    Expectation want = MakeImage(&image, type, 301, 247, 3);
    want.kind = ome ? "ome" : "tiff";
    want.path = OutputPath("save_" + std::to_string(type) + (ome ? ".ome.tif" : ".tif"));
    const SaveResult saved = ome ? SaveOmeTiff(image, want.path) : SaveTiff(image, want.path);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_FALSE(saved.big_tiff);
    EXPECT_EQ(CheckWithTifffile(want), 0);
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

INSTANTIATE_TEST_SUITE_P(Tiff, SaveEveryType,
                         ::testing::Values(Case{MM_TYPE_GREY8, true}, Case{MM_TYPE_GREY12, true},
                                           Case{MM_TYPE_GREY16, true}, Case{MM_TYPE_BGR24, true},
                                           Case{MM_TYPE_GREY32, true}, Case{MM_TYPE_GREY8, false},
                                           Case{MM_TYPE_GREY16, false}, Case{MM_TYPE_BGR24, false},
                                           Case{MM_TYPE_GREY32, false}),
                         [](const auto& info) {
                             return std::string(info.param.ome ? "Ome" : "Tiff") +
                                    std::to_string(info.param.type);
                         });

TEST(SaveOptions, BigTiffAndBufferedWritingAreReadableToo) {
    MM_HANDLE image = 0;
    Expectation want = MakeImage(&image, MM_TYPE_GREY16, 640, 480, 4);
    want.kind = "ome";
    want.path = OutputPath("big.ome.tif");
    want.bigtiff = true;
    SaveOptions options;
    options.big_tiff = BigTiff::Always;
    SaveResult saved = SaveOmeTiff(image, want.path, options);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_TRUE(saved.big_tiff);
    EXPECT_EQ(CheckWithTifffile(want), 0);

    want.bigtiff = false;
    options = SaveOptions{};
    options.direct_io = false;
    saved = SaveOmeTiff(image, want.path, options);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(CheckWithTifffile(want), 0);
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

TEST(SaveOptions, SingleSmallFrameWithoutComment) {
    const MM_HANDLE image = MM_CreateImage(33, 17, MM_TYPE_GREY8, 256);
    ASSERT_TRUE(FillPattern(image, MM_TYPE_GREY8, 33, 17, 1));
    Expectation want;
    want.kind = "ome";
    want.type = MM_TYPE_GREY8;
    want.width = 33;
    want.height = 17;
    want.frames = 1;
    want.deltas = {0.0};
    want.path = OutputPath("single.ome.tif");
    MM_SetUnits(image, 2, "ms");
    ASSERT_TRUE(SaveOmeTiff(image, want.path));
    // No description was written, so the reader finds no comment annotation.
    EXPECT_NE(CheckWithTifffile(want), 0) << "the check must notice a missing comment";
    MM_WriteComment(image, "", 1);
    ASSERT_TRUE(SaveOmeTiff(image, want.path));
    EXPECT_EQ(CheckWithTifffile(want), 0);
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

// Texts as the control may hand them over, and what an XML reader must get back.
struct TextCase {
    const char* label;
    std::string name, comment;            // as stored
    std::string read_name, read_comment;  // as the reader sees them
};

void PrintTo(const TextCase& text, std::ostream* os) {
    *os << text.label;
}

class OmeText : public ::testing::TestWithParam<TextCase> {};

TEST_P(OmeText, ReaderGetsTheTextsAsUnicode) {
    const TextCase& text = GetParam();
    MM_HANDLE image = 0;
    Expectation want = MakeImage(&image, MM_TYPE_GREY8, 40, 30, 2);
    want.kind = "ome";
    want.path = OutputPath(std::string("text_") + text.label + ".ome.tif");
    ASSERT_TRUE(MM_SetName(image, text.name.c_str()));
    ASSERT_TRUE(MM_WriteComment(image, text.comment.c_str(), int32_t(text.comment.size() + 1)));
    want.name = text.read_name;
    want.comment = text.read_comment;
    const SaveResult saved = SaveOmeTiff(image, want.path);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(CheckWithTifffile(want), 0);
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

// U+FFFD, the mark left where XML cannot carry a character.
#define REPLACED "\xEF\xBF\xBD"

INSTANTIATE_TEST_SUITE_P(
    Tiff, OmeText,
    ::testing::Values(TextCase{"Utf8", "\xC2\xB5m beads",
                               "60\xC3\x97 \xE2\x80\x94 20 \xC2\xB5m \xF0\x9F\x94\xAC\r\n",
                               "\xC2\xB5m beads",
                               "60\xC3\x97 \xE2\x80\x94 20 \xC2\xB5m \xF0\x9F\x94\xAC\r\n"},
                      TextCase{"SingleByte", "\xB5m beads", "T=37\xB0 C\r\n", "\xC2\xB5m beads",
                               "T=37\xC2\xB0 C\r\n"},
                      // Tabs and line feeds in a name must survive attribute normalisation.
                      TextCase{"Controls", "a\x01-b\tc\nd", "x\x1By\x7F\x0C\r\n<&>\"",
                               "a" REPLACED "-b\tc\nd", "x" REPLACED "y\x7F" REPLACED "\r\n<&>\""},
                      // Overlong, surrogate, cut-off and non-character sequences.
                      TextCase{"Malformed", "\xC0\xAF|\xED\xA0\x80|\xE2\x82", "\xEF\xBF\xBE end",
                               "\xC3\x80\xC2\xAF|\xC3\xAD\xC2\xA0\xC2\x80|\xC3\xA2\xC2\x82",
                               REPLACED " end"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SaveTimes, PlanesWithoutAUsableTimeCarryNoDeltaT) {
    const MM_VECTOR size = Size3(24, 16, 5);
    const MM_HANDLE image = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY16, 256);
    ASSERT_TRUE(FillPattern(image, MM_TYPE_GREY16, 24, 16, 5));
    Expectation want;
    want.kind = "ome";
    want.type = MM_TYPE_GREY16;
    want.width = 24;
    want.height = 16;
    want.frames = 5;
    want.comment = "c";
    want.path = OutputPath("times.ome.tif");
    MM_SetUnits(image, 2, "ms");
    MM_WriteComment(image, "c", 2);
    // Default stamps are origin + resolution * index: past float range at frame 1, past
    // double range (infinite) at frame 3. Frame 2 is set to NaN directly.
    ASSERT_TRUE(MM_SetResolution(image, 2, 1e308));
    MM_STAMP stamp{};
    stamp.position[2] = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(MM_SetStamp(image, &stamp, 2));
    stamp.position[2] = 12.5;
    ASSERT_TRUE(MM_SetStamp(image, &stamp, 4));
    const double none = std::nan("");
    want.deltas = {0.0, none, none, none, 12.5};

    const SaveResult saved = SaveOmeTiff(image, want.path);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(CheckWithTifffile(want), 0);
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

// What the host tells the store about an acquisition, the pixel size from dimensions 0 and
// 1, and what a reader must find for them: a value that is missing or unusable leaves its
// attribute out.
struct AcquisitionCase {
    const char* label;
    int32_t type;
    std::optional<int> significant_bits;
    std::optional<double> exposure_seconds;
    std::optional<std::chrono::system_clock::time_point> acquisition_time;
    DimensionInfo x, y;  // units and resolution only
    Expectation read;    // the acquisition fields only
};

void PrintTo(const AcquisitionCase& c, std::ostream* os) {
    *os << c.label;
}

Expectation Reads(std::optional<int> bits, std::optional<double> exposure, std::string date,
                  std::optional<Expectation::PhysicalSize> x,
                  std::optional<Expectation::PhysicalSize> y) {
    Expectation want;
    want.significant_bits = bits;
    want.exposure_seconds = exposure;
    want.acquisition_date = std::move(date);
    want.physical_size_x = std::move(x);
    want.physical_size_y = std::move(y);
    return want;
}

DimensionInfo Dim(const char* units, double resolution) {
    DimensionInfo dim;
    dim.units = units;
    dim.resolution = resolution;
    return dim;
}

class OmeAcquisition : public ::testing::TestWithParam<AcquisitionCase> {};

TEST_P(OmeAcquisition, ReaderFindsWhatTheHostGaveAndNothingUnusable) {
    const AcquisitionCase& c = GetParam();
    MM_HANDLE image = 0;
    Expectation want = MakeImage(&image, c.type, 40, 30, 2);
    want.kind = "ome";
    want.path = OutputPath(std::string("acquisition_") + c.label + ".ome.tif");
    for (int16_t dim : {0, 1}) {
        const DimensionInfo& info = dim == 0 ? c.x : c.y;
        ASSERT_TRUE(MM_SetUnits(image, dim, info.units.c_str()));
        ASSERT_TRUE(MM_SetResolution(image, dim, info.resolution));
    }
    SaveOptions options;
    options.significant_bits = c.significant_bits;
    options.exposure_seconds = c.exposure_seconds;
    options.acquisition_time = c.acquisition_time;
    want.significant_bits = c.read.significant_bits;
    want.exposure_seconds = c.read.exposure_seconds;
    want.acquisition_date = c.read.acquisition_date;
    want.physical_size_x = c.read.physical_size_x;
    want.physical_size_y = c.read.physical_size_y;

    const SaveResult saved = SaveOmeTiff(image, want.path, options);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(CheckWithTifffile(want), 0);
    // The check itself tells a present attribute from an absent one.
    want.significant_bits = want.significant_bits ? std::nullopt : std::optional<int>(8);
    EXPECT_NE(CheckWithTifffile(want), 0) << "the check must notice SignificantBits";
    std::remove((want.path + ".json").c_str());
    std::remove(want.path.c_str());
    MM_DeleteImage(image);
}

using std::chrono::milliseconds;
using std::chrono::system_clock;
const system_clock::time_point kMorning =
    std::chrono::sys_days{std::chrono::year{2026} / 8 / 12} + std::chrono::hours(9) +
    std::chrono::minutes(30) + std::chrono::seconds(5) + milliseconds(250) +
    std::chrono::microseconds(999);  // below a millisecond: cut off
constexpr double kInf = std::numeric_limits<double>::infinity();
#define MICRO "\xC2\xB5m"

INSTANTIATE_TEST_SUITE_P(
    Tiff, OmeAcquisition,
    ::testing::Values(
        AcquisitionCase{"NothingGiven",
                        MM_TYPE_GREY16,
                        {},
                        {},
                        {},
                        Dim("", 1),
                        Dim("", 1),
                        Reads({}, {}, "", {}, {})},
        AcquisitionCase{
            "TwelveBitInMicrometres", MM_TYPE_GREY12, 12, 0.02, kMorning, Dim("um", 0.645),
            Dim("um", 0.645),
            Reads(12, 0.02, "2026-08-12T09:30:05.250+00:00", {{0.645, MICRO}}, {{0.645, MICRO}})},
        // A resolution without units is in micrometres; a named length is kept even at 1.
        AcquisitionCase{"ColourPerChannel",
                        MM_TYPE_BGR24,
                        8,
                        1.5,
                        {},
                        Dim("", 0.25),
                        Dim("nm", 1),
                        Reads(8, 1.5, "", {{0.25, MICRO}}, {{1, "nm"}})},
        AcquisitionCase{"BeforeTheEpoch", MM_TYPE_GREY8, 8, 0.0,
                        system_clock::time_point{} - milliseconds(500), Dim("mm", 0.002),
                        Dim("pixel", 2),
                        Reads(8, 0.0, "1969-12-31T23:59:59.500+00:00", {{0.002, "mm"}}, {})},
        AcquisitionCase{"SingleByteMicro",
                        MM_TYPE_GREY32,
                        32,
                        3600,
                        {},
                        Dim("\xB5m", 3),
                        Dim("furlong", 1),
                        Reads(32, 3600, "", {{3, MICRO}}, {})},
        // More bits than a sample holds, no exposure a float can carry, sizes that are not
        // positive floats.
        AcquisitionCase{"UnusableValues",
                        MM_TYPE_GREY16,
                        17,
                        std::nan(""),
                        {},
                        Dim("um", 0),
                        Dim("", -1),
                        Reads({}, {}, "", {}, {})},
        AcquisitionCase{"OutOfRange",
                        MM_TYPE_GREY8,
                        9,
                        kInf,
                        {},
                        Dim("um", 1e-50),
                        Dim("m", 1e39),
                        Reads({}, {}, "", {}, {})},
        AcquisitionCase{"NoneOrNegative",
                        MM_TYPE_BGR24,
                        0,
                        -0.001,
                        {},
                        Dim("cm", -2),
                        Dim("", 1e39),
                        Reads({}, {}, "", {}, {})}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SaveFailures, AreReportedAndLeaveNoFile) {
    const std::string path = OutputPath("never.tif");
    SaveResult saved = SaveOmeTiff(0xFFFFFFF0u, path);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error.empty());
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    const MM_HANDLE image = MM_CreateImage(8, 8, MM_TYPE_GREY8, 256);
    saved = SaveTiff(image, std::string(BX_TEST_OUTPUT_DIR) + "/no/such/dir/x.tif");
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error.empty());

    SaveOptions options;
    options.big_tiff = BigTiff::Never;
    const MM_VECTOR size = Size3(4096, 4096, 300);  // 4.7 GiB: too large for classic TIFF
    const MM_HANDLE huge = MM_CreateNDIM_ptr(&size, MM_TYPE_GREY8, 256);
    ASSERT_NE(huge, 0u);  // pages are only mapped, never touched
    saved = SaveOmeTiff(huge, path, options);
    EXPECT_FALSE(saved);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    MM_DeleteImage(huge);
    MM_DeleteImage(image);
}

TEST(SaveDisk, FramesOnTheDiskDeviceAreSaved) {
    const std::string device = OutputPath("device.img");
    ASSERT_TRUE(ConfigureDisk(device, 4096));
    MM_HANDLE image = 0;
    Expectation want = MakeImage(&image, MM_TYPE_GREY12, 200, 150, 3);
    CloseDisk();
    ASSERT_NE(MM_GetHandleSCSI_ID(image), 0);
    want.kind = "ome";
    want.path = OutputPath("disk.ome.tif");
    const SaveResult saved = SaveOmeTiff(image, want.path);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(CheckWithTifffile(want), 0);
    MM_DeleteImage(image);
    std::remove(want.path.c_str());
    std::remove(device.c_str());
}

}  // namespace
}  // namespace bx::mm::test
