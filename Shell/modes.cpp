// Window modes and the Quick Help pane.
#include "commands.h"
#include "mainwindow.h"
#include "modetable.h"

namespace shell {

void MainWindow::ApplyTree1Mode() {
    long mode = settings_.Tree1Mode;
    if (mode == kHookedListMode) FillHookedList();
    ModeView view = ModeTable(mode, HookedCount, ShortNameOfPath(settings_.OpenedTraceFile));
    if (view.setTreeTitle) ::SetWindowTextA(txtTreeViewTitle, view.treeTitle.c_str());
    if (view.detailsThroughHelpRule || !view.detailsTitle.empty())
        details_.SetTitle(view.detailsTitle, view.detailsThroughHelpRule);
    std::vector<std::pair<const char*, std::string>> panels;
    for (const ModeView::Panel& panel : view.panels) panels.emplace_back(panel.key, panel.text);
    status_.Set(panels);
    ApplyInterfaceViewButtons();
    if (view.releaseRun) bar_.Press(Button::Run, false);
    for (const auto& [button, state] : view.buttons)
        if (state != Switch::kLeave) bar_.EnableButton(button, state == Switch::kOn);
    for (const auto& [command, state] : view.menus)
        if (state != Switch::kLeave) bar_.EnableMenu(command, state == Switch::kOn);
    bar_.Check(mnuOptionsAlwaysOnTop, settings_.AlwaysOnTop);
    bar_.Check(mnuOptionsAutoscroll, settings_.EnsureVisibleLastItem);
    // Nothing hooked yet: the help tells a first-time user what to do.
    if (mode == kHookedListMode && HookedCount == 0) mnuHelpHelp_Click();
}

void MainWindow::ApplyInterfaceViewButtons() {
    struct Row {
        bool collect, show;
        Command command;
    };
    const Row rows[] = {{settings_.CollectIUnknown, settings_.ShowIUnknown, mnuOptionsShowIUnknown},
                        {settings_.CollectIDispatch, settings_.ShowIDispatch, mnuOptionsShowIDispatch}};
    for (const Row& row : rows) {
        if (row.collect) {
            bar_.Check(row.command, row.show);
            bar_.Enable(row.command, true);
        } else {
            // Calls that are not collected cannot be shown: the check mark stays as it is.
            bar_.Press(ButtonOf(row.command)->button, false);
            bar_.Enable(row.command, false);
        }
    }
}

void MainWindow::ShowQuickHelp(bool show) {
    if (details_.ShowQuickHelp(show, QuickHelpPlace())) bar_.Check(mnuHelpHelp, show);
}

void MainWindow::mnuHelpHelp_Click() { ShowQuickHelp(!details_.QuickHelpShown()); }

}  // namespace shell
