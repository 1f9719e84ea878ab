// What the kernel's faster writing must keep: trace files reset by a new
// process while another keeps writing, a damaged map left alone (the final
// report of a process that ends with its component loaded is in
// trace_test.cpp's file-policy and script-host runs), and the reader's
// window told of the latest record without a round trip per record.
#include <atomic>
#include <algorithm>
#include <cstring>
#include <thread>

#include "e2e.h"
#include "tracestore.h"

using namespace e2e;

namespace {

// The writer's own records: "========= KEEP <n> =========" on their first line.
constexpr char kKeep[] = "\r\n========= KEEP ";

std::vector<int> KeepNumbers(const std::vector<std::string>& records) {
    std::vector<int> numbers;
    for (const std::string& r : records)
        if (r.compare(0, sizeof kKeep - 1, kKeep) == 0) numbers.push_back(std::atoi(r.c_str() + sizeof kKeep - 1));
    return numbers;
}

// Every record is the writer's or one the kernel writes, and ends its last line.
bool AllWhole(const std::vector<std::string>& records) {
    for (const std::string& r : records)
        if ((r.compare(0, sizeof kKeep - 1, kKeep) != 0 && RecordKind(r) == "?") || r.size() < 2 ||
            r.compare(r.size() - 2, 2, "\r\n") != 0)
            return false;
    return true;
}

}  // namespace

// The client's run is also the one whose object never handed out runs
// untraced on a patched table.
TEST_F(TraceTest, FileResetByANewProcessWhileAnotherKeepsWritingLosesNoRecord) {
    DistilledOnly();
    HeldMap map;
    // This process writes as a client of a run whose list the new process finds empty.
    korbin::TraceStore writer;
    ASSERT_TRUE(writer.files.Build(inst.folder.c_str()));
    std::snprintf(writer.blockPrefix, sizeof writer.blockPrefix, "VxKeepWriter ");
    writer.switches.distilledTrace = true;
    ASSERT_TRUE(writer.SetUpMaps());
    volatile LONG stop = 0;
    std::atomic<int> written = 0;
    auto record = [&] {
        writer.LockDiagFile();
        writer.Line("========= KEEP %d =========", written.fetch_add(1));
        writer.Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), ::GetCurrentProcessId(), writer.recordNumber());
        writer.UnLockDiagFile();
    };
    WriteFileText(inst.folder + "TraceDistilled.txt", "");
    std::thread keep([&] {
        while (!stop) {
            record();
            ::Sleep(1);
        }
    });
    while (written < 20) ::Sleep(1);  // the writer has the file open
    ProcessResult run = RunProgram(ClientCommand("basic"));
    stop = 1;
    keep.join();
    record();  // after the client: merges whatever it had to divert
    writer.ReleaseMaps();
    writer.CloseFiles();
    ASSERT_EQ(run.exitCode, 0u) << run.output;

    const std::string before = ReadFileText(inst.folder + "TraceDistilled01.txt");
    const std::string after = Distilled();
    std::vector<std::string> old = SplitRecords(before), fresh = SplitRecords(after);
    ASSERT_FALSE(old.empty()) << "the reset did not back up the file the writer had open";
    // Every record whole, the client's only in the new file, and the
    // writer's cut cleanly in two: the first ones before the reset, the rest after.
    EXPECT_TRUE(AllWhole(old)) << before.substr(0, 400);
    EXPECT_TRUE(AllWhole(fresh)) << after.substr(0, 400);
    EXPECT_EQ(Count(RecordKinds(old), "LOAD"), 0) << "a record of the new run in the backup";
    EXPECT_EQ(Count(RecordKinds(fresh), "LOAD"), 1);
    EXPECT_EQ(Count(RecordKinds(fresh), "REPORT"), 1);
    EXPECT_EQ(CheckCallPairing(fresh), "");
    // The client's own calls: Calc.Add twice, never the child's Add (made inside
    // the component, on the same method table); Recurse(3) nesting three calls
    // in the first, then Recurse(0).
    auto calls = [&](const std::string& method) {
        return std::count_if(fresh.begin(), fresh.end(), [&](const std::string& r) { return r.find(method) != r.npos; });
    };
    EXPECT_EQ(calls("Method: VT_HRESULT Add ("), 2);
    EXPECT_EQ(calls("Method: VT_HRESULT Recurse ("), 5);
    EXPECT_NE(after.find("Queried interfaces:\r\n          ICalc\r\n          ITypes\r\n"), std::string::npos);
    std::vector<int> keptBefore = KeepNumbers(old), keptAfter = KeepNumbers(fresh);
    ASSERT_EQ(keptBefore.size() + keptAfter.size(), static_cast<size_t>(written.load())) << "a record was lost";
    ASSERT_FALSE(keptAfter.empty()) << "the writer never wrote into the new file";
    for (size_t i = 0; i < keptBefore.size(); ++i) ASSERT_EQ(keptBefore[i], static_cast<int>(i));
    for (size_t i = 0; i < keptAfter.size(); ++i) ASSERT_EQ(keptAfter[i], static_cast<int>(keptBefore.size() + i));
    EXPECT_FALSE(FileExists(inst.folder + "ExtraFile.txt"));
}

