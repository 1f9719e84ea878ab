#include "kernel.h"

#include <oleauto.h>
#include <cstdio>
#include <cstring>

#include "filepolicy.h"
#include "knownlibrary.h"
#include "korbin.h"
#include "objects.h"
#include "pool.h"
#include "raii.h"
#include "records.h"
#include "registration.h"

namespace korbin {

Kernel g_kernel;

namespace {

constexpr HRESULT kFail = E_FAIL;
// Generations are counted up one atom at a time; this many is far beyond any
// real process and only stops a search through a damaged atom table.
constexpr int kMaxGeneration = 100000;

// Keeps the client's last-error value across the kernel's own file and registry work.
class LastErrorGuard {
public:
    LastErrorGuard() : saved_(::GetLastError()) {}
    ~LastErrorGuard() { ::SetLastError(saved_); }
private:
    DWORD saved_;
};

bool ListedProcessAlive(const TraceMap* map) {
    for (int i = 0; i < kProcessSlots && map->processes[i] != 0; ++i) {
        DWORD id = map->processes[i];
        if (id != kFreeSlot && id != ::GetCurrentProcessId() && !ProcessIsGone(id)) return true;
    }
    return false;
}

// "ExtraFile.txt" may hold diverted records of live clients: delete it only
// when the map lists none.
void DeleteStaleExtraFile(const TraceStore& store) {
    vx::unique_handle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, store.mapName));
    if (mapping) {
        vx::unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
        if (view && ListedProcessAlive(static_cast<const TraceMap*>(view.get()))) return;
    }
    ::DeleteFileA(store.files.extra);
}

bool KernelStart() {
    Kernel& k = g_kernel;
    if (k.startAttempted) return k.started;
    k.startAttempted = true;
    if (k.store.files.mainSettings[0] == '\0') return false;
    k.generation = NextLoadGeneration();
    if (!k.store.SetUpMaps()) return false;
    if (FAILED(::LoadTypeLibEx(L"STDOLE2.TLB", REGKIND_NONE, &k.stdole))) k.stdole = nullptr;
    k.known = LoadKnownLibrary(k.knownLibrary);
    k.started = true;
    return true;
}

const char* FileNameOf(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    const char* other = std::strrchr(path, '/');
    if (other > slash) slash = other;
    return slash ? slash + 1 : path;
}

HMODULE LoadFromOwnFolder(const char* path) {
    // The component may load its own dependencies from its folder by relative name.
    DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    wchar_t* saved = needed ? static_cast<wchar_t*>(::HeapAlloc(::GetProcessHeap(), 0, needed * sizeof(wchar_t)))
                            : nullptr;
    if (saved && ::GetCurrentDirectoryW(needed, saved) == 0) {
        ::HeapFree(::GetProcessHeap(), 0, saved);
        saved = nullptr;
    }
    char folder[MAX_PATH];
    size_t cut = static_cast<size_t>(FileNameOf(path) - path);
    if (cut > 0 && cut < sizeof folder) {
        std::memcpy(folder, path, cut);
        folder[cut] = '\0';
        ::SetCurrentDirectoryA(folder);
    }
    HMODULE module = ::LoadLibraryA(path);
    DWORD loadError = ::GetLastError();
    if (saved) {
        ::SetCurrentDirectoryW(saved);
        ::HeapFree(::GetProcessHeap(), 0, saved);
    }
    ::SetLastError(loadError);
    return module;
}

HookedDll* TakeRecord(unsigned long hookNumber) {
    ProcessBlock* block = g_kernel.store.block();
    HookedDll* freeRecord = nullptr;
    HookedDll** tail = &block->hookedDlls;
    for (HookedDll* d = block->hookedDlls; d; d = d->next) {
        if (d->hookNumber == static_cast<LONG>(hookNumber)) return d;
        if (!freeRecord && d->hookNumber == -1) freeRecord = d;
        tail = &d->next;
    }
    if (freeRecord) return freeRecord;
    auto* fresh = static_cast<HookedDll*>(PoolAlloc(sizeof(HookedDll)));
    if (!fresh) return nullptr;
    fresh->hookNumber = -1;
    *tail = fresh;
    return fresh;
}

