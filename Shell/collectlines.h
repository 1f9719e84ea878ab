// The settings dialog's rewrite of the two collection answers of the main
// settings file; every other line stays as it is.
#pragma once

#include <string>

namespace shell {

// The text with the lines of the two questions rewritten with their answers
// (the IDispatch one added after the IUnknown one when it is missing). False
// (and *out untouched) when the IUnknown question is missing.
bool RewriteCollectLines(const std::string& text, bool collectIUnknown, bool collectIDispatch, std::string* out);
// The same on the file, through a temporary copy named like it with "1" appended.
bool RewriteCollectLinesInFile(const std::string& settingsPath, bool collectIUnknown, bool collectIDispatch,
                               std::string* error);

}  // namespace shell
