// The trace view without a window: record intake (decoding, numbering,
// Parent, pairing, names per type), the visibility table, the report node,
// event details and the final report. Rebuilds under the nearest shown call
// are the window tests' (Show IUnknown off and on over a real trace).
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tracelogic_fakes.h"

namespace {

using namespace shell;
using tl_test::Desc;

// Every call option at `shown`, the tree expanded or not.
TreeViewOptions Options(bool shown, bool expanded) {
    TreeViewOptions options;
    options.ShowIUnknown = options.ShowIDispatch = options.ShowUserMethods = options.ShowBeyondCalls = shown;
    options.TreeIsExpanded = expanded;
    return options;
}

class ViewTest : public tl_test::ViewFixture {
protected:
    // Records with names: ENTER of `method` at pointer p on class `cls`.
    std::string Enter(uint32_t p, const std::string& method, uint16_t slot, uint32_t tid = 1, int32_t patch = 5,
                      uint32_t pid = 100) {
        reader.records[p].method = method;
        reader.records[p].cls = "Calc";
        reader.records[p].instance = 3;
        return Desc(kRecordEnter, patch, slot, p, tid, pid);
    }
    std::string Exit(uint32_t p, uint16_t slot, uint32_t tid = 1, int32_t patch = 5, uint32_t pid = 100) {
        return Desc(kRecordExit, patch, slot, p, tid, pid);
    }
    std::string Instance(uint8_t type, uint32_t p, const std::string& cls, int32_t instance, uint32_t tid = 1,
                         uint32_t pid = 100) {
        reader.records[p].cls = cls;
        reader.records[p].instance = instance;
        return Desc(type, 0, 0, p, tid, pid);
    }
};

TEST_F(ViewTest, DescriptorsAreDecodedByFieldAndNumberedInArrivalOrder) {
    Feed(Instance(kRecordCreate, 10, "A", 1) + Instance(kRecordCreate, 20, "A", 2));
    // Three descriptors and a partial fourth: 60 whole bytes are three records.
    std::string batch = Desc(kRecordEnter, -7, 0xFFFF, 0x01020304, 0xAB123456, 0xCD010001) +
                        Desc(kRecordExit, -7, 0xFFFF, 0x01020305, 0xAB123456, 0xCD010001) +
                        Desc(kRecordFinStart, 9, 9, 40, 2, 3) + std::string(7, '\x01');
    Feed(batch);
    const auto& all = view.Records().AllRecords();
    ASSERT_EQ(all.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(all[i].Num, i + 1);
    const RecInfo& r = all[2];
    EXPECT_EQ(r.RecType, kRecordEnter);
    EXPECT_EQ(r.Patch, -7);
    EXPECT_EQ(r.MethodNum, 65535u) << "the slot is unsigned";
    EXPECT_EQ(r.Pointer, 0x01020304u);
    EXPECT_EQ(r.TID, 0x123456u) << "top byte dropped";
    EXPECT_EQ(r.PID, 0x010001u);
    EXPECT_EQ(all[4].RecType, kRecordFinStart);
}

TEST_F(ViewTest, NamesAreFetchedOnlyWhereTheTreeNeedsThem) {
    reader.records[50].dll = "VxSample.dll";
    reader.records[50].commandLine = "C:\\App\\app.exe /x";
    reader.records[60].dll = "VxSample.dll";
    std::string batch = Desc(kRecordLoad, 0, 0, 50, 1, 100) + Enter(10, "Add", 7) + Exit(11, 7) +
                        Instance(kRecordCreate, 20, "Calc", 3) + Instance(kRecordDestroy, 30, "Calc", 3) +
                        Desc(kRecordUnload, 0, 0, 60, 1, 100) + Desc(kRecordFinStart, 0, 0, 70, 1, 100) +
                        Desc(kRecordFinEnd, 0, 0, 80, 1, 100) + Desc(99, 0, 0, 90, 1, 100);
    Feed(batch);
    EXPECT_EQ(reader.calls["GetMethodName"], 1);
    EXPECT_EQ(reader.calls["GetClassName"], 3);
    EXPECT_EQ(reader.calls["GetDllShortName"], 2);
    EXPECT_EQ(reader.calls["GetProcessCommandLine"], 1);
    EXPECT_EQ(reader.calls["GetFirstRecordString"], 1) << "record text is read for an EXIT's result alone";
    EXPECT_EQ(view.Records().InstanceRecords(), (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(view.Records().RecordCount(), 9) << "types 7, 8 and unknown ones are kept";
}

TEST_F(ViewTest, ExitsPairWithTheNewestMatchingCallOfTheirThreadAndProcess) {
    // Nested re-entry in thread 1; a call of the same slot in thread 2 and in
    // another process; an EXIT nobody waits for.
    Feed(Enter(1, "Add", 7, 1) + Enter(2, "Add", 7, 1) + Enter(3, "Add", 7, 2) + Enter(4, "Add", 7, 1, 5, 200) +
         Exit(5, 7, 1) + Exit(6, 7, 9) + Exit(7, 8, 1));
    const auto& all = view.Records().AllRecords();
    EXPECT_EQ(all[4].EnterForExit, 2) << "the inner re-entry returns first";
    EXPECT_EQ(all[1].ExitForEnter, 5);
    EXPECT_EQ(all[0].ExitForEnter, 0);
    EXPECT_EQ(all[5].EnterForExit, 0) << "no call pending in thread 9";
    EXPECT_EQ(all[6].EnterForExit, 0) << "slot 8 was never entered";
    EXPECT_EQ(view.Records().PendingCalls(), (std::vector<int32_t>{1, 3, 4}));
    Feed(Exit(8, 7, 2));
    EXPECT_EQ(all[7].EnterForExit, 3) << "thread 2's call returns although it is not the newest";
    EXPECT_EQ(view.Records().PendingCalls(), (std::vector<int32_t>{1, 4}));
}

// Each row of the visibility table: the option that governs it, tested by
// switching every option on its own.
TEST_F(ViewTest, EachRowOfTheVisibilityTableFollowsItsOwnOption) {
    struct Row {
        uint16_t slot;
        const char* name;
        bool TreeViewOptions::*option;
    };
    const Row rows[] = {
        {0, "QueryInterface", &TreeViewOptions::ShowIUnknown},
        {2, "Release", &TreeViewOptions::ShowIUnknown},
        {1, "Invoke", &TreeViewOptions::ShowIUnknown},
        {4, "GetTypeInfo", &TreeViewOptions::ShowIDispatch},
        {3, "GetTypeInfoCount", &TreeViewOptions::ShowIDispatch},
        {5, "GetIDsOfNames", &TreeViewOptions::ShowIDispatch},
        {6, "Invoke", &TreeViewOptions::ShowIDispatch},
        {6, "invoke", &TreeViewOptions::ShowUserMethods},
        {4, "Add", &TreeViewOptions::ShowUserMethods},
        {5, "Call beyond Vtable", &TreeViewOptions::ShowBeyondCalls},
        {7, "Invoke", &TreeViewOptions::ShowUserMethods},
        {12, "Call beyond Vtable", &TreeViewOptions::ShowBeyondCalls},
        {12, "Add", &TreeViewOptions::ShowUserMethods},
    };
    bool TreeViewOptions::*const all[] = {&TreeViewOptions::ShowIUnknown, &TreeViewOptions::ShowIDispatch,
                                          &TreeViewOptions::ShowUserMethods, &TreeViewOptions::ShowBeyondCalls};
    for (const Row& row : rows) {
        RecInfo r;
        r.RecType = kRecordEnter;
        r.MethodNum = row.slot;
        r.MethodName = row.name;
        for (auto option : all) {
            TreeViewOptions only = Options(false, true);
            only.*option = true;
            EXPECT_EQ(IsShown(r, only), option == row.option) << row.slot << " " << row.name;
        }
    }
    // Events other than calls do not depend on any option; EXIT, the
    // kernel's report records and unknown types never have a node.
    const struct {
        uint32_t type;
        bool shown;
    } events[] = {{kRecordExit, false},   {kRecordCreate, true}, {kRecordDestroy, true},
                  {kRecordLoad, true},    {kRecordUnload, true}, {kRecordFinStart, false},
                  {kRecordFinEnd, false}, {9, false},            {kRecordFinalReport, true}};
    for (const auto& e : events) {
        RecInfo r;
        r.RecType = e.type;
        EXPECT_EQ(IsShown(r, Options(false, false)), e.shown) << e.type;
        EXPECT_EQ(IsShown(r, Options(true, true)), e.shown) << e.type;
    }
}

TEST_F(ViewTest, ExitsAndKernelReportRecordsNeverBecomeParents) {
    Feed(Enter(1, "Add", 7) + Exit(2, 7) + Desc(kRecordFinStart, 0, 0, 3, 1, 100) +
         Instance(kRecordCreate, 4, "Calc", 1) + Desc(kRecordFinEnd, 0, 0, 5, 1, 100));
    EXPECT_EQ(view.Records().Record(4)->Parent, 0);
    EXPECT_EQ(view.Tree().NodeCount(), 2);
}

TEST_F(ViewTest, FinalReportIsOneTopLevelNodeWhatEverIsPending) {
    options.TreeIsExpanded = false;
    Feed(Enter(1, "Run", 7) + Instance(kRecordCreate, 2, "Calc", 1));  // Run never returns
    auto node = view.AddFinalReport(options);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->Key() + "<" + node->ParentKey() + ">" + node->Text + "[" + ImageKey(node->Image) + "]",
              "N_2147483647<>FINAL REPORT[Final]");
    EXPECT_FALSE(node->Expanded);
    EXPECT_EQ(view.Records().RecordCount(), 3);
    EXPECT_FALSE(view.AddFinalReport(options)) << "its key exists already";
    EXPECT_EQ(view.Records().Record(3), nullptr) << "no record is numbered 3";
    // A click finds the record by the node's key; the report pane's keys name none.
    EXPECT_EQ(NumFromKey(node->Key()), FinalReportNum);
    EXPECT_EQ(NumFromKey("N_1234_16"), 0);

    // A record after the report still nests under the call that never
    // returned: numbered 4, inserted after the report, first in tree order.
    auto late = Feed(Enter(3, "Next", 7) + Instance(kRecordCreate, 4, "Calc", 2));
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].Key(), "N_4");
    EXPECT_EQ(late[0].ParentKey(), "N_1");
    // Autoscroll follows the last top-level node of a collapsed tree, the
    // last node of an expanded one.
    EXPECT_EQ(view.Tree().AutoscrollNum(true, false), FinalReportNum);
    EXPECT_EQ(view.Tree().AutoscrollNum(true, true), 5);
    EXPECT_EQ(view.Tree().AutoscrollNum(false, true), 0);
    EXPECT_EQ(view.Tree().TreeOrder(), (std::vector<int32_t>{1, 2, 4, 5, FinalReportNum}));
    EXPECT_EQ(view.Tree().NumAt(3), FinalReportNum) << "tree indexes count additions";

    // The records and nodes a reset empties are the run's case's and the window's second live client's.
    view.ResetTraceView();
    EXPECT_TRUE(view.AddFinalReport(options)) << "a new view takes a new report";
}

TEST_F(ViewTest, RecordsPastTheLimitOfACutFileAreNotTaken) {
    view.LimitToOffset(300);
    auto nodes = Feed(Instance(kRecordCreate, 100, "A", 1) + Instance(kRecordCreate, 299, "A", 2) +
                      Instance(kRecordCreate, 300, "A", 3));
    EXPECT_EQ(nodes.size(), 2u);
    EXPECT_EQ(view.Records().RecordCount(), 2);
    view.ResetTraceView();
    Feed(Instance(kRecordCreate, 300, "A", 3));
    EXPECT_EQ(view.Records().RecordCount(), 1) << "a reset lifts the limit";
}

TEST_F(ViewTest, AViewAtItsRecordBoundCountsWhatItLeavesOutUntilItIsReset) {
    view.SetRecordLimit(3);
    std::string batch;
    for (uint32_t p = 1; p <= 5; ++p) batch += Instance(kRecordCreate, p, "A", static_cast<int32_t>(p));
    EXPECT_EQ(Feed(batch).size(), 3u);
    EXPECT_EQ(view.LimitText(), "View full at 3 records; 2 more are only in the trace files.");
    view.SetRealLastRecord(7);
    EXPECT_EQ(view.QueuedText(), "Queued Events: 2 ") << "what was left out is not waiting";
    view.SetRealLastRecord(1);
    EXPECT_EQ(view.QueuedText(), "Queued Events: 0 ") << "never below zero";
    EXPECT_TRUE(view.AddFinalReport(options)) << "the report still ends the view";
    view.ResetTraceView();
    EXPECT_FALSE(view.LimitReached());
    EXPECT_EQ(Feed(batch).size(), 3u) << "a new view takes records up to the bound again";
}

TEST_F(ViewTest, DetailsStartWithProcessAndThreadAndStayBounded) {
    reader.records[30].lines = {"Class: Calc (instance# 4)", "Total instances: 2"};
    // Process ids up to 65536 read in decimal and hex, larger ones in one odd hex form.
    Feed(Enter(10, "Add", 7, 0x162E, 5, 65536) + Exit(20, 7, 0x162E, 5, 65536) + Enter(40, "Run", 8) +
         Instance(kRecordCreate, 30, "Calc", 4, 0x1A, 65537));

    // A call's lines, the separator and its exit's lines are the window test's (the sample's Divide).
    EXPECT_EQ(EventDetailsLines(view.Records(), 1, reader).at(0), "ProcessID=65536(10000h)  ThreadID=5678(162Eh)");
    EXPECT_EQ(EventDetailsLines(view.Records(), 4, reader),
              (std::vector<std::string>{"ProcessID=FF10001h  ThreadID=FF1Ah", "Class: Calc (instance# 4)",
                                        "Total instances: 2"}));
    EXPECT_EQ(EventDetailsLines(view.Records(), 3, reader).size(), 1u) << "a pending call: no separator";
    view.AddFinalReport(options);
    EXPECT_TRUE(EventDetailsLines(view.Records(), FinalReportNum, reader).empty());
    EXPECT_TRUE(EventDetailsLines(view.Records(), 99, reader).empty());

    // A reader whose source went away answers " " to every read: the pane
    // gets a bounded number of lines instead of filling for ever.
    reader.brokenSource = true;
    EXPECT_LE(EventDetailsLines(view.Records(), 4, reader).size(), 100001u);
}

// Final report.

class ReportTest : public ViewTest {
protected:
    std::string Report() {
        std::string out;
        for (const ReportNode& n : BuildFinalReportView(view.Records()))
            out += n.Key + "<" + n.ParentKey + ">" + n.Text + "\n";
        return out;
    }
};

TEST_F(ReportTest, CountsPerProcessThreadAndClass) {
    reader.records[1].commandLine = "C:\\App\\app.exe /x";
    reader.records[1].dll = "VxSample.dll";
    Feed(Desc(kRecordLoad, 0, 0, 1, 0x10, 1234) + Instance(kRecordCreate, 2, "CFoo", 1, 0x10, 1234) +
         Instance(kRecordCreate, 3, "CFoo", 2, 0x10, 1234) + Instance(kRecordCreate, 4, "CFoo", 3, 0x20, 1234) +
         Instance(kRecordDestroy, 5, "CFoo", 1, 0x10, 1234) + Instance(kRecordCreate, 6, "CBar", 1, 0x10, 1234) +
         Instance(kRecordCreate, 7, "CBar", 1, 0x30, 70000));
    EXPECT_EQ(Report(),
              "N_1234<>ProcessID=1234(4D2h) (C:\\App\\app.exe /x)\n"
              "N_1234_16<N_1234>TreadID=16(10h)\n"
              "N_1234_16_CFoo<N_1234_16>Class: CFoo\n"
              "N_1234_16_CFoo_CRT<N_1234_16_CFoo>Number of created instances: 2\n"
              "N_1234_16_CFoo_LEFT<N_1234_16_CFoo>Number of undestroyed instances: 1\n"
              "N_1234_32<N_1234>TreadID=32(20h)\n"
              "N_1234_32_CFoo<N_1234_32>Class: CFoo\n"
              "N_1234_32_CFoo_CRT<N_1234_32_CFoo>Number of created instances: 1\n"
              "N_1234_32_CFoo_LEFT<N_1234_32_CFoo>Number of undestroyed instances: 1\n"
              "N_1234_16_CBar<N_1234_16>Class: CBar\n"
              "N_1234_16_CBar_CRT<N_1234_16_CBar>Number of created instances: 1\n"
              "N_1234_16_CBar_LEFT<N_1234_16_CBar>Number of undestroyed instances: 1\n"
              "N_70000<>ProcessID=FF11170h ()\n"
              "N_70000_48<N_70000>TreadID=FF30h\n"
              "N_70000_48_CBar<N_70000_48>Class: CBar\n"
              "N_70000_48_CBar_CRT<N_70000_48_CBar>Number of created instances: 1\n"
              "N_70000_48_CBar_LEFT<N_70000_48_CBar>Number of undestroyed instances: 1\n");
    EXPECT_EQ(FindProcessCommandLine(view.Records(), 1234), "C:\\App\\app.exe /x");
    EXPECT_EQ(FindProcessCommandLine(view.Records(), 70000), "");
}

TEST_F(ReportTest, ADestructionFirstInAThreadNeverGivesInventedOrNegativeCounts) {
    Feed(Enter(10, "Add", 7) + Exit(11, 7));
    view.AddFinalReport(options);
    EXPECT_EQ(Report(), "") << "calls alone give an empty report";
    // Created in thread 1, destroyed in thread 2; thread 2 then creates one
    // and destroys two.
    Feed(Instance(kRecordCreate, 1, "CFoo", 1, 1) + Instance(kRecordDestroy, 2, "CFoo", 1, 2));
    std::string report = Report();
    EXPECT_NE(report.find("N_100_2_CFoo_CRT<N_100_2_CFoo>Number of created instances: 0\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("N_100_2_CFoo_LEFT<N_100_2_CFoo>Number of undestroyed instances: 0\n"), std::string::npos);
    Feed(Instance(kRecordCreate, 3, "CFoo", 2, 2) + Instance(kRecordDestroy, 4, "CFoo", 2, 2) +
         Instance(kRecordDestroy, 5, "CFoo", 9, 2));
    report = Report();
    EXPECT_NE(report.find("N_100_2_CFoo_CRT<N_100_2_CFoo>Number of created instances: 1\n"), std::string::npos);
    EXPECT_NE(report.find("N_100_2_CFoo_LEFT<N_100_2_CFoo>Number of undestroyed instances: 0\n"), std::string::npos);
    EXPECT_NE(report.find("N_100_1_CFoo_LEFT<N_100_1_CFoo>Number of undestroyed instances: 1\n"), std::string::npos);
}

}  // namespace
