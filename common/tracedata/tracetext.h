// Trace text to records: a saved trace file (lines led by CR LF, each record
// ending in its 0x01 end mark) or what `vxtrace run` printed (records apart by
// blank lines, the traced program's own lines between them), read in chunks
// so that a file of any size takes the same memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tracerecord.h"

namespace vx {

class RecordSplitter {
public:
    using OnRecord = std::function<void(std::vector<std::string>&&)>;
    explicit RecordSplitter(OnRecord onRecord) : onRecord_(std::move(onRecord)) {}

    // False when the text cannot be a trace (a line far longer than any
    // record line): nothing more should be fed.
    bool Feed(std::string_view text);
    // The end of the text. False when a saved trace ends inside a record
    // (that record is not delivered).
    bool Finish();

    size_t records() const { return records_; }

private:
    void Line(std::string line);
    void EndRecord();

    OnRecord onRecord_;
    std::string partial_;
    std::vector<std::string> record_;
    bool started_ = false, saved_ = false;
    size_t records_ = 0;
};

enum class ReadOutcome { Ok, Missing, Empty, NotATrace, Cut };

struct TraceReadResult {
    ReadOutcome outcome = ReadOutcome::Ok;
    size_t records = 0;
    std::string message;  // why it failed, for "vxtrace: <message>"
};

// Every record of the file (standard input for "-"), in order.
TraceReadResult ReadTraceFile(const std::string& path, const std::function<void(TraceRecord&&)>& onRecord);

}  // namespace vx
