// Component objects: reference counting, QueryInterface, smart pointers, interfaces held in
// VARIANTs, and late-bound calls through IDispatch::Invoke.
#include <bxplatform/com.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using bx::com::ComPtr;
using bx::com::Make;
using bx::com::RefCounted;
using bx::com::Variant;

// Two test interfaces, one extending the other.
class ITally : public IUnknown {
public:
    virtual HRESULT Add(LONG amount) = 0;
    virtual LONG Total() = 0;

protected:
    ~ITally() = default;
};
BX_COM_INTERFACE(ITally, IUnknown, bx::com::GuidLiteral("{6F1D6A52-0B7E-4C21-9E43-1F0A2B3C4D01}"));

class ITallyEx : public ITally {
public:
    virtual HRESULT Reset() = 0;

protected:
    ~ITallyEx() = default;
};
BX_COM_INTERFACE(ITallyEx, ITally, bx::com::GuidLiteral("{6F1D6A52-0B7E-4C21-9E43-1F0A2B3C4D02}"));

namespace {

constexpr IID kUnimplementedIid = bx::com::GuidLiteral("{6F1D6A52-0B7E-4C21-9E43-1F0A2B3C4D03}");

// Counts live objects in a counter the test owns.
class LifeCount {
public:
    explicit LifeCount(std::atomic<int>* live) : live_(live) { ++*live_; }
    ~LifeCount() { --*live_; }
    LifeCount(const LifeCount&) = delete;
    LifeCount& operator=(const LifeCount&) = delete;

private:
    std::atomic<int>* live_;
};

// Reference count of an object, read without changing it.
template <typename T>
ULONG RefsOf(T* object) {
    object->AddRef();
    return object->Release();
}

class Counter final : public RefCounted<ITallyEx> {
public:
    explicit Counter(std::atomic<int>* live) : life_(live) {}
    HRESULT Add(LONG amount) override {
        total_ += amount;
        return S_OK;
    }
    LONG Total() override { return total_; }
    HRESULT Reset() override {
        total_ = 0;
        return S_OK;
    }

private:
    LifeCount life_;
    LONG total_ = 0;
};

// A dispatch object with a method of two arguments whose order matters, a property, and a
// method that fails with exception information.
class Calculator final : public RefCounted<ITally, IDispatch> {
public:
    static constexpr DISPID kSubtract = 1;
    static constexpr DISPID kTotal = 2;
    static constexpr DISPID kJam = 3;

    explicit Calculator(std::atomic<int>* live) : life_(live) {}

