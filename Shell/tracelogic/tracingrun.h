// The tracing run's state and the command states around it: Start and Stop,
// the poll's decisions, the reader's events (StartOfProcess, NoActiveProcess,
// EndOfProcess), the reading of a saved trace, and the option commands held
// back while a batch is being worked off. Each step returns what the window
// must change; the window owns the controls and the reader.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace shell {

// A toolbar button together with its menu item; both always change together
// here.
enum class TraceCommand : size_t {
    Com,    // "COM", mnuComponentList
    Run,    // "Run", mnuTracingStart
    Stop,   // "Stop", mnuTracingStop
    Open,   // "Open", mnuTraceFileOpen
    Save,   // "Save", mnuTraceFileSave
    Sett,   // "Sett", mnuOptionsSettings
    Final,  // "Final", mnuEditFinal
};
constexpr size_t kTraceCommandCount = 7;

// What a step changes; unset members are left as they are.
struct CommandChanges {
    std::array<std::optional<bool>, kTraceCommandCount> enabled;
    std::optional<bool> runPressed;
    std::optional<std::string> runImage;    // "Run" or "Lamp"
    std::optional<std::string> runTooltip;  // "Start Tracing" or "Tracing in Progress"
    std::optional<std::string> leftTitle;   // txtTreeViewTitle
    std::optional<bool> timer;              // Timer1 enabled

    void Enable(TraceCommand c, bool on) { enabled[static_cast<size_t>(c)] = on; }
};

// The whole state of those controls, for whoever wants to mirror them.
struct CommandState {
    std::array<bool, kTraceCommandCount> enabled{};
    bool runPressed = false;
    std::string runImage = "Run";
    std::string runTooltip = "Start Tracing";
    std::string leftTitle;
    bool timer = false;

    bool IsEnabled(TraceCommand c) const { return enabled[static_cast<size_t>(c)]; }
    void Apply(const CommandChanges& changes);
};

// A step's changes and the window's other duties in it.
struct RunStep {
    CommandChanges commands;
    bool resetTraceView = false;         // ResetTraceView
    std::optional<bool> treeIsExpanded;  // Settings TreeIsExpanded
    bool disableGettingRecords = false;  // DisableGettingRecordsUntillNewProcess
    bool addFinalReport = false;         // add the FINAL REPORT node
};

// The option commands that rebuild or scroll the tree, in the order the poll
// runs them after a batch.
// Refilter: the filter or highlight rules changed; Renest: Nest by Arrival Order.
enum class OptionCommand { Autoscroll, ExpandAll, CollapseAll, ShowIUnknown, ShowIDispatch, Refilter, Renest };
constexpr size_t kOptionCommandCount = 7;

enum class PollAction {
    Return,      // nothing new: clear nothing more, wait for the next tick
    StopNow,     // run StopSequence (the batch of this call is dropped)
    PollAgain,   // the writer holds the map: let messages run and poll at once
    TakeBatch,   // take the batch (BeginBatch ... EndBatch), then poll again
};

// GetNewRecords in live mode: another live reader is attached to the trace
// (OTHER_TRACE_READER_ATTACHED); nothing is delivered to this one.
constexpr long kOtherTraceReaderAttached = -3;

struct PollDecision {
    PollAction action = PollAction::Return;
    CommandChanges commands;  // the first records of a process
    bool otherReaderAttached = false;  // tell the user; the poll goes on
    bool readerFault = false;  // records announced without a descriptor: tell the user, poll at the next tick
};

// The status text for a reader that announced records without descriptors.
constexpr char kReaderFaultText[] =
    "The trace reader announced new records but handed out none: their records stay in the trace files.";

class TracingRun {
public:
    // mnuTracingStart_Click: false when the click came through the toolbar on
    // the pressed "Run" button while tracing runs (press it again, no more).
    static bool StartClickStartsTracing(bool toolbarDispatch, bool runPressed) {
        return !(toolbarDispatch && !runPressed);
    }

    // What starting a run takes besides the reader: the run's state reset and
    // the settings applied, the reader given the status window and the live
    // mode, the view switched to the trace (Tree1Mode 2), then Timer1 enabled
    // as returned.
    RunStep StartTracing();
    // mnuTracingStop_Click.
    void RequestStop() { stopRequested_ = true; }

    // Timer1_Timer: false when a poll is already running (return at once).
    bool BeginPoll();
    // After each GetNewRecords of the poll, with the number of whole
    // descriptors its batch holds: a count without descriptors would have
    // the poll ask again for ever, so the poll ends there.
    PollDecision OnNewRecords(long recAmNew, long noRecordsBecauseLocked, size_t descriptors);
    // After PollAgain: how long to wait before asking again, in ms (0: yield
    // the processor once). A writer that holds the map for long, or died
    // holding it, must not keep a core busy: the first kLockedYieldMs of a
    // locked run only yield, later asks wait kLockedPauseMs.
    unsigned long LockedPauseMs(unsigned long nowMs);
    static constexpr unsigned long kLockedYieldMs = 20;
    static constexpr unsigned long kLockedPauseMs = 10;
    // The stop sequence; ends the poll.
    RunStep StopSequence();
    // A poll or a batch cut short by a failure (out of memory): the next tick
    // polls again, and option commands are no longer held back.
    void AbandonPoll();

    // Around RegNewRecords of one batch (live or from a file).
    void BeginBatch() { treeUpdateInProgress_ = true; }
    void EndBatch() { treeUpdateInProgress_ = false; }

    // The handler of an option command asks first: true to act now; false
    // when it is held back until the batch ends (twice held back, once run).
    bool RunOptionNow(OptionCommand command);
    // After a batch: the next held-back command, its flag cleared; the window
    // runs each in turn (with ToolbarDispatch set where SetsToolbarDispatch).
    std::optional<OptionCommand> TakeDeferredOption();
    static bool SetsToolbarDispatch(OptionCommand command);

    // The reader's events.
    RunStep StartOfProcess();
    RunStep NoActiveProcess();
    RunStep EndOfProcess();

    // ShowTraceFile: before the reading (after Timer1 is disabled), and when
    // it is over (`reachedEnd`: the reading ended at the file's end).
    RunStep BeginTraceFile();
    RunStep EndTraceFile(bool reachedEnd);

    bool PollBusy() const { return pollBusy_; }
    bool StopRequested() const { return stopRequested_; }
    bool RecordsSeen() const { return recordsSeen_; }
    bool TreeUpdateInProgress() const { return treeUpdateInProgress_; }

private:
    void ShowWaiting(CommandChanges* c) const;

    bool pollBusy_ = false;
    bool stopRequested_ = false;
    bool recordsSeen_ = false;
    bool treeUpdateInProgress_ = false;
    // The reader reported that no traced process is active since the last
    // StartOfProcess: records arriving now belong to an ended process.
    bool noActiveReported_ = false;
    bool locked_ = false;  // the last answers were "locked", since lockedSince_
    unsigned long lockedSince_ = 0;
    std::array<bool, kOptionCommandCount> deferred_{};
};

}  // namespace shell
