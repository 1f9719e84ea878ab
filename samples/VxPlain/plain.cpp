// The Plain object: IPlain only.
#include "plain_server.h"

#include <new>
#include <string>

#include "server.h"

namespace vxplain {
namespace {

class PlainObject final : public IPlain {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPlain)) {
            *ppv = static_cast<IPlain*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.release();
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Multiply(LONG a, LONG b, LONG* product) override {
        if (!product) return E_POINTER;
        *product = a * b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Average(double a, double b, double* mean) override {
        if (!mean) return E_POINTER;
        *mean = (a + b) / 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Greet(BSTR who, BSTR* greeting) override {
        if (!greeting) return E_POINTER;
        std::wstring text = L"Hi, ";
        text.append(who ? who : L"", SysStringLen(who));
        *greeting = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *greeting ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Counter(LONG* calls) override {
        if (!calls) return E_POINTER;
        *calls = InterlockedIncrement(&calls_);
        return S_OK;
    }

private:
    vxs::RefCount refs_;
    LONG calls_ = 0;
};

}  // namespace

HRESULT Plain_CreateInstance(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* object = new (std::nothrow) PlainObject();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace vxplain
