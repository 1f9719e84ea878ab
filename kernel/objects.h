// The kernel's object model: classes whose class objects were handed out,
// their instances, the interfaces intercepted on them, the patched method
// tables and the calls in progress. All records live in the kernel pool.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "checkedread.h"
#include "liveindex.h"

namespace korbin {

struct HookedDll;
struct ClassRecord;
struct InstanceRecord;

struct TypeDetails;

struct MethodParam {
    char* name;
    uint16_t flags;  // PARAMFLAG_F*
    VARTYPE vt;
    uint32_t size;   // bytes of the value
    TypeDetails* details;
};

struct MethodDesc {
    char* name;
    uint32_t offset;  // byte offset in the method table, in 32-bit slots (index * 4)
    VARTYPE returnVt;
    TypeDetails* returnDetails;
    uint32_t returnSize;
    uint32_t paramCount;
    MethodParam* params;
};

struct PatchedTable {
    void* lastInterface;
    void** table;
    unsigned char* thunks;
    uint32_t slots;
    PatchedTable* next;
};

struct InterceptedInterface;

struct PendingCall {
    uint32_t thunkNumber;  // kFreePending when free
    void* realReturn;
    InterceptedInterface* entry;
    void** returnSlot;
    PendingCall* next;
    void* exitThunk;   // what the return slot holds while the call is in progress
    // What a query or a creation in progress asked for, kept per call so that
    // calls on other threads cannot mix theirs in.
    DWORD threadId;
    void** out;
    IID iid;
    bool remembered;   // out and iid were read
    bool creation;     // a CreateInstance(Lic) call of a class object
    bool outerCreation;  // a nested creation ran inside it on its thread: not reported
    uint32_t handoutsAtEntry;  // of the entry, when the call began
    // The first word of each parameter and of the return slot at entry,
    // for the out-values at exit (pool memory, freed at exit).
    uintptr_t* words;
};
constexpr uint32_t kFreePending = 0xFFFF;

enum class TableKind { Custom = 1, Dual = 2, Dispatch = 3 };

struct MethodTableRecord {
    char* interfaceName;
    uint32_t largestOffset;
    TableKind kind;
    uint32_t methodCount;
    uint32_t functionCount;
    MethodDesc* methods;
    void* pointer;
    void** table;
    MethodTableRecord* next;
};

struct QueriedInterface {
    IID iid;
    char* name;
    void* pointer;
    bool hooked;
    bool described;  // a type description was found for it
    QueriedInterface* next;
};

struct InstanceRecord {
    QueriedInterface* queried;
    uint32_t queriedCount;
    MethodTableRecord* tables;
    InstanceRecord* next;
    bool createdThroughOther;
    int number;
    int destroyed;  // -1 once destroyed
    int pendingQueries;  // their interface ids and out pointers are kept per call
    bool hooking;
};

struct SupportedInterface {
    IID iid;
    char* name;
    void* pointer;
};

struct ClassRecord {
    CLSID clsid;
    char* name;
    HookedDll* dll;
    InstanceRecord* instances;
    int live;
    int failed;
    int allocated;
    int created;
    SupportedInterface* supported;
    int supportedCount;
    IID defaultInterface;  // the coclass's [default] interface, IID_NULL when unknown
    ClassRecord* next;
};

struct InterceptedInterface {
    void* pointer;
    ClassRecord* cls;
    InstanceRecord* instance;     // none for a class object
    MethodTableRecord* table;     // none for a class object
    int state;                    // 0 live, -1 dead
    // Times a class object already listed was handed out again: a Release
    // that answered 0 before one of those no longer ends it.
    uint32_t handouts;
    InterceptedInterface* next;
};

// Everything the handlers and the hooks share, guarded by the interception lock.
struct ObjectModel {
    ClassRecord* classes = nullptr;
    PatchedTable* tables = nullptr;
    PendingCall* pending = nullptr;
    InterceptedInterface* interfaces = nullptr;
    LiveIndex live;  // the live entries of `interfaces`, by pointer
    uint32_t nextThunkNumber = 0;
    uint32_t unwritableTables = 0;  // tables that could not be made writable: left untraced
    uint32_t unwoundCalls = 0;      // calls whose frames an exception unwound past their exit
};
extern ObjectModel g_objects;

// Marks a live entry dead (no longer found by the handlers).
void KillInterface(InterceptedInterface& entry);

// Patches the first `slots` slots of the object's method table (extending an
// earlier patch); false when the table cannot be made writable, with nothing written.
bool PatchMethodTable(void* object, uint32_t slots);
// Puts every real method back into tables that still lie in loaded memory.
void RestoreMethodTables();
// Puts back and forgets the patched tables inside [base, base + size): their
// DLL is about to be freed, after which nothing may be written there.
void RestoreTablesIn(const void* base, size_t size);

// After the real DllGetClassObject succeeded, or a class object's QueryInterface.
void InterceptClassObject(REFCLSID clsid, REFIID iid, void* object, HookedDll* dll);

// Frees the whole model (the pool goes with it).
void ForgetObjects();

// The interception lock, re-entrant for its owner.
class InterceptionLock {
public:
    InterceptionLock(uint32_t* waits, uint32_t* nested);
    ~InterceptionLock();
    InterceptionLock(const InterceptionLock&) = delete;
    InterceptionLock& operator=(const InterceptionLock&) = delete;

private:
    uint32_t* nested_;
    bool taken_;
};

// While the process exits: an ended thread was inside a handler, so the
// object model may be half updated.
bool InterceptionAbandonedAtShutdown();

}  // namespace korbin
