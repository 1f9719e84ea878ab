#include "checkedread.h"

#include <windows.h>

#include <cstdint>

#include "thunks/thunk.h"

namespace korbin {
namespace {

constexpr unsigned kCachedRanges = 8;
constexpr unsigned kThreadStates = 256;

// One thread's cache of address ranges found committed and readable. The
// states are the module's own (no allocation on a client's thread, nothing
// freed under a thread that still points at one); a thread gives its state
// back when it ends. Threads beyond them read without a cache.
struct ReaderThread {
    volatile LONG owner;  // thread id, 0 when free
    unsigned next;
    struct {
        uintptr_t begin, end;
    } ranges[kCachedRanges];
};
ReaderThread g_threads[kThreadStates];

// The TLS slot holds the thread's state, with the low bit set while the
// thread is inside the copy: the handler's mark.
constexpr uintptr_t kReading = 1;
DWORD g_slot = TLS_OUT_OF_INDEXES;
void* g_handler = nullptr;
volatile LONG g_started = 0;  // 0 no, 1 starting, 2 running
volatile LONG g_queries = 0;
volatile LONG g_recovered = 0;

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// A guard page hit anyway (it became one after the check): the system took
// the guard off to report the hit, so it is put back for its owner (a
// stack's guard must stay for the stack to grow). Done at once, while the
// owner can hardly have changed the page in between.
void RestoreGuard(uintptr_t address) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0 || info.State != MEM_COMMIT) return;
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    DWORD old;
    ::VirtualProtect(reinterpret_cast<void*>(address & ~static_cast<uintptr_t>(system.dwPageSize - 1)),
                     system.dwPageSize, info.Protect | PAGE_GUARD, &old);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_GUARD_PAGE && code != EXCEPTION_IN_PAGE_ERROR)
        return EXCEPTION_CONTINUE_SEARCH;
    // Only the copy routine's own instruction; the slot is looked at after
    // that, so that no other exception costs anything or changes anything.
    CONTEXT probe = *pointers->ContextRecord;
    if (!RecoverCopyFault(probe)) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD lastError = ::GetLastError();
    const auto value = reinterpret_cast<uintptr_t>(::TlsGetValue(g_slot));
    ::SetLastError(lastError);
    if (!(value & kReading)) return EXCEPTION_CONTINUE_SEARCH;
    if (code == EXCEPTION_GUARD_PAGE && pointers->ExceptionRecord->NumberParameters >= 2)
        RestoreGuard(pointers->ExceptionRecord->ExceptionInformation[1]);
    RecoverCopyFault(*pointers->ContextRecord);
    ::InterlockedIncrement(&g_recovered);
    return EXCEPTION_CONTINUE_EXECUTION;
}

ReaderThread* ClaimState() {
    const auto self = static_cast<LONG>(::GetCurrentThreadId());
    for (ReaderThread& t : g_threads) {
        if (t.owner == 0 && ::InterlockedCompareExchange(&t.owner, self, 0) == 0) {
            t.next = 0;
            for (auto& r : t.ranges) r = {};
            return &t;
        }
    }
    return nullptr;
}

bool Cached(const ReaderThread& thread, uintptr_t at, uintptr_t* end) {
    for (const auto& r : thread.ranges) {
        if (at >= r.begin && at < r.end) {
            *end = r.end;
            return true;
        }
    }
    return false;
}

// Every page of [at, end) committed, readable and no guard page.
bool PagesReadable(ReaderThread* thread, uintptr_t at, uintptr_t end) {
    while (at < end) {
        uintptr_t rangeEnd;
        if (thread && Cached(*thread, at, &rangeEnd)) {
            at = rangeEnd;
            continue;
        }
        MEMORY_BASIC_INFORMATION info;
        ::InterlockedIncrement(&g_queries);
        if (::VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
            !(info.Protect & kReadable) || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
            return false;
        const auto begin = reinterpret_cast<uintptr_t>(info.BaseAddress);
        rangeEnd = begin + info.RegionSize;
        if (rangeEnd <= at) return false;
        if (thread) {
            auto& slot = thread->ranges[thread->next++ % kCachedRanges];
            slot.begin = begin;
            slot.end = rangeEnd;
        }
        at = rangeEnd;
    }
    return true;
}

}  // namespace

void StartCheckedReads() {
    if (g_started == 2) return;
    if (::InterlockedCompareExchange(&g_started, 1, 0) != 0) {
        while (g_started != 2) ::SwitchToThread();
        return;
    }
    g_slot = ::TlsAlloc();
    // First in line: a fault of the copy is recovered before a client's own
    // vectored handler could take it for one of its own.
    if (g_slot != TLS_OUT_OF_INDEXES) g_handler = ::AddVectoredExceptionHandler(1, OnException);
    ::InterlockedExchange(&g_started, 2);
}

void StopCheckedReads() {
    if (g_started != 2) return;
    if (g_handler) ::RemoveVectoredExceptionHandler(g_handler);
    if (g_slot != TLS_OUT_OF_INDEXES) ::TlsFree(g_slot);
    g_handler = nullptr;
    g_slot = TLS_OUT_OF_INDEXES;
    ::InterlockedExchange(&g_started, 0);
}

bool ReadClient(const void* address, void* out, size_t size) {
    if (!address) return false;
    if (size == 0) return true;
    const auto at = reinterpret_cast<uintptr_t>(address);
    if (at + size < at) return false;
    StartCheckedReads();
    if (!g_handler) return false;  // without the handler a plain copy could fault the client
    auto* thread = static_cast<ReaderThread*>(::TlsGetValue(g_slot));
    if (!thread && (thread = ClaimState())) ::TlsSetValue(g_slot, thread);
    if (!PagesReadable(thread, at, at + size)) return false;
    ::TlsSetValue(g_slot, reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(thread) | kReading));
    const bool copied = korbin_guarded_copy(out, address, size) != 0;
    ::TlsSetValue(g_slot, thread);
    // What the cache said no longer holds somewhere: ask again next time.
    if (!copied && thread)
        for (auto& r : thread->ranges) r = {};
    return copied;
}

void CheckedReadsThreadEnding() {
    if (g_started != 2) return;
    auto* thread = static_cast<ReaderThread*>(::TlsGetValue(g_slot));
    if (!thread) return;
    ::TlsSetValue(g_slot, nullptr);
    ::InterlockedExchange(&thread->owner, 0);
}

CheckedReadStats CheckedReadCounts() {
    return {static_cast<unsigned long>(g_queries), static_cast<unsigned long>(g_recovered)};
}

}  // namespace korbin
