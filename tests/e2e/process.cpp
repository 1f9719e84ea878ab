#include "process.h"

#include <cstdio>

ChildProcess::~ChildProcess() {
    if (info_.hProcess) {
        Kill();
        Finish(5000);
    }
    if (lockReady_) ::DeleteCriticalSection(&lock_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& workingFolder) {
    ::InitializeCriticalSection(&lock_);
    lockReady_ = true;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr, inRead = nullptr;
    if (!::CreatePipe(&outRead_, &outWrite, &inherit, 0) || !::CreatePipe(&inRead, &inWrite_, &inherit, 0)) {
        DWORD error = ::GetLastError();
        std::fprintf(stderr, "cannot make the pipes of a child (error %lu)\n", error);
        ::SetLastError(error);
        return false;
    }
    ::SetHandleInformation(outRead_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(inWrite_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    startup.hStdInput = inRead;
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
    ::CloseHandle(outWrite);
    ::CloseHandle(inRead);
    if (!ok) {
        ::SetLastError(error);  // for the caller's message
        return false;
    }
    reader_ = ::CreateThread(nullptr, 0, ReadOutput, this, 0, nullptr);
    return true;
}

DWORD WINAPI ChildProcess::ReadOutput(void* self) {
    auto* child = static_cast<ChildProcess*>(self);
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(child->outRead_, buf, sizeof buf, &got, nullptr) && got > 0) {
        ::EnterCriticalSection(&child->lock_);
        child->output_.append(buf, got);
        ::LeaveCriticalSection(&child->lock_);
    }
    return 0;
}

bool ChildProcess::WaitForOutput(const std::string& text, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        ::EnterCriticalSection(&lock_);
        bool found = output_.find(text) != std::string::npos;
        ::LeaveCriticalSection(&lock_);
        if (found) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        if (::WaitForSingleObject(info_.hProcess, 10) == WAIT_OBJECT_0) {
            ::WaitForSingleObject(reader_, 2000);
            ::EnterCriticalSection(&lock_);
            found = output_.find(text) != std::string::npos;
            ::LeaveCriticalSection(&lock_);
            return found;
        }
    }
}

void ChildProcess::Write(const std::string& input) {
    DWORD written = 0;
    ::WriteFile(inWrite_, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
}

void ChildProcess::Kill() {
    if (info_.hProcess) ::TerminateProcess(info_.hProcess, 9);
}

ProcessResult ChildProcess::Finish(DWORD timeoutMs, bool pumpMessages) {
    ProcessResult result;
    if (!info_.hProcess) return result;
    if (inWrite_) {
        ::CloseHandle(inWrite_);
        inWrite_ = nullptr;
    }
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
    ::WaitForSingleObject(reader_, 5000);
    ::GetExitCodeProcess(info_.hProcess, &result.exitCode);
    result.output = output_;
    result.processId = info_.dwProcessId;
    result.threadId = info_.dwThreadId;
    ::CloseHandle(reader_);
    ::CloseHandle(outRead_);
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
    info_ = {};
    reader_ = outRead_ = nullptr;
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
