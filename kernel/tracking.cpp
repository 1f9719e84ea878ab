// Classes, instances and intercepted interfaces: what a call on a class
// object or an instance changes, and when its records are due.
#include "tracking.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "describe.h"
#include "format.h"
#include "kernel.h"
#include "pool.h"
#include "raii.h"
#include "records.h"

namespace korbin {
namespace {

constexpr IID kIClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kIClassFactory2 = {0xB196B28F, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// IClassFactory's own slots after IUnknown's.
constexpr uint32_t kSlotCreateInstance = 3;
constexpr uint32_t kSlotCreateInstanceLic = 7;

TraceStore& Store() { return g_kernel.store; }

char* ClassName(REFCLSID clsid) {
    char value[MAX_PATH];
    return PoolCopy(RegisteredClassName(clsid, value, sizeof value) ? value : "No name");
}

ClassRecord* FindClass(REFCLSID clsid) {
    for (ClassRecord* c = g_objects.classes; c; c = c->next)
        if (IsEqualCLSID(c->clsid, clsid)) return c;
    return nullptr;
}

// Appends, so the report lists classes in the order they were first seen.
template <typename T>
void Append(T*& head, T* item) {
    T** link = &head;
    while (*link) link = &(*link)->next;
    *link = item;
}

void ListInterface(void* pointer, ClassRecord* cls, InstanceRecord* instance, MethodTableRecord* table) {
    if (InterceptedInterface* old = g_objects.live.Find(pointer)) {
        if (old->instance == instance && old->cls == cls) {  // already listed
            ++old->handouts;
            return;
        }
        // The address of an object freed by a Release whose exit has not been
        // handled yet (another thread got there first): the new object owns it.
        KillInterface(*old);
    }
    // Always a new entry: a dead one may still be the entry of a call in
    // progress on another thread, whose exit must find it as it was.
    auto* e = static_cast<InterceptedInterface*>(PoolAlloc(sizeof(InterceptedInterface)));
    if (!e) return;
    e->next = g_objects.interfaces;
    g_objects.interfaces = e;
    e->pointer = pointer;
    e->cls = cls;
    e->instance = instance;
    e->table = table;
    e->handouts = 0;
    e->state = g_objects.live.Insert(e) ? 0 : -1;
}

bool ReadIid(uintptr_t address, IID* iid) { return ReadClient(reinterpret_cast<const void*>(address), iid, sizeof *iid); }

QueriedInterface* FindQueried(InstanceRecord& instance, REFIID iid) {
    for (QueriedInterface* q = instance.queried; q; q = q->next)
        if (IsEqualIID(q->iid, iid)) return q;
    return nullptr;
}

QueriedInterface* AddQueried(ClassRecord& cls, InstanceRecord& instance, REFIID iid, void* pointer) {
    auto* q = static_cast<QueriedInterface*>(PoolAlloc(sizeof(QueriedInterface)));
    if (!q) return nullptr;
    q->iid = iid;
    q->pointer = pointer;
    for (int i = 0; i < cls.supportedCount; ++i)
        if (IsEqualIID(cls.supported[i].iid, iid)) q->name = cls.supported[i].name;
    Append(instance.queried, q);
    ++instance.queriedCount;
    return q;
}

// Hooks one interface of an instance: describes it, patches its table and lists it.
void HookInterface(ClassRecord& cls, InstanceRecord& instance, QueriedInterface& queried, void* pointer) {
    queried.hooked = true;
    InterfaceDescription d;
    if (!DescribeInterface(queried.iid, cls.dll, d)) return;  // nothing known: left alone
    if (!queried.name && d.name[0]) queried.name = PoolCopy(d.name);
    queried.described = d.described;
    if (d.neverHooked) return;

    void** table = nullptr;
    if (!ReadClient(pointer, &table, sizeof table)) return;
    MethodTableRecord* record = nullptr;
    for (MethodTableRecord* t = instance.tables; t; t = t->next)
        if (t->table == table) record = t;
    // Already described at least this far for this instance.
    if (record && record->largestOffset >= d.largestOffset && d.largestOffset != 0) return;
    const uint32_t slots = d.largestOffset / 4 + 1;
    if (!record) {
        record = static_cast<MethodTableRecord*>(PoolAlloc(sizeof(MethodTableRecord)));
        if (!record) return;
        record->pointer = pointer;
        record->table = table;
        Append(instance.tables, record);
    } else if (record->functionCount >= d.functionCount) {
        ListInterface(pointer, &cls, &instance, record);
        return;
    }
    record->interfaceName = PoolCopy(d.name[0] ? d.name : "?");
    record->largestOffset = d.largestOffset;
    record->kind = d.kind;
    record->methodCount = d.methodCount;
    record->functionCount = d.functionCount;
    record->methods = d.methods;
    if (!PatchMethodTable(pointer, slots)) return;  // untraced rather than faulting
    ListInterface(pointer, &cls, &instance, record);
}

void HookCreated(ClassRecord& cls, InstanceRecord& instance, REFIID iid, void* pointer) {
    QueriedInterface* q = FindQueried(instance, iid);
    if (q) HookInterface(cls, instance, *q, pointer);
}

// "Find all supported interfaces": every interface of the structure file the
// first instance answers, named by its descriptor line.
void BuildSupportedList(ClassRecord& cls, IUnknown* object) {
    SupportedInterfaceList list = FindSupportedInterfaces(g_kernel.structureFile, object);
    cls.supported = list.items;
    cls.supportedCount = list.count;
}

void AskSupported(ClassRecord& cls, IUnknown* object) {
    for (int i = 0; i < cls.supportedCount; ++i) {
        void* pointer = nullptr;
        if (SUCCEEDED(object->QueryInterface(cls.supported[i].iid, &pointer)) && pointer) {
            static_cast<IUnknown*>(pointer)->Release();  // the client's object: only its table is kept
            cls.supported[i].pointer = pointer;
        }
    }
}

void CreationStep(ClassRecord& cls, HRESULT result, const PendingCall& call) {
    if (call.outerCreation) return;  // a creation nested in it was reported
    void* created = nullptr;
    if (FAILED(result)) {
        ++cls.failed;
        return;
    }
    if (!call.remembered || !ReadClient(call.out, &created, sizeof created) || !created) return;
    auto* instance = static_cast<InstanceRecord*>(PoolAlloc(sizeof(InstanceRecord)));
    if (!instance) return;
    Append(cls.instances, instance);
    ++cls.allocated;
    auto* object = static_cast<IUnknown*>(created);
    instance->hooking = true;
    if (cls.supportedCount > 0)
        AskSupported(cls, object);
    else if (Store().switches.findAllInterfaces)
        BuildSupportedList(cls, object);
    instance->hooking = false;
    instance->createdThroughOther = !IsEqualIID(call.iid, IID_IUnknown);
    AddQueried(cls, *instance, call.iid, created);
    instance->number = ++cls.created;
    ++cls.live;
    WriteCreateRecord(cls, *instance);
    const Switches& sw = Store().switches;
    if (sw.hookAllInterfaces && sw.findAllInterfaces && cls.supportedCount > 0) {
        instance->hooking = true;
        for (int i = 0; i < cls.supportedCount; ++i) {
            if (!cls.supported[i].pointer) continue;
            QueriedInterface* q = FindQueried(*instance, cls.supported[i].iid);
            if (!q) q = AddQueried(cls, *instance, cls.supported[i].iid, cls.supported[i].pointer);
            if (q) HookInterface(cls, *instance, *q, cls.supported[i].pointer);
        }
        instance->hooking = false;
    }
    // Always the created interface itself: "Hook all" without "Find all" has
    // no list to hook, and the created pointer may differ from the listed ones.
    HookCreated(cls, *instance, call.iid, created);
}

void QueryStep(ClassRecord& cls, InstanceRecord& instance, const PendingCall& call) {
    void* pointer = nullptr;
    if (!ReadClient(call.out, &pointer, sizeof pointer) || !pointer) return;
    QueriedInterface* q = FindQueried(instance, call.iid);
    if (!q) {
        q = AddQueried(cls, instance, call.iid, pointer);
        if (!q) return;
        HookInterface(cls, instance, *q, pointer);
        // Late binding reaches the dual interface's methods through Invoke:
        // the coclass's default interface is hooked on the same pointer.
        if (IsEqualIID(call.iid, IID_IDispatch) && FindLiveInterface(pointer) &&
            !IsEqualIID(cls.defaultInterface, IID_NULL) && !FindQueried(instance, cls.defaultInterface)) {
            if (QueriedInterface* d = AddQueried(cls, instance, cls.defaultInterface, pointer))
                HookInterface(cls, instance, *d, pointer);
        }
    } else if (q->pointer != pointer) {
        q->pointer = pointer;
        HookInterface(cls, instance, *q, pointer);
    }
}

void DestructionStep(ClassRecord& cls, InstanceRecord& instance) {
    --cls.live;
    instance.destroyed = -1;
    for (InterceptedInterface* e = g_objects.interfaces; e; e = e->next)
        if (e->instance == &instance) KillInterface(*e);
    WriteDestroyRecord(cls, instance);
}

}  // namespace

InterceptedInterface* FindLiveInterface(const void* pointer) { return g_objects.live.Find(pointer); }

void KillInterface(InterceptedInterface& entry) {
    if (entry.state != 0) return;
    entry.state = -1;
    g_objects.live.Remove(&entry);
}

void InterceptClassObject(REFCLSID clsid, REFIID iid, void* object, HookedDll* dll) {
    uint32_t slots = IsEqualIID(iid, IID_IUnknown) ? 3
                     : IsEqualIID(iid, kIClassFactory)  ? 5
                     : IsEqualIID(iid, kIClassFactory2) ? 8
                                                        : 0;
    if (slots == 0 || !object) return;
    LockCounters& c = Store().counters();
    InterceptionLock lock(&c.waitingEnters, &c.nestedEnterIntoSameThread);
    if (!PatchMethodTable(object, slots)) return;
    ClassRecord* cls = FindClass(clsid);
    if (!cls) {
        cls = static_cast<ClassRecord*>(PoolAlloc(sizeof(ClassRecord)));
        if (!cls) return;
        cls->clsid = clsid;
        cls->name = ClassName(clsid);
        cls->dll = dll;
        cls->defaultInterface = DefaultInterfaceOf(clsid, dll ? dll->typeLib : nullptr);
        Append(g_objects.classes, cls);
    }
    ListInterface(object, cls, nullptr, nullptr);
}

namespace {

// Reads the interface id and the out pointer a call passes at these argument positions.
void Remember(const Call& call, size_t iidArgument, size_t outArgument, PendingCall& pending) {
    pending.out = reinterpret_cast<void**>(ArgumentWord(call, outArgument));
    pending.remembered = ReadIid(ArgumentWord(call, iidArgument), &pending.iid);
}

}  // namespace

void EnterFactoryCall(InterceptedInterface& entry, const Call& call, PendingCall& pending) {
    switch (call.slot) {
    case kSlotQueryInterface:
        Remember(call, 0, 1, pending);
        break;
    case kSlotRelease:
        pending.handoutsAtEntry = entry.handouts;
        break;
    case kSlotCreateInstance:
    case kSlotCreateInstanceLic: {
        // A creation already in progress on this thread for this class is the
        // outer one of a nested pair: only the inner is reported.
        for (PendingCall* p = g_objects.pending; p; p = p->next)
            if (p != &pending && p->thunkNumber != kFreePending && p->creation && p->entry->cls == entry.cls &&
                p->threadId == pending.threadId)
                p->outerCreation = true;
        pending.creation = true;
        bool lic = call.slot == kSlotCreateInstanceLic;
        Remember(call, lic ? 2 : 1, lic ? 4 : 2, pending);
        break;
    }
    default:
        break;
    }
}

void ExitFactoryCall(InterceptedInterface& entry, const Call& call, const PendingCall& pending) {
    ClassRecord& cls = *entry.cls;
    const auto result = static_cast<HRESULT>(static_cast<uint32_t>(call.result));
    switch (call.slot) {
    case kSlotQueryInterface: {
        void* object = nullptr;
        if (result == S_OK && pending.remembered && ReadClient(pending.out, &object, sizeof object))
            InterceptClassObject(cls.clsid, pending.iid, object, cls.dll);
        break;
    }
    case kSlotRelease:
        // Only this class object died: another one of the class (another
        // thread's, say) stays traced. A class object often lives on at 0
        // (a static one): handed out again by another thread between the
        // real Release and this exit, it is in use, not dead.
        if (call.result == 0 && entry.handouts == pending.handoutsAtEntry)
            for (InterceptedInterface* e = g_objects.interfaces; e; e = e->next)
                if (e->cls == &cls && !e->instance && !e->table && e->pointer == entry.pointer) KillInterface(*e);
        break;
    case kSlotCreateInstance:
    case kSlotCreateInstanceLic:
        CreationStep(cls, result, pending);
        break;
    default:
        break;
    }
}

void EnterInstanceCall(InterceptedInterface& entry, const Call& call, PendingCall& pending) {
    InstanceRecord& instance = *entry.instance;
    if (instance.hooking) return;
    WriteEnterRecord(entry, call, pending);
    if (call.slot == kSlotQueryInterface) {
        Remember(call, 0, 1, pending);
        if (pending.remembered) ++instance.pendingQueries;
    }
}

void ExitInstanceCall(InterceptedInterface& entry, const Call& call, const PendingCall& pending) {
    InstanceRecord& instance = *entry.instance;
    if (instance.hooking) return;
    WriteExitRecord(entry, call, pending);
    PoolFree(pending.words);
    if (call.slot == kSlotRelease && call.result == 0 && !instance.destroyed) DestructionStep(*entry.cls, instance);
    if (call.slot == kSlotQueryInterface && pending.remembered) {
        if (static_cast<uint32_t>(call.result) == S_OK) QueryStep(*entry.cls, instance, pending);
        if (instance.pendingQueries > 0) --instance.pendingQueries;
    }
}

void ForgetObjects() {  // the records go with the pool
    g_objects = ObjectModel{};
    ForgetDescriptions();
}

}  // namespace korbin
