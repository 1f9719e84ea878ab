// The trace reader's DLL: its entry points and its one class.
#include <windows.h>

#include "comserver.h"
#include "raii.h"
#include "registryscript.h"
#include "tracereader.h"

namespace {

constexpr UINT kRegistryScript = 101;

const vxs::ClassObjectEntry kClassObjects[] = {
    {&CLSID_TraceReader, ledra::CreateTraceReader, vxs::plain_factory},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ledra::ModuleLog().Start("Ledra", "C:\\LedraDiagCtrl.txt", "C:\\LedraFull.txt");
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        ledra::ModuleDetach(reserved != nullptr);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return vxs::can_unload_now(); }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return vxs::get_class_object(kClassObjects, clsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    RETURN_IF_FAILED(vxs::UpdateRegistryFromResource(vxs::this_module(), kRegistryScript, true));
    return vxs::register_module_type_library();
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    RETURN_IF_FAILED(vxs::UpdateRegistryFromResource(vxs::this_module(), kRegistryScript, false));
    return vxs::unregister_module_type_library();
}
