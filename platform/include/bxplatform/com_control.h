// Embeddable controls: the interfaces through which a container places a windowed control in
// its document (IOleObject, in-place activation, view, quick activation, storage persistence,
// property pages, data transfer) and the container-side interfaces the control calls back
// (client site, in-place site, frame), with bx::com::WindowedControl, the standard behaviour
// of a windowed control behind all of them.
//
// A control supplies its window through bx::com::ControlWindow and lists WindowedControl's
// interfaces through its FindInterface; WindowedControl answers for the object's identity
// (its IUnknown delegates to the object).
//
// Thread rule: thread-bound to the thread that created the control, as the control is.
#pragma once

#include <bxplatform/com_connection.h>
#include <bxplatform/com_object.h>
#include <bxplatform/com_stream.h>

#include <cstdint>
#include <vector>

using HWND = uint32_t;  // a window of the form toolkit (its handle table)
using HDC = uintptr_t;  // a drawing surface; this platform has none to hand to a control
using HMENU = uintptr_t;
using HOLEMENU = uintptr_t;
using HACCEL = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using OLE_COLOR = DWORD;

struct RECT {
    LONG left, top, right, bottom;
};
using RECTL = RECT;
using BORDERWIDTHS = RECT;
struct POINT {
    LONG x, y;
};
using POINTL = POINT;
struct SIZE {
    LONG cx, cy;
};
using SIZEL = SIZE;
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// Opaque here: no moniker, container enumeration, target device or data rendering is offered.
class IMoniker;
class IDataObject;
class IOleContainer;
class IEnumOLEVERB;
class IEnumSTATDATA;
class IEnumFORMATETC;
class IOleInPlaceUIWindow;
struct DVTARGETDEVICE;
struct LOGPALETTE;
struct DVEXTENTINFO;
struct OLEMENUGROUPWIDTHS;

struct FORMATETC {
    uint16_t cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};
struct STGMEDIUM {
    DWORD tymed;
    void* data;
    IUnknown* pUnkForRelease;
};

struct OLEINPLACEFRAMEINFO {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
};

struct CONTROLINFO {
    ULONG cb;
    HACCEL hAccel;
    USHORT cAccel;
    DWORD dwFlags;
};

struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

// ---- Verbs, aspects, status bits and codes ---------------------------------------------------
inline constexpr LONG OLEIVERB_PRIMARY = 0, OLEIVERB_SHOW = -1, OLEIVERB_OPEN = -2,
                      OLEIVERB_HIDE = -3, OLEIVERB_UIACTIVATE = -4, OLEIVERB_INPLACEACTIVATE = -5,
                      OLEIVERB_DISCARDUNDOSTATE = -6, OLEIVERB_PROPERTIES = -7;
inline constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0, OLECLOSE_NOSAVE = 1, OLECLOSE_PROMPTSAVE = 2;
inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1, OLEMISC_CANTLINKINSIDE = 0x10,
                       OLEMISC_INSIDEOUT = 0x80, OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
                       OLEMISC_SETCLIENTSITEFIRST = 0x20000;
inline constexpr DWORD VIEWSTATUS_OPAQUE = 0x1, VIEWSTATUS_SOLIDBKGND = 0x2;
inline constexpr DWORD HITRESULT_OUTSIDE = 0, HITRESULT_HIT = 3;

inline constexpr HRESULT OLE_S_USEREG = 0x00040000;
inline constexpr HRESULT OLEOBJ_S_INVALIDVERB = 0x00040180;
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = bx::com::MakeCode(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = bx::com::MakeCode(0x80040004);
inline constexpr HRESULT OLE_E_NOT_INPLACEACTIVE = bx::com::MakeCode(0x80040010);
inline constexpr HRESULT DV_E_FORMATETC = bx::com::MakeCode(0x80040064);
inline constexpr HRESULT DV_E_DVASPECT = bx::com::MakeCode(0x8004006B);
inline constexpr HRESULT VIEW_E_DRAW = bx::com::MakeCode(0x80040140);
inline constexpr HRESULT INPLACE_E_NOTUNDOABLE = bx::com::MakeCode(0x800401A0);

// ---- Container side ----------------------------------------------------------------------------
// Told of changes to an object's data, view, name and saving.
class IAdviseSink : public IUnknown {
public:
    virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual void OnViewChange(DWORD aspect, LONG index) = 0;
    virtual void OnRename(IMoniker* moniker) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;

protected:
    ~IAdviseSink() = default;
};

// The container's place for one embedded object.
class IOleClientSite : public IUnknown {
public:
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
    virtual HRESULT GetContainer(IOleContainer** container) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(BOOL shown) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;

protected:
    ~IOleClientSite() = default;
};

// Something with a window.
class IOleWindow : public IUnknown {
public:
    virtual HRESULT GetWindow(HWND* window) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL enter) = 0;

protected:
    ~IOleWindow() = default;
};

