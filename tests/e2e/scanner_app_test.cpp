// The scanner program under Wine: its window's stage pictures and progress
// bar through the three stages, the installation it completes from its
// command line, and the event it signals; without a command line it touches
// nothing but the engine's lists.

#include <filesystem>
#include <set>
#include <windows.h>

#include "scannerexit.h"
#include "scansink.h"
#include "settings_template.h"

namespace e2e {
namespace {

// The window's control ids.
constexpr int kPicTLibs = 101, kPicInterf = 102, kPicClasses = 103, kProgressBar1 = 104;

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code none;
    for (const auto& entry : std::filesystem::directory_iterator(folder, none)) names.insert(entry.path().filename().string());
    return names;
}

void EmptyFolder(const std::string& folder) {
    std::error_code none;
    std::filesystem::remove_all(folder, none);
    std::filesystem::create_directory(folder, none);
}

// A stage picture's rank (0 not yet, 1 in progress, 2 done, -1 unknown) from
// its text as the system keeps it: read without a message, so even while the
// program's thread is busy scanning.
int Stage(HWND window, int id) {
    char text[64] = "";
    ::GetWindowTextA(::GetDlgItem(window, id), text, sizeof text);
    const std::string image = text;
    return image == "NotYet" ? 0 : image == "InProgress" ? 1 : image == "Done" ? 2 : -1;
}

// The bar answers between the scan's events only; -1 when it did not.
long BarMessage(HWND window, UINT message, WPARAM wParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(::GetDlgItem(window, kProgressBar1), message, wParam, 0, SMTO_ABORTIFHUNG, 50, &result))
        return -1;
    return static_cast<long>(result);
}

struct Snapshot {
    int tLibs, interf, classes;
    long value, maximum;
    std::string Text() const {
        return std::to_string(tLibs) + std::to_string(interf) + std::to_string(classes) + " " + std::to_string(value) +
               "/" + std::to_string(maximum);
    }
};

class ScannerAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ProcessResult r = Regsvr32("/s", PolluxPath());
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        registered = r.exitCode == 0;
    }
    void SetUp() override {
        ASSERT_TRUE(registered);
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
        folder = "C:\\vxscanapp-" + ArchName() + "\\";
        EmptyFolder(folder);
        program = folder + "PolluxTest.exe";
        ASSERT_TRUE(::CopyFileA((vxinstall::WinePath(VX_STAGE_DIR) + "\\PolluxTest.exe").c_str(), program.c_str(), FALSE));
        settings = vx::MainSettingsText({});
        WriteFileText(folder + "Vexilo.txt", settings);
        done.reset(::CreateEventA(nullptr, TRUE, FALSE, "ScanningSucceeded"));
        ASSERT_TRUE(done);
    }
    // Runs the program, reading its window every 50 ms until it ends: closer
    // looks would take the wineserver from the scan they watch.
    std::vector<Snapshot> Run(const std::string& arguments, DWORD* exitCode, const std::string& screenshot = {}) {
        std::vector<Snapshot> seen;
        ChildProcess child;
        if (!child.Start(Quoted(program) + arguments, folder)) return seen;
        vx::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, child.processId()));
        bool shot = screenshot.empty();
        for (DWORD start = ::GetTickCount(); process && ::GetTickCount() - start < 120000;) {
            if (HWND window = ::FindWindowA("frmScan", "Collecting Component Information")) {
                // The bar first: its answers wait for the scan's next event,
                // and the pictures read after them are at least as new.
                const long value = BarMessage(window, PBM_GETPOS, 0), maximum = BarMessage(window, PBM_GETRANGE, FALSE);
                Snapshot s{Stage(window, kPicTLibs), Stage(window, kPicInterf), Stage(window, kPicClasses), value, maximum};
                const bool whole = s.tLibs >= 0 && s.interf >= 0 && s.classes >= 0 && s.value >= 0 && s.maximum >= 0;
                if (whole && (seen.empty() || seen.back().Text() != s.Text())) seen.push_back(s);
                if (!shot && s.classes == 1) {
                    Screenshot(window, screenshot);
                    shot = true;
                }
            }
            if (::WaitForSingleObject(process.get(), 50) != WAIT_TIMEOUT) break;
        }
        ProcessResult r = child.Finish(30000);
        *exitCode = r.exitCode;
        return seen;
    }

    static inline bool registered = false;
    std::string folder, program, settings;
    vx::unique_handle done;
};

}  // namespace

