// The automation object: the one object a host creates, owning one control form and exposing
// it through IBXTessvikFerroFW and the family's three camera interfaces, with its events on a
// connection point and its failures as error objects.
//
// Nearly every member checks its argument and forwards to a form operation. A setter follows
// one pattern: an equal-value rule where the member has one (S_OK at once), the container's
// request-edit (a refusal gives S_FALSE), the range check (S_FALSE), the change, the changed
// notice. A failure the form raises becomes DISP_E_EXCEPTION with the thread's error object
// describing it; its interface is IBXTessvikFerroFW for every member that interface has
// (whichever interface the host called through), and the calling interface otherwise.
//
// Thread rule: thread-bound to the thread that created it (the host's user-interface thread),
// except AddRef, Release and QueryInterface, which are thread-safe. A container embeds it
// through the standard in-place control interfaces (bx::com::WindowedControl, answered from
// FindInterface). Events reach the sinks on
// the thread that raised them, which for OnLiveFrameUpdate is the live video thread.
#pragma once

#include <bxplatform/com.h>
#include <bxplatform/com_connection.h>
#include <bxplatform/com_control.h>
#include <bxplatform/com_dispatch.h>
#include <bxplatform/com_error.h>
#include <bxplatform/com_factory.h>
#include <bxplatform/com_stream.h>
#include <bxplatform/ui_base.h>

#include <memory>
#include <optional>
#include <string>

#include <bxcamera/interfaces.h>
#include "automation/EventSinks.h"
#include "automation/TypeLibrary.h"

