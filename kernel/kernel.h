// Kernel state and the hooked-DLL records.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "tracestore.h"

namespace korbin {

struct HookedDll {
    volatile LONG hookNumber;  // -1: free for reuse
    int generation;
    char* path;
    char* fileName;
    HRESULT(__stdcall* canUnloadNow)();
    HRESULT(__stdcall* getClassObject)(REFCLSID, REFIID, void**);
    HRESULT(__stdcall* registerServer)();
    HRESULT(__stdcall* unregisterServer)();
    bool unloaded;
    // Calls into the real DLL under way; it is not freed while any is.
    volatile LONG callsInFlight;
    ITypeLib* typeLib;
    HMODULE module;
    HookedDll* next;
};

struct Kernel {
    TraceStore store;
    DWORD processId = 0;
    bool startAttempted = false;
    bool started = false;
    int generation = 0;
    ITypeLib* stdole = nullptr;
    char structureFile[MAX_PATH] = {};
    CRITICAL_SECTION initLock;
};

extern Kernel g_kernel;

// Module load and unload (process attach and detach of the kernel).
void ModuleLoad();
void ModuleUnload(bool processTerminating);

// Load generation from the process's local atoms; public for tests.
int NextLoadGeneration();

// Registers this process in the trace map (holding only the map lock word)
// and enters its hook; public for tests.
void RegisterProcess(TraceStore& store, DWORD processId, unsigned long hookNumber, int generation);

using vx::ProcessIsGone;

HookedDll* FindHook(unsigned long hookNumber);
// Loads the real DLL again when it was freed after saying it could unload.
// The hook's record with its real DLL loaded (loaded again if it was freed),
// counted as busy until LeaveHook; nullptr when the hook cannot be served.
HookedDll* EnterHook(unsigned long hookNumber);
void LeaveHook(HookedDll* dll);
// The real DLL is about to be freed: its objects and method tables are forgotten.
void ForgetDllObjects(const HookedDll& dll);

}  // namespace korbin
