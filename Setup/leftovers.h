// What an uninstall cannot remove at once: the files still in use, and the
// processes that hold them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vxsetup {

// Deletes what it can of a folder's content (ending in a backslash), except
// the file keep (a full path, or empty); answers the files left, by full path.
// The folder itself stays.
std::vector<std::string> ClearFolder(const std::string& folder, const std::string& keep);

struct Holder {
    DWORD pid = 0;
    std::string name;  // the program's file name
};

// The other processes that have one of the files loaded as a module.
std::vector<Holder> HoldersOf(const std::vector<std::string>& files);

// "vxclient.exe (process 1234), ..." for a message.
std::string HolderText(const std::vector<Holder>& holders);

}  // namespace vxsetup
