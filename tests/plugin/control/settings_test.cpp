#include <bxplatform/inifile.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/Trace.h"
#include "fixtures/control_fixture.h"

using namespace ferro;
using ferro::testing::ControlTest;

namespace {

const char* kSection = "KorvaneFW Camera";

class Settings : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() /
               ("bx_settings_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        path = (dir_ / "settings.ini").string();
    }
    void TearDown() override {
        ControlTest::TearDown();
        std::filesystem::remove_all(dir_);
    }
    void Write(const std::string& body) { std::ofstream(path) << "[" << kSection << "]\n" << body; }
    std::string Saved(const char* key) {
        return bx::ini::GetPrivateProfileString(kSection, key, "<absent>", path);
    }

    std::string path;

private:
    std::filesystem::path dir_;
};

}  // namespace

TEST_F(Settings, AMissingFileArmsTheControlWithDefaults) {
    TBXTessvikFerroFW& c = Create();
    g_iTraceLevel = 3;
    c.LoadFromRegistry(path);
    EXPECT_TRUE(c.InitialiseArmed);
    EXPECT_TRUE(c.CameraReady) << BoxTexts();     // the values: Lifecycle.DefaultsAfter...
    EXPECT_EQ(g_iTraceLevel, 0);                  // "Trace Level" absent
    EXPECT_FALSE(std::filesystem::exists(path));  // loading never writes
}

TEST_F(Settings, OutOfRangeValuesLoadAsZero) {
    Write(
        "Brightness=5000\nContrast=-3\nFrame Interval (sec)=75\nFrame Interval (min)=12\n"
        "Exposure Time (ms)=40000\nTrace Level=2\n");
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    EXPECT_EQ(c.Brightness, 0);
    EXPECT_EQ(c.Contrast, 0);
    EXPECT_EQ(c.FrameIntervalSeconds, 0);
    EXPECT_EQ(c.FrameIntervalMinutes, 12);
    EXPECT_EQ(c.ExposureMs, 0);
    EXPECT_EQ(g_iTraceLevel, 2);
    g_iTraceLevel = 0;
}

TEST_F(Settings, AnUnreadableExposureSwitchesToTheFallbackSet) {
    Write(
        "AE Max Time=123456\nController Model=9\nColor mode=1\nExposure Time=abc\n"
        "Brightness=100\nContrast=100\nAE Level=2\nConnect at Start=0\n");
    TBXTessvikFerroFW& c = Create();
    c.rbn_75->SetChecked(true);
    c.chk_ConnectAtStart->SetChecked(true);
    c.LoadFromRegistry(path);
    EXPECT_EQ(c.Brightness, 0);
    EXPECT_EQ(c.Contrast, 255);
    EXPECT_EQ(c.ControllerModel, 1);
    EXPECT_EQ(c.FocusMapMax, 255);
    EXPECT_EQ(c.SlowScanMapMax, 16383);
    EXPECT_TRUE(c.rbn_grab_ExposureTime1->Checked());
    EXPECT_EQ(c.med_grab_ExposureTime3->Text(), "40");
    // Keys after the failing conversion were never read: AE level keeps its earlier state.
    EXPECT_TRUE(c.rbn_75->Checked());
    EXPECT_TRUE(c.chk_ConnectAtStart->Checked());  // the file's 0 was never read
}

TEST_F(Settings, AutoExposureLevelOutsideItsChoicesMeansFullScaleButIsKept) {
    Write("AE Level=7\n");
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    EXPECT_TRUE(c.rbn_100->Checked());
    EXPECT_DOUBLE_EQ(c.AutoExposureTarget, 1.0);
    ASSERT_TRUE(c.SaveToRegistry(path));
    EXPECT_EQ(Saved("AE Level"), "7");
}

TEST_F(Settings, LevelsPickTheirTargetButtons) {
    Write("AE Level=1\n");
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    EXPECT_TRUE(c.rbn_25->Checked());
    EXPECT_DOUBLE_EQ(c.AutoExposureTarget, 0.25);
}

