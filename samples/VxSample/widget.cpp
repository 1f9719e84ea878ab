// The Widget object: a value it keeps through IPersistStreamInit, a site,
// class information made at run time and one connection point, whose sinks
// hear of every change of the value (DIID_WidgetEvents, DISPID 1).
#include "widget.h"

#include <ocidl.h>

#include "classes.h"
#include "connectionpoint.h"
#include "raii.h"

namespace vxsample {
namespace {

constexpr DISPID kValueChanged = 1;  // DIID_WidgetEvents
constexpr DISPID kValueProperty = 1;  // the class information's one member
// What InitNew sets: a stream then holds a value a fresh object does not have.
constexpr LONG kInitialValue = 42;

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
        static METHODDATA method = {const_cast<OLECHAR*>(L"Value"), noParams, kValueProperty, 0, CC_STDCALL, 0,
                                    DISPATCH_PROPERTYGET, VT_I4};
        INTERFACEDATA data = {&method, 1};
        return CreateDispTypeInfo(&data, LOCALE_USER_DEFAULT, info);
    }

    // IConnectionPointContainer: the value's changes only.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return events_.Find(riid, point);
    }

private:
    void Set(LONG value, bool dirty) {
        value_ = value;
        dirty_ = dirty;
        events_.Fire(kValueChanged);
    }

    vxs::RefCount refs_;
    LONG value_ = 0;
    bool dirty_ = false;
    vx::com_ptr<IUnknown> site_;
    vxs::EventSource events_{this, DIID_WidgetEvents};
};

}  // namespace

HRESULT Widget_CreateInstance(REFIID riid, void** ppv) { return vxs::create_object<Widget>(riid, ppv); }

}  // namespace vxsample
