// Vexilo.exe: one main window per user session.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "commands.h"
#include "mainwindow.h"
#include "raii.h"

namespace {

constexpr char kInstanceMutex[] = "Local\\VexiloMainProgramRunning";

struct Search {
    HWND self;
    char className[257];
};

// Brings every other process's main window to the top; the walk runs to the end.
BOOL CALLBACK RaiseOther(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    char title[64] = {}, cls[257] = {};
    ::GetWindowTextA(window, title, sizeof title);
    ::GetClassNameA(window, cls, sizeof cls);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (window != search->self && process != ::GetCurrentProcessId() && lstrcmpA(title, shell::kAppTitle) == 0 &&
        lstrcmpA(cls, search->className) == 0) {
        if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
        ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ::SetForegroundWindow(window);
    }
    return TRUE;
}

void ActivateRunningInstance(HWND self, const char* className) {
    Search search = {self, {}};
    lstrcpynA(search.className, className, sizeof search.className);
    ::EnumWindows(RaiseOther, reinterpret_cast<LPARAM>(&search));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    vx::unique_handle running(::CreateMutexA(nullptr, FALSE, kInstanceMutex));
    if (running && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::MessageBoxA(nullptr, "Vexilo is already running.", shell::kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        ActivateRunningInstance(nullptr, shell::kMainWindowClass);
        return 0;
    }
    if (FAILED(::CoInitialize(nullptr))) return 1;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    int exitCode = 1;
    {
        shell::MainWindow window;
        if (window.Create(instance, commandLine)) {
            window.Form_Load();
            HACCEL accelerators = nullptr;
            ACCEL keys[] = {{FVIRTKEY, VK_F3, shell::mnuEditFindNext},
                            {FVIRTKEY | FCONTROL, 'L', shell::mnuEditFilter}};
            accelerators = ::CreateAcceleratorTableA(keys, 2);
            MSG msg;
            while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
                if (accelerators && ::TranslateAcceleratorA(window.hwnd(), accelerators, &msg)) continue;
                if (window.IsFindDialogMessage(&msg)) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            exitCode = static_cast<int>(msg.wParam);
            if (accelerators) ::DestroyAcceleratorTable(accelerators);
        }
    }
    ::CoUninitialize();
    return exitCode;
}
