// The main window's receiver of the scan engine's events.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "Pollux.h"
#include "eventsink.h"

namespace shell {

class MainWindow;

class ScannerSink final : public vxs::EventSinkOf<&DIID__IScannerEvents> {
public:
    explicit ScannerSink(MainWindow* window) : window_(window) {}
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    MainWindow* window_;
};

}  // namespace shell
