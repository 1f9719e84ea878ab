// The main window's receivers of the scan engine's and the trace reader's
// events.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "Ledra.h"
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

// StartOfProcess, EndOfProcess, NoActiveProcess and TraceError arrive from
// inside GetNewRecords, on the window's thread.
class TraceReaderSink final : public vxs::EventSinkOf<&DIID_ITraceReaderEvents> {
public:
    explicit TraceReaderSink(MainWindow* window) : window_(window) {}
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    MainWindow* window_;
};

}  // namespace shell
