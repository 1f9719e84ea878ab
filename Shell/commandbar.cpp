#include "commandbar.h"

#include <initializer_list>
#include <vector>

#include "images.h"

namespace shell {
namespace {

struct MenuItem {
    int id;  // 0: separator
    const char* caption;
};

void AddItems(HMENU menu, std::initializer_list<MenuItem> items) {
    for (const MenuItem& item : items) {
        if (item.id == 0)
            ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.id), item.caption);
    }
}

void Popup(HMENU bar, const char* caption, std::initializer_list<MenuItem> items) {
    HMENU menu = ::CreatePopupMenu();
    AddItems(menu, items);
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), caption);
}

UINT EnabledFlag(bool on) { return MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED); }

}  // namespace

void CommandBar::Create(HWND owner, HINSTANCE instance) {
    menu_ = ::CreateMenu();
    Popup(menu_, "&Component",
          {{mnuComponentList, "&List DLLs"}, {mnuComponentHookUnhook, "&Hook/Unhook"},
           {mnuComponentViewTypeLib, "&View TypeLib"}, {0, nullptr}, {mnuComponentExit, "&Exit"}});
    Popup(menu_, "&Tracing", {{mnuTracingStart, "&Start"}, {mnuTracingStop, "S&top"}});
    Popup(menu_, "Trace&File",
          {{mnuTraceFileOpen, "&Open"}, {mnuTraceFileSave, "&Save Trace"}, {0, nullptr},
           {mnuTraceFileExport, "&Export..."}, {mnuTraceFileCompare, "&Compare With..."}});
    Popup(menu_, "&Edit",
          {{mnuEditFont, "F&ont"}, {0, nullptr}, {mnuEditFind, "&Find"}, {mnuEditFindNext, "Find &Next\tF3"},
           {mnuEditCopy, "&Copy"}, {0, nullptr}, {mnuEditFinal, "Final &Report"}, {0, nullptr},
           {mnuEditFilter, "Fi&lter...\tCtrl+L"}, {mnuEditResetFilter, "Reset Fil&ter"},
           {mnuEditHighlight, "&Highlight..."}, {mnuEditStatistics, "&Statistics"}});
    Popup(menu_, "&Options",
          {{mnuOptionsAlwaysOnTop, "&Always On Top"}, {mnuOptionsAutoscroll, "A&utoscroll"}, {0, nullptr},
           {mnuOptionsExpandAll, "&Expand All"}, {mnuOptionsCollapseAll, "&Collapse All"}, {0, nullptr},
           {mnuOptionsShowIUnknown, "Show I&Unknown"}, {mnuOptionsShowIDispatch, "Show I&Dispatch"},
           {mnuOptionsNestByArrival, "&Nest by Arrival Order"}, {0, nullptr}, {mnuOptionsSettings, "&Settings"}});
    Popup(menu_, "&Help", {{mnuHelpHelp, "Quick &Help"}, {0, nullptr}, {mnuHelpAbout, "&About"}});
    ::SetMenu(owner, menu_);
    // The hidden "ComponentPopup", shown as a context menu.
    popup_.reset(::CreatePopupMenu());
    AddItems(popup_.get(), {{mnuHookUnhook, "Hook/Unhook"}, {mnuViewTypeLib, "View TypeLib"}});
    tracePopup_.reset(::CreatePopupMenu());
    AddItems(tracePopup_.get(), {{mnuShowOnlyClass, "Show only this class"}, {mnuShowOnlyMethod, "Show only this method"},
                                 {mnuShowOnlyThread, "Show only this thread"}, {mnuShowOnlyProcess, "Show only this process"},
                                 {0, nullptr}, {mnuHideClass, "Hide this class"}, {mnuHideMethod, "Hide this method"},
                                 {0, nullptr}, {mnuShowFailedOnly, "Show failed calls only"},
                                 {mnuEditResetFilter, "Reset filter"}});

    toolbar_ = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                                 WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0, owner,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolbarId)), instance, nullptr);
    ::SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    images_.reset(CreateToolbarImages());
    ::SendMessageA(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
    std::vector<TBBUTTON> buttons;
    for (const ToolbarButton& row : kToolbarButtons) {
        if (row.startsGroup) {
            TBBUTTON separator = {};
            separator.iBitmap = 6;
            separator.fsStyle = BTNS_SEP;
            buttons.push_back(separator);
        }
        TBBUTTON b = {};
        b.iBitmap = static_cast<int>(row.button);
        b.idCommand = ButtonId(row.button);
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = static_cast<BYTE>(row.twoState ? BTNS_CHECK : BTNS_BUTTON);
        buttons.push_back(b);
    }
    ::SendMessageA(toolbar_, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    AutoSize();
}

int CommandBar::Height() const {
    RECT r = {};
    ::GetWindowRect(toolbar_, &r);
    return r.bottom - r.top;
}

void CommandBar::AutoSize() { ::SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0); }

