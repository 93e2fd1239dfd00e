// The acquisition record: type table, description text, creation record of a sequence image
// and the end-of-sequence record.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "control/ImageTypes.h"
#include "fixtures/acquisition_fixture.h"

using namespace ferro;
using ferro::testing::AcquisitionTest;

TEST(ImageTypeTable, MapsEveryDepthItKnows) {
    struct Row {
        int depth;
        int32_t type;
        int bytes;
        int mapping;
    };
    for (const Row& row : {Row{8, 3, 1, 3}, Row{10, 4, 2, 4}, Row{12, 4, 2, 4}, Row{14, 5, 2, 5},
                           Row{16, 5, 2, 5}, Row{24, 8, 3, 0}, Row{32, 9, 4, 0}}) {
        const auto info = ImageTypeForDepth(row.depth);
        ASSERT_TRUE(info) << row.depth;
        EXPECT_EQ(info->StoreType, row.type);
        EXPECT_EQ(info->BytesPerPixel, row.bytes);
        EXPECT_EQ(info->MappingFormat, row.mapping);
    }
    for (int depth : {0, 1, 9, 11, 13, 15, 23, 31, 64, -8}) EXPECT_FALSE(ImageTypeForDepth(depth));
}

using AcquisitionRecord = AcquisitionTest;

TEST_F(AcquisitionRecord, HeaderLinesArePlainDecimalsWithCrLf) {
    TBXTessvikFerroFW& c = Create();
    c.GrabWindowLeft = -3;
    c.GrabWindowTop = 7;
    c.GrabWindowRight = -1;
    c.GrabWindowBottom = 2047;
    c.SensorWindowWidth = 2048;
    c.SensorWindowHeight = 0;
    c.BinningFactorX = 4;
    c.ImageWidth = 512;
    c.ImageHeight = 511;
    c.ExposureTime = -20;
    c.FrameRate = 1000;

    const std::time_t before = std::time(nullptr);
    const std::string text = c.BuildAcquisitionHeader(false);
    const std::time_t after = std::time(nullptr);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 15u) << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    // The date is today's (or, across midnight, the call's start or end), day first.
    std::vector<std::string> dates;
    for (std::time_t t : {before, after}) {
        std::tm local{};
        localtime_r(&t, &local);
        char buffer[16];
        std::strftime(buffer, sizeof buffer, "Date=%d/%m/%Y", &local);
        dates.push_back(buffer);
    }
    EXPECT_TRUE(lines[1] == dates[0] || lines[1] == dates[1]) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(Time=\d\d:\d\d:\d\d)"))) << lines[2];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{"[Grab Parameters]", "Camera=KorvaneFW", "Window Left=-3",
                                        "Window Top=7", "Window Right=-1", "Window Bottom=2047",
                                        "Window Width=2048", "Window Height=0", "Binning=4",
                                        "Image Width=512", "Image Height=511", "Exposure=-20"}));

    const auto withRate = Lines(c.BuildAcquisitionHeader(true));
    ASSERT_EQ(withRate.size(), 16u);
    EXPECT_EQ(withRate.back(), "Frame Rate=1000");
}

TEST_F(AcquisitionRecord, SequenceImageGetsTheCreationRecordWithoutDescription) {
    TBXTessvikFerroFW& c = Create();
    c.ImageWidth = 32;
    c.ImageHeight = 24;
    c.NumberOfFrames = 5;
    c.BitDepth = 16;  // deeper than the camera's maximum: the slow-scan range
    c.SlowScanMapMin = 5, c.SlowScanMapMax = 60000;
    c.HighSpeedMapMin = 1, c.HighSpeedMapMax = 2;
    const int32_t image =
        c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence, "Unknown image Type");
    EXPECT_EQ(c.AcquisitionImage, image);
    const auto info = bx::mm::Describe(static_cast<MM_HANDLE>(image));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, MM_TYPE_GREY16);
    EXPECT_EQ(info->frames, 5);
    EXPECT_EQ(info->name, "Grabbed");
    EXPECT_DOUBLE_EQ(info->map_min, 5);
    EXPECT_DOUBLE_EQ(info->map_max, 60000);
    EXPECT_EQ(bx::mm::CommentLength(static_cast<MM_HANDLE>(image)), 0);
    EXPECT_EQ(c.CurrentMappingFormat, MM_TYPE_GREY16);

    // A colour depth leaves the mapping format alone; a sequence can carry its own text.
    c.BitDepth = 24;
    c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence);
    EXPECT_EQ(c.CurrentMappingFormat, MM_TYPE_GREY16);
    EXPECT_EQ(c.BytesPerPixel, 3);
    c.BitDepth = 9;
    try {
        c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence, "Unknown image Type");
        ADD_FAILURE() << "no failure";
    } catch (const ControlFailure& failure) {
        EXPECT_STREQ(failure.what(), "Unknown image Type");
    }
}

TEST_F(AcquisitionRecord, FinishingASequenceLabelsStampsAndCuts) {
    TBXTessvikFerroFW& c = Create();
    c.ImageWidth = 16;
    c.ImageHeight = 8;
    c.NumberOfFrames = 5;
    const auto full =
        static_cast<MM_HANDLE>(c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence));
    const auto cut =
        static_cast<MM_HANDLE>(c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence));
    const std::vector<double> stamps = {0.0, 101.5, 203.0};

    c.FinishSequenceRecord(static_cast<int32_t>(full), stamps, 3, false);
    c.FinishSequenceRecord(static_cast<int32_t>(cut), stamps, 3, true);

    const auto fullStamps = bx::mm::Stamps(full);
    ASSERT_TRUE(fullStamps);
    ASSERT_EQ(fullStamps->size(), 5u);
    const double expected[] = {0.0, 101.5, 203.0, 0.0, 0.0};  // never acquired: 0
    for (size_t i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ((*fullStamps)[i].position[2], expected[i]);

    const auto info = bx::mm::Describe(cut);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->frames, 3);
    EXPECT_EQ(info->size.d[0], 16);
    EXPECT_EQ(info->dims[2].name, "Time");
    EXPECT_EQ(info->dims[2].units, "ms");
    for (int dim = 3; dim < MM_MAX_DIMS; ++dim) {
        EXPECT_EQ(info->dims[dim].name, "");
        EXPECT_EQ(info->dims[dim].units, "");
        EXPECT_DOUBLE_EQ(info->dims[dim].resolution, 1.0);
        EXPECT_DOUBLE_EQ(info->dims[dim].origin, 0.0);
    }
    const auto cutStamps = bx::mm::Stamps(cut);
    ASSERT_TRUE(cutStamps);
    ASSERT_EQ(cutStamps->size(), 3u);
    EXPECT_DOUBLE_EQ((*cutStamps)[2].position[2], 203.0);

    // Nothing acquired: nothing to cut to; the caller deletes such an image.
    const auto empty =
        static_cast<MM_HANDLE>(c.CreateAcquisitionImage(TBXTessvikFerroFW::ImageKind::Sequence));
    c.FinishSequenceRecord(static_cast<int32_t>(empty), {}, 0, true);
    EXPECT_EQ(bx::mm::Describe(empty)->frames, 5);
}