class IOleInPlaceActiveObject;

// A document or frame window of the container that an active object may use.
class IOleInPlaceUIWindow : public IOleWindow {
public:
    virtual HRESULT GetBorder(RECT* border) = 0;
    virtual HRESULT RequestBorderSpace(const BORDERWIDTHS* widths) = 0;
    virtual HRESULT SetBorderSpace(const BORDERWIDTHS* widths) = 0;
    virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) = 0;

protected:
    ~IOleInPlaceUIWindow() = default;
};

// The container's top-level window.
class IOleInPlaceFrame : public IOleInPlaceUIWindow {
public:
    virtual HRESULT InsertMenus(HMENU menu, OLEMENUGROUPWIDTHS* widths) = 0;
    virtual HRESULT SetMenu(HMENU menu, HOLEMENU shared, HWND activeObject) = 0;
    virtual HRESULT RemoveMenus(HMENU menu) = 0;
    virtual HRESULT SetStatusText(LPCOLESTR text) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message, WORD id) = 0;

protected:
    ~IOleInPlaceFrame() = default;
};

// The client site's in-place part: where the object's window goes and who is told.
class IOleInPlaceSite : public IOleWindow {
public:
    virtual HRESULT CanInPlaceActivate() = 0;  // S_OK: yes
    virtual HRESULT OnInPlaceActivate() = 0;
    virtual HRESULT OnUIActivate() = 0;
    virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                     RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) = 0;
    virtual HRESULT Scroll(SIZE extent) = 0;
    virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
    virtual HRESULT OnInPlaceDeactivate() = 0;
    virtual HRESULT DiscardUndoState() = 0;
    virtual HRESULT DeactivateAndUndo() = 0;
    virtual HRESULT OnPosRectChange(const RECT* position) = 0;

protected:
    ~IOleInPlaceSite() = default;
};

// ---- Control side ------------------------------------------------------------------------------
class IOleObject : public IUnknown {
public:
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
    virtual HRESULT SetHostNames(LPCOLESTR application, LPCOLESTR document) = 0;
    virtual HRESULT Close(DWORD saveOption) = 0;
    virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
    virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
    virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
    virtual HRESULT DoVerb(LONG verb, MSG* message, IOleClientSite* activeSite, LONG index,
                           HWND parent, const RECT* position) = 0;
    virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
    virtual HRESULT GetUserType(DWORD form, LPOLESTR* name) = 0;
    virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;  // HIMETRIC (0.01 mm)
    virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
    virtual HRESULT Advise(IAdviseSink* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumAdvise(IEnumSTATDATA** advises) = 0;
    virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
    virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

protected:
    ~IOleObject() = default;
};

class IOleInPlaceObject : public IOleWindow {
public:
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(const RECT* position, const RECT* clip) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;

protected:
    ~IOleInPlaceObject() = default;
};

class IOleInPlaceActiveObject : public IOleWindow {
public:
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;  // S_FALSE: not translated
    virtual HRESULT OnFrameWindowActivate(BOOL active) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL active) = 0;
    virtual HRESULT ResizeBorder(const RECT* border, IOleInPlaceUIWindow* window, BOOL frame) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;

protected:
    ~IOleInPlaceActiveObject() = default;
};

class IOleControl : public IUnknown {
public:
    virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
    virtual HRESULT OnMnemonic(MSG* message) = 0;
    virtual HRESULT OnAmbientPropertyChange(DISPID id) = 0;
    // While frozen (calls nest) the container ignores events, so the control raises none.
    virtual HRESULT FreezeEvents(BOOL freeze) = 0;

protected:
    ~IOleControl() = default;
};

using ContinueFunction = BOOL (*)(uintptr_t);

