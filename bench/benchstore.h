// A trace store of the benchmarks: its own map and state block, empty trace
// files in a temporary folder, both removed again afterwards.
#pragma once

#include <windows.h>

#include <cstdio>

#include "raii.h"
#include "tracestore.h"

namespace bench {

// False when the maps cannot be set up.
inline bool OpenStore(korbin::TraceStore& store, const char* name, bool full, const char* folder, int round) {
    std::snprintf(store.mapName, sizeof store.mapName, "%sMap-%lu-%d", name, ::GetCurrentProcessId(), round);
    std::snprintf(store.blockPrefix, sizeof store.blockPrefix, "%sBlock-%d ", name, round);
    store.files.Build(folder);
    store.switches.distilledTrace = true;
    store.switches.fullTrace = full;
    ::DeleteFileA(store.files.full);
    vx::unique_file(::CreateFileA(store.files.distilled, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return store.SetUpMaps();
}

inline void CloseStore(korbin::TraceStore& store) {
    store.ReleaseMaps();
    ::DeleteFileA(store.files.full);
    ::DeleteFileA(store.files.distilled);
}

}  // namespace bench
