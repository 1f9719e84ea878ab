#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "filepolicy.h"
#include "kernel.h"
#include "pendingtext.h"
#include "raii.h"
#include "tempdir.h"
#include "timetext.h"
#include "tracestore.h"

using namespace korbin;

namespace {

// A store on a map and state block named for the test, so tests run beside a live trace.
bool Configure(TraceStore& s, const std::string& folder, const std::string& mapName, const char* blockPrefix) {
    std::snprintf(s.mapName, sizeof s.mapName, "%s", mapName.c_str());
    std::snprintf(s.blockPrefix, sizeof s.blockPrefix, "%s", blockPrefix);
    s.switches.fullTrace = s.switches.distilledTrace = true;
    return s.files.Build(folder.c_str());
}

// A record framed as the kernel frames one: the title line continued by the
// thread, process and record numbers, then a body line.
void WriteRecord(TraceStore& s, const char* title) {
    s.LockDiagFile();
    s.Line("========= %s =========", title);
    s.Line("\b TID=%lxh PID=%lxh [%d]", ::GetCurrentThreadId(), ::GetCurrentProcessId(), s.recordNumber());
    s.Line("body of %s", title);
    s.UnLockDiagFile();
}

// WriteRecord's text; lead starts each line (the full stream's thread id).
std::string Expected(const char* title, int number, const std::string& lead = "") {
    return "\r\n" + lead + "========= " + title + " ========= TID=" + Hex(::GetCurrentThreadId()) + "h PID=" +
           Hex(::GetCurrentProcessId()) + "h [" + std::to_string(number) + "]\r\n" + lead + "body of " + title + "\r\n";
}

class TraceStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Configure(store, dir.path(), "VxTestMap-" + std::to_string(::GetCurrentProcessId()), "VxTestBlock "));
        WriteWhole(store.files.distilled, "");
        ASSERT_TRUE(store.SetUpMaps());
    }

    void Record(const char* title) { WriteRecord(store, title); }
    // A second process's store on the same map and files; this process is
    // listed first as a run in progress, which the second must not reset.
    void StartOther() {
        store.map()->liveProcesses = 1;
        store.map()->processes[0] = ::GetCurrentProcessId();
        ASSERT_TRUE(Configure(other, dir.path(), store.mapName, "VxTestOtherBlock "));
        ASSERT_TRUE(other.SetUpMaps());
    }

    TempDir dir;
    TraceStore store;
    TraceStore other;
};

}  // namespace

TEST_F(TraceStoreTest, LongLinesAreCutAndIndentationIsClamped) {
    store.switches.fullTrace = false;
    store.Indent(500);
    EXPECT_EQ(store.indent(), 100);
    store.LockDiagFile();
    store.Line("%s", std::string(5000, 'x').c_str());
    store.UnLockDiagFile();
    store.Indent(-1000);
    EXPECT_EQ(store.indent(), 0);
    std::string text = ReadWhole(store.files.distilled);
    EXPECT_EQ(text, "\r\n" + std::string(100, ' ') + std::string(kLineBufferSize - 1, 'x') + "\r\n\x01");
}

TEST_F(TraceStoreTest, RecordDivertedWhileReaderHoldsTheMapIsMergedInOrder) {
    store.map()->lockWord = -1;  // the reader's mark
    Record("A");
    EXPECT_EQ(ReadWhole(store.files.distilled), "");
    EXPECT_EQ(ReadWhole(store.files.extra), Expected("A", 1) + "\x01");
    EXPECT_EQ(store.counters().writesToExtraFile, 1u);
    EXPECT_EQ(store.map()->recordsInFile, 0u);
    Record("B");
    EXPECT_EQ(store.counters().maxRecordsInExtraFile, 2u);
    store.map()->lockWord = 0;
    Record("C");
    EXPECT_EQ(ReadWhole(store.files.distilled), Expected("A", 1) + Expected("B", 2) + Expected("C", 3) + "\x01");
    EXPECT_FALSE(FileExists(store.files.extra));
    EXPECT_EQ(store.map()->recordsInFile, 3u);
    EXPECT_EQ(store.counters().currentExtraRun, 0u);
    // Diverted text enters the ring when written and again when merged.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(store.map()->ring), store.map()->ringPosition),
              Expected("A", 1) + Expected("B", 2) + Expected("A", 1) + Expected("B", 2) + Expected("C", 3));
}

