// Classes, instances and intercepted interfaces; the CREATE, ENTER, EXIT and
// DESTROY records; the final report.
#include "tracking.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "describe.h"
#include "format.h"
#include "kernel.h"
#include "pool.h"
#include "raii.h"

namespace korbin {
namespace {

constexpr IID kIClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kIClassFactory2 = {0xB196B28F, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

constexpr uint32_t kSlotQueryInterface = 0;
constexpr uint32_t kSlotAddRef = 1;
constexpr uint32_t kSlotRelease = 2;
constexpr uint32_t kSlotCreateInstance = 3;
constexpr uint32_t kSlotCreateInstanceLic = 7;

TraceStore& Store() { return g_kernel.store; }

void Header() {
    Store().Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), g_kernel.processId, Store().recordNumber());
}

char* ClassName(REFCLSID clsid) {
    char key[64] = "CLSID\\";
    GuidString(clsid, key + 6, sizeof key - 6);
    char value[512];
    DWORD size = sizeof value - 1, type = 0;
    vx::unique_hkey hkey;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, hkey.put()) == ERROR_SUCCESS &&
        ::RegQueryValueExA(hkey.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value[size < sizeof value ? size : sizeof value - 1] = '\0';
        return PoolCopy(value);
    }
    return PoolCopy("No name");
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
        if (old->instance == instance && old->cls == cls) return;  // already listed
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
            static_cast<IUnknown*>(pointer)->Release();
            cls.supported[i].pointer = pointer;
        }
    }
}

// Opens an instance's CREATE or DESTROY record: title, header, class line.
void BeginInstanceRecord(const char* title, const ClassRecord& cls, const InstanceRecord& instance) {
    TraceStore& s = Store();
    s.LockDiagFile();
    s.Line("%s", title);
    Header();
    s.Line("Class: %s (instance# %d)", cls.name, instance.number);
}

void WriteCreateRecord(const ClassRecord& cls, const InstanceRecord& instance) {
    TraceStore& s = Store();
    BeginInstanceRecord("--- CREATING THE INSTANCE ---", cls, instance);
    s.Line("Total instances: %d", cls.live);
    for (int i = 0; i < cls.supportedCount; ++i) {
        if (i == 0) {
            s.Line("Supported interfaces: ");
            s.Line("\b%s", cls.supported[i].name);
        } else {
            s.Line("                      %s", cls.supported[i].name);
        }
    }
    s.UnLockDiagFile();
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

// Whether the distilled stream leaves out this record.
bool Hidden(const Switches& sw, uint32_t slot, const MethodTableRecord& table, const MethodDesc* method) {
    return (sw.hideIUnknown && slot < 3) || (sw.hideIDispatch && slot < 7 && table.kind != TableKind::Custom) ||
           (!method && sw.hideBeyondVtbl);
}

const MethodDesc* FindMethod(const MethodTableRecord& table, uint32_t slot) {
    for (uint32_t i = 0; i < table.methodCount; ++i)
        if (table.methods[i].offset == slot * 4) return &table.methods[i];
    return nullptr;
}

// Switches the distilled stream off for one record, back on at its end.
class DistilledHiding {
public:
    explicit DistilledHiding(bool hide) : saved_(Store().switches.distilledTrace) {
        if (hide) Store().switches.distilledTrace = false;
    }
    ~DistilledHiding() { Store().switches.distilledTrace = saved_; }

private:
    bool saved_;
};

void WriteFlags(uint16_t flags) {
    static const struct {
        uint16_t bit;
        const char* name;
    } kFlags[] = {{PARAMFLAG_FIN, "in"},     {PARAMFLAG_FOUT, "out"},           {PARAMFLAG_FLCID, "lcid"},
                  {PARAMFLAG_FRETVAL, "retval"}, {PARAMFLAG_FOPT, "optional"}, {PARAMFLAG_FHASDEFAULT, "defaultvalue"}};
    TraceStore& s = Store();
    if (!(flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FLCID | PARAMFLAG_FRETVAL | PARAMFLAG_FOPT |
                   PARAMFLAG_FHASDEFAULT))) {
        s.Line("\b[]");
        return;
    }
    s.Line("\b[");
    bool first = true;
    for (const auto& f : kFlags) {
        if (!(flags & f.bit)) continue;
        if (!first) s.Line("\b,");
        s.Line("\b%s", f.name);
        first = false;
    }
    s.Line("\b]");
}

