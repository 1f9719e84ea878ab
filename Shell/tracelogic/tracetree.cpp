// Trace tree model: visibility, node texts and the nearest visible ancestor.
#include "tracetree.h"

#include <cstdio>
#include <cstdlib>

#include "resultnames.h"

namespace shell {

const char* ImageKey(NodeImage image) {
    switch (image) {
    case NodeImage::Call: return "Call";
    case NodeImage::Create: return "Create";
    case NodeImage::Destroy: return "Destroy";
    case NodeImage::Load: return "Load";
    case NodeImage::Unload: return "Unload";
    case NodeImage::Final: return "Final";
    case NodeImage::Failed: return "Failed";
    }
    return "";
}

std::string NodeKey(int32_t num) { return "N_" + std::to_string(num); }

int32_t NumFromKey(const std::string& key) {
    if (key.size() < 3 || key.compare(0, 2, "N_") != 0) return 0;
    char* end = nullptr;
    long value = std::strtol(key.c_str() + 2, &end, 10);
    return *end == '\0' && value > 0 && value <= FinalReportNum ? static_cast<int32_t>(value) : 0;
}

namespace {

bool IsIDispatchMethod(const std::string& name) {
    return name == "Invoke" || name == "GetIDsOfNames" || name == "GetTypeInfo" || name == "GetTypeInfoCount";
}

std::string Instance(const RecInfo& r) { return "<" + r.ClassName + "(" + std::to_string(r.InstanceNum) + ")>"; }

NodeImage ImageOf(uint32_t type) {
    switch (type) {
    case kRecordCreate: return NodeImage::Create;
    case kRecordDestroy: return NodeImage::Destroy;
    case kRecordLoad: return NodeImage::Load;
    case kRecordUnload: return NodeImage::Unload;
    case kRecordFinalReport: return NodeImage::Final;
    default: return NodeImage::Call;
    }
}

}  // namespace

bool IsShown(const RecInfo& r, const TreeViewOptions& options) {
    switch (r.RecType) {
    case kRecordEnter:
        if (r.MethodNum <= 2) return options.ShowIUnknown;
        if (r.MethodName == "Call beyond Vtable") return options.ShowBeyondCalls;
        if (r.MethodNum <= 6 && IsIDispatchMethod(r.MethodName)) return options.ShowIDispatch;
        return options.ShowUserMethods;
    case kRecordCreate:
    case kRecordDestroy:
    case kRecordLoad:
    case kRecordUnload:
    case kRecordFinalReport:
        return true;
    default:
        return false;
    }
}

bool Failed(const RecInfo& r) { return r.RecType == kRecordEnter && r.HasResult && r.Result < 0; }

std::string NodeText(const RecInfo& r) {
    switch (r.RecType) {
    case kRecordEnter:
        if (Failed(r)) {
            std::string name = vx::ResultName(r.Result);
            if (name.empty()) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(r.Result));
                name = hex;
            }
            return r.MethodName + " " + Instance(r) + "  -> " + name;
        }
        return r.MethodName + " " + Instance(r);
    case kRecordCreate: return "CREATING " + Instance(r);
    case kRecordDestroy: return "DESTROYING " + Instance(r);
    case kRecordLoad: return "LOAD DLL: " + r.ClassName;
    case kRecordUnload: return "UNLOAD DLL: " + r.ClassName;
    case kRecordFinalReport: return "FINAL REPORT";
    default: return std::string();
    }
}

TreeNode NodeOf(const RecInfo& r, const TreeViewOptions& options) {
    TreeNode node;
    node.Num = r.Num;
    node.Text = NodeText(r);
    node.Image = Failed(r) ? NodeImage::Failed : ImageOf(r.RecType);
    if (Failed(r)) node.Tint = NodeTint::Failed;
    else if (options.Highlight && options.Highlight->Active() && options.Highlight->Passes(r, options.InterfaceOf))
        node.Tint = NodeTint::Highlighted;
    node.Expanded = options.TreeIsExpanded;
    return node;
}

void ApplyFilter(RecInfo& r, const TraceRecords& records, const TreeViewOptions& options) {
    const RecInfo* parent = r.RecType == kRecordFinalReport ? nullptr : records.Record(r.Parent);
    r.InsideFilteredOut = parent && (parent->FilteredOut || parent->InsideFilteredOut);
    r.FilteredOut = false;
    const TraceFilter* filter = options.Filter;
    if (!filter || !filter->Active() || r.RecType == kRecordFinalReport) return;
    if (!filter->Passes(r, options.InterfaceOf)) r.FilteredOut = true;
    else if (r.InsideFilteredOut && !filter->ShowRuleMatches(r, options.InterfaceOf)) r.FilteredOut = true;
}

