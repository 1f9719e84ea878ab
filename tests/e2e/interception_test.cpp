// Calls intercepted under load: many threads, objects coming and going on
// shared method tables, a process ending in the middle of its calls.
#include <algorithm>

#include "e2e.h"

using namespace e2e;

namespace {

int Count(const std::vector<std::string>& kinds, const std::string& kind) {
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

void ExpectNumberedOneByOne(const std::vector<std::string>& records) {
    std::vector<int> numbers = RecordNumbers(records);
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i + 1)) << records[i];
}

}  // namespace

TEST_F(TraceTest, EightThreadsForSecondsPairEveryCallAndLoseNoRecord) {
    inst.advanced.fullTrace = false;  // the full trace reopens its file per line: too slow for seconds of load
    Rewrite();
    HeldMap map;
    ProcessResult run = RunProgram(ClientCommand("hammer 8"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("hammer: 8 threads, failures=0"), std::string::npos) << run.output;

    std::vector<std::string> records = SplitRecords(Distilled());
    std::vector<std::string> kinds = RecordKinds(records);
    ASSERT_GT(records.size(), 500u);
    ExpectNumberedOneByOne(records);
    EXPECT_EQ(map->recordCounter, static_cast<int>(records.size()));
    EXPECT_EQ(Count(kinds, "?"), 0);
    EXPECT_EQ(CheckCallPairing(records), "");
    EXPECT_EQ(Count(kinds, "CREATE"), 8);
    EXPECT_EQ(Count(kinds, "DESTROY"), 8);
    EXPECT_NE(Distilled().find("Number of created instances: 8\r\nNumber of undestroyed instances:    0\r\n"),
              std::string::npos);
}

TEST_F(TraceTest, ProcessEndingMidCallKeepsClientAndTraceWhole) {
    inst.advanced.fullTrace = false;
    Rewrite();
    for (int run = 0; run < 3; ++run) {
        vxinstall::ClearTraceFiles(inst.folder);
        HeldMap map;
        ProcessResult result = RunProgram(ClientCommand("torture"));
        ASSERT_EQ(result.exitCode, 0u) << result.output;
        EXPECT_NE(result.output.find("torture: wrong results=0"), std::string::npos) << result.output;
        // A thread ended in the middle of writing leaves its record without
        // the end mark; every record before it is whole.
        std::string text = Distilled();
        bool cut = !text.empty() && text.back() != '\x01';
        std::vector<std::string> records = SplitRecords(cut ? text + '\x01' : text);
        ASSERT_GT(records.size(), 10u);
        ExpectNumberedOneByOne(records);
        if (cut) records.pop_back();
        EXPECT_EQ(Count(RecordKinds(records), "?"), 0);
        EXPECT_GE(Count(RecordKinds(records), "CREATE"), 2) << "the shared object and the churning ones";
        // A component still loaded at the end: no final report, as for any such process.
        EXPECT_EQ(Count(RecordKinds(records), "REPORT"), 0);
    }
}

TEST_F(TraceTest, ObjectNeverHandedOutRunsUntracedOnAPatchedTable) {
    ProcessResult run = RunProgram(ClientCommand("basic"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    // Calc.Add is called twice, the child (made inside the component, same
    // method table) once: only Calc's calls are traced.
    std::vector<std::string> records = SplitRecords(Distilled());
    int adds = 0;
    for (const std::string& r : records) adds += r.find("Method: VT_HRESULT Add (") != std::string::npos;
    EXPECT_EQ(adds, 2);
    EXPECT_EQ(CheckCallPairing(records), "");
    // Recurse(3) nests three calls in the first: four entries, their exits innermost first.
    int recursion = 0;
    for (const std::string& r : records) recursion += r.find("Method: VT_HRESULT Recurse (") != std::string::npos;
    EXPECT_EQ(recursion, 5);  // Recurse(3) and its three inner calls, then Recurse(0)
    EXPECT_NE(Distilled().find("Queried interfaces:\r\n          ICalc\r\n          ITypes\r\n"), std::string::npos);
}
