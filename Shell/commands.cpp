#include "commands.h"

#include <cstring>

namespace shell {

const ToolbarButton kToolbarButtons[] = {
    {"COM", "Component DLL List", mnuComponentList, false},
    {"HookUnhook", "Hook/Unhook", mnuComponentHookUnhook, false},
    {"TLib", "View TypeLib", mnuComponentViewTypeLib, false},
    {"Run", "Start Tracing", mnuTracingStart, true, true},
    {"Stop", "Stop", mnuTracingStop, false},
    {"Open", "Open TraceFile", mnuTraceFileOpen, false, true},
    {"Save", "Save Trace", mnuTraceFileSave, false},
    {"Find", "Find", mnuEditFind, false, true},
    {"Copy", "Copy", mnuEditCopy, false},
    {"Final", "View Final Report", mnuEditFinal, false},
    {"OnTop", "Always On Top", mnuOptionsAlwaysOnTop, true, true},
    {"Last", "Autoscroll when Tracing", mnuOptionsAutoscroll, true},
    {"Extend", "Expand All", mnuOptionsExpandAll, false},
    {"Collapse", "Collapse All", mnuOptionsCollapseAll, false},
    {"IUnk", "View IUnknown Methods", mnuOptionsShowIUnknown, true},
    {"IDisp", "View IDispatch Methods", mnuOptionsShowIDispatch, true},
    {"Sett", "Settings", mnuOptionsSettings, false},
    {"Help", "Quick Help", mnuHelpHelp, false, true},
};
const size_t kToolbarButtonCount = sizeof kToolbarButtons / sizeof kToolbarButtons[0];

int ToolbarIndex(const char* key) {
    for (size_t i = 0; i < kToolbarButtonCount; ++i)
        if (std::strcmp(kToolbarButtons[i].key, key) == 0) return static_cast<int>(i);
    return -1;
}

int CommandOfKey(const char* key) {
    int index = ToolbarIndex(key);
    return index < 0 ? 0 : kToolbarButtons[index].command;
}

}  // namespace shell
