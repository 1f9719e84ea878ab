// A real client under Wine creating the sample class through the hook.
#include <map>
#include <regex>
#include <set>

#include "e2e.h"

using namespace e2e;

// The run begins with the map's lock left by a killed holder: the client's
// kernel takes it over and writes every record as usual.
TEST_F(TraceTest, ClientThroughTheHookWritesEveryRecordOfItsObject) {
    HeldMap map;
    ASSERT_TRUE(map.get());
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(Quoted(StressPath()) + " hold SPDiagMappingObject"));
    ASSERT_TRUE(holder.WaitForOutput("held", 30000));
    ASSERT_NE(map->lockWord, 0);
    holder.Kill();
    holder.Finish(10000);
    std::string command = ClientCommand("create");
    ProcessResult run = RunProgram(command);
    ASSERT_EQ(run.exitCode, 0u) << run.output;

    std::string distilled = Distilled();
    std::vector<std::string> records = SplitRecords(distilled);
    std::vector<std::string> kinds = RecordKinds(records);
    // Created, Add (slot 7) called, released (slot 2) to 0, unloaded, reported.
    ASSERT_EQ(kinds.size(), 10u) << distilled;
    const std::string add = kinds[2].substr(6), release = kinds[4].substr(6);
    EXPECT_EQ(kinds, (std::vector<std::string>{"LOAD", "CREATE", "ENTER " + add, "EXIT " + add, "ENTER " + release,
                                                "EXIT " + release, "DESTROY", "UNLOAD", "REPORT", "END"}));
    EXPECT_EQ(add.substr(add.find('.')), ".7");
    EXPECT_EQ(release.substr(release.find('.')), ".2");
    EXPECT_EQ(WithoutTime(records[0]), DllRecord("LOAD", sample, run.threadId, run.processId, 1, command));
    EXPECT_EQ(WithoutTime(records[7]), DllRecord("UNLOAD", sample, run.threadId, run.processId, 8, command,
                                                 "All interface pointers were released"));

    const std::string header = " TID=" + Hex(run.threadId) + "h PID=" + Hex(run.processId) + "h [";
    EXPECT_EQ(records[1], "\r\n--- CREATING THE INSTANCE ---" + header +
                              "2]\r\nClass: VxSample Calc Class (instance# 1)\r\nTotal instances: 1\r\n");
    EXPECT_EQ(records[2], "\r\n*** Serial# of call: " + add + " *** " + header +
                              "3]\r\nClass: VxSample Calc Class (instance# 1)\r\nInterface: ICalc (dual)\r\n"
                              "Method: VT_HRESULT Add (\r\n"
                              "               [in]  a=2 (2h)  (VT_I4),\r\n"
                              "               [in]  b=3 (3h)  (VT_I4),\r\n"
                              "               [out,retval]  total  (VT_POINTER VT_I4) );\r\n");
    // The out-value through the caller's pointer, whose address varies.
    EXPECT_EQ(records[3].substr(0, records[3].find("\r\n", 2)),
              "\r\n   *** Serial# of exit: " + add + " ***" + header + "4]");
    EXPECT_EQ(Calls(records)[1].body, "               [out,retval]  total  ptr=#h  *ptr=5 (5h)  (VT_POINTER VT_I4)\r\n"
                                      "               HRESULT = 0 (0h)\r\n");
    EXPECT_NE(records[5].find("               Return value = 0 (0h)  (VT_UI4)\r\n"), std::string::npos) << records[5];
    EXPECT_EQ(records[6], "\r\n--- DESTROYING OF THE INSTANCE ---" + header +
                              "7]\r\nClass: VxSample Calc Class (instance# 1)\r\nRemaining instances: 0\r\n"
                              "Queried interfaces:\r\n          ICalc\r\n");
    EXPECT_EQ(records[8], "\r\n\r\n<<<<<<<<<<<<  FINAL REPORT  >>>>>>>>>>>>" + header +
                              "9]\r\n\r\n---- Class# 1: VxSample Calc Class ----\r\n"
                              "Number of created instances: 1\r\nNumber of undestroyed instances:    0\r\n");
    EXPECT_EQ(records[9], "\r\n<<<<<<<<<<<<  End of report  >>>>>>>>>>>>" + header + "10]\r\n");

    // The ring holds exactly the distilled text, without the end mark.
    EXPECT_EQ(map.Ring(), distilled.substr(0, distilled.size() - 1));
    EXPECT_EQ(map->lockWord, 0);
    EXPECT_EQ(map->processes[0], run.processId);
    EXPECT_STREQ(map->distilledPath, (inst.folder + "TraceDistilled.txt").c_str());
    for (const korbin::HookEntry& e : map->hooks) EXPECT_EQ(e.processId, 0u) << "hook entry left after unload";
    EXPECT_FALSE(FileExists(inst.folder + "ExtraFile.txt"));

    // The full trace: the same lines, each new line with the thread id.
    const std::string full = Full(), tid = "\r\n[" + Hex(run.threadId) + "] ";
    EXPECT_NE(full.find(tid + "========= LOAD DLL: VxSample.dll ========= TID="), std::string::npos) << full;
    EXPECT_NE(full.find(tid + "               [in]  a=2 (2h)  (VT_I4),\r\n"), std::string::npos) << full;
}

