// The camera family's automation interfaces as function tables: IBXTessvikFerroFW (the control's own
// dual interface), IBXTessvikFerroFWEvents (its outgoing events, reached only by Invoke on the
// host's sinks), and the three interfaces every camera plug-in of the family implements,
// IBXCameraInterface, IBXCameraInterface2 and IBXCameraInterface3. Early-bound hosts reach the
// members by their position, so the declaration order here is the interface: a getter comes
// just before its setter, and nothing may be inserted or reordered.
//
// Every member returns an HRESULT. Booleans are VARIANT_BOOL (-1 true, 0 false on the way
// out; any non-zero value is true on the way in). Strings are BSTRs the caller owns.
//
// Thread rule: the members belong to the thread that created the control (the host's
// user-interface thread); see TBXTessvikFerroFWImpl.
#pragma once

#include <bxplatform/com.h>

#include <cstdint>

// ---- Enumerations of the type library (32-bit) ---------------------------------------------

enum TxTessvikFerroGrabActiveFormBorderStyle : int32_t {
    afbNone = 0,
    afbSingle = 1,
    afbSunken = 2,
    afbRaised = 3
};
enum TxTessvikFerroGrabMouseButton : int32_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };
enum TxTessvikFerroGrabWindowState : int32_t { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };
enum TxTessvikFerroGrabPrintScale : int32_t { poNone = 0, poProportional = 1, poPrintToFit = 2 };
enum TessvikFerroCameraType : int32_t {
    T8081 = 1,
    AirCooled = 2,
    WaterCooled = 3,
    NitrogenCooled = 4
};

using OLE_COLOR = ULONG;

// The font object the Font property hands out: a dispatch interface with the standard font
// properties (Name, Size, Bold, Italic, Underline, Strikethrough, Weight, Charset).
class IFontDisp : public IDispatch {
protected:
    ~IFontDisp() = default;
};

// ---- IBXTessvikFerroFW -----------------------------------------------------------------------

