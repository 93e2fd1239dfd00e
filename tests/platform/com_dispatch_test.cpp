// Late binding from a type description: Invoke's argument handling and errors, GetIDsOfNames,
// the type info and class info, all through the toy object's IDispatch as a host would call.
#include "fixtures/toy_dispatch.h"

#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using bx::com::ComPtr;
using bx::com::Variant;

namespace {

// What one Invoke gave back.
struct Outcome {
    HRESULT hr;
    Variant result;
    UINT argError;
};

class DispatchTest : public ::testing::Test {
protected:
    // Invokes with rgvarg exactly as given (the last argument first); the first
    // named.size() entries are the named arguments.
    Outcome Invoke(DISPID id, WORD flags, std::vector<Variant> rgvarg = {},
                   std::vector<DISPID> named = {}) {
        DISPPARAMS params{rgvarg.data(), named.data(), static_cast<UINT>(rgvarg.size()),
                          static_cast<UINT>(named.size())};
        Outcome out{E_UNEXPECTED, {}, 12345};
        out.hr =
            object->Invoke(id, IID_NULL, 0, flags, &params, &out.result, nullptr, &out.argError);
        return out;
    }
    Outcome Put(DISPID id, Variant value) {
        return Invoke(id, DISPATCH_PROPERTYPUT, {std::move(value)}, {DISPID_PROPERTYPUT});
    }

    // A value as text, booleans as True/False, to compare results of any type in a table.
    static std::string Text(const VARIANT& v) {
        Variant text;
        if (FAILED(VariantChangeType(&text, &v, VARIANT_ALPHABOOL, VT_BSTR))) return "(no text)";
        return bx::com::BstrToUtf8(text.bstrVal);
    }

    ComPtr<toy::Toy> toy = bx::com::Make<toy::Toy>();
    IDispatch* object = toy.Get();
};

Variant Missing() {
    return Variant::Error(DISP_E_PARAMNOTFOUND);
}

const WORD kMethod = DISPATCH_METHOD;
const WORD kGet = DISPATCH_PROPERTYGET;

}  // namespace

TEST_F(DispatchTest, CallsCoerceArgumentsAndReturnValues) {
    struct Case {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<Variant> rgvarg;
        std::vector<DISPID> named;
        VARTYPE vt;
        std::string text;
    };
    // clang-format off
    const Case cases[] = {
        {"arguments arrive reversed", toy::kSubtract, kMethod, {int32_t{3}, int32_t{10}}, {},
         VT_I4, "7"},
        {"text that is a number", toy::kSubtract, kMethod, {int32_t{2}, "42"}, {}, VT_I4, "40"},
        {"a real rounds to an integer", toy::kSubtract, kMethod, {2.5, int16_t{1}}, {}, VT_I4,
         "-1"},
        {"named arguments by position", toy::kSubtract, kMethod, {int32_t{3}, int32_t{10}},
         {1, 0}, VT_I4, "7"},
        {"positional then named", toy::kSubtract, kMethod, {int32_t{3}, int32_t{10}}, {1}, VT_I4,
         "7"},
        {"optional label and default timeout", toy::kSnap, kMethod, {int32_t{3}}, {}, VT_BSTR,
         "frames=3 label=(missing) timeout=1000"},
        {"omitted label passed as missing", toy::kSnap, kMethod,
         {int32_t{250}, Missing(), int32_t{3}}, {}, VT_BSTR,
         "frames=3 label=(missing) timeout=250"},
        {"label given", toy::kSnap, kMethod, {"dark", int32_t{1}}, {}, VT_BSTR,
         "frames=1 label=dark timeout=1000"},
        {"only the timeout named", toy::kSnap, kMethod, {int32_t{5}, int32_t{2}}, {2}, VT_BSTR,
         "frames=2 label=(missing) timeout=5"},
        {"a scripting host's method-or-get", toy::kBrightness, kMethod | kGet, {}, {}, VT_I4,
         "50"},
        {"float return value", toy::kScale, kMethod, {0.5}, {}, VT_R4, "25"},
        {"enum property", toy::kMode, kGet, {}, {}, VT_I4, "0"},
        {"negative DISPID, unsigned colour", toy::kBackColor, kGet, {}, {}, VT_UI4, "16777215"},
        {"boolean property", toy::kLive, kGet, {}, {}, VT_BOOL, "False"},
        {"method without a return value", toy::kSetGain, kMethod, {int16_t{4}}, {}, VT_EMPTY,
         ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome out = Invoke(c.id, c.flags, c.rgvarg, c.named);
        ASSERT_EQ(out.hr, S_OK);
        EXPECT_EQ(out.result.vt, c.vt);
        EXPECT_EQ(Text(out.result), c.text);
    }
}

TEST_F(DispatchTest, PropertiesPutThenGetAsTheirOwnType) {
    struct Case {
        DISPID id;
        Variant value;
        VARTYPE vt;
        std::string text;
    };
    // clang-format off
    const Case cases[] = {
        {toy::kBrightness, int32_t{80}, VT_I4, "80"},
        {toy::kBrightness, "75", VT_I4, "75"},
        {toy::kLive, true, VT_BOOL, "True"},
        {toy::kLive, int32_t{0}, VT_BOOL, "False"},
        {toy::kTitle, "hello", VT_BSTR, "hello"},
        {toy::kTitle, int32_t{5}, VT_BSTR, "5"},  // converted text is freed after the call
        {toy::kBackColor, uint32_t{0x123456}, VT_UI4, "1193046"},
        {toy::kMode, "2", VT_I4, "2"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.value));
        ASSERT_EQ(Put(c.id, c.value).hr, S_OK);
        Outcome got = Invoke(c.id, kGet);
        ASSERT_EQ(got.hr, S_OK);
        EXPECT_EQ(got.result.vt, c.vt);
        EXPECT_EQ(Text(got.result), c.text);
    }
}

