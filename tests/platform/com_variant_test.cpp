// VARIANT values: copying, clearing, type conversion and reading Invoke arguments.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using bx::com::Variant;

namespace {

// Converts `v` to `vt`; the result is returned only on success.
std::optional<Variant> Converted(const VARIANT& v, VARTYPE vt, USHORT flags = 0,
                                 HRESULT* hr = nullptr) {
    Variant out;
    HRESULT r = VariantChangeType(&out, &v, flags, vt);
    if (hr) *hr = r;
    if (FAILED(r)) return std::nullopt;
    EXPECT_EQ(out.vt, vt);
    return out;
}

HRESULT ConversionResult(const VARIANT& v, VARTYPE vt) {
    HRESULT hr;
    Converted(v, vt, 0, &hr);
    return hr;
}

std::string Text(const VARIANT& v) {
    return bx::com::BstrToUtf8(v.bstrVal);
}

}  // namespace

TEST(VariantConversion, NumbersTravelThroughRealTextAndBack) {
    auto r8 = Converted(Variant(int32_t{-1234}), VT_R8);
    ASSERT_TRUE(r8);
    EXPECT_EQ(r8->dblVal, -1234.0);
    auto text = Converted(*r8, VT_BSTR);
    ASSERT_TRUE(text);
    EXPECT_EQ(Text(*text), "-1234");
    auto back = Converted(*text, VT_I4);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->lVal, -1234);

    EXPECT_EQ(Text(*Converted(Variant(0.1), VT_BSTR)), "0.1");
    EXPECT_EQ(Text(*Converted(Variant(1e20), VT_BSTR)), "1E+20");
    EXPECT_EQ(Text(*Converted(Variant(0.1f), VT_BSTR)), "0.1");  // no float noise digits
    EXPECT_EQ(Text(*Converted(Variant(int64_t{std::numeric_limits<int64_t>::min()}), VT_BSTR)),
              "-9223372036854775808");
    EXPECT_EQ(Converted(Variant(" 42\t"), VT_I2)->iVal, 42);
    EXPECT_EQ(Converted(Variant("+7"), VT_UI1)->bVal, 7);
    EXPECT_EQ(Converted(Variant("1e3"), VT_I4)->lVal, 1000);
    EXPECT_DOUBLE_EQ(Converted(Variant("-2.5E-3"), VT_R8)->dblVal, -0.0025);
    EXPECT_EQ(Converted(Variant("18446744073709551615"), VT_UI8)->ullVal,
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(Converted(Variant(uint8_t{200}), VT_I8)->llVal, 200);
}

// Fifteen digits of the largest double round past it; its text must still read back.
TEST(VariantConversion, TheLargestDoubleReadsBackFromItsText) {
    for (double value :
         {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()}) {
        auto text = Converted(Variant(value), VT_BSTR);
        ASSERT_TRUE(text);
        auto back = Converted(*text, VT_R8);
        ASSERT_TRUE(back) << Text(*text);
        EXPECT_EQ(back->dblVal, value);
    }
    auto r8 = Converted(Variant("1.7976931348623157e308"), VT_R8);
    ASSERT_TRUE(r8);
    EXPECT_EQ(Text(*Converted(*r8, VT_BSTR)), "1.7976931348623157E+308");
    EXPECT_EQ(Text(*Converted(Variant(1.5e300), VT_BSTR)), "1.5E+300") << "others keep 15 digits";
}

TEST(VariantConversion, RealsRoundHalfToEven) {
    EXPECT_EQ(Converted(Variant(2.5), VT_I4)->lVal, 2);
    EXPECT_EQ(Converted(Variant(3.5), VT_I4)->lVal, 4);
    EXPECT_EQ(Converted(Variant(-2.5), VT_I2)->iVal, -2);
    EXPECT_EQ(Converted(Variant(2.6f), VT_UI1)->bVal, 3);
    EXPECT_EQ(Converted(Variant("1.5"), VT_I4)->lVal, 2);
}

TEST(VariantConversion, OutOfRangeValuesOverflow) {
    EXPECT_EQ(ConversionResult(Variant(int32_t{70000}), VT_I2), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(int32_t{-1}), VT_UI4), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(int32_t{256}), VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(1e10), VT_I4), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(2147483647.5), VT_I4), DISP_E_OVERFLOW);  // rounds up
    EXPECT_EQ(Converted(Variant(2147483646.5), VT_I4)->lVal, 2147483646);
    EXPECT_EQ(ConversionResult(Variant(9.3e18), VT_I8), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(1e39), VT_R4), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant(std::nan("")), VT_I4), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant("99999999999999999999"), VT_I8), DISP_E_OVERFLOW);
    EXPECT_EQ(ConversionResult(Variant("1e400"), VT_R8), DISP_E_OVERFLOW);
    Variant big;
    big.vt = VT_UI8;
    big.ullVal = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(ConversionResult(big, VT_I8), DISP_E_OVERFLOW);
}

