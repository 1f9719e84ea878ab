// The kernel's view of the two settings files and the installation folder.
// The parsers take the file text (at most the first 16384 bytes) and never
// read past it.
#pragma once

#include <windows.h>

#include "installfolder.h"
#include <string_view>

namespace korbin {

using vx::InstallFolderFromValue;
using vx::LookUpInstallFolder;

constexpr DWORD kSettingsReadLimit = 16384;

enum class FilePolicy { BackupLast = 1, BackupAll = 2, Override = 3 };

struct Switches {
    bool fullTrace = false;
    bool distilledTrace = false;
    bool hideBeyondVtbl = false;
    bool specificInfo = false;
    bool findAllInterfaces = false;
    bool hookAllInterfaces = false;
    FilePolicy filePolicy = FilePolicy::BackupLast;
    bool hideIUnknown = false;
    bool hideIDispatch = false;
};

// How a settings file was read: a question that is missing or answered with
// no letter it knows takes the value of a file that cannot be read.
enum class SettingsRead { Read, AnswersUnreadable, FileUnreadable };

// Advanced file: text == nullptr means the file could not be read.
SettingsRead ApplyAdvancedSettings(const std::string_view* text, Switches& switches);
// Main file questions: text == nullptr means the file could not be read.
SettingsRead ApplyMainSettings(const std::string_view* text, Switches& switches);

// Module line of hook number k (1-based) of the module list, cut and trimmed;
// false when the section or the line is missing. out receives at most outSize-1 chars;
// a line that does not fit fails.
bool FindModuleLine(std::string_view text, unsigned long k, char* out, size_t outSize);
// Path line of the type-library structure file section.
bool FindStructurePath(std::string_view text, char* out, size_t outSize);



// Reads up to kSettingsReadLimit bytes of a file into buf (NUL-terminated); -1 on failure.
int ReadSettingsFile(const char* path, char* buf, size_t bufSize);

// Joins folder and name into out; false when it does not fit.
bool JoinPath(char* out, size_t outSize, const char* folder, const char* name);

}  // namespace korbin
