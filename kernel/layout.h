// Layouts shared with other processes (the trace map) and the per-process
// state block. The trace map is the same bytes for i686 and x86_64 processes
// and for the trace reader; the state block is private to one process, so its
// addresses are pointer-sized.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace korbin {

constexpr char kTraceMapName[] = "SPDiagMappingObject";
constexpr char kProcessBlockPrefix[] = "SPMappingObject ";
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

// Counters the final report can print; one 32-bit word each.
struct LockCounters {
    uint32_t waitingEnters;                        // 28
    uint32_t waitingExits;                         // 32
    uint32_t nestedEnterIntoSameThread;            // 36
    uint32_t nestedExitIntoSameThread;             // 40
    uint32_t nestedWhenLocked;                     // 44
    uint32_t waitingsForUnlockMapFile;             // 48
    uint32_t writesToExtraFile;                    // 52
    uint32_t maxRecordsInExtraFile;                // 56
    uint32_t currentExtraRun;                      // 60
    uint32_t cntFailedToOpenTraceFile;             // 64
    uint32_t tooLongDelays;                        // 68: never incremented
    uint32_t doubleLockingInDgn;                   // 72
    uint32_t doubleLockingInLockDiagFile;          // 76
    uint32_t doubleLockingInLockDiagFileNoInc;     // 80
    uint32_t doubleLockingInUnLockDiagFile;        // 84
    uint32_t doubleLockingInUnLockDiagFileSimple;  // 88
};

struct HookedDll;

struct ProcessBlock {
    TraceMap* map;                   // 0
    volatile LONG recordLock;        // 4
    volatile LONG loadedHookedDlls;  // 8
    uint32_t poolStats[4];           // 12-24
    LockCounters counters;           // 28-88
    HookedDll* hookedDlls;           // 92
    void* classes;                   // 96
    void* descriptorCache;           // 100
    void* poolBlocks;                // 104
    void* patchedTables;             // 108
    void* pendingCalls;              // 112
    void* interceptedInterfaces;     // 116
};

#ifndef _WIN64
static_assert(sizeof(ProcessBlock) == 120);
static_assert(offsetof(ProcessBlock, counters) == 28);
static_assert(offsetof(ProcessBlock, counters.doubleLockingInUnLockDiagFileSimple) == 88);
static_assert(offsetof(ProcessBlock, hookedDlls) == 92);
static_assert(offsetof(ProcessBlock, interceptedInterfaces) == 116);
#endif

}  // namespace korbin