TEST(VariantConversion, TextThatIsNoNumberIsATypeMismatch) {
    for (const char* bad : {"", "  ", "abc", "12abc", "1,5", "inf", "nan", "--1", "+-1", "0x10"}) {
        EXPECT_EQ(ConversionResult(Variant(bad), VT_I4), DISP_E_TYPEMISMATCH) << bad;
    }
    EXPECT_EQ(ConversionResult(Variant(u"４２"), VT_I4), DISP_E_TYPEMISMATCH);  // full-width digits
    EXPECT_EQ(ConversionResult(Variant("yes"), VT_BOOL), DISP_E_TYPEMISMATCH);
}

TEST(VariantConversion, BooleansUseMinusOneForTrue) {
    EXPECT_EQ(Converted(Variant(int32_t{5}), VT_BOOL)->boolVal, VARIANT_TRUE);
    EXPECT_EQ(Converted(Variant(0.0), VT_BOOL)->boolVal, VARIANT_FALSE);
    EXPECT_EQ(Converted(Variant(true), VT_I4)->lVal, -1);
    EXPECT_EQ(Converted(Variant(true), VT_UI1)->bVal, 0xFF);  // the same bits, unsigned
    EXPECT_EQ(Converted(Variant(false), VT_R8)->dblVal, 0.0);
    EXPECT_EQ(Text(*Converted(Variant(true), VT_BSTR)), "-1");
    EXPECT_EQ(Text(*Converted(Variant(false), VT_BSTR, VARIANT_ALPHABOOL)), "False");
    EXPECT_EQ(Text(*Converted(Variant(true), VT_BSTR, VARIANT_ALPHABOOL)), "True");
    EXPECT_EQ(Converted(Variant(" TRUE "), VT_BOOL)->boolVal, VARIANT_TRUE);
    EXPECT_EQ(Converted(Variant("false"), VT_BOOL)->boolVal, VARIANT_FALSE);
    EXPECT_EQ(Converted(Variant("-1"), VT_BOOL)->boolVal, VARIANT_TRUE);
    EXPECT_EQ(Converted(Variant("0"), VT_BOOL)->boolVal, VARIANT_FALSE);
}

