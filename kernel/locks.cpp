#include "locks.h"

#include "raii.h"

namespace korbin {
namespace {

volatile LONG g_takeovers = 0;

// Checking an owner costs a system call; a short wait is normal, so look
// only every so many yields.
constexpr unsigned kSpinsBetweenOwnerChecks = 32;

}  // namespace

bool ProcessShuttingDown() {
    // While the process exits, every thread but the one running the DLL
    // detach calls has been ended, whatever the system still says of them.
    using ShutdownQuery = BOOLEAN(WINAPI*)();
    static const auto query = reinterpret_cast<ShutdownQuery>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
    return query && query();
}

bool TakeOverIfAbandoned(volatile LONG* word, LONG self, ReaderHoldWatch& watch) {
    LONG owner = *word;
    if (owner == 0) return TryTakeLock(word, self);
    bool gone;
    if (owner == kReaderMark) {
        DWORD now = ::GetTickCount();
        if (!watch.watching) {
            watch.watching = true;
            watch.since = now;
        }
        gone = now - watch.since >= kReaderHoldLimitMs;
    } else {
        watch.watching = false;
        gone = owner != self && (ProcessShuttingDown() || ThreadIsGone(static_cast<DWORD>(owner)));
    }
    if (!gone) return false;
    if (::InterlockedCompareExchange(word, self, owner) != owner) return false;
    watch.watching = false;
    ::InterlockedIncrement(&g_takeovers);
    return true;
}

void WaitForLock(volatile LONG* word, LONG self, uint32_t* waits) {
    ReaderHoldWatch watch;
    unsigned spins = 0;
    do {
        if (waits) ++*waits;
        ::SwitchToThread();
        if (++spins % kSpinsBetweenOwnerChecks == 0 && TakeOverIfAbandoned(word, self, watch)) return;
    } while (!TryTakeLock(word, self));
}

uint32_t LockTakeovers() { return static_cast<uint32_t>(g_takeovers); }

}  // namespace korbin
