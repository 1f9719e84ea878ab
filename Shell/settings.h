// The main program's options: installation paths, the two collection answers
// of the main settings file, the window-only options and the window mode.
#pragma once

#include <string>

namespace shell {

// Window modes.
enum Tree1ModeValue : long {
    kHookedListMode = 1,
    kTracingMode = 2,
    kTraceFileMode = 3,
    kComponentListMode = 4,
};

struct Settings {
    std::string InstPath;        // ends with a backslash
    std::string ZorTxtFile;      // InstPath + "Vexilo.txt"
    std::string ZorTxtAdvFile;   // InstPath + "VexiloAdv.txt"
    std::string OpenedTraceFile;
    bool CollectIUnknown = false;
    bool CollectIDispatch = false;
    bool CollectBeyondCalls = false;
    bool ShowIUnknown = false;
    bool ShowIDispatch = false;
    bool ShowUserMethods = false;
    bool ShowDllLoadUnload = false;
    bool ShowCreationDestroying = false;
    bool ShowBeyondCalls = false;
    bool TreeIsExpanded = false;
    bool EnsureVisibleLastItem = false;
    bool AlwaysOnTop = false;
    bool NestByArrivalOrder = false;          // else each record under its own thread's call
    std::string FilterRules, HighlightRules;  // TraceFilter::ToText
    long Tree1Mode = 0;
    bool ExitWithLeftHooks = false;

    // Reads the three answers from the file named by ZorTxtFile; false when
    // it cannot be read (the answers then stay as they were).
    bool Init();
    // The same over the file's text.
    void InitFromText(const std::string& text);
};

}  // namespace shell