    HRESULT Add(LONG amount) override {
        total_ += amount;
        return S_OK;
    }
    LONG Total() override { return total_; }

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override {
        if (!params) return E_POINTER;
        if (id == kSubtract && flags & DISPATCH_METHOD) {
            if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
            Variant a, b;
            if (HRESULT hr = DispGetParam(params, 0, VT_I4, &a, argError); FAILED(hr)) return hr;
            if (HRESULT hr = DispGetParam(params, 1, VT_I4, &b, argError); FAILED(hr)) return hr;
            return Return(Variant(a.lVal - b.lVal), result);
        }
        if (id == kTotal && flags & DISPATCH_PROPERTYGET) return Return(Variant(total_), result);
        if (id == kTotal && flags & DISPATCH_PROPERTYPUT) {
            if (params->cArgs != 1 || params->cNamedArgs != 1 || !params->rgvarg ||
                !params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                return DISP_E_BADPARAMCOUNT;
            }
            Variant value;
            if (HRESULT hr = VariantChangeType(&value, &params->rgvarg[0], 0, VT_I4); FAILED(hr)) {
                if (argError) *argError = 0;
                return hr;
            }
            total_ = value.lVal;
            return S_OK;
        }
        if (id == kJam && flags & DISPATCH_METHOD) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = SysAllocString(u"Calculator");
                exception->bstrDescription = bx::com::Utf8ToBstr("Getriebe blockiert");
                exception->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    static HRESULT Return(Variant value, VARIANT* result) {
        if (result) {
            VariantClear(result);
            *result = value.Detach();
        }
        return S_OK;
    }

    LifeCount life_;
    LONG total_ = 0;
};

}  // namespace

TEST(RefCounted, QueryInterfaceAnswersListedAndExtendedInterfacesOnly) {
    std::atomic<int> live{0};
    ComPtr<Counter> counter = Make<Counter>(&live);
    ITallyEx* ex = counter.Get();

    void* out = reinterpret_cast<void*>(0x1);  // must be overwritten with null on failure
    EXPECT_EQ(ex->QueryInterface(kUnimplementedIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ex->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(ex->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(RefsOf(ex), 1u);  // failed queries took no reference

    // The extended interface answers through the one that extends it.
    ComPtr<ITally> tally = bx::com::QueryAs<ITally>(ex);
    ASSERT_TRUE(tally);
    EXPECT_EQ(RefsOf(ex), 2u);
    tally->Add(5);
    EXPECT_EQ(ex->Total(), 5);

    // IUnknown is the same pointer whichever interface is asked.
    ComPtr<IUnknown> a = bx::com::QueryAs<IUnknown>(tally.Get());
    ComPtr<IUnknown> b = bx::com::QueryAs<IUnknown>(ex);
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(a.Get(), counter->Identity());
}

TEST(RefCounted, SeveralInterfacesShareOneIdentityAndOneCount) {
    std::atomic<int> live{0};
    ComPtr<Calculator> calc = Make<Calculator>(&live);
    ComPtr<IDispatch> dispatch = bx::com::QueryAs<IDispatch>(static_cast<ITally*>(calc.Get()));
    ASSERT_TRUE(dispatch);
    ComPtr<ITally> tally;
    ASSERT_EQ(dispatch.As(&tally), S_OK);
    EXPECT_EQ(bx::com::QueryAs<IUnknown>(dispatch.Get()).Get(),
              bx::com::QueryAs<IUnknown>(tally.Get()).Get());
    EXPECT_EQ(RefsOf(dispatch.Get()), 3u);
    EXPECT_EQ(RefsOf(tally.Get()), 3u);
    ComPtr<ITallyEx> none;
    EXPECT_EQ(tally.As(&none), E_NOINTERFACE);
    EXPECT_FALSE(none);
}

TEST(RefCounted, ObjectIsFreedWhenTheLastReferenceGoes) {
    std::atomic<int> live{0};
    ITallyEx* raw = new Counter(&live);  // the creator's reference
    EXPECT_EQ(live, 1);
    EXPECT_EQ(raw->AddRef(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(live, 1);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(live, 0);
}

TEST(RefCounted, CountingIsSafeAcrossThreads) {
    std::atomic<int> live{0};
    ComPtr<Counter> counter = Make<Counter>(&live);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([copy = counter] {
            for (int i = 0; i < 20000; ++i) ComPtr<Counter> another(copy);
        });
    }
    // The last reference may well be dropped on a worker thread.
    counter.Reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(live, 0);
}

TEST(RefCounted, FunctionTableFollowsTheInterfaceOrder) {
    // A caller that knows only the function table calls by slot: 0 QueryInterface, 1 AddRef,
    // 2 Release, then IDispatch's four with Invoke in slot 6.
    std::atomic<int> live{0};
    ComPtr<Calculator> calc = Make<Calculator>(&live);
    IDispatch* dispatch = bx::com::QueryAs<IDispatch>(calc->Identity()).Detach();
    using Slot = void (*)();
    Slot* table = *reinterpret_cast<Slot**>(dispatch);

    auto addRef = reinterpret_cast<ULONG (*)(IDispatch*)>(table[1]);
    auto release = reinterpret_cast<ULONG (*)(IDispatch*)>(table[2]);
    auto typeInfoCount = reinterpret_cast<HRESULT (*)(IDispatch*, UINT*)>(table[3]);
    auto invoke = reinterpret_cast<HRESULT (*)(IDispatch*, DISPID, REFIID, LCID, WORD, DISPPARAMS*,
                                               VARIANT*, EXCEPINFO*, UINT*)>(table[6]);
    EXPECT_EQ(addRef(dispatch), 3u);
    EXPECT_EQ(release(dispatch), 2u);
    UINT count = 7;
    EXPECT_EQ(typeInfoCount(dispatch, &count), S_OK);
    EXPECT_EQ(count, 0u);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant total;
    EXPECT_EQ(invoke(dispatch, Calculator::kTotal, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                     DISPATCH_PROPERTYGET, &none, &total, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(total.vt, VT_I4);
    dispatch->Release();
}

TEST(ComPtr, CopiesShareMovesTransferAndPutReleases) {
    std::atomic<int> live{0};
    ComPtr<Counter> a = Make<Counter>(&live);
    ComPtr<Counter> b = a;
    EXPECT_EQ(RefsOf(a.Get()), 2u);
    ComPtr<Counter> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(RefsOf(a.Get()), 2u);
    ComPtr<ITallyEx> asInterface = c;  // derived-to-interface conversion takes a reference
    EXPECT_EQ(RefsOf(a.Get()), 3u);

    ITallyEx* handedOut = nullptr;
    EXPECT_EQ(asInterface.CopyTo(&handedOut), S_OK);
    EXPECT_EQ(RefsOf(a.Get()), 4u);
    EXPECT_EQ(asInterface.CopyTo(nullptr), E_POINTER);
    *asInterface.Put() = handedOut;  // Put released the old reference; we adopt the new one
    EXPECT_EQ(RefsOf(a.Get()), 3u);

    ComPtr<ITally> fromNull;
    EXPECT_EQ(ComPtr<ITally>().As(&fromNull), E_POINTER);
    EXPECT_FALSE(bx::com::QueryAs<ITally>(static_cast<IUnknown*>(nullptr)));
    a.Reset();
    c.Reset();
    asInterface = nullptr;
    EXPECT_EQ(live, 0);
}

TEST(VariantObjects, CopyTakesAReferenceAndClearGivesItBack) {
    std::atomic<int> live{0};
    {
        ComPtr<Calculator> calc = Make<Calculator>(&live);
        IDispatch* dispatch = calc.Get();
        Variant held(dispatch);
        EXPECT_EQ(held.vt, VT_DISPATCH);
        EXPECT_EQ(RefsOf(dispatch), 2u);

        Variant copy;
        ASSERT_EQ(VariantCopy(&copy, &held), S_OK);
        EXPECT_EQ(copy.pdispVal, dispatch);
        EXPECT_EQ(RefsOf(dispatch), 3u);
        ASSERT_EQ(VariantClear(&copy), S_OK);
        EXPECT_EQ(copy.vt, VT_EMPTY);
        EXPECT_EQ(RefsOf(dispatch), 2u);

        // Dispatch to unknown queries for the identity; in place, the old reference goes.
        ASSERT_EQ(VariantCopy(&copy, &held), S_OK);
        ASSERT_EQ(copy.ChangeType(VT_UNKNOWN), S_OK);
        EXPECT_EQ(copy.punkVal, calc->Identity());
        EXPECT_EQ(RefsOf(dispatch), 3u);
        ASSERT_EQ(copy.ChangeType(VT_DISPATCH), S_OK);
        EXPECT_EQ(copy.pdispVal, dispatch);
        EXPECT_EQ(RefsOf(dispatch), 3u);
        EXPECT_EQ(copy.ChangeType(VT_I4), DISP_E_TYPEMISMATCH);

        // Copying over a VARIANT that holds the object releases that reference first.
        Variant text("replaces the object");
        ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
        EXPECT_EQ(RefsOf(dispatch), 2u);
    }
    EXPECT_EQ(live, 0);

    // An object without IDispatch cannot become a dispatch reference; nothing leaks.
    ComPtr<Counter> counter = Make<Counter>(&live);
    Variant unknown(counter->Identity());
    Variant dispatch;
    EXPECT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(RefsOf(counter.Get()), 2u);
    unknown.Clear();
    counter.Reset();
    EXPECT_EQ(live, 0);
}

TEST(Invoke, ArgumentsArriveLastFirstAndAreCoerced) {
    std::atomic<int> live{0};
    ComPtr<Calculator> calc = Make<Calculator>(&live);
    ComPtr<IDispatch> dispatch = bx::com::QueryAs<IDispatch>(calc->Identity());

    // Subtract(10, 3): rgvarg holds the last argument first.
    Variant args[2] = {Variant(3.0), Variant("10")};
    DISPPARAMS params{args, nullptr, 2, 0};
    Variant result;
    UINT argError = 99;
    ASSERT_EQ(dispatch->Invoke(Calculator::kSubtract, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                               DISPATCH_METHOD, &params, &result, nullptr, &argError),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);

    args[0] = Variant("drei");
    EXPECT_EQ(dispatch->Invoke(Calculator::kSubtract, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                               DISPATCH_METHOD, &params, &result, nullptr, &argError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);  // the second argument, first in rgvarg
    params.cArgs = 1;
    EXPECT_EQ(dispatch->Invoke(Calculator::kSubtract, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                               DISPATCH_METHOD, &params, &result, nullptr, &argError),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(dispatch->Invoke(42, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params,
                               &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(Invoke, PropertyPutPassesItsValueAsTheNamedPutArgument) {
    std::atomic<int> live{0};
    ComPtr<Calculator> calc = Make<Calculator>(&live);
    ComPtr<IDispatch> dispatch = bx::com::QueryAs<IDispatch>(calc->Identity());

    LONG value = 25;
    Variant arg = Variant::RefTo(&value);  // hosts may pass puts by reference
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&arg, &putId, 1, 1};
    ASSERT_EQ(dispatch->Invoke(Calculator::kTotal, IID_NULL, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
              S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant total;
    ASSERT_EQ(dispatch->Invoke(Calculator::kTotal, IID_NULL, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYGET, &none, &total, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(total.lVal, 25);
    EXPECT_EQ(calc->Total(), 25);
}

TEST(Invoke, FailureComesBackAsExceptionInformationTheCallerFrees) {
    std::atomic<int> live{0};
    ComPtr<Calculator> calc = Make<Calculator>(&live);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO info{};
    UINT argError = 0;
    ASSERT_EQ(calc->Invoke(Calculator::kJam, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD,
                           &none, nullptr, &info, &argError),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrDescription), "Getriebe blockiert");
    EXPECT_EQ(bx::com::BstrToUtf8(info.bstrSource), "Calculator");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
}
