// Error objects: the per-thread current error and its hand-over into an exception record.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <thread>

using bx::com::Bstr;
using bx::com::ComPtr;

namespace {

constexpr IID kRaisingIid = bx::com::GuidLiteral("{0A7C3E51-2B4D-4E6F-9A1B-3C5D7E9F1A01}");

ComPtr<IErrorInfo> TakeError() {
    ComPtr<IErrorInfo> error;
    GetErrorInfo(0, error.Put());
    return error;
}

struct ExcepInfoFree {
    EXCEPINFO& info;
    ~ExcepInfoFree() {
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
};

}  // namespace

TEST(ErrorInfo, RaisedErrorCarriesItsFieldsAndIsTakenOnlyOnce) {
    EXPECT_EQ(bx::com::RaiseError(kRaisingIid, "Test.Source", "Belichtung zu lang: 5 s"),
              DISP_E_EXCEPTION);

    ComPtr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.Put()), S_OK);
    ASSERT_TRUE(error);
    GUID guid{};
    EXPECT_EQ(error->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, kRaisingIid);
    Bstr source, description;
    error->GetSource(source.Out());
    error->GetDescription(description.Out());
    EXPECT_EQ(source.ToUtf8(), "Test.Source");
    EXPECT_EQ(description.ToUtf8(), "Belichtung zu lang: 5 s");

    ComPtr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, again.Put()), S_FALSE);
    EXPECT_FALSE(again);
}

TEST(ErrorInfo, ALaterErrorReplacesTheEarlierAndNullClears) {
    bx::com::RaiseError(kRaisingIid, "first", "first");
    bx::com::RaiseError(kRaisingIid, "second", "second");
    Bstr source;
    TakeError()->GetSource(source.Out());
    EXPECT_EQ(source.ToUtf8(), "second");

    bx::com::RaiseError(kRaisingIid, "gone", "gone");
    EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_FALSE(TakeError());
}

TEST(ErrorInfo, TheCurrentErrorBelongsToItsThread) {
    bx::com::RaiseError(kRaisingIid, "main", "raised on the test thread");
    bool other_saw_one = true;
    std::thread([&] { other_saw_one = static_cast<bool>(TakeError()); }).join();
    EXPECT_FALSE(other_saw_one);
    EXPECT_TRUE(TakeError());
}

TEST(ErrorInfo, ObjectIsBuiltThroughICreateErrorInfo) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
    std::u16string help = u"/usr/share/help/camera.html";
    create->SetHelpFile(help.data());
    create->SetHelpContext(42);
    ComPtr<IErrorInfo> error = bx::com::QueryAs<IErrorInfo>(create.Get());
    ASSERT_TRUE(error);
    ASSERT_EQ(SetErrorInfo(0, error.Get()), S_OK);

    EXCEPINFO info;
    ExcepInfoFree free_at_exit{info};
    bx::com::FillExcepInfo(&info, E_FAIL);
    EXPECT_EQ(bx::com::BstrView(info.bstrHelpFile), help);
    EXPECT_EQ(info.dwHelpContext, 42u);
    EXPECT_EQ(info.bstrSource, nullptr);  // never set: stays null rather than empty garbage
}

TEST(ErrorInfo, FillExcepInfoMovesTheErrorIntoTheRecord) {
    bx::com::RaiseError(kRaisingIid, "Test.Source", "no camera");
    EXCEPINFO info;
    ExcepInfoFree free_at_exit{info};
    bx::com::FillExcepInfo(&info, E_ABORT);
    EXPECT_EQ(info.scode, E_ABORT);
    EXPECT_EQ(info.wCode, 0);
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrSource), "Test.Source");
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrDescription), "no camera");
    EXPECT_FALSE(TakeError()) << "the error was moved, not copied";
}

TEST(ErrorInfo, FillExcepInfoWithoutAnErrorGivesOnlyTheCode) {
    EXCEPINFO info{};
    info.dwHelpContext = 7;  // left from an earlier call: must not survive
    info.wCode = 3;
    ExcepInfoFree free_at_exit{info};
    bx::com::FillExcepInfo(&info, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(info.scode, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(info.dwHelpContext, 0u);
    EXPECT_EQ(info.wCode, 0);
    EXPECT_EQ(info.bstrSource, nullptr);
    EXPECT_EQ(info.bstrDescription, nullptr);

    bx::com::RaiseError(kRaisingIid, "s", "d");
    bx::com::FillExcepInfo(nullptr, E_FAIL);  // no record: the error is still cleared
    EXPECT_FALSE(TakeError());
}
