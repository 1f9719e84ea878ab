#include "keyedtree.h"

namespace shell {

void KeyedTree::Attach(HWND tree) {
    tree_ = tree;
    nodes_.clear();
    index_.clear();
}

void KeyedTree::SetImageList(HIMAGELIST images) {
    hasImages_ = images != nullptr;
    ::SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

bool KeyedTree::Add(const std::string& parentKey, const std::string& key, const std::string& text, int image,
                    bool expanded) {
    if (Exists(key)) return false;
    HTREEITEM parent = TVI_ROOT;
    if (!parentKey.empty()) {
        parent = ItemOf(parentKey);
        if (!parent) return false;
    }
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    insert.item.stateMask = TVIS_EXPANDED;
    insert.item.state = expanded ? TVIS_EXPANDED : 0;
    insert.item.pszText = const_cast<char*>(text.c_str());
    // Without a picture the node shows the list's empty first image, so
    // that all texts line up.
    insert.item.iImage = insert.item.iSelectedImage = image == kNoImage ? 0 : image;
    insert.item.lParam = static_cast<LPARAM>(nodes_.size());
    HTREEITEM item = reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (!item) return false;
    nodes_.push_back({key, item, kDefaultColour, image, true});
    index_.emplace(key, nodes_.size() - 1);
    return true;
}

void KeyedTree::Forget(HTREEITEM item) {
    // A list of the nodes still to visit, not recursion: traces nest deeply.
    std::vector<HTREEITEM> pending = {item};
    while (!pending.empty()) {
        HTREEITEM node = pending.back();
        pending.pop_back();
        for (HTREEITEM child = TreeView_GetChild(tree_, node); child; child = TreeView_GetNextSibling(tree_, child))
            pending.push_back(child);
        TVITEMA get = {};
        get.mask = TVIF_PARAM;
        get.hItem = node;
        if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get))) continue;
        size_t at = static_cast<size_t>(get.lParam);
        if (at >= nodes_.size() || !nodes_[at].alive) continue;
        nodes_[at].alive = false;
        index_.erase(nodes_[at].key);
    }
}

bool KeyedTree::Remove(const std::string& key) {
    HTREEITEM item = ItemOf(key);
    if (!item) return false;
    Forget(item);
    TreeView_DeleteItem(tree_, item);
    return true;
}

void KeyedTree::Clear() {
    TreeView_DeleteAllItems(tree_);
    nodes_.clear();
    index_.clear();
}

std::string KeyedTree::KeyAt(size_t i) const {
    for (const Node& node : nodes_) {
        if (!node.alive) continue;
        if (i == 0) return node.key;
        --i;
    }
    return {};
}

std::string KeyedTree::KeyOf(HTREEITEM item) const {
    if (!item) return {};
    TVITEMA get = {};
    get.mask = TVIF_PARAM;
    get.hItem = item;
    if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get))) return {};
    size_t at = static_cast<size_t>(get.lParam);
    return at < nodes_.size() && nodes_[at].alive ? nodes_[at].key : std::string();
}

const KeyedTree::Node* KeyedTree::Find(const std::string& key) const {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &nodes_[found->second];
}

KeyedTree::Node* KeyedTree::Find(const std::string& key) {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &nodes_[found->second];
}

HTREEITEM KeyedTree::ItemOf(const std::string& key) const {
    const Node* node = Find(key);
    return node ? node->item : nullptr;
}

std::string KeyedTree::Text(const std::string& key) const {
    HTREEITEM item = ItemOf(key);
    return item ? ItemText(item) : std::string();
}

void KeyedTree::SetText(const std::string& key, const std::string& text) {
    HTREEITEM item = ItemOf(key);
    if (!item) return;
    TVITEMA set = {};
    set.mask = TVIF_TEXT;
    set.hItem = item;
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
    if (HTREEITEM item = ItemOf(key)) TreeView_Expand(tree_, item, expand ? TVE_EXPAND : TVE_COLLAPSE);
}

bool KeyedTree::IsExpanded(const std::string& key) const {
    HTREEITEM item = ItemOf(key);
    return item && (TreeView_GetItemState(tree_, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

void KeyedTree::EnsureVisible(const std::string& key) {
    if (HTREEITEM item = ItemOf(key)) TreeView_EnsureVisible(tree_, item);
}

void KeyedTree::Select(const std::string& key) {
    if (HTREEITEM item = ItemOf(key)) TreeView_SelectItem(tree_, item);
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
