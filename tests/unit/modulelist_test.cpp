// Module-list rewriting: hook numbers are positions, freed lines are reused
// unless a live traced process still holds the number.
#include <gtest/gtest.h>

#include "modulelist.h"

namespace {

const char kHead[] = "q1\r\nq2\r\nq3\r\n[List of modules with components to investigate]\r\n\r\n";
const char kTail[] = "\r\n[Path to utility DLL]\r\nC:\\i\\Vexilo.dll\r\n";

std::string Settings(const std::string& modules) { return kHead + modules + kTail; }

vx::LiveHookNumbers Live(std::vector<long> numbers) {
    return [numbers] { return numbers; };
}

TEST(ModuleList, FreeNumberReusesFreedLinesNoLiveProcessHolds) {
    std::string text = Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\n");
    EXPECT_EQ(vx::FindFreeHookNumber(text, Live({})), 3);
    EXPECT_EQ(vx::FindFreeHookNumber(text, Live({1, 2})), 3);
    EXPECT_EQ(vx::FindFreeHookNumber(text, Live({3})), 4) << "a live process still loads number 3";
    EXPECT_EQ(vx::FindFreeHookNumber(Settings(""), Live({})), 1);
    EXPECT_EQ(vx::FindFreeHookNumber(Settings("C:\\a.dll\r\n"), Live({})), 2);
}

TEST(ModuleList, WriteReplacesAFreedLineOrAppendsBeforeTheListEnd) {
    std::string text = Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\n");
    std::string out;
    ASSERT_TRUE(vx::WriteModuleLine(text, "C:\\new.dll", 3, &out));
    EXPECT_EQ(out, Settings("C:\\a.dll\r\nC:\\b.dll\r\nC:\\new.dll\r\n"));
    ASSERT_TRUE(vx::WriteModuleLine(text, "C:\\new.dll", 4, &out));
    EXPECT_EQ(out, Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\nC:\\new.dll\r\n"));
    // An empty list: the path goes between the two empty lines.
    ASSERT_TRUE(vx::WriteModuleLine(Settings(""), "C:\\first.dll", 1, &out));
    EXPECT_EQ(out, Settings("C:\\first.dll\r\n"));
}

TEST(ModuleList, CommentOutFreesTheNumberInPlace) {
    std::string out;
    ASSERT_TRUE(vx::CommentOutModuleLine(Settings("C:\\a.dll\r\nC:\\b.dll\r\n"), 2, &out));
    EXPECT_EQ(out, Settings("C:\\a.dll\r\n//C:\\b.dll\r\n"));
    EXPECT_EQ(vx::ReadModuleList(out), std::vector<std::string>{"C:\\a.dll"});
    EXPECT_EQ(vx::ModulePathOfHook(out, 2), "C:\\b.dll");
    EXPECT_EQ(vx::ModulePathOfHook(out, 1), "C:\\a.dll");
    EXPECT_EQ(vx::ModulePathOfHook(out, 3), "") << "the empty line ends the list";
    EXPECT_EQ(vx::ModulePathOfHook(out, 0), "");
    EXPECT_EQ(vx::HookNumberOfModule(out, "c:\\A.DLL"), 1);
    EXPECT_EQ(vx::HookNumberOfModule(out, "C:\\b.dll"), 0) << "a freed line is no hook";
    // A number past the list changes nothing.
    std::string same;
    ASSERT_TRUE(vx::CommentOutModuleLine(out, 7, &same));
    EXPECT_EQ(same, out);
}

TEST(ModuleList, LinesByPositionWithTheirState) {
    std::vector<vx::ModuleLine> lines = vx::ModuleLines(Settings("C:\\a.dll\r\n//C:\\b.dll\r\nC:\\c.dll\r\n"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].number, 2);
    EXPECT_EQ(lines[1].path, "C:\\b.dll");
    EXPECT_FALSE(lines[1].active);
    EXPECT_EQ(lines[2].number, 3);
    EXPECT_TRUE(lines[2].active);
    EXPECT_TRUE(vx::ModuleLines(Settings("")).empty());
}

TEST(ModuleList, ListRunningToTheEndOfTheFileGetsItsClosingLine) {
    std::string text = std::string(kHead) + "C:\\a.dll\r\n";
    std::string out;
    ASSERT_TRUE(vx::WriteModuleLine(text, "C:\\b.dll", 2, &out));
    EXPECT_EQ(out, std::string(kHead) + "C:\\a.dll\r\nC:\\b.dll\r\n\r\n");
    EXPECT_FALSE(vx::WriteModuleLine("no header\r\n", "C:\\b.dll", 1, &out));
    EXPECT_FALSE(vx::CommentOutModuleLine("no header\r\n", 1, &out));
}

}  // namespace
