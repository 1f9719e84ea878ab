// The component DLLs of the left pane and their classes: the list the
// window builds from the scan engine's class events and that hooking uses.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace shell {

struct ClassInfo {
    std::string ClassName;
    std::string GUIDstr;  // "{...}"
};

// The classes of one DLL in the order they were added.
class ClassCollect {
public:
    ClassInfo& Add(const std::string& guid, const std::string& className, const std::string& key = {});
    size_t Count() const { return items_.size(); }
    const ClassInfo& Item(size_t index) const { return items_[index].second; }  // 0 first
    const ClassInfo* Item(const std::string& key) const;
    bool Remove(const std::string& key);
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::pair<std::string, ClassInfo>> items_;  // (key, class)
};

struct CompDLLInfo {
    std::string LongDllName;
    std::string ShortDllName;
    long HookNumber = 0;
    ClassCollect Classes;
};

// Keyed by full path, letter case ignored.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using ComponentDlls = std::map<std::string, CompDLLInfo, NoCaseLess>;

std::string UpperCase(std::string text);
std::string LowerCase(std::string text);
// The text after the last backslash (the whole text when there is none).
std::string ShortNameOfPath(const std::string& path);

// The hook number of a stub copy's file name ("Zor#_" then digits, exact
// case), reading every digit; 0 for any other name.
long HookNumberOfStubName(const std::string& fileName);

// One class event of the scan engine, and what the left pane must show.
struct ClassEventView {
    bool ignored = false;   // no server file name
    bool newDll = false;    // first class of this DLL: a node to add
    std::string key;        // upper-case full path
    std::string text;       // node text
    bool hooked = false;    // "Hook" picture
    bool grey = false;      // not loadable: grey text
};

// Applies one OneMoreClass event (class id, class name, server path, server
// file name) to the list; moduleText is the main settings file's text, from
// which a hooked class's real DLL is found by its hook number.
ClassEventView OnClassEvent(ComponentDlls& dlls, const std::vector<std::string>& info, bool isLoadable,
                            const std::string& moduleText);

constexpr char kNoClassName[] = "<No class name>";

}  // namespace shell
