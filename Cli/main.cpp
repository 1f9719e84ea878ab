// vxtrace: hooks component DLLs and prints the decoded trace of a program,
// through the trace reader, for scripts and CI.
#include <cstring>

#include "commands.h"

namespace {

constexpr char kUsage[] =
    "usage: vxtrace hook DLL            hook a registered component DLL\n"
    "       vxtrace unhook DLL          remove its hook (the DLL registers itself again)\n"
    "       vxtrace list                the hooked DLLs with their hook numbers\n"
    "       vxtrace classes DLL         the classes registered for a DLL\n"
    "       vxtrace run [--out FILE] -- PROGRAM [ARGS...]\n"
    "                                   run a program, print its trace records as they come;\n"
    "                                   exits with the program's exit code\n"
    "       vxtrace dump FILE           print the records of a saved trace file\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return vxtrace::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    bool oneArgument = command == "hook" || command == "unhook" || command == "classes" || command == "dump";
    if ((oneArgument && args.size() != 2) || (command == "list" && args.size() != 1)) return Usage();
    std::string outFile;
    std::vector<std::string> program;
    if (command == "run") {
        size_t i = 1;
        if (i + 1 < args.size() && args[i] == "--out") {
            outFile = args[i + 1];
            i += 2;
        }
        if (i >= args.size() || args[i] != "--" || i + 1 >= args.size()) return Usage();
        program.assign(args.begin() + static_cast<ptrdiff_t>(i) + 1, args.end());
    } else if (!oneArgument && command != "list") {
        return Usage();
    }

    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        vxtrace::Fail("COM cannot be initialised");
        return vxtrace::kNoReader;
    }
    int code;
    {
        vxtrace::Session session;
        if (!session.Open()) {
            code = vxtrace::kNoReader;
        } else if (command == "hook") {
            code = vxtrace::Hook(session, args[1]);
        } else if (command == "unhook") {
            code = vxtrace::Unhook(session, args[1]);
        } else if (command == "list") {
            code = vxtrace::List(session);
        } else if (command == "classes") {
            code = vxtrace::Classes(session, args[1]);
        } else if (command == "run") {
            code = vxtrace::Run(session, outFile, program);
        } else {
            code = vxtrace::Dump(session, args[1]);
        }
    }
    ::CoUninitialize();
    return code;
}
