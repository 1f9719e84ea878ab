// The records of the current trace view (`AllRecords`, `PendingCalls`,
// `InstanceRecords`, `RecordCount`) and the intake of one record: numbering,
// `Parent`, EXIT-to-ENTER pairing and the names fetched per record type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "recinfo.h"

namespace shell {

// EXIT results read straight from a saved trace file, in large sequential
// reads: a line at a time through the reader costs several times more.
class FileResults {
public:
    explicit FileResults(const std::string& path);
    // The HRESULT of the EXIT record at `offset`, if it has one.
    std::optional<int32_t> At(uint32_t offset);

private:
    std::string path_;
    std::string buffer_;
    uint64_t bufferStart_ = 0;
    bool atEnd_ = false;  // the buffer reaches the end of the file
};

class TraceRecords {
public:
    // ResetTraceView's part: every collection emptied and the count set to 0.
    void Reset();

    // Takes one 20-byte descriptor as the next record of the view and returns
    // it (valid until the next record is taken). An EXIT's HRESULT goes to
    // its ENTER.
    RecInfo& Take(const uint8_t* descriptor, TraceReaderTexts& reader);

    // Nesting: under the pending call of the record's own thread and process
    // (a call whose EXIT never came ends when an enclosing call returns), or
    // under the newest pending call of any thread, in arrival order.
    bool NestsByArrival() const { return byArrival_; }
    // Every record's Parent worked out again the chosen way.
    void SetNestByArrival(bool byArrival);
    // Where EXIT results come from while a saved file is read (null: the reader).
    void SetResultFile(FileResults* results) { results_ = results; }

    // The final-report record (RecType 200, Num FinalReportNum, Parent 0);
    // null when the view already has one, whose key would then be taken twice.
    RecInfo* AddFinalReportRecord();

    // The record numbered `num` (FinalReportNum included); null for none.
    RecInfo* Record(int32_t num);
    const RecInfo* Record(int32_t num) const;

    // Position n - 1 holds the n-th record taken.
    const std::vector<RecInfo>& AllRecords() const { return all_; }
    std::vector<RecInfo>& AllRecords() { return all_; }
    // Nums of the ENTER records still waiting for their EXIT, oldest first.
    const std::vector<int32_t>& PendingCalls() const { return pending_; }
    // Nums of the CREATE and DESTROY records in arrival order.
    const std::vector<int32_t>& InstanceRecords() const { return instances_; }
    // Records taken into the view, the final-report record included.
    int32_t RecordCount() const { return static_cast<int32_t>(all_.size()); }

private:
    // Parent of a record by the nesting chosen; an EXIT closes its call.
    void Nest(RecInfo& r);

    std::vector<RecInfo> all_;
    bool byArrival_ = false;
    FileResults* results_ = nullptr;
    std::vector<int32_t> arrival_;                             // pending calls, any thread
    std::unordered_map<uint64_t, std::vector<int32_t>> threads_;  // pending calls by process and thread
    std::vector<int32_t> pending_;
    std::vector<int32_t> instances_;
    size_t finalReportAt_ = SIZE_MAX;
};

}  // namespace shell
