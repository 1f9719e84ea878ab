// The tracing run in the window: Start and Stop, the 100 ms poll that drains
// the reader's batches, the reader's events, and the trace tree's nodes added
// batch by batch with painting off.
#include "commands.h"
#include "mainwindow.h"
#include "textconv.h"
#include "tracemap.h"

namespace shell {
namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kPollMs = 100;
constexpr DWORD kShowMs = 100;  // the view is never further behind than one poll
// A showing of a big tree costs the control a pass over all its items: the
// next one waits this many times as long as the last one took, so that
// showing stays a fixed share of reading a saved trace of any size.
constexpr DWORD kShowCostFactor = 4;
constexpr long kTracerModeDynamic = 2;

// The menu command of each TraceCommand, in its order (its button follows it).
constexpr Command kTraceCommands[kTraceCommandCount] = {mnuComponentList, mnuTracingStart,   mnuTracingStop,
                                                        mnuTraceFileOpen, mnuTraceFileSave,  mnuOptionsSettings,
                                                        mnuEditFinal};

constexpr char kOtherReaderMessage[] =
    "Another program is reading the trace right now (only one trace reader can follow it), so tracing was not "
    "started.\r\nClose that program, then start tracing again.";

}  // namespace

void MainWindow::InitTraceSide() {
    // The kernel's notification target: a hidden box whose text changes are
    // ignored, records being fetched only by the poll.
    txtHappened = ::CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 0, 0, hwnd_, nullptr, instance_, nullptr);
    if (!reader_) return;
    readerTexts_ = std::make_unique<ReaderTexts>(reader_.get());
    traceEvents_.advise(reader_.get(), DIID_ITraceReaderEvents, &traceSink_);
}

void MainWindow::CloseTraceSide() {
    SetTimer1(false);
    batch_.array.reset();
    traceEvents_.reset();
    readerTexts_.reset();
    traceMap_.reset();
}

void MainWindow::SetTimer1(bool on) {
    if (on)
        ::SetTimer(hwnd_, kTimer1, kPollMs, nullptr);
    else
        ::KillTimer(hwnd_, kTimer1);
    timer1On_ = on;
}

TreeViewOptions MainWindow::ViewOptions() {
    TreeViewOptions options;
    options.ShowIUnknown = settings_.ShowIUnknown;
    options.ShowIDispatch = settings_.ShowIDispatch;
    options.ShowUserMethods = settings_.ShowUserMethods;
    options.ShowBeyondCalls = settings_.ShowBeyondCalls;
    options.TreeIsExpanded = settings_.TreeIsExpanded;
    options.Filter = &filter_;
    options.Highlight = &highlight_;
    options.InterfaceOf = [this](const RecInfo& r) { return InterfaceOf(r.Num); };
    return options;
}

void MainWindow::ApplyCommandChanges(const CommandChanges& c) {
    for (size_t i = 0; i < kTraceCommandCount; ++i)
        if (c.enabled[i]) bar_.Enable(kTraceCommands[i], *c.enabled[i]);
    // Export and Compare With work on the trace Save would save.
    if (const auto& save = c.enabled[static_cast<size_t>(TraceCommand::Save)]) {
        bar_.Enable(mnuTraceFileExport, *save);
        bar_.Enable(mnuTraceFileCompare, *save);
    }
    if (c.runPressed) bar_.Press(Button::Run, *c.runPressed);
    if (c.runImage) bar_.ShowRunLamp(*c.runImage == "Lamp");
    if (c.runTooltip) bar_.SetRunTooltip(*c.runTooltip);
    if (c.leftTitle) ::SetWindowTextA(txtTreeViewTitle, c.leftTitle->c_str());
    if (c.timer) SetTimer1(*c.timer);
}

void MainWindow::ApplyRunStep(const RunStep& step) {
    if (step.resetTraceView) ResetTraceView();
    if (step.treeIsExpanded) settings_.TreeIsExpanded = *step.treeIsExpanded;
    if (step.disableGettingRecords && reader_) reader_->DisableGettingRecordsUntillNewProcess();
    ApplyCommandChanges(step.commands);
    if (step.addFinalReport) AddFinalReportNode();
}

