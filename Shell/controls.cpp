// The window's controls, menus, toolbar, status panels and layout.
#include <richedit.h>

#include <initializer_list>

#include "commands.h"
#include "images.h"
#include "mainwindow.h"

namespace shell {
namespace {

constexpr char kSplitterClass[] = "VexiloSplitter";


struct MenuItem {
    int id;  // 0: separator
    const char* caption;
};

void AddItems(HMENU menu, std::initializer_list<MenuItem> items) {
    for (const MenuItem& item : items) {
        if (item.id == 0)
            ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.id), item.caption);
    }
}

HMENU Popup(HMENU bar, const char* caption, std::initializer_list<MenuItem> items) {
    HMENU menu = ::CreatePopupMenu();
    AddItems(menu, items);
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), caption);
    return menu;
}

// The splitter strip: forwards its mouse to the main window's drag code.
LRESULT CALLBACK SplitterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        return ::SendMessageA(::GetParent(hwnd), WM_APP + message, wParam, lParam);
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursor(nullptr, IDC_SIZEWE));
        return TRUE;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int MainWindow::Px(double twips) const { return TwipsToPixels(twips, dpi_); }
double MainWindow::Tw(int pixels) const { return PixelsToTwips(pixels, dpi_); }

void MainWindow::CreateMenus() {
    menu_ = ::CreateMenu();
    Popup(menu_, "&Component",
          {{mnuComponentList, "&List DLLs"}, {mnuComponentHookUnhook, "&Hook/Unhook"},
           {mnuComponentViewTypeLib, "&View TypeLib"}, {0, nullptr}, {mnuComponentExit, "&Exit"}});
    Popup(menu_, "&Tracing", {{mnuTracingStart, "&Start"}, {mnuTracingStop, "S&top"}});
    Popup(menu_, "Trace&File", {{mnuTraceFileOpen, "&Open"}, {mnuTraceFileSave, "&Save Trace"}});
    Popup(menu_, "&Edit",
          {{mnuEditFont, "F&ont"}, {0, nullptr}, {mnuEditFind, "&Find"}, {mnuEditFindNext, "Find &Next\tF3"},
           {mnuEditCopy, "&Copy"}, {0, nullptr}, {mnuEditFinal, "Final &Report"}});
    Popup(menu_, "&Options",
          {{mnuOptionsAlwaysOnTop, "&Always On Top"}, {mnuOptionsAutoscroll, "A&utoscroll"}, {0, nullptr},
           {mnuOptionsExpandAll, "&Expand All"}, {mnuOptionsCollapseAll, "&Collapse All"}, {0, nullptr},
           {mnuOptionsShowIUnknown, "Show I&Unknown"}, {mnuOptionsShowIDispatch, "Show I&Dispatch"}, {0, nullptr},
           {mnuOptionsSettings, "&Settings"}});
    Popup(menu_, "&Help", {{mnuHelpHelp, "Quick &Help"}, {0, nullptr}, {mnuHelpAbout, "&About"}});
    ::SetMenu(hwnd_, menu_);
    // The hidden "ComponentPopup", shown as a context menu.
    popup_.reset(::CreatePopupMenu());
    AddItems(popup_.get(), {{mnuHookUnhook, "Hook/Unhook"}, {mnuViewTypeLib, "View TypeLib"}});
}

void MainWindow::CreateToolbar() {
    Toolbar1 = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                                 WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolbarId)), instance_, nullptr);
    ::SendMessageA(Toolbar1, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    toolbarImages_.reset(CreateToolbarImages());
    ::SendMessageA(Toolbar1, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_.get()));
    std::vector<TBBUTTON> buttons;
    // Groups: components, tracing, trace files, edit, options, help.
    auto separator = [&] {
        TBBUTTON b = {};
        b.iBitmap = 6;
        b.fsStyle = BTNS_SEP;
        buttons.push_back(b);
    };
    for (size_t i = 0; i < kToolbarButtonCount; ++i) {
        if (kToolbarButtons[i].startsGroup) separator();
        TBBUTTON b = {};
        b.iBitmap = static_cast<int>(i);
        b.idCommand = kToolbarBase + static_cast<int>(i);
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = static_cast<BYTE>(kToolbarButtons[i].twoState ? BTNS_CHECK : BTNS_BUTTON);
        buttons.push_back(b);
    }
    ::SendMessageA(Toolbar1, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    ::SendMessageA(Toolbar1, TB_AUTOSIZE, 0, 0);
}

