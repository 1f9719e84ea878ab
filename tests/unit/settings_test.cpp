#include <gtest/gtest.h>

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

const char kPolicyQ[] = "FilePolicy ? [FILE_BACKUPlast(1) / FILE_BACKUPall(2) / FILE_OVERRIDE(3)]:";

}  // namespace

TEST(AdvancedSettings, UnreadableFileGivesItsOwnDefaults) {
    Switches s;
    s.fullTrace = true;
    ApplyAdvancedSettings(nullptr, s);
    EXPECT_FALSE(s.fullTrace);
    EXPECT_TRUE(s.distilledTrace);
    EXPECT_TRUE(s.hideBeyondVtbl);
    EXPECT_FALSE(s.specificInfo);
    EXPECT_EQ(s.filePolicy, FilePolicy::BackupLast);
}

TEST(AdvancedSettings, MissingOrUnreadableAnswersTakeTheUnreadableFileDefaults) {
    // An empty or damaged file must not switch tracing off.
    for (const char* text : {"", "\x01\xff garbage\r\n", "Print full diagnostic ? [Y/N]: Y\r\n",
                             "Print distilled diagnostic ? [Y/N]: ?\r\n"}) {
        Switches s;
        std::string_view view(text);
        EXPECT_EQ(ApplyAdvancedSettings(&view, s), SettingsRead::AnswersUnreadable) << text;
        EXPECT_TRUE(s.distilledTrace) << text;
        EXPECT_TRUE(s.hideBeyondVtbl) << text;
        EXPECT_FALSE(s.findAllInterfaces) << text;
        EXPECT_EQ(s.filePolicy, FilePolicy::BackupLast) << text;
    }
    EXPECT_TRUE(Advanced("Print full diagnostic ? [Y/N]: Y\r\n").fullTrace);
    // Readable answers of the other letter still switch off.
    Switches s = Advanced("Print distilled diagnostic ? [Y/N]: N\r\nPrint BeyondVtbl methods ? [Y/N]: Y\r\n");
    EXPECT_FALSE(s.distilledTrace);
    EXPECT_FALSE(s.hideBeyondVtbl);
    std::string whole = vx::AdvancedSettingsText(vx::AdvancedSettingsContent{});
    std::string_view view(whole);
    EXPECT_EQ(ApplyAdvancedSettings(&view, s), SettingsRead::Read);
}

TEST(AdvancedSettings, OnlyTheTwoCharactersAfterTheColonCount) {
    EXPECT_TRUE(Advanced("Print distilled diagnostic ? [Y/N]:y").distilledTrace);
    EXPECT_TRUE(Advanced("Print distilled diagnostic ? [Y/N]: Y").distilledTrace);
    EXPECT_FALSE(Advanced("Print distilled diagnostic ? [Y/N]:n").distilledTrace);
    EXPECT_FALSE(Advanced("Print full diagnostic ? [Y/N]:  Y").fullTrace);
    EXPECT_TRUE(Advanced("Print BeyondVtbl methods ? [Y/N]: n").hideBeyondVtbl);
    EXPECT_FALSE(Advanced("Print BeyondVtbl methods ? [Y/N]: Y").hideBeyondVtbl);
    // The question at the very end of the text: nothing after it to read.
    EXPECT_FALSE(Advanced("Print SpecificInfo ? [Y/N]:").specificInfo);
}

TEST(AdvancedSettings, FilePolicyOneWinsOverTheOthers) {
    EXPECT_EQ(Advanced(std::string(kPolicyQ) + " 2 1").filePolicy, FilePolicy::BackupAll);
    EXPECT_EQ(Advanced(std::string(kPolicyQ) + "31").filePolicy, FilePolicy::BackupLast);
    EXPECT_EQ(Advanced(std::string(kPolicyQ) + " 3").filePolicy, FilePolicy::Override);
    EXPECT_EQ(Advanced(std::string(kPolicyQ) + " x").filePolicy, FilePolicy::BackupLast);
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

// The installed files must read back through the kernel's own parsers.
TEST(SettingsTemplate, InstalledFilesReadBackAsWritten) {
    vx::MainSettingsContent main;
    main.collectIUnknown = false;
    main.structureFilePath = "C:\\Vexilo\\TLBlist.txt";
    std::string text = vx::MainSettingsText(main);
    EXPECT_EQ(Structure(text), "C:\\Vexilo\\TLBlist.txt");
    Switches s;
    std::string_view view(text);
    EXPECT_EQ(ApplyMainSettings(&view, s), SettingsRead::Read);
    EXPECT_TRUE(s.hideIUnknown);
    EXPECT_FALSE(s.hideIDispatch);

    // The header is the first line beginning with "[" and stands on the fourth line.
    size_t lineStart = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(text[lineStart], '[');
        lineStart = text.find("\r\n", lineStart) + 2;
    }
    EXPECT_EQ(text.compare(lineStart, 49, "[List of modules with components to investigate]\r"), 0);
    EXPECT_NE(text.find("[Path to Vexilo utility]\r\n[Path to catalog with imported type libraries]"),
              std::string::npos);

    vx::AdvancedSettingsContent adv;
    adv.fullTrace = true;
    adv.distilledTrace = false;
    adv.beyondVtblMethods = false;
    adv.filePolicy = 2;
    Switches a = Advanced(vx::AdvancedSettingsText(adv));
    EXPECT_TRUE(a.fullTrace);
    EXPECT_FALSE(a.distilledTrace);
    EXPECT_TRUE(a.hideBeyondVtbl);
    EXPECT_EQ(a.filePolicy, FilePolicy::BackupAll);
}