void MainWindow::ResetTraceView() {
    tracePane_.Clear();
    details_.Tree().Clear();
    traceView_.ResetTraceView();
    PumpMessages();
}

void MainWindow::mnuTracingStart_Click() {
    if (!TracingRun::StartClickStartsTracing(ToolbarDispatch, bar_.Pressed(Button::Run))) {
        bar_.Press(Button::Run, true);  // the pressed button was clicked while tracing runs
        return;
    }
    bar_.Press(Button::Run, true);
    StartTracing();
}

void MainWindow::StartTracing() {
    if (!reader_ || !readerTexts_) {
        bar_.Press(Button::Run, false);
        return;
    }
    readerTexts_->Diagn("*** Tracing ***");
    SetTimer1(false);
    // The map lives only while some process holds it: a client that starts
    // and ends between two polls would take it, and where its records are,
    // along. The kernel sets up a map it finds without live processes.
    if (!traceMap_)
        traceMap_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, vx::kTraceMapSize,
                                             vx::kTraceMapName));
    RunStep step = tracingRun_.StartTracing();
    std::optional<bool> timer = step.commands.timer;
    step.commands.timer.reset();
    ApplyRunStep(step);
    if (!reader_) return;  // the window closed while messages ran
    reader_->put_StatHWND(static_cast<long>(reinterpret_cast<LONG_PTR>(txtHappened)));
    reader_->put_Mode(kTracerModeDynamic);
    settings_.Tree1Mode = kTracingMode;
    ApplyTree1Mode();
    if (timer) SetTimer1(*timer);
    readerTexts_->Diagn("   *** Tracing ***");
}

void MainWindow::Timer1_Timer() {
    // The exit stops the run before it waits for the reader: no poll then.
    if (closing_ || !reader_ || !readerTexts_ || !tracingRun_.BeginPoll()) return;
    for (;;) {
        HRESULT hr = batch_.Poll(reader_.get());
        traceView_.SetRealLastRecord(batch_.RealLastRecord);
        if (FAILED(hr)) batch_.RecAmNew = batch_.NoRecordsBecauseLocked = 0;
        PollDecision decision = tracingRun_.OnNewRecords(batch_.RecAmNew, batch_.NoRecordsBecauseLocked,
                                                         batch_.Length() / kDescriptorSize);
        switch (decision.action) {
        case PollAction::StopNow:
            batch_.array.reset();
            ShowTraceProgress(true);
            ApplyRunStep(tracingRun_.StopSequence());
            PumpMessages();
            CloseIfRequested();
            return;
        case PollAction::Return:
            batch_.array.reset();
            ShowTraceProgress(true);
            if (decision.readerFault) status_.SetText("Status", kReaderFaultText);
            if (decision.otherReaderAttached) {
                // Idle again before telling, so that no tick polls behind the message box.
                ApplyRunStep(tracingRun_.StopSequence());
                ::MessageBoxA(hwnd_, kOtherReaderMessage, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
            }
            CloseIfRequested();
            return;
        case PollAction::PollAgain:
            PumpMessages();
            if (unsigned long pause = tracingRun_.LockedPauseMs(::GetTickCount()))
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, pause, QS_ALLINPUT);  // input still wakes it
            else
                ::SwitchToThread();
            break;
        case PollAction::TakeBatch:
            if (decision.commands.enabled[static_cast<size_t>(TraceCommand::Stop)]) {
                ApplyCommandChanges(decision.commands);
                PumpMessages();
            }
            TakeBatch();
            RunDeferredOption();
            break;
        }
        if (gate_.CloseRequested() || closing_) tracingRun_.RequestStop();
    }
}

// RegNewRecords for the batch in batch_: the records taken and their nodes
// inserted; the tree is shown at most every kShowMs while batches follow.
void MainWindow::TakeBatch() {
    tracingRun_.BeginBatch();
    TreeViewOptions options = ViewOptions();
    std::vector<TreeNode> nodes = traceView_.RegNewRecords(batch_.Bytes(), batch_.Length(), *readerTexts_, options);
    batch_.array.reset();
    tracePane_.Insert(nodes);
    tracePane_.Update(traceView_.TakeChangedNodes(options));
    tracingRun_.EndBatch();
    // Results that change what a filter on results shows: the tree anew,
    // once the file is read, or now.
    if (traceView_.TakeRebuildDue()) {
        if (readingTraceFile_) rebuildAfterFile_ = true;
        else RebuildTraceTree();
    }
    ShowTraceProgress(false);
    PumpMessages();
}

