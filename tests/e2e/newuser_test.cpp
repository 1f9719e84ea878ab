// What a new user meets first, tried as one would: a client that ends in the
// middle of traced calls, damaged settings files, two tracers at once, saved
// traces read back, a component that registers itself again.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "readertest.h"

namespace e2e {
namespace {

class NewUserTest : public HookedReaderTest {
protected:
    // The distinct "PID=...h" values of the records printed.
    static std::set<std::string> ProcessIds(const std::string& output) {
        std::set<std::string> ids;
        std::regex pid("PID=([0-9a-f]+)h");
        for (auto it = std::sregex_iterator(output.begin(), output.end(), pid); it != std::sregex_iterator(); ++it)
            ids.insert((*it)[1]);
        return ids;
    }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(NewUserTest, RunEndsWhenItsProgramEndsInTheMiddleOfTracedCalls) {
    for (int i = 0; i < Repeats(2, 10); ++i) {
        DWORD start = ::GetTickCount();
        ProcessResult run = Vxtrace("run -- " + ClientCommand("torture"), 60000);
        DWORD took = ::GetTickCount() - start;
        ASSERT_FALSE(run.timedOut) << "run " << i << " never ended:\n" << run.output.substr(0, 2000);
        EXPECT_EQ(run.exitCode, 0u) << "run " << i;
        EXPECT_NE(run.output.find("torture: wrong results=0"), std::string::npos) << "run " << i;
        EXPECT_NE(run.output.find("========= LOAD DLL: VxSample.dll"), std::string::npos) << "run " << i;
        EXPECT_LT(took, 25000u) << "run " << i;
    }
}

TEST_F(NewUserTest, DamagedModuleListLeavesTheComponentWorkingAndTraced) {
    std::string settings = Settings();
    std::string noHeader = settings;
    noHeader.erase(noHeader.find("[List of modules"), std::string("[List of modules with components to investigate]").size());
    std::string garbageLines = settings;
    garbageLines.replace(garbageLines.find(sample), sample.size(), "garbage <*> \x02 line");
    std::string error;  // the component's own registration, as regsvr32 would write it
    ASSERT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
    ProcessResult unhooked = RunProgram(ClientCommand("basic"));
    ASSERT_EQ(Vxtrace("hook " + Quoted(sample)).exitCode, 0u);
    // vxtrace list answers from the registry, 2 without a module list, 0 when only its line is garbage.
    const struct {
        const char* what;
        std::string text;
        DWORD listCode;
    } damages[] = {{"empty", "", 2}, {"garbage", "\x01\x02 no settings here \xff\r\n\r\n", 2},
                   {"no header", noHeader, 2}, {"garbage module line", garbageLines, 0}};
    for (const auto& [what, text, listCode] : damages) {
        WriteFileText(inst.folder + "Vexilo.txt", text);
        vxinstall::ClearTraceFiles(inst.folder);
        ProcessResult hooked = RunProgram(ClientCommand("basic"));
        EXPECT_EQ(hooked.exitCode, unhooked.exitCode) << what;
        EXPECT_EQ(hooked.output, unhooked.output) << what;
        EXPECT_NE(Distilled().find("========= LOAD DLL: VxSample.dll"), std::string::npos) << what << ": traced";

        ProcessResult list = Vxtrace("list");
        EXPECT_EQ(list.exitCode, listCode) << what;
        EXPECT_EQ(list.output.find("has no module list") != std::string::npos, listCode == 2) << what << "\n" << list.output;
        EXPECT_EQ(list.output.find("garbage"), std::string::npos) << what << "\n" << list.output;
        EXPECT_NE(list.output.find("1\t" + sample + "\t(hooked in the registry only, not in the module list)\n"),
                  std::string::npos) << what << "\n" << list.output;
    }

    ProcessResult unhook = Vxtrace("unhook " + Quoted(sample));
    EXPECT_EQ(unhook.exitCode, 0u) << unhook.output;
    EXPECT_EQ(vxinstall::ClassesOfServer(sample).size(), 5u) << "the component's own registration is back";
    Rewrite();
}

TEST_F(NewUserTest, DamagedAdvancedSettingsKeepTheDistilledTrace) {
    for (const std::string& text : {std::string(), std::string("\x01 garbage \xfe\r\n"),
                                    std::string("Print full diagnostic ? [Y/N]: Y\r\n")}) {
        WriteFileText(inst.folder + "VexiloAdv.txt", text);
        vxinstall::ClearTraceFiles(inst.folder);
        ProcessResult run = Vxtrace("run -- " + ClientCommand("basic"));
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("Calc.Add(2,3) hr=0x00000000 -> 5"), std::string::npos);
        EXPECT_GT(Count(run.output, "========= LOAD DLL: VxSample.dll"), 0u) << "records printed";
        EXPECT_NE(Distilled().find("Method: VT_HRESULT Add ("), std::string::npos);
    }
    // With the full trace on, its banner names the file it could not read whole.
    EXPECT_NE(Full().find("Settings file " + inst.folder + "VexiloAdv.txt has unreadable answers: their defaults are taken"),
              std::string::npos)
        << Full().substr(0, 400);
    Rewrite();
}

TEST_F(NewUserTest, ASecondRunRefusesWhileTheFirstReadsTheTrace) {
    ChildProcess first;
    ASSERT_TRUE(first.Start(Quoted(inst.folder + "vxtrace.exe") + " run -- " + ClientCommand("wait")));
    ASSERT_TRUE(first.WaitForOutput("waiting", 30000));
    ProcessResult second = Vxtrace("run -- " + ClientCommand("basic"));
    EXPECT_EQ(second.exitCode, 6u) << second.output;
    EXPECT_NE(second.output.find("vxtrace: another trace reader (process "), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("Calc.Add"), std::string::npos) << "the program was not started";
    first.Write("go\n");
    ProcessResult result = first.Finish(60000);
    std::erase(result.output, '\r');
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(ProcessIds(result.output).size(), 1u) << "only the first program's records";
    // Complete: both calls' entries and exits and the unload at the end.
    EXPECT_GE(Count(result.output, "\nMethod: VT_HRESULT Add ("), 2u) << result.output;
    EXPECT_NE(result.output.find("========= UNLOAD DLL: VxSample.dll"), std::string::npos) << result.output;
}

TEST_F(NewUserTest, OutFilesDumpWholeAndCutFilesSaySo) {
    std::string out = inst.folder + "script run.trc";
    ProcessResult run = Vxtrace("run --out " + Quoted(out) + " -- " + ScriptCommand("calc.js"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    ProcessResult dump = Vxtrace("dump " + Quoted(out));
    ASSERT_EQ(dump.exitCode, 0u) << dump.output;
    // The records printed live (between the script's own lines), in the same
    // order, the first one included.
    size_t at = 0;
    for (size_t start = 0, end; start < dump.output.size(); start = end + 2) {
        end = dump.output.find("\n\n", start);
        if (end == std::string::npos) end = dump.output.size();
        std::string record = dump.output.substr(start, end - start + 1);
        size_t found = run.output.find(record, at);
        ASSERT_NE(found, std::string::npos) << record;
        at = found + record.size();
    }
    EXPECT_EQ(Count(dump.output, "TID="), Count(run.output, "TID="));
    // All the kernel wrote, to the records the host writes as it exits with the component loaded.
    EXPECT_EQ(Count(dump.output, "TID="), SplitRecords(Distilled()).size());

    // Without its leading line break nothing is lost either.
    std::string bytes = ReadFileText(out);
    ASSERT_EQ(bytes.rfind("\r\n", 0), 0u);
    WriteFileText(inst.folder + "bare.trc", bytes.substr(2));
    EXPECT_EQ(Vxtrace("dump " + Quoted(inst.folder + "bare.trc")).output, dump.output);

    // Cut inside the last record: the whole ones, then the message.
    size_t lastRecord = bytes.rfind("\r\n=========");
    WriteFileText(inst.folder + "cut.trc", bytes.substr(0, lastRecord + 30));
    ProcessResult cut = Vxtrace("dump " + Quoted(inst.folder + "cut.trc"));
    EXPECT_EQ(cut.exitCode, 2u);
    size_t whole = Count(bytes.substr(0, lastRecord), "TID=");
    ASSERT_GT(whole, 5u);
    EXPECT_EQ(Count(cut.output, "TID="), whole) << cut.output;
    EXPECT_EQ(cut.output.find(dump.output.substr(0, 200)), 0u) << "the same records, from the first";
    EXPECT_NE(cut.output.find("ends inside a record: the " + std::to_string(whole) + " whole records before it were printed"),
              std::string::npos)
        << cut.output;

    // A program that cannot start leaves an existing out file as it was.
    ProcessResult failed = Vxtrace("run --out " + Quoted(out) + " -- C:\\no\\such.exe");
    EXPECT_EQ(failed.exitCode, 2u);
    EXPECT_EQ(ReadFileText(out), bytes);

    // Paths past 260 characters, both ways.
    std::string deep = inst.folder;
    std::string folderName(60, 'd');
    for (int i = 0; i < 5; ++i) {
        deep += folderName + "\\";
        ::CreateDirectoryW((L"\\\\?\\" + vx::Wide(deep)).c_str(), nullptr);
    }
    std::string longOut = deep + "trace.trc";
    ASSERT_GT(longOut.size(), 300u);
    ASSERT_EQ(Vxtrace("run --out " + Quoted(longOut) + " -- " + ClientCommand("basic")).exitCode, 0u);
    ProcessResult longDump = Vxtrace("dump " + Quoted(longOut));
    EXPECT_EQ(longDump.exitCode, 0u) << longDump.output;
    EXPECT_GT(Count(longDump.output, "TID="), 5u);
}

TEST_F(NewUserTest, RunHooksAgainAComponentThatRegisteredItself) {
    std::string error;  // the component's own registration, as regsvr32 would write it
    ASSERT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
    ASSERT_EQ(vxinstall::ClassesOfServer(sample).size(), 5u);
    ProcessResult list = Vxtrace("list");
    EXPECT_NE(list.output.find("1\t" + sample + "\t(not hooked in the registry"), std::string::npos) << list.output;
    vxinstall::ClearTraceFiles(inst.folder);
    ProcessResult run = Vxtrace("run -- " + ClientCommand("basic"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.output.find("hook 1 re-applied"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Method: VT_HRESULT Add ("), std::string::npos) << "traced";
    EXPECT_EQ(vxinstall::ClassesOfServer(inst.folder + "Zor#_01.dll").size(), 5u);
    EXPECT_EQ(Vxtrace("list").output, "1\t" + sample + "\n");
}

// The reader as the main window calls it: live intake with the window's
// handle in the map, nothing more once the window's Stop disables it until a
// new process comes, and nothing left in the map once the reader is gone.
// (The hook pairs and the records' fields are the window tests' and the
// reader's unit tests'.)
TEST_F(NewUserTest, ReaderStoppedByTheWindowFetchesNothingMoreAndLeavesTheMap) {
    ChildProcess client;
    ASSERT_TRUE(client.Start(ClientCommand("wait")));
    ASSERT_TRUE(client.WaitForOutput("waiting", 30000));
    HeldMap map;
    Apartment apartment;
    {
        vx::com_ptr<ITraceReader> reader = NewTraceReader();
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->put_Mode(2), S_OK);
        ASSERT_EQ(reader->put_StatHWND(0x1234), S_OK);
        size_t records = 0;
        for (int i = 0; i < 100 && records < 3; ++i) {
            records += NewRecords(reader.get()).size();
            ::Sleep(20);
        }
        EXPECT_GE(records, 3u) << "the client's load, creation and call";
        EXPECT_EQ(map->readerWindow, 0x1234u);

        EXPECT_EQ(reader->DisableGettingRecordsUntillNewProcess(), S_OK);
        client.Write("go\n");
        EXPECT_EQ(client.Finish(30000).exitCode, 0u);
        size_t delivered = 0;
        for (int i = 0; i < 20; ++i) {
            delivered += NewRecords(reader.get()).size();
            ::Sleep(20);
        }
        EXPECT_EQ(delivered, 0u) << "the rest of the trace is not fetched";
    }
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(map->readerWindow, 0u) << "the reader left the map";
    EXPECT_EQ(map->lockWord, 0);
    EXPECT_EQ(vx::AttachedReaderProcess(), 0u);
}

}  // namespace
}  // namespace e2e
