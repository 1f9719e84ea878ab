// Reading another process's main window through its controls' own messages:
// tree nodes, status panels, toolbar and menu states; PNG screenshots.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace vxremote {

struct TreeNode {
    HTREEITEM item;
    int depth;
    std::string text;
    int image;
};

// A window of another process of this architecture; messages that carry
// pointers go through a buffer in that process.
class RemoteWindow {
public:
    RemoteWindow() = default;
    ~RemoteWindow();
    bool Attach(HWND window);
    void Detach();
    HWND hwnd() const { return window_; }
    HWND Child(int id) const { return ::GetDlgItem(window_, id); }

    std::vector<TreeNode> Tree(int id);
    std::string StatusText(int part);
    std::string Text(int id);
    // The texts of a report list view of that process, row by row.
    std::vector<std::vector<std::string>> ListRows(HWND list, int columns);
    bool ButtonEnabled(int index);
    bool ButtonChecked(int index);
    UINT MenuState(int command);
    bool SelectNode(int treeId, HTREEITEM item);
    // A left click on the node's text, as the mouse gives it.
    bool ClickNode(int treeId, HTREEITEM item);

private:
    HWND window_ = nullptr;
    HANDLE process_ = nullptr;
    char* remote_ = nullptr;
};

// The top-level window of that process with that class (and title when given), or null.
HWND FindProcessWindow(DWORD processId, const char* className, const char* title = nullptr, DWORD timeoutMs = 0);
// The text of a message box's message.
std::string MessageBoxText(HWND box);

// Starts "FOLDER\\Vexilo.exe FOLDER" (folder ending in a backslash) and
// attaches `ui` to its main window once that shows; false, with the program
// ended, when it does not start or shows no window within timeoutMs. The
// caller closes the process's handles.
bool StartMainWindow(const std::string& folder, PROCESS_INFORMATION* process, RemoteWindow* ui, DWORD timeoutMs);

// Polls `condition` until it holds (true) or timeoutMs have passed (false).
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The window's screen area as a PNG file.
bool SavePng(HWND window, const std::string& path);

}  // namespace vxremote
