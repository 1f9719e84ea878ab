// The (process id, hook number) pairs of the live traced processes, as the
// trace reader hands them out (GetNumbersOfHookedAndLoadedDLLs), read in one
// place with one policy: a writer holding the map for a moment answers
// "busy", so the reader is asked again every 50 ms, up to a second; still
// busy, the caller is told so and must not take it for "nothing loaded" (a
// freed hook number a live process still holds would be given out again).
#pragma once

#include <windows.h>

#include <vector>

#include "raii.h"

namespace vx {

// TRACE_MAP_BUSY of the reader's type library (the reader checks the two agree).
constexpr long kTraceMapBusy = -4;

struct HookPair {
    long processId;
    long hookNumber;
};

enum class HookPairsRead { kRead, kBusy, kFailed };

template <typename Reader>
HookPairsRead ReadHookPairs(Reader* reader, std::vector<HookPair>* pairs) {
    constexpr int kAsks = 20;
    pairs->clear();
    for (int ask = 1;; ++ask) {
        unique_variant array;
        long count = 0;
        if (!reader || FAILED(reader->GetNumbersOfHookedAndLoadedDLLs(&array, &count))) return HookPairsRead::kFailed;
        if (count == kTraceMapBusy) {
            if (ask == kAsks) return HookPairsRead::kBusy;
            ::Sleep(50);
            continue;
        }
        if (count < 0) return HookPairsRead::kFailed;
        if (count == 0 || array.vt != (VT_ARRAY | VT_I4)) return HookPairsRead::kRead;
        safearray_access<LONG> data(array.parray);
        if (!data.data()) return HookPairsRead::kFailed;
        // Bounded by the array itself, whatever the count says.
        for (ULONG i = 0; i < static_cast<ULONG>(count) && 2 * i + 1 < data.size(); ++i)
            pairs->push_back({data.data()[2 * i], data.data()[2 * i + 1]});
        return HookPairsRead::kRead;
    }
}

}  // namespace vx
