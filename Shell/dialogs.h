// The main window's dialogs: the settings dialog, About and the splash window.
#pragma once

#include <windows.h>

#include "resource.h"
#include "settings.h"

namespace shell {

// "Settings": the two collection answers of the main settings file. OK
// rewrites them and updates the settings object.
void ShowSettingsDialog(HINSTANCE instance, HWND owner, Settings& settings);
void ShowAboutDialog(HINSTANCE instance, HWND owner);

// The splash window shown during start-up; closes on a key or a click.
HWND ShowSplash(HINSTANCE instance);
void CloseSplash(HWND splash);

// Places a window centred over another (left = owner left + half the difference of the widths).
void CentreOver(HWND window, HWND owner);

}  // namespace shell
