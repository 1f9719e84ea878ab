// The window's controls and their layout in twips, and the splitter drag.
#include <windowsx.h>

#include "commands.h"
#include "images.h"
#include "mainwindow.h"

namespace shell {
namespace {

constexpr char kSplitterClass[] = "VexiloSplitter";

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

    bar_.Create(hwnd_, instance_);
    txtTreeViewTitle = ::CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL,
                                         0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTreeTitleId)),
                                         instance_, nullptr);
    ::SendMessageA(txtTreeViewTitle, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    treeImages_.reset(CreateTreeImages());
    tracePane_.Create(hwnd_, instance_, font_.get(), treeImages_.get());
    details_.Create(hwnd_, instance_, font_.get(), treeImages_.get());
    picSplitter = ::CreateWindowExA(0, kSplitterClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 3, 10, hwnd_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSplitterId)), instance_, nullptr);
    status_.Create(hwnd_, instance_, font_.get(), dpi_);
    find_ = std::make_unique<FindDialog>(hwnd_, instance_, tracePane_,
                                         [this](const std::string& key) { TreeView1_NodeClick(key, false); });
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
    place(tracePane_.hwnd(), l.tree1);
    place(picSplitter, l.splitter);
    place(details_.title(), l.details);
    place(details_.hwnd(), l.tree2);
    place(details_.help(), l.tree2);
}

void MainWindow::Form_Resize() {
    if (!status_.hwnd() || !bar_.toolbar()) return;
    bar_.AutoSize();
    status_.Resize();
    RECT window, client;
    ::GetWindowRect(hwnd_, &window);
    ::GetClientRect(hwnd_, &client);
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
    in.toolbarHeight = Tw(bar_.Height());
    in.statusTop = Tw(status_.Top());
    in.statusHeight = Tw(status_.Height());
    in.firstPanelWidth = Tw(status_.FirstPanelWidth());
    in.titleHeight = Tw(tm.tmHeight + 6);
    in.tree1Left = 0;
    in.splitterLeft = splitterLeft_;
    layout_ = ResizeLayout(in, layout_);
    ApplyLayout(layout_);
    // Always on top, but never for a minimised window.
    bool top = settings_.AlwaysOnTop && !::IsIconic(hwnd_);
    ::SetWindowPos(hwnd_, top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The splitter strip's mouse: it turns grey and moves alone while dragged;
// the panes follow on release.
void MainWindow::OnSplitter(UINT message, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
        SplitterMoving = true;
        ::SetCapture(picSplitter);
        ::SetClassLongPtrA(picSplitter, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(::GetStockObject(GRAY_BRUSH)));
        ::InvalidateRect(picSplitter, nullptr, TRUE);
        return;
    case WM_MOUSEMOVE:
        if (SplitterMoving) {
            RECT window;
            ::GetWindowRect(hwnd_, &window);
            double p = layout_.splitter.left + Tw(GET_X_LPARAM(lParam));
            layout_.splitter.left = ClampSplitter(p, Tw(window.right - window.left));
            ::MoveWindow(picSplitter, Px(layout_.splitter.left), Px(layout_.splitter.top), Px(layout_.splitter.width),
                         Px(layout_.splitter.height), TRUE);
        }
        return;
    case WM_LBUTTONUP:
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
        return;
    }
}

RECT MainWindow::QuickHelpPlace() const {
    const TwipRect& r = layout_.tree2;
    return {Px(r.left), Px(r.top), Px(r.left) + Px(r.width), Px(r.top) + Px(r.height)};
}

}  // namespace shell
