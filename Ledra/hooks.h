// Hooks of component DLLs: every registered class served by the DLL is
// redirected to a numbered copy of the hook stub, the real path kept beside
// it; a watcher thread re-applies a hook when the component registers again.
// Also the enumeration of registered classes.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "raii.h"

namespace ledra {

// "Zor#_NN.dll" in the installation folder, NN printed with "%.2d".
std::string StubPath(const std::string& installationPath, long hookNumber);
// True when a server path names a stub copy ("Zor#_" in any letter case).
bool IsStubPath(const std::string& serverPath);
// The server path without trailing characters that are not letters (closing
// quotes, blanks, digits), never cut into its directory part.
std::string TrimServerPath(const std::string& path);

// One registered class with an in-process server.
struct ClassEntry {
    std::string clsid;
    std::string name;
    bool hasServer = false;  // (default) of InprocServer32 is REG_SZ
    std::string serverPath;
    bool hasRealPath = false;  // a hooked class's value TypeLib is REG_SZ
    std::string realPath;
};

// Walks HKCR\CLSID one class at a time.
class ClassScanCursor {
public:
    void Reset(long mode);
    // The next class that has an InprocServer32 key; false at the end.
    bool Next(ClassEntry* entry);

private:
    long mode_ = 1;
    vx::unique_hkey classes_;
    DWORD index_ = 0;
    bool open_ = false;
};

class HookManager {
public:
    static HookManager& Instance();

    // self: the reader object, marshalled to the watcher when it starts.
    bool SetHook(IUnknown* self, const std::string& installationPath, const std::string& compPath, long hookNumber);
    bool RemoveHook(const std::string& compPath);
    bool IsTerminationCompleted() const;
    size_t EntryCount() const;
    size_t WatchedCount() const;
    // Closes every watch and forgets every entry (module unload).
    void Clear();

private:
    struct Watch {
        vx::unique_hkey key;
        vx::unique_handle event;
    };
    struct Entry {
        std::string path;
        long number = 0;
        size_t firstWatch = 0;
        size_t watchCount = 0;
    };

    HookManager();
    void RemoveEntryAt(size_t index);
    bool StartWatcher(IUnknown* self);
    static DWORD WINAPI WatcherThread(void* context);
    void RunWatcher();
    // Runs a re-hook on the apartment thread of the object and answers
    // whether SetHook succeeded.
    bool RequestOnApartment(const std::string& path, long number, bool removeFirst);
    static LRESULT CALLBACK ApartmentWindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp);

    mutable CRITICAL_SECTION lock_;
    std::vector<Entry> entries_;
    std::vector<Watch> watches_;
    // Watches removed while the watcher may still wait on them: closed when
    // it takes up the new array.
    std::vector<Watch> retired_;
    vx::unique_handle stop_, wake_, ready_, go_, done_;
    vx::unique_handle thread_;
    // A message window on the object's apartment thread: the watcher's calls
    // run there, one at a time with the client's own calls, as calls through
    // a marshalled pointer would.
    HWND apartmentWindow_ = nullptr;
    volatile LONG rehook_ = 0;
    volatile LONG watcherRunning_ = 0;
    volatile LONG stopRequested_ = 0;
};

}  // namespace ledra
