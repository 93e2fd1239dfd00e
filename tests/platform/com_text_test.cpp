// Result codes, GUID text forms, automation strings and UTF-8/UTF-16 conversion.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using bx::com::Bstr;
using bx::com::FormatGuid;
using bx::com::ParseGuid;

namespace {

// Frees a raw BSTR at scope end, so failed assertions do not leak under the sanitizer.
struct FreeAtExit {
    BSTR text;
    ~FreeAtExit() { SysFreeString(text); }
};

uint32_t PrefixOf(BSTR text) {
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    return bytes;
}

}  // namespace

TEST(ResultCodes, SuccessIsBitThirtyOneClearAndSystemErrorsMapToTheirCodes) {
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(FAILED(DISP_E_EXCEPTION));
    // The facility-7 codes are the wrapped operating-system errors.
    EXPECT_EQ(HRESULT_FROM_WIN32(5), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(6), E_HANDLE);
    EXPECT_EQ(HRESULT_FROM_WIN32(14), E_OUTOFMEMORY);
    EXPECT_EQ(HRESULT_FROM_WIN32(87), E_INVALIDARG);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
}

TEST(Guid, ParsesAndFormatsTheRegistryForm) {
    const std::string text = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
    std::optional<GUID> g = ParseGuid(text);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Data1, 0x0A1B2C3Du);
    EXPECT_EQ(g->Data2, 0x4E5F);
    EXPECT_EQ(g->Data3, 0x6071);
    EXPECT_EQ(g->Data4[0], 0x82);
    EXPECT_EQ(g->Data4[1], 0x93);
    EXPECT_EQ(g->Data4[7], 0xF9);
    EXPECT_EQ(FormatGuid(*g), text);

    // Lower case is read; the written form is upper case.
    EXPECT_EQ(ParseGuid("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}"), g);
    EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(ParseGuid(FormatGuid(IID_IUnknown)), IID_IUnknown);
    EXPECT_NE(IID_IUnknown, IID_IDispatch);
    EXPECT_EQ(FormatGuid(IID_NULL), "{00000000-0000-0000-0000-000000000000}");

    static_assert(bx::com::GuidLiteral("{00020400-0000-0000-C000-000000000046}") == IID_IDispatch);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad : {
             "",
             "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",     // no braces
             "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",    // no closing brace
             "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9} ",  // trailing blank
             "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",    // a digit short
             "{0A1B2C3D4-E5F-6071-8293-A4B5C6D7E8F9}",   // dash misplaced
             "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8G9}",   // not hex
             "{0A1B2C3D-4E5F-6071-8293+A4B5C6D7E8F9}",   // wrong separator
             "(0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9)",
         }) {
        EXPECT_FALSE(ParseGuid(bad)) << bad;
    }
    EXPECT_FALSE(ParseGuid(u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F\u0660}"));  // non-ASCII digit
}

TEST(Guid, PlatformTextFunctionsCheckTheirBuffers) {
    OLECHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, buffer, 38), 0);  // no room for the terminator
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, nullptr, 39), 0);
    ASSERT_EQ(StringFromGUID2(IID_IDispatch, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), u"{00020400-0000-0000-C000-000000000046}");

    CLSID clsid = IID_IUnknown;
    EXPECT_EQ(CLSIDFromString(buffer, &clsid), S_OK);
    EXPECT_EQ(clsid, IID_IDispatch);

    // Failures leave the output as it was.
    CLSID untouched = IID_IUnknown;
    EXPECT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-000000000046}x", &untouched),
              CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"Some.ProgId", &untouched), CO_E_CLASSSTRING);
    EXPECT_EQ(untouched, IID_IUnknown);
    IID iid = IID_NULL;
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-00000000004}", &iid), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(nullptr, &iid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(buffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(iid, IID_NULL);
}

