// Command ids of the main window's menu items and the keys of its toolbar
// buttons. Tests drive the window by these ids, so they are fixed.
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
    mnuEditFont = 1031,
    mnuEditFind = 1032,
    mnuEditFindNext = 1033,
    mnuEditCopy = 1034,
    mnuEditFinal = 1035,
    mnuOptionsAlwaysOnTop = 1041,
    mnuOptionsAutoscroll = 1042,
    mnuOptionsExpandAll = 1043,
    mnuOptionsCollapseAll = 1044,
    mnuOptionsShowIUnknown = 1045,
    mnuOptionsShowIDispatch = 1046,
    mnuOptionsSettings = 1047,
    mnuHelpHelp = 1051,
    mnuHelpAbout = 1052,
    mnuHookUnhook = 1061,   // context menu
    mnuViewTypeLib = 1062,  // context menu
};

// Toolbar buttons, left to right. A button's command id is kToolbarBase
// plus its position; a click dispatches on the key to the menu handler.
constexpr int kToolbarBase = 2000;
struct ToolbarButton {
    const char* key;
    const char* tooltip;
    Command command;
    bool twoState;
    bool startsGroup = false;  // a separator stands before it
};
extern const ToolbarButton kToolbarButtons[];
extern const size_t kToolbarButtonCount;
// Position of the button with this key, or -1.
int ToolbarIndex(const char* key);
// The menu handler a key dispatches to, or 0 for a key outside the table.
int CommandOfKey(const char* key);

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
