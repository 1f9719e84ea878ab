// A saved trace of a sample client for the benches: calls of Add, a
// QueryInterface inside every fourth, `records` records in all.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "raii.h"

// Calls of a sample client, a QueryInterface inside every fourth; a record
// count of `records` in all.
inline void MakeTrace(const std::string& path, int records) {
    std::string text;
    char buf[512];
    int n = 0;
    auto add = [&](const char* format, auto... args) {
        std::snprintf(buf, sizeof buf, format, args...);
        text += buf;
    };
    add("\r\n========= LOAD DLL: VxSample.dll ========= TID=1ch PID=20h [%d]\r\nTime: Mon Dec  7 18:00:00 2026\r\n"
        "DLL's path: C:\\vx\\VxSample.dll\r\nHost process's command line: C:\\vx\\vxclient.exe\r\n", ++n);
    add("\r\n--- CREATING THE INSTANCE --- TID=1ch PID=20h [%d]\r\nClass: VxSample.Calc (instance# 1)\r\n"
        "Total instances: 1\r\n", ++n);
    for (int i = 0; n < records; ++i) {
        add("\r\n*** Serial# of call: 17.7 ***  TID=1ch PID=20h [%d]\r\nClass: VxSample.Calc (instance# 1)\r\n"
            "Interface: ICalc (dual)\r\nMethod: VT_HRESULT Add (\r\n               [in]  a=%d (%xh)  (VT_I4) );\r\n",
            ++n, i, i);
        if (i % 4 == 0 && n + 3 <= records) {
            add("\r\n*** Serial# of call: 17.0 ***  TID=1ch PID=20h [%d]\r\nClass: VxSample.Calc (instance# 1)\r\n"
                "Interface: ICalc (dual)\r\nMethod: VT_HRESULT QueryInterface (\r\n", ++n);
            add("\r\n   *** Serial# of exit: 17.0 *** TID=1ch PID=20h [%d]\r\n               HRESULT = 0 (0h)\r\n", ++n);
        }
        add("\r\n   *** Serial# of exit: 17.7 *** TID=1ch PID=20h [%d]\r\n               HRESULT = 0 (0h)\r\n", ++n);
    }
    text += '\x01';
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