// Without a command line the program writes the engine's lists only; a
// settings file without its headers stops it before the scan; with the
// sources' folder it completes the installation, its window moving through
// the three stages.
TEST_F(ScannerAppTest, ListsOnlyThenUnfitSettingsThenTheInstallationCompletedThroughTheThreeStages) {
    const std::set<std::string> before = FilesIn(folder);
    DWORD exitCode = 0;
    Run("", &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_NE(::WaitForSingleObject(done.get(), 0), WAIT_OBJECT_0) << "no event without a command line";
    std::set<std::string> expected = before;
    const char* const lists[] = {"CompList.txt", "CompListInd.txt", "TLBlist.txt", "TLBlistInd.txt"};
    expected.insert(std::begin(lists), std::end(lists));
    EXPECT_EQ(FilesIn(folder), expected);
    EXPECT_EQ(ReadFileText(folder + "Vexilo.txt"), settings);

    for (const char* name : lists) ::DeleteFileA((folder + name).c_str());
    WriteFileText(folder + "Vexilo.txt", "no headers here\r\n");
    const std::string sources = "C:\\vxscansrc-" + ArchName() + "\\";
    EmptyFolder(sources);
    Run(" " + sources, &exitCode);
    EXPECT_EQ(exitCode, static_cast<DWORD>(vx::kScannerSettingsUnfit)) << "the exit code says what stopped it";
    EXPECT_NE(::WaitForSingleObject(done.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(ReadFileText(folder + "Vexilo.txt"), "no headers here\r\n");
    EXPECT_FALSE(FileExists(folder + "Vexilo1.txt"));
    EXPECT_FALSE(FileExists(folder + "CompList.txt")) << "no scan after a failed preparation";

    WriteFileText(folder + "Vexilo.txt", settings);
    WriteFileText(sources + "Uninstall.exe", "the uninstaller");
    std::vector<Snapshot> seen = Run(" " + sources, &exitCode, "scanner-window.png");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(::WaitForSingleObject(done.get(), 0), WAIT_OBJECT_0) << "ScanningSucceeded signalled";

    // The pictures only move forward, stage after stage, and the bar moves.
    std::string trail;
    for (const Snapshot& s : seen) trail += s.Text() + "  ";
    ASSERT_FALSE(seen.empty());
    // The class stage can pass between two looks at the window; the lists
    // checked below show it ran.
    bool moved = false;
    for (size_t i = 0; i < seen.size(); ++i) {
        const Snapshot& s = seen[i];
        moved = moved || s.value > 0;
        EXPECT_TRUE((s.interf == 0 || s.tLibs == 2) && (s.classes == 0 || s.interf == 2)) << "a stage too early: " << trail;
        const Snapshot& before = seen[i > 0 ? i - 1 : 0];
        EXPECT_TRUE(s.tLibs >= before.tLibs && s.interf >= before.interf && s.classes >= before.classes) << trail;
    }
    EXPECT_TRUE(moved) << trail;

    // The installation completed: settings paths, uninstaller, trace storage.
    vx::MainSettingsContent filled;
    const std::string bare = folder.substr(0, folder.size() - 1);
    filled.utilityPath = bare + "\\Vexilo.dll";
    filled.importedTypeLibFolder = bare + "\\TLBdistilled";
    filled.structureFilePath = bare + "\\TLBlist.txt";
    EXPECT_EQ(ReadFileText(folder + "Vexilo.txt"), vx::MainSettingsText(filled));
    EXPECT_FALSE(FileExists(folder + "Vexilo1.txt"));
    EXPECT_EQ(ReadFileText(folder + "Uninstall.exe"), "the uninstaller");
    EXPECT_TRUE(::GetFileAttributesA((folder + "TraceStorage").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(ReadFileText(folder + "CompList.txt").find("\r\n" + std::string(80, '+') + "\r\n" + SamplePath() + "\r\n"),
              std::string::npos);
    EXPECT_NE(ReadFileText(folder + "TLBlist.txt").find("[Interfaces from Registry without TypeLibs]"), std::string::npos);
}

}  // namespace e2e
