// Member and interface descriptions, GetIDsOfNames and Invoke over them.
//
// Invoke is the late-bound twin of a direct call, so its cost is kept to the coercion and one
// virtual call: the member is found by binary search in a table sorted by (DISPID, kind) built
// once, and every temporary lives in fixed arrays on the stack (a member has at most
// kMaxParams parameters). Names are only looked at in GetIDsOfNames.
#include <bxplatform/com_dispatch.h>
#include <bxplatform/com_error.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bx::com {

namespace {

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

// Three-way comparison ignoring ASCII case.
int CompareFolded(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldAscii(a[i]), y = FoldAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
    return CompareFolded(a, b) == 0;
}

// Size in bytes of a by-value automation type a parameter may have (0: none).
size_t ValueSize(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
            return 4;
        case VT_R8:
            return 8;
        default:
            return 0;
    }
}

[[noreturn]] void Reject(std::u16string_view member, const char* what) {
    throw std::invalid_argument("dispatch description: member " + ToUtf8(member) + ": " + what);
}

bool IsPut(INVOKEKIND kind) {
    return kind == INVOKE_PROPERTYPUT || kind == INVOKE_PROPERTYPUTREF;
}

}  // namespace

// ---- Member ----------------------------------------------------------------------------------

Member::Member(std::u16string_view name, DISPID id, MemberKind kind, detail::Thunk thunk,
               detail::FastThunk fast, int slot, std::span<const detail::ParamShape> shapes,
               std::initializer_list<Param> params)
    : name_(name),
      id_(id),
      kind_(kind.invoke),
      retval_(kind.retval),
      thunk_(thunk),
      fast_(fast),
      slot_(slot),
      count_(shapes.size()) {
    if (name.empty()) Reject(name, "has no name");
    if (shapes.size() > kMaxParams) Reject(name, "has too many parameters");
    if (retval_ && (shapes.empty() || !shapes.back().pointer)) {
        Reject(name, "returns a value but its last parameter is not a pointer");
    }
    if (IsPut(kind_) && (retval_ || shapes.empty())) {
        Reject(name, "is a property put without a value");
    }
    const size_t visible = shapes.size() - (retval_ ? 1 : 0);
    if (params.size() > visible) Reject(name, "names more parameters than it has");

    params_.reserve(shapes.size());
    for (size_t i = 0; i < shapes.size(); ++i) {
        Parameter p{{}, shapes[i].vt, shapes[i].pointer, PARAMFLAG_FIN, {}};
        if (shapes[i].pointer) p.flags |= PARAMFLAG_FOUT;
        if (retval_ && i + 1 == shapes.size()) p.flags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
        if (i < params.size()) {
            const Param& given = params.begin()[i];
            p.name = given.name;
            if (given.optional) p.flags |= PARAMFLAG_FOPT;
            if (given.defaultValue.vt != VT_EMPTY) {
                p.flags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
                p.defaultValue = given.defaultValue;
            }
        }
        vts_[i] = p.vt;
        params_.push_back(std::move(p));
    }
    // A last pointer that is no return value is an [in, out] argument: the general path's.
    if (!shapes.empty() && shapes.back().pointer && !retval_) fast_ = nullptr;
}

Member Member::Help(std::u16string_view text) && {
    help_ = text;
    return std::move(*this);
}

Member Member::Bool() && {
    for (size_t i = 0; i < params_.size(); ++i) {
        if (params_[i].vt == VT_I2) params_[i].vt = vts_[i] = VT_BOOL;
    }
    return std::move(*this);
}

Member Member::ParamType(size_t index, VARTYPE vt) && {
    if (index >= params_.size()) Reject(name_, "ParamType index out of range");
    const size_t size = ValueSize(params_[index].vt);
    if (size == 0 || ValueSize(vt) != size || vt == VT_R4 || params_[index].vt == VT_R4) {
        Reject(name_, "ParamType needs an integer type of the same size");
    }
    params_[index].vt = vts_[index] = vt;
    return std::move(*this);
}

// ---- Interface description -----------------------------------------------------------------

// The lookup tables, built once: members by DISPID and kind, and distinct names. Small
// non-negative DISPIDs (the usual ones) index an array directly; the rest (negative standard
// ones like -501, large ones) are found by binary search.
struct InterfaceDescription::Index {
    // The members sharing one DISPID, by kind: method, get, put, putref.
    struct Kinds {
        const Member* of[4] = {};
    };
    struct Sparse {
        DISPID id;
        Kinds kinds;
    };
    struct ByName {
        std::u16string_view name;  // points into the member's name
        DISPID id;
    };
    static constexpr DISPID kDenseLimit = 4096;

