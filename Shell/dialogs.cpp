#include "dialogs.h"

#include <string>

#include "collectlines.h"
#include "mainwindow.h"

namespace shell {
namespace {

struct SettsState {
    Settings* settings;
};

// The note is enabled exactly when at least one box is checked.
void UpdateComment(HWND dialog) {
    bool any = ::IsDlgButtonChecked(dialog, IDC_CHKIU) == BST_CHECKED ||
               ::IsDlgButtonChecked(dialog, IDC_CHKID) == BST_CHECKED;
    ::EnableWindow(::GetDlgItem(dialog, IDC_COMMENT), any);
}

INT_PTR CALLBACK SettsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<SettsState*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        state = reinterpret_cast<SettsState*>(lParam);
        ::CheckDlgButton(dialog, IDC_CHKIU, state->settings->CollectIUnknown ? BST_CHECKED : BST_UNCHECKED);
        ::CheckDlgButton(dialog, IDC_CHKID, state->settings->CollectIDispatch ? BST_CHECKED : BST_UNCHECKED);
        UpdateComment(dialog);
        CentreOver(dialog, ::GetParent(dialog));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CHKIU:
        case IDC_CHKID:
            UpdateComment(dialog);
            return TRUE;
        case IDOK: {
            bool iu = ::IsDlgButtonChecked(dialog, IDC_CHKIU) == BST_CHECKED;
            bool id = ::IsDlgButtonChecked(dialog, IDC_CHKID) == BST_CHECKED;
            std::string error;
            if (!RewriteCollectLinesInFile(state->settings->ZorTxtFile, iu, id, &error)) {
                ::MessageBoxA(dialog, ("The settings could not be saved: " + error).c_str(), kAppTitle,
                              MB_OK | MB_ICONERROR);
                return TRUE;
            }
            state->settings->CollectIUnknown = iu;
            state->settings->CollectIDispatch = id;
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreOver(dialog, ::GetParent(dialog));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

constexpr char kSplashClass[] = "VexiloSplash";

LRESULT CALLBACK SplashProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(hwnd, &paint);
        RECT all;
        ::GetClientRect(hwnd, &all);
        vx::unique_brush back(::CreateSolidBrush(RGB(40, 70, 140)));
        ::FillRect(dc, &all, back.get());
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, RGB(255, 255, 255));
        vx::unique_font big(::CreateFontA(-36, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma"));
        vx::unique_font small(::CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma"));
        {
            vx::select_object use(dc, big.get());
            RECT title = all;
            title.bottom = all.bottom / 2 + 10;
            ::DrawTextA(dc, "Vexilo", -1, &title, DT_CENTER | DT_BOTTOM | DT_SINGLELINE);
        }
        {
            vx::select_object use(dc, small.get());
            RECT line = all;
            line.top = all.bottom / 2 + 20;
            ::DrawTextA(dc, "Traces calls into in-process COM components", -1, &line,
                        DT_CENTER | DT_TOP | DT_SINGLELINE);
        }
        ::EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
        ::DestroyWindow(hwnd);
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void CentreOver(HWND window, HWND owner) {
    RECT w, o;
    if (!owner || !::GetWindowRect(window, &w) || !::GetWindowRect(owner, &o)) return;
    int left = o.left + ((o.right - o.left) - (w.right - w.left)) / 2;
    int top = o.top + ((o.bottom - o.top) - (w.bottom - w.top)) / 2;
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowSettingsDialog(HINSTANCE instance, HWND owner, Settings& settings) {
    SettsState state{&settings};
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTS), owner, SettsProc, reinterpret_cast<LPARAM>(&state));
}

void ShowAboutDialog(HINSTANCE instance, HWND owner) {
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc, 0);
}

HWND ShowSplash(HINSTANCE instance) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = SplashProc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    cls.lpszClassName = kSplashClass;
    ::RegisterClassA(&cls);
    int width = 420, height = 200;
    int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2, top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND splash = ::CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kSplashClass, "Vexilo starting",
                                    WS_POPUP | WS_BORDER, left, top, width, height, nullptr, nullptr, instance, nullptr);
    if (splash) {
        ::ShowWindow(splash, SW_SHOWNOACTIVATE);
        ::UpdateWindow(splash);
    }
    return splash;
}

void CloseSplash(HWND splash) {
    if (splash && ::IsWindow(splash)) ::DestroyWindow(splash);
}

void MainWindow::mnuHelpAbout_Click() { ShowAboutDialog(instance_, hwnd_); }

}  // namespace shell
