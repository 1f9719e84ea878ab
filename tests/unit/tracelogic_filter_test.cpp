// Reading a big trace: calls nested per thread (an unwound call ending with
// its caller), failed calls named and marked, filter rules as Process Monitor
// combines them, a filter on results applied when calls return, statistics,
// and the result lines of the details pane.
#include <gtest/gtest.h>

#include "tracefilter.h"
#include "tracelogic_fakes.h"

namespace {

using namespace shell;
using tl_test::Desc;

class FilterTest : public tl_test::ViewFixture {
protected:
    std::string Enter(uint32_t p, const std::string& method, uint32_t tid, const std::string& cls = "Calc") {
        reader.records[p] = {method, cls, 1, "", "", {}};
        return Desc(kRecordEnter, 5, static_cast<uint16_t>(p + 10), p, tid, 100);  // past IUnknown and IDispatch
    }
    // The EXIT of the call entered at `enter`, returning `hr`.
    std::string Exit(uint32_t p, uint32_t enter, uint32_t tid, int32_t hr = 0) {
        reader.records[p].lines = {"               HRESULT = " + std::to_string(hr) + " (" + Hex(static_cast<uint32_t>(hr)) + "h)"};
        return Desc(kRecordExit, 5, static_cast<uint16_t>(enter + 10), p, tid, 100);
    }
    std::vector<std::string> Texts(const std::vector<TreeNode>& nodes) {
        std::vector<std::string> texts;
        for (const TreeNode& n : nodes) texts.push_back(n.Text + (n.ParentNum ? " in " + std::to_string(n.ParentNum) : ""));
        return texts;
    }
};

TEST_F(FilterTest, CallsNestPerThreadAndProcessAndAnUnwoundCallEndsWhenItsCallerReturns) {
    // Thread 1: A calls C, then D, which never returns (an exception), then A
    // returns; E follows at the top. Thread 2 runs B meanwhile; thread 1 of
    // another process creates an object.
    Feed(Enter(1, "A", 1) + Enter(2, "B", 2) + Enter(3, "C", 1) + Exit(4, 3, 1) + Enter(5, "D", 1) + Exit(6, 1, 1) +
         Enter(7, "E", 1) + Desc(kRecordCreate, 0, 0, 8, 2, 100) + Desc(kRecordCreate, 0, 0, 9, 1, 200));
    const auto& all = view.Records().AllRecords();
    const int32_t byThread[] = {0, 0, 1, 3, 1, 5, 0, 2, 0};
    const int32_t byArrival[] = {0, 1, 2, 3, 2, 5, 5, 7, 7};
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(all[i].Parent, byThread[i]) << "record " << i + 1;
    view.Records().SetNestByArrival(true);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(all[i].Parent, byArrival[i]) << "record " << i + 1 << " by arrival";
}

TEST_F(FilterTest, AFailedCallGetsItsResultNameImageAndTintWhenItReturns) {
    std::vector<TreeNode> entered = Feed(Enter(1, "Divide", 1));
    ASSERT_EQ(entered.size(), 1u);
    EXPECT_EQ(entered[0].Image, NodeImage::Call);
    Feed(Exit(2, 1, 1, static_cast<int32_t>(0x80020012)) + Enter(3, "Add", 1) + Exit(4, 3, 1) + Enter(5, "Odd", 1) +
         Exit(6, 5, 1, static_cast<int32_t>(0x80041234)));
    std::vector<TreeNode> changed = view.TakeChangedNodes(options);
    // A named result in the node, also once rebuilt, and the failed image are the window test's (the
    // sample's Divide by zero, its tree rebuilt after Show IUnknown off and on).
    ASSERT_EQ(changed.size(), 2u) << "the two failed calls; Add succeeded";
    EXPECT_EQ(changed[0].Tint, NodeTint::Failed);
    EXPECT_EQ(changed[1].Text, "Odd <Calc(1)>  -> 0x80041234");
    EXPECT_TRUE(view.TakeChangedNodes(options).empty());
    // Highlighted by a rule, unless failed: the failure's tint wins.
    TraceFilter highlight({{FilterField::Method, "Add", true}, {FilterField::Method, "Divide", true}});
    options.Highlight = &highlight;
    std::vector<TreeNode> rebuilt = view.RebuildTraceTree(options);
    ASSERT_EQ(rebuilt.size(), 3u);
    EXPECT_EQ(rebuilt[0].Tint, NodeTint::Failed);
    EXPECT_EQ(rebuilt[1].Tint, NodeTint::Highlighted);
    EXPECT_EQ(rebuilt[2].Tint, NodeTint::Failed);
}

TEST_F(FilterTest, RulesCombineAsProcessMonitorsDo) {
    RecInfo add;
    add.RecType = kRecordEnter;
    add.MethodName = "Add";
    add.ClassName = "VxSample Calc Class";
    add.TID = 0x1a4;
    add.PID = 0x2f0;
    add.HasResult = true;
    add.Result = static_cast<int32_t>(0x80004002);
    const auto rule = [](FilterField field, const char* value, bool show = true) { return FilterRule{field, value, show}; };
    const struct {
        const char* what;
        std::vector<FilterRule> rules;
        bool passes;
    } cases[] = {
        {"no rule", {}, true},
        {"one field, one of its rules", {rule(FilterField::Method, "Divide"), rule(FilterField::Method, "add")}, true},
        {"one field, none", {rule(FilterField::Method, "Divide"), rule(FilterField::Method, "Sub")}, false},
        {"two fields, both", {rule(FilterField::Class, "*calc*"), rule(FilterField::Result, "failed")}, true},
        {"two fields, one fails", {rule(FilterField::Class, "*calc*"), rule(FilterField::Thread, "1a5")}, false},
        {"a hide rule wins", {rule(FilterField::Class, "*"), rule(FilterField::Process, "2f0", false)}, false},
        {"a hide rule elsewhere", {rule(FilterField::Method, "Release", false)}, true},
        {"kind", {rule(FilterField::Kind, "create")}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(TraceFilter(c.rules).Passes(add, {}), c.passes) << c.what;

    TraceFilter kept({rule(FilterField::Class, "Calc*"), rule(FilterField::Method, "AddRef", false)});
    EXPECT_EQ(TraceFilter::FromText(kept.ToText() + "garbage line\nshow\tNoField\tx\n").Rules(), kept.Rules());
    EXPECT_EQ(kept.Describe(), "Class is Calc*; hide Method is AddRef");
}

TEST_F(FilterTest, FailedOnlyShowsExactlyTheFailedCallsWithTheirCallersHidden) {
    TraceFilter failed({{FilterField::Result, "failed", true}});
    options.Filter = &failed;
    Feed(Enter(1, "Outer", 1) + Enter(2, "Divide", 1) + Exit(3, 2, 1, static_cast<int32_t>(0x80020012)) +
         Enter(4, "Add", 1) + Exit(5, 4, 1) + Exit(6, 1, 1) + Enter(7, "QueryInterface", 1) +
         Exit(8, 7, 1, static_cast<int32_t>(0x80004002)));
    // The count of all events beside the nodes shown is the window test's ("Showing 3 of n events").
    ASSERT_TRUE(view.TakeRebuildDue()) << "results came after their calls were offered";
    EXPECT_EQ(Texts(view.RebuildTraceTree(options)),
              (std::vector<std::string>{"Divide <Calc(1)>  -> DISP_E_DIVBYZERO", "QueryInterface <Calc(1)>  -> E_NOINTERFACE"}));

    // Hiding a class hides what ran inside its calls, unless a show rule names it.
    TraceFilter hideOuter({{FilterField::Method, "Outer", false}});
    options.Filter = &hideOuter;
    EXPECT_EQ(Texts(view.RebuildTraceTree(options)), (std::vector<std::string>{"QueryInterface <Calc(1)>  -> E_NOINTERFACE"}));
    TraceFilter hideOuterShowDivide({{FilterField::Method, "Outer", false}, {FilterField::Method, "Divide", true},
                                     {FilterField::Method, "QueryInterface", true}});
    options.Filter = &hideOuterShowDivide;
    EXPECT_EQ(Texts(view.RebuildTraceTree(options)),
              (std::vector<std::string>{"Divide <Calc(1)>  -> DISP_E_DIVBYZERO", "QueryInterface <Calc(1)>  -> E_NOINTERFACE"}));
}

TEST_F(FilterTest, StatisticsCountCallsFailuresAndInstancesPerClassAndMethod) {
    reader.records[20] = {"", "Other", 1, "", "", {}};
    reader.records[21] = {"", "Calc", 1, "", "", {}};
    reader.records[22] = {"", "Calc", 2, "", "", {}};
    reader.records[23] = {"", "Calc", 1, "", "", {}};
    Feed(Desc(kRecordCreate, 0, 0, 21, 1, 100) + Desc(kRecordCreate, 0, 0, 22, 1, 100) + Enter(1, "Divide", 1) +
         Exit(2, 1, 1, static_cast<int32_t>(0x80020012)) + Enter(3, "Divide", 1) + Exit(4, 3, 1) +
         Enter(5, "Go", 1, "Other") + Desc(kRecordDestroy, 0, 0, 23, 1, 100) + Desc(kRecordCreate, 0, 0, 20, 1, 100));
    std::vector<StatisticsRow> rows = TraceStatistics(view.Records());
    auto text = [](const StatisticsRow& r) {
        return r.className + "|" + r.method + "|" + std::to_string(r.calls) + "|" + std::to_string(r.failed) + "|" +
               std::to_string(r.created) + "|" + std::to_string(r.left);
    };
    std::vector<std::string> got;
    for (const StatisticsRow& r : rows) got.push_back(text(r));
    EXPECT_EQ(got, (std::vector<std::string>{"Calc||2|1|2|1", "Calc|Divide|2|1|-1|-1", "Other||1|0|1|1", "Other|Go|1|0|-1|-1"}));
}

TEST(ResultLinesTest, NamedCodesShowNameFacilityAndTextUnknownOnesFacilityAndCode) {
    std::vector<std::string> named = ResultLines(static_cast<int32_t>(0x80070002));
    ASSERT_GE(named.size(), 2u);
    EXPECT_EQ(named[0], "               Name: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)");
    EXPECT_EQ(named[1], "               Facility: FACILITY_WIN32 (7), code: 2 (2h)");
    EXPECT_EQ(ResultLines(static_cast<int32_t>(0x80041234)),
              (std::vector<std::string>{"               Facility: FACILITY_ITF (4), code: 4660 (1234h)"}));
}

}  // namespace
