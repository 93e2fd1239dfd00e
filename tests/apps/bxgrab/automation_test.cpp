// bxgrab's side of the control, against the module as the platform loads it: first use
// registers the module in a fresh registry file, properties go by name to either interface,
// failures carry the error object's text, and events are named from the control's type
// information and reach the handler set for them.
#include <bxplatform/com_registry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "automation.h"
#include "events.h"
#include "module.h"

namespace fs = std::filesystem;
using namespace bxgrab;

class HostAutomation : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("bxgrab host " + std::to_string(::getpid()));
        fs::create_directories(dir_);
        registry_ = (dir_ / "classes.reg").string();
        bx::com::SetRegistryPath(registry_);
    }
    void TearDown() override {
        bx::com::SetRegistryPath("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    CreateOptions Options(std::string progid = "Korvane Camera") const {
        return CreateOptions{std::move(progid), BX_PLUGIN_MODULE};
    }
    std::string RegistryText() const {
        std::ifstream in(registry_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
    std::string registry_;
};

TEST_F(HostAutomation, FirstUseRegistersTheModuleAndPropertiesGoByName) {
    ASSERT_EQ(RegistryText(), "");
    Control control(Options());
    EXPECT_NE(RegistryText().find("Korvane Camera"), std::string::npos);
    EXPECT_EQ(control.modulePath(), fs::absolute(BX_PLUGIN_MODULE).lexically_normal().string());
    control.PutLong("NumberOfFrames", 25);
    EXPECT_EQ(control.GetLong("NumberOfFrames"), 25);
    control.PutBool("Recycle", true);
    EXPECT_TRUE(control.GetBool("Recycle"));
    // Only the common interface has it.
    EXPECT_EQ(control.GetLong("InterfaceVersion"), 0x0100A00E);
    EXPECT_THROW(control.GetLong("NoSuchProperty"), ControlError);
}

TEST_F(HostAutomation, AProgIdNobodyRegisteredNamesTheRegistry) {
    try {
        Control control(Options("No Such Camera"));
        FAIL() << "created a class nobody registered";
    } catch (const ControlError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("\"No Such Camera\""), std::string::npos) << text;
        EXPECT_NE(text.find(registry_), std::string::npos) << text;
    }
    std::string why;
    EXPECT_EQ(CallRegistration((dir_ / "missing.so").string(), false, &why), E_FAIL);
    EXPECT_NE(why.find("missing.so"), std::string::npos) << why;
}

TEST_F(HostAutomation, FailuresCarryTheControlsText) {
    Control control(Options());
    LONG image = 0;
    try {
        Control::Check(control.ferro().GetImage(&image), "snap failed");
        FAIL() << "GetImage without an acquisition succeeded";
    } catch (const ControlError& error) {
        EXPECT_STREQ(error.what(), "snap failed: no acquisition image present!");
    }
}

TEST_F(HostAutomation, EventsAreNamedFromTypeInformationAndReachTheirHandlers) {
    Control control(Options());
    ControlEvents events(control, false);
    const DISPID progress = events.Id("OnProcessUpdate");
    ASSERT_NE(progress, DISPID_UNKNOWN);
    EXPECT_EQ(events.Name(progress), "OnProcessUpdate");
    EXPECT_EQ(events.Name(4242), "4242");
    int calls = 0;
    long seen = 0;
    events.Set("OnProcessUpdate", [&] {
        ++calls;
        seen = control.GetLong("GrabProgress");
    });
    control.PutLong("GrabProgress", 7);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, 7);
    events.Set("OnProcessUpdate", {});
    control.PutLong("GrabProgress", 8);
    EXPECT_EQ(calls, 1);
}
