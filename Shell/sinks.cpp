#include "sinks.h"

#include <string>
#include <vector>

#include "eventids.h"
#include "mainwindow.h"
#include "textconv.h"

namespace shell {
namespace {

using vx::kEndOfProcess;
using vx::kNoActiveProcess;
using vx::kOneMoreClass;
using vx::kStartOfProcess;
using vx::kTraceError;

// The strings of a VT_ARRAY|VT_BSTR (or of VARIANTs holding BSTRs), lower bound 0.
std::vector<std::string> StringsOf(const VARIANT& value) {
    std::vector<std::string> strings;
    const VARIANT* v = &value;
    if (v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    if (!(v->vt & VT_ARRAY)) return strings;
    SAFEARRAY* array = (v->vt & VT_BYREF) ? *v->pparray : v->parray;
    if (!array || ::SafeArrayGetDim(array) != 1) return strings;
    LONG low = 0, high = -1;
    ::SafeArrayGetLBound(array, 1, &low);
    ::SafeArrayGetUBound(array, 1, &high);
    VARTYPE type = VT_EMPTY;
    ::SafeArrayGetVartype(array, &type);
    for (LONG i = low; i <= high; ++i) {
        if (type == VT_BSTR) {
            vx::unique_bstr item;
            if (SUCCEEDED(::SafeArrayGetElement(array, &i, item.put()))) strings.push_back(vx::Narrow(item.get()));
        } else if (type == VT_VARIANT) {
            vx::unique_variant item;
            if (SUCCEEDED(::SafeArrayGetElement(array, &i, item.put())) && item.vt == VT_BSTR)
                strings.push_back(vx::Narrow(item.bstrVal));
            else
                strings.emplace_back();
        }
    }
    return strings;
}

}  // namespace

HRESULT ScannerSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) {
    if (result) ::VariantInit(result);
    if (id != kOneMoreClass) return S_OK;
    if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Arguments arrive last first: rgvarg[1] the class info, rgvarg[0] IsLoadable.
    vx::unique_variant loadable;
    if (FAILED(::VariantChangeType(&loadable, &params->rgvarg[0], 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
    window_->Scann_OneMoreClass(StringsOf(params->rgvarg[1]), loadable.boolVal != VARIANT_FALSE);
    return S_OK;
}

HRESULT TraceReaderSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                UINT*) {
    if (result) ::VariantInit(result);
    switch (id) {
    case kStartOfProcess: window_->Tracer_StartOfProcess(); break;
    case kEndOfProcess: window_->Tracer_EndOfProcess(); break;
    case kNoActiveProcess: window_->Tracer_NoActiveProcess(); break;
    case kTraceError: {
        std::string text;
        if (params && params->cArgs == 1) {
            vx::unique_variant message;
            if (SUCCEEDED(::VariantChangeType(&message, &params->rgvarg[0], 0, VT_BSTR))) text = vx::Narrow(message.bstrVal);
        }
        window_->Tracer_TraceError(text);
        break;
    }
    }
    return S_OK;
}

}  // namespace shell
