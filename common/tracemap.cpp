// Liveness of the processes the trace map lists.
#include "tracemap.h"

#include "raii.h"

namespace vx {

bool ProcessIsGone(DWORD processId) {
    vx::unique_handle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace vx
