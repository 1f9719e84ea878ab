// What a scan reports while it runs: progress, names met, and each class. The
// COM object turns these into _IScannerEvents calls; tests record them.
#pragma once

#include <string>

namespace pollux {

// One class of the class walk, as registered.
struct ClassItem {
    std::string clsid;       // the key's name, with braces
    std::string name;        // the class key's default value
    bool named = false;
    std::string serverPath;  // InprocServer32's default value, not expanded
    std::string realPath;    // a hooked class's real server (value TypeLib)
};

class ScanEvents {
public:
    virtual ~ScanEvents() = default;
    virtual void InterfName(const std::string& name) = 0;
    virtual void CompName(const std::string& path) = 0;
    virtual void OneMoreClass(const ClassItem& item, bool loadable) = 0;
    virtual void ProcessedTLibs(long amount) = 0;
    virtual void ProcessedImportedTLibs(long amount) = 0;
    virtual void ProcessedClasses(long amount) = 0;
    virtual void ProcessedInterfaces(long amount) = 0;
};

}  // namespace pollux
