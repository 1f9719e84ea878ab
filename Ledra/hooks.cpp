// Hooking and unhooking component DLLs in the registry, and the watcher that
// keeps hooks in force across a component's own registration.
#include "hooks.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <algorithm>

#include "Ledra.h"
#include "comserver.h"
#include "stubname.h"
#include "textconv.h"
#include "tracereader.h"

namespace ledra {
namespace {

using vx::EqualNoCase;

constexpr size_t kWatchesPerHook = 400;
// The wait takes 64 handles; the stop and wake events take two.
constexpr size_t kMostWatches = MAXIMUM_WAIT_OBJECTS - 2;

// A REG_SZ value; false when missing or of another type.
bool ReadString(HKEY key, const char* name, std::string* out) {
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
    std::string value(size + 1, '\0');
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value.resize(std::min<size_t>(size, value.size()));
    while (!value.empty() && value.back() == '\0') value.pop_back();
    *out = value;
    return true;
}

bool WriteString(HKEY key, const char* name, const std::string& value) {
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool WellFormedClassId(const char* name) {
    return name[0] == '{' && std::strlen(name) >= 38 && name[37] == '}';
}

// Every class that the hook of compPath redirected points at the real DLL
// again, and the value TypeLib the hook wrote is deleted. The component's
// own registration runs afterwards: a TypeLib value it writes itself comes
// back with it, and a class is never left on the stub without its real path.
// Classes the component restored itself (while no watcher ran) lose the
// value too.
void RestoreClasses(const std::string& compPath) {
    std::vector<std::pair<std::string, std::string>> classes;  // class id, real path as written by the hook
    ClassScanCursor cursor;
    cursor.Reset(1);
    ClassEntry cls;
    while (cursor.Next(&cls)) {
        if (!cls.hasServer) continue;
        if (IsStubPath(cls.serverPath)) {
            if (cls.hasRealPath && EqualNoCase(cls.realPath, compPath)) classes.emplace_back(cls.clsid, cls.realPath);
        } else if (EqualNoCase(cls.serverPath, compPath)) {
            classes.emplace_back(cls.clsid, std::string());
        }
    }
    for (const auto& [clsid, real] : classes) {
        vx::unique_hkey server;
        if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid + "\\InprocServer32").c_str(), 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, server.put()) != ERROR_SUCCESS)
            continue;
        if (real.empty()) {
            std::string left;
            if (!ReadString(server.get(), "TypeLib", &left) || !EqualNoCase(left, compPath)) continue;
        } else if (!WriteString(server.get(), nullptr, real)) {
            continue;  // still hooked: the real path stays beside the stub
        }
        ::RegDeleteValueA(server.get(), "TypeLib");
    }
}

}  // namespace

std::string StubPath(const std::string& installationPath, long hookNumber) {
    char name[32];
    vx::FormatStubName(hookNumber, name, sizeof name);
    return installationPath + name;
}

bool IsStubPath(const std::string& serverPath) {
    return vx::NamesStubCopy(serverPath.c_str());
}

std::string TrimServerPath(const std::string& path) {
    if (path.empty()) return path;
    bool letterFirst = std::isalpha(static_cast<unsigned char>(path[0])) != 0;
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos && !letterFirst) return path;
    size_t floor = slash == std::string::npos ? 0 : slash + 1;
    size_t end = path.size();
    while (end > floor && !std::isalpha(static_cast<unsigned char>(path[end - 1]))) --end;
    return path.substr(0, end);
}

void ClassScanCursor::Reset(long mode) {
    mode_ = mode;
    index_ = 0;
    classes_.reset();
    open_ = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, classes_.put()) == ERROR_SUCCESS;
}

