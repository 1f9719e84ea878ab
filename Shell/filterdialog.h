// Edit > Filter and Edit > Highlight: the rules of one filter, added field by
// field, listed, removed or reset.
#pragma once

#include <windows.h>

#include "tracefilter.h"

namespace shell {

// The rules as the user leaves them with OK; false (and `rules` untouched)
// on Cancel. `title` names the dialog ("Filter", "Highlight").
bool EditRules(HINSTANCE instance, HWND owner, const char* title, TraceFilter* rules);

}  // namespace shell
