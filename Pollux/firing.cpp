#include "firing.h"

#include "eventids.h"
#include "pathtext.h"
#include "raii.h"

namespace pollux {

using vx::kCompName;
using vx::kInterfName;
using vx::kOneMoreClass;
using vx::kProcessedClasses;
using vx::kProcessedImportedTLibs;
using vx::kProcessedInterfaces;
using vx::kProcessedTLibs;

SAFEARRAY* ClassInfoArray(const ClassItem& item) {
    vx::unique_safearray array(::SafeArrayCreateVector(VT_BSTR, 0, 5));
    if (!array) return nullptr;
    const std::string elements[5] = {item.clsid, item.named ? item.name : "", item.serverPath,
                                     vx::FileNameOf(item.serverPath), item.realPath};
    for (LONG i = 0; i < 5; ++i) {
        vx::unique_bstr text(vx::NewBstr(elements[i]));
        if (!text || FAILED(::SafeArrayPutElement(array.get(), &i, text.get()))) return nullptr;
    }
    return array.release();
}

void EventFiring::FireText(DISPID id, const std::string& text) {
    vx::unique_variant arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = vx::NewBstr(text);
    if (arg.bstrVal) source_.Fire(id, &arg, 1);
}

void EventFiring::FireAmount(DISPID id, long amount) {
    vx::unique_variant arg;
    arg.vt = VT_I4;
    arg.lVal = amount;
    source_.Fire(id, &arg, 1);
}

void EventFiring::InterfName(const std::string& name) { FireText(kInterfName, name); }
void EventFiring::CompName(const std::string& path) { FireText(kCompName, path); }

void EventFiring::OneMoreClass(const ClassItem& item, bool loadable) {
    // Arguments go last first: IsLoadable, then ClassInfo.
    vx::unique_variant args[2];
    args[0].vt = VT_BOOL;
    args[0].boolVal = loadable ? VARIANT_TRUE : VARIANT_FALSE;
    args[1].parray = ClassInfoArray(item);
    if (!args[1].parray) return;
    args[1].vt = VT_ARRAY | VT_BSTR;
    source_.Fire(kOneMoreClass, args, 2);
}

void EventFiring::ProcessedTLibs(long amount) { FireAmount(kProcessedTLibs, amount); }
void EventFiring::ProcessedImportedTLibs(long amount) { FireAmount(kProcessedImportedTLibs, amount); }
void EventFiring::ProcessedClasses(long amount) { FireAmount(kProcessedClasses, amount); }
void EventFiring::ProcessedInterfaces(long amount) { FireAmount(kProcessedInterfaces, amount); }

}  // namespace pollux