// The main thread's apartment keeps the stub loaded while the threads'
// apartment ends and COM asks the component whether it can unload, as the
// threads come and go: the component stays with its stub, as it would
// unhooked, and every creation is traced, however the threads and the
// apartment's end fall. The results were checked by hand (Add(2,3) is 5,
// Divide(1,0) fails with DISP_E_DIVBYZERO, ...): on both architectures, so
// 64-bit argument passing gives the same results, hooked or not.
TEST_F(TraceTest, ClientOutputIsTheSameWithAndWithoutTheHook) {
    std::string expected = ReadFileText(VX_EXPECTED_ALL);
    std::erase(expected, '\r');
    HeldMap map;
    int firstCreations = -1;
    for (int run = 0; run < Repeats(2, 10); ++run) {
        vxinstall::ClearTraceFiles(inst.folder);
        ProcessResult hooked = RunProgram(ClientCommand("all"));
        ASSERT_EQ(hooked.exitCode, 0u) << hooked.output;
        std::erase(hooked.output, '\r');
        EXPECT_EQ(hooked.output, expected) << "run " << run;
        const std::vector<std::string> records = SplitRecords(Distilled());
        EXPECT_EQ(DllKinds(records), "LOAD UNLOAD ");
        EXPECT_EQ(CheckCallPairing(records), "");
        EXPECT_EQ(map->liveProcesses, 1u);
        const int creations = Count(RecordKinds(records), "CREATE");
        if (firstCreations < 0) firstCreations = creations;
        EXPECT_EQ(creations, firstCreations) << "run " << run << " traced another number of creations";
    }
    EXPECT_GT(firstCreations, 10);

    vxinstall::ClearTraceFiles(inst.folder);
    ProcessResult plain = RunUnhooked(ClientCommand("all"));
    ASSERT_EQ(plain.exitCode, 0u) << plain.output;
    std::erase(plain.output, '\r');
    EXPECT_EQ(plain.output, expected);
    EXPECT_FALSE(FileExists(inst.folder + "TraceDistilled.txt"));
}

