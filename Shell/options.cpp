// The Options menu and its toolbar buttons.
#include "commands.h"
#include "dialogs.h"
#include "mainwindow.h"

namespace shell {

// Autoscroll, Show IUnknown and Show IDispatch: deferred while the trace
// tree takes a batch of records; the trace side replays them afterwards.
void MainWindow::ToggleOption(bool* deferred, const char* key, int menu, bool* setting, bool rebuildsTree) {
    if (*deferred) return;
    if (TreeUpdateInProgress) {
        *deferred = true;
        return;
    }
    // A click on the button has already changed the button's own state.
    if (!ToolbarDispatch) SetButtonPressed(key, !ButtonPressed(key));
    SetMenuChecked(menu, !MenuChecked(menu));
    *setting = !*setting;
    if (rebuildsTree && (settings_.Tree1Mode == kTracingMode || settings_.Tree1Mode == kTraceFileMode)) {
        // The trace tree is rebuilt with the new filter by the trace side.
    }
}

void MainWindow::mnuOptionsAutoscroll_Click() {
    ToggleOption(&DeferredAutoscroll, "Last", mnuOptionsAutoscroll, &settings_.EnsureVisibleLastItem, false);
}

void MainWindow::mnuOptionsShowIUnknown_Click() {
    ToggleOption(&DeferredShowIUnknown, "IUnk", mnuOptionsShowIUnknown, &settings_.ShowIUnknown, true);
}

void MainWindow::mnuOptionsShowIDispatch_Click() {
    ToggleOption(&DeferredShowIDispatch, "IDisp", mnuOptionsShowIDispatch, &settings_.ShowIDispatch, true);
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
