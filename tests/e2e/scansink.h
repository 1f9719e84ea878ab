// The scan engine's end-to-end helpers: its staged DLL, regsvr32, and a
// receiver of its _IScannerEvents that keeps every event as one line and each
// OneMoreClass's array and flag.
#pragma once


#include <map>
#include <string>
#include <vector>

#include "Pollux.h"
#include "e2e.h"
#include "eventsink.h"
#include "raii.h"

namespace e2e {

std::string PolluxPath();
// regsvr32 of this process's architecture, e.g. options "/s" or "/s /u".
ProcessResult Regsvr32(const std::string& options, const std::string& dll);

}  // namespace e2e

struct ClassEvent {
    std::vector<std::string> info;  // the five elements; none unless a one-dimensional array of strings
    bool loadable = false;
};

class RecordingSink final : public vxs::EventSinkOf<&DIID__IScannerEvents> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override;

    std::vector<std::string> events;   // "ProcessedTLibs 5", "CompName C:\x.dll", ...
    std::vector<ClassEvent> classes;
    std::string wrongCall;             // how an Invoke differed from the contract

private:
    // The event's name in the registered type library: a client binds by it.
    std::string MemberName(DISPID id);

    std::map<DISPID, std::string> names_;
};
