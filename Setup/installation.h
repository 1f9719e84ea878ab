// What setup and uninstall share: the product's files, its registry entries,
// running the system's regsvr32, and messages for a window or a script.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vxsetup {

// Every file an installation holds besides what the product writes later.
extern const char* const kDeliverables[];
extern const size_t kDeliverableCount;
// Files of the installation that are no programs (Quick Help).
extern const char* const kDataFiles[];
extern const size_t kDataFileCount;
// The COM servers among them, registered with regsvr32.
extern const char* const kServers[];
extern const size_t kServerCount;

constexpr char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Vexilo.exe";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexilo";
constexpr char kShortcutName[] = "Vexilo.lnk";
constexpr char kSettingsKey[] = "Software\\Vexilo";  // the main window's per-user settings
constexpr char kScannerProgram[] = "PolluxTest.exe";
constexpr char kScanEvent[] = "ScanningSucceeded";

// Exit codes of both programs.
enum ExitCode : int {
    kDone = 0,
    kUsage = 1,
    kSystemUnfit = 2,
    kCopyFailed = 3,
    kRegistryFailed = 4,
    kRegistrationFailed = 5,
    kScanFailed = 6,
    kHooksRemain = 7,
    kRemovalIncomplete = 8,
};

// Messages go to a message box, or with /quiet to the error stream.
class Reporter {
public:
    Reporter(const char* title, bool quiet) : title_(title), quiet_(quiet) {}
    bool quiet() const { return quiet_; }
    int Fail(int code, const std::string& text) const;
    void Note(const std::string& text) const;
    bool Ask(const std::string& question) const;  // yes when quiet

private:
    const char* title_;
    bool quiet_;
};

// The Start-menu shortcut of the main program (all users' Programs folder).
std::string ShortcutPath();

// The folder of this program, ending in a backslash.
std::string ProgramFolder();
// "C:\x" -> "C:\x\".
std::string WithBackslash(std::string folder);

// Runs the system's regsvr32 (this architecture's) and waits; true on success.
bool RunRegsvr32(const std::string& dll, bool unregister, std::string* error);

// The machine type in a PE file's header (IMAGE_FILE_MACHINE_...), or 0.
WORD MachineOf(const std::string& path);
// This build's machine type.
WORD OwnMachine();

}  // namespace vxsetup
