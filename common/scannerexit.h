// Exit codes of the scanner program, read by setup to say how a scan ended.
#pragma once

namespace vx {

enum ScannerExit : int {
    kScannerDone = 0,
    kScannerNoStart = 1,         // COM or the program's own folder unusable
    kScannerSettingsUnfit = 2,   // "Vexilo.txt" lacks a path header or cannot be rewritten
    kScannerNoEngine = 3,        // the Scanner object cannot be created
    kScannerScanFailed = 4,      // the engine could not write its lists
};

inline const char* ScannerExitText(unsigned long code) {
    switch (code) {
    case kScannerDone: return "it finished";
    case kScannerNoStart: return "it could not start: COM or its folder unusable";
    case kScannerSettingsUnfit: return "the settings file Vexilo.txt lacks a path header or cannot be rewritten";
    case kScannerNoEngine: return "the scan engine Pollux.dll could not be created";
    case kScannerScanFailed: return "the scan engine could not write its lists";
    default: return "an unexpected end";
    }
}

}  // namespace vx
