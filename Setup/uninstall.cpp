// Uninstall.exe: removes every hook, the servers' registration, the registry
// entries setup made and the installation folder with all the product wrote.
//   Uninstall [/quiet]
#include <windows.h>
#include <objbase.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Ledra.h"
#include "installation.h"
#include "leftovers.h"
#include "modulelist.h"
#include "raii.h"
#include "textconv.h"

namespace vxsetup {
namespace {

constexpr DWORD kRestoreWaitMs = 60000;
// Files held by no process that can be found are tried again this long.
constexpr DWORD kUnknownHolderRetryMs = 10 * 60000;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

std::string ReadString(HKEY key, const char* name) {
    char value[1024];
    DWORD size = sizeof value - 1, type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    value[size] = '\0';
    return value;
}

struct HookedClass {
    std::string clsid;
    std::string server;
    std::string realPath;
};

// Classes whose server is a stub copy of this installation.
std::vector<HookedClass> HookedClasses(const std::string& folder) {
    std::vector<HookedClass> hooked;
    vx::unique_hkey classes;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, classes.put()) != ERROR_SUCCESS) return hooked;
    std::string stubPrefix = Upper(folder + "Zor#_");
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        LSTATUS status = ::RegEnumKeyExA(classes.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        vx::unique_hkey server;
        if (::RegOpenKeyExA(classes.get(), (std::string(name) + "\\InprocServer32").c_str(), 0, KEY_READ,
                            server.put()) != ERROR_SUCCESS)
            continue;
        HookedClass cls{name, ReadString(server.get(), nullptr), ReadString(server.get(), "TypeLib")};
        if (Upper(cls.server).rfind(stubPrefix, 0) == 0) hooked.push_back(cls);
    }
    return hooked;
}

class Uninstaller {
public:
    Uninstaller(const Reporter& report, std::string folder) : report_(report), folder_(std::move(folder)) {}

    int Run() {
        if (!report_.Ask("Remove Vexilo from \"" + folder_ + "\", with its hooks, traces and lists?"))
            return report_.Fail(kUsage, "uninstall cancelled");
        int result = RemoveHooks();
        if (result != kDone) return result;  // the folder stays: hooked classes would point at nothing
        for (size_t i = 0; i < kServerCount; ++i) {
            std::string error;
            if (::GetFileAttributesA((folder_ + kServers[i]).c_str()) != INVALID_FILE_ATTRIBUTES &&
                !RunRegsvr32(folder_ + kServers[i], true, &error)) {
                report_.Fail(kRegistrationFailed, error);
                result = kRegistrationFailed;
            }
        }
        RemoveAppPath();
        if (int removal = RemoveFolder(); removal != kDone) return removal;
        if (result == kDone && !report_.quiet()) report_.Note("Vexilo is removed");
        return result;
    }

private:
    // Hooks are removed as the trace reader removes them: applied again under
    // their numbers, then removed, so each component registers itself again.
    int RemoveHooks() {
        std::string settings, error;
        vx::ReadTextFile(folder_ + "Vexilo.txt", &settings, &error);
        std::vector<std::pair<std::string, long>> hooks;
        for (const vx::ModuleLine& line : vx::ModuleLines(settings))
            if (line.active) hooks.emplace_back(line.path, line.number);
        // Hooks the module list does not know (a lost settings file).
        for (const HookedClass& cls : HookedClasses(folder_)) {
            bool known = false;
            for (const auto& hook : hooks) known = known || Upper(hook.first) == Upper(cls.realPath);
            long number = std::atol(cls.server.c_str() + folder_.size() + 5);
            if (!known && !cls.realPath.empty() && number > 0) hooks.emplace_back(cls.realPath, number);
        }
        if (hooks.empty()) return kDone;

        vx::unique_module ledra(::LoadLibraryA((folder_ + "Ledra.dll").c_str()));
        using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        GetClassObjectFn getClassObject = nullptr;
        if (ledra) {
            FARPROC found = ::GetProcAddress(ledra.get(), "DllGetClassObject");
            static_assert(sizeof found == sizeof getClassObject);
            std::memcpy(&getClassObject, &found, sizeof found);
        }
        if (!getClassObject) return report_.Fail(kHooksRemain, "the trace reader Ledra.dll cannot be loaded");
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        int result = kDone;
        {
            vx::com_ptr<IClassFactory> factory;
            vx::com_ptr<ITraceReader> reader;
            if (FAILED(getClassObject(CLSID_TraceReader, IID_IClassFactory, factory.put_void())) ||
                FAILED(factory->CreateInstance(nullptr, IID_ITraceReader, reader.put_void()))) {
                ::CoUninitialize();
                return report_.Fail(kHooksRemain, "the trace reader cannot be created");
            }
            vx::unique_bstr folder(vx::NewBstr(folder_));
            reader->put_InstallationPath(folder.get());
            for (const auto& [path, number] : hooks) {
                vx::unique_bstr wide(vx::NewBstr(path));
                VARIANT_BOOL ok = VARIANT_FALSE;
                reader->SetHook(wide.get(), number, &ok);
                reader->RemoveHook(wide.get(), &ok);
            }
            DWORD start = ::GetTickCount();
            for (;;) {
                std::vector<HookedClass> still = HookedClasses(folder_);
                VARIANT_BOOL ended = VARIANT_FALSE;
                reader->IsTerminationCompleted(&ended);
                if (still.empty() && ended) break;
                if (::GetTickCount() - start > kRestoreWaitMs) {
                    std::string list;
                    for (const HookedClass& cls : still) list += "\n  " + cls.clsid + " (" + cls.realPath + ")";
                    result = report_.Fail(kHooksRemain,
                                          "these classes still point at a stub copy; nothing was removed:" + list);
                    break;
                }
                Pump();
                ::Sleep(100);
            }
        }
        ::CoUninitialize();
        return result;
    }

