// Find and Copy, and the tracing run's command states: Start and Stop, the
// reader's events, a process shorter than one poll, option commands held
// back during a batch, and the reading of a saved trace.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tracelogic_fakes.h"

namespace {

using namespace shell;

// Find over a pane of numbered node texts.

class FindTest : public ::testing::Test {
protected:
    FindResult Next(const std::string& text, bool matchCase = false) {
        FindResult r = search.FindNext(text, matchCase, static_cast<int32_t>(nodes.size()), selected,
                                       [&](int32_t i) { return nodes[static_cast<size_t>(i) - 1]; });
        if (r.outcome == FindOutcome::Found) selected = r.index;
        return r;
    }

    std::vector<std::string> nodes;
    int32_t selected = 0;
    TraceSearch search;
};

TEST_F(FindTest, EveryMatchIsFoundOnceThenTheWholeTraceWasSearched) {
    nodes = {"x1", "a", "x3", "a", "a", "x6", "a", "x8"};
    selected = 4;
    std::vector<int32_t> found;
    for (int step = 0; step < 10; ++step) {
        FindResult r = Next("A");
        if (r.outcome != FindOutcome::Found) {
            EXPECT_EQ(r.outcome, FindOutcome::WholeTraceSearched);
            break;
        }
        found.push_back(r.index);
    }
    EXPECT_EQ(found, (std::vector<int32_t>{5, 7, 2, 4})) << "from the node after 4, round to 4 itself";
    EXPECT_EQ(Next("A").index, 5) << "the next step starts a new search";

    // From no selection the search covers 1..total (from the last node, and
    // Match Case, are the window test's).
    selected = 0;
    EXPECT_EQ(Next("x8").index, 8);
    EXPECT_EQ(Next("x8").outcome, FindOutcome::WholeTraceSearched);
    EXPECT_EQ(Next("nowhere").outcome, FindOutcome::NotFound);
}

TEST_F(FindTest, ANewTextOrAnotherSelectionStartsANewSearch) {
    nodes = {"a", "b", "a", "b", "a"};
    selected = 1;
    EXPECT_EQ(Next("a").index, 3);
    EXPECT_EQ(Next("b").index, 4) << "new text: from the selected node";
    selected = 1;  // the user clicked another node
    EXPECT_EQ(Next("b").index, 2);
    EXPECT_EQ(search.State().StartIndex, 1);

    nodes.clear();
    EXPECT_EQ(Next("a").outcome, FindOutcome::Nothing) << "an empty pane: no message";

    // The tree lost nodes in the middle of a search (a rebuild): the search
    // still ends, without reading past the pane.
    nodes = {"a", "b", "c", "d", "e", "f", "a"};
    selected = 6;
    EXPECT_EQ(Next("a").index, 7);
    nodes.resize(3);
    selected = 1;
    search.FindNext("a", false, 3, 1, [&](int32_t i) {
        EXPECT_LE(i, 3);
        return nodes[static_cast<size_t>(i) - 1];
    });
}

// The indent by level is the window test's (Copy from the report pane).
TEST(Copy, RightPaneLinesAreIndentedByLevelAndCollapsedBranchesLeftOut) {
    EXPECT_EQ(CopyPaneText({{1, "P", true},
                            {2, "T1", false},
                            {3, "hidden", true},
                            {4, "hidden too", true},
                            {2, "T2", true},
                            {3, "C", true},
                            {1, "Q", true}}),
              "P\r\n    T1\r\n    T2\r\n        C\r\nQ");
    EXPECT_EQ(CopyPaneText({}), "");
}

// The tracing run, driven as the window drives it.

class RunTest : public tl_test::ViewFixture {
protected:
    void Apply(const RunStep& step) {
        state.Apply(step.commands);
        if (step.resetTraceView) view.ResetTraceView();
        if (step.treeIsExpanded) options.TreeIsExpanded = *step.treeIsExpanded;
        if (step.disableGettingRecords) ++disabledGetting;
        if (step.addFinalReport) view.AddFinalReport(options);
    }
    bool Enabled(TraceCommand c) const { return state.IsEnabled(c); }

    // One call of GetNewRecords as the reader answers it: the events it
    // fires, then its records.
    struct Call {
        std::string events;  // S, N, E in firing order
        int records = 0;
        long locked = 0;
        int descriptors = -1;  // in the batch; -1: one per record
    };
    // Timer1_Timer, the window's loop around the run's decisions.
    void Tick() {
        if (!run.BeginPoll()) return;
        for (int guard = 0; guard < 100; ++guard) {
            Call call = script.empty() ? Call{} : script.front();
            if (!script.empty()) script.pop_front();
            for (char e : call.events) {
                if (e == 'S') Apply(run.StartOfProcess());
                if (e == 'N') Apply(run.NoActiveProcess());
                if (e == 'E') Apply(run.EndOfProcess());
            }
            PollDecision d = run.OnNewRecords(call.records, call.locked,
                                              static_cast<size_t>(call.descriptors < 0 ? call.records : call.descriptors));
            faults += d.readerFault;
            state.Apply(d.commands);
            if (d.action == PollAction::StopNow) {
                Apply(run.StopSequence());
                return;
            }
            if (d.action == PollAction::Return) return;
            if (d.action == PollAction::PollAgain) continue;
            std::string batch;
            for (int i = 0; i < call.records; ++i)
                batch += tl_test::Desc(kRecordCreate, 0, 0, static_cast<uint32_t>(100 + view.Records().RecordCount() + i), 1, 1);
            run.BeginBatch();
            Feed(batch);
            if (clickDuringBatch) clickDuringBatch();
            run.EndBatch();
            while (auto option = run.TakeDeferredOption()) ran.push_back(*option);
        }
        FAIL() << "the poll did not end";
    }

