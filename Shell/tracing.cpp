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
constexpr long kTracerModeDynamic = 2;

struct CommandControls {
    TraceCommand command;
    const char* button;
    int menu;
};
constexpr CommandControls kCommandControls[] = {
    {TraceCommand::Com, "COM", mnuComponentList},     {TraceCommand::Run, "Run", mnuTracingStart},
    {TraceCommand::Stop, "Stop", mnuTracingStop},     {TraceCommand::Open, "Open", mnuTraceFileOpen},
    {TraceCommand::Save, "Save", mnuTraceFileSave},   {TraceCommand::Sett, "Sett", mnuOptionsSettings},
    {TraceCommand::Final, "Final", mnuEditFinal},
};

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

// A command arrives only while its control is enabled, whatever sent it.
bool MainWindow::TraceCommandAllowed(int id) const {
    if (ToolbarDispatch) {
        for (size_t i = 0; i < kToolbarButtonCount; ++i)
            if (kToolbarButtons[i].command == id)
                return ::SendMessageA(Toolbar1, TB_ISBUTTONENABLED, kToolbarBase + static_cast<int>(i), 0) != 0;
    }
    return (::GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
}

void MainWindow::SetTimer1(bool on) {
    if (on)
        ::SetTimer(hwnd_, kTimer1, kPollMs, nullptr);
    else
        ::KillTimer(hwnd_, kTimer1);
    timer1On_ = on;
}

TreeViewOptions MainWindow::ViewOptions() const {
    TreeViewOptions options;
    options.ShowIUnknown = settings_.ShowIUnknown;
    options.ShowIDispatch = settings_.ShowIDispatch;
    options.ShowUserMethods = settings_.ShowUserMethods;
    options.ShowBeyondCalls = settings_.ShowBeyondCalls;
    options.TreeIsExpanded = settings_.TreeIsExpanded;
    return options;
}

void MainWindow::ApplyCommandChanges(const CommandChanges& c) {
    for (const CommandControls& controls : kCommandControls) {
        const auto& on = c.enabled[static_cast<size_t>(controls.command)];
        if (!on) continue;
        SetButtonEnabled(controls.button, *on);
        SetMenuEnabled(controls.menu, *on);
    }
    if (c.runPressed) SetButtonPressed("Run", *c.runPressed);
    if (c.runImage) {
        int run = ToolbarIndex("Run");
        int image = *c.runImage == "Lamp" ? static_cast<int>(kToolbarButtonCount) : run;
        ::SendMessageA(Toolbar1, TB_CHANGEBITMAP, kToolbarBase + run, MAKELPARAM(image, 0));
    }
    if (c.runTooltip) runTooltip_ = *c.runTooltip;
    if (c.leftTitle) SetTitle(txtTreeViewTitle, *c.leftTitle);
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
    if (treeRedrawOff_) {
        TreeView1.SetRedraw(true);
        treeRedrawOff_ = false;
    }
    treeChanged_ = false;
    TreeView1.Clear();
    TreeView2.Clear();
    traceView_.ResetTraceView();
    PumpMessages();
}

void MainWindow::mnuTracingStart_Click() {
    if (!TracingRun::StartClickStartsTracing(ToolbarDispatch, ButtonPressed("Run"))) {
        SetButtonPressed("Run", true);  // the pressed button was clicked while tracing runs
        return;
    }
    SetButtonPressed("Run", true);
    StartTracing();
}

void MainWindow::StartTracing() {
    if (!reader_ || !readerTexts_) {
        SetButtonPressed("Run", false);
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
            if (decision.readerFault) SetPanelText("Status", kReaderFaultText);
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
    std::vector<TreeNode> nodes =
        traceView_.RegNewRecords(batch_.Bytes(), batch_.Length(), *readerTexts_, ViewOptions());
    batch_.array.reset();
    InsertTraceNodes(nodes);
    tracingRun_.EndBatch();
    ShowTraceProgress(false);
    PumpMessages();
}

// Painting stays off while batches go in: the tree view repaints (and
// scrolls) per insert otherwise, which costs milliseconds a node, and a
// repaint per batch of a few dozen records still costs more than the batch.
void MainWindow::InsertTraceNodes(const std::vector<TreeNode>& nodes) {
    if (nodes.empty()) return;
    if (!treeRedrawOff_) {
        TreeView1.SetRedraw(false);
        treeRedrawOff_ = true;
    }
    AddTraceNodes(nodes);
    treeChanged_ = true;
}

void MainWindow::AddTraceNodes(const std::vector<TreeNode>& nodes) {
    for (const TreeNode& node : nodes) {
        std::string parent = node.ParentKey();
        TreeView1.Add(parent, node.Key(), node.Text, kCallImage + static_cast<int>(node.Image), node.Expanded);
        if (!parent.empty() && TreeView1.IsExpanded(parent) != node.Expanded) TreeView1.Expand(parent, node.Expanded);
    }
}

// The tree painted once and scrolled once, and the counters, progress bar
// and panels brought up to date; without `now` at most every kShowMs.
void MainWindow::ShowTraceProgress(bool now) {
    DWORD tick = ::GetTickCount();
    if (!now && tick - lastShown_ < kShowMs) return;
    lastShown_ = tick;
    if (treeRedrawOff_) {
        TreeView1.SetRedraw(true);
        treeRedrawOff_ = false;
    }
    if (treeChanged_) {
        treeChanged_ = false;
        int32_t last = traceView_.Tree().AutoscrollNum(settings_.EnsureVisibleLastItem, settings_.TreeIsExpanded);
        if (last) TreeView1.EnsureVisible(NodeKey(last));
    }
    SetPanelText("Processed", traceView_.ProcessedText());
    if (settings_.Tree1Mode != kTraceFileMode) SetPanelText("Queued", traceView_.QueuedText());
    if (traceView_.LimitReached()) SetPanelText("Status", traceView_.LimitText());
    if (readingTraceFile_) {
        PlaceProgressBar();
        int32_t taken = traceView_.Records().RecordCount();
        if (progressMaximum_ >= taken) ::SendMessageA(prbarAmount, PBM_SETPOS, taken, 0);
    }
}

void MainWindow::AddFinalReportNode() {
    std::optional<TreeNode> node = traceView_.AddFinalReport(ViewOptions());
    if (!node) return;
    InsertTraceNodes({*node});
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
    }
    if (dispatch) ToolbarDispatch = false;
}

void MainWindow::RebuildTraceTree() {
    HCURSOR saved = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    TreeView1.SetRedraw(false);
    treeRedrawOff_ = treeChanged_ = false;
    TreeView1.Clear();
    TreeView2.Clear();
    std::vector<TreeNode> nodes = traceView_.RebuildTraceTree(ViewOptions(), readerTexts_.get());
    AddTraceNodes(nodes);
    if (!nodes.empty()) TreeView1.EnsureVisible(nodes.front().Key());
    TreeView1.SetRedraw(true);
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
