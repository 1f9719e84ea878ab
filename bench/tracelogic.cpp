// Opening a saved trace without the window: time until the last node of the
// trace tree model is known and the memory the view holds per record, for
// 10,000, 100,000 and 1,000,000 records (or the counts given as arguments)
// read through the trace reader in static mode (its intake and name fields,
// as Open TraceFile reads them), with the time of the reader's intake
// (GetNewRecords) apart from the model's, and one rebuild of the tree (Show
// IUnknown).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchclock.h"
#include "maketrace.h"
#include "raii.h"
#include "textconv.h"
#include "tracelogic.h"
#include "tracereader.h"

namespace {

size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters);
    // Wine leaves PrivateUsage 0; committed bytes are PagefileUsage there.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

void Open(ITraceReader* reader, const std::string& path, int records) {
    size_t before = PrivateBytes();
    double start = Now();
    shell::TraceView view;
    shell::FileResults results(path);  // results read as the window reads them from a file
    view.Records().SetResultFile(&results);
    shell::TreeViewOptions options;
    options.TreeIsExpanded = false;
    vx::unique_bstr bpath(vx::NewBstr(path));
    reader->put_Mode(3);
    reader->put_StaticTraceFilePath(bpath.get());
    reader->put_Mode(1);
    shell::TraceFileReading reading(shell::InspectTraceFile(path));
    shell::ReaderTexts texts(reader);
    shell::NewRecordsBatch batch;
    size_t nodes = 0;
    double intake = 0;
    while (reading.ShouldRead()) {
        double polled = Now();
        batch.Poll(reader);
        intake += Now() - polled;
        if (!reading.TakeBatch(batch.RecAmNew, false)) break;
        nodes += view.RegNewRecords(batch.Bytes(), batch.Length(), texts, options).size();
    }
    if (reading.AddsFinalReport() && view.AddFinalReport(options)) ++nodes;
    double read = Now() - start;
    size_t grown = PrivateBytes() - before;
    options.ShowIUnknown = true;
    start = Now();
    size_t rebuilt = view.RebuildTraceTree(options).size();
    double rebuild = Now() - start;
    std::printf("%7d records: %zu nodes in %.2f s (%.1f us a record; reader's intake %.2f s), %.0f bytes a record; "
                "rebuild to %zu nodes %.3f s\n",
                view.Records().RecordCount(), nodes, read, read * 1e6 / records, intake,
                static_cast<double>(grown) / records, rebuilt, rebuild);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts = {10000, 100000, 1000000};
    if (argc > 1) counts.clear();
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    vx::com_ptr<ITraceReader> reader;
    if (FAILED(ledra::CreateTraceReader(IID_ITraceReader, reader.put_void()))) return 1;
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    for (int records : counts) {
        std::string path = std::string(temp) + "vx-bench-" + std::to_string(records) + ".trc";
        MakeTrace(path, records);
        Open(reader.get(), path, records);
        ::DeleteFileA(path.c_str());
    }
    reader.reset();
    ::CoUninitialize();
    return 0;
}
