#include "readernotice.h"

#include <cstdio>

namespace korbin {
namespace {

constexpr DWORD kNotifyIntervalMs = 100;

}  // namespace

void ReaderNotice::Send(HWND reader, int number, bool last) {
    if (!reader) return;
    ::InterlockedExchange(&latest_, number);
    const DWORD now = ::GetTickCount();
    // A message costs a round trip to the reader's process; the reader polls
    // anyway, so a number it gets later loses nothing.
    if ((!last && sentOnce_ && now - lastSent_ < kNotifyIntervalMs) ||
        ::InterlockedCompareExchange(&inFlight_, 1, 0) != 0) {
        ::InterlockedExchange(&pending_, 1);
        return;
    }
    ::InterlockedExchange(&pending_, 0);
    lastSent_ = now;
    sentOnce_ = true;
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(latest_));
    DWORD_PTR ignored;
    // The last one may run in the loader's detach: nothing else is handled while it waits.
    ::SendMessageTimeoutA(reader, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                          last ? SMTO_BLOCK | SMTO_ABORTIFHUNG : SMTO_NORMAL, 10, &ignored);
    ::InterlockedExchange(&inFlight_, 0);
}

}  // namespace korbin
