// The TraceReader object: record intake, record text and hook management
// behind ITraceReader, with the ITraceReaderEvents connection point.
#pragma once

#include <windows.h>

#include "Ledra.h"
#include "diagnostics.h"

namespace ledra {

HRESULT CreateTraceReader(REFIID riid, void** ppv);

// The module's diagnostic log.
vxs::DiagnosticLog& ModuleLog();

// Clean-up of the module's shared state at process detach.
void ModuleDetach(bool processExit);

}  // namespace ledra