TEST(Bstr, NonAsciiTextSurvivesTheRoundTripAndTheLengthPrefixCountsBytes) {
    const std::string utf8 = "Zeiß µm 光 𝄞";  // two-, three- and four-byte sequences
    const std::u16string utf16 = u"Zeiß µm 光 𝄞";
    FreeAtExit b{bx::com::Utf8ToBstr(utf8)};
    ASSERT_NE(b.text, nullptr);
    EXPECT_EQ(bx::com::BstrView(b.text), utf16);
    EXPECT_EQ(SysStringLen(b.text), utf16.size());  // the astral character is two units
    EXPECT_EQ(SysStringByteLen(b.text), utf16.size() * 2);
    EXPECT_EQ(PrefixOf(b.text), utf16.size() * 2);
    EXPECT_EQ(b.text[utf16.size()], u'\0');
    EXPECT_EQ(bx::com::BstrToUtf8(b.text), utf8);

    FreeAtExit copy{SysAllocString(b.text)};
    EXPECT_NE(copy.text, b.text);
    EXPECT_EQ(bx::com::BstrView(copy.text), utf16);
}

TEST(Bstr, ExplicitLengthKeepsEmbeddedZeros) {
    FreeAtExit b{SysAllocStringLen(u"a\0b\0", 4)};
    EXPECT_EQ(SysStringLen(b.text), 4u);
    EXPECT_EQ(bx::com::BstrView(b.text), std::u16string_view(u"a\0b\0", 4));
    EXPECT_EQ(bx::com::BstrToUtf8(b.text), std::string("a\0b\0", 4));
    EXPECT_EQ(b.text[4], u'\0');

    FreeAtExit zeros{SysAllocStringLen(nullptr, 3)};
    ASSERT_NE(zeros.text, nullptr);
    EXPECT_EQ(bx::com::BstrView(zeros.text), std::u16string_view(u"\0\0\0", 3));

    FreeAtExit odd{SysAllocStringByteLen("xyz", 3)};
    EXPECT_EQ(SysStringByteLen(odd.text), 3u);
    EXPECT_EQ(SysStringLen(odd.text), 1u);
    EXPECT_EQ(std::memcmp(odd.text, "xyz", 4), 0);  // terminated as 8-bit text too
}

TEST(Bstr, NullMeansEmptyAndOversizedRequestsFailCleanly) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(bx::com::BstrToUtf8(nullptr), "");
    EXPECT_TRUE(bx::com::BstrView(nullptr).empty());

    // The byte length must fit the 32-bit prefix; a wrapped size must not be allocated.
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, UINT_MAX), nullptr);
}

TEST(Bstr, ReallocationMayReadFromTheStringItReplaces) {
    BSTR b = SysAllocString(u"microscope");
    ASSERT_EQ(SysReAllocString(&b, b + 5), 1);  // the tail of the old text
    EXPECT_EQ(bx::com::BstrView(b), u"scope");
    ASSERT_EQ(SysReAllocStringLen(&b, b, 3), 1);
    EXPECT_EQ(bx::com::BstrView(b), u"sco");
    EXPECT_EQ(SysReAllocString(nullptr, u"x"), 0);
    ASSERT_EQ(SysReAllocString(&b, nullptr), 1);
    EXPECT_EQ(b, nullptr);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(bx::com::ToUtf16("a\xC3"), u"a\uFFFD");                    // truncated sequence
    EXPECT_EQ(bx::com::ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong '/'
    EXPECT_EQ(bx::com::ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(bx::com::ToUtf16("\xF4\x90\x80\x80").front(), u'\uFFFD');  // beyond U+10FFFF
    EXPECT_EQ(bx::com::ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(bx::com::ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(bx::com::ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(BstrWrapper, CopiesAreDeepAndOwnershipMovesExplicitly) {
    Bstr a("Objektiv 40×");
    Bstr b = a;
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(a, b);
    EXPECT_EQ(b.ToUtf8(), "Objektiv 40×");

    Bstr c = std::move(a);
    EXPECT_TRUE(a.IsNull());
    EXPECT_EQ(c, b);

    // Out() frees the old text before a callee writes a new one into the slot.
    *c.Out() = SysAllocString(u"new");
    EXPECT_EQ(c, std::u16string_view(u"new"));

    BSTR raw = c.Detach();
    EXPECT_TRUE(c.IsNull());
    Bstr adopted = Bstr::Adopt(raw);
    EXPECT_EQ(adopted.Get(), raw);

    EXPECT_EQ(Bstr(), Bstr(""));  // null and empty compare equal
    EXPECT_TRUE(Bstr(static_cast<const char*>(nullptr)).IsNull());
    EXPECT_EQ(Bstr::CopyOf(nullptr).Length(), 0u);
    Bstr& same = b;
    b = same;  // self-assignment keeps the text
    EXPECT_EQ(b.ToUtf8(), "Objektiv 40×");
}
