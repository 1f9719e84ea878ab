// Several processes and threads writing records through the trace store at once.
#include <cstring>
#include <map>
#include <set>

#include "e2e.h"

using namespace e2e;

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char base[MAX_PATH];
        ::GetTempPathA(sizeof base, base);
        path = std::string(base) + "vxstore-e2e-" + std::to_string(::GetCurrentProcessId()) + "\\";
        ::CreateDirectoryA(path.c_str(), nullptr);
        ::DeleteFileA((path + "ExtraFile.txt").c_str());
        WriteFileText(path + "TraceDistilled.txt", "");
    }
    ~TempFolder() {
        for (const char* name : {"TraceDistilled.txt", "ExtraFile.txt"}) ::DeleteFileA((path + name).c_str());
        ::RemoveDirectoryA(path.c_str());
    }
};

std::string WithoutFinalBackslash(const std::string& path) { return path.substr(0, path.size() - 1); }

// Every record whole, once, with lines that belong together, and numbers 1..n once each.
void CheckStressRecords(const std::string& text, const std::vector<DWORD>& pids, int threads, int records) {
    std::vector<std::string> parts = SplitRecords(text);
    ASSERT_EQ(parts.size(), pids.size() * threads * records) << text.substr(0, 2000);
    std::set<std::string> keys;
    std::set<int> numbers;
    for (const std::string& r : parts) {
        unsigned long pid = 0;
        int t = -1, n = -1, number = -1;
        ASSERT_EQ(std::sscanf(r.c_str(), "\r\n========= STRESS p%lx t%d r%d =========", &pid, &t, &n), 3) << r;
        size_t at = r.find(" [");
        ASSERT_NE(at, std::string::npos) << r;
        number = std::atoi(r.c_str() + at + 2);
        char tail[160];
        std::snprintf(tail, sizeof tail, "\r\nfirst line of p%lx t%d r%d\r\nsecond line of p%lx t%d r%d\r\n", pid, t,
                      n, pid, t, n);
        ASSERT_EQ(r.substr(r.size() - std::strlen(tail)), tail) << r;
        EXPECT_EQ(r.find("PID=" + Hex(pid) + "h"), r.find(" PID=") + 1) << r;
        keys.insert(Hex(pid) + "/" + std::to_string(t) + "/" + std::to_string(n));
        numbers.insert(number);
    }
    EXPECT_EQ(keys.size(), parts.size());
    EXPECT_EQ(numbers.size(), parts.size());
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), static_cast<int>(parts.size()));
}

}  // namespace

TEST(TraceStoreProcesses, TwoProcessesWithThreadsKeepEveryRecordWhole) {
    TempFolder folder;
    std::string mapName = "VxStressMap-" + std::to_string(::GetCurrentProcessId());
    HeldMap map(mapName.c_str());
    ChildProcess a, b;
    std::string command = Quoted(StressPath()) + " write " + mapName + " " + Quoted(WithoutFinalBackslash(folder.path)) + " 4 150";
    // Both registered before either writes, so that their records interleave.
    ASSERT_TRUE(a.Start(command + " wait"));
    ASSERT_TRUE(b.Start(command + " wait"));
    ASSERT_TRUE(a.WaitForOutput("registered", 30000));
    ASSERT_TRUE(b.WaitForOutput("registered", 30000));
    a.Write("go\n");
    b.Write("go\n");
    ProcessResult ra = a.Finish(), rb = b.Finish();
    ASSERT_EQ(ra.exitCode, 0u) << ra.output;
    ASSERT_EQ(rb.exitCode, 0u) << rb.output;
    std::string text = ReadFileText(folder.path + "TraceDistilled.txt");
    // Records still diverted when the last writer ended wait in the extra file
    // for the next record; here that is the end of the run, so merge by hand.
    std::string extra = ReadFileText(folder.path + "ExtraFile.txt");
    if (extra != "<missing>") text = text.substr(0, text.size() - 1) + extra;
    CheckStressRecords(text, {ra.processId, rb.processId}, 4, 150);
    EXPECT_EQ(map->liveProcesses, 2u);
}