    void RemoveAppPath() {
        vx::unique_hkey appPath;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathKey, 0, KEY_READ, appPath.put()) == ERROR_SUCCESS) {
            std::string value = ReadString(appPath.get(), nullptr);
            appPath.reset();
            // Only the entry that names this installation.
            if (Upper(value) == Upper(folder_ + "Vexilo.exe")) ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppPathKey);
        }
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        std::string shortcut = ShortcutPath();
        if (!shortcut.empty()) ::DeleteFileA(shortcut.c_str());
    }

    // Everything but this program now. A copy of it in the temporary folder
    // removes the rest, this program and the uninstall entry last, once this
    // process and every process that holds a file of the folder have ended.
    int RemoveFolder() {
        char self[MAX_PATH];
        DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string selfPath(self, n);
        std::vector<std::string> left = ClearFolder(folder_, selfPath);
        DWORD error = StartFinisher(selfPath);
        if (error != ERROR_SUCCESS)
            return report_.Fail(kRemovalIncomplete, "\"" + folder_ + "\" is not removed: its remover cannot be started "
                                                    "(error " + std::to_string(error) + "); run \"" + selfPath +
                                                    "\" again");
        if (left.empty()) return kDone;
        std::string files;
        for (const std::string& file : left)
            files += (files.empty() ? "\"" : ", \"") + file.substr(folder_.size()) + "\"";
        files += left.size() == 1 ? " is" : " are";
        std::vector<Holder> holders = HoldersOf(left);
        if (holders.empty())
            return report_.Fail(kRemovalIncomplete,
                                "\"" + folder_ + "\" is not removed yet: " + files +
                                    " cannot be deleted now, and no process was found that holds them. They are tried "
                                    "again for " + std::to_string(kUnknownHolderRetryMs / 60000) +
                                    " minutes; until they are gone, Uninstall.exe and its uninstall entry stay, so "
                                    "that it can be run again");
        return report_.Fail(kRemovalIncomplete,
                            "\"" + folder_ + "\" is not removed yet: " + files + " in use by " + HolderText(holders) +
                                ". They are removed as soon as " + (holders.size() == 1 ? "it ends" : "these end") +
                                "; until then Uninstall.exe and its uninstall entry stay");
    }

    DWORD StartFinisher(const std::string& selfPath) {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        std::string copy = std::string(temp) + "VexiloUninstall-" + std::to_string(::GetCurrentProcessId()) + ".exe";
        if (!::CopyFileA(selfPath.c_str(), copy.c_str(), FALSE)) return ::GetLastError();
        // The folder without its final backslash: "\\\"" would escape the quote.
        std::string command = "\"" + copy + "\" /finish " + std::to_string(::GetCurrentProcessId()) + " \"" +
                              folder_.substr(0, folder_.size() - 1) + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        // Detached: the copy may wait long, and a script that reads this
        // program's output must not wait with it for the output's end.
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, temp,
                              &startup, &process)) {
            DWORD error = ::GetLastError();
            ::DeleteFileA(copy.c_str());
            return error;
        }
        vx::unique_handle thread(process.hThread), child(process.hProcess);  // not waited for
        return ERROR_SUCCESS;
    }

    const Reporter& report_;
    std::string folder_;
};

