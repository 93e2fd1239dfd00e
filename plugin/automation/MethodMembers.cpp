// IBXTessvikFerroFW's methods: session, live video, acquisition, settings file and the floating
// settings panel. Each forwards to the form; what the form raises becomes an automation error.
#include <bxplatform/com_string.h>

#include "automation/BXTessvikFerroFWImpl.h"
#include "automation/Members.h"
#include "control/BXTessvikGrabImpl1.h"
#include "live/BXTessvikFocus.h"

namespace ferro {

using namespace automation;

HRESULT TBXTessvikFerroFWImpl::Initialise() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->Initialise();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::Quit() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->Quit();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::EnableLiveVideo() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        StartLive(*form_);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::DisableLiveVideo() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        StopLive(*form_);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::Grab() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->Grab();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::Snap() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->Snap();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::GetImage(LONG* hMMImage) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        if (hMMImage == nullptr) return E_POINTER;
        *hMMImage = form_->GetImage();
        return S_OK;
    });
}

// Ends the pre-trigger phase of a running grab.
HRESULT TBXTessvikFerroFWImpl::PreTriggerClick() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->PreTriggerClick();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::FrameTriggerClick() {
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::PostTriggerClick() {
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::SetAcquisitionPalette(INT Index) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->SetAcquisitionPalette(Index);
        return S_OK;
    });
}

// The settings panel floats on the desktop: the form leaves its container.
HRESULT TBXTessvikFerroFWImpl::ShowConfiguration() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->SetParentWindow(0);
        form_->Show();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::HideConfiguration() {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->Hide();
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::LoadFromRegistry(BSTR UserRegistry) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->LoadFromRegistry(bx::com::BstrToUtf8(UserRegistry));
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::SaveToRegistry(BSTR UserRegistry) {
    return Guarded(IID_IBXTessvikFerroFW, [&] {
        form_->SaveToRegistry(bx::com::BstrToUtf8(UserRegistry));
        return S_OK;
    });
}

}  // namespace ferro
