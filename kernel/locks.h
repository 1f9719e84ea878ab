// Lock words: 32-bit thread ids taken by compare-and-exchange from 0 and
// released by writing 0. A waiter that finds the owner gone (a thread ended by
// ExitProcess, a killed client, a reader that died holding -1) takes the lock
// over, so no client and no process exit can hang on a dead owner.
#pragma once

#include <windows.h>

#include "tracemap.h"
#include <cstdint>

namespace korbin {

// How long the reader's mark (-1) may stand before it counts as abandoned.
constexpr DWORD kReaderHoldLimitMs = 3000;

// The trace reader writes this into the map lock word instead of a thread id.
constexpr LONG kReaderMark = -1;

// Remembers since when a waiter has seen the reader's mark without a break.
struct ReaderHoldWatch {
    DWORD since = 0;
    bool watching = false;
};

inline LONG CurrentOwnerId() { return static_cast<LONG>(::GetCurrentThreadId()); }

inline bool TryTakeLock(volatile LONG* word, LONG self) {
    return ::InterlockedCompareExchange(word, self, 0) == 0;
}

// A plain store releases on x86 and x86_64: the exchange's bus lock cost
// more than the rest of a short trace line.
inline void ReleaseLock(volatile LONG* word) { __atomic_store_n(word, 0, __ATOMIC_RELEASE); }

// True while the process is exiting (DLL detach after the other threads ended).
bool ProcessShuttingDown();

// True when the id no longer names a running thread.
using vx::ThreadIsGone;

// One look at a busy word: takes it over when its owner is gone. Returns true
// when the caller now owns it.
bool TakeOverIfAbandoned(volatile LONG* word, LONG self, ReaderHoldWatch& watch);

// Waits for a word whose first try failed; see TakeLock.
void WaitForLock(volatile LONG* word, LONG self, uint32_t* waits);

// Takes the word, yielding while it is busy; every failed try adds one to
// *waits. A free word is taken without a call: a trace line and a pool
// allocation each take one.
inline void TakeLock(volatile LONG* word, LONG self, uint32_t* waits) {
    if (!TryTakeLock(word, self)) WaitForLock(word, self, waits);
}

// Locks taken over from a dead owner in this process.
uint32_t LockTakeovers();

}  // namespace korbin
