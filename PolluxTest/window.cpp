#include "window.h"

#include <commctrl.h>

#include <string>

#include "images.h"
#include "raii.h"
#include "run.h"
#include "view.h"

namespace polluxtest {
namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
constexpr int kWidth = 420, kHeight = 190;
constexpr int kTwipsAbove = 500;  // the window sits this much above a quarter of the screen

struct WindowState : ScanView {
    HWND window = nullptr;
    vx::unique_image_list ImageList1;
    std::string sources;
    bool running = false;
    RunResult result = vx::kScannerNoStart;

    // The picture's key as its text, so that it can be read from outside.
    void SetPicture(int id, StageImage image) {
        HWND picture = ::GetDlgItem(window, id);
        char current[32] = "";
        ::GetWindowTextA(picture, current, sizeof current);
        if (std::string(current) == ImageKey(image)) return;
        ::SetWindowTextA(picture, ImageKey(image));
        ::InvalidateRect(picture, nullptr, TRUE);
        ::UpdateWindow(picture);
    }

    void Show(const Display& d) override {
        SetPicture(kPicTLibs, d.tLibs);
        SetPicture(kPicInterf, d.interfaces);
        SetPicture(kPicClasses, d.classes);
        HWND bar = ::GetDlgItem(window, kProgressBar1);
        ::SendMessageA(bar, PBM_SETRANGE32, 0, d.maximum);
        ::SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(d.value), 0);
        ::UpdateWindow(bar);
        // The scan holds this thread: answer what other threads send to the
        // window meanwhile (posted messages wait for the scan's end).
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
};

HWND Child(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w, int h, int id) {
    return ::CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void CreateControls(HWND window) {
    Child(window, "STATIC", "This stage of setup takes a few minutes...", 0, 16, 12, 380, 20, -1);
    const std::pair<int, const char*> rows[] = {{kPicTLibs, "Type Libraries"}, {kPicInterf, "Interfaces"},
                                                {kPicClasses, "Classes"}};
    int y = 44;
    for (const auto& [id, label] : rows) {
        Child(window, "STATIC", ImageKey(StageImage::NotYet), SS_OWNERDRAW, 24, y, kImageSize, kImageSize, id);
        Child(window, "STATIC", label, 0, 52, y, 200, 18, -1);
        y += 26;
    }
    Child(window, PROGRESS_CLASSA, "", PBS_SMOOTH, 16, y + 8, 380, 18, kProgressBar1);
}

// Form_Load's place: centred across, above a quarter of the screen's height.
void Place(HWND window) {
    RECT r;
    ::GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int pixelsAbove = ::MulDiv(kTwipsAbove, ::GetDeviceCaps(vx::window_dc().get(), LOGPIXELSY), 1440);
    int top = ::GetSystemMetrics(SM_CYSCREEN) / 4 - h / 2 - pixelsAbove;
    ::SetWindowPos(window, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2, top < 0 ? 0 : top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
}

void DrawPicture(WindowState& s, const DRAWITEMSTRUCT& item) {
    char key[32] = "";
    ::GetWindowTextA(item.hwndItem, key, sizeof key);
    StageImage image = StageImage::NotYet;
    for (StageImage i : {StageImage::InProgress, StageImage::Done})
        if (std::string(key) == ImageKey(i)) image = i;
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    ::ImageList_Draw(s.ImageList1.get(), ImageIndex(image), item.hDC, item.rcItem.left, item.rcItem.top, ILD_NORMAL);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* s = reinterpret_cast<WindowState*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        auto* created = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
        static_cast<WindowState*>(created->lpCreateParams)->window = window;
        break;
    }
    case WM_CREATE:
        s->ImageList1.reset(CreateStageImages());
        CreateControls(window);
        Place(window);
        ::SetTimer(window, kTimer1, kTimer1Interval, nullptr);
        return 0;
    case WM_DRAWITEM:
        DrawPicture(*s, *reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_TIMER:
        if (wParam != kTimer1) break;
        ::KillTimer(window, kTimer1);
        s->running = true;
        s->result = RunScanner(*s, s->sources);
        s->running = false;
        ::DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        // The run ends the program itself; closing under a scan would pull
        // the window from under its events.
        if (s && s->running) return 0;
        break;
    case WM_DESTROY:
        ::KillTimer(window, kTimer1);
        // The exit code tells a caller whether the run went through.
        ::PostQuitMessage(s->result);
        delete s;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND CreateScanWindow(HINSTANCE instance, const char* commandLineTail) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassA(&wc)) return nullptr;
    auto* state = new WindowState;
    state->sources = SourcesFolder(commandLineTail);
    RECT r = {0, 0, kWidth, kHeight};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    ::AdjustWindowRect(&r, style, FALSE);
    HWND window = ::CreateWindowExA(0, kWindowClass, kWindowTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                    r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, state);
    if (!window) delete state;
    return window;
}

}  // namespace polluxtest