void ClearHookEntries(TraceMap* map, DWORD processId, unsigned long hookNumber) {
    if (!map) return;  // a refused map lists nothing
    for (HookEntry& e : map->hooks)
        if (e.processId == processId && e.hookNumber == hookNumber) e = HookEntry{0, 0};
}

template <typename F>
void Resolve(HMODULE module, const char* name, F& entry) {
    entry = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

HRESULT InitHook(unsigned long hookNumber) {
    Kernel& k = g_kernel;
    if (!KernelStart()) return kFail;
    // A failed hook may have released the maps while no other hook was loaded.
    if (!k.store.SetUpMaps()) return kFail;

    static char text[kSettingsReadLimit + 1];
    char path[MAX_PATH];
    int length = ReadSettingsFile(k.store.files.mainSettings, text, sizeof text);
    std::string_view settings(text, length > 0 ? length : 0);
    bool found = length >= 0 && FindModuleLine(settings, hookNumber, path, sizeof path) && path[0] != '\0';
    // Held here until the hook is committed below; freed on every way out before it.
    vx::unique_module module(found ? LoadFromOwnFolder(path) : nullptr);
    // A damaged module list must not break the component for its clients:
    // the hook keeps the real path in the class registration as well.
    char registered[MAX_PATH];
    if (!module && RealPathFromRegistration(k.store.files.folder, hookNumber, registered, sizeof registered) &&
        (!found || ::lstrcmpiA(registered, path) != 0)) {
        std::strcpy(path, registered);
        module.reset(LoadFromOwnFolder(path));
    }
    // Without the structure file interfaces are described from the type libraries alone.
    if (length < 0 || !FindStructurePath(settings, k.structureFile, sizeof k.structureFile))
        k.structureFile[0] = '\0';
    auto fail = [&]() -> HRESULT {
        module.reset();
        // Other hooks of this process keep writing through the maps.
        if (k.store.block() && k.store.block()->loadedHookedDlls == 0) {
            k.store.WriteHeldFullText();
            k.store.ReleaseMaps();
        }
        return kFail;
    };
    if (!module) return fail();

    HookedDll entry = {};
    Resolve(module.get(), "DllCanUnloadNow", entry.canUnloadNow);
    Resolve(module.get(), "DllGetClassObject", entry.getClassObject);
    Resolve(module.get(), "DllRegisterServer", entry.registerServer);
    Resolve(module.get(), "DllUnregisterServer", entry.unregisterServer);
    if (!entry.canUnloadNow || !entry.getClassObject || !entry.registerServer || !entry.unregisterServer)
        return fail();

    wchar_t widePath[MAX_PATH];
    vx::com_ptr<ITypeLib> typeLib;
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0 ||
        FAILED(::LoadTypeLibEx(widePath, REGKIND_NONE, typeLib.put())))
        typeLib.reset();

    HookedDll* record = TakeRecord(hookNumber);
    char* pathCopy = PoolCopy(path);
    char* nameCopy = PoolCopy(FileNameOf(path));
    if (!record || !pathCopy || !nameCopy) {
        PoolFree(pathCopy);
        PoolFree(nameCopy);
        return fail();
    }
    if (record->hookNumber == static_cast<LONG>(hookNumber)) {
        // Loaded again after an unload: the old names go.
        PoolFree(record->path);
        PoolFree(record->fileName);
    }
    entry.generation = k.generation;
    entry.path = pathCopy;
    entry.fileName = nameCopy;
    // Committed: the record owns the module and the library from here on.
    entry.module = module.release();
    entry.typeLib = typeLib.detach();
    entry.unloaded = false;
    entry.next = record->next;
    entry.hookNumber = static_cast<LONG>(hookNumber);
    *record = entry;

    RegisterProcess(k.store, k.processId, hookNumber, k.generation);
    WriteDllRecord("LOAD", *record, false);
    return S_OK;
}

}  // namespace