void TraceTree::Clear() {
    nodes_.clear();
    indexOfNum_.clear();
    lastRoot_ = 0;
    events_ = 0;
}

std::optional<TreeNode> TraceTree::AddItemToTreeView(RecInfo& r, const TraceRecords& records,
                                                     const TreeViewOptions& options, DiagnosticSink* diag) {
    const std::string name = r.MethodName + "_" + std::to_string(r.Num);
    if (diag && r.RecType == kRecordEnter) diag->Diagn("*** AddItemToTreeView ***  " + name);
    r.Visible = false;
    ApplyFilter(r, records, options);
    if (!IsShown(r, options)) return std::nullopt;
    ++events_;
    if (r.FilteredOut) return std::nullopt;
    r.Visible = true;
    if (diag) diag->Diagn(name + " is VISIBLE");

    // Hidden calls are skipped: what ran inside them hangs under the next
    // enclosing call that is shown, or at the top level.
    int32_t p = r.RecType == kRecordFinalReport ? 0 : r.Parent;
    const RecInfo* parent = nullptr;
    while (p != 0) {
        parent = records.Record(p);
        if (!parent) {
            p = 0;
            break;
        }
        if (parent->Visible) break;
        p = parent->Parent;
    }
    int32_t parentIndex = 0;
    if (p != 0 && p > 0 && static_cast<size_t>(p) < indexOfNum_.size()) parentIndex = indexOfNum_[p];
    if (parentIndex == 0) p = 0;  // a parent without a node cannot take children
    if (diag) {
        diag->Diagn(p != 0 ? "Parent (visible) for it: " + parent->MethodName + "_" + std::to_string(p)
                           : std::string("Parent (visible) for it: Root"));
    }

    nodes_.push_back({r.Num, parentIndex});
    const int32_t index = NodeCount();
    if (p == 0) lastRoot_ = index;
    if (r.Num > 0 && r.Num != FinalReportNum) {
        if (indexOfNum_.size() <= static_cast<size_t>(r.Num)) indexOfNum_.resize(static_cast<size_t>(r.Num) + 1, 0);
        indexOfNum_[r.Num] = index;
    }

    TreeNode node = NodeOf(r, options);
    node.ParentNum = p;
    node.Index = index;
    return node;
}

std::vector<TreeNode> TraceTree::RebuildTraceTree(TraceRecords& records, const TreeViewOptions& options,
                                                  DiagnosticSink* diag) {
    Clear();
    std::vector<TreeNode> out;
    // Parents have lower numbers than their children, so each parent's
    // visibility is settled before its children are offered.
    for (RecInfo& r : records.AllRecords()) {
        if (auto node = AddItemToTreeView(r, records, options, diag)) out.push_back(std::move(*node));
    }
    return out;
}

int32_t TraceTree::NumAt(int32_t index) const {
    return index >= 1 && index <= NodeCount() ? nodes_[static_cast<size_t>(index) - 1].num : 0;
}

int32_t TraceTree::AutoscrollNum(bool ensureVisibleLastItem, bool treeIsExpanded) const {
    if (!ensureVisibleLastItem) return 0;
    return NumAt(treeIsExpanded ? LastNodeIndex() : LastRootNodeIndex());
}

std::vector<int32_t> TraceTree::TreeOrder() const {
    // Children lists by index; nodes are only ever appended as last children,
    // so insertion order within one parent is the tree's order.
    std::vector<std::vector<int32_t>> children(nodes_.size() + 1);
    for (size_t i = 0; i < nodes_.size(); ++i) children[static_cast<size_t>(nodes_[i].parentIndex)].push_back(
        static_cast<int32_t>(i + 1));
    std::vector<int32_t> order;
    order.reserve(nodes_.size());
    std::vector<std::pair<int32_t, size_t>> stack{{0, 0}};
    while (!stack.empty()) {
        auto& [index, next] = stack.back();
        const auto& kids = children[static_cast<size_t>(index)];
        if (next == kids.size()) {
            stack.pop_back();
            continue;
        }
        int32_t child = kids[next++];
        order.push_back(nodes_[static_cast<size_t>(child) - 1].num);
        stack.push_back({child, 0});
    }
    return order;
}

}  // namespace shell

