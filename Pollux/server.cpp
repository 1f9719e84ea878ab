// The module's entry points: one class object, its registration script and
// type library, and the diagnostic switch read at load.
#include <windows.h>
#include <olectl.h>

#include "Pollux.h"
#include "comserver.h"
#include "diagnostics.h"
#include "raii.h"
#include "registryscript.h"
#include "scanner.h"
#include "timetext.h"

namespace {

constexpr UINT kRegistryScript = 101;

const vxs::ClassObjectEntry kClassObjects[] = {
    {&CLSID_Scanner, pollux::Scanner_CreateInstance, vxs::plain_factory},
};

// "C:\ScanDiagCtrl.txt" switches each diagnostic file's start banner on.
void StartDiagnostics() {
    const std::string control = vxs::ReadDiagnosticControl("C:\\ScanDiagCtrl.txt");
    if (control.empty()) return;
    char time[vx::kTimeTextLength + 1];
    vx::CurrentTimeText(time);
    if (vxs::DiagnosticAnswer(control, "Print full diagnostic ? [Y/N]:"))
        vxs::AppendDiagnostic("C:\\ScanTraceFull.txt",
                              std::string("Scan \r\n\r\n========= Start Scan at ") + time + " =========\r\n");
    if (vxs::DiagnosticAnswer(control, "Print distilled diagnostic ? [Y/N]:"))
        vxs::AppendDiagnostic("C:\\ScanTraceDistilled.txt",
                              std::string("\r\n\r\n========= Start at ") + time + " =========");
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(module);
        StartDiagnostics();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return vxs::get_class_object(kClassObjects, clsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return vxs::can_unload_now(); }

STDAPI DllRegisterServer() {
    RETURN_IF_FAILED(vxs::UpdateRegistryFromResource(vxs::this_module(), kRegistryScript, true));
    return vxs::register_module_type_library();
}

STDAPI DllUnregisterServer() {
    RETURN_IF_FAILED(vxs::UpdateRegistryFromResource(vxs::this_module(), kRegistryScript, false));
    return vxs::unregister_module_type_library();
}
