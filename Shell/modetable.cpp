#include "modetable.h"

#include <cstring>

namespace shell {
namespace {

constexpr Switch L = Switch::kLeave, On = Switch::kOn, Off = Switch::kOff;

// Columns: hooked list, component list, tracing, trace file.
struct ButtonRow {
    const char* key;
    Switch state[4];
};
// "Run" in mode 1 follows the hooked count; handled apart.
const ButtonRow kButtonRows[] = {
    {"COM", {On, On, L, L}},       {"HookUnhook", {Off, Off, Off, Off}}, {"TLib", {Off, Off, Off, Off}},
    {"Run", {L, L, On, Off}},      {"Stop", {Off, Off, L, L}},           {"Open", {On, On, L, L}},
    {"Save", {Off, Off, L, L}},    {"Find", {Off, Off, On, On}},         {"Copy", {Off, On, On, On}},
    {"Final", {Off, Off, Off, Off}}, {"OnTop", {On, On, On, On}},        {"Last", {On, On, On, On}},
    {"Sett", {On, On, L, On}},     {"Extend", {Off, Off, On, On}},       {"Collapse", {Off, Off, On, On}},
};

struct MenuRow {
    Command command;
    Switch state[4];
};
const MenuRow kMenuRows[] = {
    {mnuComponentList, {On, On, L, L}},
    {mnuComponentHookUnhook, {Off, Off, Off, Off}},
    {mnuComponentViewTypeLib, {Off, Off, Off, Off}},
    {mnuTracingStart, {L, L, Off, Off}},
    {mnuTracingStop, {Off, Off, L, L}},
    {mnuTraceFileOpen, {On, On, L, L}},
    {mnuTraceFileSave, {Off, Off, L, L}},
    {mnuEditFind, {Off, Off, On, On}},
    {mnuEditFindNext, {Off, Off, On, On}},
    {mnuEditCopy, {Off, On, On, On}},
    {mnuEditFinal, {Off, Off, Off, Off}},
    {mnuOptionsAlwaysOnTop, {On, On, On, On}},
    {mnuOptionsAutoscroll, {On, On, On, On}},
    {mnuOptionsExpandAll, {Off, Off, On, On}},
    {mnuOptionsCollapseAll, {Off, Off, On, On}},
    {mnuOptionsSettings, {On, On, L, L}},
};

int Column(long mode) {
    switch (mode) {
    case 1: return 0;
    case 4: return 1;
    case 2: return 2;
    case 3: return 3;
    default: return -1;
    }
}

}  // namespace

ModeView ModeTable(long mode, long hookedCount, const std::string& openedTraceFileName) {
    ModeView view;
    int column = Column(mode);
    if (column < 0) return view;
    switch (mode) {
    case 1:
        view.fillHookedList = true;
        view.setTreeTitle = true;
        view.treeTitle = "Currently Hooked Component DLLs";
        view.detailsTitle = "Selected Component DLL's Full Path";
        view.panels = {{"Status", kHookedListStatus}};
        break;
    case 4:
        view.setTreeTitle = true;
        view.treeTitle = "Component DLL/OCX List";
        view.detailsTitle = "Selected Component DLL's CoClasses";
        view.detailsThroughHelpRule = true;
        view.panels = {{"Status", ""}, {"Processed", "Found Component DLLs: 0 "}};
        view.releaseRun = true;
        break;
    case 2:
        view.detailsTitle = "Selected Event's Details";
        view.detailsThroughHelpRule = true;
        view.panels = {{"Status", "Select event to view its details."},
                       {"Processed", "Processed Items: 0 "},
                       {"Queued", "Queued Events: 0 "}};
        break;
    case 3:
        view.setTreeTitle = true;
        view.treeTitle = "Events from TraceFile: " + openedTraceFileName;
        view.detailsTitle = "Selected Event's Details";
        view.detailsThroughHelpRule = true;
        view.panels = {{"Status", ""}, {"Processed", "Processed Events: 0 "}};
        view.releaseRun = true;
        break;
    }
    for (const ButtonRow& row : kButtonRows) {
        Switch state = row.state[column];
        if (mode == 1 && std::strcmp(row.key, "Run") == 0) state = hookedCount > 0 ? On : Off;
        view.buttons.emplace_back(row.key, state);
    }
    for (const MenuRow& row : kMenuRows) {
        Switch state = row.state[column];
        if (mode == 1 && row.command == mnuTracingStart) state = hookedCount > 0 ? On : Off;
        view.menus.emplace_back(row.command, state);
    }
    return view;
}

}  // namespace shell
