// The window frmScan: labels, the three stage pictures, the progress bar and
// the timer that starts the run once.
#pragma once

#include <windows.h>

namespace polluxtest {

inline constexpr char kWindowClass[] = "frmScan";
inline constexpr char kWindowTitle[] = "Collecting Component Information";

// Registers the class and shows the window; the run starts 100 ms later and
// the window closes itself at its end.
HWND CreateScanWindow(HINSTANCE instance, const char* commandLineTail);

}  // namespace polluxtest
