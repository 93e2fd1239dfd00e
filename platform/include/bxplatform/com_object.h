// Component objects: the interfaces IUnknown and IDispatch, the interface-to-IID association
// (bx::com::InterfaceTraits), the smart pointer bx::com::ComPtr and the implementation base
// bx::com::RefCounted that gives an object thread-safe reference counting and QueryInterface.
//
// Thread rule: RefCounted's AddRef, Release and QueryInterface are thread-safe. A ComPtr
// object is thread-bound (like any smart pointer); the object it points at follows its own
// rule.
//
// An interface is a C++ class of pure virtual functions declared in the order of the
// interface's function table, deriving from the interface it extends. Interfaces have no
// virtual destructor: that would add a slot to the table. Their destructor is protected so an
// object cannot be deleted through an interface; it ends only through Release.
#pragma once

#include <bxplatform/com_types.h>
#include <bxplatform/com_variant.h>

#include <atomic>
#include <tuple>
#include <type_traits>
#include <utility>

class IUnknown {
public:
    // Stores a referenced pointer to the requested interface in *object (null and
    // E_NOINTERFACE when it is not supported; E_POINTER when object is null).
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    // Return the new reference count (informational only).
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// Late-bound access to an object's members by DISPID.
class IDispatch : public IUnknown {
public:
    // Number of type descriptions the object provides (0 or 1).
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    // Maps names[0] to a member DISPID and names[1..] to its parameter DISPIDs.
    virtual HRESULT GetIDsOfNames(REFIID reserved, LPOLESTR* names, UINT count, LCID lcid,
                                  DISPID* ids) = 0;
    // Calls member `id`; `flags` says how (DISPATCH_METHOD, _PROPERTYGET, _PROPERTYPUT).
    // On DISP_E_EXCEPTION *exception (when given) describes the failure; on an argument
    // failure *argError (when given) is the index in params->rgvarg of the culprit.
    virtual HRESULT Invoke(DISPID id, REFIID reserved, LCID lcid, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;

protected:
    ~IDispatch() = default;
};

namespace bx::com {

// Associates an interface with its IID and the interface it extends (void for IUnknown).
// Declare one for each interface with BX_COM_INTERFACE below; using an interface without one
// fails to compile.
template <typename Interface>
struct InterfaceTraits;

template <>
struct InterfaceTraits<IUnknown> {
    static constexpr IID iid = IID_IUnknown;
    using Base = void;
};

template <>
struct InterfaceTraits<IDispatch> {
    static constexpr IID iid = IID_IDispatch;
    using Base = IUnknown;
};

template <typename Interface>
constexpr const IID& IidOf() {
    return InterfaceTraits<Interface>::iid;
}

}  // namespace bx::com

// Declares the IID of an interface class and the interface it extends, at global scope:
//   BX_COM_INTERFACE(IMyThing, IDispatch, bx::com::GuidLiteral("{...}"));
#define BX_COM_INTERFACE(Interface, BaseInterface, iidValue) \
    template <>                                              \
    struct bx::com::InterfaceTraits<Interface> {             \
        static constexpr IID iid = iidValue;                 \
        using Base = BaseInterface;                          \
    }

namespace bx::com {

// Holds one reference to an object of type T (anything with AddRef and Release).
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on `p`.
    explicit ComPtr(T* p) noexcept : p_(p) { AddRefIfAny(); }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    // From a pointer to a derived class or to a class that converts implicitly.
    template <typename U>
    requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
    noexcept : ComPtr(static_cast<T*>(other.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    // Takes over a reference the caller already holds (no AddRef).
    static ComPtr Adopt(T* p) noexcept {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases the reference held, if any.
    void Reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }
    // Gives up the reference without releasing it.
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    // Releases the current reference and returns the slot, for out parameters.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    // Hands a new reference to an out parameter.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        const_cast<ComPtr*>(this)->AddRefIfAny();
        return S_OK;
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // Queries the object for interface U.
    template <typename U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (!out) return E_POINTER;
        if (!p_) {
            out->Reset();
            return E_POINTER;
        }
        return p_->QueryInterface(IidOf<U>(), out->PutVoid());
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    void AddRefIfAny() noexcept {
        if (p_) p_->AddRef();
    }

    T* p_ = nullptr;
};

// Base for objects that implement interfaces. The object derives from RefCounted with the
// interfaces it implements, in order. Every interface an entry extends (per
// InterfaceTraits::Base) is answered as well; when several entries extend the same interface
// (IUnknown always, often IDispatch) the first of them answers, so the first entry is the
// object's identity.
//
// The count starts at 1, owned by the creator: create objects with Make<T>(...), which hands
// that reference to a ComPtr. The object deletes itself when the count reaches zero.
template <typename... Interfaces>
class RefCounted : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "an object implements at least one interface");
    static_assert((std::is_base_of_v<IUnknown, Interfaces> && ...),
                  "every interface extends IUnknown");

public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        void* found = nullptr;
        // Walk the listed interfaces in order, stopping at the first that answers.
        ((found = found ? found : Match<Interfaces>(static_cast<Interfaces*>(this), iid)), ...);
        if (!found) found = FindInterface(iid);
        *object = found;
        if (!found) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        // acq_rel: the deleting thread must see every write other owners made before
        // they released their references.
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    // The object's identity, without a new reference.
    IUnknown* Identity() noexcept { return static_cast<First*>(this); }

protected:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    virtual ~RefCounted() = default;

    // Answers interfaces not in the list (for example one implemented by a member object).
    // Returns a pointer to the requested interface of this object, or null; QueryInterface
    // adds the reference.
    virtual void* FindInterface(REFIID /*iid*/) { return nullptr; }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    // The interface pointer for `iid` if I or an interface it extends has that IID.
    template <typename I>
    static void* Match(I* p, REFIID iid) {
        if (iid == IidOf<I>()) return p;
        using Base = typename InterfaceTraits<I>::Base;
        if constexpr (std::is_void_v<Base>) {
            return nullptr;
        } else {
            return Match<Base>(static_cast<Base*>(p), iid);
        }
    }

    std::atomic<ULONG> refs_{1};
};

// Queries `object` (anything with QueryInterface; null is fine) for interface U; null when the
// object does not support it.
template <typename U, typename T>
ComPtr<U> QueryAs(T* object) noexcept {
    ComPtr<U> result;
    if (object) object->QueryInterface(IidOf<U>(), result.PutVoid());
    return result;
}

// Creates an object of class T and returns the creator's reference.
template <typename T, typename... Args>
ComPtr<T> Make(Args&&... args) {
    return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

}  // namespace bx::com
