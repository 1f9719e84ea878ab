// Command ids of the main window's menu items and its toolbar buttons.
// Tests drive the window by these ids, so they are fixed.
#pragma once

#include <cstddef>

namespace shell {

enum Command : int {
    mnuComponentList = 1001,
    mnuComponentHookUnhook = 1002,
    mnuComponentViewTypeLib = 1003,
    mnuComponentExit = 1004,
    mnuTracingStart = 1011,
    mnuTracingStop = 1012,
    mnuTraceFileOpen = 1021,
    mnuTraceFileSave = 1022,
    mnuTraceFileExport = 1023,
    mnuTraceFileCompare = 1024,
    mnuEditFont = 1031,
    mnuEditFind = 1032,
    mnuEditFindNext = 1033,
    mnuEditCopy = 1034,
    mnuEditFinal = 1035,
    mnuEditFilter = 1036,
    mnuEditHighlight = 1037,
    mnuEditStatistics = 1038,
    mnuEditResetFilter = 1039,
    mnuOptionsAlwaysOnTop = 1041,
    mnuOptionsAutoscroll = 1042,
    mnuOptionsExpandAll = 1043,
    mnuOptionsCollapseAll = 1044,
    mnuOptionsShowIUnknown = 1045,
    mnuOptionsShowIDispatch = 1046,
    mnuOptionsSettings = 1047,
    mnuOptionsNestByArrival = 1048,
    mnuHelpHelp = 1051,
    mnuHelpAbout = 1052,
    mnuHookUnhook = 1061,   // context menu
    mnuViewTypeLib = 1062,  // context menu
    // The trace node's context menu: filter rules from the node's own values.
    mnuShowOnlyClass = 1071,
    mnuShowOnlyMethod = 1072,
    mnuShowOnlyThread = 1073,
    mnuShowOnlyProcess = 1074,
    mnuHideClass = 1075,
    mnuHideMethod = 1076,
    mnuShowFailedOnly = 1077,
};

// Toolbar buttons, left to right; each is the button of one menu command.
enum class Button : int { Com, HookUnhook, TLib, Run, Stop, Open, Save, Find, Copy, Final, OnTop, Last, Extend,
                          Collapse, IUnk, IDisp, Sett, Help, Filter, Stats };
// A button's control id is kToolbarBase plus its position.
constexpr int kToolbarBase = 2000;
struct ToolbarButton {
    Button button;
    const char* tooltip;
    Command command;
    bool twoState;
    bool startsGroup = false;  // a separator stands before it
};
// Groups: components, tracing, trace files, edit, options, help, reading a big trace.
inline constexpr ToolbarButton kToolbarButtons[] = {
    {Button::Com, "Component DLL List", mnuComponentList, false},
    {Button::HookUnhook, "Hook/Unhook", mnuComponentHookUnhook, false},
    {Button::TLib, "View TypeLib", mnuComponentViewTypeLib, false},
    {Button::Run, "Start Tracing", mnuTracingStart, true, true},
    {Button::Stop, "Stop", mnuTracingStop, false},
    {Button::Open, "Open TraceFile", mnuTraceFileOpen, false, true},
    {Button::Save, "Save Trace", mnuTraceFileSave, false},
    {Button::Find, "Find", mnuEditFind, false, true},
    {Button::Copy, "Copy", mnuEditCopy, false},
    {Button::Final, "View Final Report", mnuEditFinal, false},
    {Button::OnTop, "Always On Top", mnuOptionsAlwaysOnTop, true, true},
    {Button::Last, "Autoscroll when Tracing", mnuOptionsAutoscroll, true},
    {Button::Extend, "Expand All", mnuOptionsExpandAll, false},
    {Button::Collapse, "Collapse All", mnuOptionsCollapseAll, false},
    {Button::IUnk, "View IUnknown Methods", mnuOptionsShowIUnknown, true},
    {Button::IDisp, "View IDispatch Methods", mnuOptionsShowIDispatch, true},
    {Button::Sett, "Settings", mnuOptionsSettings, false},
    {Button::Help, "Quick Help", mnuHelpHelp, false, true},
    {Button::Filter, "Filter (Ctrl+L)", mnuEditFilter, false, true},
    {Button::Stats, "Statistics", mnuEditStatistics, false},
};
constexpr size_t kToolbarButtonCount = sizeof kToolbarButtons / sizeof kToolbarButtons[0];
constexpr bool ButtonsInTheirOrder() {
    for (size_t i = 0; i < kToolbarButtonCount; ++i)
        if (static_cast<size_t>(kToolbarButtons[i].button) != i) return false;
    return true;
}
static_assert(ButtonsInTheirOrder(), "a button's row stands at its position");

constexpr const ToolbarButton& ButtonRow(Button b) { return kToolbarButtons[static_cast<size_t>(b)]; }
constexpr int ButtonId(Button b) { return kToolbarBase + static_cast<int>(b); }
// The button of a menu command, or nullptr for a command without one.
constexpr const ToolbarButton* ButtonOf(int command) {
    for (const ToolbarButton& row : kToolbarButtons)
        if (row.command == command) return &row;
    return nullptr;
}
// The button behind a control id, or nullptr for an id outside the toolbar.
constexpr const ToolbarButton* ButtonOfId(int id) {
    int index = id - kToolbarBase;
    return index >= 0 && index < static_cast<int>(kToolbarButtonCount) ? &kToolbarButtons[index] : nullptr;
}

// Child window ids of the main window's controls.
enum ControlId : int {
    kTree1Id = 101,
    kTree2Id = 102,
    kToolbarId = 103,
    kStatusId = 104,
    kHelpId = 105,
    kTreeTitleId = 106,
    kDetailsId = 107,
    kSplitterId = 108,
    kProgressId = 109,  // a child of the status bar
};

// Private messages the window answers, for tests and scripts:
// the state of a menu item (GetMenuState flags) by command id.
constexpr unsigned kQueryMenuState = 0x8000 + 0x101;  // WM_APP + 0x101
// 1 while Quick Help is shown.
constexpr unsigned kQueryQuickHelp = 0x8000 + 0x102;
// WM_COPYDATA with this dwData and an ANSI path: the next Open TraceFile or
// Save Trace takes that path instead of asking through its file dialog.
constexpr unsigned long kNextTraceFilePath = 0x56585452;  // "VXTR"

}  // namespace shell
