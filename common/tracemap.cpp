// Liveness of the processes the trace map lists.
#include "tracemap.h"

#include "raii.h"

namespace vx {

const char* TraceMapFault(const TraceMap& map) {
    if (map.ringOffset != kRingOffset) return "ring offset";
    if (map.ringCapacity != kRingCapacity) return "ring capacity";
    if (map.ringPosition > kRingCapacity) return "ring position";
    if (map.liveProcesses > static_cast<uint32_t>(kProcessSlots)) return "live process count";
    bool terminated = false;
    for (int i = 0; i < kMapPathLimit && !terminated; ++i) terminated = map.distilledPath[i] == '\0';
    if (!terminated) return "trace file path";
    return nullptr;
}

bool ProcessIsGone(DWORD processId) {
    vx::unique_handle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace vx
