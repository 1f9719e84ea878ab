// The diagnostic switch of a server module: a control file answered with Y
// turns on a full diagnostic log, which starts with a banner at module load.
#pragma once

#include <string>

namespace vxs {

class DiagnosticLog {
public:
    // Deletes the log, reads up to 1024 bytes of the control file and, when
    // its question "Print full diagnostic ? [Y/N]:" is answered with Y or y
    // (right after it or one character later), appends the start banner.
    void Start(const char* module, const char* controlPath, const char* logPath);
    bool on() const { return on_; }
    // Appends "\r\n", one more "\r\n" per "\r\n" pair the text starts with,
    // the module name and a blank, and the rest of the text. Nothing when off.
    void Write(const char* text) const;

private:
    bool on_ = false;
    std::string module_;
    std::string logPath_;
};

// True when the control text switches full diagnostics on.
bool DiagnosticsRequested(const std::string& control);
// True when the control text answers question with Y or y (right after it
// or one character later).
bool DiagnosticAnswer(const std::string& control, const char* question);
// Up to 1024 bytes of a control file; empty when it cannot be read.
std::string ReadDiagnosticControl(const char* controlPath);
// Appends text to a diagnostic file, creating it when missing.
void AppendDiagnostic(const std::string& path, const std::string& text);
// The text Write appends for `text`.
std::string DiagnosticEntry(const std::string& module, const char* text);

}  // namespace vxs