TEST_F(DispatchTest, BadCallsFailWithTheCulpritsIndex) {
    constexpr UINT kUnset = 12345;
    struct Case {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<Variant> rgvarg;
        std::vector<DISPID> named;
        HRESULT hr;
        UINT argError;
    };
    // clang-format off
    const Case cases[] = {
        {"text that is no number", toy::kSubtract, kMethod, {int32_t{2}, "abc"}, {},
         DISP_E_TYPEMISMATCH, 1},
        {"too big for a SHORT", toy::kSetGain, kMethod, {int32_t{70000}}, {}, DISP_E_OVERFLOW, 0},
        {"too few arguments", toy::kSubtract, kMethod, {int32_t{1}}, {}, DISP_E_BADPARAMCOUNT,
         kUnset},
        {"too many arguments", toy::kSubtract, kMethod, {int32_t{1}, int32_t{2}, int32_t{3}}, {},
         DISP_E_BADPARAMCOUNT, kUnset},
        {"required argument passed as missing", toy::kSnap, kMethod, {Missing()}, {},
         DISP_E_PARAMNOTOPTIONAL, 0},
        {"unknown named argument", toy::kSubtract, kMethod, {int32_t{1}, int32_t{2}}, {5},
         DISP_E_PARAMNOTFOUND, 0},
        {"argument named twice", toy::kSubtract, kMethod, {int32_t{1}, int32_t{2}}, {1, 1},
         DISP_E_PARAMNOTFOUND, 1},
        {"named argument repeats a positional one", toy::kSubtract, kMethod,
         {int32_t{1}, int32_t{2}}, {0}, DISP_E_PARAMNOTFOUND, 0},
        {"put without the property-put name", toy::kBrightness, DISPATCH_PROPERTYPUT,
         {int32_t{1}}, {}, DISP_E_PARAMNOTOPTIONAL, kUnset},
        {"reference of the wrong type", toy::kBump, kMethod,
         {Variant::RefTo(static_cast<DOUBLE*>(nullptr)), "x"}, {}, DISP_E_TYPEMISMATCH, 0},
        {"unknown DISPID", 999, kMethod, {}, {}, DISP_E_MEMBERNOTFOUND, kUnset},
        {"property called as a method", toy::kBrightness, kMethod, {}, {}, DISP_E_MEMBERNOTFOUND,
         kUnset},
        {"method read as a property", toy::kFail, kGet, {}, {}, DISP_E_MEMBERNOTFOUND, kUnset},
        {"no kind at all", toy::kBrightness, 0, {}, {}, DISP_E_MEMBERNOTFOUND, kUnset},
        {"read-only property put", toy::kSelf, DISPATCH_PROPERTYPUT, {int32_t{1}},
         {DISPID_PROPERTYPUT}, DISP_E_MEMBERNOTFOUND, kUnset},
        {"the member's own failure", toy::kBrightness, DISPATCH_PROPERTYPUT, {int32_t{500}},
         {DISPID_PROPERTYPUT}, E_INVALIDARG, kUnset},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome out = Invoke(c.id, c.flags, c.rgvarg, c.named);
        EXPECT_EQ(out.hr, c.hr);
        EXPECT_EQ(out.argError, c.argError);
        EXPECT_EQ(out.result.vt, VT_EMPTY);
    }
    EXPECT_EQ(toy->gain, 1);
    EXPECT_EQ(toy->brightness, 50);
}

