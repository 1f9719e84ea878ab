// Traces as data, as a CI job uses them: the sample's "all" scenario exported
// as JSON Lines, two runs compared, a run with one parameter changed caught by
// diff and by a golden-trace check, and bad input refused with its exit code.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "readertest.h"
#include "tracetext.h"

namespace e2e {
namespace {

class TraceDataTest : public HookedReaderTest {
protected:
    std::string File(const char* name) const { return inst.folder + name; }
    // A traced run of the client saved to `name`; the run's own exit code.
    DWORD Saved(const char* name, const std::string& scenario) {
        ProcessResult run = Vxtrace("run --out " + Quoted(File(name)) + " -- " + ClientCommand(scenario));
        EXPECT_FALSE(run.timedOut) << scenario;
        return run.exitCode;
    }
};

TEST_F(TraceDataTest, JsonLinesOfTheSampleWithEveryCallPairedThenRunsCompared) {
    // Standard output redirected by the prefix's own shell: it must hold the
    // data alone, the program's lines going to the error stream.
    std::string jsonl = File("all.jsonl");
    ProcessResult run = RunProgram("cmd /c \"" + Quoted(inst.folder + "vxtrace.exe") + " run --format jsonl --out " +
                                   Quoted(File("all.vxt")) + " -- " + ClientCommand("all") + " > " + Quoted(jsonl) + "\"");
    ASSERT_FALSE(run.timedOut);
    EXPECT_NE(run.output.find("Calc.Divide(1,0) hr=0x80020012"), std::string::npos) << "the program's own output";

    std::map<long, std::string> enters;  // record → method, until its exit comes
    std::map<std::string, int> kinds;
    size_t lines = 0;
    std::set<std::string> failures;
    std::string text = ReadFileText(jsonl);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        ++lines;
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(record.is_discarded()) << "line " << lines << ": " << line;
        std::string kind = record["kind"];
        ++kinds[kind];
        if (kind == "enter") enters[record["record"]] = record.value("method", "");
        if (kind != "exit") continue;
        ASSERT_TRUE(record["enter"].is_number()) << line;
        auto enter = enters.find(record["enter"]);
        ASSERT_NE(enter, enters.end()) << line;
        EXPECT_EQ(enter->second, record.value("method", "")) << line;
        enters.erase(enter);
        if (record.value("failed", false)) failures.insert(record.value("result", std::string(record["hresultHex"])));
    }
    EXPECT_TRUE(enters.empty()) << enters.size() << " calls without their exit, the first " << enters.begin()->second;
    EXPECT_EQ(kinds["enter"], kinds["exit"]);
    EXPECT_GT(kinds["enter"], 100);
    for (const char* name : {"DISP_E_DIVBYZERO", "E_NOINTERFACE", "E_INVALIDARG"})
        EXPECT_TRUE(failures.count(name)) << name << " among the failed calls' results";
    // One object per record of the same run's saved trace.
    size_t saved = 0;
    vx::TraceReadResult read = vx::ReadTraceFile(File("all.vxt"), [&saved](vx::TraceRecord&&) { ++saved; });
    EXPECT_EQ(read.outcome, vx::ReadOutcome::Ok) << read.message;
    EXPECT_EQ(lines, saved);

    // Another run of the same compares equal; a run with one changed
    // parameter is found by diff and by the golden check.
    Saved("all2.vxt", "all");
    ProcessResult same = Vxtrace("diff " + Quoted(File("all.vxt")) + " " + Quoted(File("all2.vxt")));
    EXPECT_EQ(same.exitCode, 0u) << same.output;
    EXPECT_NE(same.output.find("the traces match: "), std::string::npos) << same.output;

    ASSERT_EQ(Saved("golden.vxt", "create"), 0u);
    const std::string changed = "ICalc::Add(a=2 (2h), b=4 (4h))";
    ProcessResult differs = Vxtrace("diff " + Quoted(File("golden.vxt")) + " " + Quoted(File("all.vxt")));
    EXPECT_EQ(differs.exitCode, 1u) << differs.output;

    ProcessResult passes = Vxtrace("run --expect " + Quoted(File("golden.vxt")) + " -- " + ClientCommand("create"));
    EXPECT_EQ(passes.exitCode, 0u) << passes.output;
    EXPECT_NE(passes.output.find("the traces match: 2 calls"), std::string::npos) << passes.output;
    ProcessResult fails = Vxtrace("run --expect " + Quoted(File("golden.vxt")) + " -- " + ClientCommand("create 4"));
    EXPECT_EQ(fails.exitCode, 1u) << fails.output;
    EXPECT_NE(fails.output.find("B [3] VxSample Calc Class(1) " + changed), std::string::npos) << fails.output;
    EXPECT_NE(fails.output.find("summary: 1 event only in A, 1 only in B"), std::string::npos) << fails.output;

    // Bad input: its message and exit code 2, before any program runs.
    WriteFileText(File("empty.vxt"), "");
    std::string cut = ReadFileText(File("golden.vxt"));
    WriteFileText(File("cut.vxt"), cut.substr(0, cut.size() / 2));
    const std::pair<std::string, std::string> bad[] = {
        {"diff " + Quoted(File("empty.vxt")) + " " + Quoted(File("golden.vxt")), "is empty"},
        {"diff " + Quoted(File("cut.vxt")) + " " + Quoted(File("golden.vxt")), "ends inside a record"},
        {"diff " + Quoted(File("vxtrace.exe")) + " " + Quoted(File("golden.vxt")), "is not a trace"},
        {"run --expect " + Quoted(File("missing.vxt")) + " -- " + ClientCommand("create"), "cannot read trace file"},
        {"dump " + Quoted(File("cut.vxt")) + " --format csv", "ends inside a record"},
    };
    for (const auto& [arguments, message] : bad) {
        ProcessResult result = Vxtrace(arguments);
        EXPECT_EQ(result.exitCode, 2u) << arguments << "\n" << result.output;
        EXPECT_NE(result.output.find("vxtrace: "), std::string::npos) << arguments;
        EXPECT_NE(result.output.find(message), std::string::npos) << arguments << "\n" << result.output;
        EXPECT_EQ(result.output.find("CoCreateInstance"), std::string::npos) << "the program never ran: " << arguments;
    }
}

}  // namespace
}  // namespace e2e