HookedDll* EnterHook(unsigned long hookNumber) {
    // COM may keep the stub copy loaded after the component said it could
    // unload (another apartment still holds it): the component was kept with
    // it, and a call in that time finds it in use again, as it would without
    // the hook. Under the init lock, so that no unload answer comes between.
    LastErrorGuard keepError;
    vx::critical_section_lock lock(&g_kernel.initLock);
    HookedDll* dll = FindHook(hookNumber);
    if (dll && dll->unloaded) ResumeHook(*dll, hookNumber);
    if (dll) ::InterlockedIncrement(&dll->callsInFlight);
    return dll;
}

void ResumeHook(HookedDll& dll, unsigned long hookNumber) {
    dll.unloaded = false;
    TraceStore& s = g_kernel.store;
    if (!s.block()) return;
    MapHold hold(s);
    EnterLoadedHook(s, g_kernel.processId, hookNumber);
}

void LeaveHook(HookedDll* dll) { ::InterlockedDecrement(&dll->callsInFlight); }

void ForgetDllObjects(const HookedDll& dll) {
    LockCounters& c = g_kernel.store.counters();
    InterceptionLock lock(&c.waitingEnters, &c.nestedEnterIntoSameThread);
    // Its objects are gone with it; a new object at one of their addresses is not theirs.
    for (InterceptedInterface* e = g_objects.interfaces; e; e = e->next)
        if (e->cls && e->cls->dll == &dll) KillInterface(*e);
    // Its method tables go with its image: restored while it is still loaded,
    // never written to afterwards.
    auto* base = reinterpret_cast<const unsigned char*>(dll.module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    RestoreTablesIn(base, nt->OptionalHeader.SizeOfImage);
}

int NextLoadGeneration() {
    char name[64];
    if (::FindAtomA("At least one DLL has been loaded") == 0) {
        ::AddAtomA("At least one DLL has been loaded");
        ::AddAtomA("Number of DLL = 1");
        return 1;
    }
    int generation = 1;
    for (int n = 1; n <= kMaxGeneration; ++n) {
        std::snprintf(name, sizeof name, "Number of DLL = %d", n);
        if (ATOM atom = ::FindAtomA(name)) {
            ::DeleteAtom(atom);
            generation = n + 1;
            break;
        }
    }
    std::snprintf(name, sizeof name, "Number of DLL = %d", generation);
    ::AddAtomA(name);
    return generation;
}

void RegisterProcess(TraceStore& store, DWORD processId, unsigned long hookNumber, int generation) {
    TraceMap* map = store.map();
    if (!map) {
        // A refused map: the process is traced without being listed.
        EnterLoadedHook(store, processId, hookNumber);
        return;
    }
    MapHold hold(store);
    if (map->liveProcesses != 0) {
        for (int i = 0; i < kProcessSlots && map->processes[i] != 0; ++i) {
            uint32_t id = map->processes[i];
            if (id != kFreeSlot && ProcessIsGone(id)) {
                map->processes[i] = kFreeSlot;
                if (map->liveProcesses) --map->liveProcesses;
            }
        }
    }
    if (map->liveProcesses == 0) {
        map->liveProcesses = 1;
        map->processes[0] = processId;
        if (generation == 1) store.ResetDistilledFile();
    } else {
        int end = 0, lastFree = -1;
        bool listed = false;
        for (; end < kProcessSlots && map->processes[end] != 0; ++end) {
            if (map->processes[end] == processId) listed = true;
            if (map->processes[end] == kFreeSlot && end > 0) lastFree = end;
        }
        // The list ends at its first 0, so the last slot stays a terminator;
        // a process beyond that is traced but not listed.
        int slot = lastFree >= 0 ? lastFree : (end < kProcessSlots - 1 ? end : -1);
        if (!listed && slot >= 0) {
            map->processes[slot] = processId;
            ++map->liveProcesses;
        }
    }
    EnterLoadedHook(store, processId, hookNumber);
}

void EnterLoadedHook(TraceStore& store, DWORD processId, unsigned long hookNumber) {
    InterlockedIncrement(&store.block()->loadedHookedDlls);
    TraceMap* map = store.map();
    if (!map) return;
    bool entered = false;
    for (const HookEntry& e : map->hooks)
        if (e.processId == processId && e.hookNumber == hookNumber) entered = true;
    for (HookEntry& e : map->hooks) {
        if (entered) break;
        if (e.processId == 0 && e.hookNumber == 0) {
            e = HookEntry{processId, hookNumber};
            entered = true;
        }
    }
}

HookedDll* FindHook(unsigned long hookNumber) {
    ProcessBlock* block = g_kernel.store.block();
    if (!block || hookNumber == 0) return nullptr;
    for (HookedDll* d = block->hookedDlls; d; d = d->next)
        if (d->hookNumber == static_cast<LONG>(hookNumber)) return d;
    return nullptr;
}

void ModuleLoad() {
    Kernel& k = g_kernel;
    ::InitializeCriticalSection(&k.initLock);
    StartCheckedReads();
    k.processId = ::GetCurrentProcessId();
    TraceStore& s = k.store;
    char folder[MAX_PATH];
    if (!LookUpInstallFolder(folder, sizeof folder) || !s.files.Build(folder)) return;
    DeleteStaleExtraFile(s);

    static char text[kSettingsReadLimit + 1];
    int length = ReadSettingsFile(s.files.advancedSettings, text, sizeof text);
    std::string_view view(text, length > 0 ? length : 0);
    SettingsRead advanced = ApplyAdvancedSettings(length >= 0 ? &view : nullptr, s.switches);
    length = ReadSettingsFile(s.files.mainSettings, text, sizeof text);
    view = std::string_view(text, length > 0 ? length : 0);
    SettingsRead main = ApplyMainSettings(length >= 0 ? &view : nullptr, s.switches);
    std::snprintf(k.knownLibrary, sizeof k.knownLibrary, "%s%s", s.files.folder, kKnownLibraryName);
    char notice[MAX_PATH + 160];
    KnownLibraryNotice(k.knownLibrary, notice, sizeof notice);
    s.WriteStartBanner({{s.files.advancedSettings, advanced}, {s.files.mainSettings, main}}, notice);
}

void ModuleUnload(bool processTerminating) {
    Kernel& k = g_kernel;
    // At process exit other DLLs may already be gone: leave their objects alone.
    if (k.stdole && !processTerminating) k.stdole->Release();  // no owner: at exit it must stay untouched
    k.stdole = nullptr;
    if (k.known && !processTerminating) k.known->Release();
    k.known = nullptr;
    if (ProcessBlock* block = k.store.block()) {
        // A thread ended inside the kernel by the process exit may have left
        // lists and files half written: then nothing more is touched.
        bool abandoned = k.store.AbandonedAtShutdown() || InterceptionAbandonedAtShutdown();
        const bool dllsLoaded = block->loadedHookedDlls != 0;
        // A process ending with a component still loaded (a leaked object, a
        // script host) is the case the report exists for: it comes after the
        // last UNLOAD DLL record. Tables and memory stay while a component
        // that may still call through them is loaded.
        if ((!dllsLoaded || processTerminating) && !abandoned) {
            LockCounters& c = k.store.counters();
            InterceptionLock lock(&c.waitingEnters, &c.nestedEnterIntoSameThread);
            if (!dllsLoaded) RestoreMethodTables();
            WriteFinalReport();
            if (!dllsLoaded) ForgetObjects();
        }
        if (!dllsLoaded && !abandoned) {
            block->hookedDlls = nullptr;
            PoolFreeAll();
        }
        if (!abandoned) k.store.WriteHeldFullText();
        k.store.FlushNotification();
        k.store.ReleaseMaps();
    }
    k.store.CloseFiles();
    StopCheckedReads();
    if (!processTerminating) ::DeleteCriticalSection(&k.initLock);
}

}  // namespace korbin