TEST_F(DispatchTest, MalformedArgumentBlocksAreRefused) {
    DISPPARAMS noArray{nullptr, nullptr, 2, 0};
    EXPECT_EQ(
        object->Invoke(toy::kSubtract, IID_NULL, 0, kMethod, &noArray, nullptr, nullptr, nullptr),
        E_INVALIDARG);
    Variant arg(int32_t{1});
    DISPPARAMS noNames{&arg, nullptr, 1, 1};
    EXPECT_EQ(
        object->Invoke(toy::kSetGain, IID_NULL, 0, kMethod, &noNames, nullptr, nullptr, nullptr),
        E_INVALIDARG);
    EXPECT_EQ(
        object->Invoke(toy::kFail, IID_IDispatch, 0, kMethod, nullptr, nullptr, nullptr, nullptr),
        DISP_E_UNKNOWNINTERFACE);
    // No argument block at all is fine for a member without arguments; no result slot either.
    EXPECT_EQ(object->Invoke(toy::kTitle, IID_NULL, 0, kGet, nullptr, nullptr, nullptr, nullptr),
              S_OK);
}

// A value a member hands back with no result slot to take it is released, whatever
// interface type the member declares it as.
TEST_F(DispatchTest, UntakenInterfaceResultsAreReleased) {
    toy::IToy* derived = toy.Get();
    IUnknown* plain = derived;
    const ULONG held = toy->AddRef();
    toy->AddRef();
    bx::com::detail::Discard(derived);
    bx::com::detail::Discard(plain);
    EXPECT_EQ(toy->AddRef(), held);  // both taken back: the count is where it was
    toy->Release();
}

TEST_F(DispatchTest, ByReferenceArgumentsAreWrittenThrough) {
    BSTR text = SysAllocString(u"hi");
    LONG count = 41;
    Outcome direct = Invoke(toy::kBump, kMethod, {Variant::RefTo(&count), Variant::RefTo(&text)});
    ASSERT_EQ(direct.hr, S_OK);
    EXPECT_EQ(bx::com::BstrToUtf8(text), "hi!");
    EXPECT_EQ(count, 42);
    SysFreeString(text);

    // References to VARIANTs of other types are converted in and the result put back.
    Variant textVar(int32_t{7});
    Variant countVar(int16_t{4});
    Outcome converted =
        Invoke(toy::kBump, kMethod, {Variant::RefTo(&countVar), Variant::RefTo(&textVar)});
    ASSERT_EQ(converted.hr, S_OK);
    EXPECT_EQ(textVar.vt, VT_BSTR);
    EXPECT_EQ(Text(textVar), "7!");
    EXPECT_EQ(countVar.vt, VT_I4);
    EXPECT_EQ(countVar.lVal, 5);

    // Empty VARIANTs are out variables; plain values are seen but not changed.
    Variant emptyText;
    Variant plainCount(int32_t{9});
    ASSERT_EQ(Invoke(toy::kBump, kMethod, {plainCount, Variant::RefTo(&emptyText)}).hr, S_OK);
    EXPECT_EQ(Text(emptyText), "!");
    EXPECT_EQ(plainCount.lVal, 9);
}

TEST_F(DispatchTest, InterfaceResultsCarryAReference) {
    Outcome out = Invoke(toy::kSelf, kGet);
    ASSERT_EQ(out.hr, S_OK);
    ASSERT_EQ(out.result.vt, VT_DISPATCH);
    EXPECT_EQ(out.result.pdispVal, object);
    out.result.Clear();
    EXPECT_EQ(toy->AddRef(), 2u);  // the result's reference went with it
    toy->Release();
}

