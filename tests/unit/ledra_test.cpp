// The trace reader's engine: chunk parsing, intake over saved and live
// traces, record text and fields, and the hook helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hooks.h"
#include "intake.h"
#include "recordtext.h"
#include "tempdir.h"

namespace {

using ledra::RecordDescriptor;

// A record as the kernel writes it: CR LF, its first line continued by the
// thread, process and record numbers, its further lines, each line ending in
// CR LF.
std::string Record(const std::string& first, unsigned tid, unsigned pid, int number,
                   const std::vector<std::string>& more = {}) {
    char tail[64];
    std::snprintf(tail, sizeof tail, " TID=%xh PID=%xh [%d]", tid, pid, number);
    std::string text = "\r\n" + first + tail + "\r\n";
    for (const std::string& line : more) text += line + "\r\n";
    return text;
}

TEST(ParseChunk, RecordKindsSerialsAndIds) {
    const struct {
        const char* first;
        int type, firstSerial, secondSerial;
    } kinds[] = {
        {"========= LOAD DLL: C:\\x.dll =========", ledra::kRecordLoad, 0, 0},
        {"*** Serial# of call: 12.3 *** ", ledra::kRecordEnter, 12, 3},
        {"   *** Serial# of exit: 12.4 ***", ledra::kRecordExit, 12, 4},
        {"--- CREATING THE INSTANCE ---", ledra::kRecordCreate, 0, 0},
        {"--- DESTROYING OF THE INSTANCE ---", ledra::kRecordDestroy, 0, 0},
        {"<<<<<<<<<<<<  FINAL REPORT  >>>>>>>>>>>>", ledra::kRecordFinStart, 0, 0},
        {"<<<<<<<<<<<<  End of report  >>>>>>>>>>>>", ledra::kRecordFinEnd, 0, 0},
        {"========= UNLOAD DLL: x.dll =========", ledra::kRecordUnload, 0, 0},
    };
    std::string text;
    for (unsigned i = 0; i < std::size(kinds); ++i)
        text += (i == 4 ? "\r\n\r\n" : "") + Record(kinds[i].first, 0x10 + i, 0xA0 + i, 7, {"Interface: ICalc (dual)"});
    std::vector<RecordDescriptor> d;
    ledra::ParseChunk(text.data(), text.size(), 1000, &d, ledra::kDescriptorCapacity);
    ASSERT_EQ(d.size(), std::size(kinds));
    for (unsigned i = 0; i < std::size(kinds); ++i) {
        SCOPED_TRACE(kinds[i].first);
        EXPECT_EQ(d[i].type, kinds[i].type);
        EXPECT_EQ(d[i].firstSerial, kinds[i].firstSerial);
        EXPECT_EQ(d[i].secondSerial, kinds[i].secondSerial);
        EXPECT_EQ(d[i].threadId, 0x10 + i);
        EXPECT_EQ(d[i].processId, 0xA0 + i);
    }
    EXPECT_EQ(d[0].offset, 1002u);
    EXPECT_EQ(text.substr(d[4].offset - 1000 - 6, 6), "\r\n\r\n\r\n") << "runs of line breaks are skipped";
    // A first line without its CR is an unfinished tail; the descriptor buffer bounds the parse.
    const std::string cut = text.substr(0, text.rfind(" TID="));
    std::vector<RecordDescriptor> more;
    EXPECT_EQ(ledra::ParseChunk(cut.data(), cut.size(), 1000, &more, ledra::kDescriptorCapacity).count, d.size() - 1);
    EXPECT_TRUE(ledra::ParseChunk(text.data(), text.size(), 1000, &more, more.size() + 1).full);
}

class StaticIntake : public ::testing::Test, public ledra::IntakeEvents {
protected:
    void StartOfProcess() override { events += "S"; }
    void EndOfProcess() override { events += "E"; }
    void NoActiveProcess() override { events += "N"; }

    // The events fired so far, after that many more polls.
    const std::string& Polled(int polls) {
        while (polls-- > 0) intake.GetNewRecords();
        return events;
    }

