// Type-info objects over interface and coclass descriptions, and the coclass description.
//
// An interface's type info is its dispatch view (TKIND_DISPATCH, FUNC_DISPATCH): each
// member's parameters are the ones a caller passes and the return value is the member's
// result type, which is how scripting hosts and binding generators read it. The records
// are built once per object; GetFuncDesc hands out a copy of the top record whose arrays
// stay with the object.
#include <bxplatform/com_dispatch.h>

#include <vector>

namespace bx::com {

namespace {

BSTR AllocText(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Writes name/doc/context/file of GetDocumentation; each out pointer may be null.
HRESULT Document(std::u16string_view name, std::u16string_view help, BSTR* nameOut, BSTR* docOut,
                 DWORD* contextOut, BSTR* fileOut) {
    if (nameOut) *nameOut = AllocText(name);
    if (docOut) *docOut = AllocText(help);
    if (contextOut) *contextOut = 0;
    if (fileOut) *fileOut = nullptr;
    return S_OK;
}

// The records of one member: its FUNCDESC and the arrays it points into.
struct FuncRecords {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointees;  // what VT_PTR parameters point at
    std::vector<PARAMDESCEX> defaults;

    FuncRecords() = default;
    FuncRecords(const FuncRecords&) = delete;
    FuncRecords(FuncRecords&&) = default;
    ~FuncRecords() {
        for (PARAMDESCEX& d : defaults) VariantClear(&d.varDefaultValue);
    }
};

FuncRecords BuildRecords(const Member& m) {
    FuncRecords r;
    const size_t argc = m.ArgCount();
    // Reserved up front: the descriptors point into these arrays.
    r.params.resize(argc);
    r.pointees.resize(argc);
    r.defaults.reserve(argc);
    SHORT trailingOptional = 0;
    for (size_t i = 0; i < argc; ++i) {
        const Member::Parameter& p = m.Params()[i];
        ELEMDESC& e = r.params[i];
        e = {};
        if (p.pointer) {
            r.pointees[i].vt = p.vt;
            e.tdesc.vt = VT_PTR;
            e.tdesc.lptdesc = &r.pointees[i];
        } else {
            e.tdesc.vt = p.vt;
        }
        e.paramdesc.wParamFlags = p.flags;
        if (p.flags & PARAMFLAG_FHASDEFAULT) {
            PARAMDESCEX& d = r.defaults.emplace_back();
            d.cBytes = sizeof(PARAMDESCEX);
            VariantInit(&d.varDefaultValue);
            VariantCopy(&d.varDefaultValue, &p.defaultValue);
            e.paramdesc.pparamdescex = &d;
        }
        trailingOptional = (p.flags & PARAMFLAG_FOPT) ? SHORT(trailingOptional + 1) : SHORT(0);
    }
    FUNCDESC& f = r.desc;
    f.memid = m.Id();
    f.funckind = FUNC_DISPATCH;
    f.invkind = m.Kind();
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<SHORT>(argc);
    f.cParamsOpt = trailingOptional;
    f.oVft = m.VtableSlot() >= 0 ? static_cast<SHORT>(m.VtableSlot() * sizeof(void*)) : SHORT(0);
    f.elemdescFunc.tdesc.vt = m.HasRetVal() ? m.Params().back().vt : VARTYPE(VT_VOID);
    f.lprgelemdescParam = r.params.empty() ? nullptr : r.params.data();
    return r;
}

// One type-info object; over an interface or over a coclass (the other pointer is null).
class TypeInfo final : public RefCounted<ITypeInfo> {
public:
    explicit TypeInfo(const InterfaceDescription& d) : interface_(&d) {
        funcs_.reserve(d.Members().size());
        for (const Member& m : d.Members()) funcs_.push_back(BuildRecords(m));
    }
    explicit TypeInfo(const CoclassDescription& d) : coclass_(&d) {}

    HRESULT GetTypeAttr(TYPEATTR** attr) override {
        if (!attr) return E_INVALIDARG;
        auto* a = new TYPEATTR{};
        a->memidConstructor = MEMBERID_NIL;
        a->memidDestructor = MEMBERID_NIL;
        a->cbSizeInstance = sizeof(void*);
        a->cbAlignment = alignof(void*);
        if (interface_) {
            a->guid = interface_->Iid();
            a->typekind = TKIND_DISPATCH;
            a->cFuncs = static_cast<WORD>(funcs_.size());
            a->cbSizeVft = 7 * sizeof(void*);  // the dispatch view: IUnknown and IDispatch
            a->wTypeFlags = interface_->TypeFlags();
        } else {
            a->guid = coclass_->Clsid();
            a->typekind = TKIND_COCLASS;
            a->cImplTypes = static_cast<WORD>(coclass_->Interfaces().size());
            a->wTypeFlags = coclass_->TypeFlags();
        }
        *attr = a;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
        if (!desc) return E_INVALIDARG;
        *desc = nullptr;
        if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *desc = new FUNCDESC(funcs_[index].desc);
        return S_OK;
    }
    void ReleaseFuncDesc(FUNCDESC* desc) override { delete desc; }

    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
        if (!names || !count) return E_INVALIDARG;
        *count = 0;
        const Member* m = interface_ ? interface_->FindAny(memid) : nullptr;
        if (!m) return TYPE_E_ELEMENTNOTFOUND;
        if (max == 0) return S_OK;
        names[(*count)++] = AllocText(m->Name());
        for (size_t i = 0; i < m->ArgCount() && *count < max; ++i) {
            names[(*count)++] = AllocText(m->Params()[i].name);
        }
        return S_OK;
    }

    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if (!interface_) return DISP_E_UNKNOWNNAME;
        return interface_->GetIDsOfNames(names, count, ids);
    }

    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override {
        if (!interface_) return E_NOTIMPL;
        if (!instance) return E_INVALIDARG;
        return interface_->Invoke(instance, memid, IID_NULL, 0, flags, params, result, exception,
                                  argError);
    }

    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext,
                             BSTR* helpFile) override {
        if (memid == MEMBERID_NIL) {
            return interface_ ? Document(interface_->Name(), interface_->HelpText(), name, doc,
                                         helpContext, helpFile)
                              : Document(coclass_->Name(), coclass_->HelpText(), name, doc,
                                         helpContext, helpFile);
        }
        const Member* m = interface_ ? interface_->FindAny(memid) : nullptr;
        if (!m) return TYPE_E_ELEMENTNOTFOUND;
        return Document(m->Name(), m->HelpText(), name, doc, helpContext, helpFile);
    }

    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override {
        if (!ref) return E_INVALIDARG;
        if (!coclass_ || index >= coclass_->Interfaces().size()) return TYPE_E_ELEMENTNOTFOUND;
        *ref = index;
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
        if (!flags) return E_INVALIDARG;
        if (!coclass_ || index >= coclass_->Interfaces().size()) return TYPE_E_ELEMENTNOTFOUND;
        *flags = coclass_->Interfaces()[index].flags;
        return S_OK;
    }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override {
        if (!info) return E_INVALIDARG;
        *info = nullptr;
        if (!coclass_ || ref >= coclass_->Interfaces().size()) return TYPE_E_ELEMENTNOTFOUND;
        return CreateTypeInfo(*coclass_->Interfaces()[ref].description, info);
    }