// The tree painted once and scrolled once, and the counters, progress bar
// and panels brought up to date; without `now` at most every kShowMs.
void MainWindow::ShowTraceProgress(bool now) {
    DWORD tick = ::GetTickCount();
    if (!now && tick - lastShown_ < std::max(kShowMs, kShowCostFactor * showCost_)) return;
    if (tracePane_.Paint()) {
        int32_t last = traceView_.Tree().AutoscrollNum(settings_.EnsureVisibleLastItem, settings_.TreeIsExpanded);
        if (last) tracePane_.Tree().EnsureVisible(NodeKey(last));
        ::UpdateWindow(tracePane_.hwnd());  // painted now, so that its cost is counted
    }
    status_.SetText("Processed", traceView_.ProcessedText(filter_.Active()));
    if (settings_.Tree1Mode != kTraceFileMode) status_.SetText("Queued", traceView_.QueuedText());
    if (traceView_.LimitReached()) status_.SetText("Status", traceView_.LimitText());
    if (readingTraceFile_) status_.Progress(traceView_.Records().RecordCount());
    lastShown_ = ::GetTickCount();
    showCost_ = lastShown_ - tick;
}

void MainWindow::AddFinalReportNode() {
    std::optional<TreeNode> node = traceView_.AddFinalReport(ViewOptions());
    if (!node) return;
    tracePane_.Insert({*node});
    ShowTraceProgress(true);
}

void MainWindow::RunDeferredOption() {
    std::optional<OptionCommand> command = tracingRun_.TakeDeferredOption();
    if (!command) return;
    bool dispatch = TracingRun::SetsToolbarDispatch(*command);
    if (dispatch) ToolbarDispatch = true;
    switch (*command) {
    case OptionCommand::Autoscroll: mnuOptionsAutoscroll_Click(); break;
    case OptionCommand::ExpandAll: mnuOptionsExpandAll_Click(); break;
    case OptionCommand::CollapseAll: mnuOptionsCollapseAll_Click(); break;
    case OptionCommand::ShowIUnknown: mnuOptionsShowIUnknown_Click(); break;
    case OptionCommand::ShowIDispatch: mnuOptionsShowIDispatch_Click(); break;
    case OptionCommand::Refilter: Refilter(); break;
    case OptionCommand::Renest: mnuOptionsNestByArrival_Click(); break;
    }
    if (dispatch) ToolbarDispatch = false;
}

void MainWindow::RebuildTraceTree() {
    HCURSOR saved = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    details_.Tree().Clear();
    tracePane_.Rebuild(traceView_.RebuildTraceTree(ViewOptions(), readerTexts_.get()));
    ::SetCursor(saved);
}

void MainWindow::SetTreeExpansion(bool expanded) {
    bool polling = timer1On_;
    SetTimer1(false);
    settings_.TreeIsExpanded = expanded;
    RebuildTraceTree();
    if (polling) SetTimer1(true);
}

void MainWindow::mnuOptionsExpandAll_Click() {
    if (tracingRun_.RunOptionNow(OptionCommand::ExpandAll)) SetTreeExpansion(true);
}

void MainWindow::mnuOptionsCollapseAll_Click() {
    if (tracingRun_.RunOptionNow(OptionCommand::CollapseAll)) SetTreeExpansion(false);
}

void MainWindow::Tracer_StartOfProcess() { ApplyRunStep(tracingRun_.StartOfProcess()); }

void MainWindow::Tracer_NoActiveProcess() { ApplyRunStep(tracingRun_.NoActiveProcess()); }

void MainWindow::Tracer_EndOfProcess() { ApplyRunStep(tracingRun_.EndOfProcess()); }

void MainWindow::Tracer_TraceError(const std::string& message) {
    ::MessageBoxA(hwnd_, message.c_str(), kAppTitle, MB_OK);
}

}  // namespace shell