// Late binding through the prefix's script host: the object answers
// IDispatch, whose query also hooks the default interface on the same
// pointer, so Invoke's calls show the dual methods they reach by name. The
// host keeps the component until it exits: the final report follows its
// unload, also when the script kept its object to the end.
TEST_F(TraceTest, ScriptsOfThePrefixScriptHostAreTraced) {
    const struct {
        const char* script;
        bool hideIDispatch;
        const char* unloadLine;  // checked where the script decides it
    } kRuns[] = {
        {"calc.vbs", false, nullptr},
        {"calc.js", false, nullptr},
        // Slots 0 to 6 of a dual interface left out; a custom one keeps them.
        {"calc.js", true, nullptr},
        // The host lets go of the object as it closes its engine, never of the DLL.
        {"keep.js", false, "NOT all interface pointers were released"},
    };
    std::map<std::string, std::string> outputs;
    for (const auto& r : kRuns) {
        SCOPED_TRACE(std::string(r.script) + (r.hideIDispatch ? ", IDispatch hidden" : ""));
        inst.main.collectIDispatch = !r.hideIDispatch;
        Rewrite();
        vxinstall::ClearTraceFiles(inst.folder);
        const std::string command = ScriptCommand(r.script);
        ProcessResult run = RunProgram(command);
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("Add(2,3)=5"), std::string::npos) << run.output;
        if (!r.hideIDispatch) outputs[r.script] = run.output;
        const std::string text = Distilled();
        const std::vector<std::string> records = SplitRecords(text);
        const std::vector<std::string> kinds = RecordKinds(records);
        ASSERT_EQ(DllKinds(records), "LOAD UNLOAD ") << text;
        EXPECT_EQ(WithoutTime(records[0]), DllRecord("LOAD", sample, run.threadId, run.processId, 1, command));
        EXPECT_EQ(kinds[1], "CREATE");
        EXPECT_EQ(LastKinds(kinds, 3), "UNLOAD REPORT END ");
        if (r.unloadLine) { EXPECT_NE(DllRecords(records)[1].find(r.unloadLine), std::string::npos); }
        EXPECT_EQ(CheckCallPairing(records), "");
        EXPECT_NE(text.find("Interface: ICalc (dual)\r\nMethod: VT_HRESULT Add (\r\n"
                            "               [in]  a=2 (2h)  (VT_I4),\r\n"),
                  std::string::npos);
        if (!r.hideIDispatch) {
            EXPECT_NE(text.find("Interface: ICalc (dual)\r\nMethod: VT_HRESULT Invoke ("), std::string::npos);
            // GetIDsOfNames shows the name asked for.
            EXPECT_NE(text.find("               [in]  rgszNames = \"Add\"  (VT_POINTER* VT_I1),\r\n"),
                      std::string::npos);
            continue;
        }
        std::set<std::string> custom;
        for (const std::string& record : records) {
            const std::string kind = RecordKind(record), serial = kind.substr(kind.find(' ') + 1);
            if (kind.rfind("ENTER ", 0) != 0 && kind.rfind("EXIT ", 0) != 0) continue;
            if (kind[1] == 'N' && record.find(" (custom)\r\n") != std::string::npos) custom.insert(serial);
            EXPECT_TRUE(custom.count(serial) || std::atoi(serial.substr(serial.find('.') + 1).c_str()) >= 7) << record;
        }
        EXPECT_NE(Full().find("Method: VT_HRESULT Invoke ("), std::string::npos) << "the full trace keeps them";
    }
    for (const auto& [script, hooked] : outputs) EXPECT_EQ(RunUnhooked(ScriptCommand(script)).output, hooked) << script;
}

// The numbering of backups is the unit tests' matter: here each policy is
// applied by a real process's first kernel. Each second run leaks its object:
// the process ends with the component loaded, and its final report, the
// trace's last record but the end, counts the instance never destroyed.
TEST_F(TraceTest, FilePoliciesKeepTheRightBackupsAndALeakedObjectIsCounted) {
    HeldMap map;
    for (int policy : {1, 2, 3}) {
        SCOPED_TRACE(policy);
        vxinstall::ClearTraceFiles(inst.folder);
        inst.advanced.filePolicy = policy;
        Rewrite();
        std::string first;
        for (const char* scenario : {"create", "leak"}) {
            ProcessResult run = RunProgram(ClientCommand(scenario));
            EXPECT_EQ(run.exitCode, 0u) << run.output;
            if (first.empty()) first = Distilled();
            EXPECT_EQ(DllKinds(SplitRecords(Distilled())), "LOAD UNLOAD ") << Distilled();
        }
        EXPECT_EQ(ReadFileText(inst.folder + "TraceDistilled01.txt"), policy == 3 ? "<missing>" : first);
        EXPECT_FALSE(FileExists(inst.folder + "TraceDistilled02.txt"));
        const std::vector<std::string> leaked = SplitRecords(Distilled()), kinds = RecordKinds(leaked);
        EXPECT_EQ(Count(kinds, "DESTROY"), 0);
        ASSERT_EQ(LastKinds(kinds, 3), "UNLOAD REPORT END ");
        const std::string& report = leaked[leaked.size() - 2];
        EXPECT_NE(report.find("Number of created instances: 1\r\nNumber of undestroyed instances:    1\r\n"),
                  std::string::npos) << report;
    }
    // The full trace is never reset by the kernel: both runs are in it.
    std::string full = Full();
    size_t first = full.find("LOAD DLL: VxSample.dll");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(full.find("LOAD DLL: VxSample.dll", first + 1), std::string::npos);
}

