// Lays out an installation in the Wine prefix for tests and the demo: the
// stage folder's binaries, the App Paths key, both settings files, and hooks
// (a numbered stub copy with the component's classes pointed at it).
#pragma once

#include <string>
#include <vector>

#include "settings_template.h"

namespace vxinstall {

// "/a/b" -> "Z:\a\b" (Wine maps the Unix root to drive Z:).
std::string WinePath(const std::string& unixPath);

// "Zor#_" + at least two digits + ".dll".
std::string StubCopyName(int hookNumber);

struct Installation {
    std::string folder;  // ends with a backslash
    vx::MainSettingsContent main;
    vx::AdvancedSettingsContent advanced;
};

// Each returns false with a message in *error.
bool CopyStage(const std::string& stageFolder, const std::string& folder, std::string* error);
// Default value "<folder>Vexilo.exe" in this process's registry view.
bool WriteAppPath(const std::string& folder, std::string* error);
bool WriteSettings(const Installation& installation, std::string* error);
// Removes the trace files a run leaves (not the binaries or settings).
void ClearTraceFiles(const std::string& folder);

// The component's own DllRegisterServer (or DllUnregisterServer).
bool RegisterComponent(const std::string& dllPath, bool unregister, std::string* error);
// Registers the component, copies the stub as Zor#_NN.dll and points every
// class whose server is dllPath at the copy, keeping the real path in "TypeLib".
bool HookComponent(const std::string& folder, int hookNumber, const std::string& dllPath,
                   std::string* error);
// Classes registered with the given server path (in this process's view).
std::vector<std::string> ClassesOfServer(const std::string& serverPath);

}  // namespace vxinstall
