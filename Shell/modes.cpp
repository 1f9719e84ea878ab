// Window modes and the Quick Help pane.
#include "commands.h"
#include "mainwindow.h"
#include "modetable.h"

namespace shell {

void MainWindow::ApplyTree1Mode() {
    long mode = settings_.Tree1Mode;
    if (mode == kHookedListMode) FillHookedList();
    ModeView view = ModeTable(mode, HookedCount, ShortNameOfPath(settings_.OpenedTraceFile));
    if (view.setTreeTitle) SetTitle(txtTreeViewTitle, view.treeTitle);
    if (view.detailsThroughHelpRule)
        SetDetailsTitle(view.detailsTitle);
    else if (!view.detailsTitle.empty())
        SetTitle(txtDetails, view.detailsTitle);
    std::vector<std::pair<const char*, std::string>> panels;
    for (const ModeView::Panel& panel : view.panels) panels.emplace_back(panel.key, panel.text);
    SetPanels(panels);
    ApplyInterfaceViewButtons();
    if (view.releaseRun) SetButtonPressed("Run", false);
    for (const auto& [key, state] : view.buttons)
        if (state != Switch::kLeave) SetButtonEnabled(key, state == Switch::kOn);
    for (const auto& [command, state] : view.menus)
        if (state != Switch::kLeave) SetMenuEnabled(command, state == Switch::kOn);
    SetButtonPressed("OnTop", settings_.AlwaysOnTop);
    SetButtonPressed("Last", settings_.EnsureVisibleLastItem);
    SetMenuChecked(mnuOptionsAlwaysOnTop, settings_.AlwaysOnTop);
    SetMenuChecked(mnuOptionsAutoscroll, settings_.EnsureVisibleLastItem);
    // Nothing hooked yet: the help tells a first-time user what to do.
    if (mode == kHookedListMode && HookedCount == 0) mnuHelpHelp_Click();
}

void MainWindow::ApplyInterfaceViewButtons() {
    struct Row {
        bool collect, show;
        const char* key;
        int menu;
    };
    const Row rows[] = {{settings_.CollectIUnknown, settings_.ShowIUnknown, "IUnk", mnuOptionsShowIUnknown},
                        {settings_.CollectIDispatch, settings_.ShowIDispatch, "IDisp", mnuOptionsShowIDispatch}};
    for (const Row& row : rows) {
        if (row.collect) {
            SetButtonPressed(row.key, row.show);
            SetMenuChecked(row.menu, row.show);
            SetButtonEnabled(row.key, true);
            SetMenuEnabled(row.menu, true);
        } else {
            // Calls that are not collected cannot be shown: the check mark stays as it is.
            SetButtonPressed(row.key, false);
            SetButtonEnabled(row.key, false);
            SetMenuEnabled(row.menu, false);
        }
    }
}

// While Quick Help covers the right pane its title stays "Quick Help".
void MainWindow::SetDetailsTitle(const std::string& title) {
    if (MenuChecked(mnuHelpHelp))
        SavedDetailsTitle = title;
    else
        SetTitle(txtDetails, title);
}

void MainWindow::ShowQuickHelp(bool show) {
    if (show == quickHelpShown_) return;
    quickHelpShown_ = show;
    SetMenuChecked(mnuHelpHelp, show);
    if (show) {
        SavedDetailsTitle = TitleOf(txtDetails);
        SetTitle(txtDetails, "Quick Help");
        ::MoveWindow(rtfHelp, Px(layout_.tree2.left), Px(layout_.tree2.top), Px(layout_.tree2.width),
                     Px(layout_.tree2.height), TRUE);
        ::ShowWindow(rtfHelp, SW_SHOW);
        ::SetWindowPos(rtfHelp, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ::ShowWindow(hwndTree2, SW_HIDE);
    } else {
        ::ShowWindow(rtfHelp, SW_HIDE);
        ::ShowWindow(hwndTree2, SW_SHOW);
        SetTitle(txtDetails, SavedDetailsTitle);
    }
}

void MainWindow::mnuHelpHelp_Click() { ShowQuickHelp(!quickHelpShown_); }

}  // namespace shell
