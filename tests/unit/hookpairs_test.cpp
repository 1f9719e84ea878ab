// The clients' one reader of the reader's hook pairs: a busy map is asked
// again and then said to be busy, never taken for "nothing loaded"; the
// array's own size bounds what is read, whatever the count says.
#include <gtest/gtest.h>

#include <vector>

#include "hookpairs.h"

namespace {

// Answers as the trace reader does, from a script of answers.
struct ScriptedReader {
    struct Answer {
        HRESULT hr;
        long count;
        std::vector<LONG> elements;  // none: no array
    };
    std::vector<Answer> answers;
    size_t asked = 0;

    HRESULT GetNumbersOfHookedAndLoadedDLLs(VARIANT* pairs, long* count) {
        const Answer& a = answers[std::min(asked++, answers.size() - 1)];
        *count = a.count;
        if (!a.elements.empty()) {
            SAFEARRAY* array = ::SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(a.elements.size()));
            vx::safearray_access<LONG> data(array);
            for (size_t i = 0; i < a.elements.size(); ++i) data.data()[i] = a.elements[i];
            pairs->vt = VT_ARRAY | VT_I4;
            pairs->parray = array;
        }
        return a.hr;
    }
};

TEST(HookPairs, BusyIsAskedAgainThenSaidAndTheArrayBoundsTheRead) {
    const long busy = vx::kTraceMapBusy;
    const struct {
        const char* what;
        std::vector<ScriptedReader::Answer> answers;
        vx::HookPairsRead read;
        std::vector<long> numbers;
        size_t asks;
    } kCases[] = {
        {"two pairs", {{S_OK, 2, {10, 1, 11, 3}}}, vx::HookPairsRead::kRead, {1, 3}, 1},
        {"nothing loaded", {{S_OK, 0, {}}}, vx::HookPairsRead::kRead, {}, 1},
        {"busy for a moment", {{S_OK, busy, {}}, {S_OK, busy, {}}, {S_OK, 1, {10, 2}}}, vx::HookPairsRead::kRead, {2}, 3},
        {"busy all along", {{S_OK, busy, {}}}, vx::HookPairsRead::kBusy, {}, 20},
        {"a count past the array", {{S_OK, 5, {10, 1, 11}}}, vx::HookPairsRead::kRead, {1}, 1},
        {"a failed call", {{E_FAIL, 0, {}}}, vx::HookPairsRead::kFailed, {}, 1},
        {"another negative answer", {{S_OK, -1, {}}}, vx::HookPairsRead::kFailed, {}, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ScriptedReader reader{c.answers};
        std::vector<vx::HookPair> pairs;
        EXPECT_EQ(vx::ReadHookPairs(&reader, &pairs), c.read);
        std::vector<long> numbers;
        for (const vx::HookPair& pair : pairs) numbers.push_back(pair.hookNumber);
        EXPECT_EQ(numbers, c.numbers);
        EXPECT_EQ(reader.asked, c.asks);
    }
}

}  // namespace
