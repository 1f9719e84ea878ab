// Records as data for other tools: JSON Lines (one object per record) and CSV
// (one row per call, its ENTER and EXIT joined; one per other event). Both
// stream: a record goes out as soon as what it needs has come.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tracerecord.h"

namespace vx {

enum class ExportFormat { Text, JsonLines, Csv };

// "text", "jsonl", "csv"; false for another name.
bool ExportFormatNamed(const std::string& name, ExportFormat* format);

class RecordExporter {
public:
    using Out = std::function<void(const std::string&)>;
    virtual ~RecordExporter() = default;
    // Records in trace order; each piece of output goes to `out` whole.
    virtual void Take(const TraceRecord& record) = 0;
    // Writes what still waits (calls whose EXIT never came).
    virtual void Finish() = 0;
};

// The JSON Lines or CSV exporter (null for text: its lines are the records').
std::unique_ptr<RecordExporter> MakeExporter(ExportFormat format, RecordExporter::Out out);

// The record's JSON object on one line, without its line break; `enter` is
// the ENTER's record number on an EXIT, and `call` that ENTER (or null).
std::string RecordJson(const TraceRecord& record, long enter, const TraceRecord* call);

// A text in the ANSI code page (the kernel's) as UTF-8.
std::string Utf8FromAnsi(const std::string& text);

}  // namespace vx
