// The trace tree as a model: which records get a node (the visibility
// table), each node's key, text and image, and under which node it hangs (the
// nearest visible enclosing call). The window inserts the nodes this model
// hands out, in order, with redrawing off around each batch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recinfo.h"
#include "tracefilter.h"
#include "tracerecords.h"

namespace shell {

// The settings the tree is built from (the window copies them from Settings).
struct TreeViewOptions {
    bool ShowIUnknown = false;
    bool ShowIDispatch = false;
    bool ShowUserMethods = true;
    bool ShowBeyondCalls = false;
    bool TreeIsExpanded = true;
    // The rules that hide and that highlight (none when null or empty), and
    // an ENTER's interface for the rules that name one.
    const TraceFilter* Filter = nullptr;
    const TraceFilter* Highlight = nullptr;
    InterfaceLookup InterfaceOf;
};

enum class NodeImage { Call, Create, Destroy, Load, Unload, Final, Failed };
// The image list key: "Call", "Create", "Destroy", "Load", "Unload", "Final", "Failed".
const char* ImageKey(NodeImage image);

// How a node's text is drawn: failed calls and highlighted ones stand out.
enum class NodeTint { Plain, Failed, Highlighted };

// "N_" followed by the record number.
std::string NodeKey(int32_t num);
// The number after "N_" of a node key; 0 when the key is not one.
int32_t NumFromKey(const std::string& key);

// One node to insert: as the last child of the node keyed ParentKey(), or at
// the end of the top level when ParentNum is 0.
struct TreeNode {
    int32_t Num = 0;
    int32_t ParentNum = 0;
    int32_t Index = 0;  // tree index: order of addition, from 1
    std::string Text;
    NodeImage Image = NodeImage::Call;
    NodeTint Tint = NodeTint::Plain;
    bool Expanded = true;  // for the node and for its parent

    std::string Key() const { return NodeKey(Num); }
    std::string ParentKey() const { return ParentNum == 0 ? std::string() : NodeKey(ParentNum); }
};

// Whether the record gets a node under these options.
bool IsShown(const RecInfo& record, const TreeViewOptions& options);
// The node text of a record that can have a node ("" for the others); a
// failed call's ends with its result's name: "Divide <Calc(1)>  -> DISP_E_DIVBYZERO".
std::string NodeText(const RecInfo& record);
// A record's node as the options draw it (text, image, tint), under no parent.
TreeNode NodeOf(const RecInfo& record, const TreeViewOptions& options);
// Whether the filter of the options hides the record (and so, what ran
// inside it): settles FilteredOut and InsideFilteredOut; the parent's must be
// settled already.
void ApplyFilter(RecInfo& record, const TraceRecords& records, const TreeViewOptions& options);

class TraceTree {
public:
    // Empties the tree (indexes start again at 1).
    void Clear();

    // Offers one record: sets its Visible and returns its node, or nothing
    // when it gets none. Its parent's visibility must be settled already.
    std::optional<TreeNode> AddItemToTreeView(RecInfo& record, const TraceRecords& records,
                                              const TreeViewOptions& options, DiagnosticSink* diag);

    // Every node of the view again, from an empty tree, in insertion order.
    std::vector<TreeNode> RebuildTraceTree(TraceRecords& records, const TreeViewOptions& options,
                                           DiagnosticSink* diag);

    int32_t NodeCount() const { return static_cast<int32_t>(nodes_.size()); }
    // Records the view options show, whether the filter hides them or not.
    int32_t EventCount() const { return events_; }
    int32_t LastRootNodeIndex() const { return lastRoot_; }
    int32_t LastNodeIndex() const { return nodes_.empty() ? 0 : NodeCount(); }
    // Record number of the node at a tree index (1-based); 0 for none.
    int32_t NumAt(int32_t index) const;

    // The node to scroll to after a batch: the last node when the tree is
    // expanded, else the last top-level node; 0 for none or no autoscroll.
    int32_t AutoscrollNum(bool ensureVisibleLastItem, bool treeIsExpanded) const;

    // Record numbers in the tree's own order (parents before children,
    // children in order of addition), as Find counts nodes.
    std::vector<int32_t> TreeOrder() const;

private:
    struct Entry {
        int32_t num;
        int32_t parentIndex;  // 0: top level
    };
    std::vector<Entry> nodes_;
    std::vector<int32_t> indexOfNum_;  // by Num (records of the view), 0 for none
    int32_t lastRoot_ = 0;
    int32_t events_ = 0;
};

}  // namespace shell
