// The Options menu and its toolbar buttons.
#include "commands.h"
#include "dialogs.h"
#include "mainwindow.h"

namespace shell {

// Autoscroll, Show IUnknown and Show IDispatch: held back while the trace
// tree takes a batch of records; the poll runs them once afterwards.
void MainWindow::ToggleOption(OptionCommand command, const char* key, int menu, bool* setting, bool rebuildsTree) {
    if (!tracingRun_.RunOptionNow(command)) return;
    *setting = !*setting;
    // Button and check mark follow the setting, whichever way the command
    // came (a toolbar click has already flipped its button, a held-back
    // menu command has not).
    SetButtonPressed(key, *setting);
    SetMenuChecked(menu, *setting);
    if (rebuildsTree && (settings_.Tree1Mode == kTracingMode || settings_.Tree1Mode == kTraceFileMode)) {
        bool polling = timer1On_;
        SetTimer1(false);
        RebuildTraceTree();
        if (polling) SetTimer1(true);
    }
}

void MainWindow::mnuOptionsAutoscroll_Click() {
    ToggleOption(OptionCommand::Autoscroll, "Last", mnuOptionsAutoscroll, &settings_.EnsureVisibleLastItem, false);
}

void MainWindow::mnuOptionsShowIUnknown_Click() {
    ToggleOption(OptionCommand::ShowIUnknown, "IUnk", mnuOptionsShowIUnknown, &settings_.ShowIUnknown, true);
}

void MainWindow::mnuOptionsShowIDispatch_Click() {
    ToggleOption(OptionCommand::ShowIDispatch, "IDisp", mnuOptionsShowIDispatch, &settings_.ShowIDispatch, true);
}

void MainWindow::mnuOptionsAlwaysOnTop_Click() {
    if (!ToolbarDispatch) SetButtonPressed("OnTop", !ButtonPressed("OnTop"));
    SetMenuChecked(mnuOptionsAlwaysOnTop, !MenuChecked(mnuOptionsAlwaysOnTop));
    settings_.AlwaysOnTop = !settings_.AlwaysOnTop;
    Form_Resize();
}

void MainWindow::mnuOptionsSettings_Click() {
    ShowSettingsDialog(instance_, hwnd_, settings_);
    ApplyInterfaceViewButtons();
}

}  // namespace shell
