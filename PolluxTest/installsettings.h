// Completing an installation: the three path entries of the main settings
// file, filled in right after their headers.
#pragma once

#include <string>
#include <string_view>

namespace polluxtest {

// The settings text with, right after each of the three path headers (met in
// order), the line of its path: the stub "Vexilo.dll", the "TLBdistilled"
// folder and "TLBlist.txt" of folder (without a trailing backslash). The
// other lines are copied as they were, each ended by "\r\n". False when a
// header is missing: nothing is to be written then.
bool InsertInstallPaths(std::string_view text, const std::string& folder, std::string* out);

// Rewrites folder\Vexilo.txt through folder\Vexilo1.txt; false (and the file
// unchanged, the temporary copy removed) on any failure.
bool PrepareSettingsFile(const std::string& folder);

}  // namespace polluxtest
