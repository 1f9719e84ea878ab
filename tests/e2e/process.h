// Starting test programs and reading what they print.
#pragma once

#include <windows.h>
#include <string>

#include "raii.h"

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // standard output and standard error
    DWORD processId = 0;
    DWORD threadId = 0;
    bool timedOut = false;
};

// A started program whose output is collected until it ends.
class ChildProcess {
public:
    ChildProcess() { ::InitializeCriticalSection(&lock_); }
    // commandLine is passed to CreateProcess as it is.
    bool Start(const std::string& commandLine, const std::string& workingFolder = {});
    ~ChildProcess();
    // Waits for a line of output containing text (up to timeoutMs).
    bool WaitForOutput(const std::string& text, DWORD timeoutMs);
    void Write(const std::string& input);  // to its standard input
    // Waits for the end; pumpMessages keeps this thread's windows answering meanwhile.
    ProcessResult Finish(DWORD timeoutMs = 120000, bool pumpMessages = false);
    void Kill();
    DWORD processId() const { return info_.dwProcessId; }

private:
    static DWORD WINAPI ReadOutput(void* self);
    PROCESS_INFORMATION info_ = {};
    vx::unique_handle outRead_, inWrite_, reader_;
    CRITICAL_SECTION lock_;  // over output_
    std::string output_;
};

ProcessResult RunProgram(const std::string& commandLine, DWORD timeoutMs = 120000, bool pumpMessages = false);
