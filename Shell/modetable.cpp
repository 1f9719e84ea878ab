#include "modetable.h"

#include "settings.h"

namespace shell {
namespace {

constexpr Switch L = Switch::kLeave, On = Switch::kOn, Off = Switch::kOff;

// The table's columns, one per mode.
enum Column : int { kHookedListColumn, kComponentListColumn, kTracingColumn, kTraceFileColumn };

// A row sets the menu item and the command's toolbar button alike.
struct CommandRow {
    Command command;
    Switch state[4];
};
const CommandRow kCommandRows[] = {
    {mnuComponentList, {On, On, L, L}},
    {mnuComponentHookUnhook, {Off, Off, Off, Off}},
    {mnuComponentViewTypeLib, {Off, Off, Off, Off}},
    {mnuTracingStart, {L, L, Off, Off}},  // in mode 1 it follows the hooked count
    {mnuTracingStop, {Off, Off, L, L}},
    {mnuTraceFileOpen, {On, On, L, L}},
    {mnuTraceFileSave, {Off, Off, L, L}},
    {mnuTraceFileExport, {Off, Off, L, L}},  // both follow Save: they need a trace shown
    {mnuTraceFileCompare, {Off, Off, L, L}},
    {mnuEditFind, {Off, Off, On, On}},
    {mnuEditFindNext, {Off, Off, On, On}},
    {mnuEditCopy, {Off, On, On, On}},
    {mnuEditFinal, {Off, Off, Off, Off}},
    {mnuEditFilter, {Off, Off, On, On}},
    {mnuEditResetFilter, {Off, Off, On, On}},
    {mnuEditHighlight, {Off, Off, On, On}},
    {mnuEditStatistics, {Off, Off, On, On}},
    {mnuOptionsAlwaysOnTop, {On, On, On, On}},
    {mnuOptionsAutoscroll, {On, On, On, On}},
    {mnuOptionsExpandAll, {Off, Off, On, On}},
    {mnuOptionsCollapseAll, {Off, Off, On, On}},
    {mnuOptionsSettings, {On, On, L, L}},
    {mnuOptionsNestByArrival, {On, On, On, On}},
};

// Where a button differs from its menu item: the pressed Run button stays
// clickable while tracing runs (a click only presses it again), and the
// Settings button is offered over an opened trace file.
struct ButtonException {
    Button button;
    Column column;
    Switch state;
};
constexpr ButtonException kButtonExceptions[] = {{Button::Run, kTracingColumn, On},
                                                 {Button::Sett, kTraceFileColumn, On}};

int ColumnOf(long mode) {
    switch (mode) {
    case kHookedListMode: return kHookedListColumn;
    case kComponentListMode: return kComponentListColumn;
    case kTracingMode: return kTracingColumn;
    case kTraceFileMode: return kTraceFileColumn;
    default: return -1;
    }
}

}  // namespace

ModeView ModeTable(long mode, long hookedCount, const std::string& openedTraceFileName) {
    ModeView view;
    int column = ColumnOf(mode);
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
    for (const CommandRow& row : kCommandRows) {
        Switch state = row.state[column];
        if (mode == 1 && row.command == mnuTracingStart) state = hookedCount > 0 ? On : Off;
        view.menus.emplace_back(row.command, state);
        const ToolbarButton* button = ButtonOf(row.command);
        if (!button) continue;
        for (const ButtonException& exception : kButtonExceptions)
            if (exception.button == button->button && exception.column == column) state = exception.state;
        view.buttons.emplace_back(button->button, state);
    }
    return view;
}

}  // namespace shell
