// "TLBlist.txt" in memory: the library entries (each "[path]" and its
// interface lines), exactly one registry-only section header, then the
// interfaces no listed library describes; the index with its separator
// record; and the change list against the previous list.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "indexrecord.h"

namespace pollux {

class TlbList {
public:
    TlbList();  // a first scan
    TlbList(std::string oldText, std::vector<IndexRecord> oldIndex);

    // A listed library's signature that the previous list has (each old
    // record answers once, so a file reached twice stays listed twice).
    bool Keep(ScanSignature signature);
    // A new library: its entry from "[" on, or "" when its file does not load.
    void AddLibrary(ScanSignature signature, std::string entry);
    // An interface of the registry walk, after the last library.
    void AddInterface(const std::string& iid, const std::string& name);

    bool first() const { return first_; }
    std::string ListText() const;
    std::vector<IndexRecord> Index() const;  // valid after ListText()
    std::string ChangesText() const;

private:
    struct Library {
        ScanSignature signature;
        std::string entry;
    };
    struct Interface {
        ScanSignature signature;
        std::string iid;
        std::string name;
    };
    std::string_view OldLibraryText(size_t record) const;
    std::string_view OldInterfaceText(size_t record) const;
    void CollectLibraryIds();
    bool DescribedByLibrary(const std::string& iid);

    bool first_;
    std::string oldText_;
    std::vector<IndexRecord> oldIndex_;
    size_t separator_ = 0;      // old records before it are libraries
    size_t libraryEnd_ = 0;     // where the old library part's text ends
    std::vector<bool> seen_;
    using SignatureMap = std::unordered_map<ScanSignature, std::vector<size_t>>;
    bool TakeUnseen(const SignatureMap& map, ScanSignature signature);
    SignatureMap oldLibraries_;   // records in index order per signature
    SignatureMap oldInterfaces_;
    std::vector<Library> libraries_;     // new ones; grow as needed
    std::vector<Interface> interfaces_;  // new ones; grow as needed
    bool idsCollected_ = false;
    std::unordered_set<std::string> libraryIds_;  // upper case
    mutable std::vector<IndexRecord> index_;
};

// The 38 characters from each "{" of a text, in upper case.
std::unordered_set<std::string> IdsInText(std::string_view text);

}  // namespace pollux
