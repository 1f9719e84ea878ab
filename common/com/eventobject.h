// An automation object with a dual interface and one outgoing event
// interface: its IUnknown, its IDispatch from the embedded type library, and
// the connection-point container that finds its one connection point.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "comserver.h"
#include "connectionpoint.h"
#include "dispatch.h"

namespace vxs {

template <typename Dual, const IID* Iid, const IID* EventsIid>
class EventObject : public DispatchOf<Dual, Iid>, public IConnectionPointContainer {
public:
    EventObject() : events_(this, *EventsIid) {}
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;
    virtual ~EventObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, *Iid))
            *ppv = static_cast<Dual*>(this);
        else if (IsEqualIID(riid, IID_IConnectionPointContainer))
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else if (!(*ppv = OtherInterface(riid)))
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.release();
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return events_.Find(riid, point);
    }

protected:
    // Interfaces beyond the dual one and the container; nullptr when none.
    virtual void* OtherInterface(REFIID) { return nullptr; }

    EventSource events_;

private:
    RefCount refs_;
};

}  // namespace vxs