namespace ferro {

class TBXTessvikFerroFW;
class TBXTessvikFerroFWImpl;
struct FontTarget;

// The ProgID under which the class registers; the source of its error objects.
inline constexpr const char* kProgId = "Korvane Camera";
// How a container treats the control (registered, and answered by GetMiscStatus).
inline constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                     OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                     OLEMISC_SETCLIENTSITEFIRST;

// The form's window as a container's control window (automation/Embedding.cpp).
class FormWindow final : public bx::com::ControlWindow {
public:
    FormWindow(TBXTessvikFerroFWImpl& object) : object_(object) {}
    HWND Window() override;
    void Place(HWND parent, const RECT& position) override;
    void SetBounds(const RECT& position) override;
    SIZE Size() override;
    void SetSize(SIZE pixels) override;
    void SetShown(bool shown) override;
    HRESULT ShowProperties() override;
    void SetEventsFrozen(bool frozen) override;
    int PixelsPerInch() override;

private:
    TBXTessvikFerroFWImpl& object_;
};

class TBXTessvikFerroFWImpl final
    : public bx::com::RefCounted<
          bx::com::DispatchFrom<IBXTessvikFerroFW, &DescribeIBXTessvikFerroFW>,
          bx::com::DispatchFrom<IBXCameraInterface, &DescribeIBXCameraInterface>,
          bx::com::DispatchFrom<IBXCameraInterface2, &DescribeIBXCameraInterface2>,
          bx::com::DispatchFrom<IBXCameraInterface3, &DescribeIBXCameraInterface3>,
          IConnectionPointContainer, bx::com::ProvideClassInfoFrom<&DescribeBXTessvikFerroFW>,
          ISupportErrorInfo, IPersistStreamInit> {
public:
    // Creates the form (its FormCreate runs; no camera is touched) and attaches to it. While
    // the object lives it holds one lock on `moduleLock`, when given.
    explicit TBXTessvikFerroFWImpl(bx::com::ModuleLockCount* moduleLock = nullptr);
    ~TBXTessvikFerroFWImpl() override;

    TBXTessvikFerroFW& Form() { return *form_; }
    EventSinkList& Sinks() { return sinks_; }

    // IConnectionPointContainer: the events point and the property-notification point.
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // ISupportErrorInfo: every interface of the control leaves error objects.
    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;
    // IPersistStreamInit: the form's own properties (automation/Persistence.cpp).
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, BOOL clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT InitNew() override;

    // ---- IBXTessvikFerroFW: form properties (automation/FormProperties.cpp) --------------
    HRESULT get_Visible(VARIANT_BOOL* value) override;
    HRESULT put_Visible(VARIANT_BOOL value) override;
    HRESULT get_AutoScroll(VARIANT_BOOL* value) override;
    HRESULT put_AutoScroll(VARIANT_BOOL value) override;
    HRESULT get_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle* value) override;
    HRESULT put_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle value) override;
    HRESULT get_Color(OLE_COLOR* value) override;
    HRESULT put_Color(OLE_COLOR value) override;
    HRESULT get_Font(IFontDisp** value) override;
    HRESULT put_Font(IFontDisp* value) override;
    HRESULT putref_Font(IFontDisp* value) override;
    HRESULT get_KeyPreview(VARIANT_BOOL* value) override;
    HRESULT put_KeyPreview(VARIANT_BOOL value) override;
    HRESULT get_PixelsPerInch(LONG* value) override;
    HRESULT put_PixelsPerInch(LONG value) override;
    HRESULT get_PrintScale(TxTessvikFerroGrabPrintScale* value) override;
    HRESULT put_PrintScale(TxTessvikFerroGrabPrintScale value) override;
    HRESULT get_Scaled(VARIANT_BOOL* value) override;
    HRESULT put_Scaled(VARIANT_BOOL value) override;
    HRESULT get_Active(VARIANT_BOOL* value) override;
    HRESULT get_DropTarget(VARIANT_BOOL* value) override;
    HRESULT put_DropTarget(VARIANT_BOOL value) override;
    HRESULT get_HelpFile(BSTR* value) override;
    HRESULT put_HelpFile(BSTR value) override;
    HRESULT get_WindowState(TxTessvikFerroGrabWindowState* value) override;
    HRESULT put_WindowState(TxTessvikFerroGrabWindowState value) override;
    HRESULT get_Enabled(VARIANT_BOOL* value) override;
    HRESULT put_Enabled(VARIANT_BOOL value) override;
    HRESULT get_Cursor(SHORT* value) override;
    HRESULT put_Cursor(SHORT value) override;
    HRESULT AboutBox() override;

    // ---- Camera and acquisition (automation/CameraMembers.cpp) ---------------------------
    HRESULT get_BlackLevel(SHORT* value) override;
    HRESULT put_BlackLevel(SHORT value) override;
    HRESULT get_WhiteLevel(SHORT* value) override;
    HRESULT put_WhiteLevel(SHORT value) override;
    HRESULT get_Brightness(SHORT* value) override;
    HRESULT put_Brightness(SHORT value) override;
    HRESULT get_Contrast(SHORT* value) override;
    HRESULT put_Contrast(SHORT value) override;
    HRESULT get_Saturation(SHORT* value) override;
    HRESULT put_Saturation(SHORT value) override;
    HRESULT get_FrameRate(LONG* value) override;
    HRESULT put_FrameRate(LONG value) override;
    HRESULT get_ExposureTime(LONG* value) override;
    HRESULT put_ExposureTime(LONG value) override;
    HRESULT get_Recycle(VARIANT_BOOL* value) override;
    HRESULT put_Recycle(VARIANT_BOOL value) override;
    HRESULT get_Abort(VARIANT_BOOL* value) override;
    HRESULT put_Abort(VARIANT_BOOL value) override;
    HRESULT get_GrabProgress(LONG* value) override;
    HRESULT put_GrabProgress(LONG value) override;
    HRESULT get_Channel(SHORT* value) override;
    HRESULT put_Channel(SHORT value) override;
    HRESULT Initialise() override;
    HRESULT get_Camera(TessvikFerroCameraType* value) override;
    HRESULT put_Camera(TessvikFerroCameraType value) override;
    HRESULT Quit() override;
    HRESULT EnableLiveVideo() override;
    HRESULT DisableLiveVideo() override;
    HRESULT get_DisplayWindow(LONG* value) override;
    HRESULT put_DisplayWindow(LONG value) override;
    HRESULT get_NumberOfFrames(LONG* value) override;
    HRESULT put_NumberOfFrames(LONG value) override;
    HRESULT Grab() override;
    HRESULT Snap() override;
    HRESULT get_PostTriggerFrames(LONG* value) override;
    HRESULT put_PostTriggerFrames(LONG value) override;
    HRESULT get_PreTriggerFrames(LONG* value) override;
    HRESULT put_PreTriggerFrames(LONG value) override;
    HRESULT get_PostTrigger(VARIANT_BOOL* value) override;
    HRESULT put_PostTrigger(VARIANT_BOOL value) override;
    HRESULT get_PreTrigger(VARIANT_BOOL* value) override;
    HRESULT put_PreTrigger(VARIANT_BOOL value) override;
    HRESULT GetImage(LONG* hMMImage) override;
    HRESULT get_GrabWindowLeft(LONG* value) override;
    HRESULT put_GrabWindowLeft(LONG value) override;
    HRESULT get_GrabWindowTop(LONG* value) override;
    HRESULT put_GrabWindowTop(LONG value) override;
    HRESULT get_GrabWindowWidth(LONG* value) override;
    HRESULT put_GrabWindowWidth(LONG value) override;
    HRESULT get_GrabWindowHeight(LONG* value) override;
    HRESULT put_GrabWindowHeight(LONG value) override;
    HRESULT get_BinningFactorX(LONG* value) override;
    HRESULT put_BinningFactorX(LONG value) override;
    HRESULT get_BinningFactorY(LONG* value) override;
    HRESULT put_BinningFactorY(LONG value) override;
    HRESULT get_Gain(LONG* value) override;
    HRESULT put_Gain(LONG value) override;
    HRESULT get_FrameTrigger(VARIANT_BOOL* value) override;
    HRESULT put_FrameTrigger(VARIANT_BOOL value) override;
    HRESULT PreTriggerClick() override;
    HRESULT FrameTriggerClick() override;
    HRESULT PostTriggerClick() override;
    HRESULT get_ImageWindow(LONG* value) override;
    HRESULT put_ImageWindow(LONG value) override;
    HRESULT get_DisplayEnabled(VARIANT_BOOL* value) override;
    HRESULT put_DisplayEnabled(VARIANT_BOOL value) override;
    HRESULT SetAcquisitionPalette(INT Index) override;
    HRESULT get_TimeToNextFrame(LONG* value) override;
    HRESULT put_TimeToNextFrame(LONG value) override;
    HRESULT get_TimeElapsed(LONG* value) override;
    HRESULT put_TimeElapsed(LONG value) override;
    HRESULT get_TimeRemaining(LONG* value) override;
    HRESULT put_TimeRemaining(LONG value) override;
    HRESULT get_MapMin(double* value) override;
    HRESULT put_MapMin(double value) override;
    HRESULT get_MapMax(double* value) override;
    HRESULT put_MapMax(double value) override;
    HRESULT get_ActualTemperature(double* value) override;
    HRESULT put_ActualTemperature(double value) override;
    HRESULT get_Temperture(double* value) override;
    HRESULT put_Temperture(double value) override;
    HRESULT ShowConfiguration() override;
    HRESULT HideConfiguration() override;
    HRESULT get_GrabWindowRight(LONG* value) override;
    HRESULT put_GrabWindowRight(LONG value) override;
    HRESULT get_GrabWindowBottom(LONG* value) override;
    HRESULT put_GrabWindowBottom(LONG value) override;
    HRESULT get_WindowedGrab(VARIANT_BOOL* value) override;
    HRESULT put_WindowedGrab(VARIANT_BOOL value) override;
    HRESULT LoadFromRegistry(BSTR UserRegistry) override;
    HRESULT SaveToRegistry(BSTR UserRegistry) override;
    HRESULT get_CurrentMappingFormat(LONG* value) override;
    HRESULT put_CurrentMappingFormat(LONG value) override;
    HRESULT get_TimeToFrameCompletion(LONG* value) override;
    HRESULT put_TimeToFrameCompletion(LONG value) override;

    // ---- IBXCameraInterface's own members (automation/CameraInterface.cpp) -----------------
    HRESULT ReservedA(LONG a, LONG b, LONG c) override;
    HRESULT GrabFrameIntoImage(LONG hImage, LONG frameIndex, double* elapsedMs,
                               VARIANT_BOOL firstFrame) override;
    HRESULT ReservedB(LONG a) override;
    HRESULT ReservedC(LONG a) override;
    HRESULT get_InterfaceVersion(LONG* value) override;
    HRESULT ReservedD(LONG a) override;
    HRESULT ReservedE(LONG a) override;
    HRESULT get_Offset(LONG* value) override;
    HRESULT put_Offset(LONG value) override;
    HRESULT EmbedPanel(LONG parentWindow, LONG left, LONG top, LONG width, LONG height) override;
    HRESULT RestorePanel() override;
    HRESULT ReservedF(LONG a, LONG b, LONG c, LONG d, LONG e) override;
    HRESULT ReservedG() override;
    HRESULT get_BitDepth(LONG* value) override;
    HRESULT ReservedH(LONG a) override;
    HRESULT get_ExposureSeconds(double* value) override;
    HRESULT put_ExposureSeconds(double value) override;
    HRESULT put_EditLockEnabled(VARIANT_BOOL value) override;
    // IBXCameraInterface2 and the third interface.
    HRESULT Shutdown() override;
    HRESULT FreezeLive() override;

    // The runner of every member body: failures of the form become DISP_E_EXCEPTION with the
    // error object (interface `iid`, source kProgId, the failure text).
    template <class Body>
    HRESULT Guarded(REFIID iid, Body&& body) noexcept;

    // The setter pattern after the equal-value rule: request-edit (a refusal gives S_FALSE),
    // the range check (`accept` false gives S_FALSE), `apply`, changed.
    template <class Apply>
    HRESULT NotifyingSet(DISPID id, bool accept, Apply&& apply);

    // A setter of IBXTessvikFerroFW that is the pattern and nothing else: guarded, then
    // NotifyingSet.
    template <class Apply>
    HRESULT Put(DISPID id, bool accept, Apply&& apply) noexcept {
        return Guarded(IID_IBXTessvikFerroFW, [&] { return NotifyingSet(id, accept, apply); });
    }

