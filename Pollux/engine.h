// The scan engine behind the Scanner object: the component scan, the type
// library scan and the counts, on the list files of one folder.
#pragma once

#include <windows.h>

#include <string>

#include "events.h"
#include "listfiles.h"

namespace pollux {

// What the scans return when a list or index cannot be opened, read or written.
inline constexpr HRESULT kScanFailed = static_cast<HRESULT>(0x8004FFFF);

struct Amounts {
    long compClasses = 0;
    long tLibs = 0;
    long importedTLibs = 0;
    long interfaces = 0;
};

class ScanEngine {
public:
    ScanEngine() { SetFolder(""); }
    // folder ends in a backslash ("" for the current directory).
    void SetFolder(const std::string& folder);
    const std::string& folder() const { return folder_; }
    const ListPaths& paths() const { return paths_; }

    HRESULT ScanCompList(bool fireClasses, ScanEvents& events) const;
    HRESULT ScanTLBlist(ScanEvents& events) const;
    long GetCompAmountInList() const;
    Amounts GetAmounts() const;

private:
    std::string folder_;
    ListPaths paths_;
};

}  // namespace pollux
