// The standard behaviour of a windowed control towards its container.
#include <bxplatform/com_control.h>
#include <bxplatform/com_typeinfo.h>

#include <algorithm>

namespace bx::com {

namespace {

constexpr LONG kHimetricPerInch = 2540;
const OLECHAR kContents[] = u"Contents";

LONG ToHimetric(LONG pixels, int ppi) {
    return static_cast<LONG>(int64_t{pixels} * kHimetricPerInch / std::max(ppi, 1));
}
LONG ToPixels(LONG himetric, int ppi) {
    return static_cast<LONG>((int64_t{himetric} * ppi + kHimetricPerInch / 2) / kHimetricPerInch);
}

bool Inside(const RECT& r, LONG x, LONG y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

WindowedControl::WindowedControl(IUnknown* outer, ControlWindow& window, const CLSID& clsid,
                                 DWORD miscStatus)
    : outer_(outer), window_(window), clsid_(clsid), miscStatus_(miscStatus) {}

WindowedControl::~WindowedControl() = default;

void* WindowedControl::Find(REFIID iid) {
    if (iid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
        return static_cast<IOleInPlaceObject*>(this);
    if (iid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (iid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (iid == IID_IViewObject || iid == IID_IViewObject2 || iid == IID_IViewObjectEx)
        return static_cast<IViewObjectEx*>(this);
    if (iid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
    if (iid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
    if (iid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
    if (iid == IID_IDataObject) return static_cast<IDataObject*>(this);
    if (iid == IID_ISimpleFrameSite) return static_cast<ISimpleFrameSite*>(this);
    return nullptr;
}

// ---- IOleObject --------------------------------------------------------------------------------

HRESULT WindowedControl::SetClientSite(IOleClientSite* site) {
    clientSite_ = ComPtr<IOleClientSite>(site);
    return S_OK;
}

HRESULT WindowedControl::GetClientSite(IOleClientSite** site) {
    return clientSite_.CopyTo(site);
}

HRESULT WindowedControl::Close(DWORD saveOption) {
    if (saveOption != OLECLOSE_NOSAVE && clientSite_ && IsDirty() == S_OK)
        clientSite_->SaveObject();
    InPlaceDeactivate();
    // A sink may unadvise from OnClose: call a copy.
    const std::vector<AdviseEntry> sinks = advises_;
    for (const AdviseEntry& entry : sinks) entry.Sink->OnClose();
    return S_OK;
}

HRESULT WindowedControl::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) {
    if (moniker == nullptr) return E_POINTER;
    *moniker = nullptr;
    if (!clientSite_) return E_UNEXPECTED;
    return clientSite_->GetMoniker(assign, which, moniker);
}

HRESULT WindowedControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT WindowedControl::DoVerb(LONG verb, MSG*, IOleClientSite* activeSite, LONG, HWND,
                                const RECT* position) {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_PROPERTIES:
            return window_.ShowProperties();
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE: {
            const HRESULT hr = Activate(activeSite, verb != OLEIVERB_INPLACEACTIVATE);
            if (SUCCEEDED(hr) && position != nullptr) window_.SetBounds(*position);
            return hr;
        }
        case OLEIVERB_HIDE:
            UIDeactivate();
            window_.SetShown(false);
            if (clientSite_) clientSite_->OnShowWindow(0);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE:
            return S_OK;
        default:
            if (verb < 0) return E_NOTIMPL;  // OLEIVERB_OPEN: no separate window to open in
            // An unknown positive verb does what the primary verb does.
            const HRESULT hr = window_.ShowProperties();
            return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
    }
}

// The site's window and position take the control's window; for UI activation the control
// also becomes the frame's and the document's active object.
HRESULT WindowedControl::Activate(IOleClientSite* activeSite, bool ui) {
    if (!clientSite_ && activeSite != nullptr) clientSite_ = ComPtr<IOleClientSite>(activeSite);
    if (!inPlaceSite_) {
        auto site = QueryAs<IOleInPlaceSite>(clientSite_.Get());
        if (!site) return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
        HWND parent = 0;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{sizeof info, 0, 0, 0, 0};
        HRESULT hr = site->GetWindow(&parent);
        if (SUCCEEDED(hr))
            hr = site->GetWindowContext(frame_.Put(), document_.Put(), &position, &clip, &info);
        if (FAILED(hr)) {
            frame_.Reset();
            document_.Reset();
            return hr;
        }
        site->OnInPlaceActivate();
        inPlaceSite_ = site;
        window_.Place(parent, position);
        window_.SetShown(true);
    }
    if (ui && !uiActive_) {
        uiActive_ = true;
        inPlaceSite_->OnUIActivate();
        if (frame_) frame_->SetActiveObject(this, nullptr);
        if (document_) document_->SetActiveObject(this, nullptr);
    }
    if (clientSite_) clientSite_->ShowObject();
    return S_OK;
}

HRESULT WindowedControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs == nullptr) return E_POINTER;
    *verbs = nullptr;
    return OLE_S_USEREG;
}

HRESULT WindowedControl::GetUserType(DWORD, LPOLESTR* name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    return OLE_S_USEREG;
}

HRESULT WindowedControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    const int ppi = window_.PixelsPerInch();
    window_.SetSize({ToPixels(size->cx, ppi), ToPixels(size->cy, ppi)});
    ViewChanged();
    return S_OK;
}

HRESULT WindowedControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    const SIZE pixels = window_.Size();
    const int ppi = window_.PixelsPerInch();
    *size = {ToHimetric(pixels.cx, ppi), ToHimetric(pixels.cy, ppi)};
    return S_OK;
}

HRESULT WindowedControl::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = nextCookie_++;
    advises_.push_back({*cookie, ComPtr<IAdviseSink>(sink)});
    return S_OK;
}

HRESULT WindowedControl::Unadvise(DWORD cookie) {
    const auto found = std::find_if(advises_.begin(), advises_.end(),
                                    [cookie](const AdviseEntry& e) { return e.Cookie == cookie; });
    if (found == advises_.end()) return OLE_E_NOCONNECTION;
    advises_.erase(found);
    return S_OK;
}

HRESULT WindowedControl::EnumAdvise(IEnumSTATDATA** advises) {
    if (advises) *advises = nullptr;
    return E_NOTIMPL;
}

HRESULT WindowedControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = miscStatus_;
    return S_OK;
}

// ---- In-place object ---------------------------------------------------------------------------

HRESULT WindowedControl::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = window_.Window();
    return S_OK;
}

