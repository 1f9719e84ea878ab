// Pieces of setup and uninstall.
#include "installation.h"

#include <shlobj.h>

#include <cstdio>

#include "raii.h"

namespace vxsetup {

const char* const kDeliverables[] = {"Vexilo.exe", "Vexilo.dll",     "Korbin.dll",   "Ledra.dll", "vxtrace.exe",
                                     "Pollux.dll", "PolluxTest.exe", "Uninstall.exe"};
const size_t kDeliverableCount = sizeof kDeliverables / sizeof kDeliverables[0];
const char* const kDataFiles[] = {"Help.rtf", "VxKnown.tlb"};
const size_t kDataFileCount = sizeof kDataFiles / sizeof kDataFiles[0];
const char* const kServers[] = {"Ledra.dll", "Pollux.dll"};
const size_t kServerCount = sizeof kServers / sizeof kServers[0];

int Reporter::Fail(int code, const std::string& text) const {
    if (quiet_) {
        std::fprintf(stderr, "%s: %s\n", title_, text.c_str());
        std::fflush(stderr);
    } else {
        ::MessageBoxA(nullptr, text.c_str(), title_, MB_OK | MB_ICONERROR);
    }
    return code;
}

void Reporter::Note(const std::string& text) const {
    if (quiet_) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    } else {
        ::MessageBoxA(nullptr, text.c_str(), title_, MB_OK | MB_ICONINFORMATION);
    }
}

bool Reporter::Ask(const std::string& question) const {
    return quiet_ || ::MessageBoxA(nullptr, question.c_str(), title_, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string ShortcutPath() {
    char programs[MAX_PATH];
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs))) return {};
    return std::string(programs) + "\\" + kShortcutName;
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.rfind('\\') + 1);
}

std::string WithBackslash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

bool RunRegsvr32(const std::string& dll, bool unregister, std::string* error) {
    char system[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        *error = "the system folder cannot be found";
        return false;
    }
    std::string command = std::string("\"") + system + "\\regsvr32.exe\" /s " + (unregister ? "/u " : "") + "\"" + dll + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process)) {
        *error = "regsvr32 cannot be started (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    vx::unique_handle processHandle(process.hProcess), thread(process.hThread);
    if (::WaitForSingleObject(processHandle.get(), 120000) != WAIT_OBJECT_0) {
        *error = "regsvr32 " + dll + " did not finish";
        return false;
    }
    DWORD code = 1;
    ::GetExitCodeProcess(processHandle.get(), &code);
    if (code != 0) {
        *error = std::string("regsvr32 ") + (unregister ? "/u " : "") + dll + " failed (exit code " +
                 std::to_string(code) + ")";
        return false;
    }
    return true;
}

WORD MachineOf(const std::string& path) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return 0;
    IMAGE_DOS_HEADER dos = {};
    DWORD got = 0;
    if (!::ReadFile(file.get(), &dos, sizeof dos, &got, nullptr) || got != sizeof dos || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    if (::SetFilePointer(file.get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } nt = {};
    if (!::ReadFile(file.get(), &nt, sizeof nt, &got, nullptr) || got != sizeof nt || nt.signature != IMAGE_NT_SIGNATURE)
        return 0;
    return nt.header.Machine;
}

WORD OwnMachine() {
#ifdef _WIN64
    return IMAGE_FILE_MACHINE_AMD64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

}  // namespace vxsetup
