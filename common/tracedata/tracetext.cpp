// Splitting trace text into records, and reading a trace file through it.
#include "tracetext.h"

#include <windows.h>

#include "raii.h"
#include "textconv.h"

namespace vx {
namespace {

// The kernel cuts its lines at 1 KB; a value's member list stays far below this.
constexpr size_t kLongestLine = 64 * 1024;
constexpr DWORD kChunk = 1 << 20;

}  // namespace

bool RecordSplitter::Feed(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            partial_.append(text.substr(at));
            return partial_.size() <= kLongestLine;
        }
        partial_.append(text.substr(at, end - at));
        // A saved trace starts with a line break; printed records with text.
        if (!started_) saved_ = partial_ == "\r";
        started_ = true;
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        if (partial_.size() > kLongestLine) return false;
        Line(std::move(partial_));
        partial_.clear();
        at = end + 1;
    }
    return true;
}

bool RecordSplitter::Finish() {
    if (!partial_.empty()) Line(std::move(partial_));
    partial_.clear();
    if (record_.empty()) return true;
    if (saved_) {
        record_.clear();
        return false;
    }
    EndRecord();
    return true;
}

void RecordSplitter::Line(std::string line) {
    // A saved record ends in "\r\n\x01"; the next one's "\r\n" follows the mark.
    if (saved_ && !line.empty() && line[0] == '\x01') {
        EndRecord();
        line.erase(0, 1);
    }
    if (line.empty()) {
        // Printed records end in a blank line; a saved record's blank lines
        // (the report's) are inside it.
        if (!saved_) EndRecord();
        return;
    }
    if (IsRecordStart(line)) {
        EndRecord();
        record_.push_back(std::move(line));
    } else if (!record_.empty()) {
        record_.push_back(std::move(line));
    }
}

void RecordSplitter::EndRecord() {
    if (record_.empty()) return;
    ++records_;
    onRecord_(std::move(record_));
    record_.clear();
}

TraceReadResult ReadTraceFile(const std::string& path, const std::function<void(TraceRecord&&)>& onRecord) {
    TraceReadResult result;
    bool input = path == "-";
    std::string name = input ? "standard input" : "\"" + path + "\"";
    unique_file file;
    if (!input) file.reset(OpenFile(FullPathOf(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    HANDLE handle = input ? ::GetStdHandle(STD_INPUT_HANDLE) : file.get();
    if (!input && !file) {
        result.outcome = ReadOutcome::Missing;
        result.message = "cannot read trace file " + name;
        return result;
    }
    RecordSplitter splitter([&onRecord](std::vector<std::string>&& lines) { onRecord(ParseRecord(std::move(lines))); });
    std::string buffer(kChunk, '\0');
    uint64_t total = 0;
    bool text = true;
    DWORD got = 0;
    while (text && ::ReadFile(handle, buffer.data(), kChunk, &got, nullptr) && got > 0) {
        total += got;
        text = splitter.Feed(std::string_view(buffer.data(), got));
    }
    bool whole = text && splitter.Finish();
    result.records = splitter.records();
    if (total == 0) {
        result.outcome = ReadOutcome::Empty;
        result.message = name + " is empty";
    } else if (!text || (result.records == 0 && whole)) {
        result.outcome = ReadOutcome::NotATrace;
        result.message = name + " is not a trace: " +
                         (result.records ? std::to_string(result.records) + " records, then text that is not one"
                                         : std::string("no record found in it"));
    } else if (!whole) {
        result.outcome = ReadOutcome::Cut;
        result.message = name + " ends inside a record: the " + std::to_string(result.records) +
                         " whole records before it were read";
    }
    return result;
}

}  // namespace vx
