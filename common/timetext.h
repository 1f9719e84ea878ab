// The 24-character local time text used by records and banners:
// "Www Mmm dd hh:mm:ss yyyy" (English abbreviations, day padded with a blank).
#pragma once

#include <windows.h>

namespace vx {

constexpr int kTimeTextLength = 24;

// Writes the text and a terminating NUL into out (at least 25 bytes).
void FormatTimeText(const SYSTEMTIME& time, char* out);

// The current local time as time text.
void CurrentTimeText(char* out);

}  // namespace vx
