// IBXTessvikFerroFW's form properties: the control's window as the host sees it. Each getter
// reads and each setter writes the form property of the same name; every setter notifies.
#include <bxplatform/com_string.h>
#include <bxplatform/ui.h>

#include <string>

#include "automation/BXTessvikFerroFWImpl.h"
#include "automation/FontObject.h"
#include "automation/Members.h"
#include "control/BXTessvikGrabImpl1.h"

#ifndef BX_PLUGIN_VERSION
#define BX_PLUGIN_VERSION "unknown"
#endif

namespace ferro {

using namespace automation;

HRESULT TBXTessvikFerroFWImpl::get_Visible(VARIANT_BOOL* value) {
    return OutBool(value, form_->Visible());
}
HRESULT TBXTessvikFerroFWImpl::put_Visible(VARIANT_BOOL value) {
    return Put(kDispVisible, true, [&] { form_->SetVisible(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_AutoScroll(VARIANT_BOOL* value) {
    return OutBool(value, form_->AutoScroll());
}
HRESULT TBXTessvikFerroFWImpl::put_AutoScroll(VARIANT_BOOL value) {
    return Put(kDispAutoScroll, true, [&] { form_->SetAutoScroll(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle* value) {
    return Out(value, static_cast<TxTessvikFerroGrabActiveFormBorderStyle>(form_->AxBorderStyle()));
}
HRESULT TBXTessvikFerroFWImpl::put_AxBorderStyle(TxTessvikFerroGrabActiveFormBorderStyle value) {
    return Put(kDispAxBorderStyle, InRange(value, afbNone, afbRaised), [&] {
        form_->SetAxBorderStyle(static_cast<bx::ui::TActiveFormBorderStyle>(value));
    });
}
HRESULT TBXTessvikFerroFWImpl::get_Color(OLE_COLOR* value) {
    return Out(value, form_->Color());
}
HRESULT TBXTessvikFerroFWImpl::put_Color(OLE_COLOR value) {
    return Put(kDispColor, true, [&] { form_->SetColor(static_cast<bx::ui::TColor>(value)); });
}
HRESULT TBXTessvikFerroFWImpl::get_Font(IFontDisp** value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == nullptr) return E_POINTER;
        *value = MakeFontObject(fontTarget_).Detach();
        return S_OK;
    });
}
// Put and putref both copy the given font's attributes into the form's font.
HRESULT TBXTessvikFerroFWImpl::put_Font(IFontDisp* value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        HRESULT copied = S_OK;
        const HRESULT set = NotifyingSet(kDispFont, value != nullptr,
                                         [&] { copied = CopyFontInto(*form_, value); });
        return FAILED(copied) ? copied : set;
    });
}
HRESULT TBXTessvikFerroFWImpl::putref_Font(IFontDisp* value) {
    return put_Font(value);
}
HRESULT TBXTessvikFerroFWImpl::get_KeyPreview(VARIANT_BOOL* value) {
    return OutBool(value, form_->KeyPreview());
}
HRESULT TBXTessvikFerroFWImpl::put_KeyPreview(VARIANT_BOOL value) {
    return Put(kDispKeyPreview, true, [&] { form_->SetKeyPreview(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_PixelsPerInch(LONG* value) {
    return Out(value, form_->PixelsPerInch());
}
HRESULT TBXTessvikFerroFWImpl::put_PixelsPerInch(LONG value) {
    return Put(kDispPixelsPerInch, true, [&] { form_->SetPixelsPerInch(value); });
}
HRESULT TBXTessvikFerroFWImpl::get_PrintScale(TxTessvikFerroGrabPrintScale* value) {
    return Out(value, static_cast<TxTessvikFerroGrabPrintScale>(form_->PrintScale()));
}
HRESULT TBXTessvikFerroFWImpl::put_PrintScale(TxTessvikFerroGrabPrintScale value) {
    return Put(kDispPrintScale, InRange(value, poNone, poPrintToFit),
               [&] { form_->SetPrintScale(static_cast<bx::ui::TPrintScale>(value)); });
}
HRESULT TBXTessvikFerroFWImpl::get_Scaled(VARIANT_BOOL* value) {
    return OutBool(value, form_->Scaled());
}
HRESULT TBXTessvikFerroFWImpl::put_Scaled(VARIANT_BOOL value) {
    return Put(kDispScaled, true, [&] { form_->SetScaled(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_Active(VARIANT_BOOL* value) {
    return OutBool(value, form_->Active());
}
HRESULT TBXTessvikFerroFWImpl::get_DropTarget(VARIANT_BOOL* value) {
    return OutBool(value, form_->DropTarget());
}
HRESULT TBXTessvikFerroFWImpl::put_DropTarget(VARIANT_BOOL value) {
    return Put(kDispDropTarget, true, [&] { form_->SetDropTarget(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_HelpFile(BSTR* value) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (value == nullptr) return E_POINTER;
        *value = bx::com::Utf8ToBstr(form_->HelpFile());
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}
HRESULT TBXTessvikFerroFWImpl::put_HelpFile(BSTR value) {
    return Put(kDispHelpFile, true, [&] { form_->SetHelpFile(bx::com::BstrToUtf8(value)); });
}
HRESULT TBXTessvikFerroFWImpl::get_WindowState(TxTessvikFerroGrabWindowState* value) {
    return Out(value, static_cast<TxTessvikFerroGrabWindowState>(form_->WindowState()));
}
HRESULT TBXTessvikFerroFWImpl::put_WindowState(TxTessvikFerroGrabWindowState value) {
    return Put(kDispWindowState, InRange(value, wsNormal, wsMaximized),
               [&] { form_->SetWindowState(static_cast<bx::ui::TWindowState>(value)); });
}
HRESULT TBXTessvikFerroFWImpl::get_Enabled(VARIANT_BOOL* value) {
    return OutBool(value, form_->Enabled());
}
HRESULT TBXTessvikFerroFWImpl::put_Enabled(VARIANT_BOOL value) {
    return Put(kDispEnabled, true, [&] { form_->SetEnabled(value != 0); });
}
HRESULT TBXTessvikFerroFWImpl::get_Cursor(SHORT* value) {
    return Out(value, form_->Cursor());
}
HRESULT TBXTessvikFerroFWImpl::put_Cursor(SHORT value) {
    return Put(kDispCursor, true, [&] { form_->SetCursor(value); });
}

// Modal: returns when the box is closed.
HRESULT TBXTessvikFerroFWImpl::AboutBox() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        const std::string text = std::string("RIROVoruzarUZ camera control\nVersion ") +
                                 BX_PLUGIN_VERSION + "\nBuilt " + __DATE__ +
                                 "\nHome: the bxgrab project (see its README)";
        bx::ui::Application().MessageBox(text, "About", bx::ui::MB_OK | bx::ui::MB_ICONINFORMATION);
        return S_OK;
    });
}

}  // namespace ferro
