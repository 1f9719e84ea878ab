// The scanner program's receiver of the engine's _IScannerEvents: the four
// progress events move the display; the others are not handled.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "progress.h"
#include "view.h"

namespace polluxtest {

class ProgressSink final : public IDispatch {
public:
    ProgressSink(ScanProgress& progress, ScanView& view) : progress_(progress), view_(view) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    // Lives on the run's stack for the run's length.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    ScanProgress& progress_;
    ScanView& view_;
};

}  // namespace polluxtest