class IBXTessvikFerroFW : public IDispatch {
public:
    // Form properties (the control's window).
    virtual HRESULT get_Visible(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Visible(VARIANT_BOOL value) = 0;
    virtual HRESULT get_AutoScroll(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_AutoScroll(VARIANT_BOOL value) = 0;
    virtual HRESULT get_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle* value) = 0;
    virtual HRESULT put_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle value) = 0;
    virtual HRESULT get_Color(OLE_COLOR* value) = 0;
    virtual HRESULT put_Color(OLE_COLOR value) = 0;
    virtual HRESULT get_Font(IFontDisp** value) = 0;
    virtual HRESULT put_Font(IFontDisp* value) = 0;
    virtual HRESULT putref_Font(IFontDisp* value) = 0;
    virtual HRESULT get_KeyPreview(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_KeyPreview(VARIANT_BOOL value) = 0;
    virtual HRESULT get_PixelsPerInch(LONG* value) = 0;
    virtual HRESULT put_PixelsPerInch(LONG value) = 0;
    virtual HRESULT get_PrintScale(TxTessvikFerroGrabPrintScale* value) = 0;
    virtual HRESULT put_PrintScale(TxTessvikFerroGrabPrintScale value) = 0;
    virtual HRESULT get_Scaled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Scaled(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Active(VARIANT_BOOL* value) = 0;
    virtual HRESULT get_DropTarget(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_DropTarget(VARIANT_BOOL value) = 0;
    virtual HRESULT get_HelpFile(BSTR* value) = 0;
    virtual HRESULT put_HelpFile(BSTR value) = 0;
    virtual HRESULT get_WindowState(TxTessvikFerroGrabWindowState* value) = 0;
    virtual HRESULT put_WindowState(TxTessvikFerroGrabWindowState value) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Cursor(SHORT* value) = 0;
    virtual HRESULT put_Cursor(SHORT value) = 0;
    virtual HRESULT AboutBox() = 0;

    // Camera and acquisition.
    virtual HRESULT get_BlackLevel(SHORT* value) = 0;
    virtual HRESULT put_BlackLevel(SHORT value) = 0;
    virtual HRESULT get_WhiteLevel(SHORT* value) = 0;
    virtual HRESULT put_WhiteLevel(SHORT value) = 0;
    virtual HRESULT get_Brightness(SHORT* value) = 0;
    virtual HRESULT put_Brightness(SHORT value) = 0;
    virtual HRESULT get_Contrast(SHORT* value) = 0;
    virtual HRESULT put_Contrast(SHORT value) = 0;
    virtual HRESULT get_Saturation(SHORT* value) = 0;
    virtual HRESULT put_Saturation(SHORT value) = 0;
    virtual HRESULT get_FrameRate(LONG* value) = 0;
    virtual HRESULT put_FrameRate(LONG value) = 0;
    virtual HRESULT get_ExposureTime(LONG* value) = 0;
    virtual HRESULT put_ExposureTime(LONG value) = 0;
    virtual HRESULT get_Recycle(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Recycle(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Abort(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Abort(VARIANT_BOOL value) = 0;
    virtual HRESULT get_GrabProgress(LONG* value) = 0;
    virtual HRESULT put_GrabProgress(LONG value) = 0;
    virtual HRESULT get_Channel(SHORT* value) = 0;
    virtual HRESULT put_Channel(SHORT value) = 0;
    virtual HRESULT Initialise() = 0;
    virtual HRESULT get_Camera(TessvikFerroCameraType* value) = 0;
    virtual HRESULT put_Camera(TessvikFerroCameraType value) = 0;
    virtual HRESULT Quit() = 0;
    virtual HRESULT EnableLiveVideo() = 0;
    virtual HRESULT DisableLiveVideo() = 0;
    virtual HRESULT get_DisplayWindow(LONG* value) = 0;
    virtual HRESULT put_DisplayWindow(LONG value) = 0;
    virtual HRESULT get_NumberOfFrames(LONG* value) = 0;
    virtual HRESULT put_NumberOfFrames(LONG value) = 0;
    virtual HRESULT Grab() = 0;
    virtual HRESULT Snap() = 0;
    virtual HRESULT get_PostTriggerFrames(LONG* value) = 0;
    virtual HRESULT put_PostTriggerFrames(LONG value) = 0;
    virtual HRESULT get_PreTriggerFrames(LONG* value) = 0;
    virtual HRESULT put_PreTriggerFrames(LONG value) = 0;
    virtual HRESULT get_PostTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_PostTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT get_PreTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_PreTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT GetImage(LONG* hMMImage) = 0;
    virtual HRESULT get_GrabWindowLeft(LONG* value) = 0;
    virtual HRESULT put_GrabWindowLeft(LONG value) = 0;
    virtual HRESULT get_GrabWindowTop(LONG* value) = 0;
    virtual HRESULT put_GrabWindowTop(LONG value) = 0;
    virtual HRESULT get_GrabWindowWidth(LONG* value) = 0;
    virtual HRESULT put_GrabWindowWidth(LONG value) = 0;
    virtual HRESULT get_GrabWindowHeight(LONG* value) = 0;
    virtual HRESULT put_GrabWindowHeight(LONG value) = 0;
    virtual HRESULT get_BinningFactorX(LONG* value) = 0;
    virtual HRESULT put_BinningFactorX(LONG value) = 0;
    virtual HRESULT get_BinningFactorY(LONG* value) = 0;
    virtual HRESULT put_BinningFactorY(LONG value) = 0;
    virtual HRESULT get_Gain(LONG* value) = 0;
    virtual HRESULT put_Gain(LONG value) = 0;
    virtual HRESULT get_FrameTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_FrameTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT PreTriggerClick() = 0;
    virtual HRESULT FrameTriggerClick() = 0;
    virtual HRESULT PostTriggerClick() = 0;
    virtual HRESULT get_ImageWindow(LONG* value) = 0;
    virtual HRESULT put_ImageWindow(LONG value) = 0;
    virtual HRESULT get_DisplayEnabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_DisplayEnabled(VARIANT_BOOL value) = 0;
    virtual HRESULT SetAcquisitionPalette(INT Index) = 0;
    virtual HRESULT get_TimeToNextFrame(LONG* value) = 0;
    virtual HRESULT put_TimeToNextFrame(LONG value) = 0;
    virtual HRESULT get_TimeElapsed(LONG* value) = 0;
    virtual HRESULT put_TimeElapsed(LONG value) = 0;
    virtual HRESULT get_TimeRemaining(LONG* value) = 0;
    virtual HRESULT put_TimeRemaining(LONG value) = 0;
    virtual HRESULT get_MapMin(double* value) = 0;
    virtual HRESULT put_MapMin(double value) = 0;
    virtual HRESULT get_MapMax(double* value) = 0;
    virtual HRESULT put_MapMax(double value) = 0;
    virtual HRESULT get_ActualTemperature(double* value) = 0;
    virtual HRESULT put_ActualTemperature(double value) = 0;
    virtual HRESULT get_Temperture(double* value) = 0;
    virtual HRESULT put_Temperture(double value) = 0;
    virtual HRESULT ShowConfiguration() = 0;
    virtual HRESULT HideConfiguration() = 0;
    virtual HRESULT get_GrabWindowRight(LONG* value) = 0;
    virtual HRESULT put_GrabWindowRight(LONG value) = 0;
    virtual HRESULT get_GrabWindowBottom(LONG* value) = 0;
    virtual HRESULT put_GrabWindowBottom(LONG value) = 0;
    virtual HRESULT get_WindowedGrab(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_WindowedGrab(VARIANT_BOOL value) = 0;
    virtual HRESULT LoadFromRegistry(BSTR UserRegistry) = 0;
    virtual HRESULT SaveToRegistry(BSTR UserRegistry) = 0;
    virtual HRESULT get_CurrentMappingFormat(LONG* value) = 0;
    virtual HRESULT put_CurrentMappingFormat(LONG value) = 0;
    virtual HRESULT get_TimeToFrameCompletion(LONG* value) = 0;
    virtual HRESULT put_TimeToFrameCompletion(LONG value) = 0;

protected:
    ~IBXTessvikFerroFW() = default;
};

// ---- IBXTessvikFerroFWEvents -----------------------------------------------------------------

// The outgoing events. Sinks are plain dispatch objects that receive each event as an Invoke
// with its DISPID and no arguments; this class only names the events for the type
// information, nothing implements it.
class IBXTessvikFerroFWEvents : public IDispatch {
public:
    virtual HRESULT OnActivate() = 0;
    virtual HRESULT OnClick() = 0;
    virtual HRESULT OnCreate() = 0;
    virtual HRESULT OnDblClick() = 0;
    virtual HRESULT OnDestroy() = 0;
    virtual HRESULT OnDeactivate() = 0;
    virtual HRESULT OnPaint() = 0;
    virtual HRESULT OnProcessUpdate() = 0;
    virtual HRESULT OnPreFrameTriggerClick() = 0;
    virtual HRESULT OnFrameTriggerClick() = 0;
    virtual HRESULT OnPostFrameTriggerClick() = 0;
    virtual HRESULT OnPreAcquisitionTriggerClick() = 0;
    virtual HRESULT OnAcquisitionTriggerClick() = 0;
    virtual HRESULT OnPostAcquisitionTriggerClick() = 0;
    virtual HRESULT OnTimeToNextFrameUpdate() = 0;
    virtual HRESULT OnTimeElapsedUpdate() = 0;
    virtual HRESULT OnTimeRemainingUpdate() = 0;
    virtual HRESULT OnTimeToFrameCompletionUpdate() = 0;
    virtual HRESULT OnLiveFrameUpdate() = 0;

protected:
    ~IBXTessvikFerroFWEvents() = default;
};

// ---- The family's common camera interfaces ---------------------------------------------------

// Members this interface shares with IBXTessvikFerroFW have the same name, arguments and
// behaviour (one implementation serves both). The Reserved ones take their arguments, do
// nothing and return S_OK: they hold places other camera plug-ins of the family use.
class IBXCameraInterface : public IDispatch {
public:
    virtual HRESULT Initialise() = 0;
    virtual HRESULT Quit() = 0;
    virtual HRESULT EnableLiveVideo() = 0;
    virtual HRESULT DisableLiveVideo() = 0;
    virtual HRESULT Grab() = 0;
    virtual HRESULT Snap() = 0;
    virtual HRESULT ReservedA(LONG a, LONG b, LONG c) = 0;
    // One frame into frame `frameIndex` of image `hImage`; `elapsedMs` gets the time since the
    // first frame of the series (`firstFrame` starts a series).
    virtual HRESULT GrabFrameIntoImage(LONG hImage, LONG frameIndex, double* elapsedMs,
                                       VARIANT_BOOL firstFrame) = 0;
    virtual HRESULT GetImage(LONG* hMMImage) = 0;
    virtual HRESULT LoadFromRegistry(BSTR UserRegistry) = 0;
    virtual HRESULT SaveToRegistry(BSTR UserRegistry) = 0;
    virtual HRESULT PreTriggerClick() = 0;
    virtual HRESULT FrameTriggerClick() = 0;
    virtual HRESULT PostTriggerClick() = 0;
    virtual HRESULT ReservedB(LONG a) = 0;
    virtual HRESULT ReservedC(LONG a) = 0;
    virtual HRESULT get_InterfaceVersion(LONG* value) = 0;  // always 0x0100A00E
    virtual HRESULT get_BlackLevel(SHORT* value) = 0;
    virtual HRESULT put_BlackLevel(SHORT value) = 0;
    virtual HRESULT get_WhiteLevel(SHORT* value) = 0;
    virtual HRESULT put_WhiteLevel(SHORT value) = 0;
    virtual HRESULT get_Brightness(SHORT* value) = 0;
    virtual HRESULT put_Brightness(SHORT value) = 0;
    virtual HRESULT get_Contrast(SHORT* value) = 0;
    virtual HRESULT put_Contrast(SHORT value) = 0;
    virtual HRESULT get_Saturation(SHORT* value) = 0;
    virtual HRESULT put_Saturation(SHORT value) = 0;
    virtual HRESULT get_Gain(LONG* value) = 0;
    virtual HRESULT put_Gain(LONG value) = 0;
    virtual HRESULT ReservedD(LONG a) = 0;
    virtual HRESULT ReservedE(LONG a) = 0;
    // The camera offset on the 0..4095 scale.
    virtual HRESULT get_Offset(LONG* value) = 0;
    virtual HRESULT put_Offset(LONG value) = 0;
    virtual HRESULT get_ExposureTime(LONG* value) = 0;
    virtual HRESULT put_ExposureTime(LONG value) = 0;
    virtual HRESULT get_Channel(SHORT* value) = 0;
    virtual HRESULT put_Channel(SHORT value) = 0;
    virtual HRESULT get_BinningFactorX(LONG* value) = 0;
    virtual HRESULT put_BinningFactorX(LONG value) = 0;
    virtual HRESULT get_BinningFactorY(LONG* value) = 0;
    virtual HRESULT put_BinningFactorY(LONG value) = 0;
    virtual HRESULT get_WindowedGrab(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_WindowedGrab(VARIANT_BOOL value) = 0;
    virtual HRESULT get_GrabWindowLeft(LONG* value) = 0;
    virtual HRESULT put_GrabWindowLeft(LONG value) = 0;
    virtual HRESULT get_GrabWindowTop(LONG* value) = 0;
    virtual HRESULT put_GrabWindowTop(LONG value) = 0;
    virtual HRESULT get_GrabWindowRight(LONG* value) = 0;
    virtual HRESULT put_GrabWindowRight(LONG value) = 0;
    virtual HRESULT get_GrabWindowBottom(LONG* value) = 0;
    virtual HRESULT put_GrabWindowBottom(LONG value) = 0;
    virtual HRESULT get_GrabWindowWidth(LONG* value) = 0;
    virtual HRESULT put_GrabWindowWidth(LONG value) = 0;
    virtual HRESULT get_GrabWindowHeight(LONG* value) = 0;
    virtual HRESULT put_GrabWindowHeight(LONG value) = 0;
    virtual HRESULT get_NumberOfFrames(LONG* value) = 0;
    virtual HRESULT put_NumberOfFrames(LONG value) = 0;
    virtual HRESULT get_FrameRate(LONG* value) = 0;
    virtual HRESULT put_FrameRate(LONG value) = 0;
    virtual HRESULT get_DisplayWindow(LONG* value) = 0;
    virtual HRESULT put_DisplayWindow(LONG value) = 0;
    virtual HRESULT get_ImageWindow(LONG* value) = 0;
    virtual HRESULT put_ImageWindow(LONG value) = 0;
    virtual HRESULT get_DisplayEnabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_DisplayEnabled(VARIANT_BOOL value) = 0;
    virtual HRESULT SetAcquisitionPalette(INT Index) = 0;
    virtual HRESULT get_MapMin(double* value) = 0;
    virtual HRESULT put_MapMin(double value) = 0;
    virtual HRESULT get_MapMax(double* value) = 0;
    virtual HRESULT put_MapMax(double value) = 0;
    virtual HRESULT get_CurrentMappingFormat(LONG* value) = 0;
    virtual HRESULT put_CurrentMappingFormat(LONG value) = 0;
    virtual HRESULT get_PreTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_PreTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT get_PreTriggerFrames(LONG* value) = 0;
    virtual HRESULT put_PreTriggerFrames(LONG value) = 0;
    virtual HRESULT get_FrameTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_FrameTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT get_PostTrigger(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_PostTrigger(VARIANT_BOOL value) = 0;
    virtual HRESULT get_PostTriggerFrames(LONG* value) = 0;
    virtual HRESULT put_PostTriggerFrames(LONG value) = 0;
    virtual HRESULT get_Recycle(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Recycle(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Abort(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Abort(VARIANT_BOOL value) = 0;
    virtual HRESULT get_GrabProgress(LONG* value) = 0;
    virtual HRESULT put_GrabProgress(LONG value) = 0;
    virtual HRESULT get_TimeToNextFrame(LONG* value) = 0;
    virtual HRESULT put_TimeToNextFrame(LONG value) = 0;
    virtual HRESULT get_TimeElapsed(LONG* value) = 0;
    virtual HRESULT put_TimeElapsed(LONG value) = 0;
    virtual HRESULT get_TimeRemaining(LONG* value) = 0;
    virtual HRESULT put_TimeRemaining(LONG value) = 0;
    virtual HRESULT get_TimeToFrameCompletion(LONG* value) = 0;
    virtual HRESULT put_TimeToFrameCompletion(LONG value) = 0;
    // The settings panel into a host window, at the given place and size; and back.
    virtual HRESULT EmbedPanel(LONG parentWindow, LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT RestorePanel() = 0;
    virtual HRESULT ReservedF(LONG a, LONG b, LONG c, LONG d, LONG e) = 0;
    virtual HRESULT ReservedG() = 0;
    virtual HRESULT get_BitDepth(LONG* value) = 0;
    virtual HRESULT ReservedH(LONG a) = 0;
    virtual HRESULT get_ExposureSeconds(double* value) = 0;
    virtual HRESULT put_ExposureSeconds(double value) = 0;
    virtual HRESULT put_EditLockEnabled(VARIANT_BOOL value) = 0;

protected:
    ~IBXCameraInterface() = default;
};

class IBXCameraInterface2 : public IDispatch {
public:
    // The control's teardown: live video stopped, session and camera closed, driver released.
    virtual HRESULT Shutdown() = 0;

protected:
    ~IBXCameraInterface2() = default;
};

class IBXCameraInterface3 : public IDispatch {
public:
    // Live video shows one more frame and then idles until stopped.
    virtual HRESULT FreezeLive() = 0;

protected:
    ~IBXCameraInterface3() = default;
};

// ---- Identities -------------------------------------------------------------------------------

inline constexpr IID IID_IBXTessvikFerroFW =
    bx::com::GuidLiteral("{BCCBBD76-5C3C-43D3-BC0E-5ED84C50B23A}");
inline constexpr IID DIID_IBXTessvikFerroFWEvents =
    bx::com::GuidLiteral("{068EFCD8-A3E1-4FB9-A971-ECC9D01D47B0}");
inline constexpr IID IID_IBXCameraInterface =
    bx::com::GuidLiteral("{068EFCDF-A3E1-4FB9-A971-ECC9D01D47B0}");
inline constexpr IID IID_IBXCameraInterface2 =
    bx::com::GuidLiteral("{068EFCE6-A3E1-4FB9-A971-ECC9D01D47B0}");
inline constexpr IID IID_IBXCameraInterface3 =
    bx::com::GuidLiteral("{0A1F7DEF-C21F-4D5D-A197-8C0A5F559B9F}");
inline constexpr IID IID_IFontDisp = bx::com::GuidLiteral("{BEF6E003-A874-101A-8BBA-00AA00300CAB}");
inline constexpr CLSID CLSID_BXTessvikFerroFW =
    bx::com::GuidLiteral("{BCCBBD78-5C3C-43D3-BC0E-5ED84C50B23A}");
inline constexpr GUID LIBID_BXDTessvikFerroFWProj1 =
    bx::com::GuidLiteral("{BCCBBD73-5C3C-43D3-BC0E-5ED84C50B23A}");
inline constexpr GUID CATID_BXGrabDevice =
    bx::com::GuidLiteral("{1E025EA7-ADB3-4AD3-B097-D76E6F87B87D}");
// The category of grab devices that answer IBXCameraInterface: its identifier is that
// interface's.
inline constexpr GUID CATID_IBXCommonGrabInterface = IID_IBXCameraInterface;

BX_COM_INTERFACE(IFontDisp, IDispatch, IID_IFontDisp);
BX_COM_INTERFACE(IBXTessvikFerroFW, IDispatch, IID_IBXTessvikFerroFW);
BX_COM_INTERFACE(IBXTessvikFerroFWEvents, IDispatch, DIID_IBXTessvikFerroFWEvents);
BX_COM_INTERFACE(IBXCameraInterface, IDispatch, IID_IBXCameraInterface);
BX_COM_INTERFACE(IBXCameraInterface2, IDispatch, IID_IBXCameraInterface2);
BX_COM_INTERFACE(IBXCameraInterface3, IDispatch, IID_IBXCameraInterface3);
