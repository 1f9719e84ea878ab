// The right pane in the trace modes: the selected event's lines, or the
// final report when FINAL REPORT is selected.
#include "commands.h"
#include "mainwindow.h"

namespace shell {

void MainWindow::ShowEventDetails(const std::string& key) {
    // The pane is filled while messages may run (the reader's calls): a
    // click meanwhile is ignored.
    if (NodeClickBusy) return;
    NodeClickBusy = true;
    TreeView2.SetRedraw(false);
    TreeView2.Clear();
    int32_t num = NumFromKey(key);
    if (num == FinalReportNum) {
        BuildFinalReportView();
    } else if (readerTexts_) {
        std::vector<std::string> lines = EventDetailsLines(traceView_.Records(), num, *readerTexts_);
        for (size_t i = 0; i < lines.size(); ++i) TreeView2.Add("", "L_" + std::to_string(i), lines[i]);
    }
    TreeView2.SetRedraw(true);
    if (quickHelpShown_) ShowQuickHelp(false);
    NodeClickBusy = false;
}

void MainWindow::BuildFinalReportView() {
    // Every node of the report is shown expanded, so each goes in expanded.
    for (const ReportNode& node : shell::BuildFinalReportView(traceView_.Records()))
        TreeView2.Add(node.ParentKey, node.Key, node.Text, KeyedTree::kNoImage, true);
}

void MainWindow::mnuEditFinal_Click() {
    std::string key = NodeKey(FinalReportNum);
    if (!TreeView1.Exists(key)) return;
    TreeView1.EnsureVisible(key);
    // Selecting another node reports the change, which shows the report;
    // the node already selected reports nothing.
    if (TreeView1.SelectedKey() == key)
        ShowEventDetails(key);
    else
        TreeView1.Select(key);
}

}  // namespace shell
