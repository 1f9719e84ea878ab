// Layouts shared with other processes (the trace map) and the per-process
// state block. The trace map is the same bytes for i686 and x86_64 processes
// and for the trace reader; the state block is private to one process, so its
// addresses are pointer-sized.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "tracemap.h"

namespace korbin {

using vx::HookEntry;
using vx::kFreeSlot;
using vx::kHookSlots;
using vx::kMapPathLimit;
using vx::kMapPathSize;
using vx::kProcessSlots;
using vx::kRingCapacity;
using vx::kRingOffset;
using vx::kTraceMapName;
using vx::kTraceMapSize;
using vx::TraceMap;

constexpr char kProcessBlockPrefix[] = "SPMappingObject ";

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
