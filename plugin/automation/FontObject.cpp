// The Font property's object and the copy of a host's font.
#include "automation/FontObject.h"

#include <bxplatform/com_dispatch.h>

#include <cmath>
#include <optional>

#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

namespace {

// The standard font properties and their DISPIDs.
constexpr DISPID kFontName = 0, kFontSize = 2, kFontBold = 3, kFontItalic = 4, kFontUnderline = 5,
                 kFontStrikethrough = 6, kFontCharset = 8;

// The font properties as a function table, for the description; hosts reach them by Invoke.
class IFontProperties : public IFontDisp {
public:
    virtual HRESULT get_Name(BSTR* value) = 0;
    virtual HRESULT put_Name(BSTR value) = 0;
    virtual HRESULT get_Size(double* value) = 0;  // points
    virtual HRESULT put_Size(double value) = 0;
    virtual HRESULT get_Bold(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Bold(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Italic(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Italic(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Underline(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Underline(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Strikethrough(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Strikethrough(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Charset(SHORT* value) = 0;
    virtual HRESULT put_Charset(SHORT value) = 0;

protected:
    ~IFontProperties() = default;
};

}  // namespace
}  // namespace ferro

BX_COM_INTERFACE(ferro::IFontProperties, IFontDisp, IID_IFontDisp);

namespace ferro {
namespace {

const bx::com::InterfaceDescription& DescribeFont() {
    using M = bx::com::Member;
    using F = IFontProperties;
    static const bx::com::InterfaceDescription description{
        u"IFontDisp",
        IID_IFontDisp,
        u"Font",
        {M::Of<&F::get_Name>(u"Name", kFontName, bx::com::PropGet),
         M::Of<&F::put_Name>(u"Name", kFontName, bx::com::PropPut),
         M::Of<&F::get_Size>(u"Size", kFontSize, bx::com::PropGet),
         M::Of<&F::put_Size>(u"Size", kFontSize, bx::com::PropPut),
         M::Of<&F::get_Bold>(u"Bold", kFontBold, bx::com::PropGet).Bool(),
         M::Of<&F::put_Bold>(u"Bold", kFontBold, bx::com::PropPut).Bool(),
         M::Of<&F::get_Italic>(u"Italic", kFontItalic, bx::com::PropGet).Bool(),
         M::Of<&F::put_Italic>(u"Italic", kFontItalic, bx::com::PropPut).Bool(),
         M::Of<&F::get_Underline>(u"Underline", kFontUnderline, bx::com::PropGet).Bool(),
         M::Of<&F::put_Underline>(u"Underline", kFontUnderline, bx::com::PropPut).Bool(),
         M::Of<&F::get_Strikethrough>(u"Strikethrough", kFontStrikethrough, bx::com::PropGet)
             .Bool(),
         M::Of<&F::put_Strikethrough>(u"Strikethrough", kFontStrikethrough, bx::com::PropPut)
             .Bool(),
         M::Of<&F::get_Charset>(u"Charset", kFontCharset, bx::com::PropGet),
         M::Of<&F::put_Charset>(u"Charset", kFontCharset, bx::com::PropPut)},
        TYPEFLAG_FDISPATCHABLE};
    return description;
}

class FontObject final
    : public bx::com::RefCounted<bx::com::DispatchFrom<IFontProperties, &DescribeFont>> {
public:
    explicit FontObject(std::shared_ptr<FontTarget> target) : target_(std::move(target)) {
        std::lock_guard lock(target_->Mutex);
        if (target_->Form != nullptr) last_ = target_->Form->Font();
    }

    HRESULT get_Name(BSTR* value) override {
        if (value == nullptr) return E_POINTER;
        *value = bx::com::Utf8ToBstr(Read().Name);
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_Name(BSTR value) override {
        return Change([&](bx::ui::TFont& f) { f.Name = bx::com::BstrToUtf8(value); });
    }
    HRESULT get_Size(double* value) override { return Put(value, double(Read().Size)); }
    HRESULT put_Size(double value) override {
        if (!(value > 0 && value < 4096)) return E_INVALIDARG;
        return Change([&](bx::ui::TFont& f) { f.Size = static_cast<int>(std::lround(value)); });
    }
    HRESULT get_Bold(VARIANT_BOOL* v) override { return Style(v, bx::ui::fsBold); }
    HRESULT put_Bold(VARIANT_BOOL v) override { return SetStyle(v, bx::ui::fsBold); }
    HRESULT get_Italic(VARIANT_BOOL* v) override { return Style(v, bx::ui::fsItalic); }
    HRESULT put_Italic(VARIANT_BOOL v) override { return SetStyle(v, bx::ui::fsItalic); }
    HRESULT get_Underline(VARIANT_BOOL* v) override { return Style(v, bx::ui::fsUnderline); }
    HRESULT put_Underline(VARIANT_BOOL v) override { return SetStyle(v, bx::ui::fsUnderline); }
    HRESULT get_Strikethrough(VARIANT_BOOL* v) override { return Style(v, bx::ui::fsStrikeOut); }
    HRESULT put_Strikethrough(VARIANT_BOOL v) override { return SetStyle(v, bx::ui::fsStrikeOut); }
    HRESULT get_Charset(SHORT* value) override { return Put(value, SHORT(Read().Charset)); }
    HRESULT put_Charset(SHORT value) override {
        if (value < 0 || value > 255) return E_INVALIDARG;
        return Change([&](bx::ui::TFont& f) { f.Charset = static_cast<uint8_t>(value); });
    }

private:
    template <class T>
    static HRESULT Put(T* out, T value) {
        if (out == nullptr) return E_POINTER;
        *out = value;
        return S_OK;
    }
    bx::ui::TFont Read() {
        std::lock_guard lock(target_->Mutex);
        if (target_->Form != nullptr) last_ = target_->Form->Font();
        return last_;
    }
    template <class Edit>
    HRESULT Change(Edit&& edit) {
        std::lock_guard lock(target_->Mutex);
        if (target_->Form == nullptr) return E_UNEXPECTED;  // the control is gone
        bx::ui::TFont font = target_->Form->Font();
        edit(font);
        target_->Form->SetFont(font);
        last_ = font;
        return S_OK;
    }
    HRESULT Style(VARIANT_BOOL* out, uint8_t bit) {
        return Put(out, (Read().Style & bit) != 0 ? VARIANT_TRUE : VARIANT_FALSE);
    }
    HRESULT SetStyle(VARIANT_BOOL on, uint8_t bit) {
        return Change([&](bx::ui::TFont& f) {
            f.Style = static_cast<uint8_t>(on != 0 ? f.Style | bit : f.Style & ~bit);
        });
    }

    std::shared_ptr<FontTarget> target_;
    bx::ui::TFont last_;
};

// One property of a font read through Invoke, as `vt`; nothing when the font does not answer.
std::optional<bx::com::Variant> ReadFontProperty(IFontDisp& font, DISPID id, VARTYPE vt) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    bx::com::Variant value, converted;
    if (FAILED(font.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                           nullptr, nullptr)) ||
        FAILED(VariantChangeType(&converted, &value, 0, vt)))
        return std::nullopt;
    return converted;
}

}  // namespace

bx::com::ComPtr<IFontDisp> MakeFontObject(std::shared_ptr<FontTarget> target) {
    return bx::com::ComPtr<IFontDisp>(bx::com::Make<FontObject>(std::move(target)).Get());
}

HRESULT CopyFontInto(TBXTessvikFerroFW& form, IFontDisp* font) {
    if (font == nullptr) return E_POINTER;
    bx::ui::TFont f = form.Font();
    if (auto name = ReadFontProperty(*font, kFontName, VT_BSTR))
        f.Name = bx::com::BstrToUtf8(name->bstrVal);
    if (auto size = ReadFontProperty(*font, kFontSize, VT_R8); size && size->dblVal > 0)
        f.Size = static_cast<int>(std::lround(std::fmin(size->dblVal, 4095)));
    const std::pair<DISPID, uint8_t> styles[] = {{kFontBold, bx::ui::fsBold},
                                                 {kFontItalic, bx::ui::fsItalic},
                                                 {kFontUnderline, bx::ui::fsUnderline},
                                                 {kFontStrikethrough, bx::ui::fsStrikeOut}};
    for (const auto& [id, bit] : styles) {
        if (auto on = ReadFontProperty(*font, id, VT_BOOL))
            f.Style = static_cast<uint8_t>(on->boolVal != 0 ? f.Style | bit : f.Style & ~bit);
    }
    if (auto charset = ReadFontProperty(*font, kFontCharset, VT_I2))
        f.Charset = static_cast<uint8_t>(charset->iVal & 0xFF);
    form.SetFont(f);
    return S_OK;
}

}  // namespace ferro
