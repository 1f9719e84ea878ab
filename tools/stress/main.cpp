// vxstress: writes records through the kernel's trace store, for tests that
// need several processes and threads writing at once.
//   vxstress write MAPNAME FOLDER THREADS RECORDS   records from THREADS threads (FOLDER
//                                                   without its final backslash); with "wait"
//                                                   it prints "registered" once in the map's
//                                                   process list and waits for a line on stdin
//   vxstress hold MAPNAME                           takes the map lock word and sleeps
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "kernel.h"
#include "tracestore.h"

namespace {

int Write(const char* mapName, const char* folderArg, int threads, int records, bool waitForGo) {
    korbin::TraceStore store;
    std::snprintf(store.mapName, sizeof store.mapName, "%s", mapName);
    // Taken without its final backslash: "C:\x\" in quotes would escape the quote.
    char folder[MAX_PATH];
    int length = std::snprintf(folder, sizeof folder, "%s\\", folderArg);
    if (length <= 0 || length >= static_cast<int>(sizeof folder) || !store.files.Build(folder)) {
        std::fprintf(stderr, "vxstress: folder name too long\n");
        return 1;
    }
    store.switches.distilledTrace = true;
    if (!store.SetUpMaps()) {
        std::fprintf(stderr, "vxstress: cannot map %s\n", mapName);
        return 1;
    }
    DWORD pid = ::GetCurrentProcessId();
    korbin::RegisterProcess(store, pid, 1, 2);
    if (waitForGo) {
        // Lets a test change the map between registration and the records.
        std::printf("registered\n");
        std::fflush(stdout);
        char line[16];
        if (!std::fgets(line, sizeof line, stdin)) return 1;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int r = 0; r < records; ++r) {
                store.LockDiagFile();
                store.Line("========= STRESS p%lx t%d r%d =========", pid, t, r);
                store.Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), pid, store.recordNumber());
                store.Line("first line of p%lx t%d r%d", pid, t, r);
                store.Line("second line of p%lx t%d r%d", pid, t, r);
                store.UnLockDiagFile();
            }
        });
    }
    for (std::thread& th : pool) th.join();
    std::printf("done\n");
    store.ReleaseMaps();
    return 0;
}

int Hold(const char* mapName) {
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, korbin::kTraceMapSize,
                                          mapName);
    auto* map = mapping ? static_cast<korbin::TraceMap*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                        : nullptr;
    if (!map) return 1;
    LONG self = static_cast<LONG>(::GetCurrentThreadId());
    while (::InterlockedCompareExchange(&map->lockWord, self, 0) != 0) ::Sleep(1);
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 6 || (argc == 7 && !std::strcmp(argv[6], "wait"))) && !std::strcmp(argv[1], "write"))
        return Write(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argc == 7);
    if (argc == 3 && !std::strcmp(argv[1], "hold")) return Hold(argv[2]);
    std::fprintf(stderr, "usage: vxstress write MAPNAME FOLDER THREADS RECORDS [wait] | hold MAPNAME\n");
    return 2;
}
