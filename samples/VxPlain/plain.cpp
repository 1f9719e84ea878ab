// The Plain object: IPlain only.
#include "plain_server.h"

#include <string>

#include "server.h"

namespace vxplain {
namespace {

class PlainObject final : public vxs::SingleInterfaceObject<IPlain> {
public:
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
    bool provides(REFIID riid) const override { return IsEqualIID(riid, IID_IPlain); }

    LONG calls_ = 0;
};

}  // namespace

HRESULT Plain_CreateInstance(REFIID riid, void** ppv) { return vxs::create_object<PlainObject>(riid, ppv); }

}  // namespace vxplain
