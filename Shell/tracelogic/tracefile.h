// Saved traces: what Save Trace writes (the distilled trace up to its last
// whole record) and what Open TraceFile can expect of a file before and while
// the reader reads it (missing, not a trace, cut inside a record).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace shell {

// Whether a line starting at `line` begins with one of the five record marks.
bool IsRecordStart(std::string_view text, size_t line);

struct SaveResult {
    bool ok = false;
    unsigned long error = 0;  // Win32 error of the failing step when !ok
    uint64_t bytes = 0;       // bytes written, the end byte included
    bool cut = false;         // the source ended inside a record, which was left out
};

// Save Trace: copies `source` (the distilled trace, which the writer may be
// appending to) to `target`, replacing it, ending at the last whole record
// with its 0x01. Nothing is changed when the source cannot be read.
SaveResult SaveTrace(const std::string& source, const std::string& target);

enum class TraceFileState {
    Whole,      // ends with the end byte of its last record
    Missing,    // cannot be opened
    NotATrace,  // empty, or its first line is not a record
    Cut,        // ends inside a record
};

struct TraceFileCheck {
    TraceFileState state = TraceFileState::Missing;
    uint64_t wholeLength = 0;  // records starting at or past this offset are cut
};

// Looks at a file before it is read as a saved trace.
TraceFileCheck InspectTraceFile(const std::string& path);

// GetNewRecords in static mode: the file ended inside a record, which was not
// delivered (STATIC_TRACE_FILE_CUT).
constexpr long kStaticTraceFileCut = -2;

// One reading of a saved trace by ShowTraceFile, driven by the counts that
// GetNewRecords returns.
class TraceFileReading {
public:
    explicit TraceFileReading(const TraceFileCheck& check) : check_(check) {}

    // False when the file is missing or not a trace: nothing is read.
    bool ShouldRead() const;

    // After each GetNewRecords (and after the stop flag was looked at): true
    // when the batch is to be taken, false when the reading is over.
    bool TakeBatch(long recAmNew, bool stopRequested);

    // The reading ended at the file's end (not stopped, file readable): the
    // final-report node is added.
    bool AddsFinalReport() const;

    // Message for the user when the reading could not be whole ("" when it
    // was, or when the user stopped it). `path` is shown in it.
    std::string Message(const std::string& path) const;

private:
    TraceFileCheck check_;
    bool stopped_ = false;
    bool unreadable_ = false;  // the reader could not open the file
    bool ended_ = false;
    bool cut_ = false;  // the reader found the cut
};

}  // namespace shell