HRESULT WindowedControl::InPlaceDeactivate() {
    if (!inPlaceSite_) return S_OK;
    UIDeactivate();
    window_.SetShown(false);
    window_.Place(0, RECT{});
    const ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    frame_.Reset();
    document_.Reset();
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT WindowedControl::UIDeactivate() {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (document_) document_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(0);
    return S_OK;
}

// The window takes the whole position; it is not clipped to part of it.
HRESULT WindowedControl::SetObjectRects(const RECT* position, const RECT*) {
    if (position == nullptr) return E_POINTER;
    if (position->right < position->left || position->bottom < position->top) return E_INVALIDARG;
    window_.SetBounds(*position);
    ViewChanged();
    return S_OK;
}

HRESULT WindowedControl::TranslateAccelerator(MSG* message) {
    return message == nullptr ? E_POINTER : S_FALSE;  // the control has no accelerators
}

// ---- IOleControl -------------------------------------------------------------------------------

HRESULT WindowedControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    *info = CONTROLINFO{sizeof(CONTROLINFO), 0, 0, 0};
    return S_OK;
}

HRESULT WindowedControl::FreezeEvents(BOOL freeze) {
    const bool wasFrozen = frozen_ > 0;
    frozen_ = freeze ? frozen_ + 1 : std::max(frozen_ - 1, 0);
    if (wasFrozen != (frozen_ > 0)) window_.SetEventsFrozen(frozen_ > 0);
    return S_OK;
}

// ---- View --------------------------------------------------------------------------------------

// The control's window paints itself; there is no drawing surface to render into otherwise.
HRESULT WindowedControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC,
                              const RECTL* bounds, const RECTL*, ContinueFunction, uintptr_t) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (InPlaceActive()) return S_OK;
    return bounds == nullptr ? E_INVALIDARG : VIEW_E_DRAW;
}

HRESULT WindowedControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                     LOGPALETTE** colours) {
    if (colours == nullptr) return E_POINTER;
    *colours = nullptr;
    return S_FALSE;  // no particular palette
}

HRESULT WindowedControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewSink_ = ComPtr<IAdviseSink>(sink);
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

HRESULT WindowedControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) viewSink_.CopyTo(sink);
    return S_OK;
}

HRESULT WindowedControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, SIZEL* size) {
    return GetExtent(aspect, size);
}

HRESULT WindowedControl::GetViewStatus(DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    return S_OK;
}