using korbin::g_kernel;
using korbin::HookedDll;

long __stdcall InitZorNumber(unsigned long hookNumber) {
    if (hookNumber == 0) return korbin::kFail;
    korbin::LastErrorGuard keepError;
    vx::critical_section_lock lock(&korbin::g_kernel.initLock);
    return korbin::InitHook(hookNumber);
}

long __stdcall DetachZorNumber(unsigned long hookNumber) {
    korbin::LastErrorGuard keepError;
    HookedDll* dll = korbin::FindHook(hookNumber);
    if (!dll) return korbin::kFail;
    if (!g_kernel.store.AbandonedAtShutdown()) korbin::WriteDllRecord("UNLOAD", *dll, true);
    // The component goes with its stub, once it said it could; at process
    // exit everything goes anyway.
    if (dll->unloaded && dll->module && !korbin::ProcessShuttingDown()) {
        // The record lives in pool memory as long as the kernel: its library
        // and module are given back by hand when its hook goes.
        if (dll->typeLib) dll->typeLib->Release();
        dll->typeLib = nullptr;
        korbin::ForgetDllObjects(*dll);
        ::FreeLibrary(dll->module);
        dll->module = nullptr;
    }
    dll->hookNumber = -1;
    korbin::PoolFree(dll->path);
    korbin::PoolFree(dll->fileName);
    dll->path = dll->fileName = nullptr;
    return S_OK;
}

