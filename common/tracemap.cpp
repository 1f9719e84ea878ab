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

bool ThreadIsGone(DWORD threadId) {
    vx::unique_handle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
    if (!thread) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

DWORD AttachedReaderProcess() {
    vx::unique_handle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kTraceReaderName));
    if (!mapping) return 0;
    vx::unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
    if (!view) return 0;
    DWORD id = *static_cast<const volatile DWORD*>(view.get());
    // Written just after creation: a reader caught in between is still a reader.
    return id ? id : ~0u;
}

}  // namespace vx
