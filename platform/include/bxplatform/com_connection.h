// Connection points: how an object raises events on its callers' sink objects. A caller finds
// the object's point for an outgoing interface (IConnectionPointContainer), hands it a sink
// (Advise, which returns a cookie) and later takes it back (Unadvise). Also the
// property-change sink (IPropertyNotifySink) and reusable implementations:
//   - bx::com::ConnectionPoint: the sinks of one outgoing interface, with cookies;
//   - bx::com::ConnectionPoints: an object's set of points, to which its
//     IConnectionPointContainer delegates;
//   - bx::com::PropertyNotifier: asks and tells IPropertyNotifySink sinks;
//   - enumerators over snapshots (MakeConnectionEnumerator, MakeConnectionPointEnumerator).
//
// Thread rule: ConnectionPoint is thread-safe; a sink may be advised or unadvised on any
// thread, also from inside an event it receives (events go to a snapshot, never under the
// point's lock). ConnectionPoints and PropertyNotifier are thread-safe once built (Add belongs
// to the owner's construction). An enumerator is thread-bound to its caller.
#pragma once

#include <bxplatform/com_object.h>

#include <mutex>
#include <vector>

class IConnectionPoint;
class IEnumConnections;
class IEnumConnectionPoints;

// One advised sink as an enumeration hands it out: pUnk carries a reference the receiver
// releases.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