void MainWindow::CreateControls() {
    WNDCLASSA splitter = {};
    splitter.lpfnWndProc = SplitterProc;
    splitter.hInstance = instance_;
    splitter.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    splitter.lpszClassName = kSplitterClass;
    ::RegisterClassA(&splitter);

    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    font_.reset(::CreateFontIndirectA(&metrics.lfMessageFont));

    CreateMenus();
    CreateToolbar();
    auto make = [&](DWORD exStyle, const char* cls, DWORD style, int id) {
        HWND w = ::CreateWindowExA(exStyle, cls, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        ::SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return w;
    };
    txtTreeViewTitle = make(WS_EX_CLIENTEDGE, "EDIT", ES_READONLY | ES_AUTOHSCROLL, kTreeTitleId);
    txtDetails = make(WS_EX_CLIENTEDGE, "EDIT", ES_READONLY | ES_AUTOHSCROLL, kDetailsId);
    const DWORD treeStyle = TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_TABSTOP;
    hwndTree1 = make(WS_EX_CLIENTEDGE, WC_TREEVIEWA, treeStyle, kTree1Id);
    hwndTree2 = make(WS_EX_CLIENTEDGE, WC_TREEVIEWA, treeStyle, kTree2Id);
    TreeView1.Attach(hwndTree1);
    TreeView2.Attach(hwndTree2);
    treeImages_.reset(CreateTreeImages());
    TreeView1.SetImageList(treeImages_.get());
    TreeView2.SetImageList(treeImages_.get());
    picSplitter = ::CreateWindowExA(0, kSplitterClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 3, 10, hwnd_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSplitterId)),
                                    instance_, nullptr);
    ::LoadLibraryA("riched20.dll");
    rtfHelp = make(WS_EX_CLIENTEDGE, RICHEDIT_CLASSA, ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL, kHelpId);
    ::ShowWindow(rtfHelp, SW_HIDE);
    StatusBar1 = make(0, STATUSCLASSNAMEA, 0, kStatusId);
    prbarAmount = ::CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD, 0, 0, 10, 10, StatusBar1,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)),
                                    instance_, nullptr);
}

int MainWindow::PanelIndex(const char* key) const {
    for (size_t i = 0; i < panelKeys_.size(); ++i)
        if (panelKeys_[i] == key) return static_cast<int>(i);
    return -1;
}

void MainWindow::SetPanels(const std::vector<std::pair<const char*, std::string>>& panels) {
    panelKeys_.clear();
    for (const auto& panel : panels) panelKeys_.push_back(panel.first);
    SizePanels();
    for (size_t i = 0; i < panels.size(); ++i)
        ::SendMessageA(StatusBar1, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(panels[i].second.c_str()));
}

