// The kernel's exports as the hook stub imports them. Both sides bind by the
// Microsoft-decorated names of these signatures (see the .def files).
#pragma once

#include <windows.h>

long __stdcall InitZorNumber(unsigned long hookNumber);
long __stdcall DetachZorNumber(unsigned long hookNumber);
long __stdcall MyDllCanUnloadNow(unsigned long hookNumber);
long __stdcall MyDllGetClassObject(const _GUID& classId, const _GUID& interfaceId, void** object,
                                   unsigned long hookNumber);
long __stdcall MyDllRegisterServer(unsigned long hookNumber);
long __stdcall MyDllUnregisterServer(unsigned long hookNumber);
