#include <windows.h>

#include "checkedread.h"
#include "kernel.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        korbin::ModuleLoad();
        break;
    case DLL_THREAD_DETACH:
        korbin::CheckedReadsThreadEnding();
        break;
    case DLL_PROCESS_DETACH:
        korbin::ModuleUnload(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}
