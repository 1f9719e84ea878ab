// A 32-bit and a 64-bit client traced at once: both kernels find one
// installation through the shared App Paths key and write into one map and
// one distilled trace. Runs in the i686 tests, with the x86_64 build beside.
#include "e2e.h"

using namespace e2e;

#ifndef _WIN64

namespace {

std::string OtherBuild(const char* relative) { return vxinstall::WinePath(std::string(VX_OTHER_BUILD) + "/" + relative); }

bool OtherBuildPresent() { return FileExists(OtherBuild("tools/vxinstall.exe")); }

// Runs the x86_64 installer, so that its registry writes land in the 64-bit view.
ProcessResult Install64(const std::string& arguments) {
    return RunProgram(Quoted(OtherBuild("tools/vxinstall.exe")) + " " + arguments);
}

}  // namespace

TEST_F(TraceTest, ThirtyTwoAndSixtyFourBitClientsShareOneTrace) {
    if (!OtherBuildPresent()) GTEST_FAIL() << "the x86_64 build is missing at " << VX_OTHER_BUILD;
    const std::string sample64 = OtherBuild("samples/bin/VxSample.dll");
    const std::string folder64 = "C:\\vxe2e-mixed64\\";
    // Module 1 is the 32-bit component, module 2 the 64-bit one; the 64-bit
    // stub copy carries number 2 and imports the 64-bit kernel of its folder.
    ProcessResult step = Install64("install " + Quoted(OtherBuild("stage")) + " " + Quoted(folder64.substr(0, folder64.size() - 1)));
    ASSERT_EQ(step.exitCode, 0u) << step.output;
    step = Install64("hook " + Quoted(folder64.substr(0, folder64.size() - 1)) + " 2 " + Quoted(sample64));
    ASSERT_EQ(step.exitCode, 0u) << step.output;
    inst.main.modules = {sample, sample64};
    Rewrite();
    std::string error;
    ASSERT_TRUE(vxinstall::WriteAppPath(inst.folder, &error)) << error;

    HeldMap map;
    ChildProcess a;
    ASSERT_TRUE(a.Start(ClientCommand("wait")));
    ASSERT_TRUE(a.WaitForOutput("waiting", 60000));
    std::string command64 = Quoted(OtherBuild("samples/bin/vxclient.exe")) + " create";
    ProcessResult b = RunProgram(command64);
    a.Write("go\n");
    ProcessResult ra = a.Finish();
    step = Install64("register " + Quoted(sample64));
    EXPECT_EQ(step.exitCode, 0u) << step.output;
    ASSERT_EQ(ra.exitCode, 0u) << ra.output;
    ASSERT_EQ(b.exitCode, 0u) << b.output;

    std::string distilled = Distilled();
    std::vector<std::string> all = SplitRecords(distilled);
    std::vector<std::string> records = DllRecords(all);
    ASSERT_EQ(records.size(), 4u) << distilled;
    std::string commandA = ClientCommand("wait");
    // a: LOAD, CREATE, Add in and out [1-4]; b: its whole run [5-14]; a: Add and Release in and out,
    // DESTROY [15-19], UNLOAD [20], report [21-22].
    EXPECT_EQ(WithoutTime(records[0]), DllRecord("LOAD", sample, ra.threadId, ra.processId, 1, commandA));
    EXPECT_EQ(WithoutTime(records[1]), DllRecord("LOAD", sample64, b.threadId, b.processId, 5, command64));
    EXPECT_EQ(WithoutTime(records[2]), DllRecord("UNLOAD", sample64, b.threadId, b.processId, 12, command64,
                                                 "All interface pointers were released"));
    EXPECT_EQ(WithoutTime(records[3]), DllRecord("UNLOAD", sample, ra.threadId, ra.processId, 20, commandA,
                                                 "All interface pointers were released"));
    EXPECT_EQ(CheckCallPairing(all), "");
    EXPECT_EQ(map.Ring(), distilled.substr(0, distilled.size() - 1));
    EXPECT_EQ(map->recordCounter, 22);
    EXPECT_EQ(static_cast<int>(all.size()), 22);
    EXPECT_EQ(map->liveProcesses, 2u);
    EXPECT_EQ(map->processes[0], ra.processId);
    EXPECT_EQ(map->processes[1], b.processId);
}

#endif
