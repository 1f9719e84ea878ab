// A receiver of the Scanner's _IScannerEvents for the end-to-end tests:
// every event as one line, and each OneMoreClass's array and flag.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <stdexcept>

#include <string>

#include "Pollux.h"
#include "eventsink.h"
#include "textconv.h"
#include <vector>

struct ClassEvent {
    std::vector<std::string> info;  // the five elements
    bool loadable = false;
    VARTYPE type = VT_EMPTY;        // of the ClassInfo argument
};

class RecordingSink final : public vxs::EventSinkOf<&DIID__IScannerEvents> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override;

    HRESULT Record(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT*);

    std::vector<std::string> events;   // "ProcessedTLibs 5", "CompName C:\x.dll", ...
    std::vector<ClassEvent> classes;
    std::string wrongCall;             // how an Invoke differed from the contract
};

using vx::Narrow;