TEST(VariantConversion, EmptyNullAndUnsupportedTypes) {
    Variant empty;
    EXPECT_EQ(Converted(empty, VT_I4)->lVal, 0);
    EXPECT_EQ(Text(*Converted(empty, VT_BSTR)), "");
    EXPECT_EQ(Converted(empty, VT_BOOL)->boolVal, VARIANT_FALSE);

    Variant null;
    null.vt = VT_NULL;
    EXPECT_EQ(ConversionResult(null, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ConversionResult(null, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(null, VT_NULL)->vt, VT_NULL);
    EXPECT_EQ(ConversionResult(Variant(int32_t{1}), VT_NULL), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Converted(Variant("x"), VT_EMPTY)->vt, VT_EMPTY);

    EXPECT_EQ(ConversionResult(Variant::Error(E_FAIL), VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ConversionResult(Variant(int32_t{1}), VT_ERROR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ConversionResult(Variant(int32_t{1}), VT_DECIMAL), DISP_E_BADVARTYPE);
    EXPECT_EQ(ConversionResult(Variant(int32_t{1}), VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(ConversionResult(Variant(int32_t{1}), VT_ARRAY | VT_I4), DISP_E_BADVARTYPE);

    VARIANT garbage;
    VariantInit(&garbage);
    garbage.vt = 0x0FFF;
    EXPECT_EQ(ConversionResult(garbage, VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(&garbage), DISP_E_BADVARTYPE);
    EXPECT_EQ(garbage.vt, 0x0FFF);  // left alone rather than "freed"

    Variant v;
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_I4), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&v, nullptr, 0, VT_I4), E_INVALIDARG);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(&v, nullptr), E_INVALIDARG);
}

TEST(VariantConversion, FailureLeavesTheDestinationUntouched) {
    Variant dest("keep me");
    Variant src("not a number");
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest.vt, VT_BSTR);
    EXPECT_EQ(Text(dest), "keep me");

    // In place: the text is replaced by the number (its BSTR freed; the sanitizer checks).
    Variant inPlace("  12 ");
    ASSERT_EQ(inPlace.ChangeType(VT_I4), S_OK);
    EXPECT_EQ(inPlace.lVal, 12);
    EXPECT_EQ(inPlace.ChangeType(VT_UI1), S_OK);
    EXPECT_EQ(inPlace.ChangeType(VT_BOOL), S_OK);
    EXPECT_EQ(inPlace.boolVal, VARIANT_TRUE);
}

TEST(VariantByReference, SourcesAreReadThroughAndTargetsLeftAlone) {
    LONG exposure = 7;
    Variant ref = Variant::RefTo(&exposure);
    auto r8 = Converted(ref, VT_R8);
    ASSERT_TRUE(r8);
    EXPECT_EQ(r8->dblVal, 7.0);
    EXPECT_EQ(exposure, 7);

    // VariantCopy keeps the reference; VariantCopyInd copies the value.
    Variant shallow;
    ASSERT_EQ(VariantCopy(&shallow, &ref), S_OK);
    EXPECT_EQ(shallow.vt, VT_BYREF | VT_I4);
    EXPECT_EQ(shallow.plVal, &exposure);
    Variant deep;
    ASSERT_EQ(VariantCopyInd(&deep, &ref), S_OK);
    EXPECT_EQ(deep.vt, VT_I4);
    exposure = 9;
    EXPECT_EQ(deep.lVal, 7);
    EXPECT_EQ(*shallow.plVal, 9);

    // Through a VARIANT reference to a by-reference BSTR: the text is duplicated.
    BSTR name = SysAllocString(u"Kanal 2");
    Variant nameRef = Variant::RefTo(&name);
    Variant outer = Variant::RefTo(static_cast<VARIANT*>(&nameRef));
    Variant copy;
    ASSERT_EQ(VariantCopyInd(&copy, &outer), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, name);
    EXPECT_EQ(Text(copy), "Kanal 2");
    EXPECT_NE(Converted(Variant::RefTo(&name), VT_BSTR)->bstrVal, name);
    SysFreeString(name);
}

TEST(VariantByReference, NullAndCyclicReferencesAreRefused) {
    Variant nullRef = Variant::RefTo(static_cast<LONG*>(nullptr));
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &nullRef, 0, VT_I4), E_INVALIDARG);
    EXPECT_EQ(VariantCopyInd(&out, &nullRef), E_INVALIDARG);

    Variant self;
    self.vt = VT_BYREF | VT_VARIANT;
    self.pvarVal = &self;
    EXPECT_EQ(VariantCopyInd(&out, &self), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&out, &self, 0, VT_I4), E_INVALIDARG);
    EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST(VariantCopy, TextIsDuplicatedAndTheOldContentFreed) {
    Variant src("Belichtung");
    Variant dest("old text, freed by the copy");
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
    EXPECT_NE(dest.bstrVal, src.bstrVal);
    EXPECT_EQ(Text(dest), "Belichtung");
    EXPECT_EQ(VariantCopy(&dest, &dest), S_OK);  // self-copy keeps the value
    EXPECT_EQ(Text(dest), "Belichtung");

    Variant moved = std::move(src);
    EXPECT_EQ(src.vt, VT_EMPTY);
    EXPECT_EQ(Text(moved), "Belichtung");
    Variant assigned;
    assigned = moved;
    EXPECT_NE(assigned.bstrVal, moved.bstrVal);
    EXPECT_EQ(Text(assigned), "Belichtung");
}

TEST(DispGetParam, ReadsArgumentsInCallerOrderFromTheReversedArray) {
    // Caller's order: (10, "3", 2.5); named argument 5 = true.
    Variant args[4] = {Variant(true), Variant(2.5), Variant("3"), Variant(int32_t{10})};
    DISPID named[1] = {5};
    DISPPARAMS params{args, named, 4, 1};

    Variant v;
    UINT argError = 99;
    ASSERT_EQ(DispGetParam(&params, 0, VT_I4, &v, &argError), S_OK);
    EXPECT_EQ(v.lVal, 10);
    ASSERT_EQ(DispGetParam(&params, 1, VT_I4, &v, &argError), S_OK);
    EXPECT_EQ(v.lVal, 3);
    ASSERT_EQ(DispGetParam(&params, 2, VT_R8, &v, &argError), S_OK);
    EXPECT_EQ(v.dblVal, 2.5);
    ASSERT_EQ(DispGetParam(&params, 5, VT_BOOL, &v, &argError), S_OK);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);

    EXPECT_EQ(DispGetParam(&params, 3, VT_I4, &v, &argError), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argError, 99u);
    args[2] = Variant("three");
    EXPECT_EQ(DispGetParam(&params, 1, VT_I4, &v, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 2u);  // index into rgvarg

    DISPPARAMS broken{nullptr, nullptr, 2, 0};
    EXPECT_EQ(DispGetParam(&broken, 0, VT_I4, &v, &argError), E_INVALIDARG);
    DISPPARAMS tooManyNamed{args, named, 1, 2};
    EXPECT_EQ(DispGetParam(&tooManyNamed, 0, VT_I4, &v, &argError), E_INVALIDARG);
    EXPECT_EQ(DispGetParam(nullptr, 0, VT_I4, &v, &argError), E_INVALIDARG);
}