void WriteTypeName(VARTYPE vt) {
    char name[96];
    TypeName(vt, name, sizeof name);
    Store().Line("%s", name);
}

bool StreamsOff() { return !Store().switches.fullTrace && !Store().switches.distilledTrace; }

// Formatted pieces into the current record.
class RecordSink final : public Sink {
public:
    void Piece(const char* text) override { Store().Line("%s", text); }
    void Indent(int delta) override { Store().Indent(delta); }
};

constexpr uintptr_t kAccumulatorMark = 0x55555555;
constexpr uintptr_t kNoValueMark = 0xAAAAAAAA;
constexpr uint32_t kLargestReadable = 40;
constexpr int kValueIndent = 21;

// A value at the parameters' indentation; false when client memory failed.
bool WriteValue(VARTYPE code, const TypeDetails* details, const void* address) {
    RecordSink sink;
    Store().Indent(kValueIndent);
    bool ok = FormatValue(sink, code, details, address);
    Store().Indent(-kValueIndent);
    return ok;
}

// IDispatch::GetIDsOfNames: its first name, instead of a pointer.
bool WriteFirstName(const void* address) {
    const wchar_t* const* names = nullptr;
    const wchar_t* first = nullptr;
    if (!ReadClient(address, &names, sizeof names) || !ReadClient(names, &first, sizeof first)) return false;
    wchar_t wide[64];
    size_t n = 0;
    ReadWideText(first, wide, 64, &n);  // what could be read is shown
    char narrow[128];
    int got = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(n), narrow, sizeof narrow - 1, nullptr, nullptr);
    narrow[got > 0 ? got : 0] = '\0';
    Store().Line("\b = \"%s\"", narrow);
    return true;
}

bool IsAccumulatorReturn(const MethodDesc& method, uint32_t slot) {
    return method.returnVt == VT_HRESULT || slot == kSlotAddRef || slot == kSlotRelease;
}

// The parameter lines of an ENTER record; false when the record must be abandoned.
bool WriteEnterParameters(const MethodDesc& method, const Call& call, PendingCall& pending) {
    TraceStore& s = Store();
    ArgumentCursor cursor(call);
    bool sizeError = false;
    for (uint32_t i = 0; i < method.paramCount; ++i) {
        const MethodParam& p = method.params[i];
        if (i > 0) s.Line("\b,");
        s.Line("               ");
        WriteFlags(p.flags);
        s.Line("\b  %s", p.name);
        // A C array parameter arrives as a pointer to its first element.
        const bool array = p.vt == VT_CARRAY;
        const uint32_t size = array ? sizeof(void*) : p.size;
        if (size == 0 || size > kLargestReadable) sizeError = true;
        const void* value = nullptr;
        if (!sizeError) {
            bool byReference = false;
            const bool floating = (p.vt == VT_R4 || p.vt == VT_R8 || p.vt == VT_DATE);
            value = cursor.Next(size, floating, &byReference);
            uintptr_t word = byReference ? reinterpret_cast<uintptr_t>(value) : 0;
            if (!byReference && !ReadClient(value, &word, size < sizeof word ? size : sizeof word)) return false;
            if (array) value = reinterpret_cast<const void*>(word);
            if (pending.words) pending.words[i] = word;
        } else if (pending.words) {
            pending.words[i] = kNoValueMark;
        }
        const bool outOnly = (p.flags & PARAMFLAG_FOUT) && !(p.flags & PARAMFLAG_FIN);
        if (!sizeError && !outOnly && !(p.flags & PARAMFLAG_FRETVAL)) {
            bool names = call.slot == 5 && i == 1 && (p.flags & PARAMFLAG_FIN) && p.vt == 0x210 &&
                         std::strncmp(p.name, "rgsz", 4) == 0;
            if (!(names ? WriteFirstName(value) : WriteValue(p.vt, p.details, value))) return false;
        }
        s.Line("\b  (");
        WriteTypeName(p.vt);
        s.Line("\b)");
    }
    uintptr_t returnWord = kAccumulatorMark;
    if (!IsAccumulatorReturn(method, call.slot)) {
        const void* after = cursor.After();
        returnWord = 0;
        if (sizeError || !after)
            returnWord = kNoValueMark;
        else if (method.returnVt != VT_VOID && !ReadClient(after, &returnWord, sizeof(uint32_t)))
            return false;
        if (method.returnVt != VT_VOID) {
            s.Line("               [out,retval] ");
            s.Line("\b  (");
            WriteTypeName(method.returnVt);
            s.Line("\b)");
        }
    }
    if (pending.words) pending.words[method.paramCount] = returnWord;
    return true;
}