    // Not offered: binding, variables, module entry points, instances, containing library.
    HRESULT GetTypeComp(ITypeComp** comp) override { return Unsupported(comp); }
    HRESULT GetVarDesc(UINT, VARDESC** desc) override { return Unsupported(desc); }
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** address) override {
        return Unsupported(address);
    }
    HRESULT CreateInstance(IUnknown*, REFIID, void** object) override {
        return Unsupported(object);
    }
    HRESULT GetMops(MEMBERID, BSTR* mops) override { return Unsupported(mops); }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT*) override { return Unsupported(lib); }
    void ReleaseVarDesc(VARDESC*) override {}

private:
    template <typename T>
    static HRESULT Unsupported(T** out) {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    const InterfaceDescription* interface_ = nullptr;
    const CoclassDescription* coclass_ = nullptr;
    std::vector<FuncRecords> funcs_;
};

template <typename Description>
HRESULT MakeTypeInfo(const Description& d, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = Make<TypeInfo>(d).Detach();
    return S_OK;
}

}  // namespace

HRESULT CreateTypeInfo(const InterfaceDescription& description, ITypeInfo** info) {
    return MakeTypeInfo(description, info);
}

HRESULT CreateTypeInfo(const CoclassDescription& description, ITypeInfo** info) {
    return MakeTypeInfo(description, info);
}

// ---- Coclass description -------------------------------------------------------------------

CoclassDescription::CoclassDescription(std::u16string_view name, const CLSID& clsid,
                                       std::u16string_view help,
                                       std::initializer_list<ImplementedInterface> interfaces,
                                       WORD typeFlags)
    : name_(name), clsid_(clsid), help_(help), typeFlags_(typeFlags), interfaces_(interfaces) {}

const InterfaceDescription* CoclassDescription::DefaultSource() const {
    constexpr INT kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    for (const ImplementedInterface& i : interfaces_) {
        if ((i.flags & kDefaultSource) == kDefaultSource) return i.description;
    }
    return nullptr;
}

HRESULT CoclassDescription::GetGUID(DWORD kind, GUID* guid) const {
    if (!guid) return E_POINTER;
    *guid = IID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    const InterfaceDescription* source = DefaultSource();
    if (!source) return E_FAIL;
    *guid = source->Iid();
    return S_OK;
}

}  // namespace bx::com
