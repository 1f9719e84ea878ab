// The Widget object: a value it keeps through IPersistStreamInit, a site,
// class information made at run time and one connection point, whose sinks
// (IPropertyNotifySink) hear of every change of the value.
#include "plain_server.h"

#include <ocidl.h>
#include <olectl.h>

#include "raii.h"
#include "server.h"

namespace vxplain {
namespace {

constexpr DISPID kValueId = 1;
// What InitNew sets: a stream then holds a value a fresh object does not have.
constexpr LONG kInitialValue = 42;

class Widget;

// The one connection point: it lives inside its widget and keeps it alive.
class ValuePoint final : public IConnectionPoint {
public:
    explicit ValuePoint(Widget& owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = IID_IPropertyNotifySink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        if (sink_) return CONNECT_E_ADVISELIMIT;
        HRESULT hr = sink->QueryInterface(IID_IPropertyNotifySink, sink_.put_void());
        if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
        *cookie = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        if (cookie != 1 || !sink_) return CONNECT_E_NOCONNECTION;
        sink_.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    void Changed() {
        if (sink_) sink_->OnChanged(kValueId);
    }

private:
    Widget& owner_;
    vx::com_ptr<IPropertyNotifySink> sink_;
};

class Widget final : public IPersistStreamInit,
                     public IObjectWithSite,
                     public IProvideClassInfo,
                     public IConnectionPointContainer {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist))
            *ppv = static_cast<IPersistStreamInit*>(this);
        else if (IsEqualIID(riid, IID_IObjectWithSite))
            *ppv = static_cast<IObjectWithSite*>(this);
        else if (IsEqualIID(riid, IID_IProvideClassInfo))
            *ppv = static_cast<IProvideClassInfo*>(this);
        else if (IsEqualIID(riid, IID_IConnectionPointContainer))
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else
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

    // IPersistStreamInit: the value as four bytes.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_Widget;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
        if (!stream) return E_POINTER;
        LONG value = 0;
        ULONG read = 0;
        HRESULT hr = stream->Read(&value, sizeof value, &read);
        if (FAILED(hr) || read != sizeof value) return STG_E_READFAULT;
        Set(value, false);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override {
        if (!stream) return E_POINTER;
        ULONG written = 0;
        HRESULT hr = stream->Write(&value_, sizeof value_, &written);
        if (FAILED(hr) || written != sizeof value_) return STG_E_WRITEFAULT;
        if (clearDirty) dirty_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
        if (!size) return E_POINTER;
        size->QuadPart = sizeof value_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitNew() override {
        Set(kInitialValue, true);
        return S_OK;
    }

    // IObjectWithSite: the site is kept until the next SetSite.
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override {
        site_.reset();
        if (site) {
            site->AddRef();
            site_.attach(site);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return site_ ? site_->QueryInterface(riid, ppv) : E_FAIL;
    }

    // IProvideClassInfo: a description made at run time; there is no library.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        static PARAMDATA noParams[1] = {};
        static METHODDATA method = {const_cast<OLECHAR*>(L"Value"), noParams, kValueId, 0, CC_STDCALL, 0,
                                    DISPATCH_PROPERTYGET, VT_I4};
        INTERFACEDATA data = {&method, 1};
        return CreateDispTypeInfo(&data, LOCALE_USER_DEFAULT, info);
    }

    // IConnectionPointContainer: property changes only.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (!IsEqualIID(riid, IID_IPropertyNotifySink)) return CONNECT_E_NOCONNECTION;
        *point = &point_;
        point_.AddRef();
        return S_OK;
    }

private:
    void Set(LONG value, bool dirty) {
        value_ = value;
        dirty_ = dirty;
        point_.Changed();
    }

    vxs::RefCount refs_;
    LONG value_ = 0;
    bool dirty_ = false;
    vx::com_ptr<IUnknown> site_;
    ValuePoint point_{*this};
};

HRESULT ValuePoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}
ULONG ValuePoint::AddRef() { return owner_.AddRef(); }
ULONG ValuePoint::Release() { return owner_.Release(); }

HRESULT ValuePoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = &owner_;
    owner_.AddRef();
    return S_OK;
}

}  // namespace

HRESULT Widget_CreateInstance(REFIID riid, void** ppv) { return vxs::create_object<Widget>(riid, ppv); }

}  // namespace vxplain
