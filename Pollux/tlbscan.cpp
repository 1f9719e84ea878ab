// ScanTLBlist: registered and imported type libraries, then the interfaces
// no listed library describes, into "TLBlist.txt".
#include "engine.h"
#include "libentry.h"
#include "signature.h"
#include "tlblist.h"
#include "walks.h"

namespace pollux {
namespace {

constexpr long kImportedProgressStep = 5;

void AddLibraryPath(TlbList& list, const std::string& path) {
    const ScanSignature signature = FileSignature(path);
    if (signature == 0 || list.Keep(signature)) return;
    std::string entry;
    if (!LibraryEntry(path, &entry)) entry.clear();
    list.AddLibrary(signature, std::move(entry));
}

}  // namespace

HRESULT ScanEngine::ScanTLBlist(ScanEvents& events) const {
    OpenedList opened;
    if (!OpenList(paths_.tlbList, paths_.tlbListInd, &opened, false)) return kScanFailed;
    TlbList list;
    if (opened.existed) {
        std::string text, indexBytes;
        if (!ReadAll(opened.index.get(), &indexBytes) || !ReadAll(opened.list.get(), &text)) return kScanFailed;
        list = TlbList(std::move(text), ParseIndex(indexBytes));
    }
    opened = {};

    TypeLibCursor libraries(events);
    TypeLibItem library;
    while (libraries.Next(&library)) AddLibraryPath(list, library.path);
    long imported = ForEachTypeLibraryFile(paths_.tlbDistilled, [&](const std::string& path, long count) {
        AddLibraryPath(list, path);
        if (count % kImportedProgressStep == 0) events.ProcessedImportedTLibs(count);
    });
    events.ProcessedImportedTLibs(imported);

    InterfaceCursor interfaces(events);
    InterfaceItem item;
    while (interfaces.Next(&item)) list.AddInterface(item.iid, item.name);

    const std::string text = list.ListText();
    const std::string indexBytes = IndexBytes(list.Index());
    if (list.first())
        return WriteFileText(paths_.tlbList, text) && WriteFileText(paths_.tlbListInd, indexBytes) ? S_OK : kScanFailed;
    if (!WriteFileText(paths_.tlbListChanges, list.ChangesText()) || !WriteFileText(paths_.tlbListTmp, text) ||
        !WriteFileText(paths_.tlbListIndTmp, indexBytes) || !ReplaceFile(paths_.tlbListIndTmp, paths_.tlbListInd) ||
        !ReplaceFile(paths_.tlbListTmp, paths_.tlbList))
        return kScanFailed;
    return S_OK;
}

}  // namespace pollux
