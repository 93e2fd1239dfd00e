// A windowed control in a container: in-place activation and deactivation as the site sees
// them, extents, frozen events, persistence through a storage, and the memory storage.
#include <bxplatform/com.h>
#include <bxplatform/com_control.h>

#include <gtest/gtest.h>

#include <string>

#include "fixtures/container_site.h"

using bx::com::ComPtr;
using bx::testing::Site;

namespace {

const CLSID kToyClass = bx::com::GuidLiteral("{5B1F0C2A-7D33-4E61-9A0B-3C4D5E6F7081}");

// The control's window, recording what the standard behaviour does to it.
struct ToyWindow : bx::com::ControlWindow {
    HWND Window() override { return 77; }
    void Place(HWND p, const RECT& r) override {
        parent = p;
        if (p != 0) bounds = r;
    }
    void SetBounds(const RECT& r) override { bounds = r; }
    SIZE Size() override { return {bounds.right - bounds.left, bounds.bottom - bounds.top}; }
    void SetSize(SIZE s) override {
        bounds = {bounds.left, bounds.top, bounds.left + s.cx, bounds.top + s.cy};
    }
    void SetShown(bool s) override { shown = s; }
    HRESULT ShowProperties() override { return ++propertiesShown, S_OK; }
    void SetEventsFrozen(bool f) override { frozenCalls += f ? "F" : "T"; }

    HWND parent = 0;
    RECT bounds{0, 0, 100, 50};
    bool shown = false;
    int propertiesShown = 0;
    std::string frozenCalls;
};

// A control object: its own stream persistence, the rest from WindowedControl.
class ToyControl : public bx::com::RefCounted<IPersistStreamInit> {
public:
    ToyControl() : embedding(Identity(), window, kToyClass, OLEMISC_SETCLIENTSITEFIRST) {}
    HRESULT GetClassID(CLSID* c) override { return *c = kToyClass, S_OK; }
    HRESULT IsDirty() override { return dirty ? S_OK : S_FALSE; }
    HRESULT Load(IStream* s) override { return content = bx::com::StreamContent(s), S_OK; }
    HRESULT Save(IStream* s, BOOL) override {
        return s->Write(content.data(), static_cast<ULONG>(content.size()), nullptr);
    }
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override { return size->QuadPart = 64, S_OK; }
    HRESULT InitNew() override { return content.clear(), S_OK; }

    ToyWindow window;
    bx::com::WindowedControl embedding;
    std::string content;
    bool dirty = false;

private:
    void* FindInterface(REFIID iid) override { return embedding.Find(iid); }
};

class ViewSink : public bx::com::RefCounted<IAdviseSink> {
public:
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD, LONG) override { ++viewChanges; }
    void OnRename(IMoniker*) override {}
    void OnSave() override { ++saves; }
    void OnClose() override { ++closes; }
    int viewChanges = 0, saves = 0, closes = 0;
};

}  // namespace

TEST(WindowedControl, AnswersEveryContainerInterfaceWithOneIdentity) {
    auto control = bx::com::Make<ToyControl>();
    const IID iids[] = {IID_IOleObject,
                        IID_IOleWindow,
                        IID_IOleInPlaceObject,
                        IID_IOleInPlaceActiveObject,
                        IID_IOleControl,
                        IID_IViewObject,
                        IID_IViewObject2,
                        IID_IViewObjectEx,
                        IID_IQuickActivate,
                        IID_IPersistStorage,
                        IID_ISpecifyPropertyPages,
                        IID_IDataObject,
                        IID_ISimpleFrameSite};
    for (const IID& iid : iids) {
        ComPtr<IUnknown> part, identity;
        ASSERT_EQ(control->QueryInterface(iid, part.PutVoid()), S_OK);
        ASSERT_EQ(part->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), control->Identity());
    }
}

TEST(WindowedControl, ActivatesInPlaceInTheSitesWindowAndGivesItBack) {
    auto control = bx::com::Make<ToyControl>();
    auto site = bx::com::Make<Site>();
    ComPtr<IOleObject> ole;
    ASSERT_EQ(control.As(&ole), S_OK);
    IOleClientSite* client = site.Get();
    ASSERT_EQ(ole->SetClientSite(client), S_OK);

    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, client, 0, 500, nullptr), S_OK);
    EXPECT_EQ(site->log, "can activated ui setactive show");
    EXPECT_EQ(control->window.parent, 500u);
    EXPECT_EQ(control->window.bounds.left, 10);
    EXPECT_TRUE(control->window.shown);
    EXPECT_TRUE(control->embedding.UIActive());
    ComPtr<IUnknown> activeIdentity;
    site->active->QueryInterface(IID_IUnknown, activeIdentity.PutVoid());
    EXPECT_EQ(activeIdentity.Get(), control->Identity());

    site->log.clear();
    control->dirty = true;
    ASSERT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site->log, "save clearactive unui deactivated");
    EXPECT_EQ(control->window.parent, 0u);
    EXPECT_FALSE(control->window.shown);
    EXPECT_FALSE(control->embedding.InPlaceActive());
    ole->SetClientSite(nullptr);  // the site and the control no longer hold each other

    // A site that refuses keeps the window where it was.
    auto refusing = bx::com::Make<Site>();
    refusing->refuse = true;
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, refusing.Get(), 0, 0, nullptr),
              E_FAIL);
    EXPECT_EQ(control->window.parent, 0u);
    ole->SetClientSite(nullptr);
}

