// Saved traces: the whole-record rule of Save Trace, the checks before a file
// is opened and the results read from the file. The reading itself is the
// window's end-to-end tests' (a saved trace opened, whole, cut and large).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tempdir.h"
#include "tracelogic_fakes.h"

namespace {

using namespace shell;
using tl_test::TraceRecord;

// A run of the sample client as the kernel writes it: load, creation,
// `calls` calls of Add, each with its exit, destruction, unload. Record
// numbers from 1.
std::string SampleTrace(int calls, int* records) {
    int n = 0;
    std::string t = TraceRecord("========= LOAD DLL: VxSample.dll =========", 0x1a4, 0x2f0, ++n,
                                {"Time: Mon Dec  7 18:00:00 2026", "DLL's path: C:\\vx\\VxSample.dll",
                                 "Host process's command line: C:\\vx\\vxclient.exe /calc"});
    t += TraceRecord("--- CREATING THE INSTANCE ---", 0x1a4, 0x2f0, ++n,
                     {"Class: VxSample.Calc (instance# 1)", "Total instances: 1"});
    for (int i = 0; i < calls; ++i) {
        t += TraceRecord("*** Serial# of call: 17.7 *** ", 0x1a4, 0x2f0, ++n,
                         {"Class: VxSample.Calc (instance# 1)", "Interface: ICalc (dual)", "Method: VT_HRESULT Add (",
                          "               [in]  a=" + std::to_string(i) + " (" + std::to_string(i) + "h)  (VT_I4),",
                          "               [out,retval]  result  (VT_PTR to VT_I4) );"});
        t += TraceRecord("   *** Serial# of exit: 17.7 ***", 0x1a4, 0x2f0, ++n,
                         {"               [out,retval]  result=" + std::to_string(2 * i) + "  (VT_PTR to VT_I4)",
                          "               HRESULT = 0 (0h)"});
    }
    t += TraceRecord("--- DESTROYING OF THE INSTANCE ---", 0x1a4, 0x2f0, ++n,
                     {"Class: VxSample.Calc (instance# 1)", "Remaining instances: 0"});
    t += TraceRecord("========= UNLOAD DLL: VxSample.dll =========", 0x1a4, 0x2f0, ++n,
                     {"Time: Mon Dec  7 18:00:01 2026", "DLL's path: C:\\vx\\VxSample.dll",
                      "Host process's command line: C:\\vx\\vxclient.exe /calc", "All interface pointers were released"});
    *records = n;
    return t;
}

// The open check reads a file from its end; Save Trace stops where it finds
// the last whole record.
TEST(OpenCheck, FilesAreToldApartAndEndAtTheirLastWholeRecord) {
    TempDir dir;
    int n = 0;
    const std::string whole = SampleTrace(2, &n);
    // A cut file longer than the first tail that is looked at.
    const std::string big = SampleTrace(400, &n);
    ASSERT_GT(big.size(), 65536u * 2);
    struct Case {
        const char* what;
        std::string text;
        TraceFileState state;
        size_t wholeLength;
    } cases[] = {
        {"finished", whole + "\x01", TraceFileState::Whole, whole.size()},
        {"empty", "", TraceFileState::NotATrace, 0},
        {"notes", "Just some notes\r\n*** not at a line start\r\n", TraceFileState::NotATrace, 0},
        {"one long line", std::string(20000, 'x'), TraceFileState::NotATrace, 0},
        // A small file cut inside its last record is the window test's (its records before the cut shown).
        {"cut far from the start", big.substr(0, big.size() - 30), TraceFileState::Cut, big.rfind("\r\n=========")},
        {"no whole record", "\r\n*** Serial# of call: 1.7 ***  TID=1h", TraceFileState::Cut, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWhole(dir / "t.trc", c.text);
        TraceFileCheck check = InspectTraceFile(dir / "t.trc");
        EXPECT_EQ(check.state, c.state);
        EXPECT_EQ(check.wholeLength, c.wholeLength);
    }
    EXPECT_EQ(InspectTraceFile(dir / "missing.trc").state, TraceFileState::Missing);

    // The writer has started the next record: its first line, or part of it.
    const std::string next = TraceRecord("*** Serial# of call: 17.7 *** ", 0x1a4, 0x2f0, n + 1, {"Class: VxS"});
    for (size_t cut = 6; cut < next.size(); ++cut) {
        WriteWhole(dir / "t.trc", whole + next.substr(0, cut));
        EXPECT_EQ(InspectTraceFile(dir / "t.trc").wholeLength, whole.size()) << "cut at " << cut;
    }
}

TEST(SaveRule, SaveTraceCopiesWholeRecordsAndChangesNothingWithoutASource) {
    TempDir dir;
    int n = 0;
    const std::string whole = SampleTrace(3, &n);
    WriteWhole(dir / "TraceDistilled.txt", whole + "\r\n*** Serial# of call: 17.7 *** \b TID=1a4h");
    SaveResult saved = SaveTrace(dir / "TraceDistilled.txt", dir / "run.trc");
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_TRUE(saved.cut);
    EXPECT_EQ(ReadWhole(dir / "run.trc"), whole + "\x01");
    EXPECT_EQ(saved.bytes, whole.size() + 1);

    // A finished trace replaces an existing file byte for byte.
    WriteWhole(dir / "TraceDistilled.txt", whole + "\x01");
    saved = SaveTrace(dir / "TraceDistilled.txt", dir / "run.trc");
    ASSERT_TRUE(saved.ok);
    EXPECT_FALSE(saved.cut);
    EXPECT_EQ(ReadWhole(dir / "run.trc"), whole + "\x01");

    // No source: the target keeps its content and nothing else appears.
    saved = SaveTrace(dir / "missing.txt", dir / "run.trc");
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadWhole(dir / "run.trc"), whole + "\x01");
    // A folder that does not exist: fails cleanly.
    EXPECT_FALSE(SaveTrace(dir / "TraceDistilled.txt", dir / "no\\such\\folder\\x.trc").ok);
    auto files = std::filesystem::directory_iterator(dir.path());
    EXPECT_EQ(std::distance(begin(files), end(files)), 2) << "no temporary file is left behind";
}

// Files are read a megabyte at a time, from the end: a last record that
// starts on either side of a chunk's edge, or is longer than a chunk, is
// found all the same.
TEST(SaveRule, LargeFilesAreSavedAndCheckedAChunkAtATime) {
    constexpr size_t kChunk = 1 << 20;
    TempDir dir;
    int n = 0;
    const std::string head = SampleTrace(2, &n);
    for (long d : {-3L, -2L, -1L, 0L, 1L, 2L, 3L, static_cast<long>(kChunk) + 5}) {
        SCOPED_TRACE(d);
        std::string last = "\r\n*** Serial# of call: 17.7 ***  TID=1a4h PID=2f0h [99]\r\nClass: ";
        last.resize(kChunk + static_cast<size_t>(d), 'x');  // the cut record: a chunk, d bytes more
        WriteWhole(dir / "big.txt", head + last);
        SaveResult saved = SaveTrace(dir / "big.txt", dir / "big.trc");
        ASSERT_TRUE(saved.ok);
        EXPECT_TRUE(saved.cut);
        EXPECT_EQ(ReadWhole(dir / "big.trc"), head + "\x01");
        TraceFileCheck check = InspectTraceFile(dir / "big.txt");
        EXPECT_EQ(check.state, TraceFileState::Cut);
        EXPECT_EQ(check.wholeLength, head.size());
    }
}

// A missing file, a whole one and a cut one opened are the window test's.
TEST(OpenCheck, ReadingsEndWithTheirMessages) {
    const std::string path = "C:\\traces\\run.trc";
    struct Case {
        const char* what;
        TraceFileState state;
        std::vector<long> answers;  // of GetNewRecords; the user stops at the last one when `stop`
        bool stop, report;
        const char* message;  // "" when none
    } cases[] = {
        {"not a trace", TraceFileState::NotATrace, {}, false, false, "not a trace"},
        // Deleted between the check and the reading: the reader answers -1.
        {"vanished", TraceFileState::Whole, {-1}, false, false, "cannot be opened"},
        // The reader itself found the cut (the check saw a whole file that was
        // cut afterwards): the records before it stay, with the cut message.
        {"cut later", TraceFileState::Whole, {5, kStaticTraceFileCut}, false, true, "ends inside a record"},
        {"stopped", TraceFileState::Cut, {5, 5}, true, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TraceFileReading reading(TraceFileCheck{c.state, 100});
        EXPECT_EQ(reading.ShouldRead(), !c.answers.empty());
        for (size_t i = 0; i < c.answers.size(); ++i) {
            const bool last = i + 1 == c.answers.size();
            EXPECT_EQ(reading.TakeBatch(c.answers[i], c.stop && last), !last);
        }
        EXPECT_EQ(reading.AddsFinalReport(), c.report);
        const std::string message = reading.Message(path);
        if (*c.message) {
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_NE(message.find(path), std::string::npos) << "names the file";
        } else {
            EXPECT_EQ(message, "");
        }
    }
}

// Results read from the file itself: each EXIT's own HRESULT line, none for a
// Release (its count) nor from the record after it, across a reload of the
// buffer and at the file's end.
TEST(FileResultsTest, EachExitGivesItsOwnResult) {
    TempDir dir;
    std::string text = TraceRecord("*** Serial# of call: 5.7 *** ", 1, 2, 1, {"Class: C (instance# 1)"});
    std::vector<std::pair<size_t, std::optional<int32_t>>> expected;
    auto exit = [&](const std::vector<std::string>& lines, std::optional<int32_t> hr) {
        expected.push_back({text.size() + 2, hr});  // the record starts after its line break
        text += TraceRecord("   *** Serial# of exit: 5.7 ***", 1, 2, 2, lines);
    };
    exit({"               HRESULT = -2147352558 (80020012h)"}, static_cast<int32_t>(0x80020012));
    exit({"               Return value = 0 (0h)  (VT_UI4)"}, std::nullopt);
    text += std::string(2 << 20, ' ');  // past the first read
    text += TraceRecord("*** Serial# of call: 5.8 *** ", 1, 2, 3, {"               HRESULT = 5 (5h)"});
    exit({"               [out]  x=1 (1h)  (VT_POINTER VT_I4)", "               HRESULT = 1 (1h)"}, 1);
    exit({"               Return value = 2 (2h)  (VT_UI4)"}, std::nullopt);
    WriteWhole(dir / "results.trc", text + "\x01");
    FileResults results(dir / "results.trc");
    for (const auto& [offset, hr] : expected) EXPECT_EQ(results.At(static_cast<uint32_t>(offset)), hr) << offset;
}

}  // namespace