bool ClassScanCursor::Next(ClassEntry* entry) {
    if (!open_) return false;
    for (;;) {
        char name[300];
        DWORD length = sizeof name;
        LSTATUS status = ::RegEnumKeyExA(classes_.get(), index_, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {  // no class id is that long
            ++index_;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            classes_.reset();
            open_ = false;
            return false;
        }
        ++index_;
        if (!WellFormedClassId(name)) continue;
        vx::unique_hkey cls;
        if (::RegOpenKeyExA(classes_.get(), name, 0, KEY_READ, cls.put()) != ERROR_SUCCESS) continue;
        vx::unique_hkey server;
        if (::RegOpenKeyExA(cls.get(), "InprocServer32", 0, KEY_READ, server.put()) != ERROR_SUCCESS) continue;
        *entry = ClassEntry();
        entry->clsid = name;
        ReadString(cls.get(), nullptr, &entry->name);
        entry->hasServer = ReadString(server.get(), nullptr, &entry->serverPath);
        if (entry->hasServer && IsStubPath(entry->serverPath))
            entry->hasRealPath = ReadString(server.get(), "TypeLib", &entry->realPath);
        return true;
    }
}

HookManager& HookManager::Instance() {
    static HookManager manager;
    return manager;
}

HookManager::HookManager()
    : stop_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      wake_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      ready_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      go_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      done_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    ::InitializeCriticalSection(&lock_);
}

size_t HookManager::EntryCount() const {
    vx::critical_section_lock hold(&lock_);
    return entries_.size();
}

size_t HookManager::WatchedCount() const {
    vx::critical_section_lock hold(&lock_);
    return watches_.size();
}

bool HookManager::SetHook(IUnknown* self, const std::string& installationPath, const std::string& compPath,
                          long hookNumber) {
    if (hookNumber == 0) return false;
    std::string stub = StubPath(installationPath, hookNumber);
    ::CopyFileA((installationPath + "Vexilo.dll").c_str(), stub.c_str(), FALSE);

    // Writes first, notifications after: the hook's own writes must not
    // wake the watcher.
    std::vector<Watch> added;
    bool matched = false;
    const size_t room = [&] {
        vx::critical_section_lock hold(&lock_);
        return kMostWatches > watches_.size() ? kMostWatches - watches_.size() : 0;
    }();
    ClassScanCursor cursor;
    cursor.Reset(1);
    ClassEntry cls;
    while (cursor.Next(&cls)) {
        if (!cls.hasServer) continue;
        if (IsStubPath(cls.serverPath) && !cls.hasRealPath) continue;
        // The real path is kept as the class's own registration wrote it, so
        // that removing the hook can put back exactly that.
        const std::string& real = IsStubPath(cls.serverPath) ? cls.realPath : cls.serverPath;
        if (!EqualNoCase(real, compPath)) continue;
        vx::unique_hkey key;
        if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + cls.clsid).c_str(), 0, KEY_ALL_ACCESS, key.put()) !=
            ERROR_SUCCESS)
            continue;
        vx::unique_hkey server;
        if (::RegOpenKeyExA(key.get(), "InprocServer32", 0, KEY_ALL_ACCESS, server.put()) != ERROR_SUCCESS) continue;
        if (!WriteString(server.get(), nullptr, stub) || !WriteString(server.get(), "TypeLib", real)) continue;
        matched = true;
        if (added.size() >= kWatchesPerHook || added.size() >= room) continue;  // hooked, not watched
        Watch watch;
        watch.event.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!watch.event ||
            ::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET, watch.event.get(), TRUE) !=
                ERROR_SUCCESS)
            continue;
        watch.key = std::move(key);
        added.push_back(std::move(watch));
    }
    if (!matched) return false;

    // A watcher told to stop is let finish before a new one starts.
    if (stopRequested_) ::WaitForSingleObject(done_.get(), 5000);
    bool start = false;
    {
        vx::critical_section_lock hold(&lock_);
        // A number already in the table: that entry is replaced, its watches closed.
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].number == hookNumber) {
                RemoveEntryAt(i);
                break;
            }
        }
        Entry entry;
        entry.path = compPath;
        entry.number = hookNumber;
        entry.firstWatch = watches_.size();
        entry.watchCount = added.size();
        for (Watch& w : added) watches_.push_back(std::move(w));
        entries_.push_back(entry);
        start = watcherRunning_ == 0;
    }

    if (start && !StartWatcher(self)) return true;  // hooked; re-registration is not watched
    ::SetEvent(wake_.get());
    return true;
}

