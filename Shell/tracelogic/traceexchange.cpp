// The trace view as data.
#include "traceexchange.h"

#include <windows.h>

#include "raii.h"
#include "resultnames.h"
#include "textconv.h"
#include "tracetext.h"

namespace shell {
namespace {

// A reader whose source has gone answers " " to every read: a record has
// no more lines than this.
constexpr size_t kMostLinesOfRecord = 100000;

}  // namespace

std::vector<std::string> RecordTextLines(uint32_t pointer, TraceReaderTexts& reader) {
    std::vector<std::string> lines{reader.GetFirstRecordString(pointer)};
    for (size_t i = 0; i < kMostLinesOfRecord; ++i) {
        std::string line = reader.GetNextRecordString();
        if (line.empty()) break;
        lines.push_back(std::move(line));
    }
    return lines;
}

void ForEachRecord(const TraceRecords& records, TraceReaderTexts& reader, bool shownOnly,
                   const std::function<void(vx::TraceRecord&&)>& take) {
    for (const RecInfo& r : records.AllRecords()) {
        if (r.RecType == kRecordFinalReport) continue;
        if (shownOnly && !r.Visible) {
            const RecInfo* enter = r.RecType == kRecordExit ? records.Record(r.EnterForExit) : nullptr;
            if (!enter || !enter->Visible) continue;
        }
        vx::TraceRecord record = vx::ParseRecord(RecordTextLines(r.Pointer, reader));
        record.number = r.Num;
        take(std::move(record));
    }
}

vx::ExportFormat ExportFormatOf(const std::string& path) {
    size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    return vx::EqualNoCase(extension, ".csv") ? vx::ExportFormat::Csv : vx::ExportFormat::JsonLines;
}

ExportOutcome ExportShownRecords(const TraceRecords& records, TraceReaderTexts& reader, const std::string& path) {
    ExportOutcome outcome;
    vx::unique_file file(vx::OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
    if (!file) {
        outcome.error = vx::ErrorText(::GetLastError());
        return outcome;
    }
    std::string pending;
    bool written = true;
    auto flush = [&] {
        DWORD n = 0;
        written = written && ::WriteFile(file.get(), pending.data(), static_cast<DWORD>(pending.size()), &n, nullptr) &&
                  n == pending.size();
        pending.clear();
    };
    auto exporter = vx::MakeExporter(ExportFormatOf(path), [&](const std::string& text) {
        // Lines end in CR LF, as the platform's tools expect.
        for (char c : text) {
            if (c == '\n') pending += '\r';
            pending += c;
        }
        if (pending.size() > 1 << 16) flush();
    });
    ForEachRecord(records, reader, true, [&](vx::TraceRecord&& r) {
        exporter->Take(r);
        ++outcome.records;
    });
    exporter->Finish();
    flush();
    if (!written) outcome.error = vx::ErrorText(::GetLastError());
    return outcome;
}

std::unique_ptr<ViewComparison> CompareViewWith(const TraceRecords& records, TraceReaderTexts& reader,
                                                const std::string& path) {
    auto c = std::make_unique<ViewComparison>();
    vx::TraceReadResult read = vx::ReadTraceFile(path, [&c](vx::TraceRecord&& r) { c->file.Take(r); });
    if (read.outcome != vx::ReadOutcome::Ok) {
        c->error = read.message;
        return c;
    }
    ForEachRecord(records, reader, false, [&c](vx::TraceRecord&& r) { c->view.Take(r); });
    c->view.Finish();
    c->file.Finish();
    c->result = vx::Compare(c->view, c->file);
    return c;
}

std::vector<CompareRow> CompareRows(const vx::Comparison& comparison) {
    std::vector<CompareRow> rows;
    for (const vx::Difference& d : comparison.differences) {
        CompareRow& row = rows.emplace_back();
        row.mark = std::string(1, static_cast<char>(d.change));
        if (d.a) row.viewNum = static_cast<int32_t>(d.a->record), row.viewText = d.a->text;
        if (d.b) row.fileRecord = static_cast<int32_t>(d.b->record), row.fileText = d.b->text;
    }
    return rows;
}

std::string CompareSummary(const vx::Comparison& c, const std::string& fileName) {
    if (c.equal) return "The calls match: " + std::to_string(c.callsA) + " calls in this trace and in " + fileName + ".";
    return std::to_string(c.differences.size()) + " differences: " + std::to_string(c.onlyInA) +
           " only in this trace, " + std::to_string(c.onlyInB) + " only in " + fileName + ", " +
           std::to_string(c.otherOutcome) + " with other results (this trace " + std::to_string(c.callsA) +
           " calls, " + fileName + " " + std::to_string(c.callsB) + ").";
}

}  // namespace shell
