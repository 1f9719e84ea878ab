// setup.exe: installs the product from the folder it runs in.
//   setup [/quiet] [/dir FOLDER]
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "installation.h"
#include "modulelist.h"
#include "raii.h"
#include "scannerexit.h"
#include "settings_template.h"
#include "textconv.h"

namespace vxsetup {
namespace {

constexpr DWORD kScanWaitMs = 300000;

bool WriteText(const std::string& path, const std::string& text) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool SetString(HKEY key, const char* name, const std::string& value) {
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool CreateFolders(const std::string& folder) {
    for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
        ::CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    DWORD attributes = ::GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The default settings; a reinstallation keeps the module list, whose line
// numbers are the hook numbers in the registry.
std::string MainSettings(const std::string& existingPath) {
    vx::MainSettingsContent content;
    std::string old, error;
    if (vx::ReadTextFile(existingPath, &old, &error)) {
        for (const vx::ModuleLine& line : vx::ModuleLines(old))
            content.modules.push_back(line.active ? line.path : "//" + line.path);
    }
    return vx::MainSettingsText(content);
}

// What became of a scan that did not signal its event.
std::string ScanFailure(DWORD hit, HANDLE scanner) {
    std::string program = std::string("the scanner program ") + kScannerProgram;
    if (hit == WAIT_TIMEOUT)
        return program + " did not finish the component scan within " + std::to_string(kScanWaitMs / 60000) +
               " minutes (it is still running)";
    DWORD code = 0;
    if (hit == WAIT_OBJECT_0 + 1 && ::GetExitCodeProcess(scanner, &code))
        return program + " ended with exit code " + std::to_string(code) + " without finishing the component scan: " +
               (code == vx::kScannerDone ? "it did not signal the event \"ScanningSucceeded\""
                                         : vx::ScannerExitText(code));
    return "waiting for " + program + " failed (error " + std::to_string(::GetLastError()) + ")";
}

// "Vexilo" in the Start menu, starting the main program in its folder.
bool CreateShortcut(const std::string& folder) {
    std::string path = ShortcutPath();
    if (path.empty() || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
    bool saved = false;
    {
        vx::com_ptr<IShellLinkA> link;
        vx::com_ptr<IPersistFile> file;
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                         link.put_void())) &&
            SUCCEEDED(link->SetPath((folder + "Vexilo.exe").c_str())) &&
            SUCCEEDED(link->SetWorkingDirectory(folder.c_str())) &&
            SUCCEEDED(link->SetDescription("Traces calls into in-process COM components")) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.put_void()))) {
            std::wstring wide = vx::Wide(path);
            saved = SUCCEEDED(file->Save(wide.c_str(), TRUE));
        }
    }
    ::CoUninitialize();
    return saved;
}