// Takes the entry's watches out of the array; the lock is held.
void HookManager::RemoveEntryAt(size_t index) {
    Entry removed = entries_[index];
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(index));
    for (size_t i = index; i < entries_.size(); ++i) entries_[i].firstWatch -= removed.watchCount;
    auto first = watches_.begin() + static_cast<ptrdiff_t>(removed.firstWatch);
    auto last = first + static_cast<ptrdiff_t>(removed.watchCount);
    for (auto it = first; it != last; ++it) retired_.push_back(std::move(*it));
    watches_.erase(first, last);
    if (watcherRunning_ == 0) retired_.clear();
}

bool HookManager::RemoveHook(const std::string& compPath) {
    bool rehook = false;
    {
        vx::critical_section_lock hold(&lock_);
        size_t index = entries_.size();
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].path == compPath) {
                index = i;
                break;
            }
        }
        if (index == entries_.size()) return false;
        rehook = ::InterlockedExchange(&rehook_, 0) != 0;
        // A re-hook removes and sets the entry again: the watcher that runs
        // it keeps running.
        if (entries_.size() == 1 && !rehook && watcherRunning_) {
            ::InterlockedExchange(&stopRequested_, 1);
            ::SetEvent(stop_.get());
        }
        RemoveEntryAt(index);
    }
    // The wake comes before the writes below: the watcher prefers it to the
    // removed watches' events and drops them unseen.
    ::SetEvent(wake_.get());
    if (rehook) return true;  // the component's registration is in place; the hook comes back at once

    RestoreClasses(compPath);

    char system[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::string command = std::string(system) + "\\regsvr32.exe /s \"" + compPath + "\"";
    return ::WinExec(command.c_str(), SW_HIDE) > 31;
}

bool HookManager::IsTerminationCompleted() const { return stopRequested_ == 0; }

namespace {

constexpr UINT kRehookMessage = WM_APP + 1;
constexpr UINT kReleaseMessage = WM_APP + 2;
constexpr wchar_t kApartmentWindowClass[] = L"VexiloHookWatch";
constexpr UINT kCallTimeoutMs = 60000;

struct RehookRequest {
    std::string path;
    long number;
    bool removeFirst;
    bool hooked = false;
};

}  // namespace

LRESULT CALLBACK HookManager::ApartmentWindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    auto* reader = reinterpret_cast<ITraceReader*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == kRehookMessage && reader) {
        auto* request = reinterpret_cast<RehookRequest*>(lp);
        vx::unique_bstr path(vx::NewBstr(request->path));
        VARIANT_BOOL ok = VARIANT_FALSE;
        if (request->removeFirst) {
            ::InterlockedExchange(&Instance().rehook_, 1);
            reader->RemoveHook(path.get(), &ok);
            ::InterlockedExchange(&Instance().rehook_, 0);
        }
        ok = VARIANT_FALSE;
        request->hooked = SUCCEEDED(reader->SetHook(path.get(), request->number, &ok)) && ok;
        return 1;
    }
    if (msg == kReleaseMessage) {
        if (reader) reader->Release();  // the window's reference, kept in its user data since it was made
        ::DestroyWindow(window);
        return 0;
    }
    return ::DefWindowProcW(window, msg, wp, lp);
}

