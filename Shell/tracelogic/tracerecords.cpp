// Record intake of the trace view.
#include "tracerecords.h"

#include <cstring>
#include <algorithm>
#include <iterator>

#include "raii.h"
#include "recorddescriptor.h"
#include "textconv.h"
#include "traceexchange.h"
#include "tracerecord.h"

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
    arrival_.clear();
    threads_.clear();
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

// The HRESULT line of an EXIT, for its ENTER; AddRef and Release return
// counts instead.
void ReadResult(const RecInfo& exit, RecInfo& enter, TraceReaderTexts& reader) {
    for (const std::string& line : RecordTextLines(exit.Pointer, reader)) {
        if (std::optional<int32_t> hr = vx::ResultOfLine(line)) {
            enter.Result = *hr;
            enter.HasResult = true;
            return;
        }
    }
}

}  // namespace

RecInfo& TraceRecords::Take(const uint8_t* descriptor, TraceReaderTexts& reader) {
    RecInfo& r = all_.emplace_back();
    r.Num = static_cast<int32_t>(all_.size());
    DecodeDescriptor(descriptor, &r);

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
                if (!results_) {
                    ReadResult(r, enter, reader);
                } else if (std::optional<int32_t> hr = results_->At(r.Pointer)) {
                    enter.Result = *hr;
                    enter.HasResult = true;
                }
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
    Nest(r);
    return r;
}

FileResults::FileResults(const std::string& path) : path_(path) {}

std::optional<int32_t> FileResults::At(uint32_t offset) {
    constexpr size_t kRead = 1 << 20, kMostRecord = 64 * 1024;
    bool wholeRecordHere = offset >= bufferStart_ &&
                           (atEnd_ ? offset < bufferStart_ + buffer_.size() : offset + kMostRecord <= bufferStart_ + buffer_.size());
    if (!wholeRecordHere) {
        vx::unique_file file(vx::OpenFile(path_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
        LARGE_INTEGER at;
        at.QuadPart = offset;
        DWORD got = 0;
        buffer_.resize(kRead);
        if (!file || !::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
            !::ReadFile(file.get(), buffer_.data(), static_cast<DWORD>(kRead), &got, nullptr))
            got = 0;
        buffer_.resize(got);
        bufferStart_ = offset;
        atEnd_ = got < kRead;
    }
    // The record's lines, up to the next record's "\r\n" and mark or its end mark.
    size_t at = offset - bufferStart_;
    for (size_t line = buffer_.find("\r\n", at); line != std::string::npos && line < at + kMostRecord;
         line = buffer_.find("\r\n", line + 2)) {
        size_t text = line + 2;
        if (text >= buffer_.size() || buffer_[text] == '\x01') break;
        if (buffer_[text] != ' ' && vx::IsRecordStart(buffer_.substr(text, 16))) break;
        size_t end = std::min(buffer_.find("\r\n", text), buffer_.size());
        if (std::optional<int32_t> hr = vx::ResultOfLine(std::string_view(buffer_).substr(text, end - text))) return hr;
    }
    return std::nullopt;
}

void TraceRecords::Nest(RecInfo& r) {
    std::vector<int32_t>& pending = byArrival_ ? arrival_ : threads_[(uint64_t{r.PID} << 32) | r.TID];
    r.Parent = pending.empty() ? 0 : pending.back();
    if (r.RecType == kRecordEnter) {
        pending.push_back(r.Num);
    } else if (r.RecType == kRecordExit && r.EnterForExit) {
        auto it = std::find(pending.rbegin(), pending.rend(), r.EnterForExit);
        if (it == pending.rend()) return;
        // In its own thread the calls still pending above it were unwound
        // (an exception passed through them): they end with it.
        auto from = std::next(it).base();
        pending.erase(from, byArrival_ ? from + 1 : pending.end());
    }
}

void TraceRecords::SetNestByArrival(bool byArrival) {
    byArrival_ = byArrival;
    arrival_.clear();
    threads_.clear();
    for (RecInfo& r : all_)
        if (r.Num != FinalReportNum) Nest(r);
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