// A writer looks for the extra file only when the generation word moved: a
// record another process diverted must still be merged by the next direct one.
TEST_F(TraceStoreTest, AnotherWritersDivertedRecordIsMergedByTheNextDirectRecord) {
    Record("ONE");  // looked once: no extra file
    ASSERT_NO_FATAL_FAILURE(StartOther());
    store.map()->lockWord = -1;
    WriteRecord(other, "OTHER");
    store.map()->lockWord = 0;
    ASSERT_TRUE(FileExists(store.files.extra));
    Record("THREE");
    Record("FOUR");
    EXPECT_EQ(ReadWhole(store.files.distilled),
              Expected("ONE", 1) + Expected("OTHER", 2) + Expected("THREE", 3) + Expected("FOUR", 4) + "\x01");
    EXPECT_FALSE(FileExists(store.files.extra));
}

TEST_F(TraceStoreTest, DivertedRecordMergedAtItsOwnEndLeavesAWellFormedFile) {
    store.map()->lockWord = -1;
    store.LockDiagFile();
    store.map()->lockWord = 0;  // released while the record is written
    store.Line("========= LATE =========");
    store.UnLockDiagFile();
    EXPECT_EQ(store.map()->lockWord, 0);
    Record("NEXT");
    EXPECT_EQ(ReadWhole(store.files.distilled), "\r\n========= LATE =========\r\n" + Expected("NEXT", 2) + "\x01");
}

TEST_F(TraceStoreTest, MapLockOfADeadThreadIsTakenOver) {
    std::thread([this] { store.map()->lockWord = static_cast<LONG>(::GetCurrentThreadId()); }).join();
    Record("AFTER");
    EXPECT_EQ(store.counters().writesToExtraFile, 0u);
    EXPECT_EQ(ReadWhole(store.files.distilled), Expected("AFTER", 1) + "\x01");
    EXPECT_GE(LockTakeovers(), 1u);
    // The waiting form of the lock as well.
    std::thread([this] { store.map()->lockWord = static_cast<LONG>(::GetCurrentThreadId()); }).join();
    store.LockDiagFileNoInc();
    EXPECT_EQ(store.map()->lockWord, static_cast<LONG>(::GetCurrentThreadId()));
    store.UnLockDiagFileSimple();
}

// A process writes its next record where its last one ended without asking
// the file, as long as nobody wrote after it: records of another process, on
// either stream and with or without the distilled trace, are never written
// over, and no gap opens.
TEST_F(TraceStoreTest, RecordsOfTwoProcessesInterleavedStayWholeInBothFiles) {
    ASSERT_NO_FATAL_FAILURE(StartOther());
    Record("ONE");
    Record("TWO");
    WriteRecord(other, "THREE");
    Record("FOUR");
    Record("FIVE");
    // Started under other settings: the full stream alone, uncounted, under the last number.
    other.switches.distilledTrace = false;
    WriteRecord(other, "SIX");
    Record("SEVEN");
    other.Select(Stream::Full);
    other.Dgn("a line between records");
    Record("EIGHT");
    EXPECT_EQ(ReadWhole(store.files.distilled),
              Expected("ONE", 1) + Expected("TWO", 2) + Expected("THREE", 3) + Expected("FOUR", 4) +
                  Expected("FIVE", 5) + Expected("SEVEN", 6) + Expected("EIGHT", 7) + "\x01");
    std::string full = ReadWhole(store.files.full);
    const std::string tid = "[" + Hex(::GetCurrentThreadId()) + "] ";
    EXPECT_NE(full.find(Expected("SIX", 5, tid)), std::string::npos) << full;
    EXPECT_EQ(full.find('\0'), std::string::npos) << "a gap in the full trace";
    EXPECT_EQ(full.back(), '\x01');
    size_t at = 0;
    for (std::string title : {"ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN", "a line between", "EIGHT"}) {
        if (title.size() < 6) title = "= " + title + " =";
        size_t found = full.find(title, at);
        ASSERT_NE(found, std::string::npos) << title << " in order in:\n" << full;
        EXPECT_EQ(full.find(title, found + 1), std::string::npos) << title << " once";
        at = found;
    }
}