TEST_F(DispatchTest, RaisedErrorsFillTheExceptionRecord) {
    EXCEPINFO info{};
    UINT argError = 0;
    ASSERT_EQ(object->Invoke(toy::kFail, IID_NULL, 0, kMethod, nullptr, nullptr, &info, &argError),
              DISP_E_EXCEPTION);
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrSource), "Toy.Fail");
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrDescription), "The toy failed on purpose");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    ComPtr<IErrorInfo> left;
    EXPECT_EQ(GetErrorInfo(0, left.Put()), S_FALSE);  // taken into the record

    // Without a record the error stays the thread's current one.
    ASSERT_EQ(object->Invoke(toy::kFail, IID_NULL, 0, kMethod, nullptr, nullptr, nullptr, nullptr),
              DISP_E_EXCEPTION);
    ASSERT_EQ(GetErrorInfo(0, left.Put()), S_OK);
    bx::com::Bstr text;
    left->GetDescription(text.Out());
    EXPECT_EQ(text.ToUtf8(), "The toy failed on purpose");
}

TEST_F(DispatchTest, NamesMapToIdsIgnoringCase) {
    struct Case {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    // clang-format off
    const Case cases[] = {
        {{u"brightness"}, S_OK, {toy::kBrightness}},
        {{u"BACKCOLOR"}, S_OK, {toy::kBackColor}},
        {{u"SUBTRACT", u"second", u"First"}, S_OK, {toy::kSubtract, 1, 0}},
        {{u"Snap", u"timeout"}, S_OK, {toy::kSnap, 2}},
        {{u"Subtract", u"Third", u"first"}, DISP_E_UNKNOWNNAME, {toy::kSubtract, -1, 0}},
        {{u"Nope", u"First"}, DISP_E_UNKNOWNNAME, {-1, -1}},
        {{u"Brightnes"}, DISP_E_UNKNOWNNAME, {-1}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(bx::com::ToUtf8(c.names[0]));
        std::vector<LPOLESTR> names;
        for (const std::u16string& n : c.names) names.push_back(const_cast<LPOLESTR>(n.c_str()));
        std::vector<DISPID> ids(names.size(), 77);
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0,
                                        ids.data()),
                  c.hr);
        EXPECT_EQ(ids, c.ids);
    }
}

