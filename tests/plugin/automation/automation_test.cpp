// The automation object as hosts drive it: the setters' range checks, equal-value rules and
// notifications, the binning setters, both interfaces reaching one implementation, error
// objects, events on the connection point, and late binding by name and DISPID.
#include <bxplatform/com.h>
#include <bxplatform/com_connection.h>
#include <bxplatform/com_error.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <bxview/headless_view.h>

#include "../platform/fixtures/container_site.h"
#include "automation/BXTessvikFerroFWImpl.h"
#include "automation/Members.h"
#include "fixtures/control_fixture.h"

using namespace ferro;
using bx::com::ComPtr;
using namespace ferro::automation;

namespace {

// A container's property-notification sink: records what it is asked and told, and refuses
// the DISPIDs it is told to.
class NoticeSink : public bx::com::RefCounted<IPropertyNotifySink> {
public:
    HRESULT OnChanged(DISPID id) override {
        changed.push_back(id);
        return S_OK;
    }
    HRESULT OnRequestEdit(DISPID id) override {
        asked.push_back(id);
        return id == refuse ? S_FALSE : S_OK;
    }
    std::vector<DISPID> asked, changed;
    DISPID refuse = 0;
};

// A host's events sink: records the DISPIDs it receives.
class EventsSink : public bx::com::RefCounted<IDispatch> {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == DIID_IBXTessvikFerroFWEvents && object != nullptr) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        return RefCounted::QueryInterface(iid, object);
    }
    HRESULT GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        std::lock_guard lock(mutex);  // live frames arrive on the live video thread
        received.push_back(id);
        return S_OK;
    }
    size_t Count(DISPID id) {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count(received.begin(), received.end(), id));
    }
    std::mutex mutex;
    std::vector<DISPID> received;
};

}  // namespace

class Automation : public ferro::testing::ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        UseCamera("[binning]\nkind = sparse\ntable = 1, 2, 4, 8\n");
        object = bx::com::Make<TBXTessvikFerroFWImpl>();
        ferro = ComPtr<IBXTessvikFerroFW>(object.Get());
        camera = ComPtr<IBXCameraInterface>(object.Get());
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(object->FindConnectionPoint(IID_IPropertyNotifySink, point.Put()), S_OK);
        notices = bx::com::Make<NoticeSink>();
        ASSERT_EQ(point->Advise(notices.Get(), &cookie), S_OK);
    }
    void TearDown() override {
        ferro.Reset();
        camera.Reset();
        object.Reset();
        ControlTest::TearDown();
    }
    // Loads an empty settings file and opens the camera, as a host does.
    void Open() {
        const std::string path = ::testing::TempDir() + "bx_automation_settings.ini";
        std::ofstream(path, std::ios::trunc) << "[KorvaneFW Camera]\n";
        ASSERT_EQ(ferro->LoadFromRegistry(bx::com::Bstr(path).Get()), S_OK);
        ASSERT_EQ(ferro->Initialise(), S_OK);
        ASSERT_TRUE(object->Form().CameraReady) << BoxTexts();
        notices->asked.clear();
        notices->changed.clear();
    }

    ComPtr<TBXTessvikFerroFWImpl> object;
    ComPtr<IBXTessvikFerroFW> ferro;
    ComPtr<IBXCameraInterface> camera;
    ComPtr<NoticeSink> notices;
    DWORD cookie = 0;
};

TEST_F(Automation, SettersCheckTheirRangesAndBothInterfacesReachOneImplementation) {
    Open();
    struct Case {
        const char* what;
        std::function<HRESULT()> put;
        HRESULT expected;
    };
    const Case cases[] = {
        {"Brightness 300", [&] { return ferro->put_Brightness(300); }, S_FALSE},
        {"Gain 300", [&] { return ferro->put_Gain(300); }, S_OK},
        {"Contrast 256", [&] { return ferro->put_Contrast(256); }, S_FALSE},
        {"common offset 256", [&] { return camera->put_Offset(256); }, S_OK},
        {"NumberOfFrames 0", [&] { return ferro->put_NumberOfFrames(0); }, S_FALSE},
        {"Camera 5", [&] { return ferro->put_Camera(TessvikFerroCameraType(5)); }, S_FALSE},
        {"BinningFactorY 8", [&] { return ferro->put_BinningFactorY(8); }, S_FALSE},
        {"GrabWindowWidth", [&] { return ferro->put_GrabWindowWidth(100); }, S_FALSE},
        {"DisplayWindow 0x7fff", [&] { return ferro->put_DisplayWindow(0x7fff); }, S_FALSE},
        {"ImageWindow 0", [&] { return ferro->put_ImageWindow(0); }, S_FALSE},
    };
    for (const Case& test : cases) EXPECT_EQ(test.put(), test.expected) << test.what;
    TBXTessvikFerroFW& form = object->Form();
    EXPECT_EQ(form.Brightness, 300);
    SHORT brightness = 0;
    EXPECT_EQ(camera->get_Brightness(&brightness), S_OK);  // the common interface's table
    EXPECT_EQ(brightness, 300);
    EXPECT_EQ(form.Contrast, 256);
    EXPECT_EQ(form.NumberOfFrames, 10);
    EXPECT_FALSE(form.gpb_Window->Enabled());

    LONG frames = 0;
    EXPECT_EQ(ferro->put_PostTriggerFrames(5), S_OK);
    EXPECT_EQ(ferro->get_PostTriggerFrames(&frames), S_OK);
    EXPECT_EQ(frames, 1);
    SHORT channel = -1;
    EXPECT_EQ(ferro->put_Channel(7), S_OK);
    EXPECT_EQ(ferro->get_Channel(&channel), S_OK);
    EXPECT_EQ(channel, 0);
    double temperature = 21.5;
    EXPECT_EQ(ferro->get_ActualTemperature(&temperature), S_OK);
    EXPECT_EQ(temperature, 21.5);
}