    TempDir dir;
    ledra::TextBuffer text;
    std::string events;
    ledra::RecordIntake intake{&text, this};
};

TEST_F(StaticIntake, SavedFileIsDeliveredChunkByChunkWithALongRecordAndNoEndMark) {
    intake.SetMode(ledra::kModeStatic);
    intake.SetStaticPath(dir / "missing.txt");
    EXPECT_EQ(intake.GetNewRecords().count, -1);

    std::string trace;
    int records = 0;
    auto add = [&](const std::vector<std::string>& more) {
        ++records;
        trace += Record("*** Serial# of call: " + std::to_string(records) + ".7 *** ", 1, 2, records, more);
    };
    while (trace.size() <= 3 * ledra::kChunkSize) add({"Interface: ICalc (dual)", "Method: VT_HRESULT Add ("});
    add(std::vector<std::string>(3 * ledra::kChunkSize / 30, "               [in]  a=1 (1h)  (VT_I4),"));  // over three chunks
    add({"Interface: I"});  // the last record, without its end mark
    WriteWhole(dir / "saved.txt", trace);
    intake.SetMode(ledra::kModeStatic);
    intake.SetStaticPath(dir / "saved.txt");
    std::vector<RecordDescriptor> all;
    std::vector<long> counts;  // each poll's
    for (int i = 0; i < 100 && (counts.empty() || counts.back() > 0); ++i) {
        ledra::NewRecords got = intake.GetNewRecords();
        counts.push_back(got.count);
        all.insert(all.end(), got.descriptors.begin(), got.descriptors.end());
    }
    ASSERT_EQ(all.size(), static_cast<size_t>(records)) << "the last record is delivered without an end mark";
    EXPECT_GT(counts.size(), 3u) << "several chunks";
    EXPECT_EQ(counts.back(), 0);
    for (int i = 0; i < records; ++i) EXPECT_EQ(all[i].firstSerial, i + 1);
    EXPECT_EQ(intake.readPosition(), trace.size());
    EXPECT_EQ(events, "") << "static mode fires nothing";
}

// A trace map of our own under the shared name, as the kernel keeps it.
class LiveIntake : public StaticIntake {
protected:
    void SetUp() override {
        mapping.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, vx::kTraceMapSize,
                                           vx::kTraceMapName));
        ASSERT_TRUE(mapping);
        ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another trace map is open";
        view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        map = static_cast<vx::TraceMap*>(view.get());
        std::string path = dir / "TraceDistilled.txt";
        std::memcpy(map->distilledPath, path.c_str(), path.size() + 1);
        map->liveProcesses = 1;
        map->processes[0] = ::GetCurrentProcessId();
    }
    void Append(const std::string& record, int number) {
        trace += record;
        WriteWhole(dir / "TraceDistilled.txt", trace + "\x01");
        map->recordsInFile = static_cast<uint32_t>(number);
        map->recordCounter = number;
    }

    vx::unique_handle mapping;
    vx::unique_view view;
    vx::TraceMap* map = nullptr;
    std::string trace;
};

