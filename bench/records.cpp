// Records written per second through the trace store: distilled only, then
// full and distilled, on a private map in a temporary folder.
#include <windows.h>
#include <cstdio>
#include <cstdlib>

#include "benchstore.h"

namespace {

double RecordsPerSecond(bool full, int records, const char* folder, int round) {
    korbin::TraceStore store;
    if (!bench::OpenStore(store, "VxBench", full, folder, round)) return 0;
    LARGE_INTEGER freq, start, end;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < records; ++i) {
        store.LockDiagFile();
        store.Line("========= LOAD DLL: %s =========", "Bench.dll");
        store.Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), ::GetCurrentProcessId(), store.recordNumber());
        store.Line("Time: %s", "Mon Dec  7 09:05:03 2026");
        store.Line("DLL's path: %s", "C:\\Bench\\Bench.dll");
        store.Line("Host process's command line: %s", "bench_records.exe");
        store.UnLockDiagFile();
    }
    ::QueryPerformanceCounter(&end);
    bench::CloseStore(store);
    return records * static_cast<double>(freq.QuadPart) / static_cast<double>(end.QuadPart - start.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    int records = argc > 1 ? std::atoi(argv[1]) : 2000;
    char folder[MAX_PATH];
    ::GetTempPathA(sizeof folder, folder);
    double distilled = RecordsPerSecond(false, records, folder, 1);
    double both = RecordsPerSecond(true, records, folder, 2);
    std::printf("records per second, distilled only: %.0f\n", distilled);
    std::printf("records per second, full and distilled: %.0f\n", both);
    std::printf("ratio full+distilled / distilled: %.2f\n", distilled > 0 ? both / distilled : 0.0);
    return 0;
}
