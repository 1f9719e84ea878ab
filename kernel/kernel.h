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
    // The standard interfaces' library beside the kernel, the last source of
    // descriptions; nullptr when it is missing or damaged.
    ITypeLib* known = nullptr;
    char knownLibrary[MAX_PATH] = {};
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
// Counts a loaded hook and enters it in the map's hook table (the map lock
// word held by the caller).
void EnterLoadedHook(TraceStore& store, DWORD processId, unsigned long hookNumber);

using vx::ProcessIsGone;

HookedDll* FindHook(unsigned long hookNumber);
// The hook's record, counted as busy until LeaveHook; nullptr when the hook
// cannot be served. A hook that said it could unload while COM kept its stub
// is in use again.
HookedDll* EnterHook(unsigned long hookNumber);
void LeaveHook(HookedDll* dll);
// Counts the hook as loaded again after its unload answer.
void ResumeHook(HookedDll& dll, unsigned long hookNumber);
// The real DLL is about to be freed: its objects and method tables are forgotten.
void ForgetDllObjects(const HookedDll& dll);

}  // namespace korbin
