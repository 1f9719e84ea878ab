// The current trace view: its records and its tree together, as the poll, the
// reading of a saved trace and the event handlers use them. Each call returns
// the nodes the window inserts, in order, as one batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recinfo.h"
#include "tracerecords.h"
#include "tracetree.h"

namespace shell {

class TraceView {
public:
    // ResetTraceView's part: records, tree and counters emptied; no limit.
    void ResetTraceView();

    // Takes one batch of `GetNewRecords` (byte length / 20 descriptors; a
    // partial descriptor at the end is ignored) and returns the new nodes.
    std::vector<TreeNode> RegNewRecords(const uint8_t* bytes, size_t length, TraceReaderTexts& reader,
                                        const TreeViewOptions& options);

    // The final-report record and its node (top level); nothing when the view
    // already holds one.
    std::optional<TreeNode> AddFinalReport(const TreeViewOptions& options);

    // Every node again from an empty tree (Show IUnknown and IDispatch,
    // Expand All, Collapse All).
    std::vector<TreeNode> RebuildTraceTree(const TreeViewOptions& options, DiagnosticSink* diag = nullptr);

    // Nodes whose call has returned since the last call (a failed call's
    // node gets its result and image), as the options draw them now.
    std::vector<TreeNode> TakeChangedNodes(const TreeViewOptions& options);
    // Whether a call's result, come with its EXIT, changed what a filter on
    // results shows: the tree is then rebuilt once.
    bool TakeRebuildDue();

    // A saved trace cut inside a record: records whose text starts at or past
    // this offset are not taken (see InspectTraceFile).
    void LimitToOffset(uint64_t end) { offsetLimit_ = end; }

    // The view takes at most `limit` records until it is reset; the rest are
    // counted, not kept (the trace files keep them).
    void SetRecordLimit(size_t limit) { recordLimit_ = limit; }
    bool LimitReached() const { return leftOut_ > 0; }
    size_t RecordsLeftOut() const { return leftOut_; }
    // Status text once the limit is reached.
    std::string LimitText() const;

    // The writer's record counter from the latest GetNewRecords.
    void SetRealLastRecord(long value) { realLastRecord_ = value; }
    long RealLastRecord() const { return realLastRecord_; }

    // Status panel "Processed": "Processed Items: " + nodes + " "; with a
    // filter on, "Showing " + nodes + " of " + events + " events ".
    std::string ProcessedText(bool filtered = false) const;
    // Status panel "Queued": "Queued Events: " + records not yet taken + " "
    // (never below 0: the writer's counter can lag behind the view's count).
    std::string QueuedText() const;

    TraceRecords& Records() { return records_; }
    const TraceRecords& Records() const { return records_; }
    TraceTree& Tree() { return tree_; }
    const TraceTree& Tree() const { return tree_; }

private:
    void Returned(const RecInfo& exit, const TreeViewOptions& options);

    TraceRecords records_;
    TraceTree tree_;
    long realLastRecord_ = 0;
    uint64_t offsetLimit_ = UINT64_MAX;
    size_t recordLimit_ = SIZE_MAX;
    size_t leftOut_ = 0;
    std::vector<int32_t> changed_;
    bool rebuildDue_ = false;
};

}  // namespace shell
