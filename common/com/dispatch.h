// IDispatch of a dual interface, served from the type library the module
// embeds: late-bound callers reach the same methods by DISPID or by name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "comserver.h"
#include "raii.h"

namespace vxs {

// Derive an object's dual interface implementation from DispatchOf<IFoo, &IID_IFoo>.
template <typename Dual, const IID* Iid>
class DispatchOf : public Dual {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        RETURN_IF_FAILED(Load());
        typeInfo_->AddRef();
        *info = typeInfo_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        RETURN_IF_FAILED(Load());
        return DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        RETURN_IF_FAILED(Load());
        return DispInvoke(static_cast<Dual*>(this), typeInfo_.get(), id, flags, params, result, exception,
                          argError);
    }

private:
    HRESULT Load() {
        if (typeInfo_) return S_OK;
        return load_type_info(*Iid, typeInfo_.put());
    }

    vx::com_ptr<ITypeInfo> typeInfo_;
};

}  // namespace vxs
