// The member ids of the servers' event interfaces, which sources and sinks
// alike use: ITraceReaderEvents of the trace reader, _IScannerEvents of the
// scan engine. A test holds both type libraries to them.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vx {

enum TraceReaderEvent : DISPID {
    kStartOfProcess = 2,
    kEndOfProcess = 3,
    kTraceError = 4,
    kNoActiveProcess = 5,
};

enum ScannerEvent : DISPID {
    kInterfName = 1,
    kCompName = 2,
    kOneMoreClass = 4,
    kProcessedTLibs = 5,
    kProcessedImportedTLibs = 6,
    kProcessedClasses = 7,
    kProcessedInterfaces = 8,
};

}  // namespace vx
