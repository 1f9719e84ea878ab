// ScanCompList: the class walk grouped by DLL into "CompList.txt".
#include "complist.h"
#include "engine.h"
#include "pathtext.h"
#include "signature.h"
#include "walks.h"

namespace pollux {

HRESULT ScanEngine::ScanCompList(bool fireClasses, ScanEvents& events) const {
    const ListFiles files{paths_.compList, paths_.compListInd, paths_.compListTmp, paths_.compListIndTmp,
                          paths_.compListChanges};
    PreviousList previous;
    if (!ReadPreviousList(files, true, &previous)) return kScanFailed;
    CompList list = previous.existed ? CompList(std::move(previous.text), ParseIndex(previous.indexBytes)) : CompList();

    ClassCursor cursor(events);
    ClassItem item;
    while (cursor.Next(&item)) {
        if (item.serverPath.empty() && item.realPath.empty()) continue;
        const std::string& path = item.realPath.empty() ? item.serverPath : item.realPath;
        CompList::Placed placed = list.Add(item, path, FileSignature(path), TypeLibraryLoads);
        if (list.first() && placed.newLoadingGroup) events.CompName(path);
        if (fireClasses) events.OneMoreClass(item, placed.loadable);
    }

    const std::string text = list.ListText();
    return WriteScanResult(files, list.first(), text, IndexBytes(list.Index()), list.first() ? "" : list.ChangesText())
               ? S_OK
               : kScanFailed;
}

long ScanEngine::GetCompAmountInList() const {
    std::string text;
    return ReadFileText(paths_.compList, &text) ? CountGroups(text) : 0;
}

}  // namespace pollux