long __stdcall MyDllGetClassObject(const _GUID& classId, const _GUID& interfaceId, void** object,
                                   unsigned long hookNumber) {
    HookedDll* dll = korbin::EnterHook(hookNumber);
    if (!dll) return korbin::kFail;
    HRESULT hr = dll->getClassObject(classId, interfaceId, object);
    if (SUCCEEDED(hr) && object && g_kernel.store.block()) {
        korbin::LastErrorGuard keepError;
        korbin::InterceptClassObject(classId, interfaceId, *object, dll);
    }
    korbin::LeaveHook(dll);
    return hr;
}

long __stdcall MyDllCanUnloadNow(unsigned long hookNumber) {
    korbin::LastErrorGuard keepError;
    // Taken before the real DLL is asked, so no creation starts between its
    // answer and the hook's bookkeeping.
    vx::critical_section_lock lock(&korbin::g_kernel.initLock);
    HookedDll* dll = korbin::FindHook(hookNumber);
    if (!dll) return korbin::kFail;
    // Another thread is inside the DLL (its class object is not counted yet).
    if (dll->callsInFlight != 0) return S_FALSE;
    // The real DLL stays loaded until the stub's detach: COM may keep the stub
    // after this answer (another apartment still holds it), and a class
    // object handed out before may still create through it. So it is asked
    // again each time, even after it said yes.
    HRESULT hr = dll->canUnloadNow();
    if (hr != S_OK) {
        if (dll->unloaded) korbin::ResumeHook(*dll, hookNumber);
        return hr;
    }
    if (dll->unloaded) return hr;
    korbin::TraceStore& s = g_kernel.store;
    InterlockedDecrement(&s.block()->loadedHookedDlls);
    {
        korbin::MapHold hold(s);
        korbin::ClearHookEntries(s.map(), g_kernel.processId, hookNumber);
    }
    dll->unloaded = true;
    return hr;
}

long __stdcall MyDllRegisterServer(unsigned long hookNumber) {
    HookedDll* dll = korbin::EnterHook(hookNumber);
    if (!dll) return korbin::kFail;
    HRESULT hr = dll->registerServer();
    korbin::LeaveHook(dll);
    return hr;
}

long __stdcall MyDllUnregisterServer(unsigned long hookNumber) {
    HookedDll* dll = korbin::EnterHook(hookNumber);
    if (!dll) return korbin::kFail;
    HRESULT hr = dll->unregisterServer();
    korbin::LeaveHook(dll);
    return hr;
}
