// Find in Trace: the modeless dialog over the left pane, its search kept
// while it is loaded, and the search text and case option kept for the
// whole run (Find Next without the dialog shown uses them).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "findcopy.h"
#include "panes.h"

namespace shell {

class FindDialog {
public:
    // `showSelected` shows the details of a found node that was already
    // selected (no selection change reports it).
    FindDialog(HWND owner, HINSTANCE instance, TracePane& pane, std::function<void(const std::string&)> showSelected)
        : owner_(owner), instance_(instance), pane_(pane), showSelected_(std::move(showSelected)) {}
    FindDialog(const FindDialog&) = delete;
    FindDialog& operator=(const FindDialog&) = delete;
    ~FindDialog() { Close(); }

    // Edit > Find: the dialog at (left, top), screen pixels.
    void Show(int left, int top);
    // Edit > Find Next; false when there is no search text yet (Find is due).
    bool FindNext();
    // The dialog's keys (Tab, Enter, Escape) while it is open.
    bool IsDialogMessage(MSG* msg) { return dialog_ && ::IsDialogMessageA(dialog_, msg); }

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    bool Load();
    void Close();
    std::string Text() const;
    void Next();

    HWND owner_;
    HINSTANCE instance_;
    TracePane& pane_;
    std::function<void(const std::string&)> showSelected_;
    HWND dialog_ = nullptr;
    std::string findWhat_;
    bool matchCase_ = false;
    TraceSearch search_;
};

}  // namespace shell
