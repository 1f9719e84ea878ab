// Method-table patching, the interception lock and the entry and exit
// handlers that every thunk calls.
#include <cstring>

#include "kernel.h"
#include "locks.h"
#include "objects.h"
#include "pool.h"
#include "thunks/thunk.h"
#include "tracking.h"

namespace korbin {

ObjectModel g_objects;

namespace {

volatile LONG g_interceptionLock = 0;

LockCounters& Counters() { return g_kernel.store.counters(); }

PatchedTable* FindTable(void** table) {
    for (PatchedTable* t = g_objects.tables; t; t = t->next)
        if (t->table == table) return t;
    return nullptr;
}

// Makes [table, table + slots) writable; *old receives the protection to put back.
bool MakeWritable(void** table, uint32_t slots, DWORD* old) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(table, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    auto* base = static_cast<char*>(info.BaseAddress);
    size_t length = reinterpret_cast<char*>(table + slots) - base;
    // A table that shares its pages with code keeps them executable.
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    DWORD want = (info.Protect & executable) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
    return ::VirtualProtect(base, length, want, old) != 0;
}

void RestoreProtection(void** table, uint32_t slots, DWORD old) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(table, &info, sizeof info) == 0) return;
    auto* base = static_cast<char*>(info.BaseAddress);
    DWORD ignored;
    ::VirtualProtect(base, reinterpret_cast<char*>(table + slots) - base, old, &ignored);
}

// The table still lies in a loaded image or other committed memory.
bool StillMapped(void** table, uint32_t slots) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(table, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    return reinterpret_cast<char*>(table + slots) <= static_cast<char*>(info.BaseAddress) + info.RegionSize;
}

// The calls of this thread whose frames an exception unwound: their return
// slots lie below the new call's on the same stack, where no call in
// progress can be, or in the very same slot without their exit thunk in it
// (a method that jumps on into another traced one leaves that thunk there).
// A fiber's calls lie on another stack and are left alone.
void DropUnwoundCalls(const Call& call) {
    uintptr_t low, high;
    CurrentStack(&low, &high);
    const auto here = reinterpret_cast<uintptr_t>(call.returnSlot);
    const DWORD self = ::GetCurrentThreadId();
    for (PendingCall* p = g_objects.pending; p; p = p->next) {
        const auto slot = reinterpret_cast<uintptr_t>(p->returnSlot);
        if (p->thunkNumber == kFreePending || p->threadId != self || slot > here || slot < low || slot >= high)
            continue;
        if (slot == here && *call.returnSlot == p->exitThunk) continue;
        PoolFree(p->words);
        p->words = nullptr;
        p->thunkNumber = kFreePending;
        ++g_objects.unwoundCalls;
    }
}

PendingCall* NewPending() {
    for (PendingCall* p = g_objects.pending; p; p = p->next)
        if (p->thunkNumber == kFreePending) return p;
    auto* p = static_cast<PendingCall*>(PoolAlloc(sizeof(PendingCall)));
    if (!p) return nullptr;
    p->thunkNumber = kFreePending;
    p->next = g_objects.pending;
    g_objects.pending = p;
    return p;
}

}  // namespace

InterceptionLock::InterceptionLock(uint32_t* waits, uint32_t* nested) : nested_(nested) {
    LONG self = CurrentOwnerId();
    taken_ = g_interceptionLock != self;
    if (taken_)
        TakeLock(&g_interceptionLock, self, waits);
    else
        ++*nested_;
}

InterceptionLock::~InterceptionLock() {
    if (!taken_) return;
    // A nested handler of this thread may have released it already.
    if (g_interceptionLock != CurrentOwnerId()) ++*nested_;
    ReleaseLock(&g_interceptionLock);
}

bool InterceptionAbandonedAtShutdown() {
    LONG owner = g_interceptionLock;
    return ProcessShuttingDown() && owner != 0 && owner != CurrentOwnerId();
}

