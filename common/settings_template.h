// The installed content of the two settings files. The main program, the
// scanner program and the kernel find lines by position and by search, so the
// layout here is fixed: the three questions on lines 1 to 3, the module-list
// header on line 4, one skipped empty line, the modules from line 6, an empty
// line ending the list, then the three path sections.
#pragma once

#include <string>
#include <vector>

namespace vx {

struct MainSettingsContent {
    bool collectIUnknown = true;
    bool collectIDispatch = true;
    bool exitWithRemainingHooks = false;
    std::vector<std::string> modules;   // hook 1 first; "//..." marks a freed number
    // Filled at installation; left empty, each header is followed directly by the next line.
    std::string utilityPath;            // the installed stub "Vexilo.dll"
    std::string importedTypeLibFolder;  // "TLBdistilled" folder
    std::string structureFilePath;      // "TLBlist.txt"
};

struct AdvancedSettingsContent {
    bool fullTrace = false;
    bool distilledTrace = true;
    bool beyondVtblMethods = true;
    bool specificInfo = false;
    bool findAllInterfaces = false;
    bool hookAllInterfaces = false;
    int filePolicy = 1;  // 1 backup last, 2 backup all, 3 override
};

// Whole file texts, CR LF line ends.
std::string MainSettingsText(const MainSettingsContent& content);
std::string AdvancedSettingsText(const AdvancedSettingsContent& content);

}  // namespace vx