TEST(WindowedControl, VerbsExtentsAndFrozenEvents) {
    auto control = bx::com::Make<ToyControl>();
    ComPtr<IOleObject> ole;
    ASSERT_EQ(control.As(&ole), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, 0, 0, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(5, nullptr, nullptr, 0, 0, nullptr), OLEOBJ_S_INVALIDVERB);
    EXPECT_EQ(control->window.propertiesShown, 2);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_OPEN, nullptr, nullptr, 0, 0, nullptr), E_NOTIMPL);
    // No in-place site: activation fails and says why.
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, 0, nullptr),
              E_NOINTERFACE);

    ComPtr<IViewObjectEx> view;
    ASSERT_EQ(control.As(&view), S_OK);
    auto sink = bx::com::Make<ViewSink>();
    view->SetAdvise(DVASPECT_CONTENT, 0, sink.Get());
    SIZEL himetric{2540, 1270};  // one inch by half an inch
    ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &himetric), S_OK);
    EXPECT_EQ(control->window.Size().cx, 96);
    EXPECT_EQ(control->window.Size().cy, 48);
    EXPECT_EQ(sink->viewChanges, 1);
    SIZEL back{};
    ASSERT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &back), S_OK);
    EXPECT_EQ(back.cx, 2540);
    EXPECT_EQ(ole->GetExtent(4, &back), DV_E_DVASPECT);

    ComPtr<IOleControl> events;
    ASSERT_EQ(control.As(&events), S_OK);
    for (BOOL freeze : {1, 1, 0, 0, 0}) events->FreezeEvents(freeze);
    EXPECT_EQ(control->window.frozenCalls, "FT");  // nested freezes thaw once, at the last
    DWORD hit = 99;
    RECT bounds{0, 0, 10, 10};
    ASSERT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{10, 5}, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_OUTSIDE);
}

TEST(WindowedControl, PersistsThroughTheContentsStreamOfAStorage) {
    auto control = bx::com::Make<ToyControl>();
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(control.As(&persist), S_OK);
    auto storage = bx::com::MakeMemoryStorage();
    EXPECT_EQ(persist->Load(storage.Get()), STG_E_FILENOTFOUND);
    control->content = "Color=5\n";
    ASSERT_EQ(persist->Save(storage.Get(), 1), S_OK);
    ComPtr<IStream> contents;
    ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ, 0, contents.Put()), S_OK);
    EXPECT_EQ(bx::com::StreamContent(contents.Get()), "Color=5\n");

    auto second = bx::com::Make<ToyControl>();
    ComPtr<IPersistStorage> load;
    ASSERT_EQ(second.As(&load), S_OK);
    ASSERT_EQ(load->Load(storage.Get()), S_OK);
    EXPECT_EQ(second->content, "Color=5\n");
    // Saving again replaces the stream rather than failing on it.
    control->content = "Color=6\n";
    ASSERT_EQ(persist->Save(storage.Get(), 1), S_OK);
    ASSERT_EQ(load->Load(storage.Get()), S_OK);
    EXPECT_EQ(second->content, "Color=6\n");
}

TEST(MemoryStorage, KeepsStreamsByName) {
    auto storage = bx::com::MakeMemoryStorage();
    ComPtr<IStream> a, again;
    ASSERT_EQ(storage->CreateStream(u"A", STGM_WRITE, 0, 0, a.Put()), S_OK);
    ASSERT_EQ(a->Write("xyz", 3, nullptr), S_OK);
    EXPECT_EQ(storage->CreateStream(u"A", STGM_WRITE, 0, 0, again.Put()), STG_E_FILEALREADYEXISTS);
    ASSERT_EQ(storage->RenameElement(u"A", u"B"), S_OK);
    ASSERT_EQ(storage->OpenStream(u"B", nullptr, STGM_READ, 0, again.Put()), S_OK);
    EXPECT_EQ(bx::com::StreamContent(again.Get()), "xyz");
    EXPECT_EQ(storage->OpenStream(u"A", nullptr, STGM_READ, 0, again.Put()), STG_E_FILENOTFOUND);
    EXPECT_EQ(storage->DestroyElement(u"B"), S_OK);
    EXPECT_EQ(storage->DestroyElement(u"B"), STG_E_FILENOTFOUND);
}
