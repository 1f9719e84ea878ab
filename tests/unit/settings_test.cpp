#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "settings.h"
#include "settings_template.h"

using namespace korbin;

namespace {

Switches Advanced(const std::string& text) {
    Switches s;
    std::string_view view(text);
    ApplyAdvancedSettings(&view, s);
    return s;
}

std::string Structure(const std::string& text) {
    char out[MAX_PATH];
    if (!FindStructurePath(text, out, sizeof out)) return "<fail>";
    return out;
}

const std::string kPolicyQ = "FilePolicy ? [FILE_BACKUPlast(1) / FILE_BACKUPall(2) / FILE_OVERRIDE(3)]:";

// What a file, or an answer, that cannot be read gives: tracing stays on.
void ExpectUnreadableDefaults(const Switches& s, const std::string& what) {
    EXPECT_TRUE(s.distilledTrace) << what;
    EXPECT_TRUE(s.hideBeyondVtbl) << what;
    EXPECT_FALSE(s.specificInfo) << what;
    EXPECT_FALSE(s.findAllInterfaces) << what;
    EXPECT_EQ(s.filePolicy, FilePolicy::BackupLast) << what;
}

}  // namespace

TEST(AdvancedSettings, UnreadableFileOrAnswersGiveTheUnreadableFileDefaults) {
    Switches s;
    s.fullTrace = true;
    ApplyAdvancedSettings(nullptr, s);
    EXPECT_FALSE(s.fullTrace);
    ExpectUnreadableDefaults(s, "no file");
    // An empty or damaged file must not switch tracing off.
    for (const char* text : {"", "\x01\xff garbage\r\n", "Print full diagnostic ? [Y/N]: Y\r\n",
                             "Print distilled diagnostic ? [Y/N]: ?\r\n"}) {
        Switches damaged;
        std::string_view view(text);
        EXPECT_EQ(ApplyAdvancedSettings(&view, damaged), SettingsRead::AnswersUnreadable) << text;
        ExpectUnreadableDefaults(damaged, text);
    }
    std::string whole = vx::AdvancedSettingsText(vx::AdvancedSettingsContent{});
    std::string_view view(whole);
    EXPECT_EQ(ApplyAdvancedSettings(&view, s), SettingsRead::Read);
}

TEST(AdvancedSettings, OnlyTheTwoCharactersAfterTheColonCount) {
    const struct {
        const char* text;
        bool Switches::*answer;
        bool on;
    } cases[] = {
        {"Print full diagnostic ? [Y/N]: Y\r\n", &Switches::fullTrace, true},
        {"Print full diagnostic ? [Y/N]:  Y", &Switches::fullTrace, false},
        {"Print distilled diagnostic ? [Y/N]:y", &Switches::distilledTrace, true},
        {"Print distilled diagnostic ? [Y/N]: Y", &Switches::distilledTrace, true},
        {"Print distilled diagnostic ? [Y/N]:n", &Switches::distilledTrace, false},  // a readable N still switches off
        {"Print BeyondVtbl methods ? [Y/N]: n", &Switches::hideBeyondVtbl, true},
        {"Print BeyondVtbl methods ? [Y/N]: Y\r\n", &Switches::hideBeyondVtbl, false},
        {"Print SpecificInfo ? [Y/N]:", &Switches::specificInfo, false},  // nothing after it to read
    };
    for (const auto& c : cases) EXPECT_EQ(Advanced(c.text).*c.answer, c.on) << c.text;
    // A 1 wins over the other policies.
    const std::pair<const char*, FilePolicy> policies[] = {
        {" 2 1", FilePolicy::BackupAll}, {"31", FilePolicy::BackupLast}, {" 3", FilePolicy::Override}, {" x", FilePolicy::BackupLast}};
    for (const auto& [answer, policy] : policies)
        EXPECT_EQ(Advanced(kPolicyQ + answer).filePolicy, policy) << answer;
}

TEST(MainSettings, HidingNeedsAnNInTheTwoPlaces) {
    Switches s;
    std::string text = "Print IUnknown methods ? [Y/N]:N\r\nPrint IDispatch methods ? [Y/N]: y\r\n";
    std::string_view view(text);
    ApplyMainSettings(&view, s);
    EXPECT_TRUE(s.hideIUnknown);
    EXPECT_FALSE(s.hideIDispatch);
    ApplyMainSettings(nullptr, s);
    EXPECT_FALSE(s.hideIUnknown);
}

TEST(StructurePath, CommentLinesAreSkipped) {
    std::string text = "[Path to file with TypeLibs structure]\r\n// old one\r\n  C:\\v\\TLBlist.txt  // now\r\n";
    EXPECT_EQ(Structure(text), "C:\\v\\TLBlist.txt");
    EXPECT_EQ(Structure("[Path to file with TypeLibs structure]\r\n_x\r\n"), "_x");
    EXPECT_EQ(Structure("[Path to file with TypeLibs structure]\r\n"), "<fail>");
    EXPECT_EQ(Structure("nothing"), "<fail>");
}

TEST(InstallFolder, CutAfterTheLastSeparatorKeepingIt) {
    char out[MAX_PATH];
    ASSERT_TRUE(InstallFolderFromValue("\"C:\\Program Files\\Vexilo\\Vexilo.exe\"", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Program Files\\Vexilo\\");
    ASSERT_TRUE(InstallFolderFromValue("C:/tools/Vexilo.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:/tools/");
    EXPECT_FALSE(InstallFolderFromValue("Vexilo.exe", out, sizeof out));
    EXPECT_STREQ(out, "");
    std::string longValue = "C:\\" + std::string(300, 'd') + "\\Vexilo.exe";
    EXPECT_FALSE(InstallFolderFromValue(longValue, out, sizeof out));
}

TEST(JoinPathTest, RefusesWhatDoesNotFit) {
    char out[16];
    EXPECT_TRUE(JoinPath(out, sizeof out, "C:\\ab\\", "c.txt"));
    EXPECT_STREQ(out, "C:\\ab\\c.txt");
    EXPECT_FALSE(JoinPath(out, sizeof out, "C:\\abcdef\\", "ghijk.txt"));
    EXPECT_STREQ(out, "");
}

// The installed files must read back through the kernel's own parsers: the
// end-to-end tests run on them (hidden IUnknown calls, the structure file's
// path, the full trace, the file policies); here what those leave out.
TEST(SettingsTemplate, InstalledFilesReadBackAsWritten) {
    const std::string text = vx::MainSettingsText(vx::MainSettingsContent{});
    // The header stands on the fourth line.
    const size_t header = text.find("\r\n[List of modules with components to investigate]\r\n");
    EXPECT_EQ(std::count(text.begin(), text.begin() + std::min(header, text.size()), '\n'), 2) << text;
    EXPECT_NE(text.find("[Path to Vexilo utility]\r\n[Path to catalog with imported type libraries]"),
              std::string::npos);

    vx::AdvancedSettingsContent adv;
    adv.distilledTrace = false;
    adv.beyondVtblMethods = false;
    Switches a = Advanced(vx::AdvancedSettingsText(adv));
    EXPECT_FALSE(a.distilledTrace);
    EXPECT_TRUE(a.hideBeyondVtbl);
}