    TracingRun run;
    CommandState state;
    std::deque<Call> script;
    int disabledGetting = 0;
    int faults = 0;
    std::function<void()> clickDuringBatch;
    std::vector<OptionCommand> ran;
};

TEST_F(RunTest, StopIsPossibleOnlyWhileNoProcessRuns) {
    // Run pressed and Stop usable once tracing starts, and the reverse once it
    // stops, are the window test's (the toolbar and the menu).
    const CommandState before = state;
    Apply(run.StartTracing());
    EXPECT_NE(state.runImage, before.runImage);
    EXPECT_TRUE(state.timer);
    for (TraceCommand c : {TraceCommand::Com, TraceCommand::Open, TraceCommand::Save, TraceCommand::Sett,
                           TraceCommand::Final})
        EXPECT_FALSE(Enabled(c));

    script = {{"N", 0}};
    Tick();
    EXPECT_TRUE(Enabled(TraceCommand::Stop));

    // A process starts: the view is emptied and Stop taken away; its records
    // keep it away until the reader says no process is active.
    view.AddFinalReport(options);
    script = {{"S", 0}, {"", 3}, {"", 2}, {"", 0}};
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 0) << "StartOfProcess empties the view";
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 5) << "one tick drains every batch";
    EXPECT_FALSE(Enabled(TraceCommand::Stop));
    script = {{"N", 1}, {"", 0}};
    Tick();
    EXPECT_TRUE(Enabled(TraceCommand::Stop));
    script = {{"E", 0}};
    Tick();
    EXPECT_TRUE(Enabled(TraceCommand::Final));
    EXPECT_EQ(view.Tree().LastRootNodeIndex(), view.Tree().NodeCount());
    EXPECT_EQ(view.Records().RecordCount(), 7) << "six records and the report";

    // Stop: the next poll runs the stop sequence and fetches nothing more.
    run.RequestStop();
    script = {{"", 4}};
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 7) << "the batch of the stopping call is dropped";
    EXPECT_EQ(disabledGetting, 1);
    EXPECT_EQ(state.runImage + state.runTooltip, before.runImage + before.runTooltip) << "the Run button as at first";
    EXPECT_FALSE(state.timer);
    for (TraceCommand c : {TraceCommand::Com, TraceCommand::Open, TraceCommand::Save, TraceCommand::Sett})
        EXPECT_TRUE(Enabled(c));
    EXPECT_FALSE(run.PollBusy());
    EXPECT_FALSE(run.StopRequested());
}

TEST_F(RunTest, AProcessShorterThanOnePollNeverLeavesStopDisabled) {
    Apply(run.StartTracing());
    // Started with no client: the reader ends a run of nothing, which
    // reports nothing.
    script = {{"N", 0}, {"E", 0}};
    Tick();
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 0);
    EXPECT_FALSE(Enabled(TraceCommand::Final));
    EXPECT_TRUE(Enabled(TraceCommand::Stop));
    // Start and end seen in one call, before the run's first batch; its
    // records then arrive after NoActiveProcess, and the end after them.
    script = {{"SN", 0}, {"", 4}, {"", 0}, {"E", 0}};
    Tick();
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 4);
    EXPECT_TRUE(Enabled(TraceCommand::Stop)) << "late records of an ended process";
    Tick();
    EXPECT_TRUE(Enabled(TraceCommand::Stop));
    EXPECT_TRUE(Enabled(TraceCommand::Final));
    EXPECT_EQ(view.Tree().NumAt(view.Tree().NodeCount()), FinalReportNum);

    // Whatever took Stop away, the reader's end gives it back.
    Apply(run.StartOfProcess());
    EXPECT_FALSE(Enabled(TraceCommand::Stop));
    Apply(run.EndOfProcess());
    EXPECT_TRUE(Enabled(TraceCommand::Stop));

    // Stopped before the end was reported: no report node.
    Apply(run.StartOfProcess());
    run.RequestStop();
    RunStep end = run.EndOfProcess();
    EXPECT_FALSE(end.addFinalReport);
}

