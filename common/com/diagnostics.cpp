// Diagnostic log of a server module.
#include "diagnostics.h"

#include <windows.h>

#include "raii.h"
#include "timetext.h"

namespace vxs {
void AppendDiagnostic(const std::string& path, const std::string& text) {
    vx::unique_file file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool DiagnosticAnswer(const std::string& control, const char* question) {
    const std::string q = question;
    size_t at = control.find(q);
    if (at == std::string::npos) return false;
    at += q.size();
    for (size_t i = at; i < at + 2 && i < control.size(); ++i)
        if (control[i] == 'Y' || control[i] == 'y') return true;
    return false;
}

bool DiagnosticsRequested(const std::string& control) {
    return DiagnosticAnswer(control, "Print full diagnostic ? [Y/N]:");
}

std::string ReadDiagnosticControl(const char* controlPath) {
    vx::unique_file control(CreateFileA(controlPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[1024];
    DWORD got = 0;
    if (!control || !ReadFile(control.get(), buffer, sizeof buffer, &got, nullptr)) return {};
    return std::string(buffer, got);
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
    on_ = DiagnosticsRequested(ReadDiagnosticControl(controlPath));
    if (!on_) return;
    char time[vx::kTimeTextLength + 1];
    vx::CurrentTimeText(time);
    AppendDiagnostic(logPath_, "\r\n\r\n========= Start " + module_ + " at " + time + " =========\r\n");
}

void DiagnosticLog::Write(const char* text) const {
    if (on_ && text) AppendDiagnostic(logPath_, DiagnosticEntry(module_, text));
}

}  // namespace vxs
