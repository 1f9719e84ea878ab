// What each window mode sets: titles, status panels, and the enabled state
// of the toolbar buttons and menu items. ApplyTree1Mode applies it.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace shell {

enum class Switch { kLeave, kOn, kOff };

struct ModeView {
    bool fillHookedList = false;
    bool setTreeTitle = false;
    std::string treeTitle;
    std::string detailsTitle;
    bool detailsThroughHelpRule = false;  // modes 2, 3 and 4
    struct Panel {
        const char* key;
        std::string text;
    };
    std::vector<Panel> panels;
    bool releaseRun = false;
    std::vector<std::pair<Command, Switch>> menus;
    std::vector<std::pair<Button, Switch>> buttons;  // each command's button, as its menu item but for two
};

// hookedCount matters in mode 1 only (Start and its button on when something is hooked).
// openedTraceFileName: the file name shown in mode 3's title.
ModeView ModeTable(long mode, long hookedCount, const std::string& openedTraceFileName);

constexpr char kHookedListStatus[] =
    "Choose Mode:  View Component DLL List  or  View Trace from File  or  Start Tracing.";

}  // namespace shell
