// vxstress: holds the kernel's trace map lock from a process of its own, as a
// writer that dies holding it would leave it.
//   vxstress hold MAPNAME   takes the map lock word, says "held" and sleeps
#include <windows.h>
#include <cstdio>
#include <cstring>

#include "tracestore.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "hold") != 0) {
        std::fprintf(stderr, "usage: vxstress hold MAPNAME\n");
        return 2;
    }
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, korbin::kTraceMapSize,
                                          argv[2]);
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