TEST(DispatchTypeInfo, DescribesMembersAsAHostReadsThem) {
    auto toy = bx::com::Make<toy::Toy>();
    UINT count = 0;
    ASSERT_EQ(toy->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(toy->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
    ASSERT_EQ(toy->GetTypeInfo(0, 0, info.Put()), S_OK);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, bx::com::IidOf<toy::IToy>());
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->cFuncs, toy::ToyInterface().Members().size());
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);

    // Snap(Frames, [optional] Label, [defaultvalue(1000)] Timeout, [out, retval] BSTR*):
    // the 15th member, so slot 7 + 14.
    FUNCDESC* snap = nullptr;
    ASSERT_EQ(info->GetFuncDesc(14, &snap), S_OK);
    EXPECT_EQ(snap->memid, toy::kSnap);
    EXPECT_EQ(snap->invkind, INVOKE_FUNC);
    EXPECT_EQ(snap->cParams, 3);
    EXPECT_EQ(snap->cParamsOpt, 2);
    EXPECT_EQ(snap->oVft, SHORT((7 + 14) * sizeof(void*)));
    EXPECT_EQ(snap->elemdescFunc.tdesc.vt, VT_BSTR);
    EXPECT_EQ(snap->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(snap->lprgelemdescParam[1].tdesc.vt, VT_VARIANT);
    EXPECT_TRUE(snap->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FOPT);
    const PARAMDESC& timeout = snap->lprgelemdescParam[2].paramdesc;
    ASSERT_TRUE(timeout.wParamFlags & PARAMFLAG_FHASDEFAULT);
    EXPECT_EQ(timeout.pparamdescex->varDefaultValue.lVal, 1000);
    info->ReleaseFuncDesc(snap);

    FUNCDESC* bump = nullptr;
    ASSERT_EQ(info->GetFuncDesc(13, &bump), S_OK);
    ASSERT_EQ(bump->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(bump->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_BSTR);
    EXPECT_EQ(bump->elemdescFunc.tdesc.vt, VT_VOID);
    info->ReleaseFuncDesc(bump);
    FUNCDESC* none = nullptr;
    EXPECT_EQ(info->GetFuncDesc(99, &none), TYPE_E_ELEMENTNOTFOUND);

    BSTR names[4] = {};
    UINT got = 0;
    ASSERT_EQ(info->GetNames(toy::kSubtract, names, 4, &got), S_OK);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(bx::com::BstrToUtf8(names[0]), "Subtract");
    EXPECT_EQ(bx::com::BstrToUtf8(names[1]), "First");
    EXPECT_EQ(bx::com::BstrToUtf8(names[2]), "Second");
    for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);

    bx::com::Bstr name, doc;
    ASSERT_EQ(info->GetDocumentation(toy::kBrightness, name.Out(), doc.Out(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(name.ToUtf8(), "Brightness");
    EXPECT_EQ(doc.ToUtf8(), "Brightness in percent");

    // The type info calls members too, given the interface pointer.
    Variant result;
    ASSERT_EQ(info->Invoke(static_cast<toy::IToy*>(toy.Get()), toy::kBrightness,
                           DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.lVal, 50);
}

TEST(DispatchTypeInfo, ClassInfoNamesTheDefaultSource) {
    auto toy = bx::com::Make<toy::Toy>();
    auto provide = bx::com::QueryAs<IProvideClassInfo2>(toy.Get());
    ASSERT_TRUE(provide);
    GUID source{};
    ASSERT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_EQ(source, bx::com::IidOf<toy::IToyEvents>());
    EXPECT_EQ(provide->GetGUID(2, &source), E_INVALIDARG);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(provide->GetClassInfo(coclass.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->guid, toy::kToyClsid);
    EXPECT_EQ(attr->cImplTypes, 2);
    coclass->ReleaseTypeAttr(attr);

    INT flags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    HREFTYPE ref = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.Put()), S_OK);
    ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, bx::com::IidOf<toy::IToyEvents>());
    events->ReleaseTypeAttr(attr);
    EXPECT_EQ(coclass->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);
}

namespace {

class IPair : public IDispatch {
public:
    virtual HRESULT get_A(LONG* value) = 0;
    virtual HRESULT put_A(LONG value) = 0;

protected:
    ~IPair() = default;
};

}  // namespace

TEST(DispatchDescription, MistakesInADescriptionAreRefused) {
    using bx::com::Member;
    using bx::com::PropGet;
    using bx::com::PropPut;
    constexpr WORD kDual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    constexpr WORD kPlain = TYPEFLAG_FDISPATCHABLE;  // slot order not checked
    struct Case {
        const char* what;
        std::vector<Member> members;
        WORD flags;
    };
    // clang-format off
    const Case cases[] = {
        {"out of function-table order",
         {Member::Of<&IPair::put_A>(u"A", 1, PropPut), Member::Of<&IPair::get_A>(u"A", 1, PropGet)},
         kDual},
        {"one DISPID and kind twice",
         {Member::Of<&IPair::get_A>(u"A", 1, PropGet), Member::Of<&IPair::get_A>(u"A", 1, PropGet)},
         kPlain},
        {"one name, two DISPIDs",
         {Member::Of<&IPair::get_A>(u"A", 1, PropGet), Member::Of<&IPair::put_A>(u"a", 2, PropPut)},
         kDual},
        {"one DISPID, two names",
         {Member::Of<&IPair::get_A>(u"A", 1, PropGet), Member::Of<&IPair::put_A>(u"B", 1, PropPut)},
         kDual},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto make = [&] {
            bx::com::InterfaceDescription d(u"IPair", IID_NULL, u"", {c.members[0], c.members[1]},
                                            c.flags);
        };
        EXPECT_THROW(make(), std::invalid_argument);
    }
    // The same members described right are accepted.
    bx::com::InterfaceDescription good(
        u"IPair", IID_NULL, u"",
        {Member::Of<&IPair::get_A>(u"A", 1, PropGet), Member::Of<&IPair::put_A>(u"a", 1, PropPut)});
    EXPECT_EQ(good.Members().size(), 2u);
    EXPECT_THROW(Member::Of<&IPair::put_A>(u"A", 1, PropGet), std::invalid_argument);
    EXPECT_THROW(Member::Of<&IPair::get_A>(u"A", 1, PropGet, {u"Value"}), std::invalid_argument);
}
