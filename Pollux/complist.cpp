#include "complist.h"

namespace pollux {
namespace {

// Old entries end 4 bytes before the next entry ("\r\n" closing the last
// class line, "\r\n" opening the next group) or 2 bytes before the end.
constexpr size_t kGroupGap = 4;
constexpr size_t kFinalLineBreak = 2;

std::string_view Slice(std::string_view text, size_t from, size_t to) {
    if (from > text.size()) return {};
    if (to > text.size() || to < from) to = text.size();
    return text.substr(from, to - from);
}

}  // namespace

CompList::CompList() : first_(true) {}

CompList::CompList(std::string oldText, std::vector<IndexRecord> oldIndex)
    : first_(false), oldText_(std::move(oldText)), oldIndex_(std::move(oldIndex)), seen_(oldIndex_.size(), false) {
    for (size_t i = 0; i < oldIndex_.size(); ++i) oldBySignature_.emplace(SignatureOf(oldIndex_[i]), i);
}

CompList::Placed CompList::Add(const ClassItem& item, const std::string& path, ScanSignature signature,
                               const std::function<bool(const std::string&)>& typeLibLoads) {
    if (signature == 0) return {false, false};
    auto kept = oldBySignature_.find(signature);
    if (kept != oldBySignature_.end()) {
        // Every class of a kept DLL meets the same record.
        size_t record = kept->second;
        seen_[record] = true;
        std::string_view bar = OldGroupText(record);
        return {!bar.empty() && bar.front() == '+', false};
    }
    const std::string listedName = item.named ? item.name : kNoClassName;
    auto known = newBySignature_.find(signature);
    if (known != newBySignature_.end()) {
        Group& g = groups_[known->second];
        g.classes.emplace_back(item.clsid, listedName);
        return {g.loads, false};
    }
    Group g{typeLibLoads(path), path, {{item.clsid, listedName}}, signature};
    newBySignature_.emplace(signature, groups_.size());
    groups_.push_back(std::move(g));
    return {groups_.back().loads, groups_.back().loads};
}

void CompList::AppendGroup(std::string& out, const Group& g) {
    out.append("\r\n");
    out.append(kBarLength, g.loads ? '+' : '-');
    out.append("\r\n").append(g.path).append("\r\n");
    for (const auto& [clsid, name] : g.classes) out.append(clsid).append("\r\n").append(name).append("\r\n");
}

std::string_view CompList::OldGroupText(size_t record) const {
    const size_t from = static_cast<size_t>(oldIndex_[record].offset);
    const size_t to = record + 1 < oldIndex_.size() ? static_cast<size_t>(oldIndex_[record + 1].offset) - kGroupGap
                                                    : oldText_.size() - kFinalLineBreak;
    return Slice(oldText_, from, to);
}

std::string CompList::ListText() const {
    std::string out;
    index_.clear();
    index_.reserve(groups_.size() + oldIndex_.size());
    for (const Group& g : groups_) {
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + 2), g.signature));
        AppendGroup(out, g);
    }
    // Kept groups carry their old text and take the same layout as new ones.
    for (size_t i = 0; i < oldIndex_.size(); ++i) {
        if (!seen_[i]) continue;
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + 2), SignatureOf(oldIndex_[i])));
        out.append("\r\n").append(OldGroupText(i)).append("\r\n");
    }
    return out;
}

std::vector<IndexRecord> CompList::Index() const { return index_; }

std::string CompList::ChangesText() const {
    std::string out = "\r\n--- New components ---\r\n";
    for (const Group& g : groups_) AppendGroup(out, g);
    out.append("\r\n--- Deleted components ---\r\n");
    for (size_t i = 0; i < oldIndex_.size(); ++i)
        if (!seen_[i]) out.append("\r\n").append(OldGroupText(i));
    return out;
}

long CountGroups(std::string_view text) {
    if (text.size() < 5) return 0;
    long count = 0;
    for (size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 1)) {
        std::string_view next = text.substr(at + 2, 2);
        if (next == "++" || next == "--") ++count;
    }
    return count;
}

}  // namespace pollux
