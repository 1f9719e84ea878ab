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
    details_.Tree().SetRedraw(false);
    details_.Tree().Clear();
    int32_t num = NumFromKey(key);
    if (num == FinalReportNum) {
        BuildFinalReportView();
    } else if (readerTexts_) {
        std::vector<std::string> lines = EventDetailsLines(traceView_.Records(), num, *readerTexts_);
        for (size_t i = 0; i < lines.size(); ++i) details_.Tree().Add("", "L_" + std::to_string(i), lines[i]);
    }
    details_.Tree().SetRedraw(true);
    ShowQuickHelp(false);
    NodeClickBusy = false;
}

void MainWindow::BuildFinalReportView() {
    // Every node of the report is shown expanded, so each goes in expanded.
    for (const ReportNode& node : shell::BuildFinalReportView(traceView_.Records()))
        details_.Tree().Add(node.ParentKey, node.Key, node.Text, KeyedTree::kNoImage, true);
}

void MainWindow::mnuEditFinal_Click() {
    std::string key = NodeKey(FinalReportNum);
    if (!tracePane_.Tree().Exists(key)) return;
    tracePane_.Tree().EnsureVisible(key);
    // Selecting another node reports the change, which shows the report;
    // the node already selected reports nothing.
    if (tracePane_.Tree().SelectedKey() == key)
        ShowEventDetails(key);
    else
        tracePane_.Tree().Select(key);
}

}  // namespace shell