    std::vector<Kinds> dense;    // index = DISPID, for 0 <= DISPID < dense.size()
    std::vector<Sparse> sparse;  // sorted by id
    std::vector<ByName> byName;  // sorted ignoring ASCII case

    static size_t KindIndex(INVOKEKIND kind) {
        switch (kind) {
            case INVOKE_FUNC:
                return 0;
            case INVOKE_PROPERTYGET:
                return 1;
            case INVOKE_PROPERTYPUT:
                return 2;
            default:
                return 3;
        }
    }

    const Kinds* Find(DISPID id) const {
        if (id >= 0 && static_cast<size_t>(id) < dense.size()) return &dense[size_t(id)];
        auto it = std::lower_bound(sparse.begin(), sparse.end(), id,
                                   [](const Sparse& e, DISPID key) { return e.id < key; });
        return it != sparse.end() && it->id == id ? &it->kinds : nullptr;
    }

    // The member Invoke with these flags calls. Puts are told apart from gets by the flags
    // alone; a scripting host sends METHOD and PROPERTYGET together when it cannot tell a
    // method from a property.
    const Member* Find(DISPID id, WORD flags) const {
        const Kinds* kinds = Find(id);
        if (!kinds) return nullptr;
        const Member* const* of = kinds->of;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            const Member* m = (flags & DISPATCH_PROPERTYPUT) ? of[2] : nullptr;
            return m ? m : ((flags & DISPATCH_PROPERTYPUTREF) ? of[3] : nullptr);
        }
        const Member* m = (flags & DISPATCH_METHOD) ? of[0] : nullptr;
        return m ? m : ((flags & DISPATCH_PROPERTYGET) ? of[1] : nullptr);
    }

    // Adds a member; false when its DISPID and kind are taken.
    bool Add(const Member& m) {
        Kinds* kinds;
        if (m.Id() >= 0 && m.Id() < kDenseLimit) {
            if (dense.size() <= size_t(m.Id())) dense.resize(size_t(m.Id()) + 1);
            kinds = &dense[size_t(m.Id())];
        } else {
            auto it = std::lower_bound(sparse.begin(), sparse.end(), m.Id(),
                                       [](const Sparse& e, DISPID key) { return e.id < key; });
            if (it == sparse.end() || it->id != m.Id()) it = sparse.insert(it, {m.Id(), {}});
            kinds = &it->kinds;
        }
        const Member*& slot = kinds->of[KindIndex(m.Kind())];
        if (slot) return false;
        slot = &m;
        return true;
    }
};

InterfaceDescription::InterfaceDescription(std::u16string_view name, const IID& iid,
                                           std::u16string_view help,
                                           std::initializer_list<Member> members, WORD typeFlags)
    : name_(name), iid_(iid), help_(help), typeFlags_(typeFlags), members_(members) {
    auto index = std::make_unique<Index>();
    constexpr int kDispatchSlots = 7;  // IUnknown's three and IDispatch's four
    for (size_t i = 0; i < members_.size(); ++i) {
        const Member& m = members_[i];
        if ((typeFlags_ & TYPEFLAG_FDUAL) && m.VtableSlot() >= 0 &&
            m.VtableSlot() != kDispatchSlots + static_cast<int>(i)) {
            Reject(m.Name(), "is listed out of function-table order");
        }
        if (!index->Add(m)) Reject(m.Name(), "repeats a DISPID and kind");
        const Member* first = FindAny(m.Id());
        if (first != &m && !EqualFolded(first->Name(), m.Name())) {
            Reject(m.Name(), "shares its DISPID with another name");
        }
    }
    for (const Member& m : members_) {
        auto it =
            std::find_if(index->byName.begin(), index->byName.end(),
                         [&](const Index::ByName& e) { return EqualFolded(e.name, m.Name()); });
        if (it == index->byName.end()) {
            index->byName.push_back({m.Name(), m.Id()});
        } else if (it->id != m.Id()) {
            Reject(m.Name(), "has two DISPIDs");
        }
    }
    std::sort(index->byName.begin(), index->byName.end(),
              [](const Index::ByName& a, const Index::ByName& b) {
                  return CompareFolded(a.name, b.name) < 0;
              });
    quickCount_ = index->dense.size();
    quickTable_.resize(quickCount_ * 3);
    for (size_t id = 0; id < quickCount_; ++id)
        for (size_t k = 0; k < 3; ++k) quickTable_[id * 3 + k] = index->dense[id].of[k];
    quick_ = quickTable_.data();
    index_ = std::move(index);
}

