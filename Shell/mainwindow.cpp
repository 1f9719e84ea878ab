// The main window's procedure: commands, notifications, the splitter drag.
#include "mainwindow.h"

#include <windowsx.h>

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
    if (treeRedrawOff_) {
        TreeView1.SetRedraw(true);
        treeRedrawOff_ = false;
    }
    TreeView2.SetRedraw(true);
    ::ShowWindow(prbarAmount, SW_HIDE);
    // The status bar needs no memory of its own; a message box might.
    SetPanelText("Status", text);
    ::MessageBeep(MB_ICONERROR);
}

void MainWindow::RunCommand(int id, bool fromToolbar, const WaitingCommand& message) {
    if (closing_) return;
    int command = id;
    int index = id - kToolbarBase;
    if (index >= 0 && index < static_cast<int>(kToolbarButtonCount)) command = kToolbarButtons[index].command;
    if (!gate_.Arrive(command, message)) return;
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
        bool fromToolbar = reinterpret_cast<HWND>(lParam) == Toolbar1 && Toolbar1;
        RunCommand(id, fromToolbar, {wParam, lParam});
        return 0;
    }
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_APP + WM_LBUTTONDOWN:
        // Splitter drag: the strip turns grey while it moves.
        SplitterMoving = true;
        ::SetCapture(picSplitter);
        ::SetClassLongPtrA(picSplitter, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(::GetStockObject(GRAY_BRUSH)));
        ::InvalidateRect(picSplitter, nullptr, TRUE);
        return 0;
    case WM_APP + WM_MOUSEMOVE:
        if (SplitterMoving) {
            RECT window;
            ::GetWindowRect(hwnd_, &window);
            double p = layout_.splitter.left + Tw(GET_X_LPARAM(lParam));
            layout_.splitter.left = ClampSplitter(p, Tw(window.right - window.left));
            // Only the strip moves; the panes follow on release.
            ::MoveWindow(picSplitter, Px(layout_.splitter.left), Px(layout_.splitter.top), Px(layout_.splitter.width),
                         Px(layout_.splitter.height), TRUE);
        }
        return 0;
    case WM_APP + WM_LBUTTONUP:
        if (SplitterMoving) {
            ::ReleaseCapture();
            splitterLeft_ = layout_.splitter.left;
            RECT client;
            ::GetClientRect(hwnd_, &client);
            SizeControls(layout_, splitterLeft_, Tw(client.right));
            ApplyLayout(layout_);
            ::SetClassLongPtrA(picSplitter, GCLP_HBRBACKGROUND, COLOR_BTNFACE + 1);
            ::InvalidateRect(picSplitter, nullptr, TRUE);
            SplitterMoving = false;
        }
        return 0;
    case kQueryMenuState:
        return static_cast<LRESULT>(::GetMenuState(menu_, static_cast<UINT>(wParam), MF_BYCOMMAND));
    case kClickedTree:
        if (wParam == selectionChanges_) {
            if (HTREEITEM selected = TreeView_GetSelection(hwndTree1))
                TreeView1_NodeClick(TreeView1.KeyOf(selected), false);
        }
        clickSelected_ = nullptr;
        return 0;
    case kQueryQuickHelp:
        return quickHelpShown_ ? 1 : 0;
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
    if (fromToolbar || (id >= kToolbarBase && id < kToolbarBase + static_cast<int>(kToolbarButtonCount))) {
        int index = id - kToolbarBase;
        if (index < 0 || index >= static_cast<int>(kToolbarButtonCount)) return;  // a key outside the table
        PumpMessages();
        ToolbarDispatch = true;
        OnCommand(kToolbarButtons[index].command, false);
        ToolbarDispatch = false;
        return;
    }
    switch (id) {
    case mnuComponentList: mnuComponentList_Click(); break;
    case mnuComponentHookUnhook:
    case mnuHookUnhook: HookUnhook(); break;
    case mnuComponentViewTypeLib:
    case mnuViewTypeLib: ViewTypeLib(); break;
    case mnuComponentExit: ::PostMessageA(hwnd_, WM_CLOSE, 0, 0); break;
    case mnuOptionsAlwaysOnTop: mnuOptionsAlwaysOnTop_Click(); break;
    case mnuOptionsAutoscroll: mnuOptionsAutoscroll_Click(); break;
    case mnuOptionsShowIUnknown: mnuOptionsShowIUnknown_Click(); break;
    case mnuOptionsShowIDispatch: mnuOptionsShowIDispatch_Click(); break;
    case mnuOptionsSettings: mnuOptionsSettings_Click(); break;
    case mnuHelpHelp: mnuHelpHelp_Click(); break;
    case mnuHelpAbout: mnuHelpAbout_Click(); break;
    case mnuEditFind:
        if (TraceCommandAllowed(id)) mnuEditFind_Click();
        break;
    case mnuEditFindNext:
        if (TraceCommandAllowed(id)) mnuEditFindNext_Click();
        break;
    case mnuEditCopy:
        if (TraceCommandAllowed(id)) mnuEditCopy_Click();
        break;
    case mnuEditFont: mnuEditFont_Click(); break;
    case mnuTracingStart:
        if (TraceCommandAllowed(id)) mnuTracingStart_Click();
        break;
    case mnuTracingStop:
        if (TraceCommandAllowed(id)) tracingRun_.RequestStop();
        break;
    case mnuTraceFileOpen:
        if (TraceCommandAllowed(id)) mnuTraceFileOpen_Click();
        break;
    case mnuTraceFileSave:
        if (TraceCommandAllowed(id)) mnuTraceFileSave_Click();
        break;
    case mnuEditFinal:
        if (TraceCommandAllowed(id)) mnuEditFinal_Click();
        break;
    case mnuOptionsExpandAll:
        if (TraceCommandAllowed(id)) mnuOptionsExpandAll_Click();
        break;
    case mnuOptionsCollapseAll:
        if (TraceCommandAllowed(id)) mnuOptionsCollapseAll_Click();
        break;
    default:
        break;
    }
}

