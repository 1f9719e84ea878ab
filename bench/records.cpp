// Records written per second through the trace store: distilled only, then
// full and distilled, on a private map in a temporary folder.
#include <windows.h>
#include <cstdio>
#include <cstdlib>

#include "tracestore.h"

namespace {

double RecordsPerSecond(bool full, int records, const char* folder, int round) {
    korbin::TraceStore store;
    std::snprintf(store.mapName, sizeof store.mapName, "VxBenchMap-%lu-%d", ::GetCurrentProcessId(), round);
    std::snprintf(store.blockPrefix, sizeof store.blockPrefix, "VxBenchBlock-%d ", round);
    store.files.Build(folder);
    store.switches.distilledTrace = true;
    store.switches.fullTrace = full;
    ::DeleteFileA(store.files.full);
    HANDLE f = ::CreateFileA(store.files.distilled, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::CloseHandle(f);
    if (!store.SetUpMaps()) return 0;
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
    store.ReleaseMaps();
    ::DeleteFileA(store.files.full);
    ::DeleteFileA(store.files.distilled);
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