TEST_F(TraceTest, MapFilledWithFFIsReportedAndTheClientRunsAsUntraced) {
    HeldMap map;
    ASSERT_TRUE(map.get());
    std::memset(map.get(), 0xFF, korbin::kTraceMapSize);
    const ProcessResult untraced = RunUnhooked(ClientCommand("basic"));
    ProcessResult run = RunProgram(ClientCommand("basic"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, untraced.output);
    // The refusal said in the full trace, which keeps the calls; nothing in the
    // distilled trace or the extra file.
    const std::string full = Full();
    EXPECT_NE(full.find("Trace map " + std::string(korbin::kTraceMapName) + " not used: its ring offset"),
              std::string::npos) << full.substr(0, 600);
    EXPECT_NE(full.find("Method: VT_HRESULT Add ("), std::string::npos) << full.substr(0, 600);
    EXPECT_EQ(Distilled().find("LOAD DLL"), std::string::npos);
    EXPECT_FALSE(FileExists(inst.folder + "ExtraFile.txt"));
    const auto* bytes = reinterpret_cast<const unsigned char*>(map.get());
    size_t changed = 0;
    for (size_t i = 0; i < korbin::kTraceMapSize; ++i) changed += bytes[i] != 0xFF;
    EXPECT_EQ(changed, 0u) << "the refused map was written";
}

// At most one notice per tenth of a second: the first record's number, then
// the latest, which the process's end carries at the last.
TEST_F(TraceTest, ReaderWindowHearsOfTheFirstAndTheLatestRecordAtMostEveryTenthOfASecond) {
    DistilledOnly();
    HeldMap map;
    std::vector<korbin::HookEntry> hooksAtFirst;
    TextWindow window([&](const std::string&) {
        if (hooksAtFirst.empty()) hooksAtFirst.assign(std::begin(map->hooks), std::end(map->hooks));
    });
    ASSERT_NE(window.get(), nullptr);
    map->readerWindow = window.Handle32();
    const DWORD start = ::GetTickCount();
    ProcessResult run = RunProgram(ClientCommand("loop 3000"), 120000, true);
    const DWORD elapsed = ::GetTickCount() - start;
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
    map->readerWindow = 0;
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    ASSERT_GT(map->recordCounter, 6000);
    const std::vector<std::string>& notes = window.texts;
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.front(), "1");
    EXPECT_EQ(notes.back(), std::to_string(map->recordCounter)) << "the process's end carries the latest number";
    EXPECT_LE(notes.size(), elapsed / 100 + 3) << "more than one notification per tenth of a second";
    for (size_t i = 1; i < notes.size(); ++i)
        EXPECT_LT(std::atoi(notes[i - 1].c_str()), std::atoi(notes[i].c_str())) << "numbers out of order";
    // While the component is loaded, its hook stands in the table.
    ASSERT_FALSE(hooksAtFirst.empty());
    EXPECT_EQ(hooksAtFirst[0].processId, run.processId);
    EXPECT_EQ(hooksAtFirst[0].hookNumber, 1u);
}
