// The trace side of the real window, Vexilo.exe under Wine: time until the
// last node of a saved trace of 10,000, 100,000 and 1,000,000 records (or
// the counts given as arguments; 0 leaves out the live client) is in the tree
// (Open TraceFile), the window process's memory per record, and a live client
// making 10,000 calls (how far the tree is behind when the client ends).
// Needs the prefix's display and a warmed wineserver, like the window tests.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchclock.h"
#include "raii.h"
#include "maketrace.h"
#include "testinstall.h"

namespace {

constexpr int kStart = 1011, kOpen = 1021, kStatistics = 1038, kResetFilter = 1039, kFailedOnly = 1077;
constexpr int kTree1 = 101, kToolbar = 103;
constexpr int kButtonRun = 3, kButtonFinal = 9;
constexpr unsigned long kNextTraceFilePath = 0x56585452;

std::string Arch() { return sizeof(void*) == 8 ? "x86_64" : "i686"; }

struct Window {
    vx::started_process process;
    HWND hwnd = nullptr;

    bool Start(const std::string& folder) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string command = "\"" + folder + "Vexilo.exe\" " + folder;
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return false;
        for (int i = 0; i < 600 && !hwnd; ++i) {
            ::Sleep(50);
            HWND w = ::FindWindowA("VexiloMainWindow", nullptr);
            DWORD pid = 0;
            if (w) ::GetWindowThreadProcessId(w, &pid);
            if (w && pid == process.dwProcessId && ::IsWindowVisible(w)) hwnd = w;
        }
        return hwnd != nullptr;
    }
    void Close() {
        if (hwnd) ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
        ::WaitForSingleObject(process.hProcess, 60000);
    }
    bool ButtonEnabled(int index) const {
        return ::SendMessageA(::GetDlgItem(hwnd, kToolbar), TB_ISBUTTONENABLED, 2000 + index, 0) != 0;
    }
    long Nodes() const { return static_cast<long>(::SendMessageA(::GetDlgItem(hwnd, kTree1), TVM_GETCOUNT, 0, 0)); }
    double MemoryMB() const {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        ::GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters);
        // Wine reports committed bytes as PagefileUsage.
        return static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
    }
};

