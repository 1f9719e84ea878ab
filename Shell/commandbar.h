// The window's commands as the user sees them: the menu bar, the toolbar and
// the component list's popup menu. A command's menu item and its button
// (kToolbarButtons) change together unless a caller names one of them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "commands.h"
#include "raii.h"

namespace shell {

class CommandBar {
public:
    void Create(HWND owner, HINSTANCE instance);
    HWND toolbar() const { return toolbar_; }
    int Height() const;
    void AutoSize();

    // The menu item and the command's button (pressed only if it is a
    // two-state one).
    void Enable(Command command, bool on);
    void Check(Command command, bool on);
    // One of them alone.
    void EnableMenu(Command command, bool on);
    void EnableButton(Button button, bool on);
    void Press(Button button, bool pressed);
    bool Pressed(Button button) const;
    bool MenuChecked(Command command) const;
    UINT MenuState(UINT command) const;
    // Hook/Unhook and View TypeLib, in the menu, the popup and the toolbar.
    void EnableComponentCommands(bool on);
    void ShowPopup(HWND owner) const;
    // The trace node's menu of filter rules; the method items only for a call.
    void ShowTracePopup(HWND owner, bool call) const;

    // A command arrives only while its control is enabled, whatever sent
    // it: the button for a toolbar click, else the menu item.
    bool Allows(int command, bool fromToolbar) const;

    // The Run button while tracing: the lamp picture and its tooltip.
    void ShowRunLamp(bool lamp);
    void SetRunTooltip(const std::string& text) { runTooltip_ = text; }
    // TTN_GETDISPINFO for a toolbar button; false for another notice.
    bool OnTooltip(NMHDR* header) const;

private:
    HWND toolbar_ = nullptr;
    HMENU menu_ = nullptr;  // the window's bar: destroyed with the window
    vx::unique_menu popup_;
    vx::unique_menu tracePopup_;
    vx::unique_image_list images_;  // outlives the toolbar, which this object does
    std::string runTooltip_ = "Start Tracing";
};

}  // namespace shell
