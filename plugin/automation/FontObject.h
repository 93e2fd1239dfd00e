// The font object the Font property hands out: a dispatch object with the standard font
// properties that reads and changes the control form's font for as long as the control lives
// (after that it keeps the last values and changes nothing). Also the copy of another font's
// attributes that Font's put does.
//
// Thread rule: thread-bound to the control's thread, like the form it changes.
#pragma once

#include <bxplatform/com.h>

#include <memory>
#include <mutex>

#include <bxcamera/interfaces.h>

namespace ferro {

class TBXTessvikFerroFW;

// The form a font object changes; the automation object clears it when it goes.
struct FontTarget {
    std::mutex Mutex;
    TBXTessvikFerroFW* Form = nullptr;
};

// A new font object over the target's form font.
bx::com::ComPtr<IFontDisp> MakeFontObject(std::shared_ptr<FontTarget> target);

// Copies name, size, bold, italic, underline, strike-out and character set from any font
// dispatch object (read through Invoke, as from a host's own font) into the form's font.
// E_POINTER for a null font; attributes the font does not answer are left as they are.
HRESULT CopyFontInto(TBXTessvikFerroFW& form, IFontDisp* font);

}  // namespace ferro