bool HookManager::StartWatcher(IUnknown* self) {
    vx::com_ptr<ITraceReader> reader;
    if (FAILED(self->QueryInterface(IID_ITraceReader, reader.put_void()))) return false;
    WNDCLASSW cls = {};
    cls.lpfnWndProc = ApartmentWindowProc;
    cls.hInstance = reinterpret_cast<HINSTANCE>(vxs::this_module());
    cls.lpszClassName = kApartmentWindowClass;
    ::RegisterClassW(&cls);  // already registered is fine
    HWND window = ::CreateWindowExW(0, kApartmentWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    cls.hInstance, nullptr);
    if (!window) return false;
    // The watcher keeps the object alive until it ends.
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reader.detach()));
    apartmentWindow_ = window;

    ::ResetEvent(done_.get());
    ::ResetEvent(ready_.get());
    ::ResetEvent(go_.get());
    ::ResetEvent(stop_.get());
    ::InterlockedExchange(&watcherRunning_, 1);
    thread_.reset(::CreateThread(nullptr, 0, WatcherThread, this, 0, nullptr));
    if (!thread_) {
        ::InterlockedExchange(&watcherRunning_, 0);
        ::SendMessageW(window, kReleaseMessage, 0, 0);
        apartmentWindow_ = nullptr;
        return false;
    }
    ::WaitForSingleObject(ready_.get(), INFINITE);
    ::ResetEvent(ready_.get());
    ModuleLog().Write("Watcher started");
    ::SetEvent(go_.get());
    return true;
}

DWORD WINAPI HookManager::WatcherThread(void* context) {
    static_cast<HookManager*>(context)->RunWatcher();
    return 0;
}

bool HookManager::RequestOnApartment(const std::string& path, long number, bool removeFirst) {
    RehookRequest request{path, number, removeFirst};
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(apartmentWindow_, kRehookMessage, 0, reinterpret_cast<LPARAM>(&request), SMTO_NORMAL,
                               kCallTimeoutMs, &answer))
        return false;
    return request.hooked;
}

void HookManager::RunWatcher() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    ::SetEvent(ready_.get());
    ::WaitForSingleObject(go_.get(), INFINITE);
    ::ResetEvent(go_.get());

    for (;;) {
        std::vector<HANDLE> handles = {stop_.get(), wake_.get()};
        std::vector<std::pair<std::string, long>> owners;  // per watch: entry path and number
        {
            vx::critical_section_lock hold(&lock_);
            retired_.clear();  // no longer waited on
            for (const Entry& e : entries_)
                for (size_t i = 0; i < e.watchCount; ++i) {
                    handles.push_back(watches_[e.firstWatch + i].event.get());
                    owners.emplace_back(e.path, e.number);
                }
        }

        DWORD hit = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
        if (hit == WAIT_FAILED || hit >= WAIT_OBJECT_0 + handles.size()) break;
        size_t i = hit - WAIT_OBJECT_0;
        if (i == 0) {
            ::ResetEvent(stop_.get());
            break;
        }
        if (i == 1) {
            ::ResetEvent(wake_.get());
            continue;
        }
        ::ResetEvent(handles[i]);
        const auto& [path, number] = owners[i - 2];
        ModuleLog().Write(("Registration changed: hooking again " + path).c_str());
        bool hooked = RequestOnApartment(path, number, true);
        for (int attempt = 0; attempt < 2 && !hooked; ++attempt) {
            ::Sleep(1000);
            hooked = RequestOnApartment(path, number, false);
        }
    }
    HWND window = nullptr;
    {
        vx::critical_section_lock hold(&lock_);
        retired_.clear();
        window = std::exchange(apartmentWindow_, nullptr);
        ::InterlockedExchange(&watcherRunning_, 0);
    }
    ::PostMessageW(window, kReleaseMessage, 0, 0);
    ::SetEvent(done_.get());
    ::InterlockedExchange(&stopRequested_, 0);
}

void HookManager::Clear() {
    vx::critical_section_lock hold(&lock_);
    entries_.clear();
    watches_.clear();
    retired_.clear();
}

}  // namespace ledra
