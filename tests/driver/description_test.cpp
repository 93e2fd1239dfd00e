// A bad camera description is refused with a message a host can show as it stands: where
// (file and line), which key and what is wrong, whichever way the description arrives.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "kvcam_fixture.h"

namespace {

struct BadDescription {
    const char* name;
    const char* text;
    int line;          // the line the message blames
    const char* key;   // as the message names it
    const char* what;  // part of the reason
};

const BadDescription kBadDescriptions[] = {
    {"UnknownKey", "[sensor]\nwidth = 64\nwidht = 5\n", 3, "[sensor] widht", "unknown key"},
    {"BadValue", "; fast\n[camera]\ntype = 4\n[sensor]\nbit_depth = 17\n", 5, "[sensor] bit_depth",
     "8..16"},
    {"BinningTallerThanTheSensor", "[sensor]\nwidth = 64\nheight = 24\n[binning]\ntable = 1, 32\n",
     5, "[binning] table", "height 24"},
    {"BinningRangeWiderThanTheSensor", "[sensor]\nwidth = 20\n[binning]\nkind = range\nmax = 24\n",
     5, "[binning] max", "width 20"},
    // The binning key is blamed even when the sensor size comes later.
    {"HorizontalBinningWiderThanALaterSensor",
     "[camera]\nhorizontal_binning = yes\n[binning]\nkind = none\nmax = 17\n[sensor]\nwidth = 16\n",
     5, "[binning] max", "width 16"},
};

class KvCamBadDescription : public kvtest::KvCamTest,
                            public ::testing::WithParamInterface<BadDescription> {
protected:
    // The message starts with origin, line and key, then gives the reason.
    static void ExpectBlames(const std::string& origin) {
        const BadDescription& c = GetParam();
        const std::string message = KvCamSim_LastError();
        const std::string where = origin + ":" + std::to_string(c.line) + ": " + c.key + ": ";
        EXPECT_EQ(message.rfind(where, 0), 0u) << message;
        EXPECT_NE(message.find(c.what, where.size()), std::string::npos) << message;
    }
};

TEST_P(KvCamBadDescription, RefusedAsTextFileOrEnvironmentNamingLineAndKey) {
    EXPECT_EQ(KvCamSim_UseDescription(GetParam().text), KVCAM_ERR_OUT_OF_RANGE);
    ExpectBlames("camera description");

    const std::string path = ::testing::TempDir() + "/kvcam_bad_" + GetParam().name + ".ini";
    std::ofstream(path) << GetParam().text;
    EXPECT_EQ(KvCamSim_UseDescriptionFile(path.c_str()), KVCAM_ERR_OUT_OF_RANGE);
    ExpectBlames(path);

    // Named by the environment, the load fails and leaves the same message for the host.
    ASSERT_EQ(setenv("KVCAM_SIM_CONFIG", path.c_str(), 1), 0);
    EXPECT_EQ(KvCam_LoadDriver(), KVCAM_ERR_NO_CAMERA);
    ExpectBlames(path);
    EXPECT_EQ(KvCam_ReleaseDriver(), KVCAM_ERR_NOT_LOADED);
    unsetenv("KVCAM_SIM_CONFIG");
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Driver, KvCamBadDescription, ::testing::ValuesIn(kBadDescriptions),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