bool PatchMethodTable(void* object, uint32_t slots) {
    void** table = nullptr;
    if (slots == 0 || !ReadClient(object, &table, sizeof table)) return false;
    PatchedTable* record = FindTable(table);
    uint32_t covered = record ? record->slots : 0;
    if (record) record->lastInterface = object;
    if (covered >= slots) return true;

    const size_t pair = ThunkPairSize();
    auto* thunks = static_cast<unsigned char*>(PoolAlloc(pair * slots));
    if (!thunks) return false;
    DWORD old = 0;
    if (!MakeWritable(table, slots, &old)) {
        // Writing anyway would fault the client: leave this table alone.
        ++g_objects.unwritableTables;
        PoolFree(thunks);
        return false;
    }
    if (!record) {
        record = static_cast<PatchedTable*>(PoolAlloc(sizeof(PatchedTable)));
        if (!record) {
            RestoreProtection(table, slots, old);
            PoolFree(thunks);
            return false;
        }
        record->table = table;
        record->lastInterface = object;
        record->next = g_objects.tables;
        g_objects.tables = record;
    }
    if (covered > 0) {
        // Pairs address their data relative to themselves, so a copy works as
        // the original. The old block stays: calls in progress (this very exit
        // handler's, when a query extends its own table) return through it.
        std::memcpy(thunks, record->thunks, pair * covered);
        ::FlushInstructionCache(::GetCurrentProcess(), thunks, pair * covered);
        for (uint32_t i = 0; i < covered; ++i) {
            RegisterThunkPair(thunks + pair * i);
            table[i] = EntryThunkOf(thunks + pair * i);
        }
    }
    for (uint32_t i = covered; i < slots; ++i) {
        unsigned char* at = thunks + pair * i;
        WriteThunkPair(at, table[i], i, g_objects.nextThunkNumber++);
        ::FlushInstructionCache(::GetCurrentProcess(), at, pair);
        RegisterThunkPair(at);
        table[i] = EntryThunkOf(at);
    }
    record->thunks = thunks;
    record->slots = slots;
    RestoreProtection(table, slots, old);
    return true;
}

namespace {

// Writes the real methods back; the thunks stay, since a call may still be
// inside one and return through its exit thunk.
void RestoreTable(PatchedTable& t) {
    DWORD old = 0;
    if (!StillMapped(t.table, t.slots) || !MakeWritable(t.table, t.slots, &old)) return;
    const size_t pair = ThunkPairSize();
    for (uint32_t i = 0; i < t.slots; ++i) t.table[i] = RealMethodOf(t.thunks + pair * i);
    RestoreProtection(t.table, t.slots, old);
}

}  // namespace

void RestoreMethodTables() {
    for (PatchedTable* t = g_objects.tables; t;) {
        PatchedTable* next = t->next;
        RestoreTable(*t);
        for (uint32_t i = 0; i < t->slots; ++i) UnregisterThunkPair(t->thunks + ThunkPairSize() * i);
        PoolFree(t->thunks);
        PoolFree(t);
        t = next;
    }
    g_objects.tables = nullptr;
}

void RestoreTablesIn(const void* base, size_t size) {
    auto* low = static_cast<const char*>(base);
    for (PatchedTable** link = &g_objects.tables; *link;) {
        PatchedTable* t = *link;
        auto* at = reinterpret_cast<const char*>(t->table);
        if (at >= low && at < low + size) {
            // Still loaded now: after the FreeLibrary it may be gone, or stay
            // loaded by another reference, clean either way.
            RestoreTable(*t);
            *link = t->next;
            PoolFree(t);
        } else {
            link = &t->next;
        }
    }
}

void OnCallEntry(Call& call) {
    LockCounters& c = Counters();
    InterceptionLock lock(&c.waitingEnters, &c.nestedEnterIntoSameThread);
    InterceptedInterface* entry = FindLiveInterface(call.self);
    if (!entry) return;
    DropUnwoundCalls(call);
    PendingCall* pending = NewPending();
    if (!pending) return;  // untraced rather than unpaired
    PendingCall* next = pending->next;
    *pending = PendingCall{};
    pending->next = next;
    pending->thunkNumber = call.thunkNumber;
    pending->realReturn = *call.returnSlot;
    pending->entry = entry;
    pending->returnSlot = call.returnSlot;
    pending->exitThunk = call.exitThunk;
    pending->threadId = ::GetCurrentThreadId();
    if (call.exitThunk) *call.returnSlot = call.exitThunk;
    call.traced = true;
    if (entry->instance)
        EnterInstanceCall(*entry, call, *pending);
    else
        EnterFactoryCall(*entry, call, *pending);
}

void OnCallExit(Call& call) {
    LockCounters& c = Counters();
    InterceptionLock lock(&c.waitingExits, &c.nestedExitIntoSameThread);
    // The nearest pending call of this thunk below the exit's stack: nested
    // and recursive calls of one method pair up on any thread.
    PendingCall* match = nullptr;
    uintptr_t best = 0;
    for (PendingCall* p = g_objects.pending; p; p = p->next) {
        if (p->thunkNumber != call.thunkNumber) continue;
        auto slot = reinterpret_cast<uintptr_t>(p->returnSlot);
        if (slot >= call.stackAtExit) continue;
        uintptr_t distance = call.stackAtExit - slot;
        if (!match || distance < best) {
            match = p;
            best = distance;
        }
    }
    if (!match) return;  // cannot happen: only a stored call gets the exit thunk
    *call.continuation = match->realReturn;
    const PendingCall done = *match;
    match->thunkNumber = kFreePending;
    if (done.entry->instance)
        ExitInstanceCall(*done.entry, call, done);
    else
        ExitFactoryCall(*done.entry, call, done);
}

}  // namespace korbin