class IViewObject : public IUnknown {
public:
    virtual HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                         HDC targetDevice, HDC drawing, const RECTL* bounds,
                         const RECTL* windowBounds, ContinueFunction proceed,
                         uintptr_t proceedArgument) = 0;
    virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                                HDC targetDevice, LOGPALETTE** colours) = 0;
    virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) = 0;
    virtual HRESULT Unfreeze(DWORD freeze) = 0;
    virtual HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
    virtual HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) = 0;

protected:
    ~IViewObject() = default;
};

class IViewObject2 : public IViewObject {
public:
    virtual HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, SIZEL* size) = 0;

protected:
    ~IViewObject2() = default;
};

class IViewObjectEx : public IViewObject2 {
public:
    virtual HRESULT GetRect(DWORD aspect, RECTL* rect) = 0;
    virtual HRESULT GetViewStatus(DWORD* status) = 0;
    virtual HRESULT QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG closeHint,
                                  DWORD* hit) = 0;
    virtual HRESULT QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location,
                                 LONG closeHint, DWORD* hit) = 0;
    virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                     HDC targetDevice, DVEXTENTINFO* info, SIZEL* size) = 0;

protected:
    ~IViewObjectEx() = default;
};

// What a container hands a control in one call instead of many.
struct QACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSink* pAdviseSink;
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags;
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IUnknown* pFont;
    IUnknown* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    uintptr_t hpal;
    IUnknown* pBindHost;
    IUnknown* pOleControlSite;
    IUnknown* pServiceProvider;
};
struct QACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;
    DWORD dwPropNotifyCookie;
    DWORD dwPointerActivationPolicy;
};

class IQuickActivate : public IUnknown {
public:
    virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
    virtual HRESULT SetContentExtent(SIZEL* size) = 0;
    virtual HRESULT GetContentExtent(SIZEL* size) = 0;

protected:
    ~IQuickActivate() = default;
};

class ISpecifyPropertyPages : public IUnknown {
public:
    // The property pages' class identifiers, in memory from CoTaskMemAlloc (none: 0, null).
    virtual HRESULT GetPages(CAUUID* pages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

class IDataObject : public IUnknown {
public:
    virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* format) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) = 0;
    virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
    virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
    virtual HRESULT DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                            DWORD* connection) = 0;
    virtual HRESULT DUnadvise(DWORD connection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** advises) = 0;

protected:
    ~IDataObject() = default;
};

// A control that contains other controls sees their messages first and last.
class ISimpleFrameSite : public IUnknown {
public:
    virtual HRESULT PreMessageFilter(HWND window, UINT message, WPARAM wp, LPARAM lp,
                                     LRESULT* result, DWORD* cookie) = 0;
    virtual HRESULT PostMessageFilter(HWND window, UINT message, WPARAM wp, LPARAM lp,
                                      LRESULT* result, DWORD cookie) = 0;

protected:
    ~ISimpleFrameSite() = default;
};

