#include "testinstall.h"

#include <windows.h>
#include <cstdio>

#include "raii.h"
#include "stubname.h"
#include "textconv.h"

namespace vxinstall {
namespace {

constexpr char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Vexilo.exe";

bool Fail(std::string* error, const std::string& what) {
    if (error) *error = what + " (error " + std::to_string(::GetLastError()) + ")";
    return false;
}

bool WriteText(const std::string& path, const std::string& text) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ReadDefault(HKEY parent, const std::string& subkey) {
    char value[1024];
    LONG size = sizeof value;
    if (::RegQueryValueA(parent, subkey.c_str(), value, &size) != ERROR_SUCCESS) return {};
    return value;
}

}  // namespace

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string StubCopyName(int hookNumber) {
    char name[32];
    vx::FormatStubName(hookNumber, name, sizeof name);
    return name;
}

namespace {

std::string FileBytes(const std::string& path) {
    std::string bytes;
    return vx::ReadWholeFile(path, &bytes) ? bytes : std::string();
}

}  // namespace

bool CopyStage(const std::string& stage, const std::string& folder, std::string* error) {
    ::CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* name : {"Vexilo.dll", "Korbin.dll", "VxKnown.tlb", "Ledra.dll", "vxtrace.exe"}) {
        std::string from = stage + "\\" + name, to = folder + name;
        if (::CopyFileA(from.c_str(), to.c_str(), FALSE)) continue;
        // A server this process still has loaded is in use; the same bytes need no copy.
        if (::GetLastError() == ERROR_SHARING_VIOLATION && FileBytes(from) == FileBytes(to)) continue;
        return Fail(error, "cannot copy " + from + " to " + to);
    }
    return true;
}

bool WriteAppPath(const std::string& folder, std::string* error) {
    vx::unique_hkey key;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppPathKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return Fail(error, "cannot create the App Paths key");
    std::string value = folder + "Vexilo.exe";
    if (::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        return Fail(error, "cannot write the App Paths value");
    return true;
}

bool WriteSettings(const Installation& inst, std::string* error) {
    // The three paths as an installation fills them, unless the caller set its own.
    vx::MainSettingsContent main = inst.main;
    if (main.utilityPath.empty()) main.utilityPath = inst.folder + "Vexilo.dll";
    if (main.importedTypeLibFolder.empty()) main.importedTypeLibFolder = inst.folder + "TLBdistilled";
    if (main.structureFilePath.empty()) main.structureFilePath = inst.folder + "TLBlist.txt";
    if (!WriteText(inst.folder + "Vexilo.txt", vx::MainSettingsText(main)))
        return Fail(error, "cannot write " + inst.folder + "Vexilo.txt");
    if (!WriteText(inst.folder + "VexiloAdv.txt", vx::AdvancedSettingsText(inst.advanced)))
        return Fail(error, "cannot write " + inst.folder + "VexiloAdv.txt");
    return true;
}

void ClearTraceFiles(const std::string& folder) {
    for (const char* pattern : {"Trace*.txt", "ExtraFile.txt"}) {
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((folder + pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            ::DeleteFileA((folder + data.cFileName).c_str());
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
}

bool RegisterComponent(const std::string& dllPath, bool unregister, std::string* error) {
    vx::unique_module module(::LoadLibraryA(dllPath.c_str()));
    if (!module) return Fail(error, "cannot load " + dllPath);
    const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<HRESULT(__stdcall*)()>(reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
    if (!entry) return Fail(error, dllPath + " has no " + name);
    HRESULT hr = entry();
    if (FAILED(hr)) {
        char text[32];
        std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(hr));
        if (error) *error = std::string(name) + " of " + dllPath + " failed with " + text;
        return false;
    }
    return true;
}

std::vector<std::string> ClassesOfServer(const std::string& serverPath) {
    std::vector<std::string> classes;
    vx::unique_hkey clsid;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, clsid.put()) != ERROR_SUCCESS) return classes;
    std::string wanted = Lower(serverPath);
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(clsid.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (Lower(ReadDefault(clsid.get(), std::string(name) + "\\InprocServer32")) == wanted) classes.push_back(name);
    }
    return classes;
}

bool HookComponent(const std::string& folder, int hookNumber, const std::string& dllPath, std::string* error) {
    if (!RegisterComponent(dllPath, false, error)) return false;
    std::string copy = folder + StubCopyName(hookNumber);
    std::string stub = folder + "Vexilo.dll";
    if (!::CopyFileA(stub.c_str(), copy.c_str(), FALSE)) return Fail(error, "cannot copy the stub to " + copy);
    std::vector<std::string> classes = ClassesOfServer(dllPath);
    if (classes.empty()) {
        if (error) *error = "no class is registered with the server " + dllPath;
        return false;
    }
    for (const std::string& cls : classes) {
        vx::unique_hkey key;
        std::string path = "CLSID\\" + cls + "\\InprocServer32";
        if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS)
            return Fail(error, "cannot open " + path);
        if (::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.c_str()),
                             static_cast<DWORD>(copy.size() + 1)) != ERROR_SUCCESS ||
            ::RegSetValueExA(key.get(), "TypeLib", 0, REG_SZ, reinterpret_cast<const BYTE*>(dllPath.c_str()),
                             static_cast<DWORD>(dllPath.size() + 1)) != ERROR_SUCCESS)
            return Fail(error, "cannot redirect " + path);
    }
    return true;
}

}  // namespace vxinstall