TEST_F(RunTest, PollsDoNotOverlapAndALockedMapIsAskedAgainAtOnce) {
    Apply(run.StartTracing());
    EXPECT_TRUE(run.BeginPoll());
    EXPECT_FALSE(run.BeginPoll()) << "a tick during a running poll returns";
    EXPECT_EQ(run.OnNewRecords(0, 1, 0).action, PollAction::PollAgain);
    EXPECT_TRUE(run.PollBusy());
    EXPECT_EQ(run.OnNewRecords(0, 0, 0).action, PollAction::Return);
    EXPECT_FALSE(run.PollBusy());
    EXPECT_TRUE(run.BeginPoll());
    PollDecision other = run.OnNewRecords(kOtherTraceReaderAttached, 0, 0);
    EXPECT_EQ(other.action, PollAction::Return);
    EXPECT_TRUE(other.otherReaderAttached);
    EXPECT_FALSE(run.PollBusy());

    script = {{"", 0, 1}, {"", 0, 1}, {"S", 2}, {"", 0}};
    Tick();
    EXPECT_EQ(view.Records().RecordCount(), 2);
    EXPECT_TRUE(script.empty());
    EXPECT_FALSE(Enabled(TraceCommand::Stop));
}

// A reader that keeps announcing records it does not hand out, and a map
// that stays locked: each tick ends (the reader's fault told once a tick),
// and a long locked run waits between asks instead of spinning.
TEST_F(RunTest, AReaderAnnouncingRecordsWithoutDescriptorsOrALockedMapNeverHoldsThePoll) {
    Apply(run.StartTracing());
    for (int tick = 0; tick < 3; ++tick) {
        script = {{"", 5, 0, 0}, {"", 5, 0, 0}};
        Tick();
        EXPECT_EQ(1u, script.size()) << "the poll ends at the first empty answer";
    }
    EXPECT_EQ(3, faults);
    EXPECT_EQ(0, view.Records().RecordCount());
    script = {{"", 1}, {"", 0}};
    Tick();
    EXPECT_EQ(1, view.Records().RecordCount()) << "a good answer later is taken";

    struct Ask {
        unsigned long now;
        bool locked;
        unsigned long pause;  // after a locked answer
    } asks[] = {{1000, true, 0}, {1010, true, 0}, {1019, true, 0}, {1020, true, TracingRun::kLockedPauseMs},
                {5000, true, TracingRun::kLockedPauseMs}, {5001, false, 0}, {5002, true, 0}, {5030, true, TracingRun::kLockedPauseMs}};
    // A poll cut short by a failure leaves the next tick free to poll.
    ASSERT_TRUE(run.BeginPoll());
    run.BeginBatch();
    run.AbandonPoll();
    EXPECT_FALSE(run.TreeUpdateInProgress());
    EXPECT_TRUE(run.RunOptionNow(OptionCommand::ExpandAll)) << "options are no longer held back";
    ASSERT_TRUE(run.BeginPoll()) << "the next tick polls";
    for (const Ask& a : asks) {
        PollDecision d = run.OnNewRecords(0, a.locked ? 1 : 0, 0);
        if (!a.locked) {
            EXPECT_EQ(PollAction::Return, d.action);
            ASSERT_TRUE(run.BeginPoll());
            continue;
        }
        EXPECT_EQ(PollAction::PollAgain, d.action);
        EXPECT_EQ(a.pause, run.LockedPauseMs(a.now)) << "at " << a.now;
    }
}

TEST_F(RunTest, OptionCommandsDuringABatchRunOnceAfterIt) {
    Apply(run.StartTracing());
    EXPECT_TRUE(run.RunOptionNow(OptionCommand::ExpandAll)) << "no batch: at once";
    clickDuringBatch = [&] {
        EXPECT_FALSE(run.RunOptionNow(OptionCommand::ShowIDispatch));
        EXPECT_FALSE(run.RunOptionNow(OptionCommand::ExpandAll));
        EXPECT_FALSE(run.RunOptionNow(OptionCommand::ExpandAll));
        EXPECT_FALSE(run.RunOptionNow(OptionCommand::Autoscroll));
    };
    script = {{"S", 3}, {"", 0}};
    Tick();
    EXPECT_EQ(ran, (std::vector<OptionCommand>{OptionCommand::Autoscroll, OptionCommand::ExpandAll,
                                               OptionCommand::ShowIDispatch}))
        << "each once, in the fixed order, none left waiting for another batch";
    EXPECT_TRUE(run.RunOptionNow(OptionCommand::ExpandAll));
}

TEST_F(RunTest, ReadingASavedTraceCanBeStoppedAndEndsWithTheReport) {
    // A file opened replaces the trace shown with a collapsed tree: the window test's (an opened trace).
    Apply(run.BeginTraceFile());
    EXPECT_TRUE(Enabled(TraceCommand::Stop));
    EXPECT_FALSE(Enabled(TraceCommand::Open));
    EXPECT_FALSE(state.timer);
    // The states once the file is read are the window tests' (an opened trace).

    Apply(run.BeginTraceFile());
    run.RequestStop();
    RunStep end = run.EndTraceFile(true);
    EXPECT_FALSE(end.addFinalReport) << "stopped by the user";
    EXPECT_FALSE(run.StopRequested()) << "a later start does not stop at once";
}

}  // namespace