TEST_F(Automation, NotificationsAskFirstAndTheEqualValueRuleAsksNothing) {
    Open();
    ASSERT_EQ(ferro->put_Brightness(object->Form().Brightness), S_OK);
    EXPECT_TRUE(notices->asked.empty());
    notices->refuse = kDispExposureTime;
    EXPECT_EQ(ferro->put_ExposureTime(2500), S_FALSE);
    EXPECT_NE(object->Form().ExposureTime, 2500);
    notices->refuse = 0;
    EXPECT_EQ(ferro->put_ExposureTime(2500), S_OK);
    EXPECT_EQ(object->Form().ExposureTime, 2500);
    EXPECT_EQ(notices->asked, (std::vector<DISPID>{kDispExposureTime, kDispExposureTime}));
    EXPECT_EQ(notices->changed, (std::vector<DISPID>{kDispExposureTime}));
    EXPECT_EQ(ferro->put_CurrentMappingFormat(3), S_OK);  // a plain setter
    EXPECT_EQ(notices->asked.size(), 2u);
}

TEST_F(Automation, BinningSettersKeepBothFactorsEqual) {
    Open();
    TBXTessvikFerroFW& form = object->Form();
    ASSERT_EQ(ferro->put_BinningFactorX(4), S_OK);
    EXPECT_EQ(form.BinningFactorX, 4);
    EXPECT_EQ(form.BinningFactorY, 4);
    EXPECT_EQ(form.hsb_BinningFactorX->Position(), 2);
    EXPECT_TRUE(form.rbn_bin4->Checked());
    // A factor the camera does not offer: the scroll bar's handler takes the first choice.
    ASSERT_EQ(ferro->put_BinningFactorX(3), S_OK);
    EXPECT_EQ(form.hsb_BinningFactorX->Position(), 0);
    EXPECT_EQ(form.BinningFactorX, 1);
    EXPECT_EQ(form.BinningFactorY, 1);
    notices->asked.clear();
    EXPECT_EQ(ferro->put_BinningFactorY(1), S_OK);
    EXPECT_TRUE(notices->asked.empty());
}