// Two processes writing at once contend for the map: a record that finds it
// taken goes to the extra file, but its full-stream text still goes to the
// full trace at once. Neither stream may lose, split or write over a record.
TEST_F(TraceStoreTest, TwoProcessesWritingAtOnceKeepEveryRecordWholeInBothFiles) {
    ASSERT_NO_FATAL_FAILURE(StartOther());
    constexpr int kRecords = 1500;
    DWORD threadIds[2] = {};
    auto write = [&](TraceStore& s, int writer) {
        threadIds[writer] = ::GetCurrentThreadId();
        for (int i = 0; i < kRecords; ++i) {
            s.LockDiagFile();
            s.Line("========= W%d R%d =========", writer, i);
            s.Line("body of W%d R%d", writer, i);
            s.UnLockDiagFile();
        }
    };
    std::thread first(write, std::ref(store), 0), second(write, std::ref(other), 1);
    first.join();
    second.join();
    // As at their ends: what either still holds goes out, and a last record
    // merges what was diverted.
    other.WriteHeldFullText();
    store.WriteHeldFullText();
    store.LockDiagFile();
    store.UnLockDiagFile();

    const std::string full = ReadWhole(store.files.full), distilled = ReadWhole(store.files.distilled);
    auto once = [](const std::string& file, const std::string& text) {
        const size_t at = file.find(text);
        return at != std::string::npos && file.find(text, at + 1) == std::string::npos;
    };
    std::string broken;  // the first record lost, split or written twice
    for (int writer = 0; writer < 2; ++writer) {
        const std::string tid = "[" + Hex(threadIds[writer]) + "] ";
        for (int i = 0; i < kRecords && broken.empty(); ++i) {
            const std::string name = "W" + std::to_string(writer) + " R" + std::to_string(i);
            if (!once(full, tid + "========= " + name + " =========\r\n" + tid + "body of " + name + "\r\n") ||
                !once(distilled, "========= " + name + " =========\r\nbody of " + name + "\r\n"))
                broken = name;
        }
    }
    EXPECT_EQ(broken, "") << store.counters().writesToExtraFile + other.counters().writesToExtraFile
                          << " records were diverted";
    EXPECT_EQ(full.find('\0'), std::string::npos) << "a gap in the full trace";
}

namespace {

enum class Reader { None, Leaves, Killed };

// Two stores as two processes write the same records on a map of their own;
// with a reader, the records of the middle part are held for it, and the
// first writer is killed with its last record still held.
struct HeldRun {
    std::string full, distilled;
    bool heldUntilWritten = false;  // the held records were in no file before the reader's write
    bool nothingHeldAfter = false;   // with the reader gone, the next record wrote what was held
};
HeldRun WriteHeldRun(const std::string& folder, Reader reader) {
    HeldRun run;
    TraceStore a, b;
    const std::string n = std::to_string(static_cast<int>(reader));
    const std::string mapName = "VxHeldMap-" + std::to_string(::GetCurrentProcessId()) + "-" + n;
    EXPECT_TRUE(Configure(a, folder, mapName, ("VxHeldA" + n + " ").c_str()));
    EXPECT_TRUE(Configure(b, folder, mapName, ("VxHeldB" + n + " ").c_str()));
    WriteWhole(a.files.distilled, "");
    EXPECT_TRUE(a.SetUpMaps());
    a.map()->liveProcesses = 1;
    a.map()->processes[0] = ::GetCurrentProcessId();
    EXPECT_TRUE(b.SetUpMaps());
    TraceMap* map = b.map();  // b's view: it outlives a
    WriteRecord(a, "A1");
    WriteRecord(b, "B1");

    vx::unique_handle section;
    vx::unique_view view;
    vx::PendingText* pending = nullptr;
    if (reader != Reader::None) {
        section.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(vx::PendingText),
                                           (mapName + vx::kPendingTextSuffix).c_str()));
        view.reset(::MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        pending = static_cast<vx::PendingText*>(view.get());
        pending->readerProcess = static_cast<LONG>(::GetCurrentProcessId());
        ::Sleep(150);  // the writers look for the section only now and then
    }
    auto readerWrites = [&] {
        map->lockWord = -1;
        vx::WritePendingText(pending, map, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
        map->lockWord = 0;
    };
    WriteRecord(a, "A2");
    WriteRecord(b, "B2");
    WriteRecord(a, "A3");
    if (pending) {
        run.heldUntilWritten = ReadWhole(a.files.distilled).find("A2") == std::string::npos &&
                               ReadWhole(a.files.full).find("B2") == std::string::npos && vx::HasPendingText(*pending);
        readerWrites();
    }
    WriteRecord(b, "B3");
    WriteRecord(a, "A4");
    a.ReleaseMaps();  // killed: its last record is still held
    if (reader == Reader::Leaves) {
        pending->readerProcess = 0;
        readerWrites();
    } else if (reader == Reader::Killed) {
        pending->readerProcess = 0x7FFFFFF0;  // no such process: the writer writes what it held
        ::Sleep(150);
    }
    WriteRecord(b, "B4");
    run.nothingHeldAfter = pending && !vx::HasPendingText(*pending);
    b.WriteHeldFullText();
    b.ReleaseMaps();
    run.full = ReadWhole(a.files.full);
    run.distilled = ReadWhole(a.files.distilled);
    return run;
}

}  // namespace

