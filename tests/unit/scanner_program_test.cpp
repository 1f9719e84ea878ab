// The scanner program's pure parts: the settings file completed at
// installation, and the stage pictures and bar moved by progress events.
#include <gtest/gtest.h>

#include "installsettings.h"
#include "progress.h"

using polluxtest::StageImage;

// The completed file, each path after its header and the rest kept, is
// compared whole by the scanner program's end-to-end test, and a file without
// the headers is refused there: here the headers met out of order.
TEST(InstallSettingsTest, AMisplacedHeaderIsRefused) {
    std::string out;
    EXPECT_FALSE(polluxtest::InsertInstallPaths("[Path to Vexilo utility]\r\n[Path to file with TypeLibs structure]\r\n",
                                                "D:\\v", &out));
    // The structure file's header before the catalog's: the catalog's is missing.
    EXPECT_FALSE(polluxtest::InsertInstallPaths(
        "[Path to Vexilo utility]\r\n[Path to file with TypeLibs structure]\r\n"
        "[Path to catalog with imported type libraries]\r\n",
        "D:\\v", &out));
}

TEST(ScanProgressTest, StagesMoveInOrderAndTheBarStopsAtItsMaximum) {
    polluxtest::ScanProgress p({/*compClasses*/ 300, /*tLibs*/ 40, /*importedTLibs*/ 2, /*interfaces*/ 120});
    EXPECT_EQ(p.display().tLibs, StageImage::NotYet);
    p.BeginTypeLibraries();
    EXPECT_EQ(p.display().tLibs, StageImage::InProgress);
    EXPECT_EQ(p.display().maximum, 42);
    p.ProcessedTLibs(35);
    EXPECT_EQ(p.display().value, 35);
    p.ProcessedTLibs(99);
    EXPECT_EQ(p.display().value, 42) << "an amount above the maximum sets the maximum";
    p.ProcessedTLibs(40);
    p.ProcessedImportedTLibs(1);
    EXPECT_EQ(p.display().value, 41) << "imported counts add to the bar";
    p.ProcessedImportedTLibs(2);  // the total: the interface stage begins
    EXPECT_EQ(p.display().tLibs, StageImage::Done);
    EXPECT_EQ(p.display().interfaces, StageImage::InProgress);
    EXPECT_EQ(p.display().value, 0);
    EXPECT_EQ(p.display().maximum, 120);
    p.ProcessedImportedTLibs(2);
    EXPECT_EQ(p.display().value, 0) << "ignored once the stage is done";
    p.ProcessedInterfaces(50);
    EXPECT_EQ(p.display().value, 50);
    p.EndTypeLibraries();
    EXPECT_EQ(p.display().interfaces, StageImage::Done);
    p.BeginClasses();
    EXPECT_EQ(p.display().classes, StageImage::InProgress);
    EXPECT_EQ(p.display().maximum, 300);
    p.ProcessedClasses(301);
    EXPECT_EQ(p.display().value, 300);
    p.EndClasses();
    EXPECT_EQ(p.display().classes, StageImage::Done);
}

TEST(ScanProgressTest, WithoutImportedLibrariesTheFirstInterfaceEventSwitchesStages) {
    polluxtest::ScanProgress p({10, 5, 0, 80});
    p.BeginTypeLibraries();
    p.ProcessedTLibs(5);
    p.ProcessedInterfaces(50);
    EXPECT_EQ(p.display().tLibs, StageImage::Done);
    EXPECT_EQ(p.display().interfaces, StageImage::InProgress);
    EXPECT_EQ(p.display().maximum, 80);
    EXPECT_EQ(p.display().value, 50);
}
