// The texts of the records the kernel writes while objects live (CREATE,
// ENTER, EXIT, DESTROY), of the LOAD DLL and UNLOAD DLL records and of the
// final report: each record one scope of the record locks.
#include "records.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "describe.h"
#include "format.h"
#include "kernel.h"
#include "linetext.h"
#include "pool.h"
#include "timetext.h"

namespace korbin {
namespace {


TraceStore& Store() { return g_kernel.store; }

void Header() {
    Store().Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), g_kernel.processId, Store().recordNumber());
}

// The first lines of an instance's CREATE or DESTROY record: title, header, class line.
void InstanceRecordHead(const char* title, const ClassRecord& cls, const InstanceRecord& instance) {
    Store().Line("%s", title);
    Header();
    Store().Line("Class: %s (instance# %d)", cls.name, instance.number);
}

}  // namespace

void WriteCreateRecord(const ClassRecord& cls, const InstanceRecord& instance) {
    TraceStore& s = Store();
    RecordScope record(s);
    InstanceRecordHead("--- CREATING THE INSTANCE ---", cls, instance);
    s.Line("Total instances: %d", cls.live);
    for (int i = 0; i < cls.supportedCount; ++i) {
        if (i == 0) {
            s.Line("Supported interfaces: ");
            s.Line("\b%s", cls.supported[i].name);
        } else {
            s.Line("                      %s", cls.supported[i].name);
        }
    }
}

namespace {

// Whether the distilled stream leaves out this record.
bool Hidden(const Switches& sw, uint32_t slot, const MethodTableRecord& table, const MethodDesc* method) {
    return (sw.hideIUnknown && slot <= kSlotRelease) ||
           (sw.hideIDispatch && slot <= kSlotInvoke && table.kind != TableKind::Custom) ||
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
    NarrowText(wide, static_cast<int>(n), narrow, sizeof narrow);
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
            // GetIDsOfNames' names (OLECHAR**, which the standard library
            // describes as a char two pointers deep): the first one asked for.
            bool names = call.slot == kSlotGetIDsOfNames && i == 1 && (p.flags & PARAMFLAG_FIN) &&
                         p.vt == EncodedType(VT_I1, 2) && std::strncmp(p.name, "rgsz", 4) == 0;
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

}  // namespace

void WriteEnterRecord(const InterceptedInterface& entry, const Call& call, PendingCall& pending) {
    if (StreamsOff()) return;
    const MethodTableRecord& table = *entry.table;
    const MethodDesc* method = FindMethod(table, call.slot);
    DistilledHiding hiding(Hidden(Store().switches, call.slot, table, method));
    TraceStore& s = Store();
    RecordScope record(s);
    s.Line("*** Serial# of call: %u.%u *** ", call.thunkNumber, call.slot);
    Header();
    s.Line("Class: %s (instance# %d)", entry.cls->name, entry.instance->number);
    if (entry.instance->destroyed) s.Line("\b  It is already destroied !!!");
    s.Line("Interface: %s", table.interfaceName);
    if (!method) {
        s.Line("Method is beyond Vtable");
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
}

void WriteDestroyRecord(const ClassRecord& cls, const InstanceRecord& instance) {
    TraceStore& s = Store();
    RecordScope record(s);
    InstanceRecordHead("--- DESTROYING OF THE INSTANCE ---", cls, instance);
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
}

namespace {

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

}  // namespace

void WriteExitRecord(const InterceptedInterface& entry, const Call& call, const PendingCall& pending) {
    if (StreamsOff()) return;
    const MethodTableRecord& table = *entry.table;
    const MethodDesc* method = FindMethod(table, call.slot);
    const auto result = static_cast<HRESULT>(static_cast<uint32_t>(call.result));
    DistilledHiding hiding(Hidden(Store().switches, call.slot, table, method));
    TraceStore& s = Store();
    RecordScope record(s);
    s.Line("   *** Serial# of exit: %u.%u ***", call.thunkNumber, call.slot);
    Header();
    if (method) WriteExitValues(*method, call, pending, result);
}

void WriteFinalReport() {
    TraceStore& s = Store();
    {
        RecordScope report(s);
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
    }
    RecordScope closing(s);
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
}

void WriteDllRecord(const char* kind, const HookedDll& dll, bool unloadLine) {
    TraceStore& s = g_kernel.store;
    char time[vx::kTimeTextLength + 1];
    vx::CurrentTimeText(time);
    RecordScope record(s);
    s.Line("========= %s DLL: %s =========", kind, dll.fileName);
    Header();
    s.Line("Time: %s", time);
    s.Line("DLL's path: %s", dll.path);
    s.Line("Host process's command line: %s", ::GetCommandLineA());
    if (unloadLine)
        s.Line(dll.unloaded ? "All interface pointers were released" : "NOT all interface pointers were released");
}

}  // namespace korbin