void WriteEnterRecord(const InterceptedInterface& entry, const Call& call, PendingCall& pending) {
    if (StreamsOff()) return;
    const MethodTableRecord& table = *entry.table;
    const MethodDesc* method = FindMethod(table, call.slot);
    DistilledHiding hiding(Hidden(Store().switches, call.slot, table, method));
    TraceStore& s = Store();
    s.LockDiagFile();
    s.Line("*** Serial# of call: %u.%u *** ", call.thunkNumber, call.slot);
    Header();
    s.Line("Class: %s (instance# %d)", entry.cls->name, entry.instance->number);
    if (entry.instance->destroyed) s.Line("\b  It is already destroied !!!");
    s.Line("Interface: %s", table.interfaceName);
    if (!method) {
        s.Line("Method is beyond Vtable");
        s.UnLockDiagFile();
        return;
    }
    static const char* const kKinds[] = {"", "\b (custom)", "\b (dual)", "\b (disp)"};
    s.Line("%s", kKinds[static_cast<int>(table.kind)]);
    s.Line("Method: ");
    if (call.slot == kSlotAddRef || call.slot == kSlotRelease)
        WriteTypeName(method->returnVt);
    else
        s.Line("\bVT_HRESULT");
    s.Line("\b %s (", method->name);
    pending.words = static_cast<uintptr_t*>(PoolAlloc(sizeof(uintptr_t) * (method->paramCount + 1)));
    // Unreadable client memory ends the record here; the call goes on.
    if (WriteEnterParameters(*method, call, pending)) s.Line("\b );");
    s.UnLockDiagFile();
}

void WriteDestroyRecord(const ClassRecord& cls, const InstanceRecord& instance) {
    TraceStore& s = Store();
    BeginInstanceRecord("--- DESTROYING OF THE INSTANCE ---", cls, instance);
    s.Line("Remaining instances: %d", cls.live);
    if (instance.queried) s.Line("Queried interfaces:");
    for (const QueriedInterface* q = instance.queried; q; q = q->next) {
        if (q->name) {
            s.Line("          %s", q->name);
            if (!q->described) s.Line("\b  (Type library for interface was NOT found, it was NOT intercepted)");
        } else {
            char iid[40];
            GuidString(q->iid, iid, sizeof iid);
            s.Line("          %s", iid);
            s.Line("\b  (Information about interface was NOT found, it was NOT intercepted)");
        }
    }
    s.UnLockDiagFile();
}

void DestructionStep(ClassRecord& cls, InstanceRecord& instance) {
    --cls.live;
    instance.destroyed = -1;
    for (InterceptedInterface* e = g_objects.interfaces; e; e = e->next)
        if (e->instance == &instance) KillInterface(*e);
    WriteDestroyRecord(cls, instance);
}

bool WriteExitValues(const MethodDesc& method, const Call& call, const PendingCall& pending, HRESULT result) {
    TraceStore& s = Store();
    const uintptr_t* remembered = pending.words;
    for (uint32_t i = 0; i < method.paramCount; ++i) {
        const MethodParam& p = method.params[i];
        bool flagged = p.flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FLCID | PARAMFLAG_FRETVAL |
                                  PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
        if (!(p.flags & PARAMFLAG_FOUT) && flagged) continue;
        s.Line("               ");
        WriteFlags(p.flags);
        s.Line("\b  %s", p.name);
        if (result < 0) {
            s.Line("\b=[undefined]");
        } else if (remembered && remembered[i] != kNoValueMark) {
            const void* at = p.vt == VT_CARRAY ? reinterpret_cast<const void*>(remembered[i]) : &remembered[i];
            if (!WriteValue(p.vt, p.details, at)) return false;
        }
        s.Line("\b  (");
        WriteTypeName(p.vt);
        s.Line("\b)");
    }
    const auto value = static_cast<uint32_t>(call.result);
    const uintptr_t returnWord = remembered ? remembered[method.paramCount] : kAccumulatorMark;
    if (returnWord == kAccumulatorMark && method.returnVt == VT_HRESULT) {
        s.Line("               HRESULT = %d (%xh)", static_cast<int>(value), value);
    } else if (returnWord == kAccumulatorMark) {
        s.Line("               Return value = %d (%xh)", static_cast<int>(value), value);
        s.Line("\b  (");
        WriteTypeName(method.returnVt);
        s.Line("\b)");
    } else {
        if (method.returnVt != VT_VOID) {
            s.Line("               [out,retval]");
            if (result < 0) {
                s.Line("\b=[undefined]");
            } else if (returnWord == 0) {
                s.Line("\b=NULL");
            } else if (returnWord != kNoValueMark && method.returnSize <= kLargestReadable) {
                if (!WriteValue(method.returnVt, method.returnDetails, reinterpret_cast<const void*>(returnWord)))
                    return false;
            }
            s.Line("\b  (");
            WriteTypeName(method.returnVt);
            s.Line("\b)");
        }
        s.Line("               HRESULT = %d (%xh)", static_cast<int>(value), value);
    }
    return true;
}

