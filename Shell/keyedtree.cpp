#include "keyedtree.h"

namespace shell {

void KeyedTree::Attach(HWND tree, bool lazy) {
    tree_ = tree;
    lazy_ = lazy;
    nodes_.clear();
    index_.clear();
    firstRoot_ = lastRoot_ = kNone;
}

void KeyedTree::SetImageList(HIMAGELIST images) {
    hasImages_ = images != nullptr;
    ::SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

bool KeyedTree::Add(const std::string& parentKey, const std::string& key, const std::string& text, int image,
                    bool expanded) {
    if (Exists(key)) return false;
    uint32_t parent = kNone;
    if (!parentKey.empty()) {
        parent = PositionOf(parentKey);
        if (parent == kNone) return false;
    }
    const uint32_t at = static_cast<uint32_t>(nodes_.size());
    Node& node = nodes_.emplace_back();
    node.key = key;
    node.text = text;
    node.image = image;
    node.parent = parent;
    node.expanded = expanded;
    // Below a node whose children are not in the control the new one waits
    // for its expansion.
    if ((parent == kNone || (nodes_[parent].item && nodes_[parent].filled)) && !Insert(at)) {
        nodes_.pop_back();
        return false;
    }
    Link(at);
    index_.emplace(key, at);
    return true;
}

void KeyedTree::Link(uint32_t at) {
    Node& node = nodes_[at];
    uint32_t& first = node.parent == kNone ? firstRoot_ : nodes_[node.parent].firstChild;
    uint32_t& last = node.parent == kNone ? lastRoot_ : nodes_[node.parent].lastChild;
    node.prev = last;
    node.next = kNone;
    if (last != kNone) nodes_[last].next = at;
    else first = at;
    last = at;
}

bool KeyedTree::Insert(uint32_t first) {
    // A list of the nodes still to insert, not recursion: traces nest deeply.
    std::vector<uint32_t> pending = {first};
    while (!pending.empty()) {
        const uint32_t at = pending.back();
        pending.pop_back();
        Node& node = nodes_[at];
        TVINSERTSTRUCTA insert = {};
        insert.hParent = node.parent == kNone ? TVI_ROOT : nodes_[node.parent].item;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
        insert.item.stateMask = TVIS_EXPANDED;
        insert.item.state = node.expanded ? TVIS_EXPANDED : 0;
        insert.item.pszText = const_cast<char*>(node.text.c_str());
        // Without a picture the node shows the list's empty first image, so
        // that all texts line up.
        insert.item.iImage = insert.item.iSelectedImage = node.image == kNoImage ? 0 : node.image;
        insert.item.lParam = static_cast<LPARAM>(at);
        if (lazy_) {
            // Asked for when drawn: whether the model has children for it.
            insert.item.mask |= TVIF_CHILDREN;
            insert.item.cChildren = I_CHILDRENCALLBACK;
        }
        node.item =
            reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (!node.item) {
            if (at == first) return false;
            continue;
        }
        node.filled = !lazy_ || node.expanded;
        if (!node.filled) continue;
        // Reversed onto the list, so that the children go in in their order.
        for (uint32_t child = node.lastChild; child != kNone; child = nodes_[child].prev) pending.push_back(child);
    }
    return true;
}

void KeyedTree::Fill(uint32_t at) {
    Node& node = nodes_[at];
    if (!node.item || node.filled) return;
    node.filled = true;
    for (uint32_t child = node.firstChild; child != kNone; child = nodes_[child].next) Insert(child);
}

HTREEITEM KeyedTree::Materialize(const std::string& key) {
    uint32_t at = PositionOf(key);
    if (at == kNone) return nullptr;
    if (nodes_[at].item) return nodes_[at].item;
    // The ancestors whose children are not in the control, nearest first.
    std::vector<uint32_t> above;
    for (uint32_t p = nodes_[at].parent; p != kNone && !(nodes_[p].item && nodes_[p].filled); p = nodes_[p].parent)
        above.push_back(p);
    for (auto it = above.rbegin(); it != above.rend(); ++it) Fill(*it);
    return nodes_[at].item;
}

bool KeyedTree::OnNotify(NMHDR* header, LRESULT* result) {
    if (!lazy_ || header->hwndFrom != tree_) return false;
    switch (header->code) {
    case TVN_GETDISPINFOA:
    case TVN_GETDISPINFOW: {
        // Only the children count is asked for; the A and W forms agree on it.
        TVITEMA& item = reinterpret_cast<NMTVDISPINFOA*>(header)->item;
        if (item.mask & TVIF_CHILDREN) {
            size_t at = static_cast<size_t>(item.lParam);
            item.cChildren = at < nodes_.size() && nodes_[at].firstChild != kNone ? 1 : 0;
        }
        *result = 0;
        return true;
    }
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW: {
        auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
        if (change->action & TVE_EXPAND) {
            uint32_t at = PositionOf(KeyOf(change->itemNew.hItem));
            if (at != kNone) Fill(at);
        }
        *result = FALSE;  // the expansion goes ahead
        return true;
    }
    default:
        return false;
    }
}

void KeyedTree::Clear() {
    TreeView_DeleteAllItems(tree_);
    nodes_.clear();
    index_.clear();
    firstRoot_ = lastRoot_ = kNone;
}

std::vector<std::string> KeyedTree::KeysInTreeOrder() const {
    std::vector<std::string> keys;
    keys.reserve(index_.size());
    uint32_t at = firstRoot_;
    while (at != kNone) {
        keys.push_back(nodes_[at].key);
        if (nodes_[at].firstChild != kNone) {
            at = nodes_[at].firstChild;
            continue;
        }
        while (at != kNone && nodes_[at].next == kNone) at = nodes_[at].parent;
        if (at != kNone) at = nodes_[at].next;
    }
    return keys;
}

std::string KeyedTree::KeyOf(HTREEITEM item) const {
    if (!item) return {};
    TVITEMA get = {};
    get.mask = TVIF_PARAM;
    get.hItem = item;
    if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get))) return {};
    size_t at = static_cast<size_t>(get.lParam);
    return at < nodes_.size() ? nodes_[at].key : std::string();
}