LRESULT MainWindow::OnNotify(NMHDR* header) {
    if (header->code == TTN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
        int index = static_cast<int>(header->idFrom) - kToolbarBase;
        if (index >= 0 && index < static_cast<int>(kToolbarButtonCount))
            info->lpszText = const_cast<char*>(index == ToolbarIndex("Run") ? runTooltip_.c_str()
                                                                          : kToolbarButtons[index].tooltip);
        return 0;
    }
    if (header->hwndFrom == hwndTree1 || header->hwndFrom == hwndTree2) {
        KeyedTree& tree = header->hwndFrom == hwndTree1 ? TreeView1 : TreeView2;
        switch (header->code) {
        case NM_CUSTOMDRAW:
            return tree.OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
        case TVN_SELCHANGEDA:
        case TVN_SELCHANGEDW:
            if (header->hwndFrom == hwndTree1) {
                auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
                ++selectionChanges_;
                clickSelected_ = change->action == TVC_BYMOUSE ? change->itemNew.hItem : nullptr;
                TreeView1_NodeClick(TreeView1.KeyOf(change->itemNew.hItem), false);
            }
            return 0;
        case NM_CLICK:
            // A click that does not change the selection shows the selected
            // node again (over Quick Help, or a final report that has grown).
            // Tree controls differ in whether the selection follows the
            // click's notice or goes before it: a selection by this click is
            // seen either way, before (clickSelected_) or after (the count).
            if (header->hwndFrom == hwndTree1) {
                if (!clickSelected_) ::PostMessageA(hwnd_, kClickedTree, selectionChanges_, 0);
                clickSelected_ = nullptr;
            }
            return 0;
        case NM_RCLICK:
            if (header->hwndFrom == hwndTree1) {
                TVHITTESTINFO hit = {};
                ::GetCursorPos(&hit.pt);
                ::ScreenToClient(hwndTree1, &hit.pt);
                HTREEITEM item = TreeView_HitTest(hwndTree1, &hit);
                if (item) {
                    TreeView_SelectItem(hwndTree1, item);
                    TreeView1_NodeClick(TreeView1.KeyOf(item), true);
                }
                return 1;
            }
            return 0;
        case NM_DBLCLK:
            if (header->hwndFrom == hwndTree1)
                RunCommand(mnuComponentHookUnhook, false, {static_cast<WPARAM>(mnuComponentHookUnhook), 0});
            return 0;
        }
    }
    return 0;
}

}  // namespace shell