void WriteExitRecord(InterceptedInterface& entry, const Call& call, const PendingCall& pending) {
    const MethodTableRecord& table = *entry.table;
    const MethodDesc* method = FindMethod(table, call.slot);
    const auto result = static_cast<HRESULT>(static_cast<uint32_t>(call.result));
    if (!StreamsOff()) {
        DistilledHiding hiding(Hidden(Store().switches, call.slot, table, method));
        TraceStore& s = Store();
        s.LockDiagFile();
        s.Line("   *** Serial# of exit: %u.%u ***", call.thunkNumber, call.slot);
        Header();
        if (method) WriteExitValues(*method, call, pending, result);
        s.UnLockDiagFile();
    }
    PoolFree(pending.words);
    if (call.slot == kSlotRelease && call.result == 0 && !entry.instance->destroyed)
        DestructionStep(*entry.cls, *entry.instance);
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
        // thread's, say) stays traced.
        if (call.result == 0)
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
    if (call.slot == kSlotQueryInterface && pending.remembered) {
        if (static_cast<uint32_t>(call.result) == S_OK) QueryStep(*entry.cls, instance, pending);
        if (instance.pendingQueries > 0) --instance.pendingQueries;
    }
}

void WriteFinalReport() {
    TraceStore& s = Store();
    s.LockDiagFile();
    s.Line("\r\n<<<<<<<<<<<<  FINAL REPORT  >>>>>>>>>>>>");
    Header();
    int listed = 0;
    for (const ClassRecord* c = g_objects.classes; c; c = c->next) {
        if (c->created == 0 && c->failed == 0) continue;
        s.Line("\r\n---- Class# %d: %s ----", ++listed, c->name);
        s.Line("Number of created instances: %d", c->created);
        s.Line("Number of undestroyed instances:    %d", c->live);
        if (c->failed) s.Line("Number of unsuccessful attemts to create instance: %d", c->failed);
    }
    s.UnLockDiagFile();

    s.LockDiagFile();
    s.Line("<<<<<<<<<<<<  End of report  >>>>>>>>>>>>");
    Header();
    if (s.switches.specificInfo) {
        const LockCounters& k = s.counters();
        s.Line("\r\n=== Specific info ===");
        s.Line("NestedWhenLocked=%u  WaitingsForUnlockMapFile=%u", k.nestedWhenLocked, k.waitingsForUnlockMapFile);
        s.Line("WaitingEnters=%u  WaitingExits=%u  NestedEnterIntoSameThread=%u  NestedExitIntoSameThread=%u",
               k.waitingEnters, k.waitingExits, k.nestedEnterIntoSameThread, k.nestedExitIntoSameThread);
        s.Line("DoubleLockingInDgn=%u DoubleLockingInLockDiagFile=%u TooLongDelays=%u", k.doubleLockingInDgn,
               k.doubleLockingInLockDiagFile, k.tooLongDelays);
        s.Line("DoubleLockingInLockDiagFileNoInc=%u DoubleLockingInUnLockDiagFile=%u DoubleLockingInUnLockDiagFileSimple=%u",
               k.doubleLockingInLockDiagFileNoInc, k.doubleLockingInUnLockDiagFile,
               k.doubleLockingInUnLockDiagFileSimple);
        s.Line("WritesToExtraFile=%u MaxRecordsInExtraFile=%u CntFailedToOpenTraceFile=%u", k.writesToExtraFile,
               k.maxRecordsInExtraFile, k.cntFailedToOpenTraceFile);
    }
    s.UnLockDiagFile();
}

void ForgetObjects() {  // the records go with the pool
    g_objects = ObjectModel{};
    ForgetDescriptions();
}

}  // namespace korbin
