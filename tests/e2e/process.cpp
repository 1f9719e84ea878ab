#include "process.h"

#include <cstdio>

ChildProcess::~ChildProcess() {
    if (info_.hProcess) {
        Kill();
        Finish(5000);
    }
    ::DeleteCriticalSection(&lock_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& workingFolder) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    vx::unique_handle outWrite, inRead;  // the child's ends, closed here once it has them
    if (!::CreatePipe(outRead_.put(), outWrite.put(), &inherit, 0) ||
        !::CreatePipe(inRead.put(), inWrite_.put(), &inherit, 0)) {
        DWORD error = ::GetLastError();
        std::fprintf(stderr, "cannot make the pipes of a child (error %lu)\n", error);
        ::SetLastError(error);
        return false;
    }
    ::SetHandleInformation(outRead_.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(inWrite_.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite.get();
    startup.hStdError = outWrite.get();
    startup.hStdInput = inRead.get();
    // Under a loaded machine Wine now and then fails to bring a new process
    // up (it once failed a start in a full run); a missing or foreign
    // program fails the same way every time and is not tried again.
    BOOL ok = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        if (attempt > 0) ::Sleep(250);
        std::string line = commandLine;
        ok = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_);
        error = ok ? 0 : ::GetLastError();
        if (!ok) std::fprintf(stderr, "CreateProcess failed (error %lu): %s\n", error, commandLine.c_str());
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_EXE_FORMAT) break;
    }
    if (!ok) {
        ::SetLastError(error);  // for the caller's message
        return false;
    }
    reader_.reset(::CreateThread(nullptr, 0, ReadOutput, this, 0, nullptr));
    return true;
}

DWORD WINAPI ChildProcess::ReadOutput(void* self) {
    auto* child = static_cast<ChildProcess*>(self);
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(child->outRead_.get(), buf, sizeof buf, &got, nullptr) && got > 0) {
        vx::critical_section_lock hold(&child->lock_);
        child->output_.append(buf, got);
    }
    return 0;
}

bool ChildProcess::WaitForOutput(const std::string& text, DWORD timeoutMs) {
    auto found = [&] {
        vx::critical_section_lock hold(&lock_);
        return output_.find(text) != std::string::npos;
    };
    for (const DWORD start = ::GetTickCount(); !found();) {
        if (::GetTickCount() - start > timeoutMs) return false;
        if (::WaitForSingleObject(info_.hProcess, 10) == WAIT_OBJECT_0) {
            ::WaitForSingleObject(reader_.get(), 2000);  // for its last output
            return found();
        }
    }
    return true;
}

void ChildProcess::Write(const std::string& input) {
    DWORD written = 0;
    ::WriteFile(inWrite_.get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
}

void ChildProcess::Kill() {
    if (info_.hProcess) ::TerminateProcess(info_.hProcess, 9);
}

ProcessResult ChildProcess::Finish(DWORD timeoutMs, bool pumpMessages) {
    ProcessResult result;
    if (!info_.hProcess) return result;
    inWrite_.reset();  // the child's input ends
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            result.timedOut = true;
            ::TerminateProcess(info_.hProcess, 9);
            ::WaitForSingleObject(info_.hProcess, 5000);
            break;
        }
        DWORD wait = pumpMessages
                         ? ::MsgWaitForMultipleObjects(1, &info_.hProcess, FALSE, timeoutMs - elapsed, QS_ALLINPUT)
                         : ::WaitForSingleObject(info_.hProcess, timeoutMs - elapsed);
        if (wait == WAIT_OBJECT_0) break;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    }
    ::WaitForSingleObject(reader_.get(), 5000);
    ::GetExitCodeProcess(info_.hProcess, &result.exitCode);
    result.output = output_;
    result.processId = info_.dwProcessId;
    result.threadId = info_.dwThreadId;
    reader_.reset();
    outRead_.reset();
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
    info_ = {};
    return result;
}

ProcessResult RunProgram(const std::string& commandLine, DWORD timeoutMs, bool pumpMessages) {
    ChildProcess child;
    if (!child.Start(commandLine)) {
        ProcessResult failed;
        failed.output = "cannot start (error " + std::to_string(::GetLastError()) + "): " + commandLine;
        return failed;
    }
    return child.Finish(timeoutMs, pumpMessages);
}
