// Module-list rewriting: hook numbers are positions, freed lines are reused
// unless a live traced process still holds the number.
#include <gtest/gtest.h>
#include <windows.h>

#include "modulelist.h"
#include "settings.h"
#include "settings_template.h"

namespace {

const char kHead[] = "q1\r\nq2\r\nq3\r\n[List of modules with components to investigate]\r\n\r\n";
const char kTail[] = "\r\n[Path to utility DLL]\r\nC:\\i\\Vexilo.dll\r\n";

std::string Settings(const std::string& modules) { return kHead + modules + kTail; }

vx::LiveHookNumbers Live(std::vector<long> numbers) {
    return [numbers] { return numbers; };
}

// The kernel's own reading of its hook's line, "" when it loads nothing.
std::string KernelPath(const std::string& text, long n) {
    char out[MAX_PATH];
    if (n <= 0 || !korbin::FindModuleLine(text, static_cast<unsigned long>(n), out, sizeof out)) return "";
    return out;
}

// The kernel reads its hook's line and the programs that edit the list read
// it too: one table through all the readers, so they cannot drift apart.
TEST(ModuleList, TheKernelAndTheEditorsReadEveryLineAlike) {
    const std::string listed = "C:\\a\\one.dll\r\nC:\\b\\two.dll  ; // comment\r\n//C:\\old.dll\r\n";
    vx::MainSettingsContent content;  // as the setup writes the file
    content.modules = {"C:\\comp\\one.dll", "//C:\\comp\\freed.dll", "C:\\comp\\three.dll"};
    const std::string installed = vx::MainSettingsText(content);
    const struct {
        std::string text;
        long n;
        const char* path;  // the line's path, freed or not; "" past the list
        bool active;
    } kCases[] = {
        {Settings(listed), 1, "C:\\a\\one.dll", true},
        {Settings(listed), 2, "C:\\b\\two.dll", true},
        {Settings(listed), 3, "C:\\old.dll", false},
        {Settings(listed), 4, "", false},  // past the empty line that ends the list
        {Settings(listed), 0, "", false},
        {Settings("C:\\x.dll\t ,;\r\n"), 1, "C:\\x.dll", true},
        {std::string(kHead) + "C:\\x.dll", 1, "C:\\x.dll", true},  // the file ends in the list
        {std::string(kHead) + "C:\\x.dll", 2, "", false},
        {installed, 1, "C:\\comp\\one.dll", true},
        {installed, 2, "C:\\comp\\freed.dll", false},
        {installed, 3, "C:\\comp\\three.dll", true},
        {Settings(""), 1, "", false},
        {"no header here\r\n", 1, "", false},
        {"[List of modules with components to investigate]", 1, "", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text + " #" + std::to_string(c.n));
        EXPECT_EQ(KernelPath(c.text, c.n), c.active ? c.path : "");
        EXPECT_EQ(vx::ModulePathOfHook(c.text, c.n), c.path);
        const std::vector<vx::ModuleLine> lines = vx::ModuleLines(c.text);
        const vx::ModuleLine line = c.n >= 1 && static_cast<size_t>(c.n) <= lines.size() ? lines[c.n - 1] : vx::ModuleLine{};
        EXPECT_EQ(line.path, c.path);
        EXPECT_EQ(line.active, c.active);
        if (*c.path) {
            EXPECT_EQ(line.number, c.n);
            EXPECT_EQ(vx::HookNumberOfModule(c.text, c.path), c.active ? c.n : 0);
        }
    }
    // A line too long for a path is loaded by nobody.
    EXPECT_EQ(KernelPath(Settings("C:\\" + std::string(400, 'a') + ".dll\r\n"), 1), "");
}

// The first number of an empty list is the window's and vxtrace's hook tests';
// a freed number taken again while no process runs, the window's (line 1 again).
TEST(ModuleList, FreeNumberReusesFreedLinesNoLiveProcessHolds) {
    std::string text = Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\n");
    EXPECT_EQ(vx::FindFreeHookNumber(text, Live({1, 2})), 3);
    EXPECT_EQ(vx::FindFreeHookNumber(text, Live({3})), 4) << "a live process still loads number 3";
    int asked = 0;
    const vx::LiveHookNumbers counted = [&] {
        ++asked;
        return std::vector<long>{1, 2, 3};
    };
    EXPECT_EQ(vx::FindFreeHookNumber(Settings("//C:\\a.dll\r\n//C:\\b.dll\r\n//C:\\c.dll\r\n"), counted), 4);
    EXPECT_EQ(asked, 1) << "the live numbers are asked for once, however many lines are freed";
    EXPECT_EQ(vx::FindFreeHookNumber(Settings("C:\\a.dll\r\n"), Live({})), 2);
}

// A freed line replaced in place and the first line of an empty list are the
// window's hook test's (unhooked, hooked again as line 1; hooked into an empty list).
TEST(ModuleList, WriteAppendsPastTheLastLineBeforeTheListEnd) {
    std::string out;
    ASSERT_TRUE(vx::WriteModuleLine(Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\n"), "C:\\new.dll", 4, &out));
    EXPECT_EQ(out, Settings("C:\\a.dll\r\nC:\\b.dll\r\n//C:\\c.dll\r\nC:\\new.dll\r\n"));
}

TEST(ModuleList, CommentOutFreesTheNumberInPlace) {
    std::string out;
    ASSERT_TRUE(vx::CommentOutModuleLine(Settings("C:\\a.dll\r\nC:\\b.dll\r\n"), 2, &out));
    EXPECT_EQ(out, Settings("C:\\a.dll\r\n//C:\\b.dll\r\n"));
    EXPECT_EQ(vx::ReadModuleList(out), std::vector<std::string>{"C:\\a.dll"});
    EXPECT_EQ(vx::HookNumberOfModule(out, "c:\\A.DLL"), 1) << "paths compare without regard to case";
    // A number past the list changes nothing.
    std::string same;
    ASSERT_TRUE(vx::CommentOutModuleLine(out, 7, &same));
    EXPECT_EQ(same, out);
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