void CommandBar::Enable(Command command, bool on) {
    EnableMenu(command, on);
    if (const ToolbarButton* row = ButtonOf(command)) EnableButton(row->button, on);
}

void CommandBar::Check(Command command, bool on) {
    ::CheckMenuItem(menu_, command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    const ToolbarButton* row = ButtonOf(command);
    if (row && row->twoState) Press(row->button, on);
}

void CommandBar::EnableMenu(Command command, bool on) { ::EnableMenuItem(menu_, command, EnabledFlag(on)); }

void CommandBar::EnableButton(Button button, bool on) {
    ::SendMessageA(toolbar_, TB_ENABLEBUTTON, ButtonId(button), MAKELONG(on ? TRUE : FALSE, 0));
}

void CommandBar::Press(Button button, bool pressed) {
    ::SendMessageA(toolbar_, TB_CHECKBUTTON, ButtonId(button), MAKELONG(pressed ? TRUE : FALSE, 0));
}

bool CommandBar::Pressed(Button button) const {
    return ::SendMessageA(toolbar_, TB_ISBUTTONCHECKED, ButtonId(button), 0) != 0;
}

bool CommandBar::MenuChecked(Command command) const { return (MenuState(command) & MF_CHECKED) != 0; }

UINT CommandBar::MenuState(UINT command) const { return ::GetMenuState(menu_, command, MF_BYCOMMAND); }

void CommandBar::EnableComponentCommands(bool on) {
    for (Command command : {mnuComponentHookUnhook, mnuComponentViewTypeLib}) Enable(command, on);
    for (Command command : {mnuHookUnhook, mnuViewTypeLib}) ::EnableMenuItem(popup_.get(), command, EnabledFlag(on));
}

void CommandBar::ShowPopup(HWND owner) const {
    POINT at;
    ::GetCursorPos(&at);
    ::TrackPopupMenu(popup_.get(), TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
}

void CommandBar::ShowTracePopup(HWND owner, bool call) const {
    for (int command : {mnuShowOnlyMethod, mnuHideMethod})
        ::EnableMenuItem(tracePopup_.get(), static_cast<UINT>(command), MF_BYCOMMAND | (call ? MF_ENABLED : MF_GRAYED));
    POINT at;
    ::GetCursorPos(&at);
    ::TrackPopupMenu(tracePopup_.get(), TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
}

bool CommandBar::Allows(int command, bool fromToolbar) const {
    if (fromToolbar) {
        if (const ToolbarButton* row = ButtonOf(command))
            return ::SendMessageA(toolbar_, TB_ISBUTTONENABLED, ButtonId(row->button), 0) != 0;
    }
    return (MenuState(static_cast<UINT>(command)) & (MF_GRAYED | MF_DISABLED)) == 0;
}

void CommandBar::ShowRunLamp(bool lamp) {
    int image = lamp ? static_cast<int>(kToolbarButtonCount) : static_cast<int>(Button::Run);
    ::SendMessageA(toolbar_, TB_CHANGEBITMAP, ButtonId(Button::Run), MAKELPARAM(image, 0));
}

bool CommandBar::OnTooltip(NMHDR* header) const {
    if (header->code != TTN_GETDISPINFOA) return false;
    if (const ToolbarButton* row = ButtonOfId(static_cast<int>(header->idFrom))) {
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
        info->lpszText = const_cast<char*>(row->button == Button::Run ? runTooltip_.c_str() : row->tooltip);
    }
    return true;
}

}  // namespace shell