// Waits until every process that holds one of the files has ended; false
// when none can be waited on.
bool WaitForHolders(const std::vector<std::string>& files) {
    std::vector<vx::unique_handle> processes;
    for (const Holder& holder : HoldersOf(files)) {
        vx::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, holder.pid));
        if (process) processes.push_back(std::move(process));
    }
    for (const vx::unique_handle& process : processes) ::WaitForSingleObject(process.get(), INFINITE);
    return !processes.empty();
}

// A new installation in the same folder since the uninstall began: its files
// are not ours to remove.
bool Reinstalled(const std::string& folder) {
    vx::unique_hkey appPath;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathKey, 0, KEY_READ, appPath.put()) != ERROR_SUCCESS) return false;
    return Upper(ReadString(appPath.get(), nullptr)) == Upper(folder + "Vexilo.exe");
}

void RemoveUninstallEntry(const std::string& folder) {
    vx::unique_hkey entry;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, entry.put()) != ERROR_SUCCESS) return;
    std::string location = ReadString(entry.get(), "InstallLocation");
    entry.reset();
    if (Upper(location) == Upper(folder)) ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
}

// The copy in the temporary folder: waits for the uninstaller and for every
// process that holds a file of the folder, removes the folder, Uninstall.exe
// and the uninstall entry last, and has itself removed at the next start of
// the system.
int Finish(DWORD parent, const std::string& folder) {
    vx::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, parent));
    if (process) ::WaitForSingleObject(process.get(), INFINITE);
    const std::string uninstaller = folder + "Uninstall.exe";
    DWORD unknownSince = 0;
    bool removed = false;
    while (!Reinstalled(folder)) {
        std::vector<std::string> left = ClearFolder(folder, uninstaller);
        if (left.empty()) {
            ::DeleteFileA(uninstaller.c_str());
            ::RemoveDirectoryA(folder.c_str());
            if (::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
                RemoveUninstallEntry(folder);
                removed = true;
                break;
            }
            left = {uninstaller};  // run again meanwhile
        }
        if (WaitForHolders(left)) {
            unknownSince = 0;
            continue;
        }
        if (unknownSince == 0) unknownSince = ::GetTickCount();
        if (::GetTickCount() - unknownSince > kUnknownHolderRetryMs) break;
        ::Sleep(1000);
    }
    char self[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ::MoveFileExA(std::string(self, n).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return removed ? kDone : kRemovalIncomplete;
}

}  // namespace
}  // namespace vxsetup

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "/finish")
        return vxsetup::Finish(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), vxsetup::WithBackslash(argv[3]));
    bool quiet = argc == 2 && std::string(argv[1]) == "/quiet";
    if (argc > 2 || (argc == 2 && !quiet)) {
        vxsetup::Reporter("Uninstall", true).Fail(vxsetup::kUsage, "usage: Uninstall [/quiet]");
        return vxsetup::kUsage;
    }
    vxsetup::Reporter report("Uninstall", quiet);
    return vxsetup::Uninstaller(report, vxsetup::ProgramFolder()).Run();
}
