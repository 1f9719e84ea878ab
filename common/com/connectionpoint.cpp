// Connection point of one event dispinterface.
#include "connectionpoint.h"

#include "guard.h"

namespace vxs {

HRESULT EventSource::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSource::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT EventSource::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    owner_->AddRef();
    *container = owner_;
    return S_OK;
}

HRESULT EventSource::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    vx::com_ptr<IDispatch> dispatch;
    // A sink of a dispinterface answers its IID with its IDispatch; plain
    // IDispatch is accepted too.
    if (FAILED(sink->QueryInterface(iid_, dispatch.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void())))
        return CONNECT_E_CANNOTCONNECT;
    return Guarded([&] {
        sinks_.emplace_back(nextCookie_, std::move(dispatch));
        *cookie = nextCookie_++;
        return S_OK;
    });
}

HRESULT EventSource::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first == cookie) {
            sinks_.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT EventSource::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

HRESULT EventSource::Find(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, iid_)) return CONNECT_E_NOCONNECTION;
    AddRef();
    *point = this;
    return S_OK;
}

void EventSource::Fire(DISPID id, VARIANTARG* args, UINT count) {
    // A sink may unadvise (or advise) from inside its handler: call the ones
    // connected when the event started.
    std::vector<vx::com_ptr<IDispatch>> now;
    // Out of memory: the event is lost, never the caller's stack.
    if (FAILED(Guarded([&] {
            now.reserve(sinks_.size());
            return S_OK;
        })))
        return;
    for (const auto& sink : sinks_) now.push_back(sink.second);
    for (const auto& sink : now) {
        DISPPARAMS params = {args, nullptr, count, 0};
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
}

}  // namespace vxs
