// The trace view: record intake feeding the tree model.
#include "traceview.h"

#include <cstring>

namespace shell {

void TraceView::ResetTraceView() {
    records_.Reset();
    changed_.clear();
    rebuildDue_ = false;
    tree_.Clear();
    offsetLimit_ = UINT64_MAX;
    leftOut_ = 0;
}

std::vector<TreeNode> TraceView::RegNewRecords(const uint8_t* bytes, size_t length, TraceReaderTexts& reader,
                                               const TreeViewOptions& options) {
    std::vector<TreeNode> nodes;
    const size_t n = bytes ? length / kDescriptorSize : 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* descriptor = bytes + i * kDescriptorSize;
        if (offsetLimit_ != UINT64_MAX) {
            RecInfo probe;
            DecodeDescriptor(descriptor, &probe);
            if (probe.Pointer >= offsetLimit_) continue;
        }
        if (static_cast<size_t>(records_.RecordCount()) >= recordLimit_) {
            ++leftOut_;
            continue;
        }
        RecInfo& r = records_.Take(descriptor, reader);
        if (r.RecType == kRecordExit) Returned(r, options);
        if (auto node = tree_.AddItemToTreeView(r, records_, options, &reader)) nodes.push_back(std::move(*node));
    }
    return nodes;
}

// Its call's result is known now: what shows the call may change with it.
void TraceView::Returned(const RecInfo& exit, const TreeViewOptions& options) {
    RecInfo* enter = records_.Record(exit.EnterForExit);
    if (!enter || !enter->HasResult) return;
    bool resultRules = (options.Filter && options.Filter->UsesResult()) ||
                       (options.Highlight && options.Highlight->UsesResult());
    if (enter->Visible && (enter->Result < 0 || resultRules)) changed_.push_back(enter->Num);
    if (options.Filter && options.Filter->UsesResult()) {
        bool hidden = enter->FilteredOut;
        ApplyFilter(*enter, records_, options);
        rebuildDue_ |= hidden != enter->FilteredOut;
    }
}

std::vector<TreeNode> TraceView::TakeChangedNodes(const TreeViewOptions& options) {
    std::vector<TreeNode> nodes;
    for (int32_t num : changed_)
        if (const RecInfo* r = records_.Record(num); r && r->Visible) nodes.push_back(NodeOf(*r, options));
    changed_.clear();
    return nodes;
}

bool TraceView::TakeRebuildDue() {
    bool due = rebuildDue_;
    rebuildDue_ = false;
    return due;
}

std::optional<TreeNode> TraceView::AddFinalReport(const TreeViewOptions& options) {
    RecInfo* r = records_.AddFinalReportRecord();
    if (!r) return std::nullopt;
    return tree_.AddItemToTreeView(*r, records_, options, nullptr);
}

std::vector<TreeNode> TraceView::RebuildTraceTree(const TreeViewOptions& options, DiagnosticSink* diag) {
    return tree_.RebuildTraceTree(records_, options, diag);
}

std::string TraceView::ProcessedText(bool filtered) const {
    if (filtered)
        return "Showing " + std::to_string(tree_.NodeCount()) + " of " + std::to_string(tree_.EventCount()) + " events ";
    return "Processed Items: " + std::to_string(tree_.NodeCount()) + " ";
}

std::string TraceView::LimitText() const {
    return "View full at " + std::to_string(recordLimit_) + " records; " + std::to_string(leftOut_) +
           " more are only in the trace files.";
}

std::string TraceView::QueuedText() const {
    long queued = realLastRecord_ - records_.RecordCount() - static_cast<long>(leftOut_);
    return "Queued Events: " + std::to_string(queued > 0 ? queued : 0) + " ";
}

}  // namespace shell