void OpenSaved(const std::string& folder, int records) {
    std::string path = folder + "bench-" + std::to_string(records) + ".trc";
    MakeTrace(path, records);
    Window w;
    if (!w.Start(folder)) {
        std::printf("the window did not start\n");
        return;
    }
    ::Sleep(1000);
    double before = w.MemoryMB();
    COPYDATASTRUCT data = {kNextTraceFilePath, static_cast<DWORD>(path.size() + 1), path.data()};
    ::SendMessageA(w.hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    double start = Now();
    ::PostMessageA(w.hwnd, WM_COMMAND, kOpen, 0);
    // "Run" goes off while the file is read and on again at its end.
    while (w.ButtonEnabled(kButtonRun) && Now() - start < 10) ::Sleep(5);
    while (!w.ButtonEnabled(kButtonFinal) && Now() - start < 600) ::Sleep(10);
    double took = Now() - start;
    double grown = w.MemoryMB() - before;
    std::printf("%s open %7d records: %ld items in the tree control in %.2f s, window memory +%.1f MB (%.0f bytes a "
                "record)\n",
                Arch().c_str(), records, w.Nodes(), took, grown, grown * 1024 * 1024 / records);
    w.Close();
    ::DeleteFileA(path.c_str());
}

// Time until `done`, polled; -1 when it never comes within a minute.
template <typename F>
double Until(F done) {
    double start = Now();
    while (!done()) {
        if (Now() - start > 60) return -1;
        ::Sleep(2);
    }
    return Now() - start;
}

// A saved trace opened, then a filter put on and taken off and the
// statistics opened, each timed to its last node or row.
void Filtering(const std::string& folder, int records) {
    std::string path = folder + "bench-filter-" + std::to_string(records) + ".trc";
    MakeTrace(path, records);
    Window w;
    if (!w.Start(folder)) {
        std::printf("the window did not start\n");
        return;
    }
    COPYDATASTRUCT data = {kNextTraceFilePath, static_cast<DWORD>(path.size() + 1), path.data()};
    ::SendMessageA(w.hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    ::PostMessageA(w.hwnd, WM_COMMAND, kOpen, 0);
    Until([&] { return !w.ButtonEnabled(kButtonRun); });
    Until([&] { return w.ButtonEnabled(kButtonFinal); });
    long all = w.Nodes();
    ::PostMessageA(w.hwnd, WM_COMMAND, kFailedOnly, 0);
    double on = Until([&] { return w.Nodes() == 1; });  // no call failed: the report alone
    ::PostMessageA(w.hwnd, WM_COMMAND, kResetFilter, 0);
    double off = Until([&] { return w.Nodes() == all; });
    ::PostMessageA(w.hwnd, WM_COMMAND, kStatistics, 0);
    double statistics = Until([&] {
        HWND list = ::GetDlgItem(::FindWindowA("VexiloStatistics", nullptr), 102);
        return list && ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) > 0;
    });
    std::printf("%s %d records, %ld nodes: filter on %.2f s, off %.2f s, statistics %.2f s; window memory %.1f MB\n",
                Arch().c_str(), records, all, on, off, statistics, w.MemoryMB());
    w.Close();
    ::DeleteFileA(path.c_str());
}

void Live(const std::string& folder, int calls, bool filtered = false) {
    Window w;
    if (!w.Start(folder)) {
        std::printf("the window did not start\n");
        return;
    }
    ::Sleep(1000);
    double before = w.MemoryMB();
    ::PostMessageA(w.hwnd, WM_COMMAND, kStart, 0);
    ::Sleep(500);
    if (filtered) ::PostMessageA(w.hwnd, WM_COMMAND, kFailedOnly, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    vx::started_process client;
    std::string command = "\"" + vxinstall::WinePath(VX_CLIENT_EXE) + "\" loop " + std::to_string(calls);
    double start = Now();
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &client)) {
        std::printf("the client did not start\n");
        w.Close();
        return;
    }
    long nodesAtEnd = -1;
    while (::WaitForSingleObject(client.hProcess, 5) == WAIT_TIMEOUT) {
    }
    double clientEnd = Now();
    nodesAtEnd = w.Nodes();
    while (!w.ButtonEnabled(kButtonFinal) && Now() - start < 600) ::Sleep(5);
    double done = Now();
    std::printf("%s live %d calls%s: client ran %.2f s, %ld nodes shown at its end; FINAL REPORT %.2f s later, "
                "%ld nodes; window memory +%.1f MB\n",
                Arch().c_str(), calls, filtered ? " (failed calls only)" : "", clientEnd - start, nodesAtEnd,
                done - clientEnd, w.Nodes(),
                w.MemoryMB() - before);
    w.Close();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts = {10000, 100000, 1000000};
    if (argc > 1) counts.clear();
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    std::string folder = "C:\\vxbench-shell-" + Arch() + "\\";
    vxinstall::Installation inst;
    inst.folder = folder;
    std::string error;
    std::string sample = vxinstall::WinePath(VX_SAMPLE_DLL);
    bool copied = vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), folder, &error);
    // The window's own files are not part of the kernel's stage copy.
    for (const char* name : {"Vexilo.exe", "Help.rtf", "Pollux.dll"}) {
        std::string from = vxinstall::WinePath(VX_STAGE_DIR) + "\\" + name;
        copied = copied && ::CopyFileA(from.c_str(), (folder + name).c_str(), FALSE);
    }
    if (!copied || !vxinstall::WriteSettings(inst, &error) || !vxinstall::WriteAppPath(folder, &error) ||
        !vxinstall::RegisterComponent(folder + "Ledra.dll", false, &error) ||
        !vxinstall::RegisterComponent(folder + "Pollux.dll", false, &error)) {
        std::printf("installation failed: %s\n", error.c_str());
        return 1;
    }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vexilo");
    bool live = true;
    for (int records : counts) {
        if (records > 0) OpenSaved(folder, records);
        else live = false;
    }
    Filtering(folder, 100000);
    if (!live) return 0;

    inst.main.modules = {sample};
    vxinstall::ClearTraceFiles(folder);
    if (!vxinstall::WriteSettings(inst, &error) || !vxinstall::HookComponent(folder, 1, sample, &error)) {
        std::printf("hooking failed: %s\n", error.c_str());
        return 1;
    }
    Live(folder, 10000);
    Live(folder, 10000, true);
    vxinstall::RegisterComponent(sample, false, &error);
    return 0;
}