TEST(HeldTextTest, HeldForAReaderTheFilesComeOutAsIfWrittenAtOnce) {
    TempDir direct, leaves, killed;
    const HeldRun plain = WriteHeldRun(direct.path(), Reader::None);
    ASSERT_NE(plain.distilled.find("A4"), std::string::npos);
    ASSERT_NE(plain.full.find("B4"), std::string::npos);
    for (const auto& [folder, reader] : {std::pair{&leaves, Reader::Leaves}, std::pair{&killed, Reader::Killed}}) {
        SCOPED_TRACE(reader == Reader::Leaves ? "the reader leaves" : "the reader is killed");
        const HeldRun held = WriteHeldRun(folder->path(), reader);
        EXPECT_TRUE(held.heldUntilWritten);
        EXPECT_TRUE(held.nothingHeldAfter);
        EXPECT_EQ(held.distilled, plain.distilled);
        EXPECT_EQ(held.full, plain.full);
    }
}

TEST(HeldTextTest, AWriteCutShortByItsWritersEndIsDoneAgainNotTwice) {
    TempDir dir;
    const std::string path = dir / "TraceDistilled.txt";
    WriteWhole(path, "\r\nA\r\n\x01");
    auto pending = std::make_unique<vx::PendingText>();
    std::snprintf(pending->distilledPath, sizeof pending->distilledPath, "%s", path.c_str());
    ASSERT_TRUE(vx::AppendPendingText(pending.get(), vx::kHeldDistilled, "\r\nB1\r\n\x01", 7));
    ASSERT_TRUE(vx::AppendPendingText(pending.get(), vx::kHeldDistilled, "\r\nB2\r\n\x01", 7));
    // A writer ended during its write: the mark says where the text began
    // (over the end mark), and part of it is in the file.
    pending->writingStream = vx::kHeldDistilled;
    pending->writingFrom = 5;
    WriteWhole(path, "\r\nA\r\n\r\nB1\r");
    EXPECT_TRUE(vx::WritePendingText(pending.get(), nullptr, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE));
    EXPECT_EQ(ReadWhole(path), "\r\nA\r\n\r\nB1\r\n\r\nB2\r\n\x01");
    // The next text of the stream is written after it: the mark is over.
    ASSERT_TRUE(vx::AppendPendingText(pending.get(), vx::kHeldDistilled, "\r\nC\r\n\x01", 6));
    EXPECT_TRUE(vx::WritePendingText(pending.get(), nullptr, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE));
    EXPECT_EQ(ReadWhole(path), "\r\nA\r\n\r\nB1\r\n\r\nB2\r\n\r\nC\r\n\x01");
}

TEST_F(TraceStoreTest, StartBannerOnTheFullStreamOnly) {
    store.WriteStartBanner({{"C:\\v\\Vexilo.txt", korbin::SettingsRead::Read}});
    std::string full = ReadWhole(store.files.full);
    const std::string tid = "[" + Hex(::GetCurrentThreadId()) + "] ", head = "\r\n\r\n\r\n" + tid + "========= Start Interc at ";
    ASSERT_EQ(full.compare(0, head.size(), head), 0) << full;
    EXPECT_EQ(full.substr(head.size() + vx::kTimeTextLength), " =========\r\n") << full;
    EXPECT_EQ(ReadWhole(store.files.distilled), "");

    // A settings file that cannot be read is named (one read in part: the
    // new user's damaged-settings test).
    store.WriteStartBanner({{"C:\\v\\Vexilo.txt", korbin::SettingsRead::FileUnreadable}});
    full = ReadWhole(store.files.full);
    EXPECT_NE(full.find(tid + "Settings file C:\\v\\Vexilo.txt cannot be read: its defaults are taken"),
              std::string::npos)
        << full;
}

