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
    const ListFiles files{paths_.tlbList, paths_.tlbListInd, paths_.tlbListTmp, paths_.tlbListIndTmp,
                          paths_.tlbListChanges};
    PreviousList previous;
    if (!ReadPreviousList(files, false, &previous)) return kScanFailed;
    TlbList list = previous.existed ? TlbList(std::move(previous.text), ParseIndex(previous.indexBytes)) : TlbList();

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
    return WriteScanResult(files, list.first(), text, IndexBytes(list.Index()), list.first() ? "" : list.ChangesText())
               ? S_OK
               : kScanFailed;
}

}  // namespace pollux
