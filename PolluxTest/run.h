// One run of the scanner program, started by its timer: completing an
// installation when a sources folder is given, then both scans through the
// scan engine's Scanner object.
#pragma once

#include <string>

#include "view.h"

namespace polluxtest {

// The folder of the installation sources from the program's command line
// (surrounding quotes dropped); empty when there is none.
std::string SourcesFolder(const char* commandLineTail);

// Runs to the end (true) or to the first failure; the caller then closes the window.
bool RunScanner(ScanView& view, const std::string& sourcesFolder);

}  // namespace polluxtest