TEST_F(LiveIntake, RecordsOfALiveProcessThenTheEndOfTracingRun) {
    intake.SetCopyPath(dir / "MyCopyOfTrace.txt");
    intake.SetStatHwnd(0x1234);
    intake.SetMode(ledra::kModeDynamic);
    Append(Record("========= LOAD DLL: C:\\x.dll =========", 1, 2, 1), 1);
    Append(Record("--- CREATING THE INSTANCE ---", 1, 2, 2, {"Class: CFoo (instance# 3)"}), 2);

    ledra::NewRecords got = intake.GetNewRecords();
    EXPECT_EQ(map->readerWindow, 0x1234u);
    ASSERT_EQ(got.count, 2);
    EXPECT_EQ(got.realLastRecord, 2);
    EXPECT_EQ(map->readerPrivate, 2u);
    EXPECT_EQ(ReadWhole(dir / "MyCopyOfTrace.txt"), trace) << "the copy holds the bytes consumed";
    EXPECT_EQ(events, "") << "a first poll that finds a live process fires nothing";

    // The writer holds the lock: nothing, and the caller is told so.
    Append(Record("--- DESTROYING OF THE INSTANCE ---", 1, 2, 3), 3);
    map->lockWord = static_cast<LONG>(::GetCurrentThreadId());  // a live writer
    got = intake.GetNewRecords();
    EXPECT_EQ(got.lockedOut, 1);
    EXPECT_EQ(got.count, 0);
    EXPECT_FALSE(got.arrayMade);
    EXPECT_EQ(map->lockWord, static_cast<LONG>(::GetCurrentThreadId())) << "the writer's lock stays";
    map->lockWord = 0;
    got = intake.GetNewRecords();
    EXPECT_EQ(got.count, 1);
    EXPECT_EQ(map->lockWord, 0);

    // The process ends: NoActiveProcess, then EndOfProcess, then silence.
    map->processes[0] = 0xFFFFFFF0u;  // no such process
    got = intake.GetNewRecords();
    EXPECT_EQ(map->liveProcesses, 0u);
    EXPECT_EQ(map->processes[0], vx::kFreeSlot);
    EXPECT_EQ(events, "N");
    EXPECT_EQ(Polled(1), "NE");
    EXPECT_EQ(Polled(1), "NE");

    // A new process starts a new run, read from the start of the trace.
    map->processes[0] = ::GetCurrentProcessId();
    map->liveProcesses = 1;
    got = intake.GetNewRecords();
    EXPECT_EQ(events, "NES");
    EXPECT_EQ(got.count, 3);

    // A process that starts and ends between two polls is not lost: its
    // records arrive as a run of their own.
    map->processes[0] = 0xFFFFFFF0u;
    EXPECT_EQ(Polled(2), "NESNE");
    trace.clear();
    Append(Record("========= LOAD DLL: C:\\y.dll =========", 5, 6, 1), 1);
    map->processes[0] = 0xFFFFFFF1u;  // listed, already gone
    map->liveProcesses = 1;
    got = intake.GetNewRecords();
    EXPECT_EQ(events, "NESNESN");
    ASSERT_EQ(got.count, 1);
    EXPECT_EQ(got.descriptors[0].processId, 6u);
    EXPECT_EQ(Polled(1), "NESNESNE");

    // One that ended cleanly between two polls (it left the list itself) is
    // known by the new trace file it started. The file the reader keeps open
    // is renamed away as the backup policy does it, which the reader must
    // not prevent; the reader follows to the new file.
    ASSERT_TRUE(::MoveFileA((dir / "TraceDistilled.txt").c_str(), (dir / "TraceDistilled01.txt").c_str()));
    trace.clear();
    Append(Record("========= LOAD DLL: C:\\z.dll =========", 7, 8, 1), 1);
    map->processes[0] = vx::kFreeSlot;
    map->liveProcesses = 0;
    ::InterlockedIncrement(vx::FileGeneration(map));
    got = intake.GetNewRecords();
    EXPECT_EQ(events, "NESNESNESN");
    ASSERT_EQ(got.count, 1);
    EXPECT_EQ(got.descriptors[0].processId, 8u);
    EXPECT_EQ(Polled(2), "NESNESNESNE");
    EXPECT_EQ(Polled(1), "NESNESNESNE") << "no new file: no new run";
    // Text diverted to the extra file after the end (a late final report)
    // moves only the word's upper half: still no new run.
    ::InterlockedExchangeAdd(vx::FileGeneration(map), vx::kExtraFileAppended);
    EXPECT_EQ(Polled(2), "NESNESNESNE") << "an extra-file append is no new file";
    map->processes[0] = ::GetCurrentProcessId();
    map->liveProcesses = 1;

    // The module leaving the process takes the reader's marks with it.
    map->lockWord = -1;
    ledra::ReleaseOpenMaps(false);
    EXPECT_EQ(map->readerWindow, 0u);
    EXPECT_EQ(map->lockWord, 0);
}