// A module list that lost the component's line falls back to the real path
// the hook keeps beside the redirect (the new user's damaged-module-list
// test). Through a stub copy whose name carries no hook number, or without
// that real path either, the creation fails and nothing is written.
TEST_F(TraceTest, WithoutAHookNumberOrARealPathTheCreationFailsWithNothingWritten) {
    HeldMap map;
    inst.main.modules.clear();
    Rewrite();
    const std::string stub = inst.folder + vxinstall::StubCopyName(1), noNumber = inst.folder + "NoNumber.dll";
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(stub);
    ASSERT_TRUE(::CopyFileA((inst.folder + "Vexilo.dll").c_str(), noNumber.c_str(), FALSE));
    for (const auto& [server, realPathKept] : {std::pair{noNumber, true}, std::pair{stub, false}}) {
        SCOPED_TRACE(server);
        for (const std::string& clsid : classes) {
            const std::string key = "CLSID\\" + clsid + "\\InprocServer32";
            ASSERT_EQ(::RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, server.c_str(), 0), ERROR_SUCCESS);
            if (!realPathKept) ::RegDeleteKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), "TypeLib");
        }
        vxinstall::ClearTraceFiles(inst.folder);
        const LONG records = map->recordCounter;
        ProcessResult run = RunProgram(ClientCommand("create"));
        EXPECT_NE(run.output.find("80004005"), std::string::npos) << run.output;
        EXPECT_EQ(map->recordCounter, records);
        EXPECT_FALSE(FileExists(inst.folder + "TraceDistilled.txt")) << "nothing written";
    }
}

// a keeps the component loaded while b runs eight threads through it for
// seconds, each calling its own object in every way.
TEST_F(TraceTest, TwoClientsOneWithEightThreadsForSecondsPairEveryCallAndLoseNoRecord) {
    DistilledOnly();  // the full trace reopens its file per line: too slow for seconds of load
    HeldMap map;
    ChildProcess a, b;
    ASSERT_TRUE(a.Start(ClientCommand("wait")));
    ASSERT_TRUE(a.WaitForOutput("waiting", 60000));
    ASSERT_TRUE(b.Start(ClientCommand("hammer 8")));
    ProcessResult rb = b.Finish();
    EXPECT_EQ(map->liveProcesses, 2u);
    a.Write("go\n");
    ProcessResult ra = a.Finish();
    ASSERT_EQ(ra.exitCode, 0u) << ra.output;
    ASSERT_EQ(rb.exitCode, 0u) << rb.output;
    EXPECT_NE(rb.output.find("hammer: 8 threads, failures=0"), std::string::npos) << rb.output;
    std::string pa = "PID=" + Hex(ra.processId) + "h", pb = "PID=" + Hex(rb.processId) + "h";

    const std::string text = Distilled();
    std::vector<std::string> records = SplitRecords(text);
    ASSERT_GT(records.size(), 500u);
    // a loads once; b at least once, and again each time its threads ran one
    // after another and the last one's apartment freed the component between.
    EXPECT_EQ(DllKinds(records, pa), "LOAD UNLOAD ");
    const std::string loadsOfB = DllKinds(records, pb);
    EXPECT_TRUE(std::regex_match(loadsOfB, std::regex("(LOAD UNLOAD )+"))) << loadsOfB;
    // Every record whole and numbered on from the one before, whichever process wrote it.
    ExpectNumberedOneByOne(records);
    EXPECT_EQ(map->recordCounter, static_cast<int>(records.size()));
    EXPECT_EQ(map->recordsInFile, records.size());
    EXPECT_EQ(CheckCallPairing(records), "");
    int created = 0, destroyed = 0;
    for (const std::string& r : records) {
        EXPECT_NE(RecordKind(r), "?") << r;
        const bool mine = r.find(pb) != std::string::npos;
        EXPECT_TRUE(mine || r.find(pa) != std::string::npos) << r;
        created += mine && RecordKind(r) == "CREATE";
        destroyed += mine && RecordKind(r) == "DESTROY";
    }
    EXPECT_EQ(created, 8) << rb.output;
    EXPECT_EQ(destroyed, 8) << rb.output;
    EXPECT_NE(text.find("Number of created instances: 8\r\nNumber of undestroyed instances:    0\r\n"), std::string::npos);
}