uint32_t KeyedTree::PositionOf(const std::string& key) const {
    auto found = index_.find(key);
    return found == index_.end() ? kNone : found->second;
}

const KeyedTree::Node* KeyedTree::Find(const std::string& key) const {
    uint32_t at = PositionOf(key);
    return at == kNone ? nullptr : &nodes_[at];
}

KeyedTree::Node* KeyedTree::Find(const std::string& key) {
    uint32_t at = PositionOf(key);
    return at == kNone ? nullptr : &nodes_[at];
}

HTREEITEM KeyedTree::ItemOf(const std::string& key) const {
    const Node* node = Find(key);
    return node ? node->item : nullptr;
}

std::string KeyedTree::Text(const std::string& key) const {
    const Node* node = Find(key);
    return node ? node->text : std::string();
}

void KeyedTree::SetText(const std::string& key, const std::string& text) {
    Node* node = Find(key);
    if (!node) return;
    node->text = text;
    if (!node->item) return;
    TVITEMA set = {};
    set.mask = TVIF_TEXT;
    set.hItem = node->item;
    set.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&set));
}

int KeyedTree::Image(const std::string& key) const {
    const Node* node = Find(key);
    return node ? node->image : kNoImage;
}

void KeyedTree::SetImage(const std::string& key, int image) {
    Node* node = Find(key);
    if (!node) return;
    node->image = image;
    if (!node->item) return;
    TVITEMA set = {};
    set.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    set.hItem = node->item;
    set.iImage = set.iSelectedImage = image == kNoImage ? 0 : image;
    ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&set));
}

COLORREF KeyedTree::Colour(const std::string& key) const {
    const Node* node = Find(key);
    return node ? node->colour : kDefaultColour;
}

void KeyedTree::SetColour(const std::string& key, COLORREF colour) {
    Node* node = Find(key);
    if (!node) return;
    node->colour = colour;
    ::InvalidateRect(tree_, nullptr, TRUE);
}

void KeyedTree::Expand(const std::string& key, bool expand) {
    uint32_t at = PositionOf(key);
    if (at == kNone) return;
    Node& node = nodes_[at];
    // A node outside the control, or one whose children are not there, is
    // collapsed in it: only the state to insert it with changes.
    if (!node.item || (!node.filled && !expand)) {
        node.expanded = expand;
        return;
    }
    Fill(at);
    TreeView_Expand(tree_, node.item, expand ? TVE_EXPAND : TVE_COLLAPSE);
}

bool KeyedTree::IsExpanded(const std::string& key) const {
    const Node* node = Find(key);
    if (!node) return false;
    if (!node->item) return node->expanded;
    // Asking the control costs a walk over its items: ask only when it can
    // be expanded, with its children in it.
    return node->filled && (TreeView_GetItemState(tree_, node->item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

void KeyedTree::EnsureVisible(const std::string& key) {
    if (HTREEITEM item = Materialize(key)) TreeView_EnsureVisible(tree_, item);
}

void KeyedTree::Select(const std::string& key) {
    if (HTREEITEM item = Materialize(key)) TreeView_SelectItem(tree_, item);
}

std::string KeyedTree::SelectedKey() const { return KeyOf(TreeView_GetSelection(tree_)); }

void KeyedTree::SetRedraw(bool on) {
    ::SendMessageA(tree_, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) ::InvalidateRect(tree_, nullptr, TRUE);
}

LRESULT KeyedTree::OnCustomDraw(NMTVCUSTOMDRAW* draw) const {
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        size_t at = static_cast<size_t>(draw->nmcd.lItemlParam);
        if (at < nodes_.size() && nodes_[at].colour != kDefaultColour &&
            !(draw->nmcd.uItemState & CDIS_SELECTED))
            draw->clrText = nodes_[at].colour;
        return CDRF_DODEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

std::vector<KeyedTree::OrderedItem> KeyedTree::InTreeOrder() const {
    std::vector<OrderedItem> order;
    // Depth first without recursion: a trace can nest deeper than a stack allows.
    std::vector<HTREEITEM> stack;
    for (HTREEITEM item = TreeView_GetRoot(tree_); item;) {
        UINT state = TreeView_GetItemState(tree_, item, TVIS_EXPANDED);
        order.push_back({item, static_cast<int>(stack.size()) + 1, (state & TVIS_EXPANDED) != 0});
        if (HTREEITEM child = TreeView_GetChild(tree_, item)) {
            stack.push_back(item);
            item = child;
            continue;
        }
        HTREEITEM next = TreeView_GetNextSibling(tree_, item);
        while (!next && !stack.empty()) {
            next = TreeView_GetNextSibling(tree_, stack.back());
            stack.pop_back();
        }
        item = next;
    }
    return order;
}

std::string KeyedTree::ItemText(HTREEITEM item) const {
    char text[4096] = "";
    TVITEMA get = {};
    get.mask = TVIF_TEXT;
    get.hItem = item;
    get.pszText = text;
    get.cchTextMax = sizeof text;
    if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get))) return {};
    return text;
}

}  // namespace shell
