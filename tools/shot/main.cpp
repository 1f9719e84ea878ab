// vxshot: opens Vexilo.exe on an installation, drives it as a user would
// (the hooked list, a client traced live when one is given, its failed calls
// alone, its statistics, that trace compared with a copy differing in one
// call, the component list with a DLL selected, Quick Help) and saves each
// view as a PNG file.
// The demo runs it where no display is open.
//   vxshot FOLDER OUTDIR DLL [CLIENT COMMAND LINE...]
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "raii.h"
#include "window.h"

namespace {

using vxremote::WaitFor;

// Command ids and control ids of the main window.
enum : int {
    kComponentList = 1001, kTracingStart = 1011, kTracingStop = 1012, kSave = 1022, kCompare = 1024, kHelp = 1051,
    kStatistics = 1038, kResetFilter = 1039, kFailedOnly = 1077,
    kTree1 = 101, kTree2 = 102,
};
constexpr char kClass[] = "VexiloMainWindow";
constexpr ULONG_PTR kNextTraceFilePath = 0x56585452;  // the path the next file dialog answers
constexpr char kListedStatus[] =
    "Select component DLL/OCX to view its coclasses. You can Hook/Unhook it or run ITypeLib Viewer.";

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct Shots {
    vxremote::RemoteWindow ui;
    DWORD processId = 0;
    std::string outDir;
    int saved = 0;

    void Save(const char* name) {
        ::Sleep(400);  // let the window finish painting
        std::string path = outDir + "\\" + name;
        if (vxremote::SavePng(ui.hwnd(), path)) {
            ++saved;
            std::printf("  %s\n", name);
        } else {
            std::printf("  %s could not be saved\n", name);
        }
    }
    HTREEITEM Node(int tree, const std::function<bool(const vxremote::TreeNode&)>& match) {
        for (const vxremote::TreeNode& n : ui.Tree(tree))
            if (match(n)) return n.item;
        return nullptr;
    }
    // Presses OK on a message box of the program, if one shows within timeoutMs.
    void AnswerMessage(DWORD timeoutMs) {
        if (HWND box = vxremote::FindProcessWindow(processId, "#32770", "Vexilo", timeoutMs)) {
            std::printf("  message: %s\n", vxremote::MessageBoxText(box).c_str());
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
};

void FileCommand(HWND window, int command, const std::string& path) {
    COPYDATASTRUCT data = {kNextTraceFilePath, static_cast<DWORD>(path.size() + 1), const_cast<char*>(path.c_str())};
    ::SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    ::PostMessageA(window, WM_COMMAND, command, 0);
}

std::string ReadAll(const std::string& path) {
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text(file ? ::GetFileSize(file.get(), nullptr) : 0, '\0');
    DWORD got = 0;
    if (file) ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    text.resize(got);
    return text;
}

// A window of the program as a PNG file, closed afterwards.
void SaveOwned(Shots& shots, const char* className, const char* name) {
    if (HWND window = vxremote::FindProcessWindow(shots.processId, className, nullptr, 20000)) {
        ::Sleep(400);
        if (vxremote::SavePng(window, shots.outDir + "\\" + name)) {
            ++shots.saved;
            std::printf("  %s\n", name);
        }
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

// The trace shown saved, then compared with a copy whose first Add has
// another second operand: the comparison window.
void CompareShot(Shots& shots, const std::string& folder) {
    std::string saved = folder + "demo-window.trc", other = folder + "demo-window-other.trc";
    ::DeleteFileA(saved.c_str());
    FileCommand(shots.ui.hwnd(), kSave, saved);
    if (!WaitFor([&] { return !ReadAll(saved).empty(); }, 20000)) return;
    std::string text = ReadAll(saved);
    size_t operand = text.find("[in]  b=3 (3h)");
    if (operand != std::string::npos) text.replace(operand, 14, "[in]  b=4 (4h)");
    vx::unique_file file(::CreateFileA(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    file.reset();
    FileCommand(shots.ui.hwnd(), kCompare, other);
    SaveOwned(shots, "VexiloCompare", "6-compare.png");
}

// The trace's failed calls alone, then its statistics.
void ReadingShots(Shots& shots) {
    ::PostMessageA(shots.ui.hwnd(), WM_COMMAND, kFailedOnly, 0);
    WaitFor([&] { return shots.ui.StatusText(1).rfind("Showing ", 0) == 0; }, 10000);
    shots.Save("7-failed-only.png");
    ::PostMessageA(shots.ui.hwnd(), WM_COMMAND, kResetFilter, 0);
    WaitFor([&] { return shots.ui.StatusText(1).rfind("Processed Items", 0) == 0; }, 10000);
    ::PostMessageA(shots.ui.hwnd(), WM_COMMAND, kStatistics, 0);
    SaveOwned(shots, "VexiloStatistics", "8-statistics.png");
}

// Runs a client to its end; false when it cannot start.
bool RunClient(const std::string& commandLine) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    vx::started_process pi;
    std::string line = commandLine;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    ::WaitForSingleObject(pi.hProcess, 120000);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: vxshot FOLDER OUTDIR DLL [CLIENT COMMAND LINE...]\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.back() != '\\') folder += '\\';
    std::string dll = argv[3], dllName = Upper(dll.substr(dll.find_last_of("\\/") + 1));
    std::string client;
    for (int i = 4; i < argc; ++i) client += (client.empty() ? "" : " ") + std::string(argv[i]);
    Shots shots;
    shots.outDir = argv[2];
    ::CreateDirectoryA(shots.outDir.c_str(), nullptr);

    vx::started_process pi;
    if (!vxremote::StartMainWindow(folder, &pi, &shots.ui, 60000)) {
        std::fprintf(stderr, "vxshot: %sVexilo.exe did not start or showed no main window\n", folder.c_str());
        return 1;
    }
    shots.processId = pi.dwProcessId;
    auto& ui = shots.ui;
    WaitFor([&] { return !ui.Tree(kTree1).empty(); }, 20000);
    shots.Save("1-hooked-list.png");

    if (!client.empty()) {
        ::PostMessageA(ui.hwnd(), WM_COMMAND, kTracingStart, 0);
        ::Sleep(500);
        shots.AnswerMessage(500);
        if (!RunClient(client)) std::printf("  the client could not be started: %s\n", client.c_str());
        auto finalReport = [&](const vxremote::TreeNode& n) { return n.text.find("FINAL REPORT") != std::string::npos; };
        if (WaitFor([&] { return shots.Node(kTree1, finalReport) != nullptr; }, 30000)) {
            // A call with its decoded values and its return values.
            HTREEITEM call = shots.Node(kTree1, [](const vxremote::TreeNode& n) { return n.text.rfind("Divide ", 0) == 0; });
            if (!call) call = shots.Node(kTree1, [](const vxremote::TreeNode& n) { return n.depth == 0; });
            // The window may still be taking the last batch in: select until the details show.
            HTREEITEM first = shots.Node(kTree1, [](const vxremote::TreeNode&) { return true; });
            WaitFor([&] {
                if (!call || !ui.SelectNode(kTree1, first) || !ui.SelectNode(kTree1, call)) return false;
                ::Sleep(200);
                for (const vxremote::TreeNode& n : ui.Tree(kTree2))
                    if (n.text.rfind("----------- Return values", 0) == 0) return true;
                return false;
            }, 10000);
            shots.Save("2-live-trace.png");
            if (ui.SelectNode(kTree1, shots.Node(kTree1, finalReport))) shots.Save("3-final-report.png");
            ReadingShots(shots);
        } else {
            std::printf("  the traced run did not end in a final report within 30 s\n");
            shots.Save("2-live-trace.png");
        }
        ::PostMessageA(ui.hwnd(), WM_COMMAND, kTracingStop, 0);
        WaitFor([&] { return ui.Text(106) == "Events"; }, 10000);
        CompareShot(shots, folder);
    }

    ::PostMessageA(ui.hwnd(), WM_COMMAND, kComponentList, 0);
    if (WaitFor([&] { return ui.StatusText(0) == kListedStatus; }, 120000)) {
        if (HTREEITEM node = shots.Node(kTree1, [&](const vxremote::TreeNode& n) { return n.text == dllName; })) {
            ui.SelectNode(kTree1, node);
            WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000);
        }
        shots.Save("4-component-list.png");
    } else {
        std::printf("  the component list did not end within 120 s\n");
    }
    ::PostMessageA(ui.hwnd(), WM_COMMAND, kHelp, 0);
    shots.Save("5-quick-help.png");

    ::PostMessageA(ui.hwnd(), WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(pi.hProcess, 5000) == WAIT_TIMEOUT) shots.AnswerMessage(1000);
    ::WaitForSingleObject(pi.hProcess, 60000);
    ui.Detach();
    return shots.saved > 0 ? 0 : 1;
}