// An object's outgoing interfaces, each with its connection point.
class IConnectionPointContainer : public IUnknown {
public:
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    // The point for outgoing interface `iid`; CONNECT_E_NOCONNECTION when there is none.
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

// The sinks of one outgoing interface.
class IConnectionPoint : public IUnknown {
public:
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    // Connects `sink` (which must answer the outgoing interface) and returns its cookie.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

protected:
    ~IConnectionPoint() = default;
};

// Enumerations: Next hands out up to `count` items and says how many (S_FALSE when fewer);
// Skip moves on (S_FALSE when it ran off the end); Reset starts over; Clone copies the
// position.
class IEnumConnections : public IUnknown {
public:
    virtual HRESULT Next(ULONG count, CONNECTDATA* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** copy) = 0;

protected:
    ~IEnumConnections() = default;
};

class IEnumConnectionPoints : public IUnknown {
public:
    virtual HRESULT Next(ULONG count, IConnectionPoint** items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;

protected:
    ~IEnumConnectionPoints() = default;
};

// Sink for property changes of an object: OnRequestEdit asks whether a property may change
// (S_FALSE: no), OnChanged tells that it has.
class IPropertyNotifySink : public IUnknown {
public:
    virtual HRESULT OnChanged(DISPID id) = 0;
    virtual HRESULT OnRequestEdit(DISPID id) = 0;

protected:
    ~IPropertyNotifySink() = default;
};

inline constexpr IID IID_IConnectionPointContainer =
    bx::com::GuidLiteral("{B196B284-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnectionPoints =
    bx::com::GuidLiteral("{B196B285-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IConnectionPoint =
    bx::com::GuidLiteral("{B196B286-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnections =
    bx::com::GuidLiteral("{B196B287-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IPropertyNotifySink =
    bx::com::GuidLiteral("{9BFBBC02-EFF1-101A-84ED-00AA00341D07}");

BX_COM_INTERFACE(IConnectionPointContainer, IUnknown, IID_IConnectionPointContainer);
BX_COM_INTERFACE(IConnectionPoint, IUnknown, IID_IConnectionPoint);
BX_COM_INTERFACE(IEnumConnections, IUnknown, IID_IEnumConnections);
BX_COM_INTERFACE(IEnumConnectionPoints, IUnknown, IID_IEnumConnectionPoints);
BX_COM_INTERFACE(IPropertyNotifySink, IUnknown, IID_IPropertyNotifySink);

namespace bx::com {

// One advised sink inside a point: the sink's outgoing-interface pointer and its cookie.
struct Connection {
    ComPtr<IUnknown> sink;
    DWORD cookie;
};

// Enumerators over a fixed list taken when they are made; they hold references to the items
// (and a clone shares the list), so the items outlive later changes to the point or container.
ComPtr<IEnumConnections> MakeConnectionEnumerator(std::vector<Connection> items);
ComPtr<IEnumConnectionPoints> MakeConnectionPointEnumerator(
    std::vector<ComPtr<IConnectionPoint>> items);

// The sinks of one outgoing interface. Cookies start at 1 and are never reused while the point
// lives (CONNECT_E_ADVISELIMIT once all 2^32 - 1 are spent).
//
// The point knows its container through a plain pointer, not a reference: the container owns
// its points, so a reference back would keep both alive forever. The container clears the
// pointer when it goes (ConnectionPoints does this), after which GetConnectionPointContainer
// answers E_UNEXPECTED. A caller holding only the point must not ask for the container while
// the container is being destroyed; callers reach points through the container and keep it.
class ConnectionPoint final : public RefCounted<IConnectionPoint> {
public:
    ConnectionPoint(REFIID iid, IConnectionPointContainer* container) noexcept;

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    // E_POINTER for a null sink or cookie; CONNECT_E_CANNOTCONNECT when the sink does not
    // answer the point's interface.
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that is not advised.
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(IEnumConnections** connections) override;

    const IID& Interface() const noexcept { return iid_; }
    // The advised sinks in advise order, each as the pointer its query for the point's
    // interface returned (so it may be converted to that interface, see SinksAs), for firing.
    std::vector<ComPtr<IUnknown>> Sinks() const;
    // The same, typed; Sink must be the point's interface.
    template <typename Sink>
    std::vector<ComPtr<Sink>> SinksAs() const {
        std::vector<ComPtr<Sink>> typed;
        if (IidOf<Sink>() != iid_) return typed;
        for (const ComPtr<IUnknown>& sink : Sinks()) {
            typed.emplace_back(static_cast<Sink*>(sink.Get()));
        }
        return typed;
    }
    // Called by the container when it goes.
    void DetachContainer() noexcept;

private:
    const IID iid_;
    mutable std::mutex mutex_;
    IConnectionPointContainer* container_;  // not owned; see the class comment
    std::vector<Connection> connections_;   // advise order
    DWORD last_cookie_ = 0;
};

// An object's connection points, for its IConnectionPointContainer to delegate to:
//   HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** p) override {
//       return points_.FindConnectionPoint(iid, p);
//   }
// Declare it as a member; its destructor detaches the points from the object.
class ConnectionPoints {
public:
    // `container` is the owning object's container interface (`this`, converted).
    explicit ConnectionPoints(IConnectionPointContainer* container) noexcept
        : container_(container) {}
    ConnectionPoints(const ConnectionPoints&) = delete;
    ConnectionPoints& operator=(const ConnectionPoints&) = delete;
    ~ConnectionPoints();

    // Makes the point for outgoing interface `iid`; one per interface (a second Add for the
    // same interface returns the first point).
    ComPtr<ConnectionPoint> Add(REFIID iid);

    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) const;
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) const;

private:
    IConnectionPointContainer* container_;
    mutable std::mutex mutex_;
    std::vector<ComPtr<ConnectionPoint>> points_;
};

// Asks and tells the IPropertyNotifySink sinks of one point.
class PropertyNotifier {
public:
    // `point` must be a point for IID_IPropertyNotifySink (std::invalid_argument otherwise).
    explicit PropertyNotifier(ComPtr<ConnectionPoint> point);

    // S_FALSE as soon as a sink answers S_FALSE (later sinks are not asked), else S_OK. A sink
    // that fails counts as consent: a broken sink must not lock a property for good.
    HRESULT RequestEdit(DISPID id) const;
    // Tells every sink, in advise order; what they answer does not matter.
    void Changed(DISPID id) const;

    const ComPtr<ConnectionPoint>& Point() const noexcept { return point_; }

private:
    ComPtr<ConnectionPoint> point_;
};

}  // namespace bx::com