void MainWindow::SetPanelText(const char* key, const std::string& text) {
    int index = PanelIndex(key);
    if (index < 0) return;
    ::SendMessageA(StatusBar1, SB_SETTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
    if (index > 0) SizePanels();
}

// The first panel takes the free width; the others fit their texts.
void MainWindow::SizePanels() {
    if (panelKeys_.empty()) return;
    RECT client;
    ::GetClientRect(StatusBar1, &client);
    vx::window_dc statusDc(StatusBar1);
    HDC dc = statusDc.get();
    vx::select_object use(dc, font_.get());
    std::vector<int> widths(panelKeys_.size());
    for (size_t i = 1; i < panelKeys_.size(); ++i) {
        char text[256] = {};
        ::SendMessageA(StatusBar1, SB_GETTEXTA, i, reinterpret_cast<LPARAM>(text));
        SIZE size = {};
        ::GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
        widths[i] = size.cx + 16;
    }
    int rest = client.right - 20;  // room for the size grip
    for (size_t i = 1; i < widths.size(); ++i) rest -= widths[i];
    std::vector<int> edges(widths.size());
    int edge = std::max(rest, 40);
    edges[0] = edge;
    for (size_t i = 1; i < widths.size(); ++i) edges[i] = edge += widths[i];
    edges.back() = -1;
    ::SendMessageA(StatusBar1, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void MainWindow::SetButtonEnabled(const char* key, bool on) {
    int index = ToolbarIndex(key);
    if (index >= 0) ::SendMessageA(Toolbar1, TB_ENABLEBUTTON, kToolbarBase + index, MAKELONG(on ? TRUE : FALSE, 0));
}

void MainWindow::SetButtonPressed(const char* key, bool pressed) {
    int index = ToolbarIndex(key);
    if (index >= 0) ::SendMessageA(Toolbar1, TB_CHECKBUTTON, kToolbarBase + index, MAKELONG(pressed ? TRUE : FALSE, 0));
}

bool MainWindow::ButtonPressed(const char* key) const {
    int index = ToolbarIndex(key);
    return index >= 0 && ::SendMessageA(Toolbar1, TB_ISBUTTONCHECKED, kToolbarBase + index, 0) != 0;
}

void MainWindow::SetMenuEnabled(int id, bool on) { ::EnableMenuItem(menu_, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED)); }

void MainWindow::SetMenuChecked(int id, bool on) { ::CheckMenuItem(menu_, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED)); }

bool MainWindow::MenuChecked(int id) const { return (::GetMenuState(menu_, id, MF_BYCOMMAND) & MF_CHECKED) != 0; }

void MainWindow::SetTitle(HWND edit, const std::string& text) { ::SetWindowTextA(edit, text.c_str()); }

std::string MainWindow::TitleOf(HWND edit) const {
    char text[512] = {};
    ::GetWindowTextA(edit, text, sizeof text);
    return text;
}

void MainWindow::PumpMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (IsFindDialogMessage(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void MainWindow::ApplyLayout(const PaneLayout& l) {
    auto place = [&](HWND w, const TwipRect& r) {
        if (r.width <= 0 || r.height <= 0) return;  // a negative size in a tiny window is left out
        ::MoveWindow(w, Px(r.left), Px(r.top), Px(r.width), Px(r.height), TRUE);
    };
    place(txtTreeViewTitle, l.treeTitle);
    place(hwndTree1, l.tree1);
    place(picSplitter, l.splitter);
    place(txtDetails, l.details);
    place(hwndTree2, l.tree2);
    place(rtfHelp, l.tree2);
}

void MainWindow::Form_Resize() {
    if (!StatusBar1 || !Toolbar1) return;
    ::SendMessageA(Toolbar1, TB_AUTOSIZE, 0, 0);
    ::SendMessageA(StatusBar1, WM_SIZE, 0, 0);
    SizePanels();
    RECT window, client, toolbar, status;
    ::GetWindowRect(hwnd_, &window);
    ::GetClientRect(hwnd_, &client);
    ::GetWindowRect(Toolbar1, &toolbar);
    ::GetWindowRect(StatusBar1, &status);
    POINT statusTop = {status.left, status.top};
    ::ScreenToClient(hwnd_, &statusTop);
    TEXTMETRICA tm = {};
    {
        vx::window_dc titleDc(txtTreeViewTitle);
        vx::select_object use(titleDc.get(), font_.get());
        ::GetTextMetricsA(titleDc.get(), &tm);
    }
    LayoutInput in;
    in.windowWidth = Tw(window.right - window.left);
    in.innerWidth = Tw(client.right);
    in.innerHeight = Tw(client.bottom);
    in.toolbarTop = 0;
    in.toolbarHeight = Tw(toolbar.bottom - toolbar.top);
    in.statusTop = Tw(statusTop.y);
    in.statusHeight = Tw(status.bottom - status.top);
    RECT first = {};
    ::SendMessageA(StatusBar1, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&first));
    in.firstPanelWidth = Tw(first.right - first.left);
    in.titleHeight = Tw(tm.tmHeight + 6);
    in.tree1Left = 0;
    in.splitterLeft = splitterLeft_;
    layout_ = ResizeLayout(in, layout_);
    ApplyLayout(layout_);
    PlaceProgressBar();
    // Always on top, but never for a minimised window.
    bool top = settings_.AlwaysOnTop && !::IsIconic(hwnd_);
    ::SetWindowPos(hwnd_, top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::PlaceProgressBar() {
    RECT first = {}, status = {};
    ::SendMessageA(StatusBar1, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&first));
    ::GetClientRect(StatusBar1, &status);
    // Over the first panel, inside its bevel (the bar is the status bar's child).
    int left = first.left + Px(10), top = Px(60);
    int width = (first.right - first.left) - Px(30), height = (status.bottom - status.top) - Px(100);
    ::MoveWindow(prbarAmount, left, top, std::max(width, 0), std::max(height, 2), TRUE);
}

}  // namespace shell
