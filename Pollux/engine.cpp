#include "engine.h"

#include "regread.h"
#include "walks.h"

namespace pollux {

void ScanEngine::SetFolder(const std::string& folder) {
    folder_ = folder;
    paths_ = MakeListPaths(folder);
}

Amounts ScanEngine::GetAmounts() const {
    Amounts a;
    vx::unique_hkey key;
    if (OpenKey(HKEY_CLASSES_ROOT, "CLSID", &key)) a.compClasses = SubkeyCount(key.get());
    if (OpenTypeLibRoot(&key)) a.tLibs = SubkeyCount(key.get());
    if (OpenInterfaceRoot(&key)) a.interfaces = SubkeyCount(key.get());
    a.importedTLibs = ForEachTypeLibraryFile(paths_.tlbDistilled, [](const std::string&, long) {});
    return a;
}

}  // namespace pollux
