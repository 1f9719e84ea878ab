// The installation folder, as the App Paths key of "Vexilo.exe" in this
// process's registry view names it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>

namespace vx {

constexpr DWORD kAppPathReadLimit = 16384;

// The folder part of an App Paths value: a leading quote skipped, everything
// after the last backslash (or slash) cut off, the separator kept. False when
// there is no separator or it does not fit.
bool InstallFolderFromValue(std::string_view value, char* out, size_t outSize);

// Reads the App Paths value (for reading only) and derives the folder.
bool LookUpInstallFolder(char* out, size_t outSize);

}  // namespace vx
