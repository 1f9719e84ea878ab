// Licensed: a Calc handed out by an IClassFactory2 class object. The machine
// always counts as licensed; CreateInstanceLic checks the runtime key.
#include <ocidl.h>

#include "classes.h"
#include "server.h"

namespace vxsample {
namespace {

constexpr wchar_t kLicenseKey[] = L"VxSample-Runtime-Key-1";

class LicensedFactory final : public vxs::SingleInterfaceObject<IClassFactory2> {
public:
    explicit LicensedFactory(vxs::CreateFn create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        vxs::lock_server(lock != FALSE);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetLicInfo(LICINFO* info) override {
        if (!info) return E_POINTER;
        info->cbLicInfo = sizeof(LICINFO);
        info->fRuntimeKeyAvail = TRUE;
        info->fLicVerified = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestLicKey(DWORD reserved, BSTR* key) override {
        if (!key) return E_POINTER;
        *key = nullptr;
        if (reserved != 0) return E_INVALIDARG;
        *key = SysAllocString(kLicenseKey);
        return *key ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceLic(IUnknown* outer, IUnknown* /*reserved*/,
                                                REFIID riid, BSTR key, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!key || lstrcmpW(key, kLicenseKey) != 0) return CLASS_E_NOTLICENSED;
        return create_(riid, ppv);
    }

private:
    bool provides(REFIID riid) const override {
        return IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IClassFactory2);
    }

    vxs::CreateFn create_;
};

}  // namespace

HRESULT Licensed_CreateInstance(REFIID riid, void** ppv) {
    return Calc_CreateNamed(L"Licensed", riid, ppv);
}

HRESULT Licensed_Factory(vxs::CreateFn create, REFIID riid, void** ppv) {
    return vxs::create_object<LicensedFactory>(riid, ppv, create);
}

}  // namespace vxsample
