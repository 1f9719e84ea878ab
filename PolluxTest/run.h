// One run of the scanner program, started by its timer: completing an
// installation when a sources folder is given, then both scans through the
// scan engine's Scanner object.
#pragma once

#include <string>

#include "scannerexit.h"
#include "view.h"

namespace polluxtest {

// The folder of the installation sources from the program's command line
// (surrounding quotes dropped); empty when there is none.
std::string SourcesFolder(const char* commandLineTail);

// The program's exit code: how far the run went.
using RunResult = vx::ScannerExit;

// Runs to the end or to the first failure; the caller then closes the window.
RunResult RunScanner(ScanView& view, const std::string& sourcesFolder);

}  // namespace polluxtest
