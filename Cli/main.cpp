// vxtrace: hooks component DLLs and prints the decoded trace of a program,
// through the trace reader, for scripts and CI; exports and compares traces.
#include <cstring>

#include "commands.h"
#include "data.h"

namespace {

constexpr char kUsage[] =
    "usage: vxtrace hook DLL            hook a registered component DLL\n"
    "       vxtrace unhook DLL          remove its hook (the DLL registers itself again)\n"
    "       vxtrace list                the hooked DLLs with their hook numbers\n"
    "       vxtrace classes DLL         the classes registered for a DLL\n"
    "       vxtrace run [--out FILE] [--format F] [--expect GOLDEN [--ignore LIST]] -- PROGRAM [ARGS...]\n"
    "                                   run a program, print its trace records as they come;\n"
    "                                   exits with the program's exit code, or with --expect\n"
    "                                   0 when its calls match the golden trace, 1 when not\n"
    "       vxtrace dump FILE [--format F]\n"
    "                                   print the records of a saved trace file\n"
    "       vxtrace diff [--ignore LIST] A B\n"
    "                                   compare two traces (files, or - for standard input):\n"
    "                                   0 when their calls match, 1 when not, 2 on bad input\n"
    "  F: text (the records as written), jsonl (one JSON object a record), csv (one row a call)\n"
    "  LIST: fields (in, out, results, instances, loads, reports) or methods (AddRef,\n"
    "        IUnknown::Release) to leave out of the comparison, separated by commas\n";

int Usage(const std::string& why = {}) {
    if (!why.empty()) vxtrace::Fail(why);
    std::fputs(kUsage, stderr);
    return vxtrace::kUsage;
}

// The options of run, dump and diff, wherever they stand before "--".
struct Options {
    vxtrace::RunOptions run;
    std::vector<std::string> operands;
    std::string error;
};

Options ReadOptions(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            o.run.program.assign(args.begin() + static_cast<ptrdiff_t>(i) + 1, args.end());
            if (o.run.program.empty()) o.error = "no program after --";
            return o;
        }
        bool takesValue = arg == "--out" || arg == "--format" || arg == "--expect" || arg == "--ignore";
        if (takesValue && i + 1 >= args.size()) {
            o.error = arg + " needs a value";
            return o;
        }
        if (arg == "--out") {
            o.run.outFile = args[++i];
        } else if (arg == "--format") {
            if (!vx::ExportFormatNamed(args[++i], &o.run.format)) o.error = "unknown format \"" + args[i] + "\"";
        } else if (arg == "--expect") {
            o.run.expect = args[++i];
        } else if (arg == "--ignore") {
            vx::AddIgnored(args[++i], &o.run.compare, &o.error);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            o.error = "unknown option " + arg;
        } else {
            o.operands.push_back(arg);
        }
        if (!o.error.empty()) return o;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    Options options = ReadOptions(args);
    if (!options.error.empty()) return Usage(options.error);
    const vxtrace::RunOptions& run = options.run;
    const std::vector<std::string>& operands = options.operands;
    bool oneArgument = command == "hook" || command == "unhook" || command == "classes" || command == "dump";
    bool ignoring = !run.compare.fields.empty() || !run.compare.methods.empty();
    bool exporting = run.format != vx::ExportFormat::Text;
    if ((oneArgument && operands.size() != 1) || (command == "list" && !operands.empty()) ||
        (command == "diff" && operands.size() != 2) || (command == "run" && (run.program.empty() || !operands.empty())))
        return Usage();
    if (command != "run" && !run.program.empty()) return Usage();
    if (((!run.outFile.empty() || !run.expect.empty()) && command != "run") ||
        (exporting && command != "run" && command != "dump") || (ignoring && command != "diff" && run.expect.empty()))
        return Usage("an option that " + command + " does not take");

    // These read trace text themselves: no reader, no installation needed.
    if (command == "diff") return vxtrace::Diff(operands[0], operands[1], run.compare);
    if (command == "dump" && exporting) return vxtrace::Export(operands[0], run.format);
    if (!oneArgument && command != "list" && command != "run") return Usage();

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
            code = vxtrace::Hook(session, operands[0]);
        } else if (command == "unhook") {
            code = vxtrace::Unhook(session, operands[0]);
        } else if (command == "list") {
            code = vxtrace::List(session);
        } else if (command == "classes") {
            code = vxtrace::Classes(session, operands[0]);
        } else if (command == "run") {
            code = vxtrace::Run(session, run);
        } else {
            code = vxtrace::Dump(session, operands[0]);
        }
    }
    ::CoUninitialize();
    return code;
}
