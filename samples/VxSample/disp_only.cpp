// DispOnly: the dispinterface DDispOnly, with IDispatch written by hand (no
// method table beyond IDispatch's own for a tracer to patch).
#include <atomic>
#include <string>

#include "VxSample.h"
#include "classes.h"
#include "raii.h"
#include "server.h"

namespace vxsample {
namespace {

// Member ids as the type library declares them.
constexpr DISPID kValue = 1;
constexpr DISPID kTriple = 2;
constexpr DISPID kGreet = 3;

struct Member {
    const wchar_t* name;
    DISPID id;
};
constexpr Member kMembers[] = {{L"Value", kValue}, {L"Triple", kTriple}, {L"Greet", kGreet}};

// Argument index (reverse order, as IDispatch passes them) coerced to type vt.
HRESULT argument(DISPPARAMS* params, UINT index, VARTYPE vt, VARIANT* value, UINT* arg_error) {
    HRESULT hr = VariantChangeType(value, &params->rgvarg[index], 0, vt);
    if (FAILED(hr) && arg_error) *arg_error = index;
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

class DispOnlyObject final : public vxs::SingleInterfaceObject<IDispatch> {
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
        return vxs::load_type_info(DIID_DDispOnly, info);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids) return E_POINTER;
        if (count == 0) return S_OK;
        HRESULT hr = DISP_E_UNKNOWNNAME;
        ids[0] = DISPID_UNKNOWN;
        for (const Member& member : kMembers) {
            if (lstrcmpiW(names[0], member.name) == 0) {
                ids[0] = member.id;
                hr = S_OK;
            }
        }
        // No member takes named arguments.
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT* arg_error) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!params) return E_INVALIDARG;
        if (result) VariantInit(result);
        switch (id) {
        case kValue:
            return invoke_value(flags, params, result, arg_error);
        case kTriple:
        case kGreet:
            // Scripts call methods with DISPATCH_METHOD | DISPATCH_PROPERTYGET.
            if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
            if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
            if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            return id == kTriple ? triple(params, result, arg_error) : greet(params, result, arg_error);
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    HRESULT invoke_value(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_error) {
        if (flags & DISPATCH_PROPERTYPUT) {
            if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTOPTIONAL;
            vx::unique_variant value;
            RETURN_IF_FAILED(argument(params, 0, VT_I4, &value, arg_error));
            value_ = V_I4(&value);
            return S_OK;
        }
        if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
            if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = value_;
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    static HRESULT triple(DISPPARAMS* params, VARIANT* result, UINT* arg_error) {
        vx::unique_variant x;
        RETURN_IF_FAILED(argument(params, 0, VT_I4, &x, arg_error));
        if (result) {
            V_VT(result) = VT_I4;
            V_I4(result) = V_I4(&x) * 3;
        }
        return S_OK;
    }

    static HRESULT greet(DISPPARAMS* params, VARIANT* result, UINT* arg_error) {
        vx::unique_variant who;
        RETURN_IF_FAILED(argument(params, 0, VT_BSTR, &who, arg_error));
        std::wstring text = L"Hello, ";
        text.append(V_BSTR(&who), SysStringLen(V_BSTR(&who)));
        if (result) {
            V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!V_BSTR(result)) return E_OUTOFMEMORY;
            V_VT(result) = VT_BSTR;
        }
        return S_OK;
    }

    bool provides(REFIID riid) const override {
        return IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_DDispOnly);
    }

    std::atomic<LONG> value_{7};
};

}  // namespace

HRESULT DispOnly_CreateInstance(REFIID riid, void** ppv) {
    return vxs::create_object<DispOnlyObject>(riid, ppv);
}

}  // namespace vxsample
