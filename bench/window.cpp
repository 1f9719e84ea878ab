// Main-window benchmark: Vexilo.exe on an installation, the component list
// listed from the command to its last entry, twice (the scan engine's first
// listing and a second one), with the classes listed and the window's memory.
//   bench_window FOLDER
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "benchclock.h"
#include "raii.h"
#include "window.h"

namespace {

constexpr int kComponentList = 1001, kTree1 = 101;
constexpr char kListedStatus[] =
    "Select component DLL/OCX to view its coclasses. You can Hook/Unhook it or run ITypeLib Viewer.";

size_t WorkingSetKb(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize / 1024 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_window FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.back() != '\\') folder += '\\';
    vx::started_process pi;
    vxremote::RemoteWindow ui;
    if (!vxremote::StartMainWindow(folder, &pi, &ui, 60000)) {
        std::fprintf(stderr, "cannot start %sVexilo.exe or it shows no main window\n", folder.c_str());
        return 1;
    }
    HWND window = ui.hwnd();
    ::Sleep(1000);
    size_t before = WorkingSetKb(pi.hProcess);
    for (int run = 1; run <= 2; ++run) {
        double start = Now();
        ::PostMessageA(window, WM_COMMAND, kComponentList, 0);
        // The status text changes while the listing runs and is set last.
        while (ui.StatusText(0) == kListedStatus && Now() - start < 5) ::Sleep(1);
        while (ui.StatusText(0) != kListedStatus && Now() - start < 300) ::Sleep(5);
        double seconds = Now() - start;
        std::string found = ui.StatusText(1);
        size_t nodes = ui.Tree(kTree1).size();
        std::printf("component list, run %d: %.2f s to the last entry (%s, %zu nodes in the left pane)\n", run, seconds,
                    found.c_str(), nodes);
    }
    std::printf("window memory: %zu KB before the listing, %zu KB after\n", before, WorkingSetKb(pi.hProcess));
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pi.hProcess, 60000);
    ui.Detach();
    return 0;
}
