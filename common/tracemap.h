// The shared trace map: the bookkeeping the kernel keeps for the trace reader.
// The same bytes for i686 and x86_64 processes and for the reader.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace vx {

constexpr char kTraceMapName[] = "SPDiagMappingObject";
// Held by the one trace reader that reads the live trace: a small named
// mapping whose first word is that reader's process id. It goes away with
// the last handle, so a reader that died leaves nothing behind.
constexpr char kTraceReaderName[] = "SPDiagMappingObject.Reader";
constexpr uint32_t kTraceMapSize = 262144;
constexpr uint32_t kRingOffset = 900;
constexpr uint32_t kRingCapacity = kTraceMapSize - kRingOffset;  // 261244
constexpr int kProcessSlots = 50;
constexpr int kHookSlots = 50;
constexpr int kMapPathSize = 260;
constexpr uint32_t kFreeSlot = 0xFFFFFFFFu;

struct HookEntry {
    uint32_t processId;
    uint32_t hookNumber;
};

struct TraceMap {
    volatile LONG lockWord;          // 0: owning thread id, -1 reader, 0 free
    uint32_t readerWindow;           // 4: HWND to notify (handles fit 32 bits)
    uint32_t liveProcesses;          // 8
    uint32_t ringOffset;             // 12: 900
    uint32_t ringCapacity;           // 16: 261244
    uint32_t ringPosition;           // 20
    uint32_t ringTotal;              // 24: wraps at 2^32
    volatile LONG recordCounter;     // 28: last record started
    uint32_t recordsInFile;          // 32: last record already in the distilled file
    uint32_t readerPrivate;          // 36
    uint32_t processes[kProcessSlots];       // 40: 0 ends, 0xFFFFFFFF free
    char distilledPath[kMapPathSize];        // 240
    HookEntry hooks[kHookSlots];             // 500
    uint8_t ring[kRingCapacity];             // 900
};

static_assert(offsetof(TraceMap, readerWindow) == 4);
static_assert(offsetof(TraceMap, liveProcesses) == 8);
static_assert(offsetof(TraceMap, ringOffset) == 12);
static_assert(offsetof(TraceMap, ringCapacity) == 16);
static_assert(offsetof(TraceMap, ringPosition) == 20);
static_assert(offsetof(TraceMap, ringTotal) == 24);
static_assert(offsetof(TraceMap, recordCounter) == 28);
static_assert(offsetof(TraceMap, recordsInFile) == 32);
static_assert(offsetof(TraceMap, readerPrivate) == 36);
static_assert(offsetof(TraceMap, processes) == 40);
static_assert(offsetof(TraceMap, distilledPath) == 240);
static_assert(offsetof(TraceMap, hooks) == 500);
static_assert(offsetof(TraceMap, ring) == kRingOffset);
static_assert(sizeof(TraceMap) == kTraceMapSize);

// The last four bytes of the path field hold the generation of the trace
// files: every rename, truncation, backup or deletion of a trace file advances
// it under the lock word, and a writer that keeps a file open reopens it when
// the generation it opened under has passed. Paths stay below 256 characters,
// so every reader of the path still meets its NUL first.
// Its upper half counts appends to the extra file instead (made without the
// lock word, atomically): a writer looks for an extra file to merge only when
// the word moved, not at every record.
constexpr int kMapPathLimit = kMapPathSize - 4;
constexpr LONG kFileGenerationMask = 0xFFFF;
constexpr LONG kExtraFileAppended = 0x10000;
constexpr size_t kFileGenerationOffset = 496;
inline volatile LONG* FileGeneration(TraceMap* map) {
    return reinterpret_cast<volatile LONG*>(reinterpret_cast<char*>(map) + kFileGenerationOffset);
}
static_assert(offsetof(TraceMap, distilledPath) + kMapPathLimit == kFileGenerationOffset);
// The trace file's own generation: what moves when a file is reset, renamed
// or replaced. The upper half only counts appends to the extra file.
inline LONG TraceFileGeneration(TraceMap* map) { return *FileGeneration(map) & kFileGenerationMask; }

// Why a map found already in use cannot be what a kernel made (a process
// filled it with something else): nullptr when its header holds only values
// a kernel can write.
const char* TraceMapFault(const TraceMap& map);

// True when the process has ended (or never existed). Works across 32-bit
// and 64-bit processes alike.
bool ProcessIsGone(DWORD processId);
// The same for a thread (the map's lock word holds its owner's thread id).
bool ThreadIsGone(DWORD threadId);

// The process id of the reader attached to the live trace, 0 when none is.
DWORD AttachedReaderProcess();

}  // namespace vx
