#include "timetext.h"

#include <cstdio>

namespace vx {

void FormatTimeText(const SYSTEMTIME& t, char* out) {
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Out-of-range fields (a SYSTEMTIME that was never filled) must not index past the tables.
    const char* day = t.wDayOfWeek < 7 ? kDays[t.wDayOfWeek] : "???";
    const char* month = (t.wMonth >= 1 && t.wMonth <= 12) ? kMonths[t.wMonth - 1] : "???";
    std::snprintf(out, kTimeTextLength + 1, "%s %s %2u %.2u:%.2u:%.2u %.4u", day, month,
                  t.wDay % 100u, t.wHour % 100u, t.wMinute % 100u, t.wSecond % 100u,
                  t.wYear % 10000u);
}

void CurrentTimeText(char* out) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FormatTimeText(now, out);
}

}  // namespace vx