InterfaceDescription::~InterfaceDescription() = default;

const Member* InterfaceDescription::Find(DISPID id, WORD flags) const {
    return index_->Find(id, flags);
}

const Member* InterfaceDescription::FindAny(DISPID id) const {
    for (const Member& m : members_) {
        if (m.Id() == id) return &m;
    }
    return nullptr;
}

HRESULT InterfaceDescription::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    std::fill(ids, ids + count, DISPID_UNKNOWN);
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    const std::u16string_view wanted(names[0]);
    auto it = std::lower_bound(index_->byName.begin(), index_->byName.end(), wanted,
                               [](const Index::ByName& e, std::u16string_view key) {
                                   return CompareFolded(e.name, key) < 0;
                               });
    if (it == index_->byName.end() || !EqualFolded(it->name, wanted)) return DISP_E_UNKNOWNNAME;
    ids[0] = it->id;

    HRESULT hr = S_OK;
    for (UINT k = 1; k < count; ++k) {
        // A parameter name may belong to any member sharing the DISPID (get, put, method).
        for (const Member& m : members_) {
            if (m.Id() != it->id || !names[k]) continue;
            for (size_t pos = 0; pos < m.ArgCount(); ++pos) {
                if (!m.Params()[pos].name.empty() && EqualFolded(m.Params()[pos].name, names[k])) {
                    ids[k] = static_cast<DISPID>(pos);
                    break;
                }
            }
            if (ids[k] != DISPID_UNKNOWN) break;
        }
        if (ids[k] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

// ---- Invoke --------------------------------------------------------------------------------

namespace {

// reserved == IID_NULL in two loads; GUID's own comparison goes field by field.
bool IsNullIid(REFIID iid) {
    uint64_t half[2];
    std::memcpy(half, &iid, sizeof half);
    return (half[0] | half[1]) == 0;
}

// What a failed coercion reports: overflow and bad types as they are, the rest as a mismatch.
HRESULT ArgumentFailure(HRESULT hr) {
    return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY || hr == DISP_E_BADVARTYPE
               ? hr
               : DISP_E_TYPEMISMATCH;
}

// The arguments of one call, matched to the member's parameters and coerced. slots[] is what
// the thunk reads; store[] holds values the member reaches through a pointer (return value,
// by-reference arguments that had to be converted) and owns them until they are handed on.
class Binding {
public:
    Binding(const Member& member, const DISPPARAMS& params, UINT* argError)
        : member_(member), params_(params), argError_(argError), count_(member.ParamCount()) {}
    ~Binding() {
        for (uint32_t m = owned_; m; m &= m - 1) VariantClear(&slots[std::countr_zero(m)]);
        for (uint32_t m = stored_; m; m &= m - 1) VariantClear(&store_[std::countr_zero(m)]);
    }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    HRESULT Bind() {
        // Without arguments there is nothing to match (a put always has its value).
        if (params_.cArgs > 0 || IsPut(member_.Kind())) {
            if (HRESULT hr = MatchArguments(); FAILED(hr)) return hr;
        }
        const size_t argc = member_.ArgCount();
        for (size_t i = 0; i < argc; ++i) {
            if (HRESULT hr = BindParameter(i); FAILED(hr)) return hr;
        }
        if (member_.HasRetVal()) PointAtStore(count_ - 1, member_.Params()[count_ - 1]);
        return S_OK;
    }

    // After a successful call: converted by-reference values go back to the caller's
    // VARIANTs, the return value into *result.
    void Deliver(VARIANT* result) {
        for (uint32_t m = writesBack_; m; m &= m - 1) {
            const int i = std::countr_zero(m);
            VariantClear(writeBack_[i]);
            *writeBack_[i] = store_[i];
            stored_ &= ~Bit(size_t(i));
        }
        if (!result) return;
        if (member_.HasRetVal()) {
            MoveValue(store_[count_ - 1], *result);
            stored_ &= ~Bit(count_ - 1);
        } else {
            *result = VARIANT{};
        }
    }

    // What the thunk reads; slots the binding owns are marked in owned_, the others borrow
    // the caller's value or point elsewhere.
    VARIANT slots[kMaxParams];

private:
    static uint32_t Bit(size_t i) { return uint32_t{1} << i; }

    // Moves a value the member wrote through a pointer, reading only as many bytes as it
    // wrote (a wider read of a just-written narrow value stalls the processor).
    static void MoveValue(const VARIANT& from, VARIANT& to) {
        to = VARIANT{};
        to.vt = from.vt;
        switch (from.vt) {
            case VT_I2:
            case VT_UI2:
            case VT_BOOL:
                to.iVal = from.iVal;
                break;
            case VT_I4:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_R4:
                to.lVal = from.lVal;
                break;
            default:
                to = from;
                break;
        }
    }

    HRESULT Fail(HRESULT hr, UINT index) {
        if (argError_) *argError_ = index;
        return hr;
    }

    // Finds each parameter's argument: named ones first in rgvarg, then the positional ones
    // in reverse order.
    HRESULT MatchArguments() {
        const size_t argc = member_.ArgCount();
        const bool put = IsPut(member_.Kind());
        const size_t indexable = put ? argc - 1 : argc;
        for (UINT i = 0; i < params_.cNamedArgs; ++i) {
            const DISPID named = params_.rgdispidNamedArgs[i];
            size_t pos;
            if (put && named == DISPID_PROPERTYPUT) {
                pos = argc - 1;
            } else if (named >= 0 && static_cast<size_t>(named) < indexable) {
                pos = static_cast<size_t>(named);
            } else {
                return Fail(DISP_E_PARAMNOTFOUND, i);
            }
            if (sourced_ & Bit(pos)) return Fail(DISP_E_PARAMNOTFOUND, i);
            sourced_ |= Bit(pos);
            source_[pos] = &params_.rgvarg[i];
            sourceIndex_[pos] = i;
        }
        if (put && !(sourced_ & Bit(argc - 1))) return DISP_E_PARAMNOTOPTIONAL;
        const UINT positional = params_.cArgs - params_.cNamedArgs;
        if (positional > indexable) return DISP_E_BADPARAMCOUNT;
        for (UINT j = 0; j < positional; ++j) {
            if (sourced_ & Bit(j)) return Fail(DISP_E_PARAMNOTFOUND, sourceIndex_[j]);
            sourced_ |= Bit(j);
            const UINT index = params_.cArgs - 1 - j;
            source_[j] = &params_.rgvarg[index];
            sourceIndex_[j] = index;
        }
        return S_OK;
    }

    HRESULT BindParameter(size_t i) {
        const Member::Parameter& p = member_.Params()[i];
        const VARIANT* src = (sourced_ & Bit(i)) ? source_[i] : nullptr;
        const bool missing = !src || (src->vt == VT_ERROR && src->scode == DISP_E_PARAMNOTFOUND);
        if (missing) {
            if (!(p.flags & PARAMFLAG_FOPT)) {
                if (src) return Fail(DISP_E_PARAMNOTOPTIONAL, sourceIndex_[i]);
                return params_.cNamedArgs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
            }
            if (p.flags & PARAMFLAG_FHASDEFAULT) return Coerce(i, p, p.defaultValue, false);
            if (p.pointer) {
                PointAtStore(i, p);
            } else {
                slots[i] = VARIANT{};  // zero of its type
                slots[i].vt = p.vt;
                if (p.vt == VT_VARIANT) {
                    slots[i].vt = VT_ERROR;
                    slots[i].scode = DISP_E_PARAMNOTFOUND;
                }
            }
            return S_OK;
        }
        return Coerce(i, p, *src, true);
    }

    // The member reaches store_[i] through the pointer in slots[i]; the store starts as zero
    // of its type.
    void PointAtStore(size_t i, const Member::Parameter& p) {
        store_[i] = VARIANT{};
        if (p.vt != VT_VARIANT) store_[i].vt = p.vt;
        stored_ |= Bit(i);
        slots[i] = VARIANT{};
        slots[i].vt = VT_BYREF | p.vt;
        slots[i].byref = p.vt == VT_VARIANT ? static_cast<void*>(&store_[i])
                                            : static_cast<void*>(&store_[i].llVal);
    }

    // Converts `value` into `out` as parameter type p.vt (a VARIANT parameter takes a copy).
    static HRESULT ConvertInto(VARIANT& out, const Member::Parameter& p, const VARIANT& value) {
        if (p.vt == VT_VARIANT) return VariantCopyInd(&out, &value);
        return VariantChangeType(&out, &value, 0, p.vt);
    }

    HRESULT Coerce(size_t i, const Member::Parameter& p, const VARIANT& src, bool fromCaller) {
        // A default value is ours; a failure to convert it is not the caller's argument.
        auto fail = [&](HRESULT hr) {
            hr = ArgumentFailure(hr);
            return fromCaller ? Fail(hr, sourceIndex_[i]) : hr;
        };
        if (!p.pointer) {
            // The caller's value as it is when it has the type already (the member does not
            // own an in parameter); otherwise a converted copy the binding owns.
            if (src.vt == p.vt || (p.vt == VT_VARIANT && !(src.vt & VT_BYREF))) {
                slots[i] = src;
                return S_OK;
            }
            slots[i] = VARIANT{};
            HRESULT hr = ConvertInto(slots[i], p, src);
            if (FAILED(hr)) return fail(hr);
            owned_ |= Bit(i);
            return S_OK;
        }
        const VARTYPE byRef = VT_BYREF | p.vt;
        if (src.vt == byRef) {
            // The caller's own storage: the member writes straight through.
            if (!src.byref) return fail(E_INVALIDARG);
            slots[i] = VARIANT{};
            slots[i].vt = byRef;
            slots[i].byref = src.byref;
            return S_OK;
        }
        if (src.vt == (VT_BYREF | VT_VARIANT)) {
            // A reference to a VARIANT of another type: work on a converted copy and put the
            // result back after the call. An empty VARIANT is an out variable, starting at zero.
            VARIANT* target = src.pvarVal;
            if (!target) return fail(E_INVALIDARG);
            PointAtStore(i, p);
            if (target->vt != VT_EMPTY) {
                if (HRESULT hr = ConvertInto(store_[i], p, *target); FAILED(hr)) return fail(hr);
            }
            writeBack_[i] = target;
            writesBack_ |= Bit(i);
            return S_OK;
        }
        if (src.vt & VT_BYREF) return fail(DISP_E_TYPEMISMATCH);
        // A plain value for a by-reference parameter: the member sees it, its change is dropped.
        PointAtStore(i, p);
        HRESULT hr = ConvertInto(store_[i], p, src);
        return FAILED(hr) ? fail(hr) : S_OK;
    }

    const Member& member_;
    const DISPPARAMS& params_;
    UINT* argError_;
    const size_t count_;
    const VARIANT* source_[kMaxParams];
    UINT sourceIndex_[kMaxParams];
    VARIANT store_[kMaxParams];
    VARIANT* writeBack_[kMaxParams];
    uint32_t sourced_ = 0;     // parameters with an argument in source_
    uint32_t writesBack_ = 0;  // parameters whose value goes back to writeBack_
    uint32_t owned_ = 0;       // slots holding a converted copy
    uint32_t stored_ = 0;      // store_ entries holding a value
};

}  // namespace

HRESULT InterfaceDescription::Invoke(void* iface, DISPID id, REFIID reserved, LCID /*lcid*/,
                                     WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) const {
    if (!IsNullIid(reserved)) return DISP_E_UNKNOWNINTERFACE;
    const Member* member = index_->Find(id, flags);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    const DISPPARAMS none{};
    const DISPPARAMS& args = params ? *params : none;
    if (args.cArgs > 0 && !args.rgvarg) return E_INVALIDARG;
    if (args.cNamedArgs > args.cArgs || (args.cNamedArgs > 0 && !args.rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }
    if (detail::FastThunk fast = member->FastCall()) {
        HRESULT hr;
        if (fast(iface, args, IsPut(member->Kind()), member->ParamTypes(), result, &hr)) {
            if (hr == DISP_E_EXCEPTION && exception) FillExcepInfo(exception, hr);
            return hr;
        }
    }
    Binding binding(*member, args, argError);
    if (HRESULT hr = binding.Bind(); FAILED(hr)) return hr;
    const HRESULT hr = member->Call()(iface, binding.slots);
    if (hr == DISP_E_EXCEPTION && exception) FillExcepInfo(exception, hr);
    if (SUCCEEDED(hr)) binding.Deliver(result);
    return hr;
}

}  // namespace bx::com
