// Diagnostic log of a server module.
#include "diagnostics.h"

#include <windows.h>

#include "raii.h"
#include "timetext.h"

namespace vxs {
namespace {

void Append(const std::string& path, const std::string& text) {
    vx::unique_file file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

bool DiagnosticsRequested(const std::string& control) {
    static const char kQuestion[] = "Print full diagnostic ? [Y/N]:";
    size_t at = control.find(kQuestion);
    if (at == std::string::npos) return false;
    at += sizeof kQuestion - 1;
    for (size_t i = at; i < at + 2 && i < control.size(); ++i)
        if (control[i] == 'Y' || control[i] == 'y') return true;
    return false;
}

std::string DiagnosticEntry(const std::string& module, const char* text) {
    std::string entry = "\r\n";
    while (text[0] == '\r' && text[1] == '\n') {
        entry += "\r\n";
        text += 2;
    }
    return entry + module + " " + text;
}

void DiagnosticLog::Start(const char* module, const char* controlPath, const char* logPath) {
    module_ = module;
    logPath_ = logPath;
    DeleteFileA(logPath);
    vx::unique_file control(CreateFileA(controlPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!control) return;
    char buffer[1024];
    DWORD got = 0;
    if (!ReadFile(control.get(), buffer, sizeof buffer, &got, nullptr)) return;
    on_ = DiagnosticsRequested(std::string(buffer, got));
    if (!on_) return;
    char time[vx::kTimeTextLength + 1];
    vx::CurrentTimeText(time);
    Append(logPath_, "\r\n\r\n========= Start " + module_ + " at " + time + " =========\r\n");
}

void DiagnosticLog::Write(const char* text) const {
    if (on_ && text) Append(logPath_, DiagnosticEntry(module_, text));
}

}  // namespace vxs