TEST_F(Settings, SaveWritesTheCameraLimitAndTheExposureInUseButNoTraceLevel) {
    Write("Trace Level=1\nExposure Time=0.015\n");
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    ASSERT_TRUE(c.CameraReady);
    c.SetExposureTime(25000);
    c.SetGainValue(300);
    c.SetOffsetValue(12);
    std::filesystem::remove(path);
    ASSERT_TRUE(c.SaveToRegistry(path));
    EXPECT_EQ(bx::ui::StrToFloat(Saved("AE Max Time")), c.ExposureMaxMicroseconds);
    EXPECT_GT(c.ExposureMaxMicroseconds, 1e6);
    EXPECT_EQ(Saved("Exposure Time"), std::to_string(c.ExposureTime));
    EXPECT_EQ(Saved("Brightness"), "300");
    EXPECT_EQ(Saved("Contrast"), "12");
    EXPECT_EQ(Saved("Range"), "High");
    EXPECT_EQ(Saved("CCD Mode"), "1280 x 1024");
    EXPECT_EQ(Saved("Trace Level"), "<absent>");

    // What was saved comes back on the next load.
    auto second = std::make_unique<TBXTessvikFerroFW>();
    second->LoadFromRegistry(path);
    EXPECT_EQ(second->Brightness, 300);
    EXPECT_EQ(second->Contrast, 12);
}

TEST_F(Settings, SaveWritesEveryKeyButTraceLevelInTheWritingOrder) {
    TBXTessvikFerroFW& c = Create();
    ASSERT_TRUE(c.SaveToRegistry(path));
    std::ifstream file(path);
    std::vector<std::string> keys;
    for (std::string line; std::getline(file, line);) {
        if (const size_t eq = line.find('='); eq != std::string::npos)
            keys.push_back(line.substr(0, eq));
    }
    const std::vector<std::string> expected = {"AE Max Time",
                                               "COM Port",
                                               "Controller Model",
                                               "Exposure Time",
                                               "Brightness",
                                               "Contrast",
                                               "CCD Mode",
                                               "Range",
                                               "8 Bit Acquire",
                                               "Color mode",
                                               "Binning Factor",
                                               "Focus/8Bit Mapping Min",
                                               "Focus/8Bit Mapping Max",
                                               "High Speed Mapping Min",
                                               "High Speed Mapping Max",
                                               "Slow Scan Mapping Min",
                                               "Slow Scan Mapping Max",
                                               "Frame Interval (hrs)",
                                               "Frame Interval (min)",
                                               "Frame Interval (sec)",
                                               "Frame Interval (ms)",
                                               "Frame Interval hms",
                                               "Exposure Time (hrs)",
                                               "Exposure Time (min)",
                                               "Exposure Time (sec)",
                                               "Exposure Time (ms)",
                                               "Exposure Time (us)",
                                               "Exposure Time hms Selected",
                                               "Exposure Time ms Selected",
                                               "Exposure Time us Selected",
                                               "Readout Fast",
                                               "AE Level",
                                               "Connect at Start",
                                               "External Trigger",
                                               "External Trigger Timeout (s)",
                                               "Windowed Grab",
                                               "Grab Window Left",
                                               "Grab Window Top",
                                               "Grab Window Right",
                                               "Grab Window Bottom"};
    EXPECT_EQ(keys, expected);
}

