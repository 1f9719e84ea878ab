#include "run.h"

#include <windows.h>
#include <ocidl.h>

#include "Pollux.h"
#include "installsettings.h"
#include "raii.h"
#include "textconv.h"
#include "sink.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace polluxtest {
namespace {

void PumpMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// The program's folder, without a trailing backslash: the installation folder.
std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, sizeof path);
    if (n == 0 || n >= sizeof path) return {};
    std::string folder(path, n);
    return folder.substr(0, folder.rfind('\\'));
}

void CompleteInstallationFiles(const std::string& sources, const std::string& folder) {
    // A missing uninstaller in the sources is no reason to stop.
    ::CopyFileA((sources + "Uninstall.exe").c_str(), (folder + "\\Uninstall.exe").c_str(), FALSE);
}


RunResult Scan(ScanView& view, const std::string& folder) {
    vx::com_ptr<IScanner> scan;
    if (FAILED(::CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner, scan.put_void())))
        return vx::kScannerNoEngine;
    vx::unique_bstr path(vx::NewBstr(folder + "\\"));
    Totals totals;
    if (!path || FAILED(scan->put_InstallPath(path.get())) ||
        FAILED(scan->GetAmounts(&totals.compClasses, &totals.tLibs, &totals.importedTLibs, &totals.interfaces)))
        return vx::kScannerScanFailed;

    ScanProgress progress(totals);
    ProgressSink sink(progress, view);
    vx::advise_cookie connection;  // for the length of the scans
    connection.advise(scan.get(), DIID__IScannerEvents, &sink);

    progress.BeginTypeLibraries();
    view.Show(progress.display());
    if (FAILED(scan->ScanTLBlist())) return vx::kScannerScanFailed;
    progress.EndTypeLibraries();
    progress.BeginClasses();
    view.Show(progress.display());
    if (FAILED(scan->ScanCompList(VARIANT_TRUE))) return vx::kScannerScanFailed;
    progress.EndClasses();
    view.Show(progress.display());
    return vx::kScannerDone;
}

}  // namespace

std::string SourcesFolder(const char* tail) {
    std::string text = tail ? tail : "";
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
}

RunResult RunScanner(ScanView& view, const std::string& sources) {
    PumpMessages();
    const std::string folder = ProgramFolder();
    if (folder.empty()) return vx::kScannerNoStart;
    if (!sources.empty()) {
        CompleteInstallationFiles(sources, folder);
        if (!PrepareSettingsFile(folder)) return vx::kScannerSettingsUnfit;
        ::CreateDirectoryA((folder + "\\TraceStorage").c_str(), nullptr);
    }
    PumpMessages();
    if (RunResult result = Scan(view, folder); result != vx::kScannerDone) return result;
    if (!sources.empty()) {
        vx::unique_handle done(::OpenEventA(EVENT_ALL_ACCESS, FALSE, "ScanningSucceeded"));
        if (done) ::SetEvent(done.get());
    }
    return vx::kScannerDone;
}

}  // namespace polluxtest
