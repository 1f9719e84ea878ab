// One outgoing dispinterface of an object: the connection point that sinks
// advise on, and the firing of its events through each sink's IDispatch.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <utility>
#include <vector>

#include "raii.h"

namespace vxs {

// Lives inside its owner and shares the owner's reference count, so the
// point and the container cannot keep each other alive.
class EventSource final : public IConnectionPoint {
public:
    // owner: the object's IConnectionPointContainer; iid: the event dispinterface.
    EventSource(IConnectionPointContainer* owner, const IID& iid) : owner_(owner), iid_(iid) {}
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

    // For the owner's IConnectionPointContainer::FindConnectionPoint.
    HRESULT Find(REFIID riid, IConnectionPoint** point);

    // Calls every sink connected now, in connection order, synchronously:
    // Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, args).
    // args are in DISPPARAMS order (last argument first). Sink results are ignored.
    void Fire(DISPID id, VARIANTARG* args = nullptr, UINT count = 0);

    size_t SinkCount() const { return sinks_.size(); }

private:
    IConnectionPointContainer* owner_;
    IID iid_;
    DWORD nextCookie_ = 1;
    std::vector<std::pair<DWORD, vx::com_ptr<IDispatch>>> sinks_;
};

}  // namespace vxs