TEST_F(Settings, AnUnwritableFileEndsTheSaveQuietly) {
    TBXTessvikFerroFW& c = Create();
    EXPECT_FALSE(c.SaveToRegistry("/nonexistent-folder/settings.ini"));
    EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(Settings, ASecondLoadKeepsTheBinningItNames) {
    // The camera offers 1, 2, 4, 8: the button position of a factor is not the factor - 1.
    UseCamera("[binning]\nkind = sparse\ntable = 1, 2, 4, 8\n");
    Write("AE Max Time=5000000\nBinning Factor=8\n");
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    ASSERT_TRUE(c.CameraReady) << BoxTexts();
    c.LoadFromRegistry(path);  // the camera now reports its choices
    EXPECT_TRUE(c.rbn_bin8->Checked());
    EXPECT_EQ(c.BinningFactorX, 8);
    EXPECT_EQ(c.BinningFactorY, 8);
    EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), 8);
    EXPECT_EQ(c.hsb_BinningFactorY->Position(), 3);
}

// What a host sets comes back in a new session: the entry fields are saved as they show the
// exposure in use, and the binning is applied again once the camera has told its choices.
TEST_F(Settings, WhatAHostSetSurvivesSaveAndLoadInANewSession) {
    struct Case {
        int exposureUs, binning;
    };
    for (const Case& test : {Case{2500, 2}, Case{40000, 1}, Case{3'000'000, 4}, Case{777, 1}}) {
        SCOPED_TRACE(::testing::Message() << test.exposureUs << " us, binning " << test.binning);
        std::filesystem::remove(path);
        control.reset();
        TBXTessvikFerroFW& c = Create();
        c.LoadFromRegistry(path);
        ASSERT_TRUE(c.CameraReady) << BoxTexts();
        c.SetExposureTime(test.exposureUs);
        c.SetGainValue(300);
        c.SetOffsetValue(12);
        c.SetBinning(test.binning);
        ASSERT_EQ(c.ExposureTime, test.exposureUs);
        ASSERT_TRUE(c.SaveToRegistry(path));

        control.reset();
        KvCamSim_Reset();
        TBXTessvikFerroFW& next = Create();
        next.LoadFromRegistry(path);
        ASSERT_TRUE(next.CameraReady) << BoxTexts();
        EXPECT_EQ(next.ExposureTime, test.exposureUs);
        EXPECT_EQ(CameraParam(KVCAM_PARAM_EXPOSURE), test.exposureUs);
        EXPECT_EQ(next.Brightness, 300);
        EXPECT_EQ(next.Contrast, 12);
        EXPECT_EQ(next.BinningFactorX, test.binning);
        EXPECT_EQ(CameraParam(KVCAM_PARAM_BINNING), test.binning);
    }
}

