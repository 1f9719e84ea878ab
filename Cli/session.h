// One trace reader for the command line: created through COM, pointed at the
// installation, with the helpers every command needs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Ledra.h"
#include "raii.h"
#include "textconv.h"

namespace vxtrace {

// Exit codes besides the traced program's own.
enum ExitCode : int {
    kOk = 0,
    kUsage = 1,
    kBadInput = 2,
    kNoReader = 3,
    kHookNotWritten = 4,
    kNotRestored = 5,
    kReaderBusy = 6,
    kDifferent = 1,  // diff and run --expect: the traces differ
};

// Prints "vxtrace: <text>" on the error stream.
void Fail(const std::string& text);
// Writes text to standard output as it is.
void Print(const std::string& text);

using vx::Narrow;
using vx::Wide;

class Session {
public:
    // False (with the message printed) when the reader cannot be created.
    bool Open();
    ITraceReader* reader() const { return reader_.get(); }
    const std::string& installationPath() const { return installationPath_; }
    std::string settingsPath() const { return installationPath_ + "Vexilo.txt"; }

    // Runs pending window messages: the reader's watcher calls in through them.
    static void Pump();

    // The record's lines, from its first line to its end.
    std::vector<std::string> RecordLines(long recPtr);

    // Registered classes whose server (or, hooked, real server) is the DLL.
    struct ClassInfo {
        std::string clsid, name, server, realPath;
    };
    std::vector<ClassInfo> ClassesOf(const std::string& dll);
    std::vector<ClassInfo> AllClasses();

    // DLLs whose classes the registry redirects to a stub copy of this
    // installation: hook number (from the copy's name) and real path, once each.
    struct RegistryHook {
        long number;
        std::string realPath;
    };
    std::vector<RegistryHook> RegistryHooks();

    // Hook numbers live traced processes still hold; false when the trace
    // map stayed locked and they could not be read.
    bool LiveHookNumbers(std::vector<long>* numbers);

private:
    vx::com_ptr<ITraceReader> reader_;
    std::string installationPath_;
};

// The full path of a file named on the command line; empty when it is missing.
std::string ExistingFile(const std::string& name);

using vx::EqualNoCase;

}  // namespace vxtrace