// Threads one after another, each alone in the multithreaded apartment: at
// each one's end COM frees the component, its stub and the kernel, and the
// next thread loads them all again. Each load is traced whole, and each
// unload ends with its final report.
TEST_F(TraceTest, ComponentLoadedAgainAfterCOMFreedItTracesEachLoad) {
    HeldMap map;
    ProcessResult run = RunProgram(ClientCommand("turns 3"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::vector<std::string> records = SplitRecords(Distilled());
    const std::vector<std::string> kinds = RecordKinds(records);
    std::string summary;
    for (const std::string& kind : kinds)
        if (kind.rfind("ENTER", 0) != 0 && kind.rfind("EXIT", 0) != 0) summary += kind + " ";
    const std::string load = "LOAD CREATE DESTROY UNLOAD REPORT END ";
    EXPECT_EQ(summary, load + load + load) << run.output;
    EXPECT_EQ(CheckCallPairing(records), "");
    ExpectNumberedOneByOne(records);
}

// A component method that leaves by an exception its client catches (i686: a
// structured exception caught by a handler on the thread's chain; x86_64: a
// C++ throw caught by try/catch), a thousand times, from up to three nested
// traced calls: the client sees what it sees without the hook, and the calls
// after it are traced and paired as usual.
TEST_F(TraceTest, ExceptionsLeavingTracedCallsReachTheClientAsWithoutTheHook) {
    ProcessResult hooked = RunProgram(ClientCommand("raise 1000"));
    ASSERT_EQ(hooked.exitCode, 0u) << hooked.output;
    EXPECT_NE(hooked.output.find("Calc.Raise calls=1000 caught=1000 wrong=0 chain broken=0"), std::string::npos)
        << hooked.output;
    // Its own vectored handler, which raises and takes back its own exception
    // between the traced calls, sees the same exceptions as without the hook
    // (compared below) and never one of the kernel's.
    EXPECT_NE(hooked.output.find(" 1000 of its own, 0 access violations"), std::string::npos) << hooked.output;

    std::vector<std::string> records = SplitRecords(Distilled());
    std::vector<std::string> kinds = RecordKinds(records);
    // Raise is ICalc's slot 14; the calls the exceptions left never exit.
    // Without their entries, every exit pairs with its own entry: nothing
    // stale is paired with a later call.
    size_t raised = 0, lastRaised = 0;
    std::string raise;
    std::vector<std::string> returned;
    for (size_t i = 0; i < kinds.size(); ++i) {
        const bool raising = kinds[i].rfind("ENTER ", 0) == 0 && kinds[i].substr(kinds[i].find('.')) == ".14" &&
                             (records[i].find("[in]  how=1 (1h)") != std::string::npos ||
                              records[i].find("[in]  how=2 (2h)") != std::string::npos);
        if (!raising) {
            returned.push_back(records[i]);
            continue;
        }
        raise = kinds[i].substr(6);
        ++raised;
        lastRaised = i;
    }
    EXPECT_EQ(raised, 1000u + 333u + 2 * 333u) << "each call of each nesting depth entered once";
    ASSERT_FALSE(raise.empty());
    EXPECT_EQ(CheckCallPairing(returned), "");
    // After the last exception: the loop's last Add, Raise(3,2) throwing and
    // catching inside, three Adds and Recurse(3).
    std::vector<std::string> after(records.begin() + static_cast<ptrdiff_t>(lastRaised) + 1, records.end());
    std::vector<std::string> afterKinds = RecordKinds(after);
    EXPECT_EQ(Count(afterKinds, "ENTER " + raise), 3);
    EXPECT_EQ(Count(afterKinds, "EXIT " + raise), 3);
    std::string adds;
    static const std::regex total("\\[out,retval\\]  total  ptr=[0-9a-f]+h  (\\*ptr=-?[0-9]+) ");
    std::smatch found;
    for (const std::string& r : after)
        if (RecordKind(r).rfind("EXIT ", 0) == 0 && std::regex_search(r, found, total)) adds += found[1].str() + " ";
    EXPECT_EQ(adds, "*ptr=1000 *ptr=10 *ptr=11 *ptr=12 *ptr=0 *ptr=1 *ptr=3 *ptr=6 ") << "Add's and Recurse's results";
    EXPECT_EQ(kinds.back(), "END") << "the process ended with its final report";

    ProcessResult plain = RunUnhooked(ClientCommand("raise 1000"));
    ASSERT_EQ(plain.exitCode, 0u) << plain.output;
    EXPECT_EQ(hooked.output, plain.output);
}