TEST_F(TraceStoreTest, ProcessListAndHookTableFillFreeSlotsAndNeverOverflow) {
    TraceMap* m = store.map();
    DWORD self = ::GetCurrentProcessId();
    // An empty run: the process becomes the only one, its hook entered (the
    // end-to-end golden run, file policies and reader window check that), and
    // the same process and hook again are listed once, entered once.
    RegisterProcess(store, self, 3, 1);
    RegisterProcess(store, self, 3, 1);
    EXPECT_EQ(m->liveProcesses, 1u);
    EXPECT_EQ(m->processes[1], 0u);
    EXPECT_EQ(m->hooks[1].processId, 0u);
    EXPECT_EQ(store.block()->loadedHookedDlls, 2);

    // A new process fills the last free slot. Live ids: this process stands
    // in for the others (only its liveness matters).
    const uint32_t listed[] = {self, self, kFreeSlot, self, self, kFreeSlot, self};
    std::copy(std::begin(listed), std::end(listed), m->processes);
    m->liveProcesses = 5;
    RegisterProcess(store, 0x7FFFFFF0u, 1, 2);
    EXPECT_EQ(m->processes[5], 0x7FFFFFF0u);
    EXPECT_EQ(m->processes[2], kFreeSlot);
    EXPECT_EQ(m->liveProcesses, 6u);

    // A dead id is swept before the new one is placed.
    RegisterProcess(store, 0x7FFFFFE0u, 1, 2);
    EXPECT_EQ(m->processes[5], 0x7FFFFFE0u);  // the dead 0x7FFFFFF0 left slot 5 free
    EXPECT_EQ(m->liveProcesses, 6u);

    for (int i = 0; i < kProcessSlots; ++i) m->processes[i] = self;
    m->processes[kProcessSlots - 1] = 0;
    m->liveProcesses = kProcessSlots - 1;
    RegisterProcess(store, 0x7FFFFFD0u, 1, 2);
    EXPECT_EQ(m->processes[kProcessSlots - 1], 0u);  // the terminator stays
    EXPECT_EQ(m->liveProcesses, static_cast<uint32_t>(kProcessSlots - 1));

    for (HookEntry& e : m->hooks) e = HookEntry{self, 99};
    RegisterProcess(store, self, 7, 2);  // a full table leaves the hook out
    for (const HookEntry& e : m->hooks) EXPECT_EQ(e.hookNumber, 99u);
}

TEST(FilePolicyTest, BackupsNumberOnOrReplaceTheLastAndNothingIsBackedUpWithoutAFile) {
    TempDir dir;
    std::string path = dir / "TraceDistilled.txt";
    for (int i = 1; i <= 3; ++i) WriteWhole(dir / ("TraceDistilled0" + std::to_string(i) + ".txt"), "old");
    WriteWhole(path, "run 4");
    ApplyFilePolicy(path.c_str(), FilePolicy::BackupAll);
    EXPECT_EQ(ReadWhole(dir / "TraceDistilled04.txt"), "run 4");
    EXPECT_EQ(ReadWhole(path), "");

    WriteWhole(path, "run 5");
    ApplyFilePolicy(path.c_str(), FilePolicy::BackupLast);  // over the old one
    EXPECT_EQ(ReadWhole(dir / "TraceDistilled01.txt"), "run 5");

    // A run overridden: the end-to-end file policies.
    ::DeleteFileA(path.c_str());
    ApplyFilePolicy(path.c_str(), FilePolicy::BackupLast);  // nothing to back up
    EXPECT_EQ(ReadWhole(path), "");
    EXPECT_EQ(ReadWhole(dir / "TraceDistilled01.txt"), "run 5");

    char name[MAX_PATH];
    ASSERT_TRUE(BackupName("C:\\t\\TraceDistilled.txt", 123, name, sizeof name));
    EXPECT_STREQ(name, "C:\\t\\TraceDistilled123.txt");
}
