// Export and Compare With of the trace view: its records read back as data
// through the reader, written as JSON Lines or CSV, or compared with a saved
// trace; the rows the comparison window lists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recinfo.h"
#include "traceexport.h"
#include "tracediff.h"
#include "tracerecords.h"

namespace shell {

// A record's lines as the reader hands them out, its first line first.
std::vector<std::string> RecordTextLines(uint32_t pointer, TraceReaderTexts& reader);

// The records of the view in arrival order, numbered by their Num: with
// `shownOnly`, those with a node and the EXIT of each call with one.
void ForEachRecord(const TraceRecords& records, TraceReaderTexts& reader, bool shownOnly,
                   const std::function<void(vx::TraceRecord&&)>& take);

// ".csv" gives CSV; anything else JSON Lines.
vx::ExportFormat ExportFormatOf(const std::string& path);

struct ExportOutcome {
    size_t records = 0;
    std::string error;  // empty when written
};
// The shown records to a new file at `path`.
ExportOutcome ExportShownRecords(const TraceRecords& records, TraceReaderTexts& reader, const std::string& path);

// The view (every record, A) against a saved trace (B).
struct ViewComparison {
    vx::ComparableTrace view{vx::CompareOptions{}}, file{vx::CompareOptions{}};
    vx::Comparison result;
    std::string error;  // the file could not be read whole: nothing compared
};
std::unique_ptr<ViewComparison> CompareViewWith(const TraceRecords& records, TraceReaderTexts& reader,
                                                const std::string& path);

// One difference as the comparison window lists it.
struct CompareRow {
    std::string mark;  // "-" only in the view, "+" only in the file, "~" other results
    int32_t viewNum = 0, fileRecord = 0;
    std::string viewText, fileText;
};
std::vector<CompareRow> CompareRows(const vx::Comparison& comparison);
// "3 differences: 1 only in this trace, 1 only in FILE, 1 with other results"
// or that they match.
std::string CompareSummary(const vx::Comparison& comparison, const std::string& fileName);

}  // namespace shell