TEST_F(Automation, FailuresBecomeErrorObjectsWithTheFailureText) {
    LONG image = 0;
    ASSERT_EQ(ferro->GetImage(&image), DISP_E_EXCEPTION);
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.Put()), S_OK);
    GUID iid{};
    error->GetGUID(&iid);
    EXPECT_EQ(iid, IID_IBXTessvikFerroFW);
    bx::com::Bstr text, source;
    error->GetDescription(text.Out());
    error->GetSource(source.Out());
    EXPECT_EQ(text.ToUtf8(), "no acquisition image present!");
    EXPECT_EQ(source.ToUtf8(), "Korvane Camera");
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IBXCameraInterface), S_OK);

    // Late bound, the same failure fills the exception record.
    EXCEPINFO exception{};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    bx::com::Variant result;
    EXPECT_EQ(ferro->Invoke(kDispGetImage, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &exception,
                            nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(bx::com::BstrToUtf8(exception.bstrDescription), "no acquisition image present!");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

TEST_F(Automation, LateBoundCallsReachTheFormAndEventsReachTheSinks) {
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(object->FindConnectionPoint(DIID_IBXTessvikFerroFWEvents, point.Put()), S_OK);
    auto events = bx::com::Make<EventsSink>();
    DWORD eventsCookie = 0;
    ASSERT_EQ(point->Advise(events.Get(), &eventsCookie), S_OK);

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
    EXPECT_EQ(dispatch.Get(), static_cast<IDispatch*>(ferro.Get()));
    bx::com::Bstr name(u"grabprogress");
    LPOLESTR names[] = {name.Get()};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, kDispGrabProgress);
    bx::com::Variant value(u"7");  // coerced to the property's long
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(
        dispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(object->Form().GrabProgress, 7);
    EXPECT_EQ(events->received, (std::vector<DISPID>{256}));  // OnProcessUpdate

    ASSERT_EQ(point->Unadvise(eventsCookie), S_OK);
    EXPECT_EQ(ferro->put_GrabProgress(8), S_OK);
    EXPECT_EQ(events->received.size(), 1u);
}

TEST_F(Automation, TheFormsPropertiesGoIntoAStreamAndComeBack) {
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(object->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ASSERT_EQ(ferro->put_Color(0x00123456), S_OK);
    ASSERT_EQ(ferro->put_HelpFile(bx::com::Bstr("help\nfile.chm").Get()), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    auto stream = bx::com::MakeMemoryStream();
    ASSERT_EQ(persist->Save(stream.Get(), 1), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    auto second = bx::com::Make<TBXTessvikFerroFWImpl>();
    ComPtr<IPersistStreamInit> load(static_cast<IPersistStreamInit*>(second.Get()));
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(load->Load(stream.Get()), S_OK);
    EXPECT_EQ(second->Form().Color(), 0x00123456);
    EXPECT_EQ(second->Form().HelpFile(), "help\nfile.chm");
    EXPECT_EQ(load->Load(bx::com::MakeMemoryStream("not a record").Get()), E_FAIL);
}

TEST_F(Automation, ThePanelEmbedsInAHostWindowAndComesBack) {
    bx::ui::TForm host;  // the host's window
    host.SetBounds(40, 30, 800, 600);
    TBXTessvikFerroFW& form = object->Form();
    ASSERT_EQ(camera->EmbedPanel(static_cast<LONG>(host.Handle()), 0, 0, 600, 500), S_OK);
    EXPECT_EQ(form.Panel1->ParentWindow(), host.Handle());
    EXPECT_EQ(form.Panel1->BoundsRect(), (bx::ui::TRect{10, 10, 590, 480}));
    EXPECT_FALSE(form.tab_Device->TabVisible());
    EXPECT_FALSE(form.gpb_Window->Visible());
    EXPECT_EQ(form.GroupBox10->Top(), 20);
    EXPECT_EQ(form.rbn_bin8->Left(), 70);
    EXPECT_EQ(ActiveControl.load(), &form);

    ASSERT_EQ(camera->RestorePanel(), S_OK);
    EXPECT_EQ(form.Panel1->ParentWindow(), 0u);
    EXPECT_EQ(form.Panel1->BoundsRect(), (bx::ui::TRect{4, 4, 354, 447}));
    EXPECT_TRUE(form.tab_Device->TabVisible());
    EXPECT_TRUE(form.gpb_Window->Visible());
    EXPECT_EQ(form.GroupBox10->Top(), 69);
    EXPECT_EQ(form.rbn_bin8->Left(), 72);

    // A window the host names by its handle: its screen rectangle is kept.
    ASSERT_EQ(ferro->put_DisplayWindow(static_cast<LONG>(host.Handle())), S_OK);
    EXPECT_EQ(form.DisplayWindowWidth, 801);
    EXPECT_EQ(form.DisplayWindowLeft, 40);
}

TEST_F(Automation, AContainerEmbedsTheControlInPlaceAndKeepsItInAStorage) {
    for (const IID& iid :
         {IID_IDispatch, IID_IViewObjectEx, IID_IViewObject2, IID_IViewObject,
          IID_IOleInPlaceObject, IID_IOleWindow, IID_IOleInPlaceActiveObject, IID_IOleControl,
          IID_IOleObject, IID_IQuickActivate, IID_IPersistStorage, IID_IPersistStreamInit,
          IID_ISpecifyPropertyPages, IID_IDataObject, IID_ISimpleFrameSite, IID_IProvideClassInfo,
          IID_IProvideClassInfo2, IID_IConnectionPointContainer, IID_ISupportErrorInfo}) {
        ComPtr<IUnknown> part;
        EXPECT_EQ(object->QueryInterface(iid, part.PutVoid()), S_OK) << bx::com::FormatGuid(iid);
    }
    bx::ui::TForm document;  // the container's window
    auto site = bx::com::Make<bx::testing::Site>();
    site->window = document.Handle();
    auto events = bx::com::Make<EventsSink>();
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = site.Get();
    container.pUnkEventSink = static_cast<IDispatch*>(events.Get());
    QACONTROL answer{};
    answer.cbSize = sizeof answer;
    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(object->QueryInterface(IID_IQuickActivate, quick.PutVoid()), S_OK);
    ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
    EXPECT_EQ(answer.dwMiscStatus, 131473u);  // what the registry says too
    EXPECT_NE(answer.dwEventCookie, 0u);

    ComPtr<IOleObject> ole;
    ASSERT_EQ(object->QueryInterface(IID_IOleObject, ole.PutVoid()), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, 0, nullptr), S_OK);
    EXPECT_EQ(object->Form().ParentWindow(), document.Handle());
    EXPECT_EQ(object->Form().BoundsRect(), (bx::ui::TRect{10, 20, 210, 120}));
    EXPECT_TRUE(object->Form().Visible());

    // Events the container said it ignores are not raised at it.
    ComPtr<IOleControl> control;
    ASSERT_EQ(object->QueryInterface(IID_IOleControl, control.PutVoid()), S_OK);
    control->FreezeEvents(1);
    ASSERT_EQ(ferro->put_GrabProgress(9), S_OK);
    control->FreezeEvents(0);
    ASSERT_EQ(ferro->put_GrabProgress(10), S_OK);
    EXPECT_EQ(events->received.size(), 1u);

    ASSERT_EQ(ferro->put_Color(0x00ABCDEF), S_OK);
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(object->QueryInterface(IID_IPersistStorage, persist.PutVoid()), S_OK);
    auto storage = bx::com::MakeMemoryStorage();
    ASSERT_EQ(persist->Save(storage.Get(), 1), S_OK);
    auto second = bx::com::Make<TBXTessvikFerroFWImpl>();
    ComPtr<IPersistStorage> load;
    ASSERT_EQ(second->QueryInterface(IID_IPersistStorage, load.PutVoid()), S_OK);
    ASSERT_EQ(load->Load(storage.Get()), S_OK);
    EXPECT_EQ(second->Form().Color(), 0x00ABCDEF);

    ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->Form().ParentWindow(), 0u);
    EXPECT_EQ(site->log.substr(site->log.rfind(' ') + 1), "deactivated");
    ole->SetClientSite(nullptr);
}

// A host that knows only IDispatch: names to DISPIDs, then Invoke for everything.
TEST_F(Automation, AHostUsingInvokeOnlySnapsGrabsAndRunsLiveVideoWithItsEvents) {
    ComPtr<IDispatch> host;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, host.PutVoid()), S_OK);
    auto call = [&](const char16_t* name, WORD flags, std::vector<bx::com::Variant> args = {}) {
        bx::com::Bstr text{std::u16string_view(name)};
        LPOLESTR names[] = {text.Get()};
        DISPID id = 0;
        EXPECT_EQ(host->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << text.ToUtf8();
        std::reverse(args.begin(), args.end());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{args.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                          static_cast<UINT>(args.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        bx::com::Variant result;
        EXPECT_EQ(host->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr), S_OK)
            << text.ToUtf8();
        return result;
    };
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(object->FindConnectionPoint(DIID_IBXTessvikFerroFWEvents, point.Put()), S_OK);
    auto events = bx::com::Make<EventsSink>();
    DWORD eventsCookie = 0;
    ASSERT_EQ(point->Advise(events.Get(), &eventsCookie), S_OK);
    bx::view::THeadlessImageView view;
    bx::view::ImageViewRegistration registration(&view);

    UseCamera("[sensor]\nwidth = 96\nheight = 64\n");  // small frames for the warped clock
    const std::string path = ::testing::TempDir() + "bx_invoke_only.ini";
    std::ofstream(path, std::ios::trunc) << "[KorvaneFW Camera]\n";
    call(u"LoadFromRegistry", DISPATCH_METHOD, {bx::com::Variant(path)});
    call(u"Initialise", DISPATCH_METHOD);
    call(u"ImageWindow", DISPATCH_PROPERTYPUT, {bx::com::Variant(int32_t(registration.handle()))});
    call(u"Snap", DISPATCH_METHOD);
    EXPECT_NE(call(u"GetImage", DISPATCH_METHOD).lVal, 0);
    call(u"NumberOfFrames", DISPATCH_PROPERTYPUT, {bx::com::Variant(int32_t{3})});
    call(u"FrameRate", DISPATCH_PROPERTYPUT, {bx::com::Variant(int32_t{0})});
    call(u"Grab", DISPATCH_METHOD);
    EXPECT_EQ(events->Count(260), 2u);  // OnPreAcquisitionTriggerClick: snap and grab
    EXPECT_EQ(events->Count(262), 2u);  // OnPostAcquisitionTriggerClick
    EXPECT_GE(events->Count(256), 4u);  // OnProcessUpdate

    call(u"EnableLiveVideo", DISPATCH_METHOD);
    for (int i = 0; i < 5000 && events->Count(267) < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    call(u"DisableLiveVideo", DISPATCH_METHOD);
    EXPECT_GE(events->Count(267), 3u) << "OnLiveFrameUpdate, from the live video thread";
    point->Unadvise(eventsCookie);
    std::remove(path.c_str());
}
