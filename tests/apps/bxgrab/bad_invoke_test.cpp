// Bad arguments at the control's automation boundary, as a careless host might pass them:
// null out-pointers, null and huge strings, malformed Invoke calls and values outside every
// range. Each must be refused with a code (and leave the control as it was) or be taken into
// the camera's range; none may crash or leave a file behind.
#include <bxplatform/com_registry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "automation.h"

namespace fs = std::filesystem;
using namespace bxgrab;
using bx::com::Bstr;
using bx::com::Variant;

namespace {

class BadInvoke : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("bxgrab bad invoke " + std::to_string(::getpid()));
        fs::create_directories(dir_);
        bx::com::SetRegistryPath((dir_ / "classes.reg").string());
        control_ = std::make_unique<Control>(CreateOptions{"Korvane Camera", BX_PLUGIN_MODULE});
    }
    void TearDown() override {
        control_.reset();
        bx::com::SetRegistryPath("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    IDispatch* dispatch() { return &control_->ferro(); }
    // The camera opened with factory settings (a load arms the opening).
    void Open() {
        const std::string none = (dir_ / "none.ini").string();
        Control::Check(control_->ferro().LoadFromRegistry(Bstr(none).Get()));
        Control::Check(control_->ferro().Initialise());
        ASSERT_GT(control_->GetLong("GrabWindowWidth"), 0);
    }
    DISPID Id(const char* name) {
        Bstr text(name);
        LPOLESTR names[] = {text.Get()};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
        return id;
    }
    HRESULT Put(DISPID id, VARIANT* args, UINT count) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{args, &named, count, count ? 1u : 0u};
        return dispatch()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                                  nullptr);
    }

    fs::path dir_;
    std::unique_ptr<Control> control_;
};

TEST_F(BadInvoke, NullOutPointersAreRefusedWithEPointer) {
    IBXTessvikFerroFW& c = control_->ferro();
    EXPECT_EQ(c.get_ExposureTime(nullptr), E_POINTER);
    EXPECT_EQ(c.get_Recycle(nullptr), E_POINTER);
    EXPECT_EQ(c.get_MapMin(nullptr), E_POINTER);
    EXPECT_EQ(c.GetImage(nullptr), E_POINTER);
    IDispatch* d = dispatch();
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG);
    UINT count = 7;
    EXPECT_EQ(d->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(d->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

TEST_F(BadInvoke, MalformedInvokeCallsAreRefusedAndChangeNothing) {
    control_->PutLong("NumberOfFrames", 12);
    const DISPID frames = Id("NumberOfFrames");
    // No value, a count without its array, an unknown member, a property called as a method.
    EXPECT_EQ(Put(frames, nullptr, 0), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Put(frames, nullptr, 1), E_INVALIDARG);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant result;
    EXPECT_EQ(dispatch()->Invoke(987654, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                 nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(dispatch()->Invoke(Id("Snap"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr,
                                 nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // Values of no number's type.
    Variant text(Bstr("twelve"));
    EXPECT_EQ(Put(frames, &text, 1), DISP_E_TYPEMISMATCH);
    Variant object;
    object.vt = VT_DISPATCH;
    object.pdispVal = nullptr;
    EXPECT_TRUE(FAILED(Put(frames, &object, 1)));
    EXPECT_EQ(control_->GetLong("NumberOfFrames"), 12);
    // A get with nowhere to put the value still answers.
    EXPECT_EQ(dispatch()->Invoke(frames, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr,
                                 nullptr),
              S_OK);
}

TEST_F(BadInvoke, AHugeNameIsUnknownAndHugeOrNullPathsWriteNoFile) {
    const std::string huge(1 << 20, 'x');
    Bstr name(huge);
    LPOLESTR names[] = {name.Get()};
    DISPID id = 0;
    EXPECT_EQ(dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    // The control reports no failure of its own writes (hosts check the file): a path that
    // cannot be made and a null one write nothing.
    IBXTessvikFerroFW& c = control_->ferro();
    const std::string longPath = (dir_ / huge).string() + ".ini";
    c.SaveToRegistry(Bstr(longPath).Get());
    c.SaveToRegistry(nullptr);
    c.LoadFromRegistry(Bstr(longPath).Get());
    c.LoadFromRegistry(nullptr);
    SetErrorInfo(0, nullptr);
    control_->PutLong("NumberOfFrames", 12);  // and the control still answers
    EXPECT_EQ(control_->GetLong("NumberOfFrames"), 12);
    std::error_code ec;
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir_, ec))
        files += entry.path().extension() == ".ini";
    EXPECT_EQ(files, 0u);
}

TEST_F(BadInvoke, ValuesOutsideEveryRangeEndInsideTheCamerasRange) {
    Open();
    struct Case {
        const char* name;
        int32_t value;
        long min, max;
    };
    const Case cases[] = {
        {"ExposureTime", -5, 1, 2147483647},
        {"ExposureTime", 0, 1, 2147483647},
        {"Gain", -1, 0, 4095},
        {"Gain", 1 << 30, 0, 4095},
        {"NumberOfFrames", -1, 1, 1 << 30},
        {"NumberOfFrames", 0, 1, 1 << 30},
        {"GrabWindowLeft", -100, 0, 4096},
        {"GrabWindowBottom", 1 << 30, 0, 4096},
    };
    for (const Case& test : cases) {
        try {
            control_->Put(test.name, Variant(test.value));
        } catch (const ControlError&) {
            // refused: fine, the value below must still be a sane one
        }
        const long now = control_->GetLong(test.name);
        EXPECT_GE(now, test.min) << test.name << " = " << test.value;
        EXPECT_LE(now, test.max) << test.name << " = " << test.value;
    }
}

}  // namespace
