// "CompList.txt" in memory: DLL groups of classes keyed by the DLL's file
// signature, the index, and the change list against the previous list.
//
//   \r\n
//   ++++...(80)      or ----...(80) when the DLL's type library does not load
//   <DLL path>
//   <CLSID>
//   <class name>     or "<No class name>", two lines per class
//   \r\n             (before the next group's empty line)
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "events.h"
#include "indexrecord.h"

namespace pollux {

inline constexpr size_t kBarLength = 80;
inline constexpr char kNoClassName[] = "<No class name>";

class CompList {
public:
    // A first scan has no previous list; otherwise oldText and oldIndex are
    // the previous list and index as read.
    CompList();
    CompList(std::string oldText, std::vector<IndexRecord> oldIndex);

    struct Placed {
        bool loadable;        // the class's DLL is listed and its type library loads
        bool newLoadingGroup; // this class opened a new group whose library loads
    };
    // One class of the walk under the DLL path it is listed by, with that
    // DLL's signature (0: not listed). typeLibLoads runs once per new group.
    Placed Add(const ClassItem& item, const std::string& path, ScanSignature signature,
               const std::function<bool(const std::string&)>& typeLibLoads);

    bool first() const { return first_; }
    std::string ListText() const;
    std::vector<IndexRecord> Index() const;  // valid after ListText()
    std::string ChangesText() const;
    size_t NewGroupCount() const { return groups_.size(); }

private:
    struct Group {
        bool loads;
        std::string path;
        std::vector<std::pair<std::string, std::string>> classes;  // CLSID, listed name
        ScanSignature signature;
    };
    static void AppendGroup(std::string& out, const Group& g);
    std::string_view OldGroupText(size_t record) const;

    bool first_;
    std::string oldText_;
    std::vector<IndexRecord> oldIndex_;
    std::vector<bool> seen_;
    std::unordered_map<ScanSignature, size_t> oldBySignature_;  // first record of each signature
    std::unordered_map<ScanSignature, size_t> newBySignature_;
    std::vector<Group> groups_;  // grows as needed: no limit on new groups per scan
    mutable std::vector<IndexRecord> index_;
};

// The number of DLL groups in a list's text: the places where "\r\n++" or
// "\r\n--" begins; 0 for a text shorter than five bytes.
long CountGroups(std::string_view listText);

}  // namespace pollux
