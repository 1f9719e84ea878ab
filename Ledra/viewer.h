// A window that shows a type library: its types, their members with
// parameter names, directions and types, help strings and GUIDs.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace ledra {

// One line of the view and its depth (0: a type, 1: a member, 2: a detail).
struct ViewLine {
    int depth;
    std::wstring text;
};

// The lines that describe the library.
std::vector<ViewLine> DescribeLibrary(ITypeLib* library);

// Shows the library in a modal window owned by `owner`; returns when it is
// closed. False when the window cannot be made.
bool ShowTypeLibrary(HWND owner, ITypeLib* library);

// The class name of the viewer window.
constexpr wchar_t kViewerClass[] = L"VexiloTypeLibraryView";

}  // namespace ledra
