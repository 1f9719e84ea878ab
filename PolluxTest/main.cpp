// The scanner program: one window that runs both scans and closes itself.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (FAILED(::CoInitialize(nullptr))) return 1;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    int exitCode = 1;
    if (polluxtest::CreateScanWindow(instance, commandLine)) {
        MSG msg;
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        exitCode = static_cast<int>(msg.wParam);
    }
    ::CoUninitialize();
    return exitCode;
}
