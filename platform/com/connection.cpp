// Connection points, their container helper, enumerators and the property notifier
// (see com_connection.h).
#include <bxplatform/com_connection.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>

namespace bx::com {
namespace {

// How an enumerator hands out one item: a new reference goes with it.
CONNECTDATA HandOut(const Connection& c) {
    if (c.sink) c.sink->AddRef();
    return CONNECTDATA{c.sink.Get(), c.cookie};
}
IConnectionPoint* HandOut(const ComPtr<IConnectionPoint>& p) {
    if (p) p->AddRef();
    return p.Get();
}

// Enumerator of interface Enum over a shared, never-changing list of Held items.
template <typename Enum, typename Item, typename Held>
class SnapshotEnumerator final : public RefCounted<Enum> {
public:
    using List = std::shared_ptr<const std::vector<Held>>;
    SnapshotEnumerator(List items, size_t position) : items_(std::move(items)), pos_(position) {}

    HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (!fetched && count != 1)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_->size()) out[n++] = HandOut((*items_)[pos_++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        size_t left = items_->size() - pos_;
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(Enum** copy) override {
        if (!copy) return E_POINTER;
        *copy = Make<SnapshotEnumerator>(items_, pos_).Detach();
        return S_OK;
    }

private:
    List items_;
    size_t pos_;
};

using ConnectionEnumerator = SnapshotEnumerator<IEnumConnections, CONNECTDATA, Connection>;
using PointEnumerator =
    SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>>;

}  // namespace

ComPtr<IEnumConnections> MakeConnectionEnumerator(std::vector<Connection> items) {
    auto list = std::make_shared<const std::vector<Connection>>(std::move(items));
    return ComPtr<IEnumConnections>(Make<ConnectionEnumerator>(std::move(list), 0));
}

ComPtr<IEnumConnectionPoints> MakeConnectionPointEnumerator(
    std::vector<ComPtr<IConnectionPoint>> items) {
    auto list = std::make_shared<const std::vector<ComPtr<IConnectionPoint>>>(std::move(items));
    return ComPtr<IEnumConnectionPoints>(Make<PointEnumerator>(std::move(list), 0));
}

// ---- ConnectionPoint ---------------------------------------------------------------------

ConnectionPoint::ConnectionPoint(REFIID iid, IConnectionPointContainer* container) noexcept
    : iid_(iid), container_(container) {}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    std::lock_guard lock(mutex_);
    *container = container_;
    if (!container_) return E_UNEXPECTED;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // The query runs outside the lock: it is the sink's code.
    void* typed = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &typed)) || !typed) return CONNECT_E_CANNOTCONNECT;
    auto held = ComPtr<IUnknown>::Adopt(static_cast<IUnknown*>(typed));
    std::lock_guard lock(mutex_);
    if (last_cookie_ == std::numeric_limits<DWORD>::max()) return CONNECT_E_ADVISELIMIT;
    connections_.push_back(Connection{std::move(held), ++last_cookie_});
    *cookie = last_cookie_;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IUnknown> released;  // released after the lock, since releasing runs sink code
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(connections_.begin(), connections_.end(),
                               [cookie](const Connection& c) { return c.cookie == cookie; });
        if (cookie == 0 || it == connections_.end()) return CONNECT_E_NOCONNECTION;
        released = std::move(it->sink);
        connections_.erase(it);
    }
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    std::vector<Connection> copy;
    {
        std::lock_guard lock(mutex_);
        copy = connections_;
    }
    *connections = MakeConnectionEnumerator(std::move(copy)).Detach();
    return S_OK;
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
    std::lock_guard lock(mutex_);
    std::vector<ComPtr<IUnknown>> sinks;
    sinks.reserve(connections_.size());
    for (const Connection& c : connections_) sinks.push_back(c.sink);
    return sinks;
}

void ConnectionPoint::DetachContainer() noexcept {
    std::lock_guard lock(mutex_);
    container_ = nullptr;
}

// ---- ConnectionPoints --------------------------------------------------------------------

ConnectionPoints::~ConnectionPoints() {
    for (const ComPtr<ConnectionPoint>& point : points_) point->DetachContainer();
}

ComPtr<ConnectionPoint> ConnectionPoints::Add(REFIID iid) {
    std::lock_guard lock(mutex_);
    for (const ComPtr<ConnectionPoint>& point : points_) {
        if (point->Interface() == iid) return point;
    }
    points_.push_back(Make<ConnectionPoint>(iid, container_));
    return points_.back();
}

HRESULT ConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint** point) const {
    if (!point) return E_POINTER;
    *point = nullptr;
    std::lock_guard lock(mutex_);
    for (const ComPtr<ConnectionPoint>& p : points_) {
        if (p->Interface() == iid) {
            *point = ComPtr<IConnectionPoint>(p).Detach();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** points) const {
    if (!points) return E_POINTER;
    std::vector<ComPtr<IConnectionPoint>> copy;
    {
        std::lock_guard lock(mutex_);
        copy.assign(points_.begin(), points_.end());
    }
    *points = MakeConnectionPointEnumerator(std::move(copy)).Detach();
    return S_OK;
}

// ---- PropertyNotifier --------------------------------------------------------------------

PropertyNotifier::PropertyNotifier(ComPtr<ConnectionPoint> point) : point_(std::move(point)) {
    if (!point_ || point_->Interface() != IID_IPropertyNotifySink) {
        throw std::invalid_argument("PropertyNotifier needs an IPropertyNotifySink point");
    }
}

HRESULT PropertyNotifier::RequestEdit(DISPID id) const {
    for (const ComPtr<IPropertyNotifySink>& sink : point_->SinksAs<IPropertyNotifySink>()) {
        if (sink->OnRequestEdit(id) == S_FALSE) return S_FALSE;
    }
    return S_OK;
}

void PropertyNotifier::Changed(DISPID id) const {
    for (const ComPtr<IPropertyNotifySink>& sink : point_->SinksAs<IPropertyNotifySink>()) {
        sink->OnChanged(id);
    }
}

}  // namespace bx::com