HRESULT WindowedControl::QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG,
                                       DWORD* hit) {
    if (bounds == nullptr || hit == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *hit = Inside(*bounds, location.x, location.y) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT WindowedControl::QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG,
                                      DWORD* hit) {
    if (bounds == nullptr || location == nullptr || hit == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    const bool overlaps = location->left < bounds->right && bounds->left < location->right &&
                          location->top < bounds->bottom && bounds->top < location->bottom;
    *hit = overlaps ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

void WindowedControl::ViewChanged() {
    if (viewSink_ && (viewAspects_ & DVASPECT_CONTENT))
        viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
}

// ---- IQuickActivate ----------------------------------------------------------------------------

// What a container would otherwise do in several calls: the client site, the view sink, and
// the event and property-notification sinks advised on the control's connection points.
HRESULT WindowedControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (container == nullptr || control == nullptr) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    *control = QACONTROL{sizeof(QACONTROL), miscStatus_, 0, 0, 0, 0};
    GetViewStatus(&control->dwViewStatus);
    if ((miscStatus_ & OLEMISC_SETCLIENTSITEFIRST) || container->pClientSite != nullptr)
        SetClientSite(container->pClientSite);
    if (container->pAdviseSink != nullptr) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    auto points = QueryAs<IConnectionPointContainer>(outer_);
    if (!points) return S_OK;
    ComPtr<IConnectionPoint> point;
    if (container->pUnkEventSink != nullptr) {
        IID source{};
        auto info = QueryAs<IProvideClassInfo2>(outer_);
        if (info && SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source)) &&
            SUCCEEDED(points->FindConnectionPoint(source, point.Put())))
            point->Advise(container->pUnkEventSink, &control->dwEventCookie);
    }
    if (container->pPropertyNotifySink != nullptr &&
        SUCCEEDED(points->FindConnectionPoint(IID_IPropertyNotifySink, point.Put())))
        point->Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
    return S_OK;
}

// ---- IPersistStorage ---------------------------------------------------------------------------

HRESULT WindowedControl::PersistStream(ComPtr<IPersistStreamInit>* persist) {
    *persist = QueryAs<IPersistStreamInit>(outer_);
    return *persist ? S_OK : E_NOINTERFACE;
}

HRESULT WindowedControl::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT WindowedControl::IsDirty() {
    ComPtr<IPersistStreamInit> persist;
    const HRESULT hr = PersistStream(&persist);
    return FAILED(hr) ? hr : persist->IsDirty();
}

HRESULT WindowedControl::InitNew(IStorage* storage) {
    if (storage == nullptr) return E_POINTER;
    ComPtr<IPersistStreamInit> persist;
    const HRESULT hr = PersistStream(&persist);
    return FAILED(hr) ? hr : persist->InitNew();
}

HRESULT WindowedControl::Load(IStorage* storage) {
    if (storage == nullptr) return E_POINTER;
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    HRESULT hr = PersistStream(&persist);
    if (SUCCEEDED(hr))
        hr = storage->OpenStream(kContents, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                 stream.Put());
    return FAILED(hr) ? hr : persist->Load(stream.Get());
}

HRESULT WindowedControl::Save(IStorage* storage, BOOL sameAsLoad) {
    if (storage == nullptr) return E_POINTER;
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    HRESULT hr = PersistStream(&persist);
    if (SUCCEEDED(hr))
        hr = storage->CreateStream(kContents, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                   stream.Put());
    return FAILED(hr) ? hr : persist->Save(stream.Get(), sameAsLoad);
}

HRESULT WindowedControl::SaveCompleted(IStorage*) {
    const std::vector<AdviseEntry> sinks = advises_;
    for (const AdviseEntry& entry : sinks) entry.Sink->OnSave();
    return S_OK;
}

// ---- Property pages and data -------------------------------------------------------------------

HRESULT WindowedControl::GetPages(CAUUID* pages) {
    if (pages == nullptr) return E_POINTER;
    *pages = CAUUID{0, nullptr};
    return S_OK;
}

HRESULT WindowedControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* canonical) {
    if (canonical == nullptr) return E_POINTER;
    canonical->ptd = nullptr;
    return DV_E_FORMATETC;
}

HRESULT WindowedControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
    if (formats == nullptr) return E_POINTER;
    *formats = nullptr;
    return OLE_S_USEREG;
}

HRESULT WindowedControl::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
    if (connection) *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT WindowedControl::EnumDAdvise(IEnumSTATDATA** advises) {
    if (advises) *advises = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

}  // namespace bx::com
