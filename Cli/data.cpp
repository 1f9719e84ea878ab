// Traces as data: a saved trace exported as JSON Lines or CSV, two traces
// compared, and a traced run held to a golden trace. None needs the reader:
// they read trace text themselves.
#include "data.h"

#include <cstdio>

#include "session.h"

namespace vxtrace {
namespace {

// Output gathered into writes of a few tens of kilobytes.
class Buffered {
public:
    ~Buffered() { Flush(); }
    void operator()(const std::string& text) {
        text_ += text;
        if (text_.size() > 1 << 16) Flush();
    }
    void Flush() {
        if (!text_.empty()) Print(text_);
        text_.clear();
    }

private:
    std::string text_;
};

void Report(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

bool ReadComparable(const std::string& path, vx::ComparableTrace* trace) {
    vx::TraceReadResult read = vx::ReadTraceFile(path, [trace](vx::TraceRecord&& r) { trace->Take(r); });
    trace->Finish();
    if (read.outcome == vx::ReadOutcome::Ok) return true;
    Fail(read.message);
    return false;
}

int Export(const std::string& traceFile, vx::ExportFormat format) {
    Buffered out;
    auto exporter = vx::MakeExporter(format, [&out](const std::string& text) { out(text); });
    vx::TraceReadResult read = vx::ReadTraceFile(traceFile, [&](vx::TraceRecord&& r) { exporter->Take(r); });
    exporter->Finish();
    out.Flush();
    if (read.outcome == vx::ReadOutcome::Ok) return kOk;
    Fail(read.message);
    return kBadInput;
}

int Diff(const std::string& a, const std::string& b, const vx::CompareOptions& options) {
    if (a == "-" && b == "-") {
        Fail("only one of the two traces can come from standard input");
        return kBadInput;
    }
    vx::ComparableTrace first(options), second(options);
    if (!ReadComparable(a, &first) || !ReadComparable(b, &second)) return kBadInput;
    return Judge(first, second);
}

int Judge(const vx::ComparableTrace& a, const vx::ComparableTrace& b) {
    vx::Comparison comparison = vx::Compare(a, b);
    Report(vx::ComparisonReport(comparison));
    return comparison.equal ? kOk : kDifferent;
}

}  // namespace vxtrace