TEST_F(LiveIntake, HookedAndLoadedListsTheUsedPairsWaitsForALiveWriterAndTakesOverADeadOnesLock) {
    DWORD me = ::GetCurrentProcessId();
    long self = static_cast<long>(me);
    map->hooks[1] = {me, 1};
    map->hooks[2] = {0x7FFFFFF0, 2};  // a process that ended without unloading
    map->hooks[3] = {me, 3};
    std::vector<std::pair<long, long>> couples;
    ASSERT_TRUE(intake.HookedAndLoaded(&couples));
    EXPECT_EQ(couples, (std::vector<std::pair<long, long>>{{self, 1}, {self, 3}}));
    EXPECT_EQ(map->readerWindow, 0u) << "a look at the pairs attaches nothing";

    // A live writer keeps the lock: "busy", never "nothing loaded".
    LONG live = static_cast<LONG>(::GetCurrentThreadId());
    map->lockWord = live;
    EXPECT_FALSE(intake.HookedAndLoaded(&couples));
    EXPECT_EQ(map->lockWord, live) << "a lock the reader did not take stays";

    // A writer thread that ended holding it: taken over and released.
    DWORD ended = 0;
    std::thread([&] { ended = ::GetCurrentThreadId(); }).join();
    map->lockWord = static_cast<LONG>(ended);
    EXPECT_TRUE(intake.HookedAndLoaded(&couples));
    EXPECT_EQ(couples.size(), 2u);
    EXPECT_EQ(map->lockWord, 0);
}

class RecordTextTest : public ::testing::Test {
protected:
    void Load(const std::string& trace) {
        WriteWhole(dir / "t.txt", trace);
        records.SetSource({dir / "t.txt", false});
    }
    TempDir dir;
    ledra::TextBuffer text;
    ledra::RecordText records{&text};
};

// Every line of real records is read back by the end-to-end intake test, and
// the class, method and DLL names the window's live-trace test shows in its
// tree; here what no real record there shows.
TEST_F(RecordTextTest, ACallBeyondTheTableTextNotYetConsumedAndTheLastRecordNumber) {
    std::string trace = Record("========= LOAD DLL: VxSample.dll =========", 1, 2, 56) +
                        Record("*** Serial# of call: 1.40 *** ", 1, 2, 57, {"Method is beyond Vtable"}) + "\x01";
    Load(trace);
    uint32_t call = static_cast<uint32_t>(trace.find("*** Serial"));
    EXPECT_EQ(records.MethodName(call, 1000), "Call beyond Vtable");
    EXPECT_EQ(records.MethodName(call, call), std::nullopt) << "not consumed yet";
    EXPECT_EQ(records.ProcessCommandLine(call, 1000), std::nullopt) << "no such line, even after a fresh read";
    EXPECT_EQ(ledra::RecordText::RecordAmount(dir / "t.txt"), 57);
    EXPECT_EQ(ledra::RecordText::RecordAmount(dir / "none.txt"), 0);
    records.SetSource({dir / "none.txt", false});
    records.MarkWindowEmpty();
    EXPECT_EQ(records.FirstLine(2), " ");
}

TEST(HookPaths, TrimmedServerPaths) {
    EXPECT_EQ(ledra::TrimServerPath("C:\\x\\y.dll\""), "C:\\x\\y.dll");
    EXPECT_EQ(ledra::TrimServerPath("C:\\x\\y.dll  "), "C:\\x\\y.dll");
    EXPECT_EQ(ledra::TrimServerPath("C:\\x\\123"), "C:\\x\\") << "never into the folder";
    EXPECT_EQ(ledra::TrimServerPath("\"quoted.dll\""), "\"quoted.dll\"") << "neither a folder nor a letter first";
    EXPECT_EQ(ledra::TrimServerPath("ole32.dll2"), "ole32.dll");
    EXPECT_EQ(vx::FileNameOf("C:\\x\\y.dll"), "y.dll");
    EXPECT_EQ(vx::FileNameOf("y.dll"), "y.dll");
}

}  // namespace
