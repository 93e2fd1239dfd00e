// IPersistStreamInit: the form's own properties (its window, colour, font, scaling, help file,
// cursor) into a container's stream and back. The camera's settings are not part of it: they
// belong to the settings file. The record is text, one "Name=Value" line per property after a
// first line naming the format; a loader ignores names it does not know, so a later version's
// record still loads.
#include <bxplatform/com_stream.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "automation/BXTessvikFerroFWImpl.h"
#include "control/BXTessvikGrabImpl1.h"

namespace ferro {

namespace {

constexpr const char* kRecordHeader = "BXFORM 1";
constexpr ULONG kRecordMax = 4096;  // what a container reserves for the record

struct FormProperty {
    const char* Name;
    std::function<std::string(const TBXTessvikFerroFW&)> Get;
    std::function<void(TBXTessvikFerroFW&, const std::string&)> Set;
};

int Number(const std::string& text) {
    return bx::ui::StrToIntDef(text, 0);
}

// Line breaks and backslashes escaped, so every value stays on its line.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '\n' || c == '\r') out += '\\';
        out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
    }
    return out;
}
std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

#define BX_INT_PROPERTY(name, get, set)                                        \
    {                                                                          \
        name, [](const TBXTessvikFerroFW& f) { return std::to_string(get); },  \
            [](TBXTessvikFerroFW& f, const std::string& v) { set(Number(v)); } \
    }

const std::vector<FormProperty>& Properties() {
    using F = TBXTessvikFerroFW;
    static const std::vector<FormProperty> properties = {
        BX_INT_PROPERTY("Left", f.Left(), f.SetLeft),
        BX_INT_PROPERTY("Top", f.Top(), f.SetTop),
        BX_INT_PROPERTY("Width", f.Width(), f.SetWidth),
        BX_INT_PROPERTY("Height", f.Height(), f.SetHeight),
        BX_INT_PROPERTY("AutoScroll", f.AutoScroll(), f.SetAutoScroll),
        BX_INT_PROPERTY("AxBorderStyle", static_cast<int>(f.AxBorderStyle()),
                        [&f](int v) {
                            if (v >= 0 && v <= 3)
                                f.SetAxBorderStyle(static_cast<bx::ui::TActiveFormBorderStyle>(v));
                        }),
        BX_INT_PROPERTY("Color", f.Color(), f.SetColor),
        BX_INT_PROPERTY("KeyPreview", f.KeyPreview(), f.SetKeyPreview),
        BX_INT_PROPERTY("PixelsPerInch", f.PixelsPerInch(), f.SetPixelsPerInch),
        BX_INT_PROPERTY("PrintScale", static_cast<int>(f.PrintScale()),
                        [&f](int v) {
                            if (v >= 0 && v <= 2)
                                f.SetPrintScale(static_cast<bx::ui::TPrintScale>(v));
                        }),
        BX_INT_PROPERTY("Scaled", f.Scaled(), f.SetScaled),
        BX_INT_PROPERTY("DropTarget", f.DropTarget(), f.SetDropTarget),
        BX_INT_PROPERTY("WindowState", static_cast<int>(f.WindowState()),
                        [&f](int v) {
                            if (v >= 0 && v <= 2)
                                f.SetWindowState(static_cast<bx::ui::TWindowState>(v));
                        }),
        BX_INT_PROPERTY("Enabled", f.Enabled(), f.SetEnabled),
        BX_INT_PROPERTY("Cursor", f.Cursor(), f.SetCursor),
        {"HelpFile", [](const F& f) { return Escape(f.HelpFile()); },
         [](F& f, const std::string& v) { f.SetHelpFile(Unescape(v)); }},
        {"Font.Name", [](const F& f) { return Escape(f.Font().Name); },
         [](F& f, const std::string& v) {
             bx::ui::TFont font = f.Font();
             font.Name = Unescape(v);
             f.SetFont(font);
         }},
        BX_INT_PROPERTY("Font.Size", f.Font().Size,
                        [&f](int v) {
                            bx::ui::TFont font = f.Font();
                            if (v > 0) font.Size = v;
                            f.SetFont(font);
                        }),
        BX_INT_PROPERTY("Font.Color", f.Font().Color, f.SetFontColor),
        BX_INT_PROPERTY("Font.Style", f.Font().Style,
                        [&f](int v) {
                            bx::ui::TFont font = f.Font();
                            font.Style = static_cast<uint8_t>(v & 0x0F);
                            f.SetFont(font);
                        }),
    };
    return properties;
}

#undef BX_INT_PROPERTY

std::string Record(const TBXTessvikFerroFW& form) {
    std::string text = std::string(kRecordHeader) + "\n";
    for (const FormProperty& p : Properties()) text += p.Name + ("=" + p.Get(form)) + "\n";
    return text;
}

// False for a text that is no record of this kind; the form is then unchanged.
bool ApplyRecord(TBXTessvikFerroFW& form, const std::string& text) {
    std::vector<std::pair<std::string, std::string>> values;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != kRecordHeader) return false;
            first = false;
            continue;
        }
        if (const size_t eq = line.find('='); eq != std::string::npos)
            values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    if (first) return false;
    for (const auto& [name, value] : values)
        for (const FormProperty& p : Properties())
            if (name == p.Name) p.Set(form, value);
    return true;
}

}  // namespace

HRESULT TBXTessvikFerroFWImpl::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_BXTessvikFerroFW;
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::IsDirty() {
    return Record(*form_) == savedRecord_ ? S_FALSE : S_OK;
}

HRESULT TBXTessvikFerroFWImpl::Load(IStream* stream) {
    return Guarded(IID_IPersistStreamInit, [&] {
        if (stream == nullptr) return E_POINTER;
        std::string text;
        char buffer[512];
        for (ULONG read = 0; text.size() <= kRecordMax &&
                             SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0;)
            text.append(buffer, read);
        if (text.size() > kRecordMax || !ApplyRecord(*form_, text)) return E_FAIL;
        savedRecord_ = Record(*form_);
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::Save(IStream* stream, BOOL clearDirty) {
    return Guarded(IID_IPersistStreamInit, [&] {
        if (stream == nullptr) return E_POINTER;
        const std::string text = Record(*form_);
        ULONG written = 0;
        const HRESULT hr = stream->Write(text.data(), static_cast<ULONG>(text.size()), &written);
        if (FAILED(hr)) return hr;
        if (written != text.size()) return STG_E_MEDIUMFULL;
        if (clearDirty) savedRecord_ = text;
        return S_OK;
    });
}

HRESULT TBXTessvikFerroFWImpl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    size->QuadPart = kRecordMax;
    return S_OK;
}

HRESULT TBXTessvikFerroFWImpl::InitNew() {
    savedRecord_ = Record(*form_);
    return S_OK;
}

}  // namespace ferro