private:
    HRESULT FailureToError(REFIID iid) noexcept;  // the current exception, converted
    void* FindInterface(REFIID iid) override { return embedding_.Find(iid); }

    std::optional<bx::com::ModuleLock> moduleLock_;
    std::unique_ptr<TBXTessvikFerroFW> form_;
    EventSinkList sinks_;
    bx::com::ComPtr<IConnectionPoint> eventsPoint_;
    bx::com::ConnectionPoints points_;
    std::shared_ptr<FontTarget> fontTarget_;  // what the Font objects handed out change
    bx::com::PropertyNotifier notifier_;
    // The settings panel's parent before it was embedded in a host window.
    bx::ui::HWND PanelParentSaved = 0;
    std::string savedRecord_;  // the form's properties as last saved or loaded
    FormWindow window_{*this};
    bx::com::WindowedControl embedding_;
};

template <class Body>
HRESULT TBXTessvikFerroFWImpl::Guarded(REFIID iid, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return FailureToError(iid);
    }
}

template <class Apply>
HRESULT TBXTessvikFerroFWImpl::NotifyingSet(DISPID id, bool accept, Apply&& apply) {
    if (notifier_.RequestEdit(id) == S_FALSE || !accept) return S_FALSE;
    apply();
    notifier_.Changed(id);
    return S_OK;
}

}  // namespace ferro