int Install(const Reporter& report, const std::string& sources, std::string folder) {
    // The system: files of this architecture, COM usable.
    for (size_t i = 0; i < kDeliverableCount; ++i) {
        std::string path = sources + kDeliverables[i];
        WORD machine = MachineOf(path);
        if (machine == 0) return report.Fail(kSystemUnfit, "\"" + path + "\" is missing or is no Windows program");
        if (machine != OwnMachine())
            return report.Fail(kSystemUnfit, "\"" + path + "\" is built for another architecture than this setup");
    }
    for (size_t i = 0; i < kDataFileCount; ++i) {
        std::string path = sources + kDataFiles[i];
        if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return report.Fail(kSystemUnfit, "\"" + path + "\" is missing");
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return report.Fail(kSystemUnfit, "COM cannot be initialised on this system");
    ::CoUninitialize();

    folder = WithBackslash(folder);
    if (!report.Ask("Install Vexilo into \"" + folder + "\"?")) return report.Fail(kUsage, "setup cancelled");
    if (!CreateFolders(folder)) return report.Fail(kCopyFailed, "the folder \"" + folder + "\" cannot be made");
    std::vector<const char*> files(kDeliverables, kDeliverables + kDeliverableCount);
    files.insert(files.end(), kDataFiles, kDataFiles + kDataFileCount);
    for (const char* name : files) {
        std::string from = sources + name, to = folder + name;
        if (!::CopyFileA(from.c_str(), to.c_str(), FALSE))
            return report.Fail(kCopyFailed, "\"" + from + "\" cannot be copied to \"" + to + "\" (error " +
                                                std::to_string(::GetLastError()) + ")");
    }
    if (!WriteText(folder + "Vexilo.txt", MainSettings(folder + "Vexilo.txt")) ||
        !WriteText(folder + "VexiloAdv.txt", vx::AdvancedSettingsText({})))
        return report.Fail(kCopyFailed, "the settings files cannot be written in \"" + folder + "\"");

    vx::unique_hkey appPath;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, appPath.put(),
                          nullptr) != ERROR_SUCCESS ||
        !SetString(appPath.get(), nullptr, folder + "Vexilo.exe"))
        return report.Fail(kRegistryFailed, "the registry cannot be written (App Paths): run setup as administrator");

    for (size_t i = 0; i < kServerCount; ++i) {
        std::string error;
        if (!RunRegsvr32(folder + kServers[i], false, &error)) return report.Fail(kRegistrationFailed, error);
    }

    // The scanner program completes the installation, makes the first lists
    // and signals the event it only opens.
    vx::unique_handle scanned(::CreateEventA(nullptr, TRUE, FALSE, kScanEvent));
    if (!scanned) return report.Fail(kScanFailed, "the event \"ScanningSucceeded\" cannot be made");
    ::ResetEvent(scanned.get());
    std::string command = "\"" + folder + kScannerProgram + "\" " + sources;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                          &process))
        return report.Fail(kScanFailed, "the scanner program cannot be started (error " +
                                            std::to_string(::GetLastError()) + ")");
    vx::unique_handle scanner(process.hProcess), thread(process.hThread);
    // The event, or the program's end without it, whichever comes first.
    HANDLE waits[] = {scanned.get(), scanner.get()};
    DWORD hit = ::WaitForMultipleObjects(2, waits, FALSE, kScanWaitMs);
    if (hit == WAIT_OBJECT_0 + 1 && ::WaitForSingleObject(scanned.get(), 0) == WAIT_OBJECT_0)
        hit = WAIT_OBJECT_0;  // signalled just before it ended
    if (hit != WAIT_OBJECT_0) return report.Fail(kScanFailed, ScanFailure(hit, scanner.get()));
    ::WaitForSingleObject(scanner.get(), 30000);

    vx::unique_hkey uninstall;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, uninstall.put(),
                          nullptr) != ERROR_SUCCESS ||
        !SetString(uninstall.get(), "DisplayName", "Vexilo") ||
        !SetString(uninstall.get(), "UninstallString", "\"" + folder + "Uninstall.exe\"") ||
        !SetString(uninstall.get(), "QuietUninstallString", "\"" + folder + "Uninstall.exe\" /quiet") ||
        !SetString(uninstall.get(), "InstallLocation", folder) || !SetString(uninstall.get(), "Publisher", "Vexilo"))
        return report.Fail(kRegistryFailed, "the uninstall entry cannot be written");
    if (!CreateShortcut(folder)) return report.Fail(kCopyFailed, "the Start-menu shortcut cannot be made");
    report.Note("Vexilo is installed in \"" + folder + "\"");
    return kDone;
}

std::string DefaultFolder() {
    char programFiles[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableA("ProgramFiles", programFiles, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) std::strcpy(programFiles, "C:\\Program Files");
    return std::string(programFiles) + "\\Vexilo\\";
}

}  // namespace
}  // namespace vxsetup

int main(int argc, char** argv) {
    bool quiet = false;
    std::string folder = vxsetup::DefaultFolder();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "/quiet") {
            quiet = true;
        } else if (arg == "/dir" && i + 1 < argc) {
            folder = argv[++i];
        } else {
            vxsetup::Reporter("setup", true).Fail(vxsetup::kUsage, "usage: setup [/quiet] [/dir FOLDER]");
            return vxsetup::kUsage;
        }
    }
    char full[MAX_PATH];
    DWORD n = ::GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return vxsetup::Reporter("setup", quiet).Fail(vxsetup::kUsage, "bad folder: " + folder);
    return vxsetup::Install(vxsetup::Reporter("setup", quiet), vxsetup::ProgramFolder(), full);
}
