// ScanCompList: the class walk grouped by DLL into "CompList.txt".
#include "complist.h"
#include "engine.h"
#include "pathtext.h"
#include "signature.h"
#include "walks.h"

namespace pollux {

HRESULT ScanEngine::ScanCompList(bool fireClasses, ScanEvents& events) const {
    OpenedList opened;
    if (!OpenList(paths_.compList, paths_.compListInd, &opened, true)) return kScanFailed;
    CompList list;
    if (opened.existed) {
        std::string text, indexBytes;
        if (!ReadAll(opened.index.get(), &indexBytes) || !ReadAll(opened.list.get(), &text)) return kScanFailed;
        list = CompList(std::move(text), ParseIndex(indexBytes));
    }
    opened = {};

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
    const std::string indexBytes = IndexBytes(list.Index());
    if (list.first())
        return WriteFileText(paths_.compList, text) && WriteFileText(paths_.compListInd, indexBytes) ? S_OK
                                                                                                    : kScanFailed;
    if (!WriteFileText(paths_.compListChanges, list.ChangesText()) || !WriteFileText(paths_.compListTmp, text) ||
        !WriteFileText(paths_.compListIndTmp, indexBytes) || !ReplaceFile(paths_.compListIndTmp, paths_.compListInd) ||
        !ReplaceFile(paths_.compListTmp, paths_.compList))
        return kScanFailed;
    return S_OK;
}

long ScanEngine::GetCompAmountInList() const {
    std::string text;
    return ReadFileText(paths_.compList, &text) ? CountGroups(text) : 0;
}

}  // namespace pollux
