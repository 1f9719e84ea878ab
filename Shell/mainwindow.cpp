// The main window's procedure: commands, notifications, the splitter drag.
#include "mainwindow.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "commands.h"

namespace shell {

bool MainWindow::Create(HINSTANCE instance, const std::string& commandLine) {
    instance_ = instance;
    commandLine_ = commandLine;
    WNDCLASSEXA cls = {};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kMainWindowClass;
    cls.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (!::RegisterClassExA(&cls)) return false;
    dpi_ = ::GetDeviceCaps(vx::window_dc().get(), LOGPIXELSX);
    if (dpi_ <= 0) dpi_ = 96;
    hwnd_ = ::CreateWindowExA(0, kMainWindowClass, kAppTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                              CW_USEDEFAULT, Px(12000), Px(8000), nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindow* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    // Nothing may unwind through the system's frames: a command that runs
    // out of memory (a huge trace on a 32-bit system) is reported and the
    // window goes on.
    try {
        return self->Handle(message, wParam, lParam);
    } catch (const std::bad_alloc&) {
        self->ReportFailure("Vexilo ran out of memory; the command was not completed.");
    } catch (const std::exception& e) {
        self->ReportFailure(std::string("The command failed: ") + e.what());
    }
    return 0;
}

void MainWindow::ReportFailure(const std::string& text) {
    // What was cut short leaves no guard set behind it: the poll, a reading,
    // a click's fill and a hook can all run again.
    tracingRun_.AbandonPoll();
    readingTraceFile_ = false;
    NodeClickBusy = false;
    HookingInProgress = false;
    tracePane_.Paint();
    details_.Tree().SetRedraw(true);
    status_.EndProgress();
    // The status bar needs no memory of its own; a message box might.
    status_.SetText("Status", text);
    ::MessageBeep(MB_ICONERROR);
}

const MainWindow::Route* MainWindow::RouteOf(int command) {
    static const Route kRoutes[] = {
        {mnuComponentList, &MainWindow::mnuComponentList_Click, false, true},
        {mnuComponentHookUnhook, &MainWindow::HookUnhook, false, true},
        {mnuHookUnhook, &MainWindow::HookUnhook, false, true},
        {mnuComponentViewTypeLib, &MainWindow::ViewTypeLib, false, true},
        {mnuViewTypeLib, &MainWindow::ViewTypeLib, false, true},
        {mnuComponentExit, &MainWindow::mnuComponentExit_Click, false, false},
        {mnuTracingStart, &MainWindow::mnuTracingStart_Click, true, true},
        {mnuTracingStop, &MainWindow::mnuTracingStop_Click, true, false},
        {mnuTraceFileOpen, &MainWindow::mnuTraceFileOpen_Click, true, true},
        {mnuTraceFileSave, &MainWindow::mnuTraceFileSave_Click, true, true},
        {mnuTraceFileExport, &MainWindow::mnuTraceFileExport_Click, true, true},
        {mnuTraceFileCompare, &MainWindow::mnuTraceFileCompare_Click, true, true},
        {mnuEditFont, &MainWindow::mnuEditFont_Click, false, true},
        {mnuEditFind, &MainWindow::mnuEditFind_Click, true, false},
        {mnuEditFindNext, &MainWindow::mnuEditFindNext_Click, true, false},
        {mnuEditCopy, &MainWindow::mnuEditCopy_Click, true, false},
        {mnuEditFinal, &MainWindow::mnuEditFinal_Click, true, true},
        {mnuEditFilter, &MainWindow::mnuEditFilter_Click, true, true},
        {mnuEditHighlight, &MainWindow::mnuEditHighlight_Click, true, true},
        {mnuEditResetFilter, &MainWindow::mnuEditResetFilter_Click, true, false},
        {mnuEditStatistics, &MainWindow::mnuEditStatistics_Click, true, false},
        {mnuOptionsAlwaysOnTop, &MainWindow::mnuOptionsAlwaysOnTop_Click, false, false},
        {mnuOptionsAutoscroll, &MainWindow::mnuOptionsAutoscroll_Click, false, false},
        {mnuOptionsExpandAll, &MainWindow::mnuOptionsExpandAll_Click, true, false},
        {mnuOptionsCollapseAll, &MainWindow::mnuOptionsCollapseAll_Click, true, false},
        {mnuOptionsShowIUnknown, &MainWindow::mnuOptionsShowIUnknown_Click, false, false},
        {mnuOptionsShowIDispatch, &MainWindow::mnuOptionsShowIDispatch_Click, false, false},
        {mnuOptionsSettings, &MainWindow::mnuOptionsSettings_Click, false, true},
        {mnuOptionsNestByArrival, &MainWindow::mnuOptionsNestByArrival_Click, false, false},
        {mnuShowOnlyClass, &MainWindow::ContextRuleOf<mnuShowOnlyClass>, false, false},
        {mnuShowOnlyMethod, &MainWindow::ContextRuleOf<mnuShowOnlyMethod>, false, false},
        {mnuShowOnlyThread, &MainWindow::ContextRuleOf<mnuShowOnlyThread>, false, false},
        {mnuShowOnlyProcess, &MainWindow::ContextRuleOf<mnuShowOnlyProcess>, false, false},
        {mnuHideClass, &MainWindow::ContextRuleOf<mnuHideClass>, false, false},
        {mnuHideMethod, &MainWindow::ContextRuleOf<mnuHideMethod>, false, false},
        {mnuShowFailedOnly, &MainWindow::ContextRuleOf<mnuShowFailedOnly>, false, false},
        {mnuHelpHelp, &MainWindow::mnuHelpHelp_Click, false, false},
        {mnuHelpAbout, &MainWindow::mnuHelpAbout_Click, false, true},
    };
    for (const Route& route : kRoutes)
        if (route.command == command) return &route;
    return nullptr;
}

void MainWindow::RunCommand(int id, bool fromToolbar, const WaitingCommand& message) {
    if (closing_) return;
    const ToolbarButton* button = ButtonOfId(id);
    const Route* route = RouteOf(button ? button->command : id);
    if (!gate_.Arrive(route && route->waits, message)) return;
    gate_.Enter();
    vx::scope_exit leave([&] { EndCommand(); });
    OnCommand(id, fromToolbar);
}

void MainWindow::EndCommand() {
    for (const WaitingCommand& waiting : gate_.Leave())
        ::PostMessageA(hwnd_, WM_COMMAND, waiting.wParam, waiting.lParam);
    CloseIfRequested();
}

void MainWindow::CloseIfRequested() {
    if (gate_.TakeDueClose(!tracingRun_.PollBusy() && !readingTraceFile_)) ::PostMessageA(hwnd_, WM_CLOSE, 0, 0);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_SIZE:
        Form_Resize();
        return 0;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        bool fromToolbar = bar_.toolbar() && reinterpret_cast<HWND>(lParam) == bar_.toolbar();
        RunCommand(id, fromToolbar, {wParam, lParam});
        return 0;
    }
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_APP + WM_LBUTTONDOWN:
    case WM_APP + WM_MOUSEMOVE:
    case WM_APP + WM_LBUTTONUP:
        OnSplitter(message - WM_APP, lParam);
        return 0;
    case kQueryMenuState:
        return static_cast<LRESULT>(bar_.MenuState(static_cast<UINT>(wParam)));
    case TracePane::kClickedTree:
        OnNotice(tracePane_.OnClickedTree(wParam));
        return 0;
    case kQueryQuickHelp:
        return details_.QuickHelpShown() ? 1 : 0;
    case WM_COPYDATA: {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || data->dwData != kNextTraceFilePath || !data->lpData || data->cbData == 0) return FALSE;
        const char* path = static_cast<const char*>(data->lpData);
        nextTraceFilePath_.assign(path, strnlen(path, data->cbData));
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == 1) Timer1_Timer();
        return 0;
    case WM_CLOSE:
        if (closing_) return 0;
        if (gate_.Running() || tracingRun_.PollBusy() || readingTraceFile_) {
            // A command, the poll or a reading is further up this stack and
            // uses the reader: it ends (a poll or reading stops), then the
            // window closes.
            gate_.RequestClose();
            if (tracingRun_.PollBusy() || readingTraceFile_) tracingRun_.RequestStop();
            return 0;
        }
        closing_ = true;
        Form_Unload();
        ::DestroyWindow(hwnd_);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends: the process may be ended as soon as this returns,
        // so the exit's duties run now, within the system's time.
        if (wParam && !closing_) {
            closing_ = true;
            SaveAndUnhook(kSessionEndWaitMs, false);  // a session's end allows no message box
        }
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, bool fromToolbar) {
    if (const ToolbarButton* button = ButtonOfId(id)) {
        PumpMessages();
        ToolbarDispatch = true;
        OnCommand(button->command, false);
        ToolbarDispatch = false;
        return;
    }
    if (fromToolbar) return;  // an id outside the button table
    const Route* route = RouteOf(id);
    if (!route || (route->whileEnabled && !bar_.Allows(id, ToolbarDispatch))) return;
    (this->*route->handler)();
}

void MainWindow::mnuComponentExit_Click() { ::PostMessageA(hwnd_, WM_CLOSE, 0, 0); }

void MainWindow::mnuTracingStop_Click() { tracingRun_.RequestStop(); }

LRESULT MainWindow::OnNotify(NMHDR* header) {
    if (bar_.OnTooltip(header)) return 0;
    if (header->hwndFrom == tracePane_.hwnd()) {
        LRESULT result = 0;
        OnNotice(tracePane_.OnNotify(header, &result));
        return result;
    }
    if (header->hwndFrom == details_.hwnd() && header->code == NM_CUSTOMDRAW)
        return details_.Tree().OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
    return 0;
}

void MainWindow::OnNotice(const PaneNotice& notice) {
    switch (notice.kind) {
    case PaneNotice::kNone:
        return;
    case PaneNotice::kSelected:
    case PaneNotice::kRightClicked:
        TreeView1_NodeClick(notice.key, notice.kind == PaneNotice::kRightClicked);
        return;
    case PaneNotice::kDoubleClicked:
        RunCommand(mnuComponentHookUnhook, false, {static_cast<WPARAM>(mnuComponentHookUnhook), 0});
        return;
    }
}

}  // namespace shell
