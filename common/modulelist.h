// The module list of the main settings file "Vexilo.txt": line k after the
// list's header names the DLL of hook number k; "//" before a path marks a
// freed number. The window and the command-line tracer edit it with these
// routines; the kernel reads the same lines by position.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vx {

// Hook numbers still loaded by live traced processes (the trace reader's
// GetNumbersOfHookedAndLoadedDLLs); asked once, when the first freed line is met.
using LiveHookNumbers = std::function<std::vector<long>()>;

// The number for a new hook: the first freed number no live process still
// uses, else the number after the last line.
long FindFreeHookNumber(const std::string& text, const LiveHookNumbers& live);

// The text with `path` on line n of the list (replacing a freed line, or
// appended before the empty line that ends the list). False when the text
// has no module-list header.
bool WriteModuleLine(const std::string& text, const std::string& path, long n, std::string* out);

// The text with line n switched off ("//" before it). False without a header.
bool CommentOutModuleLine(const std::string& text, long n, std::string* out);

// The active lines of the list, hook 1 first (freed lines left out).
std::vector<std::string> ReadModuleList(const std::string& text);

// One line of the list by its position: hook number, path without "//",
// and whether the number is in use (not freed).
struct ModuleLine {
    long number;
    std::string path;
    bool active;
};
std::vector<ModuleLine> ModuleLines(const std::string& text);

// The hook number of the active line naming `path` (letter case ignored), or 0.
long HookNumberOfModule(const std::string& text, const std::string& path);

// The path of hook number n without its "//"; empty when there is none.
std::string ModulePathOfHook(const std::string& text, long n);

// The same over the settings file itself. The rewrites go through a
// temporary copy named after the file with "1" appended; false with a
// message when the file cannot be read or written.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);
bool WriteModuleLineInFile(const std::string& settingsPath, const std::string& path, long n, std::string* error);
bool CommentOutModuleLineInFile(const std::string& settingsPath, long n, std::string* error);

}  // namespace vx
