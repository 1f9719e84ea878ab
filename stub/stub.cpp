// The hook stub: copied once per hooked DLL as "Zor#_NN.dll", it learns its
// hook number from its own file name and forwards the four COM server entry
// points to the kernel.
#include <windows.h>
#include <cstdlib>
#include <cstring>

#include "stubname.h"
#include "korbin.h"

namespace {

long g_hookNumber = 0;
volatile LONG g_initState = 0;  // 0 not started, 1 running, 2 done
volatile DWORD g_initThread = 0;
HRESULT g_initResult = 0;

// The first entry point initialises the kernel for this copy, once; every other
// thread waits for that to finish, so none sees a half-started hook. The
// initialising thread itself may come back in (a component that creates its
// own classes while loading): it forwards at once instead of waiting on itself.
HRESULT Initialised() {
    if (g_initState == 2) return g_initResult;
    if (::InterlockedCompareExchange(&g_initState, 1, 0) == 0) {
        g_initThread = ::GetCurrentThreadId();
        g_initResult = InitZorNumber(static_cast<unsigned long>(g_hookNumber));
        ::InterlockedExchange(&g_initState, 2);
        return g_initResult;
    }
    if (g_initThread == ::GetCurrentThreadId()) return S_OK;
    while (g_initState != 2) ::SwitchToThread();
    return g_initResult;
}

}  // namespace

extern "C" {

HRESULT __stdcall DllCanUnloadNow() {
    HRESULT hr = Initialised();
    return FAILED(hr) ? hr : MyDllCanUnloadNow(static_cast<unsigned long>(g_hookNumber));
}

HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object) {
    HRESULT hr = Initialised();
    if (FAILED(hr)) return hr;
    return MyDllGetClassObject(classId, interfaceId, object, static_cast<unsigned long>(g_hookNumber));
}

HRESULT __stdcall DllRegisterServer() {
    HRESULT hr = Initialised();
    return FAILED(hr) ? hr : MyDllRegisterServer(static_cast<unsigned long>(g_hookNumber));
}

HRESULT __stdcall DllUnregisterServer() {
    HRESULT hr = Initialised();
    return FAILED(hr) ? hr : MyDllUnregisterServer(static_cast<unsigned long>(g_hookNumber));
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD length = ::GetModuleFileNameA(instance, path, sizeof path);
        // A name cut short could read a wrong number: only a whole name counts.
        if (length > 0 && length < sizeof path) g_hookNumber = vx::StubHookNumber(path);
    } else if (reason == DLL_PROCESS_DETACH) {
        DetachZorNumber(static_cast<unsigned long>(g_hookNumber));
    }
    return TRUE;
}
