#include "tlblist.h"

#include <algorithm>
#include <cctype>

#include "signature.h"
#include "structurefile.h"

namespace pollux {
namespace {

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

std::string_view Slice(std::string_view text, size_t from, size_t to) {
    if (from > text.size()) return {};
    if (to > text.size() || to < from) to = text.size();
    return text.substr(from, to - from);
}

std::string_view TrimLineBreaks(std::string_view s) {
    while (s.ends_with("\r\n")) s.remove_suffix(2);
    return s;
}

std::string RegistryOnlyHeader() {
    std::string header;
    vx::AppendSectionHeader(header, vx::kRegistryOnlySection);
    return header;
}

}  // namespace

std::unordered_set<std::string> IdsInText(std::string_view text) {
    std::unordered_set<std::string> ids;
    for (size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at + 1))
        if (text.size() - at >= vx::kIdStringLength) ids.insert(Upper(text.substr(at, vx::kIdStringLength)));
    return ids;
}

TlbList::TlbList() : first_(true) {}

TlbList::TlbList(std::string oldText, std::vector<IndexRecord> oldIndex)
    : first_(false), oldText_(std::move(oldText)), oldIndex_(std::move(oldIndex)), seen_(oldIndex_.size(), false) {
    separator_ = oldIndex_.size();
    for (size_t i = 0; i < oldIndex_.size(); ++i)
        if (IsSeparator(oldIndex_[i])) {
            separator_ = i;
            break;
        }
    for (size_t i = 0; i < oldIndex_.size(); ++i)
        if (i != separator_) (i < separator_ ? oldLibraries_ : oldInterfaces_)[SignatureOf(oldIndex_[i])].push_back(i);
    // The library part ends where the registry-only header begins: the
    // header is written once for the whole list, never carried with a library.
    size_t firstInterface = separator_ + 1 < oldIndex_.size() ? static_cast<size_t>(oldIndex_[separator_ + 1].offset)
                                                              : oldText_.size();
    size_t header = std::string_view(oldText_).substr(0, std::min(firstInterface, oldText_.size())).rfind(RegistryOnlyHeader());
    libraryEnd_ = header != std::string::npos ? header : std::min(firstInterface, oldText_.size());
}

bool TlbList::TakeUnseen(const SignatureMap& map, ScanSignature signature) {
    auto found = map.find(signature);
    if (found == map.end()) return false;
    for (size_t record : found->second)
        if (!seen_[record]) return seen_[record] = true;
    return false;
}

bool TlbList::Keep(ScanSignature signature) { return TakeUnseen(oldLibraries_, signature); }

void TlbList::AddLibrary(ScanSignature signature, std::string entry) { libraries_.push_back({signature, std::move(entry)}); }

std::string_view TlbList::OldLibraryText(size_t record) const {
    const size_t from = static_cast<size_t>(oldIndex_[record].offset);
    size_t to = libraryEnd_;
    for (size_t next = record + 1; next < separator_; ++next)
        if (oldIndex_[next].offset != 0) {
            to = static_cast<size_t>(oldIndex_[next].offset) - vx::kSectionLead;
            break;
        }
    return TrimLineBreaks(Slice(oldText_, from, to));
}

std::string_view TlbList::OldInterfaceText(size_t record) const {
    const size_t from = static_cast<size_t>(oldIndex_[record].offset);
    const size_t to = record + 1 < oldIndex_.size() ? static_cast<size_t>(oldIndex_[record + 1].offset) - 2 : oldText_.size();
    return TrimLineBreaks(Slice(oldText_, from, to));
}

void TlbList::CollectLibraryIds() {
    idsCollected_ = true;
    for (const Library& l : libraries_) libraryIds_.merge(IdsInText(l.entry));
    for (size_t i = 0; i < separator_; ++i)
        if (seen_[i] && oldIndex_[i].offset != 0) libraryIds_.merge(IdsInText(OldLibraryText(i)));
}

bool TlbList::DescribedByLibrary(const std::string& iid) {
    if (!idsCollected_) CollectLibraryIds();
    return libraryIds_.count(Upper(iid)) != 0;
}

void TlbList::AddInterface(const std::string& iid, const std::string& name) {
    // An interface a listed library now describes leaves the section, even
    // when it was kept there before.
    if (DescribedByLibrary(iid)) return;
    const ScanSignature signature = EntrySignature(iid, name);
    if (TakeUnseen(oldInterfaces_, signature)) return;
    interfaces_.push_back({signature, iid, name});
}

std::string TlbList::ListText() const {
    std::string out;
    index_.clear();
    for (const Library& l : libraries_) {
        if (l.entry.empty()) {
            index_.push_back(MakeRecord(0, l.signature));
            continue;
        }
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + vx::kSectionLead), l.signature));
        out.append("\r\n\r\n").append(l.entry);
    }
    for (size_t i = 0; i < separator_; ++i) {
        if (!seen_[i]) continue;
        if (oldIndex_[i].offset == 0) {
            index_.push_back(oldIndex_[i]);
            continue;
        }
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + vx::kSectionLead), SignatureOf(oldIndex_[i])));
        out.append("\r\n\r\n").append(OldLibraryText(i));
    }
    index_.push_back(SeparatorRecord());
    out.append(RegistryOnlyHeader());
    for (const Interface& f : interfaces_) {
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + 2), f.signature));
        vx::AppendInterfaceEntry(out, f.iid, f.name);
    }
    for (size_t i = separator_ + 1; i < oldIndex_.size(); ++i) {
        if (!seen_[i]) continue;
        index_.push_back(MakeRecord(static_cast<int32_t>(out.size() + 2), SignatureOf(oldIndex_[i])));
        out.append("\r\n").append(OldInterfaceText(i));
    }
    out.append("\r\n");
    return out;
}

std::vector<IndexRecord> TlbList::Index() const { return index_; }

std::string TlbList::ChangesText() const {
    std::string out = "\r\n--- New TypeLibs ---";
    for (const Library& l : libraries_)
        if (!l.entry.empty()) out.append("\r\n\r\n").append(l.entry);
    out.append("\r\n\r\n--- New Interfaces without TypeLibs ---");
    if (!interfaces_.empty()) {
        std::string entries;
        for (const Interface& f : interfaces_) vx::AppendInterfaceEntry(entries, f.iid, f.name);
        out.append("\r\n").append(entries);  // the entries' own first "\r\n" completes the empty line
    }
    out.append("\r\n\r\n--- Deleted TypeLibs ---");
    for (size_t i = 0; i < separator_; ++i)
        if (!seen_[i] && oldIndex_[i].offset != 0) out.append("\r\n\r\n").append(OldLibraryText(i));
    out.append("\r\n\r\n--- Deleted Interfaces without TypeLibs ---");
    for (size_t i = separator_ + 1; i < oldIndex_.size(); ++i)
        if (!seen_[i]) out.append("\r\n\r\n").append(OldInterfaceText(i));
    return out;
}

}  // namespace pollux