// The rest of what a host sets comes back as well, and saving the loaded settings again
// writes the same file.
TEST_F(Settings, WindowDepthIntervalAndTriggerSurviveAndASecondSaveWritesTheSameFile) {
    auto text = [](const std::string& file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // 90 s fits the file's milliseconds, 3 h 2 min 3 s only its h:m:s, 250 ms only its ms.
    for (int frameRate : {250, 90'000, 3'723'000}) {
        SCOPED_TRACE(frameRate);
        std::filesystem::remove(path);
        control.reset();
        KvCamSim_Reset();
        TBXTessvikFerroFW& c = Create();
        c.LoadFromRegistry(path);
        c.Initialise();  // the panel is usable once the session is open
        ASSERT_TRUE(c.CameraReady) << BoxTexts();
        ASSERT_TRUE(c.rbn_1024_1024->Click());
        ASSERT_TRUE(c.rbn_RangeLow->Click());
        c.rbtn_ExternalTrigger->SetChecked(true);
        c.ExternalTriggerTimeoutS = 45;
        c.FrameRate = frameRate;
        c.GrabWindowLeft = c.GrabWindowTop = 100;
        c.GrabWindowRight = 499;
        c.GrabWindowBottom = 399;
        c.WindowedGrab = true;
        c.RebuildRegion();
        const int depth = c.BitDepth;
        const RoiRect roi = c.CameraRoi;
        ASSERT_TRUE(c.SaveToRegistry(path));

        control.reset();
        KvCamSim_Reset();
        TBXTessvikFerroFW& next = Create();
        next.LoadFromRegistry(path);
        ASSERT_TRUE(next.CameraReady) << BoxTexts();
        EXPECT_FALSE(next.FullSensorWindow);
        EXPECT_EQ(next.CcdWidth, 1024);
        EXPECT_EQ(next.BitDepth, depth);
        EXPECT_TRUE(next.rbn_RangeLow->Checked());
        EXPECT_EQ(next.FrameRate, frameRate);
        EXPECT_EQ(CameraParam(KVCAM_PARAM_TRIGGER), KVCAM_TRIGGER_EXTERNAL);
        EXPECT_EQ(next.ExternalTriggerTimeoutS, 45);
        EXPECT_TRUE(next.WindowedGrab);
        EXPECT_EQ(next.btn_Window->Caption(), "Full Chip");
        EXPECT_EQ(next.CameraRoi, roi);
        EXPECT_NE(roi.Width, next.CcdWidth);

        const std::string again = path + ".again";
        ASSERT_TRUE(next.SaveToRegistry(again));
        EXPECT_EQ(text(again), text(path));
        std::filesystem::remove(again);
    }
}

// A file as other tools write INI files: byte-order mark, CR LF, blanks around "=", keys in
// other cases, comments and other sections. It loads, and a save keeps what it does not own.
TEST_F(Settings, AFileOtherToolsWroteLoadsAndKeepsWhatItDoesNotOwn) {
    std::ofstream(path, std::ios::binary)
        << "\xEF\xBB\xBF; written by another tool\r\n[Other Tool]\r\nkey=value\r\n\r\n"
           "[korvanefw camera]\r\n; exposure in microseconds\r\nexposure time = 2500\r\n"
           "BRIGHTNESS = 300\r\nbinning factor=2\r\nFrame Interval HMS=1\r\n"
           "Frame Interval (Min) = 2\r\nconnect at start = 1\r\nMy Own Key=kept\r\n";
    TBXTessvikFerroFW& c = Create();
    c.LoadFromRegistry(path);
    ASSERT_TRUE(c.CameraReady) << BoxTexts();
    EXPECT_EQ(c.ExposureTime, 2500);
    EXPECT_EQ(c.Brightness, 300);
    EXPECT_EQ(c.BinningFactorX, 2);
    EXPECT_EQ(c.FrameRate, 121'000);  // 2 min and the default 1 s
    EXPECT_TRUE(c.ReconnectPort);

    ASSERT_TRUE(c.SaveToRegistry(path));
    EXPECT_EQ(bx::ini::GetPrivateProfileString("Other Tool", "key", "", path), "value");
    EXPECT_EQ(Saved("My Own Key"), "kept");
    EXPECT_EQ(Saved("Exposure Time"), "2500");
    std::ifstream in(path, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF; written by another tool\r\n", 0), 0u);
    EXPECT_NE(text.find("; exposure in microseconds"), std::string::npos);
    EXPECT_EQ(text.find("[KorvaneFW Camera]"), std::string::npos) << "one section, as it was named";
}

// Colour in the file is the camera's format after the first load and after a second one,
// although the "Range" button the file names is checked after it.
TEST_F(Settings, ColourFromTheFileReachesTheCamera) {
    UseCamera("[sensor]\nwidth = 96\nheight = 64\ncolour = yes\n");
    Write("Color mode=1\nRange=High\n");
    TBXTessvikFerroFW& c = Create();
    for (const char* load : {"first", "second"}) {
        c.LoadFromRegistry(path);
        ASSERT_TRUE(c.CameraReady) << load << BoxTexts();
        EXPECT_EQ(CameraParam(KVCAM_PARAM_FORMAT), KVCAM_FORMAT_BAYER8) << load;
        EXPECT_EQ(c.BitDepth, 24) << load;
        std::vector<uint8_t> frame(c.AcquisitionFrameBytes());
        EXPECT_EQ(c.GrabFrameToBuffer(frame.data(), frame.size()), KVCAM_OK) << load;
    }
}
