// Record intake of the trace view.
#include "tracerecords.h"

#include <cstring>
#include <iterator>

#include "recorddescriptor.h"

namespace shell {

void DecodeDescriptor(const uint8_t* descriptor, RecInfo* record) {
    vx::RecordDescriptor d;
    std::memcpy(&d, descriptor, sizeof d);
    record->RecType = d.type;
    record->Patch = d.firstSerial;
    record->MethodNum = d.secondSerial;
    record->Pointer = d.offset;
    record->TID = d.threadId & 0xFFFFFF;
    record->PID = d.processId & 0xFFFFFF;
}

void TraceRecords::Reset() {
    all_.clear();
    pending_.clear();
    instances_.clear();
    finalReportAt_ = SIZE_MAX;
}

namespace {

const char* DiagnosticName(uint32_t type) {
    switch (type) {
    case kRecordEnter: return " RECORD_TYPE_ENTER";
    case kRecordExit: return " RECORD_TYPE_EXIT";
    case kRecordCreate: return " RECORD_TYPE_CREATE";
    case kRecordDestroy: return " RECORD_TYPE_DESTROY";
    case kRecordLoad: return " RECORD_TYPE_LOAD";
    case kRecordUnload: return " RECORD_TYPE_UNLOAD";
    default: return nullptr;
    }
}

}  // namespace

RecInfo& TraceRecords::Take(const uint8_t* descriptor, TraceReaderTexts& reader) {
    RecInfo& r = all_.emplace_back();
    r.Num = static_cast<int32_t>(all_.size());
    DecodeDescriptor(descriptor, &r);
    // Nesting follows arrival order alone, across threads and processes.
    r.Parent = pending_.empty() ? 0 : pending_.back();

    switch (r.RecType) {
    case kRecordEnter:
        r.MethodName = reader.GetMethodName(r.Pointer);
        r.ClassName = reader.GetClassName(r.Pointer, &r.InstanceNum);
        pending_.push_back(r.Num);
        break;
    case kRecordExit:
        // The newest pending call of the same method table slot, thread and
        // process is the one returning (a nested re-entry returns first).
        for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
            RecInfo& enter = all_[static_cast<size_t>(*it) - 1];
            if (enter.Patch == r.Patch && enter.PID == r.PID && enter.TID == r.TID &&
                enter.MethodNum == r.MethodNum) {
                r.EnterForExit = enter.Num;
                enter.ExitForEnter = r.Num;
                pending_.erase(std::next(it).base());
                break;
            }
        }
        break;
    case kRecordCreate:
    case kRecordDestroy:
        r.ClassName = reader.GetClassName(r.Pointer, &r.InstanceNum);
        instances_.push_back(r.Num);
        break;
    case kRecordLoad:
        r.ClassName = reader.GetDllShortName(r.Pointer);
        r.MethodName = reader.GetProcessCommandLine(r.Pointer);
        break;
    case kRecordUnload:
        r.ClassName = reader.GetDllShortName(r.Pointer);
        break;
    default:
        break;
    }
    if (const char* name = DiagnosticName(r.RecType)) reader.Diagn(std::to_string(r.Num) + name);
    return r;
}

RecInfo* TraceRecords::AddFinalReportRecord() {
    if (finalReportAt_ != SIZE_MAX) return nullptr;
    RecInfo& r = all_.emplace_back();
    r.RecType = kRecordFinalReport;
    r.Num = FinalReportNum;
    finalReportAt_ = all_.size() - 1;
    return &r;
}

RecInfo* TraceRecords::Record(int32_t num) {
    return const_cast<RecInfo*>(static_cast<const TraceRecords*>(this)->Record(num));
}

const RecInfo* TraceRecords::Record(int32_t num) const {
    if (num == FinalReportNum) return finalReportAt_ == SIZE_MAX ? nullptr : &all_[finalReportAt_];
    if (num < 1 || static_cast<size_t>(num) > all_.size()) return nullptr;
    const RecInfo& r = all_[static_cast<size_t>(num) - 1];
    return r.Num == num ? &r : nullptr;
}

}  // namespace shell
