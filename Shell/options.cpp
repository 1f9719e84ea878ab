// The Options menu and its toolbar buttons.
#include "commands.h"
#include "dialogs.h"
#include "mainwindow.h"

namespace shell {

// Autoscroll, Show IUnknown and Show IDispatch: held back while the trace
// tree takes a batch of records; the poll runs them once afterwards.
void MainWindow::ToggleOption(OptionCommand command, Command menu, bool* setting, bool rebuildsTree) {
    if (!tracingRun_.RunOptionNow(command)) return;
    *setting = !*setting;
    // Button and check mark follow the setting, whichever way the command
    // came (a toolbar click has already flipped its button, a held-back
    // menu command has not).
    bar_.Check(menu, *setting);
    if (rebuildsTree && (settings_.Tree1Mode == kTracingMode || settings_.Tree1Mode == kTraceFileMode)) {
        bool polling = timer1On_;
        SetTimer1(false);
        RebuildTraceTree();
        if (polling) SetTimer1(true);
    }
}

void MainWindow::mnuOptionsAutoscroll_Click() {
    ToggleOption(OptionCommand::Autoscroll, mnuOptionsAutoscroll, &settings_.EnsureVisibleLastItem, false);
}

void MainWindow::mnuOptionsShowIUnknown_Click() {
    ToggleOption(OptionCommand::ShowIUnknown, mnuOptionsShowIUnknown, &settings_.ShowIUnknown, true);
}

void MainWindow::mnuOptionsShowIDispatch_Click() {
    ToggleOption(OptionCommand::ShowIDispatch, mnuOptionsShowIDispatch, &settings_.ShowIDispatch, true);
}

void MainWindow::mnuOptionsAlwaysOnTop_Click() {
    // As the other options: button and check mark follow the setting.
    settings_.AlwaysOnTop = !settings_.AlwaysOnTop;
    bar_.Check(mnuOptionsAlwaysOnTop, settings_.AlwaysOnTop);
    Form_Resize();
}

void MainWindow::mnuOptionsSettings_Click() {
    ShowSettingsDialog(instance_, hwnd_, settings_);
    ApplyInterfaceViewButtons();
}

}  // namespace shell
