#include "sink.h"

#include "Pollux.h"
#include "eventids.h"

namespace polluxtest {
namespace {

using vx::kProcessedClasses;
using vx::kProcessedImportedTLibs;
using vx::kProcessedInterfaces;
using vx::kProcessedTLibs;

}  // namespace

HRESULT ProgressSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID__IScannerEvents)) {
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT ProgressSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT ProgressSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) {
    if (result) ::VariantInit(result);
    if (id < kProcessedTLibs || id > kProcessedInterfaces) return S_OK;
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT amount;
    ::VariantInit(&amount);
    if (FAILED(::VariantChangeType(&amount, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
    switch (id) {
    case kProcessedTLibs: progress_.ProcessedTLibs(amount.lVal); break;
    case kProcessedImportedTLibs: progress_.ProcessedImportedTLibs(amount.lVal); break;
    case kProcessedClasses: progress_.ProcessedClasses(amount.lVal); break;
    case kProcessedInterfaces: progress_.ProcessedInterfaces(amount.lVal); break;
    }
    view_.Show(progress_.display());
    return S_OK;
}

}  // namespace polluxtest
