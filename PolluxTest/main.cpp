// The scanner program: one window that runs both scans and closes itself.
// Where no window can be made (a service, a container without a display) the
// same run goes on without one: the window only shows progress.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "run.h"
#include "window.h"

namespace {

class NoView final : public polluxtest::ScanView {
public:
    void Show(const polluxtest::Display&) override {}
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (FAILED(::CoInitialize(nullptr))) return vx::kScannerNoStart;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    int exitCode = vx::kScannerNoStart;
    if (polluxtest::CreateScanWindow(instance, commandLine)) {
        MSG msg;
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        exitCode = static_cast<int>(msg.wParam);
    } else {
        NoView view;
        exitCode = polluxtest::RunScanner(view, polluxtest::SourcesFolder(commandLine));
    }
    ::CoUninitialize();
    return exitCode;
}