inline constexpr IID IID_IAdviseSink =
    bx::com::GuidLiteral("{0000010F-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleClientSite =
    bx::com::GuidLiteral("{00000118-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleWindow =
    bx::com::GuidLiteral("{00000114-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceUIWindow =
    bx::com::GuidLiteral("{00000115-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceFrame =
    bx::com::GuidLiteral("{00000116-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceSite =
    bx::com::GuidLiteral("{00000119-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleObject =
    bx::com::GuidLiteral("{00000112-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceObject =
    bx::com::GuidLiteral("{00000113-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceActiveObject =
    bx::com::GuidLiteral("{00000117-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleControl =
    bx::com::GuidLiteral("{B196B288-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IViewObject =
    bx::com::GuidLiteral("{0000010D-0000-0000-C000-000000000046}");
inline constexpr IID IID_IViewObject2 =
    bx::com::GuidLiteral("{00000127-0000-0000-C000-000000000046}");
inline constexpr IID IID_IViewObjectEx =
    bx::com::GuidLiteral("{3AF24292-0C96-11CE-A0CF-00AA00600AB8}");
inline constexpr IID IID_IQuickActivate =
    bx::com::GuidLiteral("{CF51ED10-62FE-11CF-BF86-00A0C9034836}");
inline constexpr IID IID_ISpecifyPropertyPages =
    bx::com::GuidLiteral("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IDataObject =
    bx::com::GuidLiteral("{0000010E-0000-0000-C000-000000000046}");
inline constexpr IID IID_ISimpleFrameSite =
    bx::com::GuidLiteral("{742B0E01-14E6-101B-914E-00AA00300CAB}");

BX_COM_INTERFACE(IAdviseSink, IUnknown, IID_IAdviseSink);
BX_COM_INTERFACE(IOleClientSite, IUnknown, IID_IOleClientSite);
BX_COM_INTERFACE(IOleWindow, IUnknown, IID_IOleWindow);
BX_COM_INTERFACE(IOleInPlaceUIWindow, IOleWindow, IID_IOleInPlaceUIWindow);
BX_COM_INTERFACE(IOleInPlaceFrame, IOleInPlaceUIWindow, IID_IOleInPlaceFrame);
BX_COM_INTERFACE(IOleInPlaceSite, IOleWindow, IID_IOleInPlaceSite);
BX_COM_INTERFACE(IOleObject, IUnknown, IID_IOleObject);
BX_COM_INTERFACE(IOleInPlaceObject, IOleWindow, IID_IOleInPlaceObject);
BX_COM_INTERFACE(IOleInPlaceActiveObject, IOleWindow, IID_IOleInPlaceActiveObject);
BX_COM_INTERFACE(IOleControl, IUnknown, IID_IOleControl);
BX_COM_INTERFACE(IViewObject, IUnknown, IID_IViewObject);
BX_COM_INTERFACE(IViewObject2, IViewObject, IID_IViewObject2);
BX_COM_INTERFACE(IViewObjectEx, IViewObject2, IID_IViewObjectEx);
BX_COM_INTERFACE(IQuickActivate, IUnknown, IID_IQuickActivate);
BX_COM_INTERFACE(ISpecifyPropertyPages, IUnknown, IID_ISpecifyPropertyPages);
BX_COM_INTERFACE(IDataObject, IUnknown, IID_IDataObject);
BX_COM_INTERFACE(ISimpleFrameSite, IUnknown, IID_ISimpleFrameSite);

namespace bx::com {

// What a windowed control gives the standard behaviour: its window and what to do with it.
class ControlWindow {
public:
    virtual HWND Window() = 0;
    // Places the window in a container's window (0: back to none), at `position` in that
    // window's client area.
    virtual void Place(HWND parent, const RECT& position) = 0;
    virtual void SetBounds(const RECT& position) = 0;
    virtual SIZE Size() = 0;  // pixels
    virtual void SetSize(SIZE pixels) = 0;
    virtual void SetShown(bool shown) = 0;
    // The "Properties" verb: the control shows its settings.
    virtual HRESULT ShowProperties() = 0;
    // The container ignores events while frozen.
    virtual void SetEventsFrozen(bool frozen) = 0;
    virtual int PixelsPerInch() { return 96; }

protected:
    ~ControlWindow() = default;
};

// The standard behaviour of a windowed control behind the container-facing interfaces.
//
// In-place activation: DoVerb with OLEIVERB_INPLACEACTIVATE asks the in-place site of the
// client site, takes its window and position and places the control's window there;
// OLEIVERB_SHOW and OLEIVERB_UIACTIVATE also make it the frame's active object; OLEIVERB_HIDE
// hides it; verb 0 ("Properties", the control's one verb) and OLEIVERB_PROPERTIES show the
// control's settings. Close (and InPlaceDeactivate) gives the window back and tells the site.
//
// Persistence through a storage is the object's IPersistStreamInit on the storage's "Contents"
// stream. Extents are kept in HIMETRIC and follow the window's size. The control has no data
// renditions and no property page objects (its settings are its own panel); verbs and user
// type are in the registry (OLE_S_USEREG).
//
// `outer` is the object this is part of: every IUnknown call goes to it, and it must answer
// IPersistStreamInit (for the storage) and, for QuickActivate, IConnectionPointContainer and
// IProvideClassInfo2.
class WindowedControl final : public IOleObject,
                              public IOleInPlaceObject,
                              public IOleInPlaceActiveObject,
                              public IOleControl,
                              public IViewObjectEx,
                              public IQuickActivate,
                              public IPersistStorage,
                              public ISpecifyPropertyPages,
                              public IDataObject,
                              public ISimpleFrameSite {
public:
    WindowedControl(IUnknown* outer, ControlWindow& window, const CLSID& clsid, DWORD miscStatus);
    ~WindowedControl();
    WindowedControl(const WindowedControl&) = delete;
    WindowedControl& operator=(const WindowedControl&) = delete;

    // The interface pointer for `iid` if it is one of these (the outer object's FindInterface
    // returns it; the caller adds the reference), else null.
    void* Find(REFIID iid);

    bool InPlaceActive() const { return inPlaceSite_ != nullptr; }
    bool UIActive() const { return uiActive_; }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        return outer_->QueryInterface(iid, object);
    }
    ULONG AddRef() override { return outer_->AddRef(); }
    ULONG Release() override { return outer_->Release(); }

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT Close(DWORD saveOption) override;
    HRESULT SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT GetClipboardData(DWORD, IDataObject** data) override;
    HRESULT DoVerb(LONG verb, MSG* message, IOleClientSite* activeSite, LONG index, HWND parent,
                   const RECT* position) override;
    HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT Update() override { return S_OK; }
    HRESULT IsUpToDate() override { return S_OK; }
    HRESULT GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
    HRESULT GetUserType(DWORD, LPOLESTR* name) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumAdvise(IEnumSTATDATA** advises) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    HRESULT GetWindow(HWND* window) override;
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT InPlaceDeactivate() override;
    HRESULT UIDeactivate() override;
    HRESULT SetObjectRects(const RECT* position, const RECT* clip) override;
    HRESULT ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }
    HRESULT TranslateAccelerator(MSG* message) override;
    HRESULT OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT ResizeBorder(const RECT*, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT EnableModeless(BOOL) override { return S_OK; }

    // IOleControl
    HRESULT GetControlInfo(CONTROLINFO* info) override;
    HRESULT OnMnemonic(MSG*) override { return S_OK; }
    HRESULT OnAmbientPropertyChange(DISPID) override { return S_OK; }
    HRESULT FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2, IViewObjectEx
    HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                 HDC targetDevice, HDC drawing, const RECTL* bounds, const RECTL* windowBounds,
                 ContinueFunction proceed, uintptr_t proceedArgument) override;
    HRESULT GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) override;
    HRESULT Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, SIZEL* size) override;
    HRESULT GetRect(DWORD, RECTL*) override { return E_NOTIMPL; }
    HRESULT GetViewStatus(DWORD* status) override;
    HRESULT QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG closeHint,
                          DWORD* hit) override;
    HRESULT QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG closeHint,
                         DWORD* hit) override;
    HRESULT GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, SIZEL*) override {
        return E_NOTIMPL;
    }

    // IQuickActivate
    HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT SetContentExtent(SIZEL* size) override { return SetExtent(DVASPECT_CONTENT, size); }
    HRESULT GetContentExtent(SIZEL* size) override { return GetExtent(DVASPECT_CONTENT, size); }

    // IPersistStorage: the outer object's stream persistence in the "Contents" stream.
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override;
    HRESULT InitNew(IStorage* storage) override;
    HRESULT Load(IStorage* storage) override;
    HRESULT Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT SaveCompleted(IStorage* storage) override;
    HRESULT HandsOffStorage() override { return S_OK; }

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;

    // IDataObject: no renditions.
    HRESULT GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
    HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC* canonical) override;
    HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** formats) override;
    HRESULT DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) override;
    HRESULT DUnadvise(DWORD) override { return OLE_E_NOCONNECTION; }
    HRESULT EnumDAdvise(IEnumSTATDATA** advises) override;

    // ISimpleFrameSite: messages pass unchanged.
    HRESULT PreMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD*) override { return S_OK; }
    HRESULT PostMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD) override { return S_OK; }

private:
    HRESULT Activate(IOleClientSite* activeSite, bool ui);
    HRESULT PersistStream(ComPtr<IPersistStreamInit>* persist);
    void ViewChanged();

    IUnknown* outer_;
    ControlWindow& window_;
    CLSID clsid_;
    DWORD miscStatus_;
    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;  // set while in-place active
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> document_;
    bool uiActive_ = false;
    struct AdviseEntry {
        DWORD Cookie;
        ComPtr<IAdviseSink> Sink;
    };
    std::vector<AdviseEntry> advises_;
    DWORD nextCookie_ = 1;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0, viewFlags_ = 0;
    int frozen_ = 0;
};

}  // namespace bx::com
