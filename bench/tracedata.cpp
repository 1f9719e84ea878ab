// Traces as data: exporting a 100,000-record saved trace as JSON Lines and as
// CSV (with the memory the process grew by, against a trace four times
// larger: a stream keeps it flat), and comparing two 100,000-record traces
// that differ in one call.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "benchclock.h"
#include "maketrace.h"
#include "traceexport.h"
#include "tracediff.h"
#include "tracetext.h"

namespace {

size_t PeakBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

void Export(const std::string& path, int records, vx::ExportFormat format, const char* name) {
    size_t bytes = 0;
    double start = Now();
    auto exporter = vx::MakeExporter(format, [&bytes](const std::string& text) { bytes += text.size(); });
    vx::TraceReadResult read = vx::ReadTraceFile(path, [&](vx::TraceRecord&& r) { exporter->Take(r); });
    exporter->Finish();
    double took = Now() - start;
    std::printf("export %-5s %7d records: %.3f s (%.0f records/s), %zu bytes out, peak working set %zu KB%s\n", name,
                records, took, static_cast<double>(read.records) / took, bytes, PeakBytes() / 1024,
                read.outcome == vx::ReadOutcome::Ok ? "" : " (read failed)");
}

void Compare(const std::string& a, const std::string& b, int records) {
    double start = Now();
    vx::ComparableTrace ta({}), tb({});
    vx::ReadTraceFile(a, [&](vx::TraceRecord&& r) { ta.Take(r); });
    vx::ReadTraceFile(b, [&](vx::TraceRecord&& r) { tb.Take(r); });
    ta.Finish();
    tb.Finish();
    double read = Now() - start;
    vx::Comparison c = vx::Compare(ta, tb);
    double took = Now() - start;
    std::printf("diff %d records each: %.3f s (reading %.3f s), %zu calls, %zu only in A, %zu only in B\n", records,
                took, read, c.callsA, c.onlyInA, c.onlyInB);
}

}  // namespace

int main(int argc, char** argv) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    std::string small = std::string(temp) + "vx-bench-data-100k.txt";
    std::string large = std::string(temp) + "vx-bench-data-400k.txt";
    std::string other = std::string(temp) + "vx-bench-data-other.txt";
    // The traces are made by a second run of this program, so that the
    // peak working set here is the readers' own.
    if (argc > 1) {
        MakeTrace(small, 100000);
        MakeTrace(large, 400000);
        vx::unique_file file(::CreateFileA(small.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::string text(::GetFileSize(file.get(), nullptr), '\0');
        DWORD got = 0;
        ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
        size_t at = text.find("a=5000 (1388h)");
        if (at != std::string::npos) text.replace(at, 14, "a=5001 (1389h)");
        vx::unique_file out(::CreateFileA(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ::WriteFile(out.get(), text.data(), got, &got, nullptr);
        return 0;
    }
    std::string self = std::string("\"") + argv[0] + "\" make";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    vx::started_process maker;
    if (!::CreateProcessA(nullptr, self.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &maker)) return 1;
    ::WaitForSingleObject(maker.hProcess, INFINITE);
    Export(small, 100000, vx::ExportFormat::JsonLines, "jsonl");
    Export(small, 100000, vx::ExportFormat::Csv, "csv");
    Export(large, 400000, vx::ExportFormat::JsonLines, "jsonl");
    Compare(small, other, 100000);
    Compare(small, small, 100000);
    for (const std::string& path : {small, large, other}) ::DeleteFileA(path.c_str());
    return 0;
}
